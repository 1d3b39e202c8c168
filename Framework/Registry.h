// Registry key holder. Writers open with create and full access, readers without create and read only.
#pragma once
#include <windows.h>
#include <optional>
#include <string>
#include <vector>

constexpr REGSAM kRegWriteAccess = 0xF003F;  // KEY_ALL_ACCESS
constexpr REGSAM kRegReadAccess = 0x20019;   // KEY_READ

class RegKey {
public:
    class Value {
    public:
        // `openError` is why the holder has no key: ERROR_FILE_NOT_FOUND (or none given) makes every
        // read missing, anything else makes it fail.
        Value(HKEY key, std::wstring name, LONG openError = ERROR_FILE_NOT_FOUND)
            : key_(key), name_(std::move(name)), openError_(openError) {}
        bool Valid() const;  // the value exists, whatever its type
        // Reads that keep a missing value apart from a failed one: ERROR_SUCCESS with `out` set;
        // ERROR_FILE_NOT_FOUND when the value (or its key) is absent or of another type or size;
        // any other code when the read failed (access denied, key deleted). `out` is untouched
        // unless the read succeeded. REG_SZ and REG_EXPAND_SZ read as text (not expanded); a text
        // without terminating zero is taken up to its size.
        [[nodiscard]] LONG Read(DWORD& out) const;
        [[nodiscard]] LONG Read(std::wstring& out) const;
        // For every read that a write builds on: missing gives `fallback`, a failed read raises
        // WindowsError naming `source`:`line`.
        [[nodiscard]] DWORD IntOr(DWORD fallback, const char* source, int line) const;
        [[nodiscard]] std::wstring TextOr(const std::wstring& fallback, const char* source, int line) const;
        // Settings reads: missing and failed both give no value.
        [[nodiscard]] std::optional<DWORD> Int() const;
        [[nodiscard]] std::optional<std::wstring> Text() const;
        // Strict reads: a missing or wrong-typed value raises VelmorException naming the value,
        // a failed read WindowsError.
        DWORD GetInt() const;
        std::wstring GetText() const;
        std::string GetTextA() const;  // ANSI code page
        // A running number or a count: the stored value (missing reads 0) plus 1, written back and
        // returned. A value that cannot be read is not taken for 0: WindowsError names `source`:`line`.
        DWORD Increment(const char* source, int line);
        Value& operator=(DWORD value);
        Value& operator=(const std::wstring& value);
        Value& operator=(const wchar_t* value) { return *this = std::wstring(value); }
        Value& operator=(const std::string& value);  // ANSI code page
        Value& operator=(const char* value) { return *this = std::string(value); }
        void Delete();  // a missing value is no error
        const std::wstring& Name() const { return name_; }

    private:
        LONG Query(DWORD& type, std::vector<BYTE>& data) const;
        HKEY key_;
        std::wstring name_;
        LONG openError_;
    };

    RegKey() = default;
    // Opens (or with `create` creates) parent\subpath. A key that cannot be opened leaves the holder
    // empty (IsOpen() false, LastError() tells why); writing through an empty holder raises.
    RegKey(HKEY parent, const std::wstring& subpath, bool create, REGSAM access);
    RegKey(HKEY parent, const std::string& subpath, bool create, REGSAM access);
    RegKey(HKEY parent, const char* subpath, bool create, REGSAM access)
        : RegKey(parent, std::string(subpath ? subpath : ""), create, access) {}
    RegKey(HKEY parent, const wchar_t* subpath, bool create, REGSAM access)
        : RegKey(parent, std::wstring(subpath ? subpath : L""), create, access) {}
    // Opens parent\path for writing, creating what is missing; a key that cannot be had raises
    // WindowsError naming `source`:`line`.
    static RegKey OpenToWrite(HKEY parent, const std::wstring& path, const char* source, int line);
    // Opens parent\path for reading. A key that does not exist gives an empty holder (every read
    // missing); one that exists and cannot be opened raises WindowsError naming `source`:`line`.
    static RegKey OpenToRead(HKEY parent, const std::wstring& path, const char* source, int line);
    // Takes ownership of an open handle.
    explicit RegKey(HKEY owned) : key_(owned) {}
    RegKey(RegKey&& other) noexcept : key_(other.key_), error_(other.error_) { other.key_ = nullptr; }
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    bool IsOpen() const { return key_ != nullptr; }
    explicit operator bool() const { return IsOpen(); }
    HKEY Handle() const { return key_; }
    LONG LastError() const { return error_; }
    // Not open because the key does not exist (as against: opening it failed).
    bool IsMissing() const { return !key_ && (error_ == ERROR_FILE_NOT_FOUND || error_ == ERROR_PATH_NOT_FOUND); }
    void Close();
    HKEY Release();

    Value operator[](const std::wstring& name) const { return Value(key_, name, error_); }
    Value operator[](const wchar_t* name) const { return Value(key_, name, error_); }
    Value operator[](const std::string& name) const;
    Value operator[](const char* name) const { return (*this)[std::string(name)]; }

    // Both raise WindowsError when the key cannot be read; an empty holder has no subkeys.
    DWORD SubkeyCount() const;
    std::wstring SubkeyName(DWORD index) const;  // empty past the end
    // Deletes the subkey with everything below it; a missing subkey is no error.
    void DeleteSubkey(const std::wstring& name) const;
    void DeleteSubkey(const std::string& name) const;

private:
    HKEY key_ = nullptr;
    LONG error_ = ERROR_SUCCESS;
};
