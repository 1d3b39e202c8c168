#include "Host/Faults.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "Host/HostObjects.h"
#include "Host/PluginHost.h"
#include "Host/Scenario.h"
#include <shlwapi.h>
#include <algorithm>
#include <cwchar>
#include <mutex>

namespace Host {
namespace Faults {

namespace {

// The order of the wrappers below.
enum Call : size_t {
    kRegOpenKeyExW, kRegOpenKeyExA, kRegCreateKeyExW, kRegCreateKeyExA, kRegQueryValueExW, kRegQueryValueExA,
    kRegSetValueExW, kRegSetValueExA, kRegDeleteValueW, kRegDeleteValueA, kRegDeleteKeyW, kSHDeleteKeyW,
    kRegEnumValueW, kRegEnumKeyExW, kRegQueryInfoKeyW, kCreateFileW, kCreateFileA, kWriteFile, kSetEndOfFile,
    kReadFile, kCallCount
};

const wchar_t* const kCallNames[kCallCount] = {
    L"RegOpenKeyExW", L"RegOpenKeyExA", L"RegCreateKeyExW", L"RegCreateKeyExA", L"RegQueryValueExW",
    L"RegQueryValueExA", L"RegSetValueExW", L"RegSetValueExA", L"RegDeleteValueW", L"RegDeleteValueA",
    L"RegDeleteKeyW", L"SHDeleteKeyW", L"RegEnumValueW", L"RegEnumKeyExW", L"RegQueryInfoKeyW", L"CreateFileW",
    L"CreateFileA", L"WriteFile", L"SetEndOfFile", L"ReadFile",
};

struct State {
    std::mutex lock;
    int counts[kCallCount] = {};
    size_t failCall = kCallCount;  // none
    int failAt = 0;
    bool fired = false;
    std::wstring target;  // the key, value or file the failed call named
    // With a name, only the calls that name it count towards failAt.
    std::wstring failOn;
    int namedCalls = 0;
    bool persist = false;  // every call from failAt on fails, not only that one
};

// A key, value or file named in full, or by its last part ("email" for "...\\Alerts\\Startup\\email").
bool Names(std::wstring_view target, const std::wstring& name) {
    if (target.size() < name.size() || _wcsnicmp(target.data() + target.size() - name.size(), name.c_str(), name.size()) != 0)
        return false;
    return target.size() == name.size() || target[target.size() - name.size() - 1] == L'\\';
}

State& TheState() {
    static State state;
    return state;
}

// Counts the call; true when it is the one to fail.
bool Hit(Call call, std::wstring_view target = {}) {
    State& state = TheState();
    std::lock_guard guard(state.lock);
    int made = ++state.counts[call];
    if (state.failCall != call) return false;
    if (!state.failOn.empty()) {
        if (!Names(target, state.failOn)) return false;
        made = ++state.namedCalls;
    }
    if (state.persist ? made < state.failAt : made != state.failAt) return false;
    if (!state.fired) state.target = target;
    state.fired = true;
    return true;
}
std::wstring_view Named(LPCWSTR name) { return name ? name : L""; }
std::wstring Named(LPCSTR name) { return name ? Widen(name) : L""; }

// A registry that refuses, a disk that is full or unreadable: errors a terminal meets.
constexpr LONG kRegistryError = ERROR_ACCESS_DENIED;

LONG WINAPI FakeRegOpenKeyExW(HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e) {
    return Hit(kRegOpenKeyExW, Named(b)) ? kRegistryError : RegOpenKeyExW(a, b, c, d, e);
}
LONG WINAPI FakeRegOpenKeyExA(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e) {
    return Hit(kRegOpenKeyExA, Named(b)) ? kRegistryError : RegOpenKeyExA(a, b, c, d, e);
}
LONG WINAPI FakeRegCreateKeyExW(HKEY a, LPCWSTR b, DWORD c, LPWSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
                                PHKEY h, LPDWORD i) {
    return Hit(kRegCreateKeyExW, Named(b)) ? kRegistryError : RegCreateKeyExW(a, b, c, d, e, f, g, h, i);
}
LONG WINAPI FakeRegCreateKeyExA(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
                                PHKEY h, LPDWORD i) {
    return Hit(kRegCreateKeyExA, Named(b)) ? kRegistryError : RegCreateKeyExA(a, b, c, d, e, f, g, h, i);
}
LONG WINAPI FakeRegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
    return Hit(kRegQueryValueExW, Named(b)) ? kRegistryError : RegQueryValueExW(a, b, c, d, e, f);
}
LONG WINAPI FakeRegQueryValueExA(HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
    return Hit(kRegQueryValueExA, Named(b)) ? kRegistryError : RegQueryValueExA(a, b, c, d, e, f);
}
LONG WINAPI FakeRegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) {
    return Hit(kRegSetValueExW, Named(b)) ? kRegistryError : RegSetValueExW(a, b, c, d, e, f);
}
LONG WINAPI FakeRegSetValueExA(HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) {
    return Hit(kRegSetValueExA, Named(b)) ? kRegistryError : RegSetValueExA(a, b, c, d, e, f);
}
LONG WINAPI FakeRegDeleteValueW(HKEY a, LPCWSTR b) { return Hit(kRegDeleteValueW, Named(b)) ? kRegistryError : RegDeleteValueW(a, b); }
LONG WINAPI FakeRegDeleteValueA(HKEY a, LPCSTR b) { return Hit(kRegDeleteValueA, Named(b)) ? kRegistryError : RegDeleteValueA(a, b); }
LONG WINAPI FakeRegDeleteKeyW(HKEY a, LPCWSTR b) { return Hit(kRegDeleteKeyW, Named(b)) ? kRegistryError : RegDeleteKeyW(a, b); }
DWORD WINAPI FakeSHDeleteKeyW(HKEY a, LPCWSTR b) { return Hit(kSHDeleteKeyW, Named(b)) ? DWORD(kRegistryError) : SHDeleteKeyW(a, b); }
LONG WINAPI FakeRegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g, LPDWORD h) {
    return Hit(kRegEnumValueW) ? kRegistryError : RegEnumValueW(a, b, c, d, e, f, g, h);
}
LONG WINAPI FakeRegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f, LPDWORD g, PFILETIME h) {
    return Hit(kRegEnumKeyExW) ? kRegistryError : RegEnumKeyExW(a, b, c, d, e, f, g, h);
}
LONG WINAPI FakeRegQueryInfoKeyW(HKEY a, LPWSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g, LPDWORD h,
                                 LPDWORD i, LPDWORD j, LPDWORD k, PFILETIME l) {
    return Hit(kRegQueryInfoKeyW) ? kRegistryError : RegQueryInfoKeyW(a, b, c, d, e, f, g, h, i, j, k, l);
}
// A failed file call: nothing done, the error left for GetLastError.
BOOL Refused(LPDWORD done, DWORD error) {
    if (done) *done = 0;
    SetLastError(error);
    return FALSE;
}

