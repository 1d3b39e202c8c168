#include "Plugin/Texts/Reports.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Terminal/JobErrors.h"
#include "xdk/Source/Platform/FilePort.h"

namespace Plugin {

namespace {
const char kSource[] = "Plugin/Texts/Reports";
}  // namespace

TextParams ReportParams(const ResetInfo& info) {
    TextParams params;
    if (info.number != 0) params[L"Report.Number"] = std::to_wstring(info.number);
    if (info.time) params[L"Report.DateTime"] = FormatDateTime(info.time, 2);
    if (info.previous) params[L"Report.PrevDateTime"] = FormatDateTime(info.previous, 2);
    return params;
}

std::wstring Reports::PluginReportsFolder() {
    return MakePathSpec(MakePathSpec(ExpEnv(std::wstring(L"%APPDATA%\\Velmor\\Paylantra\\Tallymark"))) + L"Reports");
}

std::wstring Reports::Folder(const ReportKind& kind) {
    std::wstring folder = kind.defaultSubfolder;
    if (*kind.pathValue) {
        RegKey paths(HKEY_LOCAL_MACHINE, kReportPathsKey, false, kRegReadAccess);
        std::wstring fallback = *kind.defaultSubfolder ? PluginReportsFolder() + kind.defaultSubfolder : std::wstring();
        // An unread folder must not send the report elsewhere unseen.
        folder = paths[kind.pathValue].TextOr(fallback, kSource, __LINE__);
    }
    folder = ExpEnv(folder);
    if (folder.empty()) return folder;
    return MakePathSpec(IsAbsolutePath(folder) ? folder : PluginReportsFolder() + folder);
}

std::wstring Reports::Write(uint32_t number, const TextParams& params, const ReportKind& kind) {
    const std::wstring d = *kind.description ? L" " + std::wstring(kind.description) : std::wstring();
    std::exception_ptr failure;
    try {
        return Render(number, params, kind, d);
    } catch (const VelmorException&) {
        failure = std::current_exception();
    }
    HandleJobError(log_, LogEvent::ReportError, kDebugReportKey, L"при создании отчёта" + d + L" произошла ошибка", failure);
    return {};
}

std::wstring Reports::Render(uint32_t number, const TextParams& params, const ReportKind& kind, const std::wstring& d) {
    std::wstring templateName =
        *kind.templateOption ? PluginOptions(kOptionsKey).Read(kind.templateOption, kind.defaultTemplate, kSource, __LINE__)
                             : std::wstring(kind.defaultTemplate);
    if (templateName.empty()) return {};
    log_.Write(LogEvent::ReportInit, L"запись отчёта" + d + L" на диск терминала");
    // Rendering errors are reported by the session extender, which then answers no text.
    std::wstring text = printing_.RequestPrintText(templateName, params, false);
    if (text.empty()) return {};
    std::wstring folder = Folder(kind);
    if (folder.empty()) return {};
    if (!CreatePath(folder)) throw VMAppException(L"Не удалось создать папку отчётов" + d + L": \"" + folder + L"\"");
    std::wstring name = WriteFile(number, text, folder, d);
    log_.Write(LogEvent::ReportDone, L"отчёт" + d + L" успешно записан в файл \"" + name + L"\"");
    return name;
}

std::wstring Reports::WriteFile(uint32_t number, const std::wstring& text, const std::wstring& folder, const std::wstring& d) {
    const std::wstring base = folder + Widen(FormatBuffer(16, "%08u", unsigned(number)));
    for (unsigned k = 0;; ++k) {
        std::wstring name = base + (k ? L"(" + std::to_wstring(k) + L")" : std::wstring()) + L".TXT";
        // Only a name nobody holds: an earlier report of the same number is never touched.
        FilePort port(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (port.IsOpen()) {
            try {
                SaveFile(port, Narrow1251(text));
            } catch (...) {
                // A report cut short must not pass for the period's report.
                port.Close();
                DeleteFileW(name.c_str());
                throw;
            }
            return name;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS && k < maxRetries_) continue;
        throw VMAppException(L"Не удалось создать отчёт" + d + L" (файл \"" + name + L"\", ошибка " +
                             Widen(FormatBuffer(32, "%i (%08X))", int(error), unsigned(error))));
    }
}

}  // namespace Plugin

namespace Plugin {

void PeriodReports::Report(const ReportStep& step, const ResetInfo& info) {
    TextParams params = ReportParams(info);
    reports_.Write(info.number, params, step.kind);
    alerts_.RaiseEventAlert(step.alert, &params);
}

void PeriodReports::ReportWithReset(const ReportStep& step) {
    if (!step.resetFirst) throw InternalError("ReportWithReset: the report step names no counter to reset");
    Report(step, counters_.Reset(step.resetFirst));
    counters_.Refresh();
}

void PeriodReports::WriteReport(const ReportStep& step, uint32_t number, const TextParams& params) {
    reports_.Write(number, params, step.kind);
}

void PeriodReports::StartRun() {
    run_ = counters_.Reset(L"App");
    counters_.Refresh();
    TextParams params = ReportParams(run_);
    alerts_.RaiseEventAlert(L"Startup", &params);
}

void PeriodReports::EndRun() {
    Report(ReportSteps::Exit, run_);
    counters_.RefreshAndCheckLimits();
}

void PeriodReports::ZReportReady() { log_.Write(LogEvent::ZReportReady, std::wstring(L"готовность к печати Z-отчёта")); }

void PeriodReports::ZReportDone() {
    log_.Write(LogEvent::ZReportDone, std::wstring(L"Z-отчёт напечатан"));
    ReportWithReset(ReportSteps::ZReport);
}

}  // namespace Plugin
