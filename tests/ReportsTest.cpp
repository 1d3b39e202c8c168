// Counter limits and report files over the simulated host.
#include "Plugin/Counting/Limits.h"
#include "Plugin/Texts/Reports.h"
#include "tests/ExtenderFixture.h"

namespace {

const wchar_t kCount[] = L"Tallymark.BillCounter.Collect.All.All.Count";

class ReportsTest : public SessionTest {
protected:
    ReportsTest() : appData_(folder_.Path() + "\\AppData") {
        wchar_t old[MAX_PATH * 2] = {};
        DWORD length = GetEnvironmentVariableW(L"APPDATA", old, DWORD(std::size(old)));
        oldAppData_ = length && length < std::size(old) ? std::wstring(old, length) : std::wstring();
        SetEnvironmentVariableW(L"APPDATA", Widen(appData_).c_str());
        MappedTemplate(L"stacker", "stacker.TXT", L"Отчёт №%(Report.Number)");
    }
    ~ReportsTest() override { SetEnvironmentVariableW(L"APPDATA", oldAppData_.empty() ? nullptr : oldAppData_.c_str()); }

    static RegKey Entry(const std::wstring& name) {
        return RegKey(HKEY_LOCAL_MACHINE, std::wstring(kCounterLimitsKey) + L"\\" + name, true, kRegWriteAccess);
    }
    // An entry over the collection counter's count that sets and clears one failure.
    static void FailureEntry(const std::wstring& name, DWORD max, const wchar_t* range, const wchar_t* failure) {
        RegKey entry = Entry(name);
        entry[L"prop"] = kCount;
        entry[L"max"] = max;
        entry[L"range"] = range;
        entry[L"set failure"] = failure;
        entry[L"reset failure"] = failure;
    }
    static void ReportOption(const wchar_t* option, const wchar_t* templateName) {
        RegKey(HKEY_LOCAL_MACHINE, kOptionsKey, true, kRegWriteAccess)[option] = templateName;
    }
    static void ReportPath(const wchar_t* value, const std::wstring& folder) {
        RegKey(HKEY_LOCAL_MACHINE, kReportPathsKey, true, kRegWriteAccess)[value] = folder;
    }
    static void Debug(const wchar_t* name, DWORD on) {
        RegKey(HKEY_CURRENT_USER, kDebugReportKey, true, kRegWriteAccess)[name] = on;
    }
    // An event alert that mails, switched on.
    void MailingEvent(const wchar_t* event) {
        MappedTemplate(L"event.message", "event.TXT", L"event");
        Alert(event, {{L"template", L"event.message"}});
        RegKey(HKEY_LOCAL_MACHINE, kOptionsAlertEventsKey, true, kRegWriteAccess)[event] = DWORD(1);
    }
    bool Failure(const wchar_t* name) const { return host_->failures.count(name) != 0; }
    Limits MakeLimits() { return Limits(terminal_->Terminal(), terminal_->AlertSender()); }
    std::string ReportsFolder() const { return appData_ + "\\Velmor\\Paylantra\\Tallymark\\Reports"; }
    // The last record of that code, and the one right after it.
    std::pair<std::string, std::string> LastAndNext(const std::string& code) {
        std::vector<std::string> records = Records();
        for (size_t i = records.size(); i-- > 0;)
            if (records[i].rfind(code + "\t", 0) == 0) return {records[i], i + 1 < records.size() ? records[i + 1] : ""};
        return {};
    }
    size_t CountRecords(const std::string& prefix) {
        size_t count = 0;
        for (const std::string& record : Records()) count += record.rfind(prefix, 0) == 0;
        return count;
    }