HANDLE Unopened() {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g) {
    return Hit(kCreateFileW, Named(a)) ? Unopened() : CreateFileW(a, b, c, d, e, f, g);
}
HANDLE WINAPI FakeCreateFileA(LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g) {
    return Hit(kCreateFileA, Named(a)) ? Unopened() : CreateFileA(a, b, c, d, e, f, g);
}
BOOL WINAPI FakeWriteFile(HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e) {
    return Hit(kWriteFile) ? Refused(d, ERROR_DISK_FULL) : WriteFile(a, b, c, d, e);
}
BOOL WINAPI FakeSetEndOfFile(HANDLE a) { return Hit(kSetEndOfFile) ? Refused(nullptr, ERROR_DISK_FULL) : SetEndOfFile(a); }
BOOL WINAPI FakeReadFile(HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e) {
    return Hit(kReadFile) ? Refused(d, ERROR_READ_FAULT) : ReadFile(a, b, c, d, e);
}

void* const kWrappers[kCallCount] = {
    reinterpret_cast<void*>(&FakeRegOpenKeyExW),    reinterpret_cast<void*>(&FakeRegOpenKeyExA),
    reinterpret_cast<void*>(&FakeRegCreateKeyExW),  reinterpret_cast<void*>(&FakeRegCreateKeyExA),
    reinterpret_cast<void*>(&FakeRegQueryValueExW), reinterpret_cast<void*>(&FakeRegQueryValueExA),
    reinterpret_cast<void*>(&FakeRegSetValueExW),   reinterpret_cast<void*>(&FakeRegSetValueExA),
    reinterpret_cast<void*>(&FakeRegDeleteValueW),  reinterpret_cast<void*>(&FakeRegDeleteValueA),
    reinterpret_cast<void*>(&FakeRegDeleteKeyW),    reinterpret_cast<void*>(&FakeSHDeleteKeyW),
    reinterpret_cast<void*>(&FakeRegEnumValueW),    reinterpret_cast<void*>(&FakeRegEnumKeyExW),
    reinterpret_cast<void*>(&FakeRegQueryInfoKeyW), reinterpret_cast<void*>(&FakeCreateFileW),
    reinterpret_cast<void*>(&FakeCreateFileA),      reinterpret_cast<void*>(&FakeWriteFile),
    reinterpret_cast<void*>(&FakeSetEndOfFile),     reinterpret_cast<void*>(&FakeReadFile),
};

