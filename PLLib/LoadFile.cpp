#include "PLLib/PLLib.h"
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include <climits>
#include <vector>

namespace {
const char kSource[] = "PLLib/LoadFile";

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() { if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};
}  // namespace

std::string ReadFileBytes(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) throw FileAccessException(L"file open error:" + path);
    LARGE_INTEGER size{};
    CHECK_WIN32(GetFileSizeEx(file.get(), &size), kSource);
    // The decoders take int counts.
    if (size.QuadPart > INT_MAX - 1) throw FileException(L"file too large:" + path);
    std::string bytes(size_t(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        CHECK_WIN32(ReadFile(file.get(), bytes.data() + done, DWORD(bytes.size() - done), &got, nullptr), kSource);
        if (got == 0) break;  // the file shrank while being read
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::wstring DecodeText(const std::string& bytes) {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        const char* utf8 = bytes.data() + 3;
        const int count = int(bytes.size() - 3);
        if (count == 0) return std::wstring();
        int length = MultiByteToWideChar(CP_UTF8, 0, utf8, count, nullptr, 0);
        if (length <= 0) throw WindowsError(GetLastError(), kSource, __LINE__);
        std::vector<wchar_t> buffer(size_t(length) + 1);
        int converted = MultiByteToWideChar(CP_UTF8, 0, utf8, count, buffer.data(), length + 1);
        if (converted <= 0) throw WindowsError(GetLastError(), kSource, __LINE__);
        return std::wstring(buffer.data(), size_t(converted));
    }
    return Widen(bytes);
}

std::wstring LoadFile(const std::wstring& path) { return DecodeText(ReadFileBytes(path)); }
