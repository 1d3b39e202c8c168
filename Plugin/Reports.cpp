#include "Plugin/Reports.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Plugin/Config.h"
#include "Plugin/JobErrors.h"
#include "xdk/Source/Platform/FilePort.h"

namespace Plugin {

namespace {
const char kSource[] = "Plugin/Reports";
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
    if (!kind.pathValue.empty()) {
        RegKey paths(HKEY_LOCAL_MACHINE, kReportPathsKey, false, kRegReadAccess);
        std::wstring fallback = kind.defaultSubfolder.empty() ? std::wstring() : PluginReportsFolder() + kind.defaultSubfolder;
        // An unread folder must not send the report elsewhere unseen.
        folder = paths[kind.pathValue].TextOr(fallback, kSource, __LINE__);
    }
    folder = ExpEnv(folder);
    if (folder.empty()) return folder;
    return MakePathSpec(IsAbsolutePath(folder) ? folder : PluginReportsFolder() + folder);
}

std::wstring Reports::Write(uint32_t number, const TextParams& params, const ReportKind& kind) {
    const std::wstring d = kind.description.empty() ? std::wstring() : L" " + kind.description;
    try {
        std::wstring templateName = kind.templateOption.empty()
                                        ? kind.defaultTemplate
                                        : PluginOptions(kOptionsKey).Read(kind.templateOption.c_str(), kind.defaultTemplate,
                                                                                 kSource, __LINE__);
        if (templateName.empty()) return {};
        log_.Write(LogEvent::ReportInit, L"запись отчёта" + d + L" на диск терминала");
        // Rendering errors are reported by the session extender, which then answers no text.
        std::wstring text = printing_.RequestPrintText(templateName, params, false);
        if (text.empty()) return {};
        std::wstring folder = Folder(kind);
        if (folder.empty()) return {};
        if (!CreatePath(folder))
            throw VMAppException(L"Не удалось создать папку отчётов" + d + L": \"" + folder + L"\"");
        std::wstring name = WriteFile(number, text, folder, d);
        log_.Write(LogEvent::ReportDone, L"отчёт" + d + L" успешно записан в файл \"" + name + L"\"");
        return name;
    } catch (const VelmorException&) {
        HandleJobError(log_, LogEvent::ReportError, kDebugReportKey,
                       L"при создании отчёта" + d + L" произошла ошибка" + CaughtReason());
        return {};
    }
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
