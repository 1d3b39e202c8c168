#include "Plugin/Counting/BillCounters.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Plugin.h"
#include <algorithm>
#include <cwctype>

namespace Plugin {

namespace {
const char kSource[] = "Plugin/Counting/BillCounters";
const wchar_t kPropertyPrefix[] = L"Tallymark.BillCounter.";
const size_t kMaxValueName = 32767;  // registry value names hold at most 16383 characters

std::wstring CounterPath(const std::wstring& counter) { return std::wstring(kBillCountersKey) + L"\\" + counter; }

std::wstring Decimal(uint32_t value) { return std::to_wstring(value); }

}  // namespace

// A currency code becomes a registry key name; one that the reader would not find again is refused,
// and so is a denomination the store cannot name.
void CheckBill(long long denomination, const std::wstring& currency) {
    if (denomination <= 0 || denomination > 0xFFFFFFFFll)
        throw VMAppException(L"Недопустимый номинал купюры " + std::to_wstring(denomination) + L" (" + currency + L")");
    if (currency.empty() || currency.size() > 255 || currency.find(L'\\') != std::wstring::npos)
        throw VMAppException(L"Недопустимый код валюты купюры \"" + currency + L"\"");
}

void BillSet::Add(const std::wstring& currency, uint32_t denomination, uint32_t count) {
    items_[keystringW(currency)][denomination] += count;
}

const BillSet::Denominations* BillSet::Find(const std::wstring& currency) const {
    auto it = items_.find(keystringW(currency));
    return it == items_.end() ? nullptr : &it->second;
}

uint32_t BillSet::TotalCount() const {
    uint32_t total = 0;
    for (const auto& [currency, denominations] : items_)
        for (const auto& [denomination, count] : denominations) total += count;
    return total;
}

uint32_t BillSet::CurrencyCount(const std::wstring& currency) const {
    uint32_t total = 0;
    if (const Denominations* d = Find(currency))
        for (const auto& [denomination, count] : *d) total += count;
    return total;
}

uint32_t BillSet::CurrencyAmount(const std::wstring& currency) const {
    uint32_t total = 0;
    if (const Denominations* d = Find(currency))
        for (const auto& [denomination, count] : *d) total += count * denomination;
    return total;
}

uint32_t BillSet::DenominationCount(const std::wstring& currency, uint32_t denomination) const {
    const Denominations* d = Find(currency);
    if (!d) return 0;
    auto it = d->find(denomination);
    return it == d->end() ? 0 : it->second;
}

uint32_t BillSet::DenominationAmount(const std::wstring& currency, uint32_t denomination) const {
    return DenominationCount(currency, denomination) * denomination;
}

std::vector<keystringW> BillSet::CurrencyCodes() const {
    std::vector<keystringW> codes;
    for (const auto& entry : items_) codes.push_back(entry.first);
    return codes;
}

std::vector<uint32_t> BillSet::DenominationsOf(const std::wstring& currency) const {
    std::vector<uint32_t> result;
    if (const Denominations* d = Find(currency))
        for (const auto& entry : *d) result.push_back(entry.first);
    return result;
}

void BillSet::Zero() {
    for (auto& [currency, denominations] : items_)
        for (auto& [denomination, count] : denominations) count = 0;
}

std::string BillSet::Summary() const {
    std::string text;
    for (const auto& [currency, denominations] : items_) {
        if (!text.empty()) text += " + ";
        text += FormatBuffer(300, "%s\xA4%u", Narrow1251(currency.str()).c_str(), CurrencyAmount(currency.str()));
    }
    return text;
}

const std::vector<keystringW>& CounterNames() {
    static const std::vector<keystringW> names = [] {
        std::vector<keystringW> list = {L"App",      L"Collect",  L"Payment", L"Session",
                                        L"Stacker",  L"Terminal", L"Today",   L"ZReport"};
        std::sort(list.begin(), list.end());
        return list;
    }();
    return names;
}

bool ScanDenomination(const std::wstring& name, uint32_t& value) {
    size_t i = 0;
    while (i < name.size() && std::iswspace(name[i])) ++i;
    if (i < name.size() && name[i] == L'+') ++i;
    if (i >= name.size() || name[i] < L'0' || name[i] > L'9') return false;
    unsigned long long number = 0;
    for (; i < name.size() && name[i] >= L'0' && name[i] <= L'9'; ++i) {
        number = number * 10 + unsigned(name[i] - L'0');
        if (number > 0xFFFFFFFFull) return false;
    }
    value = uint32_t(number);
    return true;
}

namespace CounterStore {

BillSet Load(const std::wstring& counter) { return LoadFrom(CounterPath(counter)); }

BillSet LoadFrom(const std::wstring& path) {
    BillSet bills;
    // A key that does not exist reads as empty; one that exists and cannot be read is a failure.
    RegKey key = RegKey::OpenToRead(HKEY_LOCAL_MACHINE, path, kSource, __LINE__);
    if (!key) return bills;
    std::vector<wchar_t> name(kMaxValueName);
    DWORD currencies = key.SubkeyCount();
    for (DWORD index = 0; index < currencies; ++index) {
        std::wstring currency = key.SubkeyName(index);
        if (currency.empty()) continue;
        RegKey sub = RegKey::OpenToRead(key.Handle(), currency, kSource, __LINE__);
        if (!sub) continue;
        for (DWORD valueIndex = 0;; ++valueIndex) {
            // The count comes with its name: one call a value. A value too large for a count
            // answers ERROR_MORE_DATA; it is not a count, and the enumeration goes on.
            DWORD length = DWORD(name.size()), type = 0, count = 0, size = sizeof count;
            LONG result = RegEnumValueW(sub.Handle(), valueIndex, name.data(), &length, nullptr, &type,
                                        reinterpret_cast<BYTE*>(&count), &size);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result == ERROR_MORE_DATA) continue;
            if (result != ERROR_SUCCESS) throw WindowsError(DWORD(result), kSource, __LINE__);
            if (length == 0 || type != REG_DWORD || size != sizeof count) continue;
            uint32_t denomination = 0;
            if (!ScanDenomination(std::wstring(name.data(), length), denomination) || denomination == 0) continue;
            bills.Add(currency, denomination, count);
        }
    }
    return bills;
}

ResetInfo ReadResetInfo(const std::wstring& counter) {
    ResetInfo info;
    RegKey key(HKEY_LOCAL_MACHINE, CounterPath(counter), true, kRegWriteAccess);
    info.number = key[L"Reset Number"].IntOr(0, kSource, __LINE__);
    RealTime time;
    if (ScanDateTime(key[L"Reset Timestamp"].TextOr(L"", kSource, __LINE__), 0, time)) info.time = time.Local();
    return info;
}

}  // namespace CounterStore

