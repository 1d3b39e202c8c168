// Registry keys of the host, and the plugin's own key under them, as the host support reads them.
#pragma once

namespace PLLib {

inline constexpr wchar_t kHostKey[] = L"Software\\Velmor\\Paylantra";
inline constexpr wchar_t kHostUIKey[] = L"Software\\Velmor\\Paylantra\\UI";
inline constexpr wchar_t kHostURLKey[] = L"Software\\Velmor\\Paylantra\\URL";
inline constexpr wchar_t kCashSettingsKey[] = L"Software\\Velmor\\Paylantra\\Cash Settings";
inline constexpr wchar_t kPluginKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark";
inline constexpr wchar_t kPrintTemplatesKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Print Templates";

}  // namespace PLLib
