// Reports of counting periods: a text file per period, rendered from a template and numbered by the
// period, in a configurable folder, and the alert that goes with it. Files are only ever created,
// never overwritten.
#pragma once
#include "Plugin/Texts/Alerts.h"
#include "Plugin/Counting/BillCounters.h"
#include "Plugin/Counting/PLLog.h"
#include "Plugin/Texts/PrintTexts.h"
#include "Plugin/Texts/TextParams.h"
#include <string>

namespace Plugin {

// "Report.Number" (when not 0), "Report.DateTime" and "Report.PrevDateTime" (when valid), as local
// date and time of the short form.
TextParams ReportParams(const ResetInfo& info);

// What one kind of report reads: its folder's value under Config\Paths\Reports (and the subfolder
// of the plugin's reports folder when that value is missing), its template option and default
// template, and the words that complete its log texts.
struct ReportKind {
    const wchar_t* pathValue;
    const wchar_t* defaultSubfolder;
    const wchar_t* templateOption;
    const wchar_t* defaultTemplate;
    const wchar_t* description;
};

// One period's report-and-alert step: the counter reset first (or none), the alert event, the report.
struct ReportStep {
    const wchar_t* resetFirst;
    const wchar_t* alert;
    ReportKind kind;
};

namespace ReportSteps {
inline constexpr ReportStep Exit{nullptr, L"Exit", {L"Run", L"", L"Exit Report Template", L"", L""}};
inline constexpr ReportStep Stacker{L"Stacker", L"Stacker", {L"Stacker", L"", L"Stacker Report Template", L"", L"об установке стекера"}};
inline constexpr ReportStep NextDay{L"Today", L"NextDay", {L"Today", L"", L"Daily Report Template", L"", L"о смене текущей даты"}};
inline constexpr ReportStep ZReport{L"ZReport", L"ZReport", {L"ZReport", L"ZReport", L"ZReport Report Template", L"zreport.report", L""}};
inline constexpr ReportStep Payment{nullptr, L"Payment", {L"Payment", L"", L"Payment Report Template", L"", L"о приёме платежа"}};
inline constexpr ReportStep SessionFinish{nullptr, L"SessionFinish", {L"Session", L"", L"Session Finish Report Template", L"", L""}};
inline constexpr ReportStep Collect{nullptr, L"Collect", {L"collect", L"Collect", L"Collect Report Template", L"collect.report", L"об инкассации"}};
}  // namespace ReportSteps

class Reports {
public:
    // Past this many numbered retries ("(1)", "(2)", ...) a report gives up on its number.
    static constexpr unsigned kMaxRetries = 9999;

    Reports(OperationLog& log, PrintTexts& printing, unsigned maxRetries = kMaxRetries)
        : log_(log), printing_(printing), maxRetries_(maxRetries) {}

    // Writes the report file; returns its name, or empty when none was written. Failures are
    // logged, shown and rethrown as the Debug\Report switches say.
    std::wstring Write(uint32_t number, const TextParams& params, const ReportKind& kind);

    // "%APPDATA%\Velmor\Paylantra\Tallymark\Reports\", expanded.
    static std::wstring PluginReportsFolder();
private:
    // The folder a kind of report goes to, expanded and complete; empty when it is not written.
    static std::wstring Folder(const ReportKind& kind);
    // Write without its error handling: raises what fails.
    std::wstring Render(uint32_t number, const TextParams& params, const ReportKind& kind, const std::wstring& d);
    std::wstring WriteFile(uint32_t number, const std::wstring& text, const std::wstring& folder, const std::wstring& d);

    OperationLog& log_;
    PrintTexts& printing_;
    unsigned maxRetries_;
};

// The counting periods' ends: the report, then the alert, each period with its own counter.
class PeriodReports {
public:
    PeriodReports(OperationLog& log, BillCounters& counters, Reports& reports, Alerts& alerts)
        : log_(log), counters_(counters), reports_(reports), alerts_(alerts) {}

    // The report-and-alert step of a period that ended with `info`: the file, then the alert, sent
    // even when no file was written.
    void Report(const ReportStep& step, const ResetInfo& info);
    // Resets the step's counter first, reports the period it ended, then refreshes the counters.
    void ReportWithReset(const ReportStep& step);
    // Only the file of a period's report, for a period that sends its alert itself (a collection).
    void WriteReport(const ReportStep& step, uint32_t number, const TextParams& params);

    // The program's run: "App" is reset and "Startup" alerted at start; the run is reported at exit.
    void StartRun();
    void EndRun();
    // The Z-report's two events.
    void ZReportReady();
    void ZReportDone();

private:
    OperationLog& log_;
    BillCounters& counters_;
    Reports& reports_;
    Alerts& alerts_;
    ResetInfo run_;
};

}  // namespace Plugin
