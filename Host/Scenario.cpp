#include "Host/Scenario.h"
#include "Host/DialogPlayer.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace Host {

ScenarioError::ScenarioError(const std::wstring& text) : VelmorException(Narrow(text, CP_UTF8)), text_(text) {}

void Fail(const std::wstring& text) { throw ScenarioError(text); }

std::wstring ReadUtf8File(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) Fail(L"cannot open file " + path);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string text = bytes.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return Widen(text, CP_UTF8);
}

std::wstring DescribeValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    RegKey key(root, path, false, kRegReadAccess);
    if (!key) return L"missing";
    RegKey::Value value = key[name];
    if (auto number = value.Int()) return L"dword:" + std::to_wstring(*number);
    if (auto text = value.Text()) return L"sz:" + *text;
    return value.Valid() ? L"(another type)" : L"missing";
}

// ---- the plugin's operation log ------------------------------------------------------------------

namespace {
// The log files are written in Windows-1251, whatever the simulator's own code page.
constexpr UINT kLogCodePage = 1251;
}  // namespace

std::wstring LogPattern() {
    RegKey plugin(HKEY_LOCAL_MACHINE, kPluginKey, false, kRegReadAccess);
    std::wstring pattern = ExpEnv(plugin ? plugin[L"LogPath"].Text().value_or(L"") : L"");
    if (pattern.empty()) Fail(L"the plugin's LogPath value is not set");
    return pattern;
}

std::vector<std::wstring> LogFiles(const std::wstring& pattern) {
    std::wstring folder = GetParentPath(pattern);
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back((folder.empty() ? std::wstring() : folder + L"\\") + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

LogRecord ParseLogRecord(const std::wstring& line) {
    LogRecord record;
    record.text = line;
    // The time stamp and the event number come first; a line without them has no code.
    size_t number = line.find(L'\t');
    size_t code = number == std::wstring::npos ? number : line.find(L'\t', number + 1);
    if (code == std::wstring::npos) return record;
    size_t description = line.find(L'\t', code + 1);
    record.code = line.substr(code + 1, description == std::wstring::npos ? std::wstring::npos : description - code - 1);
    if (description != std::wstring::npos) {
        record.description = line.substr(description + 1);
        if (!record.description.empty() && record.description[0] == L';') record.description.erase(0, 1);
    }
    return record;
}

std::vector<LogRecord> ReadLogFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<LogRecord> records;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        LogRecord record = ParseLogRecord(Widen(line, kLogCodePage));
        record.file = GetFileName(path);
        record.index = records.size();
        records.push_back(std::move(record));
    }
    return records;
}

// ---- the message loop ----------------------------------------------------------------------------

namespace {

// Handles what waits; the number of thread timer messages (no window: SetTimer(nullptr, ...)) among them.
int DispatchWaiting() {
    int ticks = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_TIMER && !msg.hwnd) ++ticks;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return ticks;
}

}  // namespace

void PumpMessages(DWORD milliseconds) {
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        DispatchWaiting();
        ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
    }
}

int PumpTimerTicks(int count, DWORD limit) {
    ULONGLONG end = GetTickCount64() + limit;
    int ticks = 0;
    for (;;) {
        ticks += DispatchWaiting();
        ULONGLONG now = GetTickCount64();
        if (ticks >= count || now >= end) return ticks;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
    }
}

// ---- Line ----------------------------------------------------------------------------------------

void Line::SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
}

bool Line::AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
}

std::wstring Line::Word() {
    if (AtEnd()) Fail(L"a word is missing at the end of the line");
    std::wstring word;
    if (text_[pos_] == L'"') {
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size()) Fail(L"a quoted word has no closing quote");
            wchar_t c = text_[pos_++];
            if (c == L'"') break;
            if (c == L'\\' && pos_ < text_.size() && text_[pos_] == L'\\') ++pos_;
            word += c;
        }
        return word;
    }
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) word += text_[pos_++];
    return word;
}

std::wstring Line::Peek() {
    size_t pos = pos_;
    std::wstring word = AtEnd() ? std::wstring() : Word();
    pos_ = pos;
    return word;
}

std::wstring Line::Rest() {
    SkipBlanks();
    std::wstring rest = trim(text_.substr(pos_));
    pos_ = text_.size();
    return rest;
}

