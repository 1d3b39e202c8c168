// Counter limits: entries that watch published counter values against thresholds and, as a value
// leaves or re-enters its band, switch a named terminal failure and raise or clear an alert.
// Entries are read afresh at every check, so the settings page's changes count at the next one.
#pragma once
#include "Plugin/Texts/Alerts.h"
#include "Plugin/Counting/BillCounters.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <string>

namespace Plugin {

class Limits {
public:
    Limits(PLXDK::Paylantra::PLClient& terminal, Alerts& alerts) : terminal_(terminal), alerts_(alerts) {}

    // `range` is the counter just reset, or empty after a bill, at exit and at the end of a
    // collection: an in-band entry with a range acts only when that counter is reset.
    void Check(const CounterValues& values, const std::wstring& range);

    // Out of band, in unsigned arithmetic: 0 never is; otherwise at or below a non-zero "min", or at
    // or above a non-zero "max".
    static bool OutOfBand(uint32_t value, uint32_t min, uint32_t max);

private:
    void CheckEntry(const RegKey& root, const std::wstring& name, const CounterValues& values, const std::wstring& range,
                    bool alertOnOverflow);
    void SwitchFailure(const std::wstring& failure, bool set);

    PLXDK::Paylantra::PLClient& terminal_;
    Alerts& alerts_;
};

}  // namespace Plugin
