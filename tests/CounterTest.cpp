#include "Plugin/Counting/BillCounters.h"
#include "Plugin/Settings/Config.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "Host/RegistryCalls.h"
#include "tests/RegistryFixture.h"
#include "tests/HeldClock.h"
#include "tests/TestFiles.h"
#include <gtest/gtest.h>

using namespace Plugin;

namespace {

RealTime At(int year, int month, int day, int hour, int minute, int second) {
    return LocalTime(year, month, day, hour, minute, second);
}

std::wstring CounterKey(const std::wstring& counter) { return std::wstring(kBillCountersKey) + L"\\" + counter; }

class CounterTest : public RegistryTest {
protected:
    CounterTest() {
        log_.SetPathTemplate(Widen(folder_.Path() + "\\Tallymark *.txt"));
        log_.RollToToday();
        counters_.InsertCounterNames();
    }
    // The log's records without time stamps, ANSI as written.
    std::vector<std::string> Records() {
        std::vector<std::string> records;
        for (const std::string& line : ReadLines(folder_.Path() + "\\Tallymark (2026-05-17).txt"))
            records.push_back(line.substr(line.find('\t') + 1));
        return records;
    }
    static std::string A(const wchar_t* text) { return Narrow1251(text); }

    HeldClock clock_{At(2026, 5, 17, 10, 30, 0)};
    TempFolder folder_;
    OperationLog log_;
    struct Check {
        CounterValues values;
        std::wstring range;
    };
    std::vector<Check> checks_;
    BillCounters counters_{log_, [this](const CounterValues& v, const std::wstring& r) { checks_.push_back({v, r}); }};
};

TEST_F(CounterTest, FirstBanknoteGoesIntoAllEightCountersAndTheLog) {
    counters_.CountBill(100, L"RUB");
    for (const keystringW& name : CounterNames()) {
        RegKey key(HKEY_LOCAL_MACHINE, CounterKey(name.str()) + L"\\RUB", false, kRegReadAccess);
        EXPECT_EQ(key[L"100"].Int(), std::optional<DWORD>(1)) << Narrow(name.str());
    }
    ASSERT_EQ(Records().size(), 2u);
    EXPECT_EQ(Records()[1], "6\tCASH.ACCEPT\t;" + A(L"принята купюра 100 RUB (всего в стекере купюр 1 шт.: RUB") + "\xA4" "100)");
    EXPECT_EQ(counters_.Published().at(L"tallymark.billcounter.collect.rub.100.count"), 1u);
    EXPECT_EQ(counters_.Published().at(L"Tallymark.BillCounter.Terminal.RUB.100.Total"), 100u);
    EXPECT_EQ(counters_.Published().at(L"Tallymark.BillCounter.Today.All.All.Count"), 1u);
    ASSERT_EQ(checks_.size(), 1u);
    EXPECT_EQ(checks_[0].range, L"");
    EXPECT_EQ(checks_[0].values.at(L"Tallymark.BillCounter.ZReport.RUB.All.Total"), 100u);

    counters_.CountBill(500, L"rub");
    counters_.CountBill(100, L"USD");
    EXPECT_EQ(Records()[3], "6\tCASH.ACCEPT\t;" + A(L"принята купюра 100 USD (всего в стекере купюр 3 шт.: RUB") +
                                "\xA4" "600 + USD\xA4" "100)");
}

TEST_F(CounterTest, ReadingTakesOnlyDwordValuesNamedByANonZeroNumber) {
    RegKey rub(HKEY_LOCAL_MACHINE, CounterKey(L"Collect") + L"\\RUB", true, kRegWriteAccess);
    rub[L"100"] = DWORD(3);
    rub[L"0100"] = DWORD(2);        // the same denomination
    rub[L"50 notes"] = DWORD(4);    // leading digits count
    rub[L"0"] = DWORD(7);
    rub[L"abc"] = DWORD(1);
    rub[L"-5"] = DWORD(1);
    rub[L"99999999999"] = DWORD(1);  // beyond 32 bits
    rub[L"10"] = DWORD(0);          // makes the denomination without counting
    rub[L"200"] = std::wstring(L"5");
    rub[L"1000"] = std::wstring(20000, L'9');
    rub[std::wstring(16383, L'7')] = DWORD(1);
    std::vector<BYTE> blob(100000, 1);
    RegSetValueExW(rub.Handle(), L"5000", 0, REG_BINARY, blob.data(), DWORD(blob.size()));
    DWORD64 wide = 9;
    RegSetValueExW(rub.Handle(), L"5", 0, REG_QWORD, reinterpret_cast<BYTE*>(&wide), sizeof wide);
    // A count of the right type but the wrong size is no count either.
    RegSetValueExW(rub.Handle(), L"20", 0, REG_DWORD, reinterpret_cast<BYTE*>(&wide), sizeof wide);
    RegSetValueExW(rub.Handle(), L"25", 0, REG_DWORD, reinterpret_cast<BYTE*>(&wide), 2);
    RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Collect") + L"\\USD", true, kRegWriteAccess);

    BillSet bills = CounterStore::Load(L"Collect");
    EXPECT_EQ(bills.DenominationsOf(L"RUB"), (std::vector<uint32_t>{10, 50, 100}));
    EXPECT_EQ(bills.DenominationCount(L"RUB", 100), 5u);
    EXPECT_EQ(bills.DenominationCount(L"RUB", 50), 4u);
    EXPECT_EQ(bills.CurrencyAmount(L"RUB"), 700u);
    EXPECT_EQ(bills.CurrencyCodes(), (std::vector<keystringW>{L"RUB"}));  // a currency key without notes adds nothing
    EXPECT_EQ(bills.TotalCount(), 9u);
    EXPECT_TRUE(CounterStore::Load(L"Missing").Empty());
}

TEST_F(CounterTest, ResetNumbersEachResetAndLogsThePreviousOne) {
    counters_.CountBill(100, L"RUB");
    checks_.clear();
    ResetInfo first = counters_.Reset(L"Collect");
    EXPECT_EQ(first.number, 1u);
    EXPECT_EQ(first.time, clock_.Now());
    EXPECT_FALSE(first.previous);
    // The limit check sees the cleared denominations at 0, under the counter's range.
    ASSERT_EQ(checks_.size(), 1u);
    EXPECT_EQ(checks_[0].range, L"Collect");
    EXPECT_EQ(checks_[0].values.at(L"Tallymark.BillCounter.Collect.RUB.100.Count"), 0u);
    EXPECT_EQ(checks_[0].values.at(L"Tallymark.BillCounter.App.RUB.100.Count"), 1u);
    counters_.Refresh();
    EXPECT_EQ(counters_.Published().count(L"Tallymark.BillCounter.Collect.RUB.100.Count"), 0u);
    EXPECT_EQ(counters_.Published().at(L"Tallymark.BillCounter.Collect.All.All.Count"), 0u);
    EXPECT_EQ(counters_.Resets().at(L"collect").number, 1u);
    EXPECT_EQ(counters_.Resets().at(L"collect").time, clock_.Now());

    RealTime firstTime = clock_.Now();
    clock_.Set(At(2026, 5, 17, 11, 0, 0));
    ResetInfo second = counters_.Reset(L"Collect");
    EXPECT_EQ(second.number, 2u);
    EXPECT_EQ(second.previous, firstTime);

    RegKey key(HKEY_LOCAL_MACHINE, CounterKey(L"Collect"), false, kRegReadAccess);
    EXPECT_EQ(key[L"Reset Number"].Int(), std::optional<DWORD>(2));
    RealTime stored;
    ASSERT_TRUE(ScanDateTime(key[L"Reset Timestamp"].GetText(), 0, stored));
    EXPECT_EQ(stored, clock_.Now().UTC());

    std::vector<std::string> records = Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2], "21\tCOUNTER.RESET\t;" + A(L"сброшен счётчик купюр \"Collect\" (сброс №1/") +
                              Narrow(FormatDateTime(firstTime, 2)) + ")");
    EXPECT_EQ(records[3], "21\tCOUNTER.RESET\t;" + A(L"сброшен счётчик купюр \"Collect\" (сброс №2/") +
                              Narrow(FormatDateTime(clock_.Now(), 2)) + A(L", предыдущий сброс: №1/") +
                              Narrow(FormatDateTime(firstTime, 2)) + ")");
}

