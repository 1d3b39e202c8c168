#include "tests/ExtenderFixture.h"

namespace {

std::wstring ErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    CoString text;
    info->GetDescription(text.Out());
    info->Release();
    return text.Str();
}

VARIANT DispatchArg(IDispatch* object) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = object;  // borrowed: the caller keeps the object alive
    return v;
}

VARIANT LongArg(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

TEST_F(ExtenderTest, PaymentCountsEveryNoteAndClosesWithTheSessionTotal) {
    TerminalSide* side = Start();
    Host::CashSession& session = host_->BeginCashSession();
    EXPECT_TRUE(side->Cash().IsOpen());
    EXPECT_EQ(side->Cash().PaymentRecord().number, 1u);
    session.Accept(100, L"RUB");
    session.Accept(100, L"RUB");
    session.Accept(500, L"RUB");
    host_->DeliverEvent(L"Tallymark.OnCashClose");
    EXPECT_FALSE(side->Cash().IsOpen());
    host_->EndCashSession(false);

    EXPECT_EQ(Count(L"Collect", L"RUB", L"100"), 2u);
    EXPECT_EQ(side->PublishedValues().at(L"Tallymark.BillCounter.Payment.RUB.All.Total"), 700u);
    EXPECT_EQ(UserValue(L"PrevCashSessionNumber"), std::optional<DWORD>(1));
    EXPECT_EQ(side->Cash().PaymentRecord().number, 1u);
    std::vector<std::string> records = Records();
    ASSERT_GE(records.size(), 6u);
    EXPECT_EQ(records[0], "LOG.OPEN\t;лог открыт");
    EXPECT_EQ(records[1], "CASH.INIT\t;задействован приём купюр");
    EXPECT_TRUE(records[2].starts_with("COUNTER.RESET\t;сброшен счётчик купюр \"Payment\"")) << records[2];
    EXPECT_EQ(records[3], "CASH.ACCEPT\t;принята купюра 100 RUB (всего в стекере купюр 1 шт.: RUB¤100)");
    EXPECT_EQ(records[5], "CASH.ACCEPT\t;принята купюра 500 RUB (всего в стекере купюр 3 шт.: RUB¤700)");
    EXPECT_EQ(records.back(), "CASH.DONE\t;приём купюр завершён, всего было принято купюр: 3 шт. (RUB¤700)");

    // A second session numbers itself on; one without notes neither numbers nor counts.
    Pay({{10, L"RUB"}});
    EXPECT_EQ(UserValue(L"PrevCashSessionNumber"), std::optional<DWORD>(2));
    Pay({});
    EXPECT_EQ(UserValue(L"PrevCashSessionNumber"), std::optional<DWORD>(2));
    EXPECT_EQ(Records().back(), "CASH.DONE\t;приём купюр завершён, купюр принято не было");
}

TEST_F(ExtenderTest, SessionDroppedBeforeTheCloseEventIsCancelled) {
    Start();
    host_->BeginCashSession().Accept(50, L"RUB");
    host_->EndCashSession(false);
    EXPECT_EQ(Records().back(), "CASH.CANCEL\t;приём купюр неожиданно отменён, всего было принято купюр: 1 шт. (RUB¤50)");
}

TEST_F(ExtenderTest, CashSessionWithoutActiveSessionFailsAfterLoggingInit) {
    TerminalSide* side = Start();
    HRESULT hr = extender_->OnEvent(nullptr, CoString(L"tallymark.oncashsession"));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(ErrorDescription(), L"Нет активного сеанса купюроприёмника (Paylantra.Cash.ActiveSession)");
    EXPECT_EQ(Records().back(), "CASH.INIT\t;задействован приём купюр");
    EXPECT_FALSE(side->Cash().IsOpen());
}

TEST_F(ExtenderTest, EventNamesMatchWithoutRegardToCase) {
    Start();
    EXPECT_EQ(extender_->OnEvent(nullptr, CoString(L"TALLYMARK.ZREPORT.READY")), S_OK);
    EXPECT_EQ(extender_->OnEvent(nullptr, CoString(L"tallymark.zreport.done")), S_OK);
    EXPECT_EQ(extender_->OnEvent(nullptr, CoString(L"poll")), S_OK);
    EXPECT_EQ(extender_->OnEvent(nullptr, CoString(L"Unknown.Event")), S_OK);
    std::vector<std::string> records = Records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1], "ZREPORT.READY\t;готовность к печати Z-отчёта");
    EXPECT_EQ(records[2], "ZREPORT.DONE\t;Z-отчёт напечатан");
    EXPECT_TRUE(records[3].starts_with("COUNTER.RESET\t;сброшен счётчик купюр \"ZReport\"")) << records[3];
    // The Z-report has a default template; with no session extender to render it, no file follows.
    EXPECT_EQ(records[4], "REPORT.INIT\t;запись отчёта на диск терминала");
    EXPECT_EQ(g_boxes, (std::vector<std::wstring>{L"Terminal event poll"}));
    EXPECT_EQ(g_captions, (std::vector<std::wstring>{L"Velmor Paylantra Tallymark plugin v.1.2.0"}));
}

