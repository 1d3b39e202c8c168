#include "Plugin/Counting/Limits.h"
#include "Framework/Com.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Terminal/JobErrors.h"
#include "Plugin/Settings/Settings.h"
#include <vector>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Counting/Limits";

// An entry read in part would pass over a full stacker unseen: every read here is strict.
uint32_t ReadNumber(const RegKey& key, const wchar_t* name) { return key[name].IntOr(0, kSource, __LINE__); }
std::wstring ReadText(const RegKey& key, const wchar_t* name) { return key[name].TextOr(L"", kSource, __LINE__); }

// The subkey names in enumeration order, read in one pass before any entry is opened.
std::vector<std::wstring> EntryNames(const RegKey& root) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        std::wstring name = root.SubkeyName(index);
        if (name.empty()) break;
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace

bool Limits::OutOfBand(uint32_t value, uint32_t min, uint32_t max) {
    return value != 0 && ((min != 0 && value <= min) || (max != 0 && value >= max));
}

void Limits::Check(const CounterValues& values, const std::wstring& range) {
    RegKey root(HKEY_LOCAL_MACHINE, kCounterLimitsKey, false, kRegReadAccess);
    std::vector<std::wstring> names = EntryNames(root);
    if (names.empty()) return;
    // Each entry is checked though another could not be read; the first failure is raised after.
    std::exception_ptr failure;
    bool alertOnOverflow = false;
    Attempt(failure, [&] { alertOnOverflow = AlertEventOn(kOverflowEvent); });
    for (const std::wstring& name : names) Attempt(failure, [&] { CheckEntry(root, name, values, range, alertOnOverflow); });
    if (failure) std::rethrow_exception(failure);
}

void Limits::CheckEntry(const RegKey& root, const std::wstring& name, const CounterValues& values, const std::wstring& range,
                        bool alertOnOverflow) {
    RegKey entry(root.Handle(), name, false, kRegReadAccess);
    std::wstring prop = ReadText(entry, L"prop");
    uint32_t min = ReadNumber(entry, L"min"), max = ReadNumber(entry, L"max");
    if (prop.empty() || (min == 0 && max == 0)) return;

    auto found = values.find(keystringW(prop));
    const bool out = OutOfBand(found == values.end() ? 0 : found->second, min, max);
    std::wstring entryRange = ReadText(entry, L"range");
    if (!out && !entryRange.empty() && !EqualNoCase(entryRange, range)) return;

    std::wstring failure = ReadText(entry, out ? L"set failure" : L"reset failure");
    if (!failure.empty()) SwitchFailure(failure, out);
    if (!out || alertOnOverflow) {
        std::wstring alert = ReadText(entry, out ? L"set alert" : L"reset alert");
        if (!alert.empty()) alerts_.RaiseOrClearAlert(alert, out, false);
    }
}

void Limits::SwitchFailure(const std::wstring& failure, bool set) {
    // A switch the host refused leaves the terminal in service past its limit, or out of it: the
    // refusal is raised, and the next check switches it again.
    CoCheck(terminal_.GetTerminalExtenders()->SetFailure(CoString(failure.c_str()), set ? 1 : 0), kSource, __LINE__);
}

}  // namespace Plugin
