// Context help of the control page and its dialogs: text pop-ups from the plugin's help file.
#pragma once
#include <windows.h>
#include <span>
#include <string>

namespace Plugin {

struct HelpTopic {
    int control;
    unsigned topic;
};
using HelpTopics = std::span<const HelpTopic>;

// Each window's controls and their topic numbers in the help file's pop-up texts.
extern const HelpTopics kControlPageHelp, kCollectParamsHelp, kAlertSetupHelp, kStackerLimitHelp;

// The pop-up texts inside "Tallymark.chm" beside the module: HTML Help reads the topic numbers there.
std::string ContextHelpFile(HMODULE module);

// Shows the pop-up of `control`'s topic in `topics` for `window`; nothing for a control without
// one. HTML Help is loaded on first use; a missing help file or help library shows nothing.
void ShowContextHelp(HWND window, HelpTopics topics, int control);

}  // namespace Plugin