TEST_F(CounterTest, SnapshotOverridesPublishedValuesAndResets) {
    counters_.CountBill(100, L"RUB");
    CounterSnapshot snapshot;
    snapshot.values[L"Tallymark.BillCounter.Collect.All.All.Count"] = 7;
    snapshot.resets[L"Collect"] = ResetInfo{41, clock_.Now(), RealTime::Never};
    counters_.CountBill(100, L"RUB");
    CounterValues published = Overlaid(counters_.Published(), snapshot.values);
    EXPECT_EQ(published.at(L"Tallymark.BillCounter.Collect.All.All.Count"), 7u);
    EXPECT_EQ(published.at(L"Tallymark.BillCounter.Collect.RUB.100.Count"), 2u);
    EXPECT_EQ(published.at(L"Tallymark.BillCounter.Stacker.All.All.Count"), 2u);
    EXPECT_EQ(Overlaid(counters_.Resets(), snapshot.resets).at(L"Collect").number, 41u);
    snapshot.Clear();
    counters_.Refresh();
    EXPECT_EQ(Overlaid(counters_.Published(), snapshot.values).at(L"Tallymark.BillCounter.Collect.All.All.Count"), 2u);
    EXPECT_EQ(Overlaid(counters_.Resets(), snapshot.resets).at(L"Collect").number, 0u);
}

