// Temporary until the settings dialogs land: every dialog answers as if cancelled.
#include "Plugin/SettingsDialogs.h"

namespace Plugin {

bool RunCollectParams(HWND, unsigned&, unsigned&, unsigned&) { return false; }
bool RunAlertSetup(HWND, AlertEventSet&) { return false; }
bool RunStackerLimit(HWND, unsigned&, unsigned&, unsigned&) { return false; }

}  // namespace Plugin
