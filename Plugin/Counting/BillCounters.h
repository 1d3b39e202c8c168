// Bill counters: the in-memory bill set, the registry store of the eight counters, their published
// values and the log lines of cash acceptance.
#pragma once
#include "Framework/RealTime.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "MTSys/MTSys.h"
#include "Plugin/Counting/PLLog.h"
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Plugin {

// Currency code to denomination to count. All arithmetic is 32-bit unsigned.
class BillSet {
public:
    using Denominations = std::map<uint32_t, uint32_t>;
    using Currencies = std::map<keystringW, Denominations>;

    // Adding 0 makes the entry without counting.
    void Add(const std::wstring& currency, uint32_t denomination, uint32_t count);
    uint32_t TotalCount() const;
    uint32_t CurrencyCount(const std::wstring& currency) const;
    uint32_t CurrencyAmount(const std::wstring& currency) const;
    uint32_t DenominationCount(const std::wstring& currency, uint32_t denomination) const;
    uint32_t DenominationAmount(const std::wstring& currency, uint32_t denomination) const;
    std::vector<keystringW> CurrencyCodes() const;
    std::vector<uint32_t> DenominationsOf(const std::wstring& currency) const;
    void Zero();
    bool Empty() const { return items_.empty(); }
    const Currencies& Items() const { return items_; }
    // "RUB¤600 + USD¤20" in Windows-1251; empty for an empty set.
    std::string Summary() const;

private:
    const Denominations* Find(const std::wstring& currency) const;
    Currencies items_;
};

struct ResetInfo {
    uint32_t number = 0;
    RealTime time;      // local time of the last reset
    RealTime previous;  // local time of the reset before it
    bool Empty() const { return number == 0 && !time && !previous; }
};

using CounterValues = std::map<keystringW, uint32_t>;
using ResetInfoMap = std::map<keystringW, ResetInfo>;

// Counter values and reset records frozen at one moment: while a collection is open, what the
// generated texts see of the "Collect" counter.
struct CounterSnapshot {
    CounterValues values;
    ResetInfoMap resets;
    void Clear() {
        values.clear();
        resets.clear();
    }
};

// `base` with every entry of `over` in place of its own.
template <class Map> Map Overlaid(Map base, const Map& over) {
    for (const auto& [name, value] : over) base[name] = value;
    return base;
}

// The eight counters in case-insensitive order.
const std::vector<keystringW>& CounterNames();

// Registry store of one machine: HKLM ...\Tallymark\Bill Counters\<counter>\<currency>\<denomination>.
namespace CounterStore {
BillSet Load(const std::wstring& counter);
// A bill set stored the same way under any machine key (currency subkeys, "%u" values).
BillSet LoadFrom(const std::wstring& path);
// Creates a missing counter key on the way.
ResetInfo ReadResetInfo(const std::wstring& counter);
}  // namespace CounterStore

// Raises VMAppException for a bill the counters cannot hold: a denomination outside 1..2^32-1, or
// a currency code that is empty, too long for a key name or holds a backslash.
void CheckBill(long long denomination, const std::wstring& currency);

// Reads a value or subkey name as sscanf "%u" would, refusing what does not fit in 32 bits or is
// negative. False when no number leads the name.
bool ScanDenomination(const std::wstring& name, uint32_t& value);

// Writes the properties "Tallymark.BillCounter.<counter>...." of one counter into `values`.
void PublishCounter(CounterValues& values, const std::wstring& counter, const BillSet& bills);

// Log texts (Windows-1251).
std::string CashAcceptText(uint32_t denomination, const std::wstring& currency, const BillSet& stacker);
std::string CashSessionEndText(const BillSet& tally, bool cancelled);
std::string ResetDescription(const ResetInfo& current, const ResetInfo& before);

// The valid bill types of the plugin currency, counts 0: the host's Cash Settings when they are of
// that currency, else the Russian default list for RUB.
BillSet ReadBillTypeTable(const std::wstring& currency);
const BillSet& BillTypeTable();  // process-wide, read once

// The counters as the terminal side keeps them: their published values and reset records, read at
// a refresh and kept up to date by each note.
class BillCounters {
public:
    using LimitCheck = std::function<void(const CounterValues& values, const std::wstring& range)>;

    BillCounters(OperationLog& log, LimitCheck limitCheck);

    void InsertCounterNames();
    const std::vector<keystringW>& Names() const { return names_; }

    void PublishAll(CounterValues& values) const;
    void Refresh();
    // An accepted note goes into every counter, then the published values, the log and the limits.
    // A counter that cannot take it keeps the note from no other; the first such failure is raised
    // once the rest is done.
    void CountBill(uint32_t denomination, const std::wstring& currency);
    void ReportSessionEnd(const BillSet& tally, bool cashSessionOpen);
    // Clears the counter and numbers the reset; the caller refreshes afterwards.
    ResetInfo Reset(const std::wstring& counter);
    // Refreshes, then checks the limits against the counters' own values (no snapshot).
    void RefreshAndCheckLimits();

    const CounterValues& Published() const { return published_; }
    const ResetInfoMap& Resets() const { return resets_; }

private:
    // Adds the note to each counter; `counted` tells which took it. The first failure, if any.
    std::exception_ptr Increment(uint32_t denomination, const std::wstring& currency, std::vector<bool>& counted);
    // Brings the kept counters and values up to date with the counters that took the note, without
    // reading back what this process just wrote.
    void PublishCounted(uint32_t denomination, const std::wstring& currency, const std::vector<bool>& counted);

    OperationLog& log_;
    LimitCheck limitCheck_;
    std::vector<keystringW> names_;
    // Watches everything below the counters' key afresh (a key deleted and made again is a new
    // key, which an old watch never sees); false when it cannot.
    bool ArmWatch();
    // Whether anything changed there since the watch was armed; a watch that is not armed says yes.
    bool WatchSawChange() const;

    // Each counter as stored, and the watch that says whether it still is. Valid from a refresh
    // until anything but a note's count writes below the counters' key.
    std::map<keystringW, BillSet> stored_;
    std::unique_ptr<MTSys::RegKeyChangeMonitor> watch_;
    bool storedValid_ = false;
    CounterValues published_;
    ResetInfoMap resets_;
};

}  // namespace Plugin
