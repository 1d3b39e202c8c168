#include "Plugin/Page/ContextHelp.h"

#include <htmlhelp.h>

#include "Framework/Text.h"
#include "PLLib/PLLib.h"
#include "PLLib/PluginPaths.h"
#include "Plugin/Page/ControlPage.h"
#include "Plugin/Plugin.h"
#include "Plugin/Page/SettingsDialogIds.h"

namespace Plugin {
namespace {

using Page = TallymarkControlPage;

constexpr HelpTopic kPage[] = {
    {Page::kCountingBox, 1}, {Page::kNotesGroup, 2},    {Page::kNotesList, 2},     {Page::kTotalText, 3},
    {Page::kPreviousText, 4}, {Page::kCollectButton, 5}, {Page::kAlertsButton, 6}, {Page::kLimitButton, 7},
};

constexpr HelpTopic kCollectParams[] = {
    {IDC_COLLECT_ENABLED, 50},        {IDC_COLLECT_AUTONAVIGATE, 51},   {IDC_COLLECT_GROUP, 10},
    {IDC_COLLECT_RESET, 12},          {IDC_COLLECT_RESET_CHOICE, 12},   {IDC_COLLECT_RECEIPT, 13},
    {IDC_COLLECT_RECEIPT_COPIES, 13}, {IDC_COLLECT_RECEIPT_SPIN, 13},   {IDC_COLLECT_RECEIPT_CHOICE, 13},
    {IDC_COLLECT_XREPORT, 14},        {IDC_COLLECT_XREPORT_CHOICE, 14}, {IDC_COLLECT_ZREPORT, 15},
    {IDC_COLLECT_ZREPORT_CHOICE, 15}, {IDC_COLLECT_ON_STACKER, 52},     {IDC_COLLECT_CANCEL_ENABLED, 53},
    {IDC_RESTORE_DEFAULTS, 16},       {IDC_COLLECT_ALL_CHOICE, 17},     {IDC_COLLECT_NO_CHOICE, 18},
};

constexpr HelpTopic kAlertSetup[] = {
    {IDC_ALERT_GROUP, 30},    {IDC_ALERT_STARTUP, 31},  {IDC_ALERT_EXIT, 32},      {IDC_ALERT_NEXTDAY, 33},
    {IDC_ALERT_PAYMENT, 34},  {IDC_ALERT_SESSIONFINISH, 35}, {IDC_ALERT_OVERFLOW, 36}, {IDC_ALERT_NOSTACKER, 37},
    {IDC_ALERT_STACKER, 38},  {IDC_ALERT_COLLECT, 39},  {IDC_ALERT_ZREPORT, 40},   {IDC_RESTORE_DEFAULTS, 41},
    {IDC_ALERT_ALL_ON, 42},   {IDC_ALERT_ALL_OFF, 43},
};

constexpr HelpTopic kStackerLimit[] = {
    {IDC_LIMIT_COUNT, 20}, {IDC_LIMIT_COUNT_VALUE, 20}, {IDC_LIMIT_COUNT_SPIN, 20}, {IDC_LIMIT_SUM, 21},
    {IDC_LIMIT_SUM_VALUE, 21}, {IDC_LIMIT_SUM_SPIN, 21}, {IDC_LIMIT_ACTIONS, 22}, {IDC_LIMIT_EMAIL, 23},
    {IDC_LIMIT_FAILURE, 24}, {IDC_LIMIT_BLOCK, 25},
};

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

const HelpTopics kControlPageHelp{kPage}, kCollectParamsHelp{kCollectParams}, kAlertSetupHelp{kAlertSetup},
    kStackerLimitHelp{kStackerLimit};

// A topic number alone names nothing in a compiled help file: the text file that holds the
// ".topic" entries has to be named inside it.
std::string ContextHelpFile(HMODULE module) {
    return ResolveHelpPath(module, PluginHelpFilePath(module), "/cshelp.txt");
}

void ShowContextHelp(HWND window, HelpTopics topics, int control) {
    const HelpTopic* found = nullptr;
    for (const HelpTopic& entry : topics)
        if (entry.control == control) {
            found = &entry;
            break;
        }
    HtmlHelpFn htmlHelp = found ? HtmlHelpEntry() : nullptr;
    if (!htmlHelp) return;
    std::wstring file = Widen(ContextHelpFile(g_module));
    HH_POPUP popup{};
    popup.cbStruct = sizeof popup;
    popup.idString = found->topic;
    popup.pt = {-1, -1};
    popup.clrForeground = popup.clrBackground = static_cast<COLORREF>(-1);
    popup.rcMargins = {-1, -1, -1, -1};
    popup.pszFont = L"MS Shell Dlg, 8";
    htmlHelp(window, file.c_str(), HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
}

}  // namespace Plugin
