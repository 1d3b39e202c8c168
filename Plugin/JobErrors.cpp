#include "Plugin/JobErrors.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"
#include "Plugin/Config.h"

namespace Plugin {

std::wstring CaughtReason() {
    try {
        throw;
    } catch (const VelmorException& error) {
        return L": " + error.ReasonW();
    } catch (...) {
        return L" неивестного типа";
    }
}

void HandleJobError(OperationLog& log, LogEvent event, const wchar_t* debugKeyPath, const std::wstring& text) {
    RegKey debug(HKEY_CURRENT_USER, debugKeyPath, false, kRegReadAccess);
    if (ReadSetting(debug, L"Show Errors", false)) DebugMessage(nullptr, L"Tallymark: " + text);
    log.Write(event, text);
    if (ReadSetting(debug, L"Rethrow Errors", false)) throw;
}

}  // namespace Plugin
