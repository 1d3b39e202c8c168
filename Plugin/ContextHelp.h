// Context help of the control page and its dialogs: a text pop-up from the plugin's help file.
#pragma once
#include <windows.h>

namespace Plugin {

// Shows topic number `topic` of "Tallymark.chm" beside the module as a pop-up for `window`.
// HTML Help is loaded on first use; a missing help file or help library shows nothing.
void ShowContextHelp(HWND window, unsigned topic);

}  // namespace Plugin