void Line::Expect(const wchar_t* word) {
    std::wstring found = AtEnd() ? std::wstring() : Word();
    if (found != word) Fail(L"expected \"" + std::wstring(word) + L"\" but found \"" + found + L"\"");
}

long long Line::Number() {
    std::wstring word = Word();
    wchar_t* end = nullptr;
    errno = 0;
    long long value = wcstoll(word.c_str(), &end, 10);
    if (word.empty() || *end || errno == ERANGE) Fail(L"\"" + word + L"\" is not a number");
    return value;
}

std::wstring Line::Where() const { return (file_.empty() ? L"line" : file_) + L":" + std::to_wstring(number_); }

size_t Line::Keyword(std::initializer_list<const wchar_t*> words) {
    std::wstring found = AtEnd() ? std::wstring() : Word();
    std::wstring choices;
    size_t index = 0;
    for (const wchar_t* word : words) {
        if (EqualNoCase(found, word)) return index;
        choices += (index ? (index + 1 == words.size() ? L" or " : L", ") : L"") + std::wstring(word);
        ++index;
    }
    Fail(L"expected " + choices + L" but found \"" + found + L"\"");
}

// ---- parsing helpers -----------------------------------------------------------------------------

HKEY ParseRegistryPath(const std::wstring& text, std::wstring& subpath) {
    size_t slash = text.find(L'\\');
    std::wstring root = text.substr(0, slash);
    subpath = slash == std::wstring::npos ? std::wstring() : text.substr(slash + 1);
    if (EqualNoCase(root, L"HKLM") || EqualNoCase(root, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    if (EqualNoCase(root, L"HKCU") || EqualNoCase(root, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
    if (EqualNoCase(root, L"HKCR") || EqualNoCase(root, L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
    Fail(L"registry path \"" + text + L"\" does not start with HKLM, HKCU or HKCR");
}

SYSTEMTIME ParseClock(const std::wstring& text) {
    SYSTEMTIME st{};
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    wchar_t extra = 0;
    int fields = swscanf(text.c_str(), L"%4u-%2u-%2u %2u:%2u:%2u %lc", &year, &month, &day, &hour, &minute, &second, &extra);
    if (fields != 5 && fields != 6) Fail(L"\"" + text + L"\" is no time of the form 2026-12-08 23:59:58");
    st.wYear = WORD(year);
    st.wMonth = WORD(month);
    st.wDay = WORD(day);
    st.wHour = WORD(hour);
    st.wMinute = WORD(minute);
    st.wSecond = WORD(second);
    FILETIME check;
    if (hour > 23 || minute > 59 || second > 59 || !SystemTimeToFileTime(&st, &check))
        Fail(L"\"" + text + L"\" is no valid date and time");
    return st;
}

// ---- the tables ----------------------------------------------------------------------------------

void CommandTable::Add(std::wstring usage, std::wstring effect, std::function<void(Scenario&, Line&)> run) {
    std::wstring name = usage.substr(0, usage.find(L' '));
    if (Find(name)) throw InternalError("scenario command defined twice: " + Narrow(name, CP_UTF8));
    all_.push_back({std::move(name), std::move(usage), std::move(effect), std::move(run)});
}

const Command* CommandTable::Find(const std::wstring& name) const {
    for (const Command& command : all_)
        if (EqualNoCase(command.name, name)) return &command;
    return nullptr;
}

const CommandTable& Commands() {
    static const CommandTable table = [] {
        CommandTable commands;
        AddTerminalCommands(commands);
        AddCashCommands(commands);
        AddSetupCommands(commands);
        commands.Add(L"dialog STEP", L"queues a step (below) for the next modal dialog that the plugin opens",
                     [](Scenario& scenario, Line& line) {
                         std::wstring kind = line.Word();
                         const Command* step = DialogSteps().Find(kind);
                         if (!step) Fail(L"unknown dialog step \"" + kind + L"\"");
                         step->run(scenario, line);
                     });
        AddFaultCommands(commands);
        AddPrintCommands(commands);
        commands.Add(L"expect EXPECTATION", L"checks an expectation (below)", [](Scenario& scenario, Line& line) {
            std::wstring kind = line.Word();
            const Command* expectation = Expectations().Find(kind);
            if (!expectation) Fail(L"unknown expectation \"" + kind + L"\"");
            expectation->run(scenario, line);
        });
        return commands;
    }();
    return table;
}

const CommandTable& DialogSteps() {
    static const CommandTable table = [] {
        CommandTable steps;
        AddDialogSteps(steps);
        return steps;
    }();
    return table;
}

const CommandTable& Expectations() {
    static const CommandTable table = [] {
        CommandTable expectations;
        AddHostExpectations(expectations);
        AddLogExpectations(expectations);
        AddFaultExpectations(expectations);
        AddPrintExpectations(expectations);
        AddPageExpectations(expectations);
        return expectations;
    }();
    return table;
}

namespace {

constexpr wchar_t kDialogIntro[] =
    L"Dialog steps run in order inside the next modal dialog that the plugin opens while a later command "
    L"runs, one step a turn of the dialog's message loop; the steps left after one dialog closes go to the "
    L"next. A step left over when that command ends, or a dialog open with no step left, fails the "
    L"command's line, and the dialog is cancelled.";

constexpr wchar_t kExpectationIntro[] =
    L"Expectations print `ok` or `FAIL file:line: expected ..., found ...`. Each box is matched by one "
    L"`expect box` at most, and `expect no-box` counts the boxes that none matched; log records and "
    L"events may be matched by any number of expectations, and `no-log` and `no-event` hold only when "
    L"there is no such record or event at all.";

std::wstring EscapeCell(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'|') escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

std::wstring MarkdownTable(const CommandTable& table, const wchar_t* header, const wchar_t* prefix) {
    std::wstring text = std::wstring(L"| ") + header + L" |\n|---|---|\n";
    for (const Command& command : table.All())
        text += L"| `" + EscapeCell(prefix + command.usage) + L"` | " + EscapeCell(command.effect) + L" |\n";
    return text;
}

std::wstring HelpList(const CommandTable& table, const wchar_t* prefix) {
    std::wstring text;
    for (const Command& command : table.All()) text += L"  " + (prefix + command.usage) + L"\n      " + command.effect + L"\n";
    return text;
}

}  // namespace

std::wstring MarkdownTables() {
    return MarkdownTable(Commands(), L"command | what the host does", L"") + L"\n" + kDialogIntro + L"\n\n" +
           MarkdownTable(DialogSteps(), L"dialog step | what the host does in the dialog", L"dialog ") + L"\n" +
           kExpectationIntro + L"\n\n" + MarkdownTable(Expectations(), L"expectation | holds when", L"expect ");
}

std::wstring HelpText() {
    return L"A scenario is one command a line; # starts a comment line. A word with blanks is written in double\n"
           L"quotes, and inside quotes \\\\ may stand for \\. TEXT is the rest of the line.\n\nCommands:\n" +
           HelpList(Commands(), L"") + L"\n" + kDialogIntro + L"\n\nDialog steps:\n" + HelpList(DialogSteps(), L"dialog ") +
           L"\n" + kExpectationIntro + L"\n\nExpectations:\n" +
           HelpList(Expectations(), L"expect ");
}

// ---- Scenario ------------------------------------------------------------------------------------

Scenario::Scenario(std::wstring pluginPath) : pluginPath_(std::move(pluginPath)) {
    terminal_.transcript.echo = [this](const Record& record) { Say(L"  " + record.who + L": " + record.what); };
    Boxes::Sink() = &terminal_.transcript;
}

Scenario::~Scenario() {
    if (plugin_ || control_) Exit();
    if (Boxes::Sink() == &terminal_.transcript) Boxes::Sink() = nullptr;
}

void Scenario::LoadModule(const std::wstring& path) {
    if (!module_.IsLoaded()) {
        module_.Load(path);
        terminal_.transcript.Add(L"host", L"loaded " + path);
    } else if (GetModuleHandleW(path.c_str()) != module_.Handle()) {
        Fail(L"the class is registered to " + path + L", but the simulator holds another plugin module");
    }
}

template <class I>
co<I> Scenario::CreateObject(const wchar_t* hostKey, REFCLSID direct) {
    CLSID clsid{};
    if (!RegisteredClass(hostKey, clsid)) {
        LoadModule(pluginPath_);
        return module_.Create<I>(direct);
    }
    const std::wstring server = RegisteredServer(clsid);
    if (!server.empty()) LoadModule(server);
    if (!ScratchHives::Active()) {
        terminal_.transcript.Add(L"host", L"CoCreateInstance " + ClassText(clsid));
        return CreateThroughCom<I>(clsid);
    }
    // COM would not see the scratch classes root: the registration is followed here as COM follows it.
    if (server.empty()) CoCallEx(REGDB_E_CLASSNOTREG, nullptr, "Host/Scenario", __LINE__);
    terminal_.transcript.Add(L"host", L"class " + ClassText(clsid) + L" from its InProcServer32 registration");
    return module_.Create<I>(clsid);
}

co<IPaylantraControlPlugin> Scenario::CreateControlPlugin() { return CreateObject<IPaylantraControlPlugin>(kControlPluginKey, CLSID_ControlPlugin); }

void Scenario::Install() {
    LoadModule(pluginPath_);
    installAnswer = module_.InstallInit();
    terminal_.transcript.Add(L"host", L"PaylantraPlugin_InstallInit answered " + std::to_wstring(*installAnswer));
}

void Scenario::Start() {
    if (plugin_) Fail(L"the terminal is already started");
    plugin_ = CreateObject<IPaylantraPlugin>(kPluginKey, CLSID_Plugin);
    SetErrorInfo(0, nullptr);
    HRESULT hr = plugin_->Attach(terminal_.Object());
    if (FAILED(hr)) terminal_.RecordPluginFailure(L"Attach", hr);
    terminal_.NotifyStart();
}

void Scenario::Exit() {
    terminal_.NotifyExit();
    terminal_.ReleaseExtenders();
    plugin_.Reset();
    control_.Reset();
    terminal_.transcript.Add(L"host", L"released the plugin's objects");
}

void Scenario::Check(Line& line, bool holds, const std::wstring& expected, const std::wstring& found) {
    if (holds) {
        Say(L"ok   " + expected);
        return;
    }
    ++failures_;
    Say(L"FAIL " + line.Where() + L": expected " + expected + L", found " + found);
}

bool Scenario::RunLine(const std::wstring& text, const std::wstring& file, int number) {
    Line line(text, file, number);
    try {
        if (line.AtEnd()) return true;
        std::wstring rest = trim(text);
        if (rest[0] == L'#') return true;
        std::wstring name = line.Word();
        // An echo's text is its own record of the line.
        if (name != L"echo") Say(L"> " + rest);
        const Command* command = Commands().Find(name);
        if (!command) Fail(L"unknown command \"" + name + L"\"");
        int before = failures_;
        if (command->name == L"dialog") {
            command->run(*this, line);
        } else {
            // Any command may make the plugin open a dialog: the queued steps are played in it.
            DialogPlayer player(*this, line);
            command->run(*this, line);
            player.Finish();
        }
        if (failures_ == before && !line.AtEnd()) Fail(L"unexpected text at the end: " + line.Rest());
        return failures_ == before;
    } catch (const ScenarioError& error) {
        Say(L"FAIL " + line.Where() + L": " + error.Text());
    } catch (const VelmorException& error) {
        Say(L"FAIL " + line.Where() + L": " + error.ReasonW());
    } catch (const std::exception& error) {
        Say(L"FAIL " + line.Where() + L": " + Widen(error.what()));
    }
    ++failures_;
    return false;
}

namespace {

// The path with its "." and ".." folded away and its separators made backslashes.
std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4];
    DWORD length = GetFullPathNameW(path.c_str(), DWORD(std::size(full)), full, nullptr);
    return length && length < std::size(full) ? std::wstring(full, length) : path;
}

}  // namespace

std::wstring Scenario::Resolve(const std::wstring& path) const {
    if (IsAbsolutePath(path) || folder_.empty()) return path;
    return FullPath(folder_ + L"\\" + path);
}

bool Scenario::RunFile(const std::wstring& path) {
    // An included file includes in its turn; a file that includes itself stops here.
    if (includeDepth_ >= 8) Fail(L"files included more than 8 deep: " + path);
    std::wstring text = ReadUtf8File(path);
    std::wstring name = GetFileName(path);
    std::wstring savedFolder = folder_;
    folder_ = GetParentPath(FullPath(path));
    ++includeDepth_;
    bool ok = true;
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring lineText = text.substr(start, end - start);
        if (!lineText.empty() && lineText.back() == L'\r') lineText.pop_back();
        ok = RunLine(lineText, name, ++number) && ok;
        start = end + 1;
    }
    --includeDepth_;
    folder_ = savedFolder;
    return ok;
}

}  // namespace Host