TEST_F(ExtenderTest, ReleaseClosesTheLogAndLetsGoOfTheTimer) {
    Start();
    EXPECT_NE(DayChange::Current(), nullptr);
    Stop();
    EXPECT_EQ(DayChange::Current(), nullptr);
    EXPECT_EQ(Records().back(), "LOG.CLOSE\t;лог закрыт");
}

TEST_F(ExtenderTest, FailuresAndStackerNotifications) {
    TerminalSide* side = Start();
    extender_->OnTerminalFailure(nullptr, CoString(L"Printer"), 1);
    extender_->OnTerminalFailure(nullptr, CoString(L"printer"), 1);
    extender_->OnTerminalFailure(nullptr, CoString(L"Validator"), 0);
    EXPECT_EQ(side->Collect().Failures(), (std::vector<keystringW>{L"Printer"}));
    extender_->OnTerminalFailure(nullptr, CoString(L"PRINTER"), 0);
    EXPECT_TRUE(side->Collect().Failures().empty());

    // Without "Collect Enabled" the stacker only logs (and reports on installation).
    EXPECT_EQ(extender_->OnStackerRemoved(&host_->Environment()), S_OK);
    EXPECT_EQ(extender_->OnStackerInstalled(nullptr), S_OK);
    EXPECT_FALSE(side->Collect().StackerRemoved());
    EXPECT_TRUE(host_->navigations.empty());
    std::vector<std::string> records = Records();
    EXPECT_EQ(records[records.size() - 3], "STACKER.DISPOSED\t;стекер удалён");
    EXPECT_EQ(records[records.size() - 2], "STACKER.INSTALLED\t;стекер установлен");
    EXPECT_EQ(side->Counters().Resets().at(L"Stacker").number, 1u);

    RegKey(HKEY_LOCAL_MACHINE, kOptionsKey, true, kRegWriteAccess)[L"Collect Enabled"] = DWORD(1);
    extender_->OnStackerRemoved(&host_->Environment());
    EXPECT_TRUE(side->Collect().StackerRemoved());
    EXPECT_EQ(host_->navigations, (std::vector<std::wstring>{L"Paylantra:collect"}));
    extender_->OnStackerInstalled(nullptr);
    EXPECT_FALSE(side->Collect().StackerRemoved());
}

