#include "xdk/Source/Platform/FilePort.h"
#include "Framework/Exceptions.h"

namespace {
const char kSource[] = "xdk/Source/Platform/SaveFile_fs";
}

FilePort& FilePort::operator=(FilePort&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    return *this;
}

void FilePort::Close() {
    if (IsOpen()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool SaveFile(FilePort& port, const std::string& text) {
    LARGE_INTEGER start{};
    CHECK_WIN32(SetFilePointerEx(port.Handle(), start, nullptr, FILE_BEGIN), kSource);
    size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        // A short or failed write must not pass for a saved file.
        if (!WriteFile(port.Handle(), text.data() + done, DWORD(text.size() - done), &wrote, nullptr) || wrote == 0)
            throw WindowsError(GetLastError(), kSource, __LINE__);
        done += wrote;
    }
    if (!SetEndOfFile(port.Handle())) throw WindowsError(GetLastError(), kSource, __LINE__);
    return true;
}
