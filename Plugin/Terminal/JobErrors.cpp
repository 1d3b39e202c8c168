#include "Plugin/Terminal/JobErrors.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"
#include "PLLib/PLLib.h"
#include "Plugin/Settings/Config.h"

namespace Plugin {

bool SettleJobError(const wchar_t* debugKeyPath, const std::wstring& text, ErrorBox box) {
    RegKey debug(HKEY_CURRENT_USER, debugKeyPath, false, kRegReadAccess);
    if (!text.empty() && ReadSetting(debug, L"Show Errors", false)) {
        if (box == ErrorBox::Error)
            ErrorMessage(nullptr, text);
        else
            DebugMessage(nullptr, text);
    }
    return !ReadSetting(debug, L"Rethrow Errors", false);
}

void HandleJobError(OperationLog& log, LogEvent event, const wchar_t* debugKeyPath, const std::wstring& what,
                    const std::exception_ptr& failure) {
    std::optional<std::wstring> reason = ReasonOf(failure);
    const std::wstring text = what + (reason ? L": " + *reason : std::wstring(L" неивестного типа"));
    log.Write(event, text);
    if (!SettleJobError(debugKeyPath, L"Tallymark: " + text)) std::rethrow_exception(failure);
}

TemplateErrors::TemplateErrors() {
    RegKey settings(HKEY_CURRENT_USER, kDebugMacroKey, false, kRegReadAccess);
    std::wstring path = settings[L"DebugLog"].Text().value_or(std::wstring());
    if (path.empty()) return;
    log_ = std::make_unique<::PLLog>();
    log_->SetPathTemplate(path);
}

bool TemplateErrors::Report(const stringW& source, const MacroProc::Error& error) {
    if (log_) log_->Write(2, "%s", TemplateErrorRecord(source, error.ReasonW()).c_str());
    return SettleJobError(kDebugMacroKey, error.ReasonW(), ErrorBox::Error);
}

}  // namespace Plugin
