#include "Framework/Registry.h"
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include <shlwapi.h>
#include <vector>

static const char kFile[] = "Framework/Registry";

static void CheckWrite(HKEY key, LONG result, int line) {
    if (!key) throw WindowsError(ERROR_INVALID_HANDLE, kFile, line);
    if (result != ERROR_SUCCESS) throw WindowsError(DWORD(result), kFile, line);
}

RegKey::RegKey(HKEY parent, const std::wstring& subpath, bool create, REGSAM access) {
    if (!parent) {
        error_ = ERROR_INVALID_HANDLE;
        return;
    }
    if (create)
        error_ = RegCreateKeyExW(parent, subpath.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr);
    else
        error_ = RegOpenKeyExW(parent, subpath.c_str(), 0, access, &key_);
    if (error_ != ERROR_SUCCESS) key_ = nullptr;
}

RegKey::RegKey(HKEY parent, const std::string& subpath, bool create, REGSAM access)
    : RegKey(parent, Widen(subpath), create, access) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Close();
        key_ = other.key_;
        error_ = other.error_;
        other.key_ = nullptr;
    }
    return *this;
}

void RegKey::Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

HKEY RegKey::Release() {
    HKEY key = key_;
    key_ = nullptr;
    return key;
}

RegKey::Value RegKey::operator[](const std::string& name) const { return Value(key_, Widen(name)); }

DWORD RegKey::SubkeyCount() const {
    DWORD count = 0;
    if (key_ && RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr) != ERROR_SUCCESS)
        count = 0;
    return count;
}

std::wstring RegKey::SubkeyName(DWORD index) const {
    if (!key_) return {};
    wchar_t name[256];  // registry key names hold at most 255 characters
    DWORD size = 256;
    if (RegEnumKeyExW(key_, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return {};
    return std::wstring(name, size);
}

void RegKey::DeleteSubkey(const std::wstring& name) const {
    if (!key_) throw WindowsError(ERROR_INVALID_HANDLE, kFile, __LINE__);
    DWORD result = SHDeleteKeyW(key_, name.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND && result != ERROR_PATH_NOT_FOUND)
        throw WindowsError(result, kFile, __LINE__);
}

void RegKey::DeleteSubkey(const std::string& name) const { DeleteSubkey(Widen(name)); }

bool RegKey::Value::Valid() const {
    return key_ && RegQueryValueExW(key_, name_.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::optional<DWORD> RegKey::Value::Int() const {
    if (!key_) return std::nullopt;
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExW(key_, name_.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return std::nullopt;
    return data;
}

std::optional<std::wstring> RegKey::Value::Text() const {
    if (!key_) return std::nullopt;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key_, name_.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        // Room for a terminating zero the stored data may lack, and for an odd byte count.
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
        DWORD got = DWORD((buffer.size() - 1) * sizeof(wchar_t));
        LONG result = RegQueryValueExW(key_, name_.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (result == ERROR_MORE_DATA) continue;  // grew in between
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
        size_t chars = got / sizeof(wchar_t);
        size_t length = 0;
        while (length < chars && buffer[length] != L'\0') ++length;
        return std::wstring(buffer.data(), length);
    }
    return std::nullopt;
}

DWORD RegKey::Value::GetInt() const {
    if (auto value = Int()) return *value;
    throw VelmorException("registry value \"" + Narrow(name_) + "\" is missing or not an integer");
}

std::wstring RegKey::Value::GetText() const {
    if (auto value = Text()) return *value;
    throw VelmorException("registry value \"" + Narrow(name_) + "\" is missing or not a text");
}

std::string RegKey::Value::GetTextA() const { return Narrow(GetText()); }

RegKey::Value& RegKey::Value::operator=(DWORD value) {
    CheckWrite(key_, key_ ? RegSetValueExW(key_, name_.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) : 0,
               __LINE__);
    return *this;
}

RegKey::Value& RegKey::Value::operator=(const std::wstring& value) {
    CheckWrite(key_,
               key_ ? RegSetValueExW(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     DWORD((value.size() + 1) * sizeof(wchar_t)))
                    : 0,
               __LINE__);
    return *this;
}

RegKey::Value& RegKey::Value::operator=(const std::string& value) { return *this = Widen(value); }

void RegKey::Value::Delete() {
    if (!key_) throw WindowsError(ERROR_INVALID_HANDLE, kFile, __LINE__);
    LONG result = RegDeleteValueW(key_, name_.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) throw WindowsError(DWORD(result), kFile, __LINE__);
}