namespace {

std::wstring CounterPrefix(const std::wstring& counter) { return kPropertyPrefix + counter + L"."; }

// The currency's totals; the base is returned for its denominations.
std::wstring PublishCurrency(CounterValues& values, const std::wstring& prefix, const BillSet& bills, const std::wstring& currency) {
    const std::wstring base = prefix + currency + L".";
    values[base + L"All.Count"] = bills.CurrencyCount(currency);
    values[base + L"All.Total"] = bills.CurrencyAmount(currency);
    return base;
}

void PublishDenomination(CounterValues& values, const std::wstring& base, uint32_t denomination, uint32_t count) {
    const std::wstring name = base + Decimal(denomination) + L".";
    values[name + L"Count"] = count;
    values[name + L"Total"] = count * denomination;
}

}  // namespace

void PublishCounter(CounterValues& values, const std::wstring& counter, const BillSet& bills) {
    const std::wstring prefix = CounterPrefix(counter);
    values[prefix + L"All.All.Count"] = bills.TotalCount();
    for (const auto& [currency, denominations] : bills.Items()) {
        const std::wstring base = PublishCurrency(values, prefix, bills, currency.str());
        for (const auto& [denomination, count] : denominations) PublishDenomination(values, base, denomination, count);
    }
}

std::string CashAcceptText(uint32_t denomination, const std::wstring& currency, const BillSet& stacker) {
    return FormatBuffer(256, Narrow1251(L"принята купюра %u %s (всего в стекере купюр %u шт.: %s)").c_str(), denomination,
                        Narrow1251(currency).c_str(), stacker.TotalCount(), stacker.Summary().c_str());
}

std::string CashSessionEndText(const BillSet& tally, bool cancelled) {
    std::string text = Narrow1251(cancelled ? L"приём купюр неожиданно отменён, " : L"приём купюр завершён, ");
    uint32_t count = tally.TotalCount();
    if (count > 0)
        text += FormatBuffer(4096, Narrow1251(L"всего было принято купюр: %u шт. (%s)").c_str(), count, tally.Summary().c_str());
    else
        text += Narrow1251(L"купюр принято не было");
    return text;
}

