#include "Plugin/Install.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Texts/DefaultTemplates.h"
#include "Plugin/Plugin.h"
#include "Plugin/Settings/Settings.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/RealTime.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "PLLib/PLLib.h"
#include "PLLib/PluginPaths.h"
#include "Paylantrx/PaylantrxLib.h"
#include <algorithm>
#include <type_traits>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Install";
constexpr wchar_t kDescription[] = L"Velmor Paylantra Tallymark plugin";

RegKey OpenForWriting(HKEY parent, const std::wstring& path) { return RegKey::OpenToWrite(parent, path, kSource, __LINE__); }

// A value counts as present only when it reads as its type: one of another type is unreadable to
// every reader, so it gets the default like a missing one.
template <class T>
void WriteWhenAbsent(const RegKey& key, const wchar_t* name, const T& value) {
    typename std::conditional<std::is_integral<T>::value, DWORD, std::wstring>::type current{};
    LONG result = key[name].Read(current);
    if (result == ERROR_SUCCESS) return;
    if (result != ERROR_FILE_NOT_FOUND) throw WindowsError(DWORD(result), kSource, __LINE__);
    key[name] = value;
}
void WriteWhenAbsent(const RegKey& key, const wchar_t* name, const wchar_t* value) {
    WriteWhenAbsent(key, name, std::wstring(value));
}

std::wstring Braced(REFCLSID clsid) {
    wchar_t text[40] = {};
    if (!StringFromGUID2(clsid, text, int(std::size(text)))) throw InternalError("class ID does not fit its text");
    return text;
}

void RegisterCoclass(REFCLSID clsid, const std::wstring& module, const wchar_t* hostKey) {
    RegKey classKey = OpenForWriting(HKEY_CLASSES_ROOT, L"CLSID\\" + Braced(clsid));
    classKey[L""] = kDescription;
    RegKey server = OpenForWriting(classKey.Handle(), L"InProcServer32");
    server[L""] = module;
    server[L"ThreadingModel"] = L"Both";
    OpenForWriting(HKEY_LOCAL_MACHINE, hostKey)[L"CLSID"] = Braced(clsid);
}

// A path built from the host's folder values is written only whole: every environment reference
// of the folder resolved, no character that a file name cannot hold (the code page's stand-in '?'
// among them), and short enough for MAX_PATH once in use (`grows` characters more).
std::wstring WholePath(const wchar_t* what, const std::string& folder, const std::wstring& name, size_t grows = 0) {
    const std::wstring path = Widen(folder) + name;
    std::wstring problem;
    const std::wstring undefined = UndefinedEnvReference(Widen(folder));
    if (!undefined.empty())
        problem = L"неизвестная переменная окружения %" + undefined + L"%";
    else if (folder.find_first_of("<>\"|?*") != std::string::npos ||
             std::any_of(folder.begin(), folder.end(), [](char c) { return c >= 0 && c < ' '; }))
        problem = L"недопустимые символы в пути";
    else if (path.size() + grows >= MAX_PATH)
        problem = L"путь длиннее " + std::to_wstring(MAX_PATH - 1) + L" символов";
    if (!problem.empty()) throw VMAppException(std::wstring(what) + L" \"" + path + L"\": " + problem);
    return path;
}

struct Paths {
    std::wstring module, collectPage, logPath;
};

// Every path of the installation, computed and checked before anything is written.
Paths ComputePaths() {
    Paths paths;
    paths.module = ModuleFileNameW(g_module);
    if (paths.module.empty()) throw WindowsError(GetLastError(), kSource, __LINE__);
    paths.collectPage = WholePath(L"путь страницы инкассации", PluginHtmlPath(), SetDefaultExt(std::wstring(L"collect"), L".html"));
    // In use, the log's "*" becomes "(yyyy-mm-dd)".
    const std::wstring logName = L"Tallymark\\Tallymark *.txt";
    const size_t dated = DatedLogPath(Narrow(logName), RealTime::Now()).size() - logName.size();
    paths.logPath = WholePath(L"путь журнала операций", LogRootPath(), logName, dated);
    return paths;
}

