// The collection workflow over the simulated host: the screen's four events, the stacker going out
// and back, the record under Collect and the way back to the start screen.
#include "tests/ExtenderFixture.h"

namespace {

class CollectionTest : public SessionTest {
protected:
    CollectionTest() { Option(L"Collect Enabled", 1); }

    static void Option(const wchar_t* name, DWORD value) {
        RegKey(HKEY_LOCAL_MACHINE, kOptionsKey, true, kRegWriteAccess)[name] = value;
    }
    static void Debug(const wchar_t* name, DWORD on) {
        RegKey(HKEY_CURRENT_USER, kDebugCollectKey, true, kRegWriteAccess)[name] = on;
    }
    // The extender's own answer, which the host's delivery does not pass on.
    HRESULT Event(const wchar_t* name) {
        return extender_->OnEvent(host_->Object(), CoString(std::wstring(L"Tallymark.Collect.") + name));
    }
    static std::optional<DWORD> RecordNumber() { return RegKey(HKEY_LOCAL_MACHINE, kCollectKey, false, kRegReadAccess)[L"Number"].Int(); }
    static DWORD SummaryCount(const wchar_t* denomination) {
        RegKey key(HKEY_LOCAL_MACHINE, std::wstring(kCollectKey) + L"\\Summary\\RUB", false, kRegReadAccess);
        return key[denomination].Int().value_or(0);
    }
    int Calls(const wchar_t* method) { return host_->calls[method]; }
    bool WentToStart() const {
        return std::count(host_->navigations.begin(), host_->navigations.end(), L"Paylantra:start") != 0;
    }
    size_t CountRecords(const std::string& code) {
        size_t count = 0;
        for (const std::string& record : Records()) count += record.rfind(code + "\t", 0) == 0;
        return count;
    }
    std::string Last(const std::string& code) {
        std::vector<std::string> records = Records();
        for (size_t i = records.size(); i-- > 0;)
            if (records[i].rfind(code + "\t", 0) == 0) return records[i];
        return {};
    }
};

TEST_F(CollectionTest, DisabledEventsDoNothing) {
    Option(L"Collect Enabled", 0);
    Pay({{100, L"RUB"}});
    for (const wchar_t* event : {L"Init", L"Done", L"Close", L"Cancel"}) EXPECT_EQ(Event(event), S_OK);
    EXPECT_EQ(CountRecords("COLLECT.OPEN") + CountRecords("COLLECT.DONE") + CountRecords("COLLECT.CANCEL") +
                  CountRecords("COLLECT.CLOSED") + CountRecords("COLLECT.ERROR"),
              0u);
    EXPECT_FALSE(RecordNumber());
    EXPECT_EQ(Count(L"Collect", L"RUB", L"100"), 1u);
    EXPECT_TRUE(Env(L"Tallymark.Collect.Number").empty());
    EXPECT_EQ(Calls(L"Cash.Finish") + Calls(L"Session.Finish"), 0);
    EXPECT_TRUE(host_->navigations.empty());
}

// The whole way with the stacker out: open and done while it is out, closed, finished when it is back.
TEST_F(CollectionTest, CollectionWithStackerOut) {
    Pay({{100, L"RUB"}, {100, L"RUB"}, {500, L"RUB"}});
    host_->NotifyStackerRemoved();
    EXPECT_EQ(host_->navigations, (std::vector<std::wstring>{L"Paylantra:collect"}));
    Event(L"Init");
    EXPECT_EQ(Last("COLLECT.OPEN"), "COLLECT.OPEN\t;открыта инкассация №1 (в стекере должно быть купюр: 3 шт.)");
    EXPECT_EQ(Env(L"Tallymark.Collect.Number"), L"1");
    EXPECT_EQ(Env(L"Tallymark.StackerInstalled"), L"");
    EXPECT_EQ(Env(L"Tallymark.Collect.Param.ReceiptCount"), L"2");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.Reset"), L"1");

    // A note taken while open goes into the record, but the screen keeps the frozen values.
    Pay({{100, L"RUB"}});
    EXPECT_EQ(terminal_->PublishedValues().at(L"Tallymark.BillCounter.Collect.All.All.Count"), 3u);
    Event(L"Done");
    EXPECT_EQ(RecordNumber(), 1u);
    EXPECT_EQ(SummaryCount(L"100"), 3u);
    EXPECT_EQ(SummaryCount(L"500"), 1u);
    EXPECT_EQ(Count(L"Collect", L"RUB", L"100"), 0u);
    EXPECT_EQ(Env(L"Tallymark.Collect.Report.Reset"), L"1");
    EXPECT_EQ(Env(L"Tallymark.Collect.Continue"), L"");
    EXPECT_EQ(Env(L"Tallymark.Collect.PrevNumber"), L"0");

    Event(L"Close");
    EXPECT_EQ(CountRecords("COLLECT.CLOSED"), 0u);
    int finished = Calls(L"Session.Finish");
    EXPECT_FALSE(WentToStart());
    host_->NotifyStackerInstalled();
    EXPECT_EQ(CountRecords("COLLECT.CLOSED"), 1u);
    EXPECT_TRUE(WentToStart());
    EXPECT_EQ(Calls(L"Cash.Finish"), 1);
    EXPECT_EQ(Calls(L"Session.Finish"), finished + 1);
    EXPECT_EQ(terminal_->PublishedValues().at(L"Tallymark.BillCounter.Collect.All.All.Count"), 0u);
    EXPECT_FALSE(terminal_->Collect().IsOpen());

    // The next collection follows on from the record.
    Event(L"Init");
    EXPECT_EQ(Env(L"Tallymark.Collect.Number"), L"2");
    EXPECT_EQ(Last("COLLECT.OPEN"), "COLLECT.OPEN\t;открыта инкассация №2 (в стекере должно быть купюр: 0 шт.)");
}

TEST_F(CollectionTest, DoneListWithResetNoReceiptNoFiscalReport) {
    Pay({{100, L"RUB"}});
    Event(L"Init");
    SetEnv("Tallymark.Collect.Param.Reset", L"1");
    SetEnv("Tallymark.Collect.Param.ReceiptCount", L"0");
    SetEnv("Tallymark.Collect.Param.FiscalReport", L"");
    Event(L"Done");
    std::string done = Last("COLLECT.DONE");
    EXPECT_EQ(done.rfind("COLLECT.DONE\t;выполнена инкассация №1 (", 0), 0u) << done;
    const std::string tail = ", в стекере должно быть купюр: 1 шт., сброс счётчика купюр, без чека инкассации, без фискального отчёта)";
    EXPECT_EQ(done.substr(done.size() - std::min(done.size(), tail.size())), tail);

    Event(L"Init");  // already open: nothing new
    Event(L"Done");  // already done: the summary stays what was collected
    EXPECT_EQ(CountRecords("COLLECT.OPEN"), 1u);
    EXPECT_EQ(CountRecords("COLLECT.DONE"), 1u);
    EXPECT_EQ(SummaryCount(L"100"), 1u);
    EXPECT_EQ(RecordNumber(), 1u);
}

TEST_F(CollectionTest, DoneListWithoutResetKeepsCounter) {
    Pay({{100, L"RUB"}});
    Event(L"Init");
    SetEnv("Tallymark.Collect.Param.Reset", L"");
    SetEnv("Tallymark.Collect.Param.FiscalReport", L"Z");
    Event(L"Done");
    EXPECT_NE(Last("COLLECT.DONE").find("счётчик купюр не сбрасывается, печать чеков инкассации: 2 шт., печать Z-отчёта)"), std::string::npos);
    EXPECT_EQ(Count(L"Collect", L"RUB", L"100"), 1u);
    EXPECT_EQ(Env(L"Tallymark.Collect.Report.Reset"), L"");
}

TEST_F(CollectionTest, CompletionFlagsSkipReportCashAndNavigation) {
    Option(L"Collect Completion Flags", 7);
    Event(L"Init");
    Event(L"Done");
    int finished = Calls(L"Session.Finish");
    Event(L"Close");
    EXPECT_EQ(CountRecords("COLLECT.CLOSED"), 1u);
    EXPECT_EQ(CountRecords("REPORT.INIT"), 0u);
    EXPECT_EQ(Calls(L"Cash.Finish"), 0);
    EXPECT_EQ(Calls(L"Session.Finish"), finished + 1);
    EXPECT_FALSE(WentToStart());
}

TEST_F(CollectionTest, OptionsPublishedAndCancelFlags) {
    Option(L"Collect Control Disabled", 1 | 8);
    Option(L"Collect On Stacker", 1);
    Option(L"Collect Cancel Flags", 2);
    Debug(L"Show Info", 1);
    Event(L"Init");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.Reset"), L"");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.PrintReceipt"), L"1");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.XReport"), L"1");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.ZReport"), L"");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.AutoClose"), L"1");
    EXPECT_EQ(Env(L"Tallymark.Collect.Control.Cancel"), L"");
    EXPECT_EQ(Env(L"Tallymark.Collect.Debug"), L"1");
    EXPECT_EQ(Env(L"Tallymark.Print.Delay"), L"1000");
    // Done, then cancelled: the record stays, the end uses the cancel flags.
    Event(L"Done");
    Event(L"Cancel");
    EXPECT_EQ(CountRecords("COLLECT.CANCEL"), 1u);
    EXPECT_EQ(RecordNumber(), 1u);
    EXPECT_EQ(Calls(L"Cash.Finish"), 0);
    EXPECT_TRUE(WentToStart());
}

