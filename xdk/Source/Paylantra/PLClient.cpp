#include "xdk/Source/Paylantra/PLClient.h"
#include "Framework/Registry.h"

namespace PLXDK::Paylantra {

namespace {

const char kSource[] = "xdk/Source/Paylantra/PLClient";

// Asks `from` for one helper object through `getter` and queries it for I.
template <class I, class From, class Getter>
co<I> Fetch(From* from, Getter getter, int line) {
    if (!from) throw InternalError("PLClient: no host terminal");
    IDispatch* object = nullptr;
    CoCheck((from->*getter)(&object), kSource, line);
    co<IDispatch> owned = co<IDispatch>::Attach(object);
    if (!object) CoCheck(E_POINTER, kSource, line);
    return co<I>(object);
}

}  // namespace

PLClient::PLClient(IUnknown* terminal) : terminal_(terminal) {}

co<IPaylantraApplication> PLClient::GetApplication() const {
    return Fetch<IPaylantraApplication>(terminal_.Get(), &IPaylantraTerminal::GetApplication, __LINE__);
}

co<IPaylantraSession> PLClient::GetEnvironment() const {
    return Fetch<IPaylantraSession>(terminal_.Get(), &IPaylantraTerminal::GetEnvironment, __LINE__);
}

co<IPaylantraTerminalExtenders> PLClient::GetTerminalExtenders() const {
    return Fetch<IPaylantraTerminalExtenders>(terminal_.Get(), &IPaylantraTerminal::GetTerminalExtenders, __LINE__);
}

co<IPaylantraCash> PLClient::GetCash() const {
    return Fetch<IPaylantraCash>(terminal_.Get(), &IPaylantraTerminal::GetCash, __LINE__);
}

std::wstring PLClient::GetTerminalText() const {
    CoString text;
    CoCheck(GetTerminalExtenders()->GetText(text.Out()), kSource, __LINE__);
    return text.Str();
}

std::wstring PLClient::GetProperty(const std::string& name) { return GetEnvironmentSession().GetProperty(name); }

long long PLClient::GetPropertyInt(const std::string& name) { return GetEnvironmentSession().GetPropertyInt(name); }

double PLClient::GetPropertyReal(const std::string& name) { return GetEnvironmentSession().GetPropertyReal(name); }

void PLClient::SetProperty(const std::string& name, const std::wstring& value) {
    GetEnvironmentSession().SetProperty(name, value);
}

void PLClient::SetProperty(const std::string& name, const std::string& value) { SetProperty(name, Widen(value)); }

void PLClient::SetPropertyInt(const std::string& name, long long value) {
    GetEnvironmentSession().SetPropertyInt(name, value);
}

void PLClient::SetPropertyBool(const std::string& name, bool value) {
    GetEnvironmentSession().SetPropertyBool(name, value);
}

void PLClient::RaiseEvent(const std::string& name) { GetEnvironmentSession().RaiseEvent(name); }

void PLClient::RunScript(const std::wstring& text) {
    CoCheck(GetApplication()->RunScript(CoString(text), CoString(L"javascript")), kSource, __LINE__);
}

std::string PLClient::EvalText(const std::wstring& text) {
    co<IPaylantraApplication> application = GetApplication();
    CoString address;
    CoCheck(application->EvalText(CoString(text), address.Out()), kSource, __LINE__);
    CoCheck(application->Navigate(address), kSource, __LINE__);
    return address.StrA();
}

void PLClient::Navigate(const std::wstring& address) const { CoCheck(GetApplication()->Navigate(CoString(address)), kSource, __LINE__); }

bool PLClient::IsFlagSet() {
    co<IPaylantraDevices> devices = Fetch<IPaylantraDevices>(terminal_.Get(), &IPaylantraTerminal::GetDevices, __LINE__);
    co<IPaylantraFlags> flags = Fetch<IPaylantraFlags>(devices.Get(), &IPaylantraDevices::GetFlags, __LINE__);
    long set = 0;
    CoCheck(flags->IsSet(&set), kSource, __LINE__);
    return set != 0;
}

void PLClient::ResetBillCounter() {
    RegKey root(HKEY_LOCAL_MACHINE, L"Software\\Velmor\\Paylantra", true, kRegWriteAccess);
    if (!root)
        throw InternalError("cannot open registry key HKEY_LOCAL_MACHINE\\Software\\Velmor\\Paylantra (error " +
                            std::to_string(root.LastError()) + ") at xdk/Source/Paylantra/PLClient:216");
    RegKey counter(root.Handle(), L"BillCounter", true, kRegWriteAccess);
    counter[L"Current"] = DWORD(0);
}

}  // namespace PLXDK::Paylantra
