// Texts and e-mail over the simulated host: the session extender's answers, print requests and
// helper choice, and alerts.
#include "Plugin/Texts/Reports.h"
#include "tests/ExtenderFixture.h"

namespace {

using TextsTest = SessionTest;

TEST_F(TextsTest, EmailTextIsNumberedFilledFromParametersAndItsInputsCleared) {
    Template("mail.TXT", L"№%(MsgInfo.Number) %(x) %(MsgProp.To) %(CUC)");
    for (int round = 1; round <= 2; ++round) {
        SetEnv("Tallymark.Email.Template", L"mail");
        SetEnv("Tallymark.Email.TextParams.length", L"2");
        SetEnv("Tallymark.Email.TextParams[0].name", L"x");
        SetEnv("Tallymark.Email.TextParams[0].value", L"first");
        SetEnv("Tallymark.Email.TextParams[1].name", L"X");  // an equal name: the later value wins
        SetEnv("Tallymark.Email.TextParams[1].value", L"second");
        host_->DeliverEvent(L"Tallymark.CreateEmail");
        EXPECT_EQ(Env(L"Tallymark.Email.Text"),
                  (round == 1 ? L"№000001" : L"№000002") + std::wstring(L" second Tallymark.Email.To RUB"));
        for (const wchar_t* input : {L"Tallymark.Email.Template", L"Tallymark.Email.TextParams.length",
                                     L"Tallymark.Email.TextParams[1].name", L"Tallymark.Email.TextParams[1].value"})
            EXPECT_EQ(Env(input), L"") << Narrow(input);
    }
    EXPECT_EQ(UserValue(L"PrevMessageNumber"), std::optional<DWORD>(2));
    // No template: no text, no number taken.
    host_->DeliverEvent(L"Tallymark.CreateEmail");
    EXPECT_EQ(Env(L"Tallymark.Email.Text"), L"");
    EXPECT_EQ(UserValue(L"PrevMessageNumber"), std::optional<DWORD>(2));
}

TEST_F(TextsTest, PrintRequestKeepsOrDropsUndefinedEscapesAndFindsTemplatesWithoutExtension) {
    Template("receipt.TXT", L"[%Q] %(a) %(var:Some Name (1))");
    Session().OnSetProperty(nullptr, CoString(L"Some Name (1)"), CoString(L"old"));
    Session().OnSetProperty(nullptr, CoString(L"some name (1)"), CoString(L"new"));
    PrintTexts& printing = terminal_->Printing();
    EXPECT_EQ(printing.RequestPrintText(L"receipt", {{L"a", L"1"}}, true), L"[%Q] 1 new");
    EXPECT_EQ(printing.RequestPrintText(L"receipt", {{L"a", L"2"}}, false), L"[] 2 new");
    for (const wchar_t* input : {L"Tallymark.Print.Template", L"Tallymark.Print.NoEscape", L"Tallymark.Print.Params.length",
                                 L"Tallymark.Print.Params[0].name", L"Tallymark.Print.Params[0].value"})
        EXPECT_EQ(Env(input), L"") << Narrow(input);

    // Slot 7 empties the map: the name reads empty and no longer counts as defined.
    Session().OnSetProperty(nullptr, CoString(L"flag"), CoString(L"1"));
    Template("defined.TXT", L"%{ifdef(var:flag):yes%}%{ifndef(var:flag):no%}");
    EXPECT_EQ(printing.RequestPrintText(L"defined", {}, true), L"yes");
    Session().OnClearProperties(nullptr);
    EXPECT_EQ(printing.RequestPrintText(L"defined", {}, true), L"no");

    // An empty template name asks the host nothing.
    size_t before = host_->transcript.Records().size();
    EXPECT_EQ(printing.RequestPrintText(L"", {{L"a", L"1"}}, true), L"");
    EXPECT_EQ(host_->transcript.Records().size(), before);
}

TEST_F(TextsTest, PrintTemplateFailureGoesToTheCollectionErrorAndGivesNoText) {
    SetEnv("Tallymark.OnError", L"onError()");
    EXPECT_EQ(terminal_->Printing().RequestPrintText(L"missing", {}, true), L"");
    EXPECT_EQ(Env(L"Tallymark.Collect.Error").rfind(L"Ошибка: Не удалось загрузить шаблон \"missing\"", 0), 0u);
    EXPECT_EQ(Records().back().rfind("COLLECT.ERROR\t;при выполнении инкассации произошла ошибка: Не удалось", 0), 0u);
    ASSERT_FALSE(host_->scripts.empty());
    EXPECT_EQ(host_->scripts.back(), L"onError()");
}

TEST_F(TextsTest, ParameterCountsThatAreNoListAreRefusedOrEmpty) {
    Template("p.TXT", L"%{for(n=*):%(n);%}");
    auto request = [&](const wchar_t* length) {
        SetEnv("Tallymark.Print.Template", L"p");
        SetEnv("Tallymark.Print.Params.length", length);
        SetEnv("Tallymark.Print.Params[0].name", L"x");
        host_->DeliverEvent(L"Tallymark.Collect.CreatePrintText");
        return Env(L"Tallymark.Print.Text");
    };
    EXPECT_EQ(request(L"-5").find(L"x;"), std::wstring::npos);
    EXPECT_EQ(request(L"1000000000"), L"");
    EXPECT_NE(Env(L"Tallymark.Collect.Error").find(L"Tallymark.Print.Params.length=1000000000"), std::wstring::npos);
    EXPECT_EQ(request(L"abc"), L"");
    EXPECT_NE(Env(L"Tallymark.Collect.Error").find(L"Неверный формат числа"), std::wstring::npos);
}

TEST_F(TextsTest, PredefinedNamesTakeTheCollectionTimeAndTheDenominations) {
    Template("names.TXT", L"%(date)|%(time)|%(d) %(t)|%(Denom.RUB0010)|%(Denom.RUB5000)|"
                          L"%(Tallymark.BillCounter.App.Reset.Number)|%(terminal)");
    RealTime collected = LocalTime(2025, 3, 4, 5, 6, 7);
    std::wstring text = Session().ProduceText(L"names", collected, {}, true);
    EXPECT_EQ(text, L"4 марта 2025 г.|05:06:07|04.03.2025 05:06|10|5000|0|" + host_->terminalText);
    std::wstring now = Session().ProduceText(L"names", RealTime::Never, {}, true);
    EXPECT_EQ(now.substr(0, now.find(L'|')), Format(RealTime::Now(), 1, true, false, false));
}

TEST_F(TextsTest, PrintHelperFollowsThePrintModeAndIsPublishedOnlyWhenItExists) {
    RegKey host(HKEY_LOCAL_MACHINE, kHostKey, true, kRegWriteAccess);
    host[L"Local HTML"] = Widen(folder_.Path());
    std::string html = folder_.Path() + "\\Tallymark";
    CreatePath(html);
    PrintTexts& printing = terminal_->Printing();

    printing.ChoosePrintHelper();
    EXPECT_EQ(Env(L"Tallymark.PrintHelper.FileName"), L"") << "print.js does not exist";
    WriteBytes(html + "\\print.js", "//");
    printing.ChoosePrintHelper();
    EXPECT_EQ(Env(L"Tallymark.PrintHelper.FileName"), Widen(html + "\\print.js"));

    SetEnv("Tallymark.PrintHelper.FileName", L"");
    SetEnv("PLXDK.PrintMode", L"0");
    printing.ChoosePrintHelper();
    EXPECT_EQ(Env(L"Tallymark.PrintHelper.FileName"), L"");
    WriteBytes(html + "\\myprint.js", "//");
    RegKey(HKEY_CURRENT_USER, kOptionsKey, true, kRegWriteAccess)[L"Collect PrintHelper"] = L"myprint";
    printing.ChoosePrintHelper();
    EXPECT_EQ(Env(L"Tallymark.PrintHelper.FileName"), Widen(html + "\\myprint.js"));

    EXPECT_EQ(PrintTexts::HelperForPrintMode(L"1"), L"print-SysPrint.js");
    EXPECT_EQ(PrintTexts::HelperForPrintMode(L"2"), L"print-ATOL.js");
    EXPECT_EQ(PrintTexts::HelperForPrintMode(L"7"), L"print.js");

    printing.PublishPrintDelay();
    EXPECT_EQ(Env(L"Tallymark.Print.Delay"), L"1000");
    RegKey(HKEY_LOCAL_MACHINE, kOptionsKey, true, kRegWriteAccess)[L"Print Delay"] = DWORD(250);
    printing.PublishPrintDelay();
    EXPECT_EQ(Env(L"Tallymark.Print.Delay"), L"250");
}

TEST_F(TextsTest, AlertMailsOnceUntilClearedAndNamesItsRecipient) {
    MappedTemplate(L"limit.message", "limit.TXT", L"full: %(prop:Tallymark.Alert.Name)");
    Alert(L"Limit", {{L"template", L"limit.message"}, {L"to", L"owner@example.org"}, {L"subject", L"Стекер"}});
    Alerts& alerts = terminal_->AlertSender();

    EXPECT_TRUE(alerts.RaiseOrClearAlert(L"Limit", true, false));
    EXPECT_TRUE(alerts.RaiseOrClearAlert(L"Limit", true, false));
    EXPECT_EQ(host_->mails.size(), 1u) << "a raised alert mails once";
    EXPECT_EQ(Env(L"Email.To"), L"owner@example.org");
    EXPECT_EQ(Env(L"Email.Text"), L"full: ");  // "prop:" names are the session extender's map, not host properties
    EXPECT_FALSE(alerts.RaiseOrClearAlert(L"Limit", false, false));
    EXPECT_TRUE(alerts.RaiseOrClearAlert(L"Limit", true, false));
    EXPECT_EQ(host_->mails.size(), 2u) << "cleared, it mails again";
    std::vector<std::string> records = Records();
    EXPECT_EQ(records[records.size() - 2], "ALERT.MAIL\t;отправляется уведомление \"Limit\"");
    EXPECT_EQ(records.back(), "ALERT.DONE\t;уведомление отправлено по адресу \"owner@example.org\"");

    // No recipient: sent all the same, and logged without an address. Disabled: neither mail nor mark.
    Alert(L"Open", {{L"template", L"limit.message"}});
    EXPECT_TRUE(alerts.RaiseOrClearAlert(L"Open", true, true));
    EXPECT_EQ(Env(L"Email.To"), L"");
    EXPECT_EQ(Records().back(), "ALERT.DONE\t;уведомление отправлено");
    Alert(L"Off", {{L"template", L"limit.message"}});
    RegKey(HKEY_CURRENT_USER, std::wstring(kAlertsKey) + L"\\Off", true, kRegWriteAccess)[L"Disabled"] = DWORD(1);
    EXPECT_FALSE(alerts.RaiseOrClearAlert(L"Off", true, true));
    EXPECT_EQ(host_->mails.size(), 3u);
    // Without "email" the alert is marked, nothing is sent; without its key nothing happens.
    Alert(L"Quiet", {}, false);
    EXPECT_TRUE(alerts.RaiseOrClearAlert(L"Quiet", true, false));
    EXPECT_FALSE(alerts.RaiseOrClearAlert(L"NoSuchAlert", true, true));
    EXPECT_EQ(host_->mails.size(), 3u);
}

TEST_F(TextsTest, EventAlertsFollowTheirSwitchAndMappingAndFailuresLeaveThemUnmarked) {
    MappedTemplate(L"day.message", "day.TXT", L"№%(Report.Number)");
    Alert(L"Day", {{L"template", L"day.message"}});
    RegKey(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, true, kRegWriteAccess)[L"NextDay"] = L"Day";
    Alerts& alerts = terminal_->AlertSender();
    ResetInfo info{7, LocalTime(2026, 1, 2, 3, 4, 5), RealTime::Never};
    TextParams params = ReportParams(info);
    EXPECT_EQ(params, (TextParams{{L"Report.Number", L"7"}, {L"Report.DateTime", L"02.01.2026 03:04:05"}}));

    EXPECT_FALSE(alerts.RaiseEventAlert(L"NextDay", &params)) << "the switch is off by default";
    RegKey(HKEY_LOCAL_MACHINE, kOptionsAlertEventsKey, true, kRegWriteAccess)[L"NextDay"] = DWORD(1);
    RegKey(HKEY_CURRENT_USER, kOptionsAlertEventsKey, true, kRegWriteAccess)[L"NextDay"] = DWORD(0);
    EXPECT_FALSE(alerts.RaiseEventAlert(L"NextDay", &params)) << "the user's switch wins";
    RegKey(HKEY_CURRENT_USER, kOptionsAlertEventsKey, true, kRegWriteAccess)[L"NextDay"].Delete();
    EXPECT_TRUE(alerts.RaiseEventAlert(L"NextDay", &params));
    EXPECT_TRUE(alerts.RaiseEventAlert(L"NextDay", &params)) << "event alerts are forced";
    EXPECT_EQ(host_->mails.size(), 2u);
    EXPECT_EQ(Env(L"Email.Text"), L"№7");

    // A host that refuses a property: ALERT.ERROR, and the alert stays unmarked.
    RegKey user(HKEY_CURRENT_USER, std::wstring(kAlertsKey) + L"\\Day", true, kRegWriteAccess);
    user[L"alerted"].Delete();
    host_->FailMethod(L"Session.SetProperty", E_ACCESSDENIED);
    EXPECT_FALSE(alerts.RaiseEventAlert(L"NextDay", &params));
    host_->ClearFailure(L"Session.SetProperty");
    EXPECT_FALSE(user[L"alerted"].Valid());
    EXPECT_EQ(Records().back().rfind("ALERT.ERROR\t;при создании уведомления \"Day\" произошла ошибка: ", 0), 0u);
    // With "Rethrow Errors" the failure reaches the caller after it was logged.
    RegKey(HKEY_CURRENT_USER, kDebugAlertKey, true, kRegWriteAccess)[L"Rethrow Errors"] = DWORD(1);
    host_->FailMethod(L"Session.Event", E_FAIL);
    EXPECT_THROW(alerts.RaiseEventAlert(L"NextDay", &params), VelmorException);
    host_->ClearFailure(L"Session.Event");
    EXPECT_FALSE(user[L"alerted"].Valid());
}

}  // namespace
