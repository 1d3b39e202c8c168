#include "Framework/Paths.h"
#include "Framework/Text.h"
#include <windows.h>
#include <vector>

// ExpEnv, noting in `undefined` (when given) the name of the first reference that stays as written.
static std::wstring Expand(const std::wstring& text, std::wstring* undefined) {
    std::wstring out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t open = text.find(L'%', pos);
        if (open == std::wstring::npos) break;
        size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) break;
        out.append(text, pos, open - pos);
        std::wstring name = text.substr(open + 1, close - open - 1);
        DWORD size = name.empty() ? 0 : GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (size > 0) {
            std::vector<wchar_t> value(size + 1);
            DWORD got = GetEnvironmentVariableW(name.c_str(), value.data(), DWORD(value.size()));
            out.append(value.data(), got < value.size() ? got : 0);
            pos = close + 1;
        } else {
            // Undefined: keep it as written; the closing '%' may open the next reference.
            if (undefined && undefined->empty() && !name.empty()) *undefined = name;
            out += L'%';
            out += name;
            pos = close;
        }
    }
    out.append(text, pos, std::wstring::npos);
    return out;
}

std::wstring ExpEnv(const std::wstring& text) { return Expand(text, nullptr); }
std::string ExpEnv(const std::string& text) { return Narrow(ExpEnv(Widen(text))); }

std::wstring UndefinedEnvReference(const std::wstring& text) {
    std::wstring undefined;
    Expand(text, &undefined);
    return undefined;
}

static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAbsolutePath(const std::wstring& path) {
    if (!path.empty() && IsSeparator(path[0])) return true;
    return path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]) &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}
bool IsAbsolutePath(const std::string& path) { return IsAbsolutePath(Widen(path)); }

std::wstring MakePathSpec(const std::wstring& path) {
    if (path.empty()) return {};
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full = path;
    if (size > 0) {
        std::vector<wchar_t> buffer(size + 1);
        DWORD got = GetFullPathNameW(path.c_str(), DWORD(buffer.size()), buffer.data(), nullptr);
        if (got > 0 && got < buffer.size()) full.assign(buffer.data(), got);
    }
    if (!IsSeparator(full.back())) full += L'\\';
    return full;
}
std::string MakePathSpec(const std::string& path) { return Narrow(MakePathSpec(Widen(path))); }

static size_t NameStart(const std::wstring& path) {
    size_t pos = path.find_last_of(L"\\/:");
    return pos == std::wstring::npos ? 0 : pos + 1;
}

static size_t ExtensionStart(const std::wstring& path) {
    size_t name = NameStart(path);
    size_t dot = path.rfind(L'.');
    return dot == std::wstring::npos || dot < name ? std::wstring::npos : dot;
}

std::wstring AddDefaultExt(const std::wstring& path, const std::wstring& ext) {
    return ExtensionStart(path) == std::wstring::npos ? path + ext : path;
}
std::string AddDefaultExt(const std::string& path, const std::string& ext) {
    return Narrow(AddDefaultExt(Widen(path), Widen(ext)));
}

std::wstring SetDefaultExt(const std::wstring& path, const std::wstring& ext) {
    return path.substr(0, ExtensionStart(path)) + ext;
}
std::string SetDefaultExt(const std::string& path, const std::string& ext) {
    return Narrow(SetDefaultExt(Widen(path), Widen(ext)));
}

std::wstring GetParentPath(const std::wstring& path) {
    size_t pos = path.find_last_of(L"\\/");
    return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos);
}
std::string GetParentPath(const std::string& path) { return Narrow(GetParentPath(Widen(path))); }

std::wstring GetFileName(const std::wstring& path) { return path.substr(NameStart(path)); }
std::string GetFileName(const std::string& path) { return Narrow(GetFileName(Widen(path))); }

bool CreatePath(const std::wstring& folder) {
    if (folder.empty()) return false;
    std::wstring path = folder;
    while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::wstring parent = GetParentPath(path);
    if (!parent.empty() && parent != path && !(parent.size() == 2 && parent[1] == L':') && !CreatePath(parent))
        return false;
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
bool CreatePath(const std::string& folder) { return CreatePath(Widen(folder)); }

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
bool FileExists(const std::string& path) { return FileExists(Widen(path)); }

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}
void RemoveTree(const std::string& folder) { RemoveTree(Widen(folder)); }

std::wstring ModuleFileNameW(void* module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD got = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), DWORD(buffer.size()));
        if (got == 0) return {};
        if (got < buffer.size()) return std::wstring(buffer.data(), got);
        buffer.resize(buffer.size() * 2);
    }
}
std::string ModuleFileName(void* module) { return Narrow(ModuleFileNameW(module)); }