// Collection options: the user's tree over the machine's.
TEST_F(ExtenderTest, StackerRemovalRequestsCollectionAndNavigatesOnlyWhenAllowed) {
    RegKey machine(HKEY_LOCAL_MACHINE, kOptionsKey, true, kRegWriteAccess);
    RegKey user(HKEY_CURRENT_USER, kOptionsKey, true, kRegWriteAccess);
    machine[L"Collect Enabled"] = DWORD(0);
    user[L"Collect Enabled"] = DWORD(1);
    machine[L"Collect AutoNavigate"] = DWORD(1);
    user[L"Collect AutoNavigate"] = DWORD(0);
    TerminalSide* side = Start();
    EXPECT_EQ(extender_->OnStackerRemoved(&host_->Environment()), S_OK);
    EXPECT_TRUE(side->Collect().StackerRemoved());
    EXPECT_TRUE(host_->Environment().HasProperty(L"Tallymark.Collect.Request"));
    EXPECT_TRUE(host_->navigations.empty());

    user[L"Collect AutoNavigate"].Delete();
    EXPECT_EQ(extender_->OnStackerRemoved(&host_->Environment()), S_OK);
    EXPECT_EQ(host_->navigations, (std::vector<std::wstring>{L"Paylantra:collect"}));
}

// A bill whose denomination or currency the host cannot give is counted nowhere, and the host
// hears its own failure back.
TEST_F(ExtenderTest, BillThatCannotBeReadIsNotCounted) {
    TerminalSide* side = Start();
    auto* sink = new CashSessionEvents(side->CashCounter());
    co<IPaylantraBill> bill = co<IPaylantraBill>::Attach(new Host::Bill(host_.get(), 100, L"RUB"));
    const HRESULT hostFailure = HRESULT(0x80041234);
    for (const wchar_t* method : {L"Bill.GetDenomination", L"Bill.GetCurrency"}) {
        host_->FailMethod(method, hostFailure);
        EXPECT_EQ(sink->OnAccept(LongArg(0), DispatchArg(bill.Get())), hostFailure) << Narrow(method);
        host_->ClearFailure(method);
    }
    EXPECT_EQ(sink->OnAccept(LongArg(0), DispatchArg(bill.Get())), S_OK);
    EXPECT_EQ(sink->Tally().TotalCount(), 1u);
    sink->Release();
    EXPECT_EQ(Count(L"Terminal", L"RUB", L"100"), 1u);
}

// A close without an open cash session has no payment to number or report.
TEST_F(ExtenderTest, RepeatedCloseDoesNotNumberThePaymentAgain) {
    Start();
    Pay({{100, L"RUB"}});
    ASSERT_EQ(UserValue(L"PrevCashSessionNumber"), std::optional<DWORD>(1));
    host_->DeliverEvent(L"Tallymark.OnCashClose");
    host_->DeliverEvent(L"Tallymark.OnCashClose");
    EXPECT_EQ(UserValue(L"PrevCashSessionNumber"), std::optional<DWORD>(1));
}

// The new day is taken only when the change went through; what failed goes into the log once,
// and the next tick tries again.
TEST_F(ExtenderTest, FailedDayChangeIsLoggedAndRetried) {
    const RealTime today = RealTime::Now().Date();
    const RealTime yesterday = today - RealTime::kTicksPerDay;
    RegKey(HKEY_CURRENT_USER, kPluginKey, true, kRegWriteAccess)[L"Today"] = Format(yesterday, 0);
    RegKey(HKEY_LOCAL_MACHINE, std::wstring(kBillCountersKey) + L"\\Today\\RUB", true, kRegWriteAccess)[L"100"] = DWORD(3);
    TerminalSide* side = Start();
    auto storedToday = [] { return RegKey(HKEY_CURRENT_USER, kPluginKey, false, kRegReadAccess)[L"Today"].Text(); };
    {
        DeniedKey denied(HKEY_LOCAL_MACHINE, std::wstring(kBillCountersKey) + L"\\Today\\RUB");
        side->Day().TryTick();
        side->Day().TryTick();
    }
    EXPECT_EQ(side->Day().Today(), yesterday);
    EXPECT_EQ(storedToday(), Format(yesterday, 0));
    EXPECT_EQ(Count(L"Today", L"RUB", L"100"), 3u);
    std::vector<std::string> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[1].starts_with("CALLBACK.ERROR\t;не удалось сменить текущую дату: ")) << records[1];

    side->Day().TryTick();
    EXPECT_EQ(side->Day().Today(), today);
    EXPECT_EQ(storedToday(), Format(today, 0));
    EXPECT_EQ(Count(L"Today", L"RUB", L"100"), 0u);
    EXPECT_TRUE(Records().back().starts_with("COUNTER.RESET\t;сброшен счётчик купюр \"Today\"")) << Records().back();
}

