// Expectations on the plugin's operation log: a record's event code is matched whole, its text
// within the record's own description.
#include "Host/Scenario.h"
#include <algorithm>

namespace Host {

namespace {

// An expectation's code and text, and every record of every day's file, oldest first.
struct LogSearch {
    explicit LogSearch(Line& line) : code(line.Word()), text(line.Rest()) {
        std::wstring pattern = LogPattern();
        std::vector<std::wstring> files = LogFiles(pattern);
        for (const std::wstring& file : files) {
            std::vector<LogRecord> day = ReadLogFile(file);
            records.insert(records.end(), day.begin(), day.end());
        }
        searched = std::to_wstring(records.size()) + L" record(s) in " + std::to_wstring(files.size()) +
                   L" log file(s) of " + pattern;
    }
    std::wstring Describe() const { return L"log record " + code + (text.empty() ? L"" : L" with \"" + text + L"\""); }
    bool Matches(const LogRecord& record) const {
        return record.code == code && record.description.find(text) != std::wstring::npos;
    }

    std::wstring code, text;
    std::vector<LogRecord> records;
    std::wstring searched;  // what was searched, in words
};

}  // namespace

void AddLogExpectations(CommandTable& expectations) {
    expectations.Add(L"log CODE [TEXT]",
                     L"a record of any day's file of the plugin's `LogPath` has exactly the event code CODE and TEXT within "
                     L"its description",
                     [](Scenario& scenario, Line& line) {
                         LogSearch search(line);
                         bool holds = std::any_of(search.records.begin(), search.records.end(),
                                                  [&](const LogRecord& r) { return search.Matches(r); });
                         scenario.Check(line, holds, search.Describe(), search.searched + L", none such");
                     });
    expectations.Add(L"no-log CODE [TEXT]",
                     L"no record of any day's file has the event code CODE and TEXT within its description",
                     [](Scenario& scenario, Line& line) {
                         LogSearch search(line);
                         std::wstring found;
                         size_t count = 0;
                         for (const LogRecord& record : search.records) {
                             if (!search.Matches(record)) continue;
                             ++count;
                             found += L"; " + record.file + L": " + record.text;
                         }
                         scenario.Check(line, count == 0, L"no " + search.Describe(),
                                        std::to_wstring(count) + L" such record(s)" + found);
                     });
}

}  // namespace Host
