// Alerts: named registry entries that tell the terminal's owner by e-mail that something happened.
// Raising one fills the host's e-mail properties, has the session extender render the text from a
// template, and asks the host's mailer to send it. A raised alert is marked per user, so that a
// lasting condition mails once until it is cleared.
#pragma once
#include "Plugin/Counting/PLLog.h"
#include "Plugin/Texts/TextParams.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <exception>
#include <string>

namespace Plugin {

class Alerts {
public:
    Alerts(PLXDK::Paylantra::PLClient& terminal, OperationLog& log) : terminal_(terminal), log_(log) {}

    // A terminal event's alert: sent every time its event switch is on. True when the alert now
    // counts as sent.
    bool RaiseEventAlert(const std::wstring& event, const TextParams* params = nullptr);
    // Sets (sending unless already sent, or always when forced) or clears an alert.
    bool RaiseOrClearAlert(const std::wstring& alert, bool set, bool force, const TextParams* params = nullptr);

private:
    // The alert's error, as every side job's: logged, shown and perhaps raised again.
    void LogAlertError(const std::wstring& alert, bool set, const std::exception_ptr& failure);
    void SendMail(const std::wstring& alert, const RegKey& machine, const RegKey& email, const TextParams* params);

    PLXDK::Paylantra::PLClient& terminal_;
    OperationLog& log_;
};

}  // namespace Plugin
