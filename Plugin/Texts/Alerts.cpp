#include "Plugin/Texts/Alerts.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "PLLib/PLLib.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Terminal/JobErrors.h"
#include "Plugin/Settings/Settings.h"

using PLXDK::Paylantra::PLSession;

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Texts/Alerts";
constexpr size_t kLogTextLimit = 256;

std::wstring AlertKeyPath(const std::wstring& alert) { return std::wstring(kAlertsKey) + L"\\" + alert; }

// Log records are Windows-1251 text, shortened by their bytes.
std::string Quoted(const std::wstring& text) {
    return "\"" + ShortenForLog(Narrow1251(text), kLogTextLimit, kTextCodePage) + "\"";
}

bool Disabled(const RegKey& key) { return key[L"Disabled"].IntOr(0, kSource, __LINE__) != 0; }

}  // namespace

// Registry reads here tell a missing value (the alert is not configured) from a failed one, which
// is logged: an alert lost to a registry error must not look like one that was switched off.
bool Alerts::RaiseEventAlert(const std::wstring& event, const TextParams* params) {
    if (event.empty()) return false;
    std::wstring alert;
    try {
        if (!AlertEventOn(event)) return false;
        RegKey mapping(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, false, kRegReadAccess);
        alert = mapping[event].TextOr(event, kSource, __LINE__);
    } catch (const VelmorException&) {
        LogAlertError(event, true, std::current_exception());
        return false;
    }
    return RaiseOrClearAlert(alert, true, true, params);
}

void Alerts::LogAlertError(const std::wstring& alert, bool set, const std::exception_ptr& failure) {
    HandleJobError(log_, LogEvent::AlertError, kDebugAlertKey,
                   std::wstring(set ? L"при создании" : L"при настройке") + L" уведомления \"" + alert + L"\" произошла ошибка",
                   failure);
}

bool Alerts::RaiseOrClearAlert(const std::wstring& alert, bool set, bool force, const TextParams* params) {
    if (alert.empty()) return false;
    RegKey machine(HKEY_LOCAL_MACHINE, AlertKeyPath(alert), false, kRegReadAccess);
    if (machine.IsMissing()) return false;
    if (!machine) {
        LogAlertError(alert, set, std::make_exception_ptr(WindowsError(machine.LastError(), kSource, __LINE__)));
        return false;
    }
    RegKey user = RegKey::OpenToWrite(HKEY_CURRENT_USER, AlertKeyPath(alert), kSource, __LINE__);
    bool alerted = user[L"alerted"].Valid();

    if (!set) {
        std::exception_ptr failure;
        try {
            if (alerted) user[L"alerted"].Delete();
        } catch (const VelmorException&) {
            failure = std::current_exception();
        }
        if (!failure && user[L"alerted"].Valid())
            failure = std::make_exception_ptr(
                VMAppException(L"Не удалось удалить признак отправки уведомления в системном реестре Windows"));
        if (failure) LogAlertError(alert, false, failure);
        return false;
    }

    if (!force && alerted) return true;
    try {
        if (Disabled(user) || Disabled(machine)) return alerted;
        // A mail definition that cannot be read is told, never taken for none.
        RegKey email = RegKey::OpenToRead(machine.Handle(), L"email", kSource, __LINE__);
        if (email) SendMail(alert, machine, email, params);
        user[L"alerted"] = FormatDateTime(RealTime::NowUTC(), 0);
    } catch (...) {
        LogAlertError(alert, true, std::current_exception());
        return false;
    }
    return user[L"alerted"].Valid();
}

void Alerts::SendMail(const std::wstring& alert, const RegKey& machine, const RegKey& email, const TextParams* params) {
    log_.Write(LogEvent::AlertMail, Narrow1251(L"отправляется уведомление ") + Quoted(alert));
    PLSession env = terminal_.GetEnvironmentSession();
    env.SetProperty("Tallymark.Alert.Name", alert);
    env.SetProperty("Tallymark.Alert.Description", machine[L"Description"].TextOr(alert, kSource, __LINE__));
    env.SetProperty("Tallymark.Email.Type", email[L"type"].TextOr(L"alert", kSource, __LINE__));
    const struct {
        const wchar_t* value;
        const char* property;
    } fields[] = {{L"template", "Tallymark.Email.Template"},
                  {L"from", "Tallymark.Email.From"},
                  {L"to", "Tallymark.Email.To"},
                  {L"subject", "Tallymark.Email.Subject"}};
    for (const auto& field : fields) env.SetProperty(field.property, email[field.value].TextOr(L"", kSource, __LINE__));
    env.ClearProperty("Tallymark.Email.Text");
    WriteTextParams(env, "Tallymark.Email.TextParams", params ? *params : TextParams());
    env.InvokeEvent("Tallymark.CreateEmail");

    std::wstring text = env.GetProperty("Tallymark.Email.Text");
    if (text.empty()) return;
    std::wstring to = env.GetProperty("Tallymark.Email.To");
    env.SetProperty("Email.From", env.GetProperty("Tallymark.Email.From"));
    env.SetProperty("Email.To", to);
    env.SetProperty("Email.Subject", env.GetProperty("Tallymark.Email.Subject"));
    env.SetProperty("Email.Text", text);
    env.InvokeEvent("Email.SendMail");
    log_.Write(LogEvent::AlertDone,
               Narrow1251(L"уведомление отправлено") + (to.empty() ? std::string() : Narrow1251(L" по адресу ") + Quoted(to)));
}

}  // namespace Plugin