TEST_F(CounterTest, BillsThatWouldBeWrittenWhereNoReaderFindsThemAreRefused) {
    const std::pair<uint32_t, std::wstring> bad[] = {{0, L"RUB"}, {100, L""}, {100, L"RU\\B"}, {100, std::wstring(300, L'R')}};
    for (const auto& [denomination, currency] : bad) {
        EXPECT_THROW(counters_.CountBill(denomination, currency), VMAppException) << Narrow(currency);
    }
    EXPECT_FALSE(RegKey(HKEY_LOCAL_MACHINE, kBillCountersKey, false, kRegReadAccess).SubkeyCount());
    EXPECT_TRUE(checks_.empty());
}

// The stacker holds what came in since the last collection: the "Collect" counter, not "Stacker".
TEST_F(CounterTest, AcceptRecordDescribesTheStackerByTheCollectCounter) {
    RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Stacker") + L"\\RUB", true, kRegWriteAccess)[L"100"] = DWORD(5);
    RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Collect") + L"\\RUB", true, kRegWriteAccess)[L"50"] = DWORD(2);
    counters_.CountBill(100, L"RUB");
    EXPECT_EQ(Records().back(), "6\tCASH.ACCEPT\t;" + A(L"принята купюра 100 RUB (всего в стекере купюр 3 шт.: RUB") + "\xA4" "200)");
}

TEST_F(CounterTest, PreviousResetWithATimeButNoNumberShowsOnlyTheTime) {
    RealTime earlier = At(2026, 5, 16, 8, 15, 0);
    RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Today"), true, kRegWriteAccess)[L"Reset Timestamp"] = Format(earlier.UTC(), 0);
    ResetInfo info = counters_.Reset(L"Today");
    EXPECT_EQ(info.number, 1u);
    EXPECT_EQ(info.previous, earlier);
    EXPECT_EQ(Records().back(), "21\tCOUNTER.RESET\t;" + A(L"сброшен счётчик купюр \"Today\" (сброс №1/") +
                                    Narrow(FormatDateTime(clock_.Now(), 2)) + A(L", предыдущий сброс: /") +
                                    Narrow(FormatDateTime(earlier, 2)) + ")");
}

