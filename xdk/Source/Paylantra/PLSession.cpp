#include "xdk/Source/Paylantra/PLSession.h"
#include "Framework/Numbers.h"
#include "Framework/Text.h"
#include <cwchar>
#include <limits>

namespace PLXDK::Paylantra {

namespace {

const char kSource[] = "xdk/Source/Paylantra/PLSession";

// 1970-01-01 00:00 UTC on the RealTime scale; property times count milliseconds from it.
constexpr RealTime::Ticks kOrigin = 116444736000000000LL;

[[noreturn]] void BadNumber(const std::string& name, const std::wstring& text) {
    throw VMAppException(L"Неверный формат числа: " + Widen(name) + L"=" + text);
}

}  // namespace

PLSession::PLSession(IUnknown* session) : session_(session) {}

std::wstring PLSession::GetProperty(const std::string& name) {
    if (!session_) throw InternalError("PLSession::GetProperty(" + name + ") without a host session");
    CoString value;
    CoCallEx(session_->GetProperty(CoString(Widen(name)), value.Out()), AppFrame::CodeModule(), kSource, __LINE__);
    return value.Str();
}

long long PLSession::GetPropertyInt(const std::string& name) {
    std::wstring text = GetProperty(name);
    if (text.empty()) return 0;
    std::string narrow = Narrow(text);
    long long value = 0;
    if (ScanNumberEx(narrow, value, 0) || ScanNumberEx(narrow, value, 2)) return value;
    BadNumber(name, text);
}

double PLSession::GetPropertyReal(const std::string& name) {
    std::wstring text = GetProperty(name);
    if (text.empty()) return 0;
    std::string narrow = Narrow(text);
    double value = 0;
    if (ScanNumber(narrow, value, 0) || ScanNumber(narrow, value, 2)) return value;
    BadNumber(name, text);
}

RealTime PLSession::GetPropertyTime(const std::string& name) {
    std::wstring text = trim(GetProperty(name));
    if (text.empty() || text.size() > 20) return RealTime::Never;
    unsigned long long ms = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return RealTime::Never;
        unsigned digit = unsigned(c - L'0');
        if (ms > (std::numeric_limits<unsigned long long>::max() - digit) / 10) return RealTime::Never;
        ms = ms * 10 + digit;
    }
    // A count beyond what the time scale holds is as malformed as letters.
    constexpr unsigned long long kMaxMs =
        (unsigned long long)(std::numeric_limits<RealTime::Ticks>::max() - kOrigin) / RealTime::kTicksPerMs;
    if (ms > kMaxMs) return RealTime::Never;
    return RealTime(kOrigin + RealTime::Ticks(ms) * RealTime::kTicksPerMs).Local();
}

void PLSession::ClearProperty(const std::string& name) { SetProperty(name, std::wstring()); }

void PLSession::SetProperty(const std::string& name, const std::wstring& value) {
    if (!session_) throw InternalError("PLSession::SetProperty(" + name + ") without a host session");
    // A property the host refused to take is a failure, not a silent loss: an alert or a print
    // request must not go on as if its inputs were in place.
    CoCallEx(session_->SetProperty(CoString(Widen(name)), CoString(value)), AppFrame::CodeModule(), kSource, __LINE__);
}

void PLSession::SetProperty(const std::string& name, const std::string& value) { SetProperty(name, Widen(value)); }

void PLSession::SetPropertyInt(const std::string& name, long long value) { SetProperty(name, std::to_wstring(value)); }

void PLSession::SetPropertyUInt(const std::string& name, unsigned value) { SetProperty(name, std::to_wstring(value)); }

void PLSession::SetPropertyBool(const std::string& name, bool value) {
    if (value)
        SetPropertyInt(name, 1);
    else
        ClearProperty(name);
}

void PLSession::SetPropertyUInt64(const std::string& name, unsigned long long value) {
    SetProperty(name, std::to_wstring(value));
}

void PLSession::SetPropertyTime(const std::string& name, RealTime time) {
    if (!time) {
        ClearProperty(name);
        return;
    }
    RealTime::Ticks since = time.UTC().GetTicks() - kOrigin;
    // An unsigned count cannot say "before 1970"; writing a wrapped-around number would corrupt it.
    if (since < 0) throw InternalError("PLSession::SetPropertyTime(" + name + "): time before 1970-01-01 UTC");
    SetPropertyUInt64(name, (unsigned long long)(since / RealTime::kTicksPerMs));
}

void PLSession::RaiseEvent(const std::string& name) {
    if (!session_) throw InternalError("PLSession::RaiseEvent(" + name + ") without a host session");
    session_->Event(CoString(Widen(name)));
}

void PLSession::InvokeEvent(const std::string& name) {
    if (!session_) throw InternalError("PLSession::InvokeEvent(" + name + ") without a host session");
    LPOLESTR member = const_cast<LPOLESTR>(L"Event");
    DISPID id = 0;
    CoCallEx(session_->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id), AppFrame::CodeModule(), kSource,
             __LINE__);
    CoString argument(Widen(name));
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = argument.Get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXCEPINFO info{};
    HRESULT hr = session_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        std::wstring text = info.bstrDescription ? info.bstrDescription : L"";
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        if (text.empty()) text = L"Ошибка события " + Widen(name);
        throw VMAppException(text);
    }
    CoCallEx(hr, AppFrame::CodeModule(), kSource, __LINE__);
}

}  // namespace PLXDK::Paylantra
