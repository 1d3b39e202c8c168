// Scenario commands of print texts: the host's print-template folder, the print-text request of the
// collection screen's scripts, and what the template error log recorded meanwhile.
#include "Host/Scenario.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include <fstream>
#include <iterator>

namespace Host {

namespace {

constexpr wchar_t kHostKey[] = L"Software\\Velmor\\Paylantra";
constexpr wchar_t kPrintTemplatesKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Print Templates";
constexpr wchar_t kMacroDebugKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug\\Macro";
constexpr wchar_t kCollectError[] = L"Tallymark.Collect.Error";
// The host folder that `templates` fills; the plugin reads its own templates from its "Tallymark".
constexpr wchar_t kTemplateFolder[] = L"%TEMP%\\tally-print-templates";

void PointTemplateFolder(Scenario& scenario, Line& line) {
    std::wstring source = scenario.Resolve(line.Word());
    std::wstring folder = ExpEnv(kTemplateFolder);
    std::wstring target = folder + L"\\Tallymark";
    RemoveTree(folder);  // no file of an earlier run stays
    if (!CreatePath(target)) Fail(L"cannot make the folder " + target);
    size_t copied = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((source + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::wstring from = source + L"\\" + found.cFileName;
            if (!CopyFileW(from.c_str(), (target + L"\\" + found.cFileName).c_str(), FALSE))
                Fail(L"cannot copy " + from + L" (error " + std::to_wstring(GetLastError()) + L")");
            ++copied;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (copied == 0) Fail(L"no template files in " + source);
    RegKey host(HKEY_LOCAL_MACHINE, kHostKey, true, kRegWriteAccess);
    if (!host) Fail(L"cannot open the host key (error " + std::to_wstring(host.LastError()) + L")");
    host[L"PrintTemplates"] = std::wstring(kTemplateFolder);
    scenario.Host().transcript.Add(L"host", L"print templates: " + std::to_wstring(copied) + L" file(s) of " + source +
                                                L" in " + target);
}

// The records that the template error log gets after this was made. Only a log that names one
// file is followed: a "*" in the path stands for a date that changes with the plugin's clock.
class ErrorLogTail {
public:
    ErrorLogTail() {
        RegKey settings(HKEY_CURRENT_USER, kMacroDebugKey, false, kRegReadAccess);
        path_ = settings ? ExpEnv(settings[L"DebugLog"].Text().value_or(L"")) : L"";
        if (path_.find(L'*') != std::wstring::npos) path_.clear();
        start_ = Size();
    }
    std::vector<std::wstring> NewRecords() const {
        std::vector<std::wstring> records;
        if (path_.empty() || Size() <= start_) return records;
        std::ifstream in(path_.c_str(), std::ios::binary);
        in.seekg(std::streamoff(start_));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) records.push_back(Widen(line, 1251));  // the plugin's narrow texts are Windows-1251
        }
        return records;
    }

private:
    unsigned long long Size() const {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (path_.empty() || !GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) return 0;
        return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    std::wstring path_;
    unsigned long long start_ = 0;
};

void PrintText(Scenario& scenario, Line& line) {
    std::wstring name = line.Word();
    std::vector<std::pair<std::wstring, std::wstring>> params;
    while (!line.AtEnd()) {
        std::wstring word = line.Word();
        size_t eq = word.find(L'=');
        if (eq == std::wstring::npos || eq == 0) Fail(L"a parameter is NAME=VALUE, not \"" + word + L"\"");
        params.emplace_back(word.substr(0, eq), word.substr(eq + 1));
    }
    Session& environment = scenario.Host().Environment();
    environment.PutProperty(L"Tallymark.Print.Template", name);
    environment.PutProperty(L"Tallymark.Print.Params.length", std::to_wstring(params.size()));
    for (size_t i = 0; i < params.size(); ++i) {
        std::wstring prefix = L"Tallymark.Print.Params[" + std::to_wstring(i) + L"]";
        environment.PutProperty(prefix + L".name", params[i].first);
        environment.PutProperty(prefix + L".value", params[i].second);
    }
    ErrorLogTail errors;
    // A request that fails (a template that cannot be loaded) is answered as a collection error.
    environment.PutProperty(kCollectError, L"");
    environment.PutProperty(L"Tallymark.Print.Text", L"");  // no text of an earlier request stands for this one's
    scenario.Host().transcript.Add(L"host", L"print " + name);
    scenario.Host().DeliverEvent(L"Tallymark.Collect.CreatePrintText");
    scenario.printed = environment.Property(L"Tallymark.Print.Text");

    RegKey files(HKEY_LOCAL_MACHINE, kPrintTemplatesKey, false, kRegReadAccess);
    std::wstring file = files ? files[name].Text().value_or(L"") : L"";
    scenario.Show(L"---- " + name + (file.empty() ? L"" : L" (" + file + L")"));
    const std::wstring& text = scenario.printed;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring row = text.substr(start, end - start);
        if (!row.empty() && row.back() == L'\r') row.pop_back();
        scenario.Show(row);
        start = end + 1;
    }
    for (const std::wstring& record : errors.NewRecords()) scenario.Warn(record);
    std::wstring failure = environment.Property(kCollectError);
    if (!failure.empty()) scenario.Warn(failure);
}

}  // namespace

void AddPrintCommands(CommandTable& commands) {
    commands.Add(L"templates DIR",
                 L"copies the files of DIR (a relative DIR lies beside the scenario file) into "
                 L"`%TEMP%\\tally-print-templates\\Tallymark` and points the host's print-template folder (machine value "
                 L"\"PrintTemplates\") at `%TEMP%\\tally-print-templates`, where the plugin looks for its templates",
                 PointTemplateFolder);
    commands.Add(L"print TEMPLATE [NAME=VALUE ...]",
                 L"asks for a print text as the collection screen's script does: sets \"Tallymark.Print.Template\" and "
                 L"the parameters, raises \"Tallymark.Collect.CreatePrintText\" and prints \"Tallymark.Print.Text\", then "
                 L"every record that the template error log (\"DebugLog\" under `Debug\\Macro`, one file) got meanwhile, "
                 L"and the collection error (\"Tallymark.Collect.Error\") of a request that failed",
                 PrintText);
}

void AddPrintExpectations(CommandTable& expectations) {
    expectations.Add(L"printed TEXT", L"the text of the last `print` contains TEXT", [](Scenario& scenario, Line& line) {
        std::wstring text = line.Rest();
        bool holds = !text.empty() && scenario.printed.find(text) != std::wstring::npos;
        scenario.Check(line, holds, L"printed " + text,
                       scenario.printed.empty() ? L"no text" : L"\"" + scenario.printed + L"\"");
    });
}

}  // namespace Host