// An Init the host fails half way leaves no collection open and the counter not frozen.
TEST_F(CollectionTest, FailedOpenLeavesNothingOpen) {
    Pay({{100, L"RUB"}});
    host_->FailMethod(L"Session.SetProperty", E_FAIL);
    EXPECT_TRUE(FAILED(Event(L"Init")));
    host_->ClearFailure(L"Session.SetProperty");
    EXPECT_FALSE(terminal_->Collect().IsOpen());
    Pay({{100, L"RUB"}});
    EXPECT_EQ(terminal_->PublishedValues().at(L"Tallymark.BillCounter.Collect.All.All.Count"), 2u);
    Event(L"Init");
    EXPECT_EQ(Last("COLLECT.OPEN"), "COLLECT.OPEN\t;открыта инкассация №1 (в стекере должно быть купюр: 2 шт.)");
}

TEST_F(CollectionTest, CancelWithStackerOutFinishesWhenBack) {
    Pay({{100, L"RUB"}});
    host_->NotifyStackerRemoved();
    Event(L"Init");
    Event(L"Cancel");
    EXPECT_EQ(CountRecords("COLLECT.CANCEL"), 0u);
    EXPECT_TRUE(terminal_->Collect().IsOpen());
    host_->NotifyStackerInstalled();
    EXPECT_EQ(CountRecords("COLLECT.CANCEL"), 1u);
    EXPECT_EQ(CountRecords("COLLECT.CLOSED"), 0u);
    EXPECT_TRUE(WentToStart());
    // Never done: no number used, the counter untouched.
    EXPECT_FALSE(RecordNumber());
    EXPECT_EQ(Count(L"Collect", L"RUB", L"100"), 1u);
}

