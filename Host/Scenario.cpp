#include "Host/Scenario.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace Host {

namespace {

class ScenarioError : public VelmorException {
public:
    explicit ScenarioError(const std::wstring& text) : VelmorException(Narrow(text, CP_UTF8)), text_(text) {}
    const std::wstring& Text() const { return text_; }

private:
    std::wstring text_;
};

[[noreturn]] void Fail(const std::wstring& text) { throw ScenarioError(text); }

std::wstring ReadUtf8File(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) Fail(L"cannot open scenario file " + path);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string text = bytes.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return Widen(text, CP_UTF8);
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// What a registry value reads as in an expectation: "dword:N", "sz:TEXT" or "missing".
std::wstring DescribeValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    RegKey key(root, path, false, kRegReadAccess);
    if (!key) return L"missing";
    RegKey::Value value = key[name];
    if (auto number = value.Int()) return L"dword:" + std::to_wstring(*number);
    if (auto text = value.Text()) return L"sz:" + *text;
    return value.Valid() ? L"(another type)" : L"missing";
}

// The log files are written in Windows-1251, whatever the simulator's own code page.
constexpr UINT kLogCodePage = 1251;

// The plugin's log path template from its LogPath value, expanded; raises when there is none.
std::wstring LogPattern() {
    RegKey plugin(HKEY_LOCAL_MACHINE, L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark", false, kRegReadAccess);
    std::wstring pattern = ExpEnv(plugin ? plugin[L"LogPath"].Text().value_or(L"") : L"");
    if (pattern.empty()) Fail(L"the plugin's LogPath value is not set");
    return pattern;
}

// Every day's file of the template (its "*" stands for the date), sorted, so oldest day first.
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

// The records of one log file, decoded.
std::vector<std::wstring> LogRecords(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<std::wstring> records;
    std::string record;
    while (std::getline(in, record)) {
        if (!record.empty() && record.back() == '\r') record.pop_back();
        records.push_back(Widen(record, kLogCodePage));
    }
    return records;
}

}  // namespace

