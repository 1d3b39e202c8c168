// The three settings dialogs that the control page's buttons open. Each edits the page's held copy
// of the settings and answers true when it ended with OK; nothing is written to the registry here.
#pragma once
#include <windows.h>

#include "Plugin/Settings/Settings.h"

namespace Plugin {

bool RunCollectParams(HWND owner, CollectionSettings& settings);
// Names of no event in the set are left as they are.
bool RunAlertSetup(HWND owner, AlertEventSet& events);
bool RunStackerLimit(HWND owner, StackerLimit& limit);

}  // namespace Plugin
