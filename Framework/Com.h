// BSTR and VARIANT owners, checked COM calls, late-bound calls by member name.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

// The text of a BSTR argument; null is the empty text.
inline std::wstring BstrText(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

class CoString {
public:
    CoString() = default;
    CoString(const wchar_t* text) : bstr_(text ? SysAllocString(text) : nullptr) {}
    CoString(const std::wstring& text) : bstr_(SysAllocStringLen(text.data(), UINT(text.size()))) {}
    CoString(const char* bytes, size_t count);  // ANSI text of `count` bytes
    explicit CoString(const std::string& ansi) : CoString(ansi.data(), ansi.size()) {}
    CoString(const CoString& other) : bstr_(other.bstr_ ? SysAllocStringLen(other.bstr_, other.Length()) : nullptr) {}
    CoString(CoString&& other) noexcept : bstr_(other.bstr_) { other.bstr_ = nullptr; }
    CoString& operator=(CoString other) noexcept { std::swap(bstr_, other.bstr_); return *this; }
    ~CoString() { SysFreeString(bstr_); }
    static CoString Attach(BSTR owned) { CoString s; s.bstr_ = owned; return s; }

    BSTR Get() const { return bstr_; }
    BSTR* Out() { SysFreeString(bstr_); bstr_ = nullptr; return &bstr_; }  // for out parameters
    BSTR Detach() { BSTR b = bstr_; bstr_ = nullptr; return b; }
    UINT Length() const { return SysStringLen(bstr_); }
    std::wstring Str() const { return bstr_ ? std::wstring(bstr_, Length()) : std::wstring(); }
    std::string StrA() const;  // ANSI code page
    operator BSTR() const { return bstr_; }

private:
    BSTR bstr_ = nullptr;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(long value) { VariantInit(&v_); v_.vt = VT_I4; v_.lVal = value; }
    Variant(const wchar_t* text) { VariantInit(&v_); v_.vt = VT_BSTR; v_.bstrVal = SysAllocString(text); }
    Variant(const std::wstring& text) { VariantInit(&v_); v_.vt = VT_BSTR; v_.bstrVal = CoString(text).Detach(); }
    Variant(IDispatch* object);  // AddRef
    Variant(const VARIANT& other);
    Variant(const Variant& other) : Variant(other.v_) {}
    Variant& operator=(const Variant& other);
    ~Variant() { VariantClear(&v_); }

    VARIANT* Out() { VariantClear(&v_); return &v_; }
    const VARIANT& Get() const { return v_; }
    VARTYPE Type() const { return v_.vt; }
    // Conversions through VariantChangeType; a value that does not convert raises CoError.
    CoString ToString() const;
    long ToLong() const;
    IDispatch* ToDispatch() const;  // not AddRef'ed; null when the value holds no object

private:
    VARIANT v_;
};

// Returns when `hr` succeeded; otherwise raises CoError with the module and source position.
void CoCallEx(HRESULT hr, HMODULE module, const char* file, int line);
#define CO_CALL(hr, module, file) CoCallEx((hr), (module), (file), __LINE__)

// Late-bound calls through IDispatch by member name.
class OleObject {
public:
    explicit OleObject(IDispatch* object) : object_(object) {}
    // Calls a method (DISPATCH_METHOD) with the arguments in their natural order.
    Variant Call(const wchar_t* member, const std::vector<Variant>& args = {}) const;
    Variant GetProperty(const wchar_t* member) const;
    void PutProperty(const wchar_t* member, const Variant& value) const;

private:
    Variant Invoke(const wchar_t* member, WORD flags, const std::vector<Variant>& args) const;
    IDispatch* object_;
};

// Duplicates a kernel handle within the process (same access, inheritable); null stays null.
HANDLE DuplicateProcessHandle(HANDLE handle);