void Scenario::DumpKey(HKEY root, const std::wstring& path, int depth) {
    RegKey key(root, path, false, kRegReadAccess);
    if (!key) {
        Say(L"  (no key " + path + L")");
        return;
    }
    std::wstring indent(2 + 2 * depth, L' ');
    Say(indent + L"[" + path + L"]");
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD length = DWORD(std::size(name));
        if (RegEnumValueW(key.Handle(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Say(indent + L"  " + std::wstring(name, length) + L" = " + DescribeValue(root, path, std::wstring(name, length)));
    }
    if (depth >= 8) return;  // deep enough for any key of the plugin
    for (DWORD i = 0; i < key.SubkeyCount(); ++i) DumpKey(root, path + L"\\" + key.SubkeyName(i), depth + 1);
}

namespace {

void PumpMessages(DWORD milliseconds) {
    ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
    }
}

}  // namespace

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

// ---- parsing helpers -----------------------------------------------------------------------------

HKEY ParseRegistryPath(const std::wstring& text, std::wstring& subpath) {
    size_t slash = text.find(L'\\');
    std::wstring root = text.substr(0, slash);
    subpath = slash == std::wstring::npos ? std::wstring() : text.substr(slash + 1);
    if (EqualNoCase(root, L"HKLM") || EqualNoCase(root, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    if (EqualNoCase(root, L"HKCU") || EqualNoCase(root, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
    Fail(L"registry path \"" + text + L"\" does not start with HKLM or HKCU");
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

// ---- Scenario ------------------------------------------------------------------------------------

Scenario::Scenario(std::wstring pluginPath) : pluginPath_(std::move(pluginPath)) {
    terminal_.transcript.echo = [this](const Record& record) { Say(L"  " + record.who + L": " + record.what); };
    Boxes::Sink() = &terminal_.transcript;
    Define();
}

Scenario::~Scenario() {
    if (plugin_ || control_) Exit();
    if (Boxes::Sink() == &terminal_.transcript) Boxes::Sink() = nullptr;
}

void Scenario::Start() {
    if (plugin_) Fail(L"the terminal is already started");
    if (!module_.IsLoaded()) {
        module_.Load(pluginPath_);
        terminal_.transcript.Add(L"host", L"loaded " + pluginPath_);
    }
    plugin_ = module_.CreatePlugin();
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

void Scenario::Expectation(Line& line, bool holds, const std::wstring& expected, const std::wstring& found) {
    if (holds) {
        Say(L"ok   " + expected);
        return;
    }
    ++failures_;
    Say(L"FAIL " + line.Where() + L": expected " + expected + L", found " + found);
}

void Scenario::Define() {
    commands_[L"start"] = [this](Line&) { Start(); };
    commands_[L"exit"] = [this](Line&) {
        if (!plugin_) Fail(L"the terminal is not started");
        Exit();
    };
    commands_[L"control"] = [this](Line& line) {
        std::wstring what = line.Word();
        if (EqualNoCase(what, L"open")) {
            if (!module_.IsLoaded()) module_.Load(pluginPath_);
            control_ = module_.CreateControlPlugin();
            SetErrorInfo(0, nullptr);
            HRESULT hr = control_->AttachControl(&terminal_.Panel());
            if (FAILED(hr)) terminal_.RecordPluginFailure(L"AttachControl", hr);
        } else if (EqualNoCase(what, L"command") || EqualNoCase(what, L"apply")) {
            bool apply = EqualNoCase(what, L"apply");
            long id = apply ? 0 : long(line.Number());
            if (terminal_.Panel().Pages().empty()) Fail(L"no control page is open");
            for (auto& page : terminal_.Panel().Pages()) {
                long result = 0, changed = 0;
                SetErrorInfo(0, nullptr);
                HRESULT hr = apply ? page.page->Apply(Variant().Get(), Variant().Get(), &changed, &result)
                                   : page.page->Command(id, 0, &result);
                if (FAILED(hr))
                    terminal_.RecordPluginFailure(L"control " + what, hr);
                else
                    terminal_.transcript.Add(L"host", L"control " + what + L" answered " + std::to_wstring(result) +
                                                          (apply ? L", changed " + std::to_wstring(changed) : L""));
            }
            PumpMessages(0);
        } else if (EqualNoCase(what, L"close")) {
            terminal_.Panel().Close();
            control_.Reset();
            terminal_.transcript.Add(L"host", L"control panel closed");
        } else {
            Fail(L"control takes open, command ID, apply or close, not \"" + what + L"\"");
        }
    };
    commands_[L"event"] = [this](Line& line) {
        std::wstring name = line.Rest();
        if (name.empty()) Fail(L"event needs a name");
        terminal_.transcript.Add(L"host", L"event " + name);
        terminal_.DeliverEvent(name);
    };
    commands_[L"prop"] = [this](Line& line) {
        std::wstring name = line.Word();
        line.Expect(L"=");
        std::wstring value = line.Rest();
        terminal_.Environment().PutProperty(name, value);
        terminal_.transcript.Add(L"host", L"prop " + name + L" = " + value);
    };
    commands_[L"wait"] = [this](Line& line) {
        long long ms = line.Number();
        if (ms < 0 || ms > 600000) Fail(L"wait takes 0 to 600000 milliseconds");
        PumpMessages(DWORD(ms));
    };
    commands_[L"clock"] = [this](Line& line) {
        std::wstring text = line.Rest();
        Clock::Set(ParseClock(text));
        terminal_.transcript.Add(L"host", L"clock set to " + text);
    };
    commands_[L"reg"] = [this](Line& line) {
        std::wstring path;
        HKEY root = ParseRegistryPath(line.Word(), path);
        std::wstring name = line.Word();
        line.Expect(L"=");
        std::wstring value = line.Rest();
        RegKey key(root, path, true, kRegWriteAccess);
        if (!key) Fail(L"cannot open registry key " + path + L" (error " + std::to_wstring(key.LastError()) + L")");
        if (value == L"delete")
            key[name].Delete();
        else if (value.rfind(L"dword:", 0) == 0) {
            wchar_t* end = nullptr;
            unsigned long number = wcstoul(value.c_str() + 6, &end, 0);
            if (value.size() == 6 || *end) Fail(L"\"" + value + L"\" is no dword value");
            key[name] = DWORD(number);
        } else if (value.rfind(L"sz:", 0) == 0)
            key[name] = value.substr(3);
        else
            Fail(L"a registry value is dword:N, sz:TEXT or delete, not \"" + value + L"\"");
        terminal_.transcript.Add(L"host", L"reg " + path + L" " + name + L" = " + value);
    };
    commands_[L"fail"] = [this](Line& line) {
        std::wstring method = line.Word();
        std::wstring how = line.AtEnd() ? L"0x80004005" : line.Word();
        if (EqualNoCase(how, L"off")) {
            terminal_.ClearFailure(method);
        } else {
            wchar_t* end = nullptr;
            unsigned long hr = wcstoul(how.c_str(), &end, 0);
            if (*end || !FAILED(HRESULT(hr))) Fail(L"\"" + how + L"\" is no failing HRESULT");
            terminal_.FailMethod(method, HRESULT(hr));
        }
        terminal_.transcript.Add(L"host", L"host method " + method + L" fails: " + how);
    };
    commands_[L"flag"] = [this](Line& line) {
        std::wstring what = line.Word();
        terminal_.FlagsObject().value = EqualNoCase(what, L"on") ? 1 : 0;
    };
    commands_[L"currency"] = [this](Line& line) { terminal_.CashObject().currency = line.Word(); };
    auto payment = [this](Line& line, bool aborted) {
        CashSession& session = terminal_.BeginCashSession();
        while (!line.AtEnd()) {
            // "wait MS" between notes lets time pass with the session open.
            if (line.Peek() == L"wait") {
                line.Word();
                long long ms = line.Number();
                if (ms < 0 || ms > 600000) Fail(L"wait takes 0 to 600000 milliseconds");
                PumpMessages(DWORD(ms));
                continue;
            }
            long long denomination = line.Number();
            if (denomination <= 0 || denomination > 1000000) Fail(L"a bill's denomination must be 1 to 1000000");
            session.Accept(long(denomination), line.Word());
        }
        if (aborted)
            terminal_.AbortCashSession();
        else
            terminal_.EndCashSession();
    };
    commands_[L"payment"] = [payment](Line& line) { payment(line, false); };
    commands_[L"payment-aborted"] = [payment](Line& line) { payment(line, true); };
    commands_[L"stacker"] = [this](Line& line) {
        std::wstring what = line.Word();
        if (EqualNoCase(what, L"remove")) {
            terminal_.transcript.Add(L"host", L"stacker removed");
            terminal_.NotifyStackerRemoved();
        } else if (EqualNoCase(what, L"insert")) {
            terminal_.transcript.Add(L"host", L"stacker inserted");
            terminal_.NotifyStackerInstalled();
        } else {
            Fail(L"stacker takes remove or insert, not \"" + what + L"\"");
        }
    };
    commands_[L"failure"] = [this](Line& line) {
        std::wstring name = line.Word();
        std::wstring state = line.Word();
        if (!EqualNoCase(state, L"on") && !EqualNoCase(state, L"off")) Fail(L"failure takes on or off");
        terminal_.transcript.Add(L"host", L"terminal failure " + name + L" " + state);
        terminal_.NotifyFailure(name, EqualNoCase(state, L"on"));
    };
    commands_[L"zreport"] = [this](Line&) {
        terminal_.transcript.Add(L"host", L"Z-report");
        terminal_.NotifyZReport(false);
        terminal_.NotifyZReport(true);
    };
    commands_[L"echo"] = [this](Line& line) { Say(line.Rest()); };
    commands_[L"dump"] = [this](Line& line) {
        std::wstring what = line.Word();
        if (EqualNoCase(what, L"props")) {
            for (const auto& [name, value] : terminal_.Environment().Properties()) Say(L"  prop " + name.str() + L" = " + value);
        } else if (EqualNoCase(what, L"reg")) {
            std::wstring path;
            HKEY root = ParseRegistryPath(line.Word(), path);
            DumpKey(root, path, 0);
        } else if (EqualNoCase(what, L"logs")) {
            std::wstring pattern = LogPattern();
            std::vector<std::wstring> files = LogFiles(pattern);
            Say(L"  log files of " + pattern + L": " + std::to_wstring(files.size()));
            for (const std::wstring& file : files) {
                std::vector<std::wstring> records = LogRecords(file);
                Say(L"  [" + GetFileName(file) + L"] " + std::to_wstring(records.size()) + L" record(s)");
                for (const std::wstring& record : records) Say(L"    " + record);
            }
        } else {
            Fail(L"dump takes props, reg \"KEY\" or logs, not \"" + what + L"\"");
        }
    };
    commands_[L"session"] = [this](Line& line) {
        std::wstring what = line.Word();
        using Slot = HRESULT (STDMETHODCALLTYPE IPaylantraSessionExtender2::*)(IDispatch*);
        Slot slot = EqualNoCase(what, L"create") ? &IPaylantraSessionExtender2::OnSessionCreate
                  : EqualNoCase(what, L"start")  ? &IPaylantraSessionExtender2::OnSessionStart
                  : EqualNoCase(what, L"end")    ? &IPaylantraSessionExtender2::OnSessionEnd
                  : EqualNoCase(what, L"clear")  ? &IPaylantraSessionExtender2::OnClearProperties
                                                 : nullptr;
        if (!slot) Fail(L"session takes create, start, end or clear, not \"" + what + L"\"");
        terminal_.transcript.Add(L"host", L"session " + what);
        auto extenders = terminal_.Environment().Extenders();
        for (auto& extender : extenders) {
            SetErrorInfo(0, nullptr);
            HRESULT hr = (extender.Get()->*slot)(&terminal_.Environment());
            if (FAILED(hr)) terminal_.RecordPluginFailure(L"session " + what, hr);
        }
    };
    commands_[L"expect"] = [this](Line& line) {
        std::wstring kind = line.Word();
        auto found = expectations_.find(kind);
        if (found == expectations_.end()) Fail(L"unknown expectation \"" + kind + L"\"");
        found->second(line);
    };

    expectations_[L"prop"] = [this](Line& line) {
        std::wstring name = line.Word();
        line.Expect(L"=");
        std::wstring value = line.Rest();
        std::wstring actual = terminal_.Environment().Property(name);
        Expectation(line, actual == value, L"prop " + name + L" = \"" + value + L"\"", L"\"" + actual + L"\"");
    };
    expectations_[L"reg"] = [this](Line& line) {
        std::wstring keyText = line.Word(), path;
        HKEY root = ParseRegistryPath(keyText, path);
        std::wstring name = line.Word();
        line.Expect(L"=");
        std::wstring value = line.Rest();
        std::wstring actual = DescribeValue(root, path, name);
        // A plain expected value matches the text or the number alike.
        bool holds = actual == value || actual == L"sz:" + value || actual == L"dword:" + value;
        Expectation(line, holds, L"reg " + keyText + L" \"" + name + L"\" = " + value, actual);
    };
    expectations_[L"box"] = [this](Line& line) {
        std::wstring text = line.Rest();
        auto& boxes = Boxes::All();
        boxUsed_.resize(boxes.size(), false);
        for (size_t i = 0; i < boxes.size(); ++i)
            if (!boxUsed_[i] && Contains(boxes[i].caption + L": " + boxes[i].text, text)) {
                boxUsed_[i] = true;
                Expectation(line, true, L"box " + text, L"");
                return;
            }
        Expectation(line, false, L"box " + text, std::to_wstring(boxes.size()) + L" box(es), none unmatched with that text");
    };
    expectations_[L"no-box"] = [this](Line& line) {
        size_t count = Boxes::All().size();
        Expectation(line, count == 0, L"no box", std::to_wstring(count) + L" box(es)");
    };
    expectations_[L"event"] = [this](Line& line) {
        std::wstring name = line.Rest();
        bool holds = false;
        for (const Record& r : terminal_.transcript.Records())
            if (r.who == L"plugin" && EqualNoCase(r.what, L"event " + name)) holds = true;
        Expectation(line, holds, L"plugin raised event " + name, L"no such event");
    };
    expectations_[L"navigate"] = [this](Line& line) {
        std::wstring address = line.Rest();
        const auto& all = terminal_.navigations;
        bool holds = std::find(all.begin(), all.end(), address) != all.end();
        Expectation(line, holds, L"navigate " + address, all.empty() ? L"no navigation" : L"last " + all.back());
    };
    expectations_[L"script"] = [this](Line& line) {
        std::wstring text = line.Rest();
        bool holds = false;
        for (const auto& script : terminal_.scripts) holds = holds || Contains(script, text);
        Expectation(line, holds, L"script containing " + text, std::to_wstring(terminal_.scripts.size()) + L" script(s)");
    };
    expectations_[L"mail"] = [this](Line& line) {
        std::wstring text = line.Rest();
        bool holds = false;
        for (const auto& file : terminal_.mails) holds = holds || Contains(ReadUtf8File(file), text);
        Expectation(line, holds, L"mail containing " + text, std::to_wstring(terminal_.mails.size()) + L" mail(s)");
    };
    expectations_[L"failure"] = [this](Line& line) {
        std::wstring name = line.Word();
        bool on = EqualNoCase(line.Word(), L"on");
        bool actual = terminal_.failures.count(name) != 0;
        Expectation(line, actual == on, L"failure " + name + (on ? L" on" : L" off"), actual ? L"on" : L"off");
    };
    expectations_[L"log"] = [this](Line& line) {
        std::wstring code = line.Word();
        std::wstring text = line.Rest();
        std::wstring pattern = LogPattern();
        std::vector<std::wstring> files = LogFiles(pattern);
        bool holds = false;
        for (const std::wstring& file : files)
            for (const std::wstring& record : LogRecords(file)) {
                size_t at = record.find(code);
                holds = holds || (at != std::wstring::npos && record.find(text, at + code.size()) != std::wstring::npos);
            }
        Expectation(line, holds, L"log record " + code + (text.empty() ? L"" : L" with \"" + text + L"\""),
                    std::to_wstring(files.size()) + L" log file(s) of " + pattern + L" without it");
    };
    expectations_[L"env"] = [this](Line& line) {
        std::wstring name = line.Word();
        line.Expect(L"=");
        std::wstring value = line.Rest();
        wchar_t buffer[4096] = {};
        DWORD length = GetEnvironmentVariableW(name.c_str(), buffer, DWORD(std::size(buffer)));
        std::wstring actual = length && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring();
        Expectation(line, actual == value, L"env " + name + L" = \"" + value + L"\"", L"\"" + actual + L"\"");
    };
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
        auto found = commands_.find(name);
        if (found == commands_.end()) Fail(L"unknown command \"" + name + L"\"");
        int before = failures_;
        found->second(line);
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

bool Scenario::RunFile(const std::wstring& path) {
    std::wstring text = ReadUtf8File(path);
    std::wstring name = GetFileName(path);
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
    return ok;
}

}  // namespace Host
