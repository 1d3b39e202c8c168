// The scenario language of the terminal simulator: one command a line, run in order against one
// simulated terminal and the plugin loaded into it. The commands and expectations live in two
// tables (name, usage, effect, handler), filled by one file per area; the help text and the
// developers' guide's tables (docs/DEVELOPERS.md) are made from them.
#pragma once
#include "Host/HostObjects.h"
#include "Host/PluginHost.h"
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Host {

// The words of one scenario line. A word with blanks is written in double quotes; inside quotes a
// doubled backslash stands for one.
class Line {
public:
    Line(std::wstring text, std::wstring file, int number) : text_(std::move(text)), file_(std::move(file)), number_(number) {}
    bool AtEnd();
    std::wstring Word();       // the next word; raises when there is none
    std::wstring Peek();       // the next word without taking it; empty at the end
    std::wstring Rest();       // the rest of the line, blanks around it removed
    void Expect(const wchar_t* word);  // the next word must be this one
    long long Number();        // the next word as a decimal number
    // The next word, which must be one of `words` (any case): its index. Anything else raises.
    size_t Keyword(std::initializer_list<const wchar_t*> words);
    std::wstring Where() const;  // "file:line"

private:
    void SkipBlanks();
    std::wstring text_;
    std::wstring file_;
    int number_;
    size_t pos_ = 0;
};

class Scenario;

struct Command {
    std::wstring name;    // the first word of the usage
    std::wstring usage;   // e.g. "payment N CUR [wait MS] N CUR ..."
    std::wstring effect;  // what the host does; for an expectation, when it holds
    std::function<void(Scenario&, Line&)> run;
};

class CommandTable {
public:
    void Add(std::wstring usage, std::wstring effect, std::function<void(Scenario&, Line&)> run);
    const Command* Find(const std::wstring& name) const;  // any case; null when unknown
    const std::vector<Command>& All() const { return all_; }

private:
    std::vector<Command> all_;
};

// The tables, in the order of the help text. Expectation usages leave out "expect", dialog step
// usages leave out "dialog".
const CommandTable& Commands();
const CommandTable& DialogSteps();
const CommandTable& Expectations();
// The help of `TallySim --help`, and the same as the two Markdown tables of docs/DEVELOPERS.md.
std::wstring HelpText();
std::wstring MarkdownTables();

// The areas that fill the tables.
void AddTerminalCommands(CommandTable& commands);    // Host/CommandsTerminal.cpp
void AddCashCommands(CommandTable& commands);        // Host/CommandsCash.cpp
void AddSetupCommands(CommandTable& commands);       // Host/CommandsSetup.cpp
void AddFaultCommands(CommandTable& commands);       // Host/Faults.cpp
void AddHostExpectations(CommandTable& expectations);  // Host/ExpectHost.cpp
void AddLogExpectations(CommandTable& expectations);   // Host/ExpectLog.cpp
void AddDialogSteps(CommandTable& steps);              // Host/CommandsDialog.cpp

// A step queued by a `dialog` line, played in the next modal dialog (Host/DialogPlayer.h).
struct DialogStep {
    Line line;  // the line that queued it: its reports name that line
    std::function<void(Scenario&, HWND dialog, Line& line)> run;
};
void AddFaultExpectations(CommandTable& expectations); // Host/Faults.cpp
void AddPrintCommands(CommandTable& commands);       // Host/CommandsPrint.cpp
void AddPrintExpectations(CommandTable& expectations);  // Host/CommandsPrint.cpp
void AddPageExpectations(CommandTable& expectations);  // Host/ExpectPage.cpp
// The control of that id on the open control page; raises when there is none.
HWND PageControl(Scenario& scenario, long id);

class Scenario {
public:
    explicit Scenario(std::wstring pluginPath);
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // Runs every line of the file; false when a line failed or an expectation did not hold.
    bool RunFile(const std::wstring& path);
    // Runs one line; false when it failed. Messages go to `print`.
    bool RunLine(const std::wstring& text, const std::wstring& file = L"", int number = 0);

    std::function<void(const std::wstring&)> print;  // receives every transcript and result line
    // Receive the texts that `print` rendered and the template errors recorded meanwhile; unset,
    // both go to the transcript.
    std::function<void(const std::wstring&)> show;
    std::function<void(const std::wstring&)> warn;
    Terminal& Host() { return terminal_; }
    PluginModule& Module() { return module_; }
    const std::wstring& PluginPath() const { return pluginPath_; }
    co<IPaylantraControlPlugin>& ControlPlugin() { return control_; }

    // For the commands.
    void Start();
    void Exit();
    // Loads the plugin if needed and runs its installation export; the answer goes to installAnswer.
    void Install();
    std::optional<int> installAnswer;
    // The control plugin object, made the way Start makes the plugin object.
    co<IPaylantraControlPlugin> CreateControlPlugin();
    bool Started() const { return bool(plugin_); }
    void Say(const std::wstring& text) { if (print) print(text); }
    void Show(const std::wstring& text) { show ? show(text) : Say(text); }
    void Warn(const std::wstring& text) { warn ? warn(text) : Say(L"  template error: " + text); }
    // A path of a scenario line: relative ones lie beside the file being run.
    std::wstring Resolve(const std::wstring& path) const;
    // The text of the last `print`.
    std::wstring printed;
    // Reports an expectation: "ok ..." or a failure of the line.
    void Check(Line& line, bool holds, const std::wstring& expected, const std::wstring& found);

    // The boxes that earlier `expect box` lines matched, by position: each box is matched once,
    // and `expect no-box` counts what is left.
    struct Matched {
        std::set<size_t> boxes;
    } matched;

    // The steps that `dialog` lines queued and no dialog has played yet.
    std::deque<DialogStep> dialogSteps;

private:
    // Loads the plugin module from `path` unless it is loaded; raises when another module is.
    void LoadModule(const std::wstring& path);
    // Once installed, through COM with the class ID that `hostKey` names, the registered server
    // loaded here first so that it carries the simulator's redirections; before, from the DLL.
    template <class I> co<I> CreateObject(const wchar_t* hostKey, REFCLSID direct);

    // Before the terminal, so that it goes after it: the terminal's objects still hold the plugin's
    // (the sinks of a cash session a failed payment line left open), and their last release runs
    // the plugin's code.
    PluginModule module_;
    Terminal terminal_;
    std::wstring pluginPath_;
    co<IPaylantraPlugin> plugin_;
    co<IPaylantraControlPlugin> control_;
    int failures_ = 0;
    std::wstring folder_;  // of the file being run
    int includeDepth_ = 0;
};

// A scenario line's error: the line fails with this text.
class ScenarioError : public VelmorException {
public:
    explicit ScenarioError(const std::wstring& text);
    const std::wstring& Text() const { return text_; }

private:
    std::wstring text_;
};
[[noreturn]] void Fail(const std::wstring& text);

// The first of `items` that `matches` and whose key is not in `used`; its key goes into `used`.
// Null when there is none.
template <class Item, class Key, class KeyOf, class Match>
const Item* MatchOnce(const std::vector<Item>& items, std::set<Key>& used, KeyOf keyOf, Match matches) {
    for (size_t i = 0; i < items.size(); ++i)
        if (!used.count(keyOf(items[i], i)) && matches(items[i])) {
            used.insert(keyOf(items[i], i));
            return &items[i];
        }
    return nullptr;
}

// How many of `items` match and are not in `used`.
template <class Item, class Key, class KeyOf, class Match>
size_t CountUnmatched(const std::vector<Item>& items, const std::set<Key>& used, KeyOf keyOf, Match matches) {
    size_t count = 0;
    for (size_t i = 0; i < items.size(); ++i)
        if (!used.count(keyOf(items[i], i)) && matches(items[i])) ++count;
    return count;
}

// "HKLM\Software\..." or "HKEY_CURRENT_USER\..." split into its root and path; raises on others.
HKEY ParseRegistryPath(const std::wstring& text, std::wstring& subpath);
// "2026-12-08 23:59:58" (seconds optional) as a local SYSTEMTIME; raises when malformed.
SYSTEMTIME ParseClock(const std::wstring& text);

// A scenario file's text, decoded from UTF-8 (a byte-order mark is skipped); raises when unreadable.
std::wstring ReadUtf8File(const std::wstring& path);
// A file the plugin wrote, in Windows-1251 or in UTF-8 with the signature.
std::wstring ReadPluginTextFile(const std::wstring& path);
// What a registry value reads as in an expectation: "dword:N", "sz:TEXT" or "missing".
std::wstring DescribeValue(HKEY root, const std::wstring& path, const std::wstring& name);

// Runs this thread's message loop for `milliseconds`.
void PumpMessages(DWORD milliseconds);
// Runs the message loop until `count` thread timer messages (the plugin's day timer ticks) have
// been handled, or `limit` milliseconds passed; the number handled.
int PumpTimerTicks(int count, DWORD limit);
// The words after "wait": "MS" or "tick [COUNT]" (no count where a number may follow, as in a
// payment). Raises when the ticks did not come.
void RunWait(Line& line, bool countAllowed);

// One record of the plugin's operation log: "TIME<tab>NUMBER<tab>CODE[<tab>;DESCRIPTION]".
struct LogRecord {
    std::wstring file;  // the day's file name
    size_t index = 0;   // its position in that file
    std::wstring text;  // the whole line
    std::wstring code;
    std::wstring description;
};
LogRecord ParseLogRecord(const std::wstring& line);
// The plugin's log path template from its LogPath value, expanded; raises when there is none.
std::wstring LogPattern();
// Every day's file of the template (its "*" stands for the date), oldest day first.
std::vector<std::wstring> LogFiles(const std::wstring& pattern);
// The records of one day's file, decoded from Windows-1251.
std::vector<LogRecord> ReadLogFile(const std::wstring& path);

}  // namespace Host
