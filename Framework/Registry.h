// Registry key holder. Writers open with create and full access, readers without create and read only.
#pragma once
#include <windows.h>
#include <optional>
#include <string>

constexpr REGSAM kRegWriteAccess = 0xF003F;  // KEY_ALL_ACCESS
constexpr REGSAM kRegReadAccess = 0x20019;   // KEY_READ

class RegKey {
public:
    class Value {
    public:
        Value(HKEY key, std::wstring name) : key_(key), name_(std::move(name)) {}
        bool Valid() const;  // the value exists, whatever its type
        // Typed reads: absent, or of another type or size, gives no value. REG_SZ and REG_EXPAND_SZ
        // read as text (not expanded); a text without terminating zero is taken up to its size.
        std::optional<DWORD> Int() const;
        std::optional<std::wstring> Text() const;
        // Strict reads: a missing or wrong-typed value raises VelmorException naming the value.
        DWORD GetInt() const;
        std::wstring GetText() const;
        std::string GetTextA() const;  // ANSI code page
        Value& operator=(DWORD value);
        Value& operator=(const std::wstring& value);
        Value& operator=(const wchar_t* value) { return *this = std::wstring(value); }
        Value& operator=(const std::string& value);  // ANSI code page
        Value& operator=(const char* value) { return *this = std::string(value); }
        void Delete();  // a missing value is no error
        const std::wstring& Name() const { return name_; }

    private:
        HKEY key_;
        std::wstring name_;
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
    void Close();
    HKEY Release();

    Value operator[](const std::wstring& name) const { return Value(key_, name); }
    Value operator[](const wchar_t* name) const { return Value(key_, name); }
    Value operator[](const std::string& name) const;
    Value operator[](const char* name) const { return (*this)[std::string(name)]; }

    DWORD SubkeyCount() const;
    std::wstring SubkeyName(DWORD index) const;  // empty past the end
    // Deletes the subkey with everything below it; a missing subkey is no error.
    void DeleteSubkey(const std::wstring& name) const;
    void DeleteSubkey(const std::string& name) const;

private:
    HKEY key_ = nullptr;
    LONG error_ = ERROR_SUCCESS;
};
