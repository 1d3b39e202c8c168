// Expectations on what the host saw: properties, registry values, boxes, events, navigation,
// scripts, mails, named failures, files and the process environment.
#include "Host/Scenario.h"
#include "Framework/Paths.h"
#include <algorithm>
#include <fstream>
#include <sstream>

namespace Host {

namespace {

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

size_t ByPosition(const Box&, size_t index) { return index; }

std::wstring BoxText(const Box& box) { return box.caption + L": " + box.text; }

}  // namespace

std::wstring ReadPluginTextFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string text = bytes.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return Widen(text.substr(3), CP_UTF8);
    return Widen(text, 1251);
}

void AddHostExpectations(CommandTable& expectations) {
    expectations.Add(L"prop NAME = TEXT", L"the environment property reads TEXT", [](Scenario& scenario, Line& line) {
        std::wstring name = line.Word();
        line.Expect(L"=");
        std::wstring value = line.Rest();
        std::wstring actual = scenario.Host().Environment().Property(name);
        scenario.Check(line, actual == value, L"prop " + name + L" = \"" + value + L"\"", L"\"" + actual + L"\"");
    });
    expectations.Add(L"reg \"KEY\" \"NAME\" = VALUE",
                     L"the value reads `dword:N`, `sz:TEXT` or `missing`; a bare VALUE matches either form",
                     [](Scenario& scenario, Line& line) {
                         std::wstring keyText = line.Word(), path;
                         HKEY root = ParseRegistryPath(keyText, path);
                         std::wstring name = line.Word();
                         line.Expect(L"=");
                         std::wstring value = line.Rest();
                         std::wstring actual = DescribeValue(root, path, name);
                         bool holds = actual == value || actual == L"sz:" + value || actual == L"dword:" + value;
                         scenario.Check(line, holds, L"reg " + keyText + L" \"" + name + L"\" = " + value, actual);
                     });
    expectations.Add(L"install N", L"the last `install` was answered N; without an `install` it fails",
                     [](Scenario& scenario, Line& line) {
                         long long expected = line.Number();
                         const std::optional<int>& answer = scenario.installAnswer;
                         scenario.Check(line, answer && *answer == expected, L"install answered " + std::to_wstring(expected),
                                        answer ? std::to_wstring(*answer) : std::wstring(L"no install ran"));
                     });
    expectations.Add(L"box TEXT", L"a message box that no earlier `expect box` matched has TEXT in \"caption: text\"",
                     [](Scenario& scenario, Line& line) {
                         std::wstring text = line.Rest();
                         const auto& boxes = Boxes::All();
                         bool holds = MatchOnce(boxes, scenario.matched.boxes, ByPosition,
                                                [&](const Box& box) { return Contains(BoxText(box), text); });
                         scenario.Check(line, holds, L"box " + text,
                                        std::to_wstring(boxes.size()) + L" box(es), none unmatched with that text");
                     });
    expectations.Add(L"no-box", L"the plugin showed no box that no `expect box` matched",
                     [](Scenario& scenario, Line& line) {
                         const auto& boxes = Boxes::All();
                         size_t left = CountUnmatched(boxes, scenario.matched.boxes, ByPosition, [](const Box&) { return true; });
                         std::wstring found = std::to_wstring(left) + L" unmatched box(es)";
                         for (size_t i = 0; i < boxes.size(); ++i)
                             if (!scenario.matched.boxes.count(i)) found += L"; \"" + BoxText(boxes[i]) + L"\"";
                         scenario.Check(line, left == 0, L"no box", found);
                     });
    // Event names are the system's, compared without regard to case, but always whole.
    expectations.Add(L"event NAME", L"the plugin raised the event of that whole name",
                     [](Scenario& scenario, Line& line) {
                         std::wstring name = line.Rest();
                         if (name.empty()) Fail(L"expect event needs a name");
                         const auto& events = scenario.Host().raisedEvents;
                         bool holds = std::any_of(events.begin(), events.end(),
                                                  [&](const std::wstring& event) { return EqualNoCase(event, name); });
                         scenario.Check(line, holds, L"plugin raised event " + name,
                                        std::to_wstring(events.size()) + L" event(s) raised, none of that name");
                     });
    expectations.Add(L"no-event NAME", L"the plugin raised no event of that whole name",
                     [](Scenario& scenario, Line& line) {
                         std::wstring name = line.Rest();
                         if (name.empty()) Fail(L"expect no-event needs a name");
                         const auto& events = scenario.Host().raisedEvents;
                         size_t count = size_t(std::count_if(events.begin(), events.end(),
                                                             [&](const std::wstring& event) { return EqualNoCase(event, name); }));
                         scenario.Check(line, count == 0, L"no event " + name, std::to_wstring(count) + L" raised");
                     });
    expectations.Add(L"navigate ADDRESS", L"the plugin navigated to exactly that address", [](Scenario& scenario, Line& line) {
        std::wstring address = line.Rest();
        const auto& all = scenario.Host().navigations;
        bool holds = std::find(all.begin(), all.end(), address) != all.end();
        scenario.Check(line, holds, L"navigate " + address, all.empty() ? L"no navigation" : L"last " + all.back());
    });
    expectations.Add(L"calls Object.Method N",
                     L"the plugin called that host method exactly N times since the file began, failed calls included; "
                     L"names as for `fail`",
                     [](Scenario& scenario, Line& line) {
                         std::wstring method = line.Word();
                         std::wstring known;
                         if (!IsHostMethod(method, &known)) Fail(L"no host method " + method + L" is counted; these are: " + known);
                         unsigned long long expected = line.Number();
                         if (!line.AtEnd()) Fail(L"expect calls takes a method and one number");
                         const auto& calls = scenario.Host().calls;
                         auto found = calls.find(method);
                         int made = found == calls.end() ? 0 : found->second;
                         scenario.Check(line, made >= 0 && unsigned(made) == expected,
                                        method + L" called " + std::to_wstring(expected) + L" time(s)",
                                        std::to_wstring(made) + L" call(s)");
                     });
    expectations.Add(L"script TEXT", L"the plugin ran a script containing TEXT", [](Scenario& scenario, Line& line) {
        std::wstring text = line.Rest();
        const auto& scripts = scenario.Host().scripts;
        bool holds = std::any_of(scripts.begin(), scripts.end(), [&](const std::wstring& s) { return Contains(s, text); });
        scenario.Check(line, holds, L"script containing " + text, std::to_wstring(scripts.size()) + L" script(s)");
    });
    expectations.Add(L"mail TEXT",
                     L"a mail written for \"Email.SendMail\" contains TEXT (files `mail-0001.txt`... in `--outbox FOLDER`, "
                     L"default `.\\outbox`)",
                     [](Scenario& scenario, Line& line) {
                         std::wstring text = line.Rest();
                         const auto& mails = scenario.Host().mails;
                         bool holds = std::any_of(mails.begin(), mails.end(),
                                                  [&](const std::wstring& file) { return Contains(ReadUtf8File(file), text); });
                         scenario.Check(line, holds, L"mail containing " + text, std::to_wstring(mails.size()) + L" mail(s)");
                     });
    expectations.Add(L"mails N", L"exactly N mails were sent through \"Email.SendMail\" since the file began",
                     [](Scenario& scenario, Line& line) {
                         unsigned long long expected = line.Number();
                         if (!line.AtEnd()) Fail(L"expect mails takes one number");
                         size_t sent = scenario.Host().mails.size();
                         scenario.Check(line, sent == expected, std::to_wstring(expected) + L" mail(s)",
                                        std::to_wstring(sent) + L" mail(s)");
                     });
    expectations.Add(L"failure NAME on|off", L"the plugin set or cleared that named terminal failure",
                     [](Scenario& scenario, Line& line) {
                         std::wstring name = line.Word();
                         bool on = line.Keyword({L"on", L"off"}) == 0;
                         bool actual = scenario.Host().failures.count(name) != 0;
                         scenario.Check(line, actual == on, L"failure " + name + (on ? L" on" : L" off"), actual ? L"on" : L"off");
                     });
    expectations.Add(L"file PATH [TEXT]",
                     L"the file exists (environment references in PATH expanded) and, with TEXT, contains it "
                     L"(read as Windows-1251, or UTF-8 after the signature)",
                     [](Scenario& scenario, Line& line) {
                         std::wstring path = ExpEnv(line.Word()), text = line.Rest();
                         if (!FileExists(path)) return scenario.Check(line, false, L"file " + path, L"no such file");
                         std::wstring content = ReadPluginTextFile(path);
                         scenario.Check(line, Contains(content, text), L"file " + path + L" containing " + text,
                                        L"\"" + content.substr(0, 300) + L"\"");
                     });
    expectations.Add(L"no-file PATH", L"no file of that path exists (environment references expanded)",
                     [](Scenario& scenario, Line& line) {
                         std::wstring path = ExpEnv(line.Word());
                         scenario.Check(line, !FileExists(path), L"no file " + path, L"the file exists");
                     });
    expectations.Add(L"env NAME = TEXT", L"the process environment variable (such as `Tallymark.Installed`) reads TEXT",
                     [](Scenario& scenario, Line& line) {
                         std::wstring name = line.Word();
                         line.Expect(L"=");
                         std::wstring value = line.Rest();
                         wchar_t buffer[4096] = {};
                         DWORD length = GetEnvironmentVariableW(name.c_str(), buffer, DWORD(std::size(buffer)));
                         std::wstring actual = length && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
                         scenario.Check(line, actual == value, L"env " + name + L" = \"" + value + L"\"", L"\"" + actual + L"\"");
                     });
}

}  // namespace Host
