#include "Plugin/Plugin.h"
#include "AppFrame/Include/ClassFactory.h"
#include "AppFrame/Include/co.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Extenders.h"
#include "Plugin/Version.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <cstdlib>

using PLXDK::Paylantra::PLClient;

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Plugin";

void PublishInstalled(bool installed) {
    _putenv((std::string("Tallymark.Installed=") + (installed ? kVersionText : "")).c_str());
}

// A switch of the plugin key, missing 0. Read strictly: a plugin that could not tell whether it is
// switched off must not attach as if it were on, nor stay away as if it were off.
DWORD ReadSwitch(HKEY root, bool create, REGSAM access, const wchar_t* name, int line) {
    RegKey key(root, kPluginKey, create, access);
    if (!key && !key.IsMissing()) throw WindowsError(DWORD(key.LastError()), kSource, line);
    return key[name].IntOr(0, kSource, line);
}


}  // namespace

STDMETHODIMP Plugin::Attach(IDispatch* terminal) {
    return PAYLANTRA_METHOD(kSource, [&] {
        if (ReadSwitch(HKEY_LOCAL_MACHINE, true, kRegWriteAccess, L"Disabled", __LINE__) != 0) return;
        if (!terminal) throw InternalError("Plugin::Attach: the host passed no terminal object");
        PLClient client(terminal);
        IPaylantraTerminal* host = client.Terminal();

        IDispatch* found = nullptr;
        CoCallEx(host->GetTerminalExtenders(&found), g_module, kSource, __LINE__);
        co<IDispatch> collection = co<IDispatch>::Attach(found);
        Extenders made = CreateExtenders(host);
        co<IPaylantraTerminalExtenders> extenders(collection.Get());
        if (!extenders) CoCallEx(E_POINTER, g_module, kSource, __LINE__);
        CoCallEx(extenders->Add(made.terminal.Get()), g_module, kSource, __LINE__);

        found = nullptr;
        CoCallEx(host->GetEnvironment(&found), g_module, kSource, __LINE__);
        co<IDispatch> environment = co<IDispatch>::Attach(found);
        co<IPaylantraSession> session(environment.Get());
        if (!session) CoCallEx(E_POINTER, g_module, kSource, __LINE__);
        CoCallEx(session->AddExtender(made.session.Get()), g_module, kSource, __LINE__);

        PublishInstalled(true);
    });
}

STDMETHODIMP ControlPlugin::AttachControl(IDispatch* panel) {
    return PAYLANTRA_METHOD(kSource, [&] {
        if (ReadSwitch(HKEY_CURRENT_USER, false, kRegReadAccess, L"Control Disabled", __LINE__) == 0) {
            if (!panel) throw InternalError("ControlPlugin::AttachControl: the host passed no panel object");
            co<IPaylantraControlPage> page = co<IPaylantraControlPage>::Attach(CreateControlPage(panel));
            if (page) {
                co<IPaylantraControlPanel> host(panel);
                CoCallEx(host->AddPage(page.Get(), CoString(ModuleFileNameW(g_module)), CoString(L"TallymarkControlPage")),
                         g_module, kSource, __LINE__);
            }
        }
        PublishInstalled(ReadSwitch(HKEY_LOCAL_MACHINE, false, kRegReadAccess, L"Disabled", __LINE__) == 0);
    });
}

ControlPlugin::~ControlPlugin() { PublishInstalled(false); }

// Read strictly: a currency taken for "RUB" because its value could not be read would count and
// name the notes of another currency wrongly, and the bill types are kept for the whole process.
std::wstring CurrencyCode() {
    RegKey options = RegKey::OpenToRead(HKEY_LOCAL_MACHINE, kOptionsKey, kSource, __LINE__);
    std::wstring code = options[L"Currency Code"].TextOr(L"", kSource, __LINE__);
    return code.empty() ? L"RUB" : code;
}

std::wstring CurrencySuffix() {
    RegKey options = RegKey::OpenToRead(HKEY_LOCAL_MACHINE, kOptionsKey, kSource, __LINE__);
    std::wstring suffix;
    LONG result = options[L"Currency Suffix"].Read(suffix);
    if (result == ERROR_SUCCESS) return suffix;
    if (result != ERROR_FILE_NOT_FOUND) throw WindowsError(DWORD(result), kSource, __LINE__);
    std::wstring code = CurrencyCode();
    return code == L"RUB" ? L"руб." : code;
}

std::wstring SubstituteCurrency(const std::wstring& text) {
    return ReplaceEntries(text, {{L"[*]", CurrencyCode()}, {L"(*)", CurrencySuffix()}});
}

void ShowModuleFailure(const wchar_t* failed, const wchar_t* unknown) noexcept {
    try {
        const std::wstring module = L"\"" + ModuleFileNameW(g_module) + L"\"";
        const std::wstring caption = GetFileName(ModuleFileNameW(nullptr));
        std::optional<std::wstring> reason = ReasonOf(std::current_exception());
        ErrorMessage(nullptr, reason ? failed + module + L": " + *reason : unknown + module, caption);
    } catch (...) {
    }
}

}  // namespace Plugin

namespace {

template <class T>
HRESULT ServeFactory(REFIID riid, void** ppv) {
    auto* factory = new ClassFactory<T>;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    try {
        if (IsEqualCLSID(rclsid, CLSID_Plugin)) return ServeFactory<Plugin::Plugin>(riid, ppv);
        if (IsEqualCLSID(rclsid, CLSID_ControlPlugin)) return ServeFactory<Plugin::ControlPlugin>(riid, ppv);
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    } catch (...) {
        Plugin::ShowModuleFailure(L"Ошибка загрузки модуля ", L"Неизвестная ошибка загрузки модуля ");
    }
    return E_FAIL;
}

