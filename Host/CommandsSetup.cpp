// Scenario commands that set the stage or look at it: time, registry values, host failure switches,
// the flag query, and the printing commands.
#include "Host/Scenario.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Harness/ProcessStats.h"
#include <sddl.h>

namespace Host {

namespace {

// Ticks come every HeartBeat Timeout; a minute covers any setting a scenario uses on a loaded machine.
constexpr DWORD kTickLimit = 60000;

void DumpKey(Scenario& scenario, HKEY root, const std::wstring& path, int depth) {
    RegKey key(root, path, false, kRegReadAccess);
    if (!key) {
        scenario.Say(L"  (no key " + path + L")");
        return;
    }
    std::wstring indent(2 + 2 * depth, L' ');
    scenario.Say(indent + L"[" + path + L"]");
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD length = DWORD(std::size(name));
        if (RegEnumValueW(key.Handle(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring value(name, length);
        scenario.Say(indent + L"  " + value + L" = " + DescribeValue(root, path, value));
    }
    if (depth >= 8) return;  // deep enough for any key of the plugin
    for (DWORD i = 0; i < key.SubkeyCount(); ++i) DumpKey(scenario, root, path + L"\\" + key.SubkeyName(i), depth + 1);
}

void Dump(Scenario& scenario, Line& line) {
    size_t what = line.Keyword({L"props", L"reg", L"logs", L"file", L"mails"});
    if (what == 3 || what == 4) {
        std::vector<std::wstring> files;
        if (what == 3) files.push_back(ExpEnv(line.Word()));
        else files = scenario.Host().mails;
        for (const std::wstring& file : files) {
            scenario.Say(L"  [" + file + L"]");
            if (!FileExists(file)) Fail(L"no file " + file);
            // The simulator writes its mails in UTF-8; the plugin's files are its own.
            std::wstring text = what == 4 ? ReadUtf8File(file) : ReadPluginTextFile(file);
            for (size_t start = 0; start < text.size();) {
                size_t end = text.find(L'\n', start);
                if (end == std::wstring::npos) end = text.size();
                std::wstring row = text.substr(start, end - start);
                if (!row.empty() && row.back() == L'\r') row.pop_back();
                scenario.Say(L"    " + row);
                start = end + 1;
            }
        }
    } else if (what == 0) {
        for (const auto& [name, value] : scenario.Host().Environment().Properties())
            scenario.Say(L"  prop " + name.str() + L" = " + value);
    } else if (what == 1) {
        std::wstring path;
        HKEY root = ParseRegistryPath(line.Word(), path);
        DumpKey(scenario, root, path, 0);
    } else {
        std::wstring pattern = LogPattern();
        std::vector<std::wstring> files = LogFiles(pattern);
        scenario.Say(L"  log files of " + pattern + L": " + std::to_wstring(files.size()));
        for (const std::wstring& file : files) {
            std::vector<LogRecord> records = ReadLogFile(file);
            scenario.Say(L"  [" + GetFileName(file) + L"] " + std::to_wstring(records.size()) + L" record(s)");
            for (const LogRecord& record : records) scenario.Say(L"    " + record.text);
        }
    }
}

void WriteRegistry(Scenario& scenario, Line& line) {
    std::wstring path;
    HKEY root = ParseRegistryPath(line.Word(), path);
    std::wstring name = line.Word();
    line.Expect(L"=");
    std::wstring value = line.Rest();
    RegKey key(root, path, true, kRegWriteAccess);
    if (!key) Fail(L"cannot open registry key " + path + L" (error " + std::to_wstring(key.LastError()) + L")");
    if (value == L"delete") {
        key[name].Delete();
    } else if (value.rfind(L"dword:", 0) == 0) {
        wchar_t* end = nullptr;
        unsigned long number = wcstoul(value.c_str() + 6, &end, 0);
        if (value.size() == 6 || *end) Fail(L"\"" + value + L"\" is no dword value");
        key[name] = DWORD(number);
    } else if (value.rfind(L"sz:", 0) == 0) {
        key[name] = value.substr(3);
    } else {
        Fail(L"a registry value is dword:N, sz:TEXT or delete, not \"" + value + L"\"");
    }
    scenario.Host().transcript.Add(L"host", L"reg " + path + L" " + name + L" = " + value);
}

// A key as a locked-down terminal may have it: everyone may read it, no one may change it; or, with
// "off", everyone may again.
void MakeReadOnly(Scenario& scenario, Line& line) {
    std::wstring path;
    HKEY root = ParseRegistryPath(line.Word(), path);
    const bool off = !line.AtEnd() && line.Keyword({L"off"}) == 0;
    if (!off) {
        RegKey created(root, path, true, kRegWriteAccess);
        if (!created) Fail(L"cannot open registry key " + path + L" (error " + std::to_wstring(created.LastError()) + L")");
    }
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC, &key);
    if (result != ERROR_SUCCESS) Fail(L"cannot open registry key " + path + L" (error " + std::to_wstring(result) + L")");
    PSECURITY_DESCRIPTOR access = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(off ? L"D:(A;;KA;;;WD)" : L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                              &access, nullptr)) {
        RegCloseKey(key);
        Fail(L"cannot make the access list (error " + std::to_wstring(GetLastError()) + L")");
    }
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, access);
    LocalFree(access);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) Fail(L"cannot set the access list of " + path + L" (error " + std::to_wstring(result) + L")");
    scenario.Host().transcript.Add(L"host", L"key " + path + (off ? L" writable again" : L" made read-only"));
}

}  // namespace

