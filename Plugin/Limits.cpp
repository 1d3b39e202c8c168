#include "Plugin/Limits.h"
#include "Framework/Com.h"
#include "Plugin/Config.h"
#include <vector>

namespace Plugin {

namespace {

const wchar_t kOverflowEvent[] = L"BillCounterOverflow";

uint32_t ReadNumber(const RegKey& key, const wchar_t* name) { return uint32_t(ReadSetting(key, name, 0)); }

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
    const bool alertOnOverflow = Alerts::IsEventEnabled(kOverflowEvent);
    for (const std::wstring& name : names) {
        RegKey entry(root.Handle(), name, false, kRegReadAccess);
        std::wstring prop = ReadSetting(entry, L"prop", L"");
        uint32_t min = ReadNumber(entry, L"min"), max = ReadNumber(entry, L"max");
        if (prop.empty() || (min == 0 && max == 0)) continue;

        auto found = values.find(keystringW(prop));
        const bool out = OutOfBand(found == values.end() ? 0 : found->second, min, max);
        std::wstring entryRange = ReadSetting(entry, L"range", L"");
        if (!out && !entryRange.empty() && !EqualNoCase(entryRange, range)) continue;

        std::wstring failure = ReadSetting(entry, out ? L"set failure" : L"reset failure", L"");
        if (!failure.empty()) SwitchFailure(failure, out);
        if (!out || alertOnOverflow) {
            std::wstring alert = ReadSetting(entry, out ? L"set alert" : L"reset alert", L"");
            if (!alert.empty()) alerts_.RaiseOrClearAlert(alert, out, false);
        }
    }
}

void Limits::SwitchFailure(const std::wstring& failure, bool set) {
    // The host keeps the failure's state; what it answers changes nothing here.
    (void)terminal_.GetTerminalExtenders()->SetFailure(CoString(failure.c_str()), set ? 1 : 0);
}

}  // namespace Plugin