std::string ResetDescription(const ResetInfo& current, const ResetInfo& before) {
    std::string text = FormatBuffer(256, Narrow1251(L"сброс №%u/%s").c_str(), current.number,
                                    Narrow1251(FormatDateTime(current.time, 2)).c_str());
    if (!before.Empty()) {
        text += Narrow1251(L", предыдущий сброс: ");
        if (before.number != 0) text += FormatBuffer(256, Narrow1251(L"№%u").c_str(), before.number);
        if (before.time) text += "/" + Narrow1251(FormatDateTime(before.time, 2));
    }
    return text;
}

// Read strictly: the table is kept for the whole process, and a type that could not be read must
// not be left out of it unseen.
BillSet ReadBillTypeTable(const std::wstring& currency) {
    BillSet table;
    RegKey cash = RegKey::OpenToRead(HKEY_LOCAL_MACHINE, kCashSettingsKey, kSource, __LINE__);
    if (cash) {
        std::wstring defaultCurrency = cash[L"Default Currency"].TextOr(L"", kSource, __LINE__);
        if (defaultCurrency.empty()) defaultCurrency = L"RUB";
        RegKey types = RegKey::OpenToRead(cash.Handle(), L"Bill Types", kSource, __LINE__);
        if (EqualNoCase(currency, defaultCurrency) && types) {
            DWORD count = types.SubkeyCount();
            for (DWORD index = 0; index < count; ++index) {
                std::wstring name = types.SubkeyName(index);
                uint32_t number = 0;
                // Only canonical names: "0100" or " 100" is not a bill type.
                if (!ScanDenomination(name, number) || name != Decimal(number)) continue;
                RegKey type = RegKey::OpenToRead(types.Handle(), name, kSource, __LINE__);
                DWORD value = type[L"Value"].IntOr(0, kSource, __LINE__);
                if (value == 0) continue;
                std::wstring code = type[L"Code"].TextOr(L"", kSource, __LINE__);
                if (code.empty() || EqualNoCase(code, currency)) table.Add(currency, value, 0);
            }
            return table;
        }
    }
    if (EqualNoCase(currency, L"RUB"))
        for (uint32_t denomination : {1u, 2u, 5u, 10u, 50u, 100u, 500u, 1000u, 5000u}) table.Add(currency, denomination, 0);
    return table;
}

const BillSet& BillTypeTable() {
    static const BillSet table = ReadBillTypeTable(CurrencyCode());
    return table;
}

BillCounters::BillCounters(OperationLog& log, LimitCheck limitCheck) : log_(log), limitCheck_(std::move(limitCheck)) {}

void BillCounters::InsertCounterNames() {
    for (const keystringW& name : CounterNames()) {
        auto it = std::lower_bound(names_.begin(), names_.end(), name);
        if (it == names_.end() || *it != name) names_.insert(it, name);
    }
}

void BillCounters::PublishAll(CounterValues& values) const {
    for (const keystringW& name : names_) PublishCounter(values, name.str(), CounterStore::Load(name.str()));
}