void RunWait(Line& line, bool countAllowed) {
    if (EqualNoCase(line.Peek(), L"tick")) {
        line.Word();
        long long count = countAllowed && !line.AtEnd() ? line.Number() : 1;
        if (count < 1 || count > 100) Fail(L"wait tick takes a count of 1 to 100");
        int came = PumpTimerTicks(int(count), kTickLimit);
        if (came < count)
            Fail(L"only " + std::to_wstring(came) + L" of " + std::to_wstring(count) + L" timer tick(s) came within " +
                 std::to_wstring(kTickLimit / 1000) + L" s");
        return;
    }
    long long ms = line.Number();
    if (ms < 0 || ms > 600000) Fail(L"wait takes 0 to 600000 milliseconds");
    PumpMessages(DWORD(ms));
}

void AddSetupCommands(CommandTable& commands) {
    commands.Add(L"wait MS|tick [COUNT]",
                 L"runs the message loop for MS milliseconds (timers fire; the simulated clock runs on), or until COUNT "
                 L"(default 1) more ticks of the plugin's day timer have been handled (at most 60 s: fewer is a failure)",
                 [](Scenario&, Line& line) { RunWait(line, true); });
    commands.Add(L"clock 2026-12-08 23:59:58 [held]",
                 L"sets the plugin's local time; it runs on from there at the real pace, or stands still when held",
                 [](Scenario& scenario, Line& line) {
                     std::wstring date = line.Word();
                     std::wstring time = line.Word();
                     bool held = !line.AtEnd() && line.Keyword({L"held"}) == 0;
                     Clock::Set(ParseClock(date + L" " + time), held);
                     scenario.Host().transcript.Add(L"host", L"clock set to " + date + L" " + time + (held ? L", held" : L""));
                 });
    commands.Add(L"reg \"HKLM\\KEY\" NAME = dword:N|sz:TEXT|delete",
                 L"writes or deletes a registry value (`HKLM`, `HKCU`, `HKCR` or the long names; an empty NAME, `\"\"`, is the default value)", WriteRegistry);
    commands.Add(L"readonly \"HKLM\\KEY\" [off]",
                 L"makes a registry key (created when missing) one that nobody may write, as on a locked-down terminal: "
                 L"its access list lets everyone read it and no one set or delete a value, create a subkey or delete it; "
                 L"`off` lets everyone write it again",
                 MakeReadOnly);
    commands.Add(L"fail Object.Method [HRESULT|off]",
                 L"makes one host method answer a failure (default 0x80004005) until `off`; names as in "
                 L"`Host/HostObjects.cpp`, e.g. `Terminal.GetEnvironment`, `Session.GetProperty`, `Application.RunScript`; "
                 L"an unknown name fails the line and lists the known ones",
                 [](Scenario& scenario, Line& line) {
                     std::wstring method = line.Word();
                     std::wstring known;
                     if (!IsHostMethod(method, &known))
                         Fail(L"no host method " + method + L" can fail; these can: " + known);
                     std::wstring how = line.AtEnd() ? L"0x80004005" : line.Word();
                     if (EqualNoCase(how, L"off")) {
                         scenario.Host().ClearFailure(method);
                     } else {
                         wchar_t* end = nullptr;
                         unsigned long hr = wcstoul(how.c_str(), &end, 0);
                         if (how.empty() || *end || !FAILED(HRESULT(hr))) Fail(L"\"" + how + L"\" is no failing HRESULT or off");
                         scenario.Host().FailMethod(method, HRESULT(hr));
                     }
                     scenario.Host().transcript.Add(L"host", L"host method " + method + L" fails: " + how);
                 });
    commands.Add(L"flag on|off", L"the answer of the flag query behind `IsFlagSet`", [](Scenario& scenario, Line& line) {
        scenario.Host().FlagsObject().value = line.Keyword({L"on", L"off"}) == 0 ? 1 : 0;
    });
    commands.Add(L"dump props|reg \"KEY\"|logs|file PATH|mails",
                 L"prints the environment properties, a registry key with its subkeys, every operation-log file of "
                 L"the `LogPath` pattern, oldest day first, decoded from Windows-1251, a file the plugin wrote "
                 L"(environment references expanded), or every mail sent since the file began",
                 Dump);
    commands.Add(L"file PATH = TEXT",
                 L"writes TEXT to PATH as UTF-8 with the signature; `\\n` in TEXT is a line break (CR LF); environment "
                 L"references in PATH are expanded and missing folders made",
                 [](Scenario& scenario, Line& line) {
                     std::wstring path = ExpEnv(line.Word());
                     line.Expect(L"=");
                     std::wstring text = line.Rest();
                     for (size_t at = 0; (at = text.find(L"\\n", at)) != std::wstring::npos; at += 2) text.replace(at, 2, L"\r\n");
                     std::wstring folder = GetParentPath(path);
                     if (!folder.empty() && !CreatePath(folder)) Fail(L"cannot make the folder " + folder);
                     HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
                     if (file == INVALID_HANDLE_VALUE) Fail(L"cannot write " + path + L" (error " + std::to_wstring(GetLastError()) + L")");
                     std::string bytes = "\xEF\xBB\xBF" + Narrow(text, CP_UTF8);
                     DWORD written = 0;
                     BOOL ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
                     CloseHandle(file);
                     if (!ok || written != bytes.size()) Fail(L"cannot write " + path);
                     scenario.Host().transcript.Add(L"host", L"file " + path + L" written");
                 });
    commands.Add(L"echo TEXT", L"prints the text", [](Scenario& scenario, Line& line) { scenario.Say(line.Rest()); });
    commands.Add(L"stats",
                 L"prints the simulator's private memory in KB, its open handles, and the KB of the records the host "
                 L"keeps for the expectations (the transcript and the lists of navigations, scripts, mails and "
                 L"raised events), which grow with the run",
                 [](Scenario& scenario, Line&) {
                     const Terminal& terminal = scenario.Host();
                     scenario.Say(L"stats: private KB " + std::to_wstring(PrivateBytes() / 1024) + L", handles " +
                                  std::to_wstring(OpenHandleCount()) + L", host records KB " +
                                  std::to_wstring(terminal.KeptBytes() / 1024) + L" (" +
                                  std::to_wstring(terminal.transcript.Records().size()) + L" transcript records)");
                 });
    commands.Add(L"forget",
                 L"drops the records the host keeps for the expectations (see `stats`): a long run's memory; "
                 L"expectations on them see only what came after",
                 [](Scenario& scenario, Line&) { scenario.Host().Forget(); });
    commands.Add(L"include FILE",
                 L"runs the lines of another scenario file here (a relative FILE lies beside this one); the line fails "
                 L"when one of them did",
                 [](Scenario& scenario, Line& line) {
                     std::wstring file = scenario.Resolve(line.Word());
                     if (!scenario.RunFile(file)) Fail(L"a line of " + file + L" failed");
                 });
}

}  // namespace Host