const wchar_t kCountersKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Bill Counters";

bool IsErrorCode(const std::wstring& code) {
    const std::wstring suffix = L".ERROR";
    return code.size() > suffix.size() && code.compare(code.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::wstring Point::Text() const { return call + L"#" + std::to_wstring(occurrence); }

bool Point::Parse(const std::wstring& text, Point& point) {
    size_t hash = text.rfind(L'#');
    if (hash == std::wstring::npos || hash == 0) return false;
    wchar_t* end = nullptr;
    long k = wcstol(text.c_str() + hash + 1, &end, 10);
    if (*end || k < 1) return false;
    std::wstring call = text.substr(0, hash);
    if (!CanFail(call)) return false;
    point = {call, int(k)};
    return true;
}

const std::vector<std::wstring>& SystemCalls() {
    static const std::vector<std::wstring> names(std::begin(kCallNames), std::end(kCallNames));
    return names;
}

bool CanFail(const std::wstring& call) {
    const auto& system = SystemCalls();
    return std::find(system.begin(), system.end(), call) != system.end() || IsHostMethod(call);
}

void Instrument(HMODULE module) {
    for (size_t i = 0; i < kCallCount; ++i) PatchImport(module, Narrow(kCallNames[i]).c_str(), kWrappers[i]);
}

void Arm(Terminal& terminal, const Point& fail, bool fromNow, const std::wstring& on, bool persist) {
    if (IsHostMethod(fail.call)) {
        auto made = terminal.calls.find(fail.call);
        terminal.FailCall(fail.call, (fromNow && made != terminal.calls.end() ? made->second : 0) + fail.occurrence, E_FAIL,
                          persist);
        return;
    }
    State& state = TheState();
    std::lock_guard guard(state.lock);
    state.failCall = kCallCount;
    for (size_t i = 0; i < kCallCount; ++i)
        if (fail.call == kCallNames[i]) state.failCall = i;
    state.failOn = on;
    state.namedCalls = 0;
    state.persist = persist;
    state.failAt = (fromNow && on.empty() && state.failCall < kCallCount ? state.counts[state.failCall] : 0) + fail.occurrence;
}

void GatherHost(const Terminal& terminal, Outcome& outcome) {
    for (const auto& [method, count] : terminal.calls) outcome.calls[method] = count;
    outcome.hostErrors = terminal.pluginFailures;
    outcome.refusedNotes = terminal.refusedNotes;
    outcome.boxes = int(Boxes::All().size());
    for (const std::wstring& address : terminal.navigations) outcome.hostState.push_back(L"navigate " + address);
    for (const std::wstring& event : terminal.raisedEvents) outcome.hostState.push_back(L"event " + event);
    for (const auto& [name, on] : terminal.failures) outcome.hostState.push_back(L"failure " + name.str());
    outcome.hostState.push_back(L"mails " + std::to_wstring(terminal.mails.size()));
    for (const Record& record : terminal.transcript.Records())
        outcome.attachFailed = outcome.attachFailed || (record.who == L"host" && record.what.rfind(L"Attach failed: ", 0) == 0);
}

std::map<std::wstring, int> SystemCallCounts() {
    State& state = TheState();
    std::lock_guard guard(state.lock);
    std::map<std::wstring, int> counts;
    for (size_t i = 0; i < kCallCount; ++i)
        if (state.counts[i]) counts[kCallNames[i]] = state.counts[i];
    return counts;
}

bool SystemFaultFired() {
    State& state = TheState();
    std::lock_guard guard(state.lock);
    return state.fired;
}

std::wstring SystemFaultTarget() {
    State& state = TheState();
    std::lock_guard guard(state.lock);
    return state.target;
}

void GatherStore(Outcome& outcome) {
    RegKey counters(HKEY_LOCAL_MACHINE, kCountersKey, false, kRegReadAccess);
    for (DWORD i = 0; counters && i < counters.SubkeyCount(); ++i) {
        std::wstring counter = counters.SubkeyName(i);
        RegKey key(counters.Handle(), counter, false, kRegReadAccess);
        if (auto number = key[L"Reset Number"].Int()) outcome.counters[counter + L" Reset"] = std::to_wstring(*number);
        for (DWORD j = 0; key && j < key.SubkeyCount(); ++j) {
            std::wstring currency = key.SubkeyName(j);
            RegKey denominations(key.Handle(), currency, false, kRegReadAccess);
            wchar_t name[256];
            for (DWORD k = 0; denominations; ++k) {
                DWORD length = 256, type = 0, value = 0, size = sizeof value;
                LONG rc = RegEnumValueW(denominations.Handle(), k, name, &length, nullptr, &type,
                                        reinterpret_cast<BYTE*>(&value), &size);
                if (rc != ERROR_SUCCESS) break;
                if (type == REG_DWORD && value != 0)
                    outcome.counters[counter + L"\\" + currency + L"\\" + std::wstring(name, length)] = std::to_wstring(value);
            }
        }
    }
    try {
        for (const std::wstring& file : LogFiles(LogPattern()))
            for (const LogRecord& record : ReadLogFile(file)) {
                outcome.logCodes.push_back(record.code);
                if (IsErrorCode(record.code)) ++outcome.errorRecords;
            }
    } catch (const VelmorException&) {
        // No log path: no records to compare.
    }
}

std::wstring Serialize(const Outcome& outcome) {
    std::wstring text = L"fired\t" + std::to_wstring(outcome.fired) + L"\n";
    if (!outcome.target.empty()) text += L"target\t" + outcome.target + L"\n";
    for (const auto& [name, count] : outcome.calls) text += L"call\t" + name + L"\t" + std::to_wstring(count) + L"\n";
    for (const auto& [name, value] : outcome.counters) text += L"counter\t" + name + L"\t" + value + L"\n";
    for (const std::wstring& code : outcome.logCodes) text += L"log\t" + code + L"\n";
    for (const std::wstring& item : outcome.hostState) text += L"host\t" + item + L"\n";
    text += L"errors\t" + std::to_wstring(outcome.errorRecords) + L"\n";
    text += L"hosterrors\t" + std::to_wstring(outcome.hostErrors) + L"\n";
    text += L"refused\t" + std::to_wstring(outcome.refusedNotes) + L"\n";
    text += L"boxes\t" + std::to_wstring(outcome.boxes) + L"\n";
    text += L"attachfailed\t" + std::to_wstring(outcome.attachFailed) + L"\n";
    return text;
}

Outcome Deserialize(const std::wstring& text) {
    Outcome outcome;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        std::vector<std::wstring> fields;
        for (size_t from = 0;;) {
            size_t tab = line.find(L'\t', from);
            fields.push_back(line.substr(from, tab == std::wstring::npos ? std::wstring::npos : tab - from));
            if (tab == std::wstring::npos) break;
            from = tab + 1;
        }
        const std::wstring& kind = fields[0];
        int number = fields.size() > 1 ? _wtoi(fields.back().c_str()) : 0;
        if (kind == L"fired") outcome.fired = number != 0;
        else if (kind == L"target" && fields.size() == 2) outcome.target = fields[1];
        else if (kind == L"call" && fields.size() == 3) outcome.calls[fields[1]] = number;
        else if (kind == L"counter" && fields.size() == 3) outcome.counters[fields[1]] = fields[2];
        else if (kind == L"log" && fields.size() == 2) outcome.logCodes.push_back(fields[1]);
        else if (kind == L"host" && fields.size() == 2) outcome.hostState.push_back(fields[1]);
        else if (kind == L"errors") outcome.errorRecords = number;
        else if (kind == L"hosterrors") outcome.hostErrors = number;
        else if (kind == L"refused") outcome.refusedNotes = number;
        else if (kind == L"boxes") outcome.boxes = number;
        else if (kind == L"attachfailed") outcome.attachFailed = number != 0;
    }
    return outcome;
}

}  // namespace Faults

