#include "Plugin/ContextHelp.h"

#include <htmlhelp.h>

#include <string>

#include "Framework/Text.h"
#include "PLLib/PLLib.h"
#include "PLLib/PluginPaths.h"
#include "Plugin/Plugin.h"

namespace Plugin {
namespace {

using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// Loaded once and kept: the pop-up window lives in the library.
HtmlHelpFn HtmlHelpEntry() {
    static HtmlHelpFn entry = [] {
        HMODULE library = LoadLibraryA("hhctrl.ocx");
        return library ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(library, "HtmlHelpW")))
                       : nullptr;
    }();
    return entry;
}

}  // namespace

void ShowContextHelp(HWND window, unsigned topic) {
    HtmlHelpFn htmlHelp = HtmlHelpEntry();
    if (!htmlHelp) return;
    std::wstring file = Widen(ResolveHelpPath(g_module, PluginHelpFilePath(g_module)));
    HH_POPUP popup{};
    popup.cbStruct = sizeof popup;
    popup.idString = topic;
    popup.pt = {-1, -1};
    popup.clrForeground = popup.clrBackground = static_cast<COLORREF>(-1);
    popup.rcMargins = {-1, -1, -1, -1};
    popup.pszFont = L"MS Shell Dlg, 8";
    htmlHelp(window, file.c_str(), HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
}

}  // namespace Plugin