    std::string appData_;
    std::wstring oldAppData_;
};

TEST_F(ReportsTest, OutOfBandIsUnsignedAndInclusiveAndNeverAtZero) {
    EXPECT_FALSE(Limits::OutOfBand(499, 0, 500));
    EXPECT_TRUE(Limits::OutOfBand(500, 0, 500));
    EXPECT_TRUE(Limits::OutOfBand(501, 0, 500));
    EXPECT_FALSE(Limits::OutOfBand(0, 10, 0));
    EXPECT_TRUE(Limits::OutOfBand(1, 10, 0));
    EXPECT_TRUE(Limits::OutOfBand(10, 10, 0));
    EXPECT_FALSE(Limits::OutOfBand(11, 10, 0));
    EXPECT_FALSE(Limits::OutOfBand(0xFFFFFFFE, 0, 0xFFFFFFFF));
    EXPECT_TRUE(Limits::OutOfBand(0xFFFFFFFF, 0, 0xFFFFFFFF));
    EXPECT_TRUE(Limits::OutOfBand(0x80000000, 0xFFFFFFFF, 0)) << "no signed reading of a large minimum";
}

TEST_F(ReportsTest, LimitSwitchesTheFailureAtTheMaximumAndTheRangeGatesItsReset) {
    FailureEntry(L"control.count.failure", 500, L"Collect", L"BillCounterOverflow");
    Limits limits = MakeLimits();
    limits.Check({{kCount, 499}}, L"");
    EXPECT_FALSE(Failure(L"BillCounterOverflow"));
    limits.Check({{L"tallymark.billcounter.collect.all.all.count", 500}}, L"");
    EXPECT_TRUE(Failure(L"BillCounterOverflow")) << "500 >= 500, the property named in any case";
    // In band again, but only a reset of its range clears it.
    limits.Check({{kCount, 0}}, L"");
    EXPECT_TRUE(Failure(L"BillCounterOverflow"));
    limits.Check({{kCount, 0}}, L"Stacker");
    EXPECT_TRUE(Failure(L"BillCounterOverflow"));
    limits.Check({{kCount, 0}}, L"collect");
    EXPECT_FALSE(Failure(L"BillCounterOverflow"));

    // A property nobody publishes reads 0: in band, and without a range reset on every check.
    {
        RegKey entry = Entry(L"unpublished");
        entry[L"prop"] = L"Tallymark.BillCounter.Nowhere";
        entry[L"min"] = DWORD(10);
        entry[L"reset failure"] = L"Other";
    }
    host_->failures[L"Other"] = true;
    limits.Check({{kCount, 1}}, L"");
    EXPECT_FALSE(Failure(L"Other"));
}

TEST_F(ReportsTest, LimitsActOnBillsAndResetsOfTheTerminal) {
    FailureEntry(L"control.count.hardFailure", 2, L"Collect", L"Tallymark.Collect.Request");
    Pay({{100, L"RUB"}});
    EXPECT_FALSE(Failure(L"Tallymark.Collect.Request"));
    Pay({{100, L"RUB"}});
    EXPECT_TRUE(Failure(L"Tallymark.Collect.Request")) << "the second note reaches the maximum";
    terminal_->Counters().Reset(L"Stacker");
    EXPECT_TRUE(Failure(L"Tallymark.Collect.Request")) << "another counter's reset leaves it";
    terminal_->Counters().Reset(L"Collect");
    EXPECT_FALSE(Failure(L"Tallymark.Collect.Request"));
}

TEST_F(ReportsTest, OverflowAlertMailsOncePerCrossingAndOnlyWhileItsEventIsOn) {
    MappedTemplate(L"limit.message", "limit.TXT", L"full");
    Alert(L"control.BillCounterLimit", {{L"template", L"limit.message"}});
    {
        RegKey entry = Entry(L"control.count.notify");
        entry[L"prop"] = kCount;
        entry[L"max"] = DWORD(3);
        entry[L"set alert"] = L"control.BillCounterLimit";
        entry[L"reset alert"] = L"control.BillCounterLimit";
        entry[L"set failure"] = L"Full";
    }
    Limits limits = MakeLimits();
    limits.Check({{kCount, 3}}, L"");
    EXPECT_TRUE(Failure(L"Full")) << "the failure switches without the event";
    EXPECT_EQ(host_->mails.size(), 0u);

    RegKey(HKEY_LOCAL_MACHINE, kOptionsAlertEventsKey, true, kRegWriteAccess)[L"BillCounterOverflow"] = DWORD(1);
    limits.Check({{kCount, 3}}, L"");
    limits.Check({{kCount, 4}}, L"");
    EXPECT_EQ(host_->mails.size(), 1u) << "one mail while the entry stays out of band";
    limits.Check({{kCount, 0}}, L"");
    limits.Check({{kCount, 5}}, L"");
    EXPECT_EQ(host_->mails.size(), 2u) << "cleared in band, the next crossing mails again";
}

TEST_F(ReportsTest, BadLimitEntriesAreReadAsTheRulesSayAndManyStayCheap) {
    {
        RegKey typed = Entry(L"wrong types");
        typed[L"prop"] = DWORD(5);  // a number where text belongs reads as empty: skipped
        typed[L"max"] = DWORD(1);
        typed[L"set failure"] = L"Typed";
        RegKey text = Entry(L"max as text");
        text[L"prop"] = kCount;
        text[L"max"] = L"1";  // text where a number belongs reads as 0: no limit at all
        text[L"set failure"] = L"Texted";
    }
    // Many entries with names of the longest kind; only the last one acts.
    const int entries = 500;
    for (int i = 0; i < entries; ++i) {
        std::wstring name = std::to_wstring(100000 + i) + std::wstring(249, L'x');
        ASSERT_EQ(name.size(), 255u);
        RegKey entry = Entry(name);
        entry[L"prop"] = kCount;
        entry[L"max"] = DWORD(i == entries - 1 ? 1 : 0);
        entry[L"set failure"] = L"Last";
    }
    DWORD start = GetTickCount();
    MakeLimits().Check({{kCount, 7}}, L"");
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_TRUE(Failure(L"Last"));
    EXPECT_FALSE(Failure(L"Typed"));
    EXPECT_FALSE(Failure(L"Texted"));
}

TEST_F(ReportsTest, ReportsOfOneNumberNeverOverwriteEachOther) {
    std::string folder = folder_.Path() + "\\stacker reports";
    ReportOption(L"Stacker Report Template", L"stacker");
    ReportPath(L"Stacker", Widen(folder));
    TextParams params{{L"Report.Number", L"7"}};
    terminal_->Periods().WriteReport(ReportSteps::Stacker, 7, params);
    terminal_->Periods().WriteReport(ReportSteps::Stacker, 7, {{L"Report.Number", L"7bis"}});
    EXPECT_EQ(ReadBytes(folder + "\\00000007.TXT"), Narrow1251(L"Отчёт №7"));
    EXPECT_EQ(ReadBytes(folder + "\\00000007(1).TXT"), Narrow1251(L"Отчёт №7bis"));
    std::vector<std::string> records = Records();
    EXPECT_EQ(records[records.size() - 2], "REPORT.INIT\t;запись отчёта об установке стекера на диск терминала");
    EXPECT_EQ(records.back(), "REPORT.DONE\t;отчёт об установке стекера успешно записан в файл \"" +
                                  Narrow(Widen(folder) + L"\\00000007(1).TXT", CP_UTF8) + "\"");

    // Past the retry bound the report gives up with the error of the last name tried.
    Reports bounded(terminal_->Log(), terminal_->Printing(), 2);
    EXPECT_EQ(bounded.Write(7, params, {L"Stacker", L"", L"Stacker Report Template", L"", L""}),
              Widen(folder) + L"\\00000007(2).TXT");
    EXPECT_EQ(bounded.Write(7, params, {L"Stacker", L"", L"Stacker Report Template", L"", L""}), L"");
    EXPECT_EQ(Records().back(), "REPORT.ERROR\t;при создании отчёта произошла ошибка: Не удалось создать отчёт (файл \"" +
                                    Narrow(Widen(folder) + L"\\00000007(2).TXT", CP_UTF8) + "\", ошибка 80 (00000050))");
    EXPECT_EQ(ReadBytes(folder + "\\00000007.TXT"), Narrow1251(L"Отчёт №7"));
}

TEST_F(ReportsTest, DefaultAndRelativeFoldersLieInThePluginsReportsFolder) {
    EXPECT_EQ(Reports::PluginReportsFolder(), Widen(ReportsFolder() + "\\"));
    // The Z-report has a default template and subfolder; no configuration is needed.
    MappedTemplate(L"zreport.report", "z.TXT", L"Z %(Report.Number)");
    host_->DeliverEvent(L"Tallymark.ZReport.Done");
    EXPECT_EQ(ReadBytes(ReportsFolder() + "\\ZReport\\00000001.TXT"), "Z 1");

    ReportOption(L"Daily Report Template", L"stacker");
    ReportPath(L"Today", L"daily");
    terminal_->Periods().WriteReport(ReportSteps::NextDay, 3, {});
    EXPECT_TRUE(FileExists(ReportsFolder() + "\\daily\\00000003.TXT"));

    // A payment has no default folder: with a template but no "Payment" path nothing is written.
    ReportOption(L"Payment Report Template", L"stacker");
    Pay({{100, L"RUB"}});
    EXPECT_EQ(LastAndNext("REPORT.INIT").first, "REPORT.INIT\t;запись отчёта о приёме платежа на диск терминала");
    EXPECT_EQ(CountRecords("REPORT.DONE"), 2u);
    EXPECT_FALSE(FileExists(ReportsFolder() + "\\00000001.TXT"));
    // No template: not even REPORT.INIT.
    size_t inits = CountRecords("REPORT.INIT");
    terminal_->Periods().WriteReport(ReportSteps::Stacker, 1, {});
    EXPECT_EQ(CountRecords("REPORT.INIT"), inits);
}

TEST_F(ReportsTest, MissingTemplateAndUnmakeableFolderStillSendThePeriodsAlert) {
    MailingEvent(L"Stacker");
    std::string folder = folder_.Path() + "\\reports";
    ReportPath(L"Stacker", Widen(folder));
    ReportOption(L"Stacker Report Template", L"missing");
    host_->NotifyStackerInstalled();
    auto [init, next] = LastAndNext("REPORT.INIT");
    EXPECT_EQ(init, "REPORT.INIT\t;запись отчёта об установке стекера на диск терминала");
    EXPECT_EQ(next.rfind("COLLECT.ERROR\t;при выполнении инкассации произошла ошибка: Не удалось загрузить шаблон", 0), 0u) << next;
    EXPECT_EQ(CountRecords("REPORT.ERROR"), 0u);
    EXPECT_FALSE(FileExists(folder + "\\00000001.TXT"));
    EXPECT_EQ(host_->mails.size(), 1u);

    // A file stands where the folder should be.
    WriteBytes(folder_.Path() + "\\blocked", "x");
    std::wstring blocked = Widen(folder_.Path() + "\\blocked\\sub\\");
    ReportPath(L"Stacker", blocked);
    ReportOption(L"Stacker Report Template", L"stacker");
    Debug(L"Show Errors", 1);
    host_->NotifyStackerInstalled();
    const std::string error = "при создании отчёта об установке стекера произошла ошибка: Не удалось создать папку отчётов "
                              "об установке стекера: \"" + Narrow(blocked, CP_UTF8) + "\"";
    EXPECT_EQ(LastAndNext("REPORT.ERROR").first, "REPORT.ERROR\t;" + error);
    ASSERT_FALSE(g_boxes.empty());
    EXPECT_EQ(Narrow(g_boxes.back(), CP_UTF8), "Tallymark: " + error);
    EXPECT_EQ(host_->mails.size(), 2u);
    EXPECT_EQ(ReadBytes(folder_.Path() + "\\blocked"), "x");

    // Rethrown, the error leaves the step before its alert.
    Debug(L"Rethrow Errors", 1);
    ResetInfo info{9, RealTime::Never, RealTime::Never};
    EXPECT_THROW(terminal_->Periods().Report(ReportSteps::Stacker, info), VMAppException);
    EXPECT_EQ(host_->mails.size(), 2u);
}

}  // namespace