void AddFaultCommands(CommandTable& commands) {
    commands.Add(L"fault CALL [K] [on NAME]",
                 L"the plugin's K-th call (default 1) of CALL from now fails, once: a registry or file call of the "
                 L"plugin (RegOpenKeyExW, RegCreateKeyExW, RegQueryValueExW, RegSetValueExW, RegDeleteValueW, "
                 L"SHDeleteKeyW, RegEnumValueW, RegEnumKeyExW, RegQueryInfoKeyW, CreateFileW, CreateFileA, "
                 L"WriteFile, SetEndOfFile, ReadFile and the A forms) through its patched imports, or a host "
                 L"method named as for `fail`; with `on NAME` only the calls that name that key, value or file "
                 L"(in full or by its last part, any case) count",
                 [](Scenario& scenario, Line& line) {
                     Faults::Point point{line.Word(), 1};
                     if (!line.AtEnd() && line.Peek() != L"on") point.occurrence = int(line.Number());
                     std::wstring on;
                     if (!line.AtEnd()) {
                         line.Expect(L"on");
                         on = line.Word();
                         if (!line.AtEnd()) Fail(L"one NAME after `on`; quote a name with blanks");
                         if (IsHostMethod(point.call)) Fail(L"`on NAME` is for registry and file calls");
                     }
                     if (!Faults::CanFail(point.call)) Fail(L"no call " + point.call + L" can be made to fail");
                     if (point.occurrence < 1) Fail(L"K counts from 1");
                     if (!scenario.Module().IsLoaded()) scenario.Module().Load(scenario.PluginPath());
                     Faults::Instrument(scenario.Module().Handle());
                     Faults::Arm(scenario.Host(), point, true, on);
                     scenario.Host().transcript.Add(L"host", L"call " + point.call + L" number " + std::to_wstring(point.occurrence) +
                                                                 (on.empty() ? L"" : L" on " + on) + L" from now fails");
                 });
}

void AddFaultExpectations(CommandTable& expectations) {
    expectations.Add(L"failed CALL", L"a call of the host into the plugin (as the transcript names it: `OnStackerInstalled`, "
                                     L"`cash session OnAccept`, `Attach`...) answered a failure",
                     [](Scenario& scenario, Line& line) {
                         std::wstring call = line.Rest();
                         if (call.empty()) Fail(L"expect failed needs a call");
                         const auto& records = scenario.Host().transcript.Records();
                         bool holds = std::any_of(records.begin(), records.end(), [&](const Record& record) {
                             return record.who == L"host" && record.what.rfind(call + L" failed: ", 0) == 0;
                         });
                         scenario.Check(line, holds, call + L" failed",
                                        std::to_wstring(scenario.Host().pluginFailures) + L" failed call(s), none of that name");
                     });
}

}  // namespace Host
