#include "Framework/Registry.h"
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include <shlwapi.h>
#include <cstring>
#include <vector>

static const char kFile[] = "Framework/Registry";

static void CheckWrite(HKEY key, LONG result, int line) {
    if (!key) throw WindowsError(ERROR_INVALID_HANDLE, kFile, line);  // the holder could not open its key
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

RegKey RegKey::OpenToWrite(HKEY parent, const std::wstring& path, const char* source, int line) {
    RegKey key(parent, path, true, kRegWriteAccess);
    if (!key) throw WindowsError(DWORD(key.LastError()), source, line);
    return key;
}

RegKey RegKey::OpenToRead(HKEY parent, const std::wstring& path, const char* source, int line) {
    RegKey key(parent, path, false, kRegReadAccess);
    if (!key && !key.IsMissing()) throw WindowsError(DWORD(key.LastError()), source, line);
    return key;
}

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

// A key that cannot be read must not pass for one without subkeys.
DWORD RegKey::SubkeyCount() const {
    DWORD count = 0;
    if (!key_) return 0;
    LONG result = RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
    if (result != ERROR_SUCCESS) throw WindowsError(DWORD(result), kFile, __LINE__);
    return count;
}

std::wstring RegKey::SubkeyName(DWORD index) const {
    if (!key_) return {};
    wchar_t name[256];  // registry key names hold at most 255 characters
    DWORD size = 256;
    LONG result = RegEnumKeyExW(key_, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return {};
    if (result != ERROR_SUCCESS) throw WindowsError(DWORD(result), kFile, __LINE__);
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

static bool NotFound(LONG code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

LONG RegKey::Value::Query(DWORD& type, std::vector<BYTE>& data) const {
    if (!key_) return openError_ == ERROR_SUCCESS || NotFound(openError_) ? ERROR_FILE_NOT_FOUND : openError_;
    // Most values are small: one call reads them, and only a larger one asks for its size first.
    const DWORD kFirstTry = 256;
    data.assign(kFirstTry + 2 * sizeof(wchar_t), 0);
    DWORD firstSize = kFirstTry;
    LONG first = RegQueryValueExW(key_, name_.c_str(), nullptr, &type, data.data(), &firstSize);
    if (first == ERROR_SUCCESS) {
        data.resize(firstSize);
        return ERROR_SUCCESS;
    }
    if (first != ERROR_MORE_DATA) return NotFound(first) ? ERROR_FILE_NOT_FOUND : first;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG result = RegQueryValueExW(key_, name_.c_str(), nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) return NotFound(result) ? ERROR_FILE_NOT_FOUND : result;
        // Room for a terminating zero the stored data may lack, and for an odd byte count.
        data.assign(size + 2 * sizeof(wchar_t), 0);
        DWORD got = size;
        result = RegQueryValueExW(key_, name_.c_str(), nullptr, &type, data.data(), &got);
        if (result == ERROR_MORE_DATA) continue;  // grew in between
        if (result != ERROR_SUCCESS) return NotFound(result) ? ERROR_FILE_NOT_FOUND : result;
        data.resize(got);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG RegKey::Value::Read(DWORD& out) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    LONG result = Query(type, data);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_DWORD || data.size() != sizeof(DWORD)) return ERROR_FILE_NOT_FOUND;
    memcpy(&out, data.data(), sizeof out);
    return ERROR_SUCCESS;
}

LONG RegKey::Value::Read(std::wstring& out) const {
    DWORD type = 0;
    std::vector<BYTE> data;
    LONG result = Query(type, data);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_FILE_NOT_FOUND;
    size_t chars = data.size() / sizeof(wchar_t), length = 0;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    while (length < chars && text[length] != L'\0') ++length;
    out.assign(text, length);
    return ERROR_SUCCESS;
}

namespace {

template <class T> T ReadOr(const RegKey::Value& value, T fallback, const char* source, int line) {
    LONG result = value.Read(fallback);  // untouched unless read
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) throw WindowsError(DWORD(result), source, line);
    return fallback;
}

template <class T> std::optional<T> ReadIfAny(const RegKey::Value& value) {
    T out{};
    if (value.Read(out) != ERROR_SUCCESS) return std::nullopt;
    return out;
}

template <class T> T ReadStrict(const RegKey::Value& value, const char* kind) {
    T out{};
    LONG result = value.Read(out);
    if (result == ERROR_SUCCESS) return out;
    if (result != ERROR_FILE_NOT_FOUND) throw WindowsError(DWORD(result), kFile, __LINE__);
    throw VelmorException("registry value \"" + Narrow(value.Name()) + "\" is missing or not " + kind);
}

}  // namespace

DWORD RegKey::Value::IntOr(DWORD fallback, const char* source, int line) const { return ReadOr(*this, fallback, source, line); }

std::wstring RegKey::Value::TextOr(const std::wstring& fallback, const char* source, int line) const {
    return ReadOr(*this, fallback, source, line);
}

std::optional<DWORD> RegKey::Value::Int() const { return ReadIfAny<DWORD>(*this); }
std::optional<std::wstring> RegKey::Value::Text() const { return ReadIfAny<std::wstring>(*this); }
DWORD RegKey::Value::GetInt() const { return ReadStrict<DWORD>(*this, "an integer"); }
std::wstring RegKey::Value::GetText() const { return ReadStrict<std::wstring>(*this, "a text"); }

std::string RegKey::Value::GetTextA() const { return Narrow(GetText()); }

DWORD RegKey::Value::Increment(const char* source, int line) {
    DWORD next = IntOr(0, source, line) + 1;
    *this = next;
    return next;
}

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