// The screen may send events out of order: nothing is recorded for a collection that is not open,
// and a close still takes the terminal off the collection screen.
TEST_F(CollectionTest, EventsWithoutOpenCollection) {
    Event(L"Done");
    EXPECT_EQ(Last("COLLECT.ERROR"), "COLLECT.ERROR\t;при выполнении инкассации произошла ошибка: Инкассация не открыта");
    EXPECT_EQ(Env(L"Tallymark.Collect.Continue"), L"1");
    EXPECT_FALSE(RecordNumber());
    Event(L"Close");
    EXPECT_EQ(CountRecords("COLLECT.CANCEL"), 1u);
    EXPECT_EQ(CountRecords("COLLECT.CLOSED"), 0u);
    EXPECT_TRUE(WentToStart());

    // Done after the close was asked for, with the stacker still out: refused, nothing persisted.
    host_->NotifyStackerRemoved();
    Event(L"Init");
    Event(L"Close");
    Event(L"Done");
    EXPECT_EQ(Last("COLLECT.ERROR"), "COLLECT.ERROR\t;при выполнении инкассации произошла ошибка: Инкассация уже закрывается");
    EXPECT_FALSE(RecordNumber());
}

TEST_F(CollectionTest, DoneFailureKeepsRecordAndAsksToContinue) {
    Pay({{100, L"RUB"}});
    Event(L"Init");
    {
        DeniedKey denied(HKEY_LOCAL_MACHINE, kCollectKey);
        EXPECT_EQ(Event(L"Done"), S_OK);
    }
    EXPECT_EQ(Env(L"Tallymark.Collect.Continue"), L"1");
    EXPECT_EQ(Env(L"Tallymark.Collect.Error").rfind(L"Ошибка: ", 0), 0u);
    EXPECT_EQ(CountRecords("COLLECT.ERROR"), 1u);
    EXPECT_EQ(CountRecords("COLLECT.DONE"), 0u);
    EXPECT_FALSE(RecordNumber());
    EXPECT_EQ(Count(L"Collect", L"RUB", L"100"), 1u);

    // Tried again once the registry allows it: the same number, the notes recorded once.
    Event(L"Done");
    EXPECT_EQ(RecordNumber(), 1u);
    EXPECT_EQ(SummaryCount(L"100"), 1u);
    EXPECT_EQ(Env(L"Tallymark.Collect.Continue"), L"");
}