bool BillCounters::ArmWatch() {
    watch_ = std::make_unique<MTSys::RegKeyChangeMonitor>(HKEY_LOCAL_MACHINE, kBillCountersKey, true,
                                                          REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
    return watch_->IsValid();
}

bool BillCounters::WatchSawChange() const {
    return !watch_ || !watch_->IsValid() || WaitForSingleObject(watch_->GetHandle(), 0) != WAIT_TIMEOUT;
}

void BillCounters::Refresh() {
    storedValid_ = false;
    // Watched before reading, so that a change made while reading shows at the next note.
    const bool watching = ArmWatch();
    std::map<keystringW, BillSet> stored;
    CounterValues published;
    for (const keystringW& name : names_) {
        BillSet bills = CounterStore::Load(name.str());
        PublishCounter(published, name.str(), bills);
        stored[name] = std::move(bills);
    }
    ResetInfoMap resets;
    for (const keystringW& name : names_) resets[name] = CounterStore::ReadResetInfo(name.str());
    stored_ = std::move(stored);
    published_ = std::move(published);
    resets_ = std::move(resets);
    storedValid_ = watching;
}

std::exception_ptr BillCounters::Increment(uint32_t denomination, const std::wstring& currency, std::vector<bool>& counted) {
    RegKey root = RegKey::OpenToWrite(HKEY_LOCAL_MACHINE, kBillCountersKey, kSource, __LINE__);
    const std::wstring valueName = Decimal(denomination);
    std::exception_ptr failure;
    counted.assign(names_.size(), false);
    for (size_t i = 0; i < names_.size(); ++i) {
        try {
            RegKey key = RegKey::OpenToWrite(root.Handle(), names_[i].str() + L"\\" + currency, kSource, __LINE__);
            // A count that cannot be read is not taken for 0: that counter is left as it was.
            key[valueName].Increment(kSource, __LINE__);
            counted[i] = true;
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    return failure;
}

void BillCounters::PublishCounted(uint32_t denomination, const std::wstring& currency, const std::vector<bool>& counted) {
    storedValid_ = false;  // until done: a failure on the way leaves the next note a full refresh
    CounterValues changes;
    for (size_t i = 0; i < names_.size(); ++i) {
        if (!counted[i]) continue;
        const std::wstring& name = names_[i].str();
        BillSet& bills = stored_[names_[i]];
        auto held = bills.Items().find(keystringW(currency));
        if (held == bills.Items().end()) {
            // New to this counter: its key is named as the registry now spells it.
            bills = CounterStore::Load(name);
            PublishCounter(changes, name, bills);
            continue;
        }
        // The value written is the one read plus 1, and that value alone changed.
        const std::wstring spelling = held->first.str();
        bills.Add(spelling, denomination, 1);
        const std::wstring prefix = CounterPrefix(name);
        changes[prefix + L"All.All.Count"] = bills.TotalCount();
        PublishDenomination(changes, PublishCurrency(changes, prefix, bills, spelling), denomination,
                            bills.DenominationCount(spelling, denomination));
    }
    for (const auto& [name, value] : changes) published_[name] = value;
    storedValid_ = true;
}

void BillCounters::CountBill(uint32_t denomination, const std::wstring& currency) {
    CheckBill(denomination, currency);
    // Asked before writing: the note's own writes are known without reading them back.
    const bool unchanged = storedValid_ && !WatchSawChange();
    std::vector<bool> counted;
    std::exception_ptr failure = Increment(denomination, currency, counted);
    try {
        // Armed again after the note's own writes, which are known without reading them back.
        if (unchanged) watch_->Rearm();
        if (unchanged && !WatchSawChange())
            PublishCounted(denomination, currency, counted);
        else
            Refresh();
        auto collect = stored_.find(keystringW(L"Collect"));
        log_.Write(LogEvent::CashAccept, CashAcceptText(denomination, currency,
                                                        collect != stored_.end() ? collect->second : CounterStore::Load(L"Collect")));
        if (limitCheck_) limitCheck_(published_, std::wstring());
    } catch (...) {
        if (!failure) throw;  // the counting failure is the one to report
    }
    if (failure) std::rethrow_exception(failure);
}

void BillCounters::ReportSessionEnd(const BillSet& tally, bool cashSessionOpen) {
    log_.Write(cashSessionOpen ? LogEvent::CashCancel : LogEvent::CashDone, CashSessionEndText(tally, cashSessionOpen));
}

ResetInfo BillCounters::Reset(const std::wstring& counter) {
    storedValid_ = false;
    BillSet zeroed = CounterStore::Load(counter);
    zeroed.Zero();
    ResetInfo before = CounterStore::ReadResetInfo(counter);
    {
        RegKey root(HKEY_LOCAL_MACHINE, kBillCountersKey, true, kRegWriteAccess);
        try {
            root.DeleteSubkey(counter);
        } catch (const WindowsError&) {
            // Whether anything is left is checked below.
        }
    }
    if (CounterStore::Load(counter).TotalCount() != 0)
        throw VMAppException(L"Не удалось сбросить счётчик купюр в системном реестре Windows (\"" + counter + L"\")");

    ResetInfo current;
    current.number = before.number + 1;
    current.time = log_.Now();
    current.previous = before.time;
    RegKey key(HKEY_LOCAL_MACHINE, CounterPath(counter), true, kRegWriteAccess);
    key[L"Reset Number"] = DWORD(current.number);
    key[L"Reset Timestamp"] = Format(current.time.UTC(), 0);

    log_.Write(LogEvent::CounterReset, FormatBuffer(4096, Narrow1251(L"сброшен счётчик купюр \"%s\" (%s)").c_str(),
                                                    Narrow1251(counter).c_str(), ResetDescription(current, before).c_str()));
    CounterValues scratch;
    PublishAll(scratch);
    PublishCounter(scratch, counter, zeroed);
    if (limitCheck_) limitCheck_(scratch, counter);
    return current;
}

void BillCounters::RefreshAndCheckLimits() {
    Refresh();
    if (limitCheck_) limitCheck_(published_, std::wstring());
}

}  // namespace Plugin
