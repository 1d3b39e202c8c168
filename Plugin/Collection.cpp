#include "Plugin/Collection.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"
#include "Plugin/Config.h"

namespace Plugin {

bool Collection::ReportError(const std::wstring& shortText, const std::wstring& longText) {
    RegKey debug(HKEY_CURRENT_USER, kDebugCollectKey, false, kRegReadAccess);
    const std::wstring& logText = longText.empty() ? shortText : longText;
    if (!logText.empty()) log_.Write(LogEvent::CollectError, logText);
    if (!shortText.empty() && ReadSetting(debug, L"Show Errors", false)) DebugMessage(nullptr, shortText);
    terminal_.SetProperty("Tallymark.Collect.Error", shortText);
    printTexts_.RunScriptHook("Tallymark.OnError");
    return !ReadSetting(debug, L"Rethrow Errors", false);
}

bool Collection::ReportException() {
    std::wstring reason;
    try {
        throw;
    } catch (const VelmorException& error) {
        reason = error.ReasonW();
    }
    return ReportError(L"Ошибка: " + reason, L"при выполнении инкассации произошла ошибка: " + reason);
}

void Collection::PublishStackerState(bool stackerRemoved) {
    terminal_.SetPropertyBool("Tallymark.StackerInstalled", !stackerRemoved);
    printTexts_.RunScriptHook("Tallymark.OnStacker");
}

}  // namespace Plugin