TEST_F(CollectionTest, RethrowErrorsReachesHost) {
    Debug(L"Rethrow Errors", 1);
    Debug(L"Show Errors", 1);
    Event(L"Init");
    HRESULT hr = S_OK;
    {
        DeniedKey denied(HKEY_LOCAL_MACHINE, kCollectKey);
        hr = Event(L"Done");
    }
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(CountRecords("COLLECT.ERROR"), 1u);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].rfind(L"Ошибка: ", 0), 0u);
}

TEST_F(CollectionTest, TerminalFailuresDuringCollection) {
    host_->NotifyFailure(L"Printer", true);  // before: reported when the collection opens
    Event(L"Init");
    EXPECT_EQ(Env(L"Tallymark.Collect.Error"), L"Отказ: \"Printer\"");
    host_->NotifyFailure(L"Validator", true);
    EXPECT_EQ(Env(L"Tallymark.Collect.Error"), L"Отказы: \"Printer\", \"Validator\"");
    EXPECT_EQ(Last("COLLECT.ERROR"), "COLLECT.ERROR\t;отказ терминала при выполнении инкассации: \"Printer\", \"Validator\"");
    EXPECT_EQ(Env(L"Tallymark.Print.Failure"), L"1");
    host_->NotifyFailure(L"Printer", false);
    host_->NotifyFailure(L"Validator", false);
    EXPECT_EQ(Env(L"Tallymark.Collect.Error"), L"");
    EXPECT_EQ(CountRecords("COLLECT.ERROR"), 3u);
}

// A host that fails on the way out still gets the collection ended and the start screen.
TEST_F(CollectionTest, FailedCashFinishStillLeavesScreen) {
    Event(L"Init");
    Event(L"Done");
    host_->FailMethod(L"Cash.Finish", E_FAIL);
    int finished = Calls(L"Session.Finish");
    EXPECT_TRUE(FAILED(Event(L"Close")));
    EXPECT_TRUE(WentToStart());
    EXPECT_EQ(Calls(L"Session.Finish"), finished + 1);
    EXPECT_FALSE(terminal_->Collect().IsOpen());
}

}  // namespace