// A change that failed after the day's counter was reset is finished later without a second
// reset: the notes counted in between stay.
TEST_F(ExtenderTest, DayChangeFailedAfterItsResetDoesNotResetAgain) {
    const RealTime today = RealTime::Now().Date();
    RegKey(HKEY_CURRENT_USER, kPluginKey, true, kRegWriteAccess)[L"Today"] = Format(today - RealTime::kTicksPerDay, 0);
    const std::wstring counter = std::wstring(kBillCountersKey) + L"\\Today\\RUB";
    RegKey(HKEY_LOCAL_MACHINE, counter, true, kRegWriteAccess)[L"100"] = DWORD(3);
    TerminalSide* side = Start();
    {
        DeniedKey denied(HKEY_CURRENT_USER, kPluginKey);
        side->Day().TryTick();
    }
    EXPECT_TRUE(Records().back().starts_with("CALLBACK.ERROR\t;не удалось сменить текущую дату: ")) << Records().back();
    RegKey(HKEY_LOCAL_MACHINE, counter, true, kRegWriteAccess)[L"100"] = DWORD(1);  // a note taken meanwhile
    side->Day().TryTick();
    EXPECT_EQ(side->Day().Today(), today);
    EXPECT_EQ(Count(L"Today", L"RUB", L"100"), 1u);
    std::vector<std::string> records = Records();
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const std::string& r) { return r.starts_with("COUNTER.RESET\t;сброшен счётчик купюр \"Today\""); }),
              1);
}

TEST_F(ExtenderTest, SinkAnswersCountsAndTracesEachEvent) {
    RegKey debug(HKEY_CURRENT_USER, kDebugKey, true, kRegWriteAccess);
    debug[L"Show CashSession Events"] = DWORD(0);
    TerminalSide* side = Start();
    auto* quiet = new CashSessionEvents(side->CashCounter());
    quiet->OnActive(LongArg(0), LongArg(1));
    quiet->Release();
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(Records().back(), "CASH.DONE\t;приём купюр завершён, купюр принято не было");

    debug[L"Show CashSession Events"] = DWORD(1);  // read afresh at every event
    auto* sink = new CashSessionEvents(side->CashCounter());
    co<IPaylantraBill> bill = co<IPaylantraBill>::Attach(new Host::Bill(host_.get(), 100, L"RUB"));
    VARIANT none = LongArg(0), billArg = DispatchArg(bill.Get());
    EXPECT_EQ(sink->OnActive(none, LongArg(1)), S_OK);
    EXPECT_EQ(sink->OnBillRange(none, LongArg(10), LongArg(5000)), S_OK);
    EXPECT_EQ(sink->OnBillCount(none, LongArg(3)), S_OK);
    EXPECT_EQ(sink->OnAccept(none, billArg), S_OK);
    EXPECT_EQ(sink->OnAccept(none, billArg), S_OK);
    EXPECT_EQ(sink->OnDetect(none, LongArg(7)), S_FALSE);
    EXPECT_EQ(sink->OnReject(none), S_OK);
    EXPECT_EQ(sink->OnTimeout(none, LongArg(30)), S_OK);
    EXPECT_EQ(sink->OnCancel(none), S_OK);
    EXPECT_EQ(sink->OnFailure(none), S_OK);
    // An argument without the bill interface fails before anything is counted.
    co<IDispatch> notABill = co<IDispatch>::Attach(new Host::Flags(host_.get()));
    EXPECT_TRUE(FAILED(sink->OnAccept(none, DispatchArg(notABill.Get()))));
    EXPECT_TRUE(FAILED(sink->OnAccept(none, LongArg(100))));
    EXPECT_EQ(sink->Tally().DenominationCount(L"RUB", 100), 2u);
    EXPECT_EQ(Count(L"Terminal", L"RUB", L"100"), 2u);
    sink->Release();

    ASSERT_EQ(g_boxes.size(), 14u);
    EXPECT_EQ(g_boxes[0], L"Plugin::CashSessionEvents::CashSessionEvents(Plugin::TerminalExtender*)");
    EXPECT_EQ(g_boxes[2], L"virtual HRESULT Plugin::CashSessionEvents::OnBillRange(VARIANT, VARIANT, VARIANT), MinBill:10, MaxBill:5000");
    EXPECT_EQ(g_boxes[7], L"virtual HRESULT Plugin::CashSessionEvents::OnReject(VARIANT)");
    EXPECT_EQ(g_boxes.back(), L"virtual Plugin::CashSessionEvents::~CashSessionEvents()");
    // No cash session is open, so its end reads as done.
    EXPECT_EQ(Records().back(), "CASH.DONE\t;приём купюр завершён, всего было принято купюр: 2 шт. (RUB¤200)");
}

