#include "Framework/Com.h"
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include <algorithm>

static const char kFile[] = "Framework/Com";

CoString::CoString(const char* bytes, size_t count) {
    std::wstring wide = Widen(std::string_view(bytes ? bytes : "", bytes ? count : 0));
    bstr_ = SysAllocStringLen(wide.data(), UINT(wide.size()));
}

std::string CoString::StrA() const { return Narrow(Str()); }

Variant::Variant(IDispatch* object) {
    VariantInit(&v_);
    v_.vt = VT_DISPATCH;
    v_.pdispVal = object;
    if (object) object->AddRef();
}

Variant::Variant(const VARIANT& other) {
    VariantInit(&v_);
    CoCallEx(VariantCopy(&v_, const_cast<VARIANT*>(&other)), nullptr, kFile, __LINE__);
}

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) CoCallEx(VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)), nullptr, kFile, __LINE__);
    return *this;
}

CoString Variant::ToString() const {
    if (v_.vt == VT_BSTR) return CoString(v_.bstrVal ? std::wstring(v_.bstrVal, SysStringLen(v_.bstrVal)) : std::wstring());
    if (v_.vt == VT_EMPTY || v_.vt == VT_NULL) return CoString(L"");
    VARIANT converted;
    VariantInit(&converted);
    CoCallEx(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), VARIANT_ALPHABOOL, VT_BSTR), nullptr, kFile, __LINE__);
    return CoString::Attach(converted.bstrVal);
}

long Variant::ToLong() const {
    if (v_.vt == VT_I4) return v_.lVal;
    VARIANT converted;
    VariantInit(&converted);
    CoCallEx(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), 0, VT_I4), nullptr, kFile, __LINE__);
    return converted.lVal;
}

IDispatch* Variant::ToDispatch() const {
    if (v_.vt == VT_DISPATCH) return v_.pdispVal;
    if (v_.vt == (VT_DISPATCH | VT_BYREF) && v_.ppdispVal) return *v_.ppdispVal;
    return nullptr;
}

void CoCallEx(HRESULT hr, HMODULE module, const char* file, int line) {
    if (FAILED(hr)) throw CoError(hr, module, file, line);
}

Variant OleObject::Invoke(const wchar_t* member, WORD flags, const std::vector<Variant>& args) const {
    if (!object_) throw CoError(E_POINTER, nullptr, kFile, __LINE__);
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    CoCallEx(object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), nullptr, kFile, __LINE__);
    // Automation takes the arguments last to first.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->Get());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, UINT(reversed.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) params.rgdispidNamedArgs = &putId, params.cNamedArgs = 1;
    Variant result;
    EXCEPINFO info{};
    UINT argError = 0;
    HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.Out(), &info, &argError);
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        CoString source = CoString::Attach(info.bstrSource), description = CoString::Attach(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        throw OleAutoException(info.wCode, source.Str(), description.Str());
    }
    CoCallEx(hr, nullptr, kFile, __LINE__);
    return result;
}

Variant OleObject::Call(const wchar_t* member, const std::vector<Variant>& args) const {
    return Invoke(member, DISPATCH_METHOD, args);
}

Variant OleObject::GetProperty(const wchar_t* member) const { return Invoke(member, DISPATCH_PROPERTYGET, {}); }

void OleObject::PutProperty(const wchar_t* member, const Variant& value) const {
    Invoke(member, DISPATCH_PROPERTYPUT, {value});
}

HANDLE DuplicateProcessHandle(HANDLE handle) {
    if (!handle) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        throw WindowsError(GetLastError(), kFile, __LINE__);
    return copy;
}