// A count that cannot be read is not taken for 0: that counter keeps its count, the others take the
// note, and the failure is raised.
TEST_F(CounterTest, ACountThatCannotBeReadLeavesThatCounterAndFails) {
    counters_.CountBill(100, L"RUB");
    {
        DeniedKey denied(HKEY_LOCAL_MACHINE, CounterKey(L"Stacker") + L"\\RUB");
        EXPECT_THROW(counters_.CountBill(100, L"RUB"), WindowsError);
        checks_.clear();
        EXPECT_THROW(counters_.Reset(L"Stacker"), WindowsError);
        EXPECT_TRUE(checks_.empty());
    }
    for (const keystringW& name : CounterNames()) {
        RegKey key(HKEY_LOCAL_MACHINE, CounterKey(name.str()) + L"\\RUB", false, kRegReadAccess);
        EXPECT_EQ(key[L"100"].Int(), std::optional<DWORD>(name == L"Stacker" ? 1 : 2)) << Narrow(name.str());
    }
    EXPECT_EQ(RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Stacker"), false, kRegReadAccess)[L"Reset Number"].Int(), std::nullopt);
}

// The registry fails one call of a note's counting, injected from outside through this program's
// imports: the counters that could take the note have it once, the one that could not is as it
// was, the record and the limit check still come, and the failure is raised.
TEST_F(CounterTest, ARegistryFailureMidNoteKeepsTheNoteFromNoOtherCounter) {
    Host::RegistryCalls::Redirect(GetModuleHandleW(nullptr));
    struct Case {
        Host::RegCall kind;
        unsigned nth;
        const wchar_t* missed;  // the counter left without the note; null: all of them
    };
    // Counting makes the root key, then per counter in order a create, a read and a write.
    const Case cases[] = {{Host::RegCall::Create, 1, nullptr},     {Host::RegCall::Create, 2, L"App"},
                          {Host::RegCall::Create, 9, L"ZReport"},  {Host::RegCall::Query, 1, L"App"},
                          {Host::RegCall::Set, 3, L"Payment"},      {Host::RegCall::Set, 8, L"ZReport"}};
    std::map<std::wstring, DWORD> counts;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Host::RegistryCalls::Name(c.kind)) + " " + std::to_string(c.nth));
        counters_.Refresh();
        counters_.CountBill(100, L"RUB");
        for (const keystringW& name : CounterNames()) ++counts[name.str()];
        checks_.clear();
        const size_t records = Records().size();

        Host::RegistryCalls::FailAt(c.kind, c.nth, ERROR_ACCESS_DENIED);
        EXPECT_THROW(counters_.CountBill(100, L"RUB"), WindowsError);
        EXPECT_TRUE(Host::RegistryCalls::FailureHit());
        Host::RegistryCalls::ClearFailure();
        for (const keystringW& name : CounterNames())
            if (c.missed && name != c.missed) ++counts[name.str()];

        for (const keystringW& name : CounterNames()) {
            RegKey key(HKEY_LOCAL_MACHINE, CounterKey(name.str()) + L"\\RUB", false, kRegReadAccess);
            EXPECT_EQ(key[L"100"].Int(), std::optional<DWORD>(counts[name.str()])) << Narrow(name.str());
            EXPECT_EQ(counters_.Published().at(L"Tallymark.BillCounter." + name.str() + L".RUB.100.Count"), counts[name.str()])
                << Narrow(name.str());
        }
        if (!c.missed) {
            EXPECT_EQ(Records().size(), records);
            EXPECT_TRUE(checks_.empty());
            continue;
        }
        ASSERT_EQ(Records().size(), records + 1);
        EXPECT_EQ(Records().back(), "6\tCASH.ACCEPT\t;" + CashAcceptText(100, L"RUB", CounterStore::Load(L"Collect")));
        ASSERT_EQ(checks_.size(), 1u);
        EXPECT_EQ(checks_[0].values.at(L"Tallymark.BillCounter.Terminal.RUB.100.Count"), counts[L"Terminal"]);
    }
}

// Published values, reset records, the record's stacker and the limit check's values after each
// note are what a full read of the registry makes of it, spelling included; so is what another
// program wrote between two notes.
TEST_F(CounterTest, CountingPublishesWhatAFullReadOfTheRegistryWould) {
    // What a note does not read back as it writes: another spelling of a denomination, a value of
    // another type under the note's name, an empty currency key spelled otherwise than the note.
    RegKey rub(HKEY_LOCAL_MACHINE, CounterKey(L"Collect") + L"\\RUB", true, kRegWriteAccess);
    rub[L"0100"] = DWORD(2);
    rub[L"200"] = std::wstring(L"5");
    RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Today") + L"\\rub", true, kRegWriteAccess);
    counters_.Refresh();
    const auto spelled = [](const CounterValues& values) {
        std::vector<std::pair<std::wstring, uint32_t>> list;
        for (const auto& [name, value] : values) list.emplace_back(name.str(), value);
        return list;
    };
    const std::pair<uint32_t, const wchar_t*> notes[] = {{100, L"RUB"}, {200, L"RUB"}, {100, L"rub"}, {5, L"USD"},
                                                         {100, L"RUB"}, {50, L"usd"}, {5, L"USD"}};
    int step = 0;
    for (const auto& [denomination, currency] : notes) {
        SCOPED_TRACE(step);
        if (step == 3) RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Stacker") + L"\\RUB", true, kRegWriteAccess)[L"500"] = DWORD(4);
        if (step == 5) RegKey(HKEY_LOCAL_MACHINE, CounterKey(L"Today"), true, kRegWriteAccess)[L"Reset Number"] = DWORD(9);
        ++step;
        counters_.CountBill(denomination, currency);
        OperationLog quiet;
        BillCounters fresh(quiet, nullptr);
        fresh.InsertCounterNames();
        fresh.Refresh();
        EXPECT_EQ(spelled(counters_.Published()), spelled(fresh.Published()));
        EXPECT_EQ(spelled(checks_.back().values), spelled(fresh.Published()));
        ASSERT_EQ(counters_.Resets().size(), fresh.Resets().size());
        for (const auto& [name, info] : fresh.Resets()) EXPECT_EQ(counters_.Resets().at(name).number, info.number);
        EXPECT_EQ(Records().back(), "6\tCASH.ACCEPT\t;" + CashAcceptText(denomination, currency, CounterStore::Load(L"Collect")));
    }
    EXPECT_EQ(counters_.Published().at(L"Tallymark.BillCounter.Stacker.RUB.500.Count"), 4u);
    EXPECT_EQ(counters_.Published().at(L"Tallymark.BillCounter.Collect.RUB.100.Count"), 5u);
    EXPECT_EQ(counters_.Resets().at(L"Today").number, 9u);
}