TEST_F(ExtenderTest, AttachHandsTheExtenderToTheHost) {
    co<IPaylantraPlugin> plugin = co<IPaylantraPlugin>::Attach(new ::Plugin::Plugin());
    EXPECT_EQ(plugin->Attach(host_->Object()), S_OK);
    ASSERT_EQ(host_->Extenders().Items().size(), 1u);
    co<IUnknown> identity(host_->Extenders().Items()[0].Get(), IID_ITallymarkTerminalExtender);
    EXPECT_TRUE(identity);
    EXPECT_EQ(Records()[0], "LOG.OPEN\t;лог открыт");
}

// A second attach makes a newer pair of extenders; the older session extender still serves its own
// terminal side, until the host lets go of that side's terminal extender.
TEST_F(ExtenderTest, EachSessionExtenderServesItsOwnTerminalSide) {
    co<IPaylantraPlugin> plugin = co<IPaylantraPlugin>::Attach(new ::Plugin::Plugin());
    ASSERT_EQ(plugin->Attach(host_->Object()), S_OK);
    ASSERT_EQ(plugin->Attach(host_->Object()), S_OK);
    std::vector<co<IPaylantraSessionExtender2>> sessions = host_->Environment().Extenders();
    ASSERT_EQ(sessions.size(), 2u);
    IDispatch* environment = &host_->Environment();
    EXPECT_EQ(sessions[0]->OnSessionStart(environment), S_OK);
    EXPECT_EQ(sessions[1]->OnSessionStart(environment), S_OK);

    host_->Extenders().Items().erase(host_->Extenders().Items().begin());
    EXPECT_TRUE(FAILED(sessions[0]->OnSessionStart(environment)));
    EXPECT_EQ(ErrorDescription(), L"SessionExtender: the terminal extender is gone");
    EXPECT_EQ(sessions[1]->OnSessionStart(environment), S_OK);
}

TEST_F(ExtenderTest, MissingLogPathLeavesTheExtenderWorking) {
    RegKey(HKEY_LOCAL_MACHINE, kPluginKey, true, kRegWriteAccess)[L"LogPath"].Delete();
    TerminalSide* side = Start();
    Pay({{100, L"RUB"}});
    EXPECT_EQ(side->PublishedValues().at(L"Tallymark.BillCounter.Payment.All.All.Count"), 1u);
    EXPECT_EQ(UserValue(L"PrevCashSessionNumber"), std::optional<DWORD>(1));
}

}  // namespace
