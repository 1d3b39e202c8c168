#include "Plugin/Plugin.h"
#include "AppFrame/Include/ClassFactory.h"
#include "AppFrame/Include/co.h"
#include "Framework/Messages.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "Plugin/Config.h"
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

DWORD ReadFlag(HKEY root, bool create, REGSAM access, const wchar_t* name) {
    RegKey key(root, kPluginKey, create, access);
    return key ? key[name].Int().value_or(0) : 0;
}

std::wstring ReadOptionText(const wchar_t* name) {
    RegKey options(HKEY_LOCAL_MACHINE, kOptionsKey, false, kRegReadAccess);
    if (!options) return {};
    return options[name].Text().value_or(std::wstring());
}

}  // namespace

STDMETHODIMP Plugin::Attach(IDispatch* terminal) {
    return PAYLANTRA_METHOD(kSource, [&] {
        if (ReadFlag(HKEY_LOCAL_MACHINE, true, kRegWriteAccess, L"Disabled") != 0) return;
        if (!terminal) throw InternalError("Plugin::Attach: the host passed no terminal object");
        PLClient client(terminal);
        IPaylantraTerminal* host = client.Terminal();

        IDispatch* found = nullptr;
        CoCallEx(host->GetTerminalExtenders(&found), g_module, kSource, __LINE__);
        co<IDispatch> collection = co<IDispatch>::Attach(found);
        co<IPaylantraTerminalExtender2> terminalExtender = co<IPaylantraTerminalExtender2>::Attach(CreateTerminalExtender(host));
        if (terminalExtender) {
            co<IPaylantraTerminalExtenders> extenders(collection.Get());
            if (!extenders) CoCallEx(E_POINTER, g_module, kSource, __LINE__);
            CoCallEx(extenders->Add(terminalExtender.Get()), g_module, kSource, __LINE__);
        }

        found = nullptr;
        CoCallEx(host->GetEnvironment(&found), g_module, kSource, __LINE__);
        co<IDispatch> environment = co<IDispatch>::Attach(found);
        co<IPaylantraSessionExtender2> sessionExtender =
            co<IPaylantraSessionExtender2>::Attach(CreateSessionExtender(host, terminalExtender.Get()));
        if (sessionExtender) {
            co<IPaylantraSession> session(environment.Get());
            if (!session) CoCallEx(E_POINTER, g_module, kSource, __LINE__);
            CoCallEx(session->AddExtender(sessionExtender.Get()), g_module, kSource, __LINE__);
        }

        PublishInstalled(true);
    });
}

STDMETHODIMP ControlPlugin::AttachControl(IDispatch* panel) {
    return PAYLANTRA_METHOD(kSource, [&] {
        if (ReadFlag(HKEY_CURRENT_USER, false, kRegReadAccess, L"Control Disabled") == 0) {
            if (!panel) throw InternalError("ControlPlugin::AttachControl: the host passed no panel object");
            co<IPaylantraControlPage> page = co<IPaylantraControlPage>::Attach(CreateControlPage(panel));
            if (page) {
                co<IPaylantraControlPanel> host(panel);
                CoCallEx(host->AddPage(page.Get(), CoString(ModuleFileNameW(g_module)), CoString(L"TallymarkControlPage")),
                         g_module, kSource, __LINE__);
            }
        }
        PublishInstalled(ReadFlag(HKEY_LOCAL_MACHINE, false, kRegReadAccess, L"Disabled") == 0);
    });
}

ControlPlugin::~ControlPlugin() { PublishInstalled(false); }

std::wstring CurrencyCode() {
    std::wstring code = ReadOptionText(L"Currency Code");
    return code.empty() ? L"RUB" : code;
}

std::wstring CurrencySuffix() {
    RegKey options(HKEY_LOCAL_MACHINE, kOptionsKey, false, kRegReadAccess);
    if (options) {
        if (std::optional<std::wstring> suffix = options[L"Currency Suffix"].Text()) return *suffix;
    }
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
        try {
            throw;
        } catch (const VelmorException& error) {
            ErrorMessage(nullptr, failed + module + L": " + error.ReasonW(), caption);
        } catch (...) {
            ErrorMessage(nullptr, unknown + module, caption);
        }
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