// Run under a time zone away from UTC (see tests/CMakeLists.txt): the stored reset times are UTC,
// the read ones local, and only there does mixing them up show.
TEST_F(CounterTest, ResetTimesAreStoredInUtcAndReadAsLocalTime) {
    if (GetEnvironmentVariableW(L"TALLY_EXPECT_ZONE_AWAY_FROM_UTC", nullptr, 0)) {
        TIME_ZONE_INFORMATION zone;
        GetTimeZoneInformation(&zone);
        ASSERT_NE(zone.Bias, 0) << "the time zone of this run is UTC";
    }
    ResetInfo first = counters_.Reset(L"Payment");
    RegKey key(HKEY_LOCAL_MACHINE, CounterKey(L"Payment"), false, kRegReadAccess);
    EXPECT_EQ(key[L"Reset Timestamp"].GetText(), Format(clock_.Now().UTC(), 0));
    EXPECT_EQ(CounterStore::ReadResetInfo(L"Payment").time, clock_.Now());
    clock_.Set(At(2026, 5, 17, 11, 0, 0));
    EXPECT_EQ(counters_.Reset(L"Payment").previous, first.time);
}

TEST(BillSetTest, CurrenciesMergeWithoutRegardToCaseAndKeepTheirFirstSpelling) {
    BillSet set;
    set.Add(L"rub", 100, 2);
    set.Add(L"RUB", 100, 1);
    set.Add(L"RUB", 10, 0);
    set.Add(L"EUR", 20, 1);
    EXPECT_EQ(set.DenominationAmount(L"Rub", 100), 300u);
    EXPECT_EQ(set.TotalCount(), 4u);
    EXPECT_EQ(set.Summary(), "EUR\xA4" "20 + rub\xA4" "300");
    set.Zero();
    EXPECT_EQ(set.TotalCount(), 0u);
    EXPECT_EQ(set.DenominationsOf(L"RUB"), (std::vector<uint32_t>{10, 100}));
}

class BillTypeTest : public RegistryTest {};

TEST_F(BillTypeTest, HostCashSettingsOrTheDefaultList) {
    const std::vector<uint32_t> rubles = {1, 2, 5, 10, 50, 100, 500, 1000, 5000};
    EXPECT_EQ(ReadBillTypeTable(L"RUB").DenominationsOf(L"RUB"), rubles);
    EXPECT_EQ(ReadBillTypeTable(L"rub").DenominationsOf(L"RUB"), rubles);
    EXPECT_TRUE(ReadBillTypeTable(L"USD").Empty());

    RegKey cash(HKEY_LOCAL_MACHINE, kCashSettingsKey, true, kRegWriteAccess);
    auto type = [&](const wchar_t* name, DWORD value, const wchar_t* code) {
        RegKey key(cash.Handle(), std::wstring(L"Bill Types\\") + name, true, kRegWriteAccess);
        key[L"Value"] = value;
        if (code) key[L"Code"] = code;
    };
    // Cash settings without bill types, or of another currency, leave the default list.
    EXPECT_EQ(ReadBillTypeTable(L"RUB").DenominationsOf(L"RUB"), rubles);
    type(L"1", 100, nullptr);
    type(L"0100", 500, L"RUB");  // not a canonical number
    type(L"2", 1000, L"USD");
    type(L"3", 0, L"RUB");
    type(L"4", 50, L"rub");
    type(L"x", 10, L"RUB");
    EXPECT_EQ(ReadBillTypeTable(L"RUB").DenominationsOf(L"RUB"), (std::vector<uint32_t>{50, 100}));
    cash[L"Default Currency"] = L"USD";
    EXPECT_EQ(ReadBillTypeTable(L"RUB").DenominationsOf(L"RUB"), rubles);
    EXPECT_EQ(ReadBillTypeTable(L"usd").DenominationsOf(L"usd"), (std::vector<uint32_t>{100, 1000}));
}

}  // namespace
