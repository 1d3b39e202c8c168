#include "Plugin/Alerts.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "PLLib/PLLib.h"
#include "Plugin/Config.h"
#include "Plugin/JobErrors.h"

using PLXDK::Paylantra::PLSession;

namespace Plugin {

namespace {

constexpr size_t kLogTextLimit = 256;

std::wstring AlertKeyPath(const std::wstring& alert) { return std::wstring(kAlertsKey) + L"\\" + alert; }

// Log records are Windows-1251 text, shortened by their bytes.
std::string Quoted(const std::wstring& text) {
    return "\"" + ShortenForLog(Narrow1251(text), kLogTextLimit, kTextCodePage) + "\"";
}

bool Disabled(const RegKey& key) { return ReadSetting(key, L"Disabled", 0) != 0; }

}  // namespace

bool Alerts::IsEventEnabled(const std::wstring& event) {
    return PluginOptions(kOptionsAlertEventsKey).Read(event.c_str(), false);
}

bool Alerts::RaiseEventAlert(const std::wstring& event, const TextParams* params) {
    if (event.empty() || !IsEventEnabled(event)) return false;
    RegKey mapping(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, false, kRegReadAccess);
    return RaiseOrClearAlert(ReadSetting(mapping, event.c_str(), event), true, true, params);
}

bool Alerts::RaiseOrClearAlert(const std::wstring& alert, bool set, bool force, const TextParams* params) {
    if (alert.empty()) return false;
    RegKey machine(HKEY_LOCAL_MACHINE, AlertKeyPath(alert), false, kRegReadAccess);
    if (!machine) return false;
    RegKey user(HKEY_CURRENT_USER, AlertKeyPath(alert), true, kRegWriteAccess);
    if (!user) throw WindowsError(user.LastError(), "Plugin/Alerts", __LINE__);
    bool alerted = user[L"alerted"].Valid();

    if (!set) {
        try {
            if (alerted) user[L"alerted"].Delete();
            if (user[L"alerted"].Valid())
                throw VMAppException(L"Не удалось удалить признак отправки уведомления в системном реестре Windows");
        } catch (const VelmorException&) {
            HandleJobError(log_, LogEvent::AlertError, kDebugAlertKey,
                           L"при настройке уведомления \"" + alert + L"\" произошла ошибка" + CaughtReason());
        }
        return false;
    }

    if (!force && alerted) return true;
    if (Disabled(user) || Disabled(machine)) return alerted;
    try {
        if (RegKey email(machine.Handle(), L"email", false, kRegReadAccess); email) SendMail(alert, machine, email, params);
        user[L"alerted"] = FormatDateTime(RealTime::NowUTC(), 0);
    } catch (...) {
        HandleJobError(log_, LogEvent::AlertError, kDebugAlertKey,
                       L"при создании уведомления \"" + alert + L"\" произошла ошибка" + CaughtReason());
        return false;
    }
    return user[L"alerted"].Valid();
}

void Alerts::SendMail(const std::wstring& alert, const RegKey& machine, const RegKey& email, const TextParams* params) {
    log_.Write(LogEvent::AlertMail, Narrow1251(L"отправляется уведомление ") + Quoted(alert));
    PLSession env = terminal_.GetEnvironmentSession();
    env.SetProperty("Tallymark.Alert.Name", alert);
    env.SetProperty("Tallymark.Alert.Description", ReadSetting(machine, L"Description", alert));
    env.SetProperty("Tallymark.Email.Type", ReadSetting(email, L"type", L"alert"));
    const struct {
        const wchar_t* value;
        const char* property;
    } fields[] = {{L"template", "Tallymark.Email.Template"},
                  {L"from", "Tallymark.Email.From"},
                  {L"to", "Tallymark.Email.To"},
                  {L"subject", "Tallymark.Email.Subject"}};
    for (const auto& field : fields) env.SetProperty(field.property, ReadSetting(email, field.value, L""));
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
