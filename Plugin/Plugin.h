// The plugin's two coclasses and the plugin-wide helpers.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include <string>

extern HINSTANCE g_module;  // this module, stored at process attach

namespace Plugin {

// The object the host hands its terminal to once, so that the plugin attaches its extenders.
class Plugin : public PaylantraObject2<IPaylantraPlugin> {
public:
    using PaylantraObject2::PaylantraObject2;
    STDMETHODIMP Attach(IDispatch* terminal) override;
};

// The object the host's control panel hands its panel to, so that the plugin adds its page.
class ControlPlugin : public PaylantraObject2<IPaylantraControlPlugin> {
public:
    using PaylantraObject2::PaylantraObject2;
    ~ControlPlugin() override;
    STDMETHODIMP AttachControl(IDispatch* panel) override;
};

// The plugin's currency code, value "Currency Code" of the machine Options key ("RUB" when unset;
// a value that cannot be read raises WindowsError).
std::wstring CurrencyCode();
// Value "Currency Suffix"; unset, it is the code itself, and "руб." for "RUB". Read as strictly.
std::wstring CurrencySuffix();
// Replaces "[*]" by the currency code and "(*)" by the currency suffix, both read afresh.
std::wstring SubstituteCurrency(const std::wstring& text);

// Inside a catch block of an entry point: the error box for the exception being handled, captioned
// with the executable's file name. A framework exception shows `failed`, the quoted module path,
// ": " and its reason; any other `unknown` and the quoted module path.
void ShowModuleFailure(const wchar_t* failed, const wchar_t* unknown) noexcept;

}  // namespace Plugin