struct AlertDefault {
    const wchar_t* name;
    const wchar_t* description;  // null: none written
    const wchar_t* templateName;
};

constexpr AlertDefault kAlerts[] = {
    {L"BillCounterOverflow", L"Переполнение стекера", L"BillCounterOverflow.message"},
    {L"Collect", L"Выполнена инкассация", L"collect.message"},
    {kLimitAlert, nullptr, L"BillCounterOverflow.message"},
    {L"Exit", L"Завершение программы", L"exit.message"},
    {L"NextDay", L"Изменилась текущая дата", L"nextday.message"},
    {L"NoStacker", L"Стекер удалён", L"NoStacker.message"},
    {L"Payment", L"Приняты наличные", L"payment.message"},
    {L"SessionFinish", L"Выполнен платёж", L"SessionFinish.message"},
    {L"Stacker", L"Стекер установлен", L"stacker.message"},
    {L"Startup", L"Запуск программы", L"startup.message"},
    {L"ZReport", L"Напечатан Z-отчёт", L"zreport.message"},
};

}  // namespace

void Install() {
    const Paths paths = ComputePaths();

    RegisterCoclass(CLSID_Plugin, paths.module, kPluginKey);
    RegisterCoclass(CLSID_ControlPlugin, paths.module, kControlPluginKey);
    OpenForWriting(HKEY_LOCAL_MACHINE, kHostURLKey)[L"collect"] = paths.collectPage;

    RegKey machine = OpenForWriting(HKEY_LOCAL_MACHINE, kPluginKey);
    OpenForWriting(HKEY_CURRENT_USER, kPluginKey);
    OpenForWriting(machine.Handle(), L"Collect");
    WriteWhenAbsent(machine, L"LogPath", paths.logPath);

    RegKey alerts = OpenForWriting(machine.Handle(), L"Alerts");
    for (const AlertDefault& alert : kAlerts) {
        RegKey key = OpenForWriting(alerts.Handle(), alert.name);
        if (alert.description) WriteWhenAbsent(key, L"Description", alert.description);
        WriteWhenAbsent(OpenForWriting(key.Handle(), L"email"), L"template", alert.templateName);
    }

    RegKey counters = OpenForWriting(machine.Handle(), L"Bill Counters");
    WriteWhenAbsent(OpenForWriting(counters.Handle(), L"Terminal"), L"Reset Timestamp", Format(RealTime::Now().UTC(), 0));
    OpenForWriting(counters.Handle(), L"Collect");

    // The settings the control page edits: their installed defaults, from the one model.
    const StackerLimit limit = StackerLimit::Installed();
    RegKey config = OpenForWriting(machine.Handle(), L"Config");
    if (limit.notice) WriteWhenAbsent(OpenForWriting(config.Handle(), L"Alert Events"), kOverflowEvent, kLimitAlert);

    RegKey limits = OpenForWriting(machine.Handle(), L"Counter Limits");
    for (const StackerLimit::Entry& entry : limit.Entries()) {
        RegKey key = OpenForWriting(limits.Handle(), entry.name);
        entry.Values([&](const wchar_t* value, const auto& data) { WriteWhenAbsent(key, value, data); });
    }

    RegKey options = OpenForWriting(machine.Handle(), L"Options");
    for (const auto& [name, value] : CollectionSettings().Seed()) WriteWhenAbsent(options, name, value);
    RegKey alertEvents = OpenForWriting(options.Handle(), L"Alert Events");
    for (const AlertEvent& event : kAlertEvents) WriteWhenAbsent(alertEvents, event.name, DWORD(event.installed ? 1 : 0));

    RegKey templates = OpenForWriting(machine.Handle(), L"Print Templates");
    for (const DefaultTemplate& entry : kDefaultTemplates) WriteWhenAbsent(templates, entry.property, entry.file);
}

}  // namespace Plugin

extern "C" int __cdecl PaylantraPlugin_InstallInit(void*, unsigned char) {
    try {
        Plugin::Install();
        return 1;
    } catch (...) {
        Plugin::ShowModuleFailure(L"Ошибка установки модуля ", L"Неизвестная ошибка установки модуля ");
    }
    return 0;
}
