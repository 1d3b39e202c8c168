// Reports of counting periods: a text file per period, rendered from a template and numbered by the
// period, in a configurable folder. Files are only ever created, never overwritten.
#pragma once
#include "Plugin/BillCounters.h"
#include "Plugin/PLLog.h"
#include "Plugin/PrintTexts.h"
#include "Plugin/TextParams.h"
#include <string>

namespace Plugin {

// "Report.Number" (when not 0), "Report.DateTime" and "Report.PrevDateTime" (when valid), as local
// date and time of the short form.
TextParams ReportParams(const ResetInfo& info);

// What one kind of report reads: its folder's value under Config\Paths\Reports (and the subfolder
// of the plugin's reports folder when that value is missing), its template option and default
// template, and the words that complete its log texts.
struct ReportKind {
    std::wstring pathValue;
    std::wstring defaultSubfolder;
    std::wstring templateOption;
    std::wstring defaultTemplate;
    std::wstring description;
};

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
    std::wstring WriteFile(uint32_t number, const std::wstring& text, const std::wstring& folder, const std::wstring& d);

    OperationLog& log_;
    PrintTexts& printing_;
    unsigned maxRetries_;
};

}  // namespace Plugin
