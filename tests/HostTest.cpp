// The host binding wrappers over the simulator's host objects, the plugin's currency helpers and
// the scenario language's parsing.
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Host/HostObjects.h"
#include "Host/Scenario.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Plugin.h"
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <sstream>

using PLXDK::Paylantra::PLClient;
using PLXDK::Paylantra::PLSession;

namespace {


RealTime LocalTime(int year, int month, int day, int hour, int minute, int second, int ms) {
    SYSTEMTIME st{};
    st.wYear = WORD(year), st.wMonth = WORD(month), st.wDay = WORD(day);
    st.wHour = WORD(hour), st.wMinute = WORD(minute), st.wSecond = WORD(second), st.wMilliseconds = WORD(ms);
    return RealTime(st);
}

class Wrappers : public RegistryTest {
protected:
    Host::Terminal host_;
    PLClient client_{host_.Object()};
    PLSession session_{static_cast<IPaylantraSession*>(&host_.Environment())};
    std::wstring Prop(const wchar_t* name) { return host_.Environment().Property(name); }
};

TEST_F(Wrappers, TypedSettersWriteHostText) {
    session_.SetPropertyBool("B.True", true);
    session_.SetPropertyBool("B.False", false);
    session_.SetPropertyInt("I", -42);
    session_.SetPropertyUInt("U", 4294967295u);
    session_.SetPropertyUInt64("U64", 18446744073709551615ull);
    session_.SetProperty("Text", L"Привет");
    session_.SetProperty("Ansi", std::string("\xcf\xf0\xe8"));  // "При" in code page 1251
    EXPECT_EQ(L"1", Prop(L"B.True"));
    EXPECT_EQ(L"", Prop(L"B.False"));
    EXPECT_TRUE(host_.Environment().HasProperty(L"B.False")) << "false is written as the empty text";
    EXPECT_EQ(L"-42", Prop(L"I"));
    EXPECT_EQ(L"4294967295", Prop(L"U"));
    EXPECT_EQ(L"18446744073709551615", Prop(L"U64"));
    EXPECT_EQ(L"Привет", Prop(L"text")) << "host property names ignore case";
    EXPECT_EQ(L"При", Prop(L"Ansi"));
    EXPECT_EQ(0, session_.GetPropertyInt("B.False"));
    EXPECT_EQ(1, session_.GetPropertyInt("B.True"));
}

TEST_F(Wrappers, NumberReadsAcceptBothDecimalFormsAndNameBadText) {
    struct Case {
        const wchar_t* text;
        long long integer;
        double real;
    } good[] = {{L"", 0, 0}, {L"17", 17, 17}, {L" -3 ", -3, -3}, {L"2,5", 0, 2.5}, {L"2.5", 0, 2.5}};
    for (const Case& c : good) {
        host_.Environment().PutProperty(L"N", c.text);
        EXPECT_DOUBLE_EQ(c.real, session_.GetPropertyReal("N")) << Narrow(c.text);
        if (c.integer || !*c.text) {
            EXPECT_EQ(c.integer, session_.GetPropertyInt("N")) << Narrow(c.text);
        }
    }
    for (const wchar_t* bad : {L"12abc", L"abc", L"1 2"}) {
        host_.Environment().PutProperty(L"Count", bad);
        try {
            session_.GetPropertyInt("Count");
            ADD_FAILURE() << "no exception for " << Narrow(bad);
        } catch (const VMAppException& error) {
            EXPECT_EQ(L"Неверный формат числа: Count=" + std::wstring(bad), error.ReasonW());
        }
        EXPECT_THROW(session_.GetPropertyReal("Count"), VMAppException);
    }
}

TEST_F(Wrappers, TimesRoundTripAndMalformedTextIsEmptyTime) {
    RealTime time = LocalTime(2026, 12, 8, 23, 59, 58, 123);
    session_.SetPropertyTime("T", time);
    EXPECT_EQ(time, session_.GetPropertyTime("T"));
    std::wstring text = Prop(L"T");
    EXPECT_EQ(std::to_wstring((time.UTC().GetTicks() - 116444736000000000LL) / 10000), text);

    session_.SetPropertyTime("T", RealTime::Never);
    EXPECT_EQ(L"", Prop(L"T"));
    EXPECT_TRUE(host_.Environment().HasProperty(L"T"));
    for (const wchar_t* bad : {L"", L"12x", L"-5", L"1.5", L"99999999999999999999999"}) {
        host_.Environment().PutProperty(L"T", bad);
        EXPECT_EQ(RealTime::Never, session_.GetPropertyTime("T")) << Narrow(bad);
    }
    host_.Environment().PutProperty(L"T", L" 0 ");
    EXPECT_EQ(RealTime(116444736000000000LL).Local(), session_.GetPropertyTime("T"));
    EXPECT_THROW(session_.SetPropertyTime("T", LocalTime(1969, 12, 30, 0, 0, 0, 0)), InternalError);
}

TEST_F(Wrappers, ClientReachesTheEnvironmentAndTheApplication) {
    client_.SetPropertyInt("Tallymark.Collect.Number", 7);
    EXPECT_EQ(7, client_.GetPropertyInt("Tallymark.Collect.Number"));
    client_.SetPropertyBool("Flag", false);
    EXPECT_EQ(L"", client_.GetProperty("Flag"));
    client_.RunScript(L"alert(1)");
    EXPECT_EQ(L"script (javascript) alert(1)", host_.transcript.Records().back().what);
    EXPECT_EQ("Paylantra:collect", client_.EvalText(L"Paylantra:collect"));
    ASSERT_EQ(1u, host_.navigations.size());
    EXPECT_EQ(L"Paylantra:collect", host_.navigations[0]);
    EXPECT_FALSE(client_.IsFlagSet());
    host_.FlagsObject().value = 5;
    EXPECT_TRUE(client_.IsFlagSet());
    EXPECT_EQ(host_.terminalText, client_.GetTerminalText());
    client_.RaiseEvent("Some.Event");
    EXPECT_EQ(L"event Some.Event", host_.transcript.Records().back().what);
}

TEST_F(Wrappers, FailedHostCallsRaiseCoErrorWithTheirSource) {
    struct Case {
        const wchar_t* method;
        std::function<void()> call;
        const char* file;
    } cases[] = {
        {L"Session.GetProperty", [&] { session_.GetProperty("X"); }, "xdk/Source/Paylantra/PLSession"},
        {L"Terminal.GetEnvironment", [&] { client_.GetProperty("X"); }, "xdk/Source/Paylantra/PLClient"},
        {L"Terminal.GetApplication", [&] { client_.RunScript(L"x"); }, "xdk/Source/Paylantra/PLClient"},
        {L"Application.RunScript", [&] { client_.RunScript(L"x"); }, "xdk/Source/Paylantra/PLClient"},
        {L"Application.EvalText", [&] { client_.EvalText(L"x"); }, "xdk/Source/Paylantra/PLClient"},
        {L"Terminal.GetCash", [&] { client_.GetCash(); }, "xdk/Source/Paylantra/PLClient"},
        {L"Flags.IsSet", [&] { client_.IsFlagSet(); }, "xdk/Source/Paylantra/PLClient"},
        {L"TerminalExtenders.GetText", [&] { client_.GetTerminalText(); }, "xdk/Source/Paylantra/PLClient"},
    };
    for (const Case& c : cases) {
        host_.FailMethod(c.method, E_ACCESSDENIED);
        try {
            c.call();
            ADD_FAILURE() << Narrow(c.method) << " did not raise";
        } catch (const CoError& error) {
            EXPECT_EQ(E_ACCESSDENIED, error.Code()) << Narrow(c.method);
            EXPECT_EQ(c.file, error.File()) << Narrow(c.method);
        }
        host_.ClearFailure(c.method);
    }
    // A property the host refused is no silent loss either.
    host_.FailMethod(L"Session.SetProperty", E_FAIL);
    EXPECT_THROW(session_.SetProperty("X", L"1"), CoError);
}

TEST_F(Wrappers, QueryFailureNamesTheSmartPointerAndNullStaysNull) {
    try {
        co<IPaylantraSession> wrong(static_cast<IPaylantraApplication*>(&host_.App()));
        ADD_FAILURE() << "the application is no session";
    } catch (const CoError& error) {
        EXPECT_EQ(E_NOINTERFACE, error.Code());
        EXPECT_EQ("AppFrame/Include/co", error.File());
        EXPECT_GT(error.Line(), 0);
    }
    co<IPaylantraSession> none(nullptr);
    EXPECT_FALSE(none);
    PLSession empty;
    EXPECT_THROW(empty.GetProperty("X"), InternalError);
    EXPECT_THROW(empty.SetProperty("X", L""), InternalError);
    PLClient noTerminal;
    EXPECT_THROW(noTerminal.GetProperty("X"), InternalError);
}

TEST_F(Wrappers, ResetBillCounterWritesZero) {
    RegKey(HKEY_LOCAL_MACHINE, L"Software\\Velmor\\Paylantra\\BillCounter", true, kRegWriteAccess)[L"Current"] = DWORD(9);
    PLClient::ResetBillCounter();
    RegKey key(HKEY_LOCAL_MACHINE, L"Software\\Velmor\\Paylantra\\BillCounter", false, kRegReadAccess);
    EXPECT_EQ(0u, key[L"Current"].Int().value_or(99));
}

class Currency : public RegistryTest {};

TEST_F(Currency, CodeSuffixAndSubstitution) {
    struct Case {
        const wchar_t* code;    // null: no value
        const wchar_t* suffix;  // null: no value
        const wchar_t* expectedCode;
        const wchar_t* expectedSuffix;
    } cases[] = {
        {nullptr, nullptr, L"RUB", L"руб."},  {L"RUB", nullptr, L"RUB", L"руб."}, {L"USD", nullptr, L"USD", L"USD"},
        {L"rub", nullptr, L"rub", L"rub"},    {L"EUR", L"€", L"EUR", L"€"},       {L"RUB", L"р.", L"RUB", L"р."},
        {L"XYZ", L"[*]", L"XYZ", L"[*]"},
    };
    for (const Case& c : cases) {
        RegKey options(HKEY_LOCAL_MACHINE, Plugin::kOptionsKey, true, kRegWriteAccess);
        options[L"Currency Code"].Delete();
        options[L"Currency Suffix"].Delete();
        if (c.code) options[L"Currency Code"] = c.code;
        if (c.suffix) options[L"Currency Suffix"] = c.suffix;
        EXPECT_EQ(c.expectedCode, Plugin::CurrencyCode());
        EXPECT_EQ(c.expectedSuffix, Plugin::CurrencySuffix());
        // One pass: a substituted text is not scanned again.
        EXPECT_EQ(std::wstring(L"Сумма [") + c.expectedCode + L"], " + c.expectedSuffix + L" (" + c.expectedCode + L")",
                  Plugin::SubstituteCurrency(L"Сумма [[*]], (*) ([*])"));
    }
}

// A page that remembers what the panel gave it.
class RecordingPage : public PaylantraObject2<IPaylantraControlPage> {
public:
    STDMETHODIMP SetPageWindow(long window, long* accepted) override {
        window_ = static_cast<HWND>(LongToHandle(window));
        *accepted = 1;
        return S_OK;
    }
    STDMETHODIMP Reserved8(long* result) override { return *result = 0, S_OK; }
    STDMETHODIMP Command(long wParam, long, long* handled) override {
        commands_.push_back(LOWORD(wParam));
        *handled = 1;
        return S_OK;
    }
    STDMETHODIMP Help(long, long* handled) override { return *handled = 0, S_OK; }
    STDMETHODIMP Apply(VARIANT, VARIANT, long* changed, long* done) override {
        if (changed) *changed = 1;
        *done = 1;
        return S_OK;
    }
    HWND window_ = nullptr;
    std::vector<int> commands_;
};

TEST(ControlPanel, BuildsThePageWindowAndForwardsItsCommands) {
    Host::Terminal host;
    auto* page = new RecordingPage;
    co<IPaylantraControlPage> owned = co<IPaylantraControlPage>::Attach(page);
    CoString module(ModuleFileNameW(nullptr));
    EXPECT_EQ(S_OK, host.Panel().AddPage(page, module, CoString(L"TestPage")));
    ASSERT_TRUE(IsWindow(page->window_));
    EXPECT_EQ(host.Panel().Frame(), GetParent(page->window_));
    SendMessageW(page->window_, WM_COMMAND, MAKEWPARAM(700, BN_CLICKED), 0);
    EXPECT_EQ(std::vector<int>{700}, page->commands_);

    EXPECT_TRUE(FAILED(host.Panel().AddPage(page, module, CoString(L"NoSuchTemplate"))));
    EXPECT_EQ(1u, host.Panel().Pages().size());
    host.Panel().Close();
    EXPECT_FALSE(IsWindow(page->window_));
    EXPECT_EQ(1u, owned->AddRef() - 1) << "the panel let go of the page";
    owned->Release();
}

TEST(ScenarioLine, WordsQuotesAndRest) {
    Host::Line line(L"reg \"HKLM\\\\Software\\\\A B\" \"Name X\" = sz:some text ", L"f.scn", 3);
    EXPECT_EQ(L"reg", line.Word());
    EXPECT_EQ(L"HKLM\\Software\\A B", line.Word());
    EXPECT_EQ(L"Name X", line.Word());
    line.Expect(L"=");
    EXPECT_EQ(L"sz:some text", line.Rest());
    EXPECT_TRUE(line.AtEnd());
    EXPECT_THROW(line.Word(), VelmorException);
    EXPECT_EQ(L"f.scn:3", line.Where());
    Host::Line open(L"\"unclosed", L"", 1);
    EXPECT_THROW(open.Word(), VelmorException);
    Host::Line number(L"12x", L"", 1);
    EXPECT_THROW(number.Number(), VelmorException);
}

TEST(ScenarioLine, RegistryPathsAndClock) {
    std::wstring path;
    EXPECT_EQ(HKEY_LOCAL_MACHINE, Host::ParseRegistryPath(L"HKLM\\Software\\X", path));
    EXPECT_EQ(L"Software\\X", path);
    EXPECT_EQ(HKEY_CURRENT_USER, Host::ParseRegistryPath(L"HKEY_CURRENT_USER\\Y", path));
    EXPECT_EQ(HKEY_CLASSES_ROOT, Host::ParseRegistryPath(L"HKCR\\Z", path));
    EXPECT_THROW(Host::ParseRegistryPath(L"HKU\\Z", path), VelmorException);
    SYSTEMTIME st = Host::ParseClock(L"2026-12-08 23:59:58");
    EXPECT_EQ(2026, st.wYear);
    EXPECT_EQ(58, st.wSecond);
    for (const wchar_t* bad : {L"2026-13-01 00:00", L"2026-12-08 24:00", L"yesterday", L"2026-02-30 10:00"})
        EXPECT_THROW(Host::ParseClock(bad), VelmorException) << Narrow(bad);
}

class ScenarioRun : public RegistryTest {
protected:
    Host::Scenario scenario_{Host::DefaultPluginPath()};
};

TEST_F(ScenarioRun, ExpectationsFailAndUnknownCommandsAreErrors) {
    std::vector<std::wstring> out;
    scenario_.print = [&](const std::wstring& text) { out.push_back(text); };
    EXPECT_TRUE(scenario_.RunLine(L"prop A = x y"));
    EXPECT_TRUE(scenario_.RunLine(L"expect prop A = x y"));
    EXPECT_FALSE(scenario_.RunLine(L"expect prop A = other", L"s.scn", 4));
    EXPECT_EQ(L"FAIL s.scn:4: expected prop A = \"other\", found \"x y\"", out.back());
    EXPECT_FALSE(scenario_.RunLine(L"frobnicate"));
    EXPECT_FALSE(scenario_.RunLine(L"wait soon"));
    EXPECT_TRUE(scenario_.RunLine(L"   # a comment"));
    EXPECT_TRUE(scenario_.RunLine(L"reg \"HKCU\\Software\\T\" V = dword:5"));
    EXPECT_TRUE(scenario_.RunLine(L"expect reg \"HKCU\\Software\\T\" V = 5"));
    EXPECT_TRUE(scenario_.RunLine(L"reg \"HKCU\\Software\\T\" V = delete"));
    EXPECT_TRUE(scenario_.RunLine(L"expect reg \"HKCU\\Software\\T\" V = missing"));
    EXPECT_FALSE(scenario_.RunLine(L"reg \"HKCU\\Software\\T\" V = 5"));
    EXPECT_FALSE(scenario_.RunLine(L"expect install 1")) << "no install ran";
    EXPECT_EQ(L"FAIL line:0: expected install answered 1, found no install ran", out.back());
}

// Each expectation fails on a counter-example of what it states.
class ScenarioExpectations : public ScenarioRun {
protected:
    void SetUp() override { scenario_.print = [&](const std::wstring& text) { out_.push_back(text); }; }
    void TearDown() override { Host::Boxes::All().clear(); }
    bool Run(const std::wstring& line) { return scenario_.RunLine(line, L"t.scn", 1); }
    // A log folder with one day's file of these records, as the plugin writes them.
    void WriteLog(const std::vector<std::string>& records) {
        RegKey(HKEY_LOCAL_MACHINE, L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark", true, kRegWriteAccess)[L"LogPath"] =
            Widen(folder_.Path()) + L"\\Tallymark *.txt";
        std::string bytes;
        for (const std::string& record : records) bytes += record + "\r\n";
        WriteBytes(folder_.Path() + "\\Tallymark (2026-05-17).txt", Narrow(Widen(bytes, CP_UTF8), 1251));
    }
    void RaiseFromPlugin(const wchar_t* name) { scenario_.Host().Environment().Event(CoString(name)); }
    std::vector<std::wstring> out_;
    TempFolder folder_;
};

TEST_F(ScenarioExpectations, LogMatchesTheCodeFieldAndTextWithinThatRecord) {
    EXPECT_FALSE(Run(L"expect log LOG.OPEN")) << "no LogPath is a failure, not an empty log";
    WriteLog({"10:00:00.000\t1\tLOG.OPEN\t;лог открыт",
              "10:00:01.000\t6\tCASH.ACCEPT\t;принята купюра 100 RUB (всего в стекере купюр 2 шт.: RUB¤200)",
              "10:00:02.000\t7\tCASH.DONE\t;приём купюр завершён, всего было принято купюр: 1 шт. (RUB¤100)"});
    EXPECT_FALSE(Run(L"expect log LOG")) << "a code matches whole";
    EXPECT_FALSE(Run(L"expect log OPEN"));
    EXPECT_FALSE(Run(L"expect log CASH.DONE 2 шт.")) << "the text of another record";
    EXPECT_FALSE(Run(L"expect log CASH.ACCEPT CASH")) << "the text lies in the description, not the code";
    EXPECT_FALSE(Run(L"expect log 6"));
    EXPECT_TRUE(Run(L"expect log CASH.DONE всего было принято купюр: 1 шт."));
    EXPECT_TRUE(Run(L"expect log CASH.DONE (RUB¤100)")) << "a record may be expected again";
    EXPECT_TRUE(Run(L"expect log LOG.OPEN"));
    EXPECT_EQ(L"ok   log record LOG.OPEN", out_.back());
}

TEST_F(ScenarioExpectations, NoLogFailsOnAnyRecordOfThatCodeAndText) {
    WriteLog({"10:00:00.000\t1\tLOG.OPEN\t;лог открыт", "10:00:02.000\t7\tCASH.DONE\t;купюр принято не было",
              "10:00:03.000\t2\tLOG.CLOSE"});
    EXPECT_FALSE(Run(L"expect no-log CASH.DONE"));
    EXPECT_FALSE(Run(L"expect no-log CASH.DONE не было"));
    EXPECT_FALSE(Run(L"expect no-log LOG.CLOSE")) << "a record without a description";
    EXPECT_TRUE(Run(L"expect no-log CASH.DONE всего было"));
    EXPECT_TRUE(Run(L"expect no-log CASH.CANCEL"));
    EXPECT_TRUE(Run(L"expect no-log CASH"));
    EXPECT_TRUE(Run(L"expect log CASH.DONE"));
    EXPECT_FALSE(Run(L"expect no-log CASH.DONE")) << "an expected record is still there";
}

TEST_F(ScenarioExpectations, EventsMatchTheWholeNameThePluginRaised) {
    EXPECT_TRUE(Run(L"event Tallymark.Collect.Request"));
    EXPECT_FALSE(Run(L"expect event Tallymark.Collect.Request")) << "the host raised it, not the plugin";
    EXPECT_TRUE(Run(L"expect no-event Tallymark.Collect.Request"));
    RaiseFromPlugin(L"Tallymark.Collect.Request");
    EXPECT_FALSE(Run(L"expect no-event Tallymark.Collect.Request"));
    EXPECT_FALSE(Run(L"expect event Tallymark.Collect")) << "a part of the name";
    EXPECT_FALSE(Run(L"expect event Collect.Request"));
    EXPECT_TRUE(Run(L"expect event Tallymark.Collect.Request"));
    EXPECT_TRUE(Run(L"expect event tallymark.collect.request")) << "names compare without regard to case";
    EXPECT_FALSE(Run(L"expect no-event TALLYMARK.COLLECT.REQUEST"));
    EXPECT_FALSE(Run(L"expect event"));
}

TEST_F(ScenarioExpectations, NoBoxCountsTheBoxesNoExpectationMatched) {
    EXPECT_TRUE(Run(L"expect no-box"));
    Host::Boxes::All().push_back({L"Tallymark", L"Terminal event Poll", MB_OK});
    Host::Boxes::All().push_back({L"Tallymark", L"Terminal event Poll", MB_OK});
    EXPECT_FALSE(Run(L"expect no-box"));
    EXPECT_TRUE(Run(L"expect box Terminal event Poll"));
    EXPECT_FALSE(Run(L"expect no-box")) << "one of two matched";
    EXPECT_TRUE(Run(L"expect box Tallymark: Terminal event"));
    EXPECT_FALSE(Run(L"expect box Terminal event Poll"));
    EXPECT_TRUE(Run(L"expect no-box"));
}

TEST_F(ScenarioExpectations, KeywordsOutsideTheirChoicesFailTheLine) {
    for (const wchar_t* bad : {L"expect failure Printer of", L"expect failure Printer", L"flag of", L"flag",
                               L"failure Printer 1", L"stacker out", L"dump everything", L"session begin",
                               L"control shut", L"clock 2026-05-17 10:00 frozen", L"wait tick 0",
                               L"fail Session.GetProperty 1", L"fail Sesion.GetProperty", L"fail Session.getproperty"}) {
        EXPECT_FALSE(Run(bad)) << Narrow(bad);
        EXPECT_EQ(0u, out_.back().rfind(L"FAIL t.scn:1: ", 0)) << Narrow(out_.back());
    }
    EXPECT_TRUE(Run(L"fail Session.GetProperty"));
    EXPECT_TRUE(Run(L"fail Session.GetProperty off"));
    EXPECT_TRUE(Run(L"expect failure Printer OFF"));
    EXPECT_FALSE(Run(L"expect failure Printer on"));
    EXPECT_TRUE(Run(L"flag On"));
    EXPECT_EQ(1, scenario_.Host().FlagsObject().value);
    EXPECT_TRUE(Run(L"flag off"));
    EXPECT_EQ(0, scenario_.Host().FlagsObject().value);
}

TEST_F(ScenarioExpectations, IncludedFilesLieBesideTheirIncluderAndTheirFailuresFailTheLine) {
    CreatePath(folder_.Path() + "\\parts");
    WriteBytes(folder_.Path() + "\\main.scn", "include parts\\set.scn\r\nexpect prop B = 1\r\n");
    WriteBytes(folder_.Path() + "\\parts\\set.scn", "prop B = 1\r\n");
    EXPECT_TRUE(scenario_.RunFile(Widen(folder_.Path() + "\\main.scn")));
    WriteBytes(folder_.Path() + "\\parts\\set.scn", "prop B = 2\r\n");
    EXPECT_FALSE(scenario_.RunFile(Widen(folder_.Path() + "\\main.scn")));
    WriteBytes(folder_.Path() + "\\parts\\set.scn", "expect prop B = 1\r\n");
    EXPECT_FALSE(scenario_.RunFile(Widen(folder_.Path() + "\\main.scn"))) << "an included expectation that failed";
    WriteBytes(folder_.Path() + "\\self.scn", "include self.scn\r\n");
    EXPECT_FALSE(scenario_.RunFile(Widen(folder_.Path() + "\\self.scn"))) << "ends, and fails";
    EXPECT_FALSE(Run(L"include " + Widen(folder_.Path()) + L"\\nosuch.scn"));
}

TEST_F(ScenarioExpectations, PrintShowsTheTextAndOnlyTheTemplateErrorsOfThatRequest) {
    std::string templates = folder_.Path() + "\\templates";
    CreatePath(templates);
    EXPECT_FALSE(Run(L"templates " + Widen(templates))) << "a folder without templates";
    WriteBytes(templates + "\\sum.TXT", "\xEF\xBB\xBF" + Narrow(L"Сумма %(x) %(nosuch)руб.", CP_UTF8));
    ASSERT_TRUE(Run(L"templates " + Widen(templates)));
    std::wstring log = Widen(folder_.Path()) + L"\\errors.txt";
    ASSERT_TRUE(Run(L"reg HKCU\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug\\Macro DebugLog = sz:" + log));
    std::vector<std::wstring> shown, warned;
    scenario_.show = [&](const std::wstring& text) { shown.push_back(text); };
    scenario_.warn = [&](const std::wstring& text) { warned.push_back(text); };
    EXPECT_FALSE(Run(L"expect printed Сумма")) << "nothing printed yet";
    ASSERT_TRUE(Run(L"start"));
    ASSERT_TRUE(Run(L"print sum x=5"));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], L"---- sum");
    EXPECT_EQ(shown[1], L"Сумма 5 руб.");
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_NE(warned[0].find(L"Ошибка шаблона текста, источник \"sum\": Имя не определено: nosuch."), std::wstring::npos);
    EXPECT_TRUE(Run(L"expect printed Сумма 5 руб."));
    EXPECT_FALSE(Run(L"expect printed Сумма 6"));
    EXPECT_TRUE(Run(L"print sum x=6"));
    EXPECT_EQ(warned.size(), 2u) << "the earlier record is not shown again";
    EXPECT_FALSE(Run(L"print sum x")) << "a parameter without its value";
    ASSERT_TRUE(Run(L"print nosuch"));
    ASSERT_EQ(warned.size(), 3u) << "a template that cannot be loaded";
    EXPECT_EQ(warned.back().rfind(L"Ошибка: Не удалось загрузить шаблон \"nosuch\"", 0), 0u) << Narrow(warned.back());
    ASSERT_TRUE(Run(L"print sum x=7"));
    EXPECT_EQ(warned.size(), 4u) << "the failure of the request before is not shown again";
    EXPECT_TRUE(Run(L"exit"));
    EXPECT_TRUE(Run(L"print sum x=8"));
    EXPECT_FALSE(Run(L"expect printed Сумма")) << "no plugin answered: the text before is gone";
}

TEST_F(ScenarioExpectations, DumpedMailsReadAsTheyWereWritten) {
    scenario_.Host().outboxFolder = Widen(folder_.Path());
    scenario_.Host().Environment().PutProperty(L"Email.Text", L"Изъято купюр: 6 шт.");
    RaiseFromPlugin(L"Email.SendMail");
    ASSERT_TRUE(Run(L"dump mails"));
    EXPECT_NE(std::find(out_.begin(), out_.end(), L"    Изъято купюр: 6 шт."), out_.end());
}

TEST(ScenarioLog, RecordFields) {
    Host::LogRecord full = Host::ParseLogRecord(L"10:00:00.000\t7\tCASH.DONE\t;a\tb");
    EXPECT_EQ(L"CASH.DONE", full.code);
    EXPECT_EQ(L"a\tb", full.description);
    Host::LogRecord bare = Host::ParseLogRecord(L"10:00:00.000\t2\tLOG.CLOSE");
    EXPECT_EQ(L"LOG.CLOSE", bare.code);
    EXPECT_EQ(L"", bare.description);
    EXPECT_EQ(L"", Host::ParseLogRecord(L"LOG.OPEN лог открыт").code);
}

int g_timerCalls = 0;
void CALLBACK CountTimerCall(HWND, UINT, UINT_PTR, DWORD) { ++g_timerCalls; }

TEST(ScenarioWait, TicksAreThreadTimerMessagesHandled) {
    EXPECT_EQ(0, Host::PumpTimerTicks(1, 20));
    UINT_PTR timer = SetTimer(nullptr, 0, 10, &CountTimerCall);
    ASSERT_NE(0u, timer);
    int ticks = Host::PumpTimerTicks(3, 60000);
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(ticks, g_timerCalls) << "each counted tick reached the timer's procedure";
    KillTimer(nullptr, timer);
}

TEST(ScenarioClock, HeldClockStandsStill) {
    SYSTEMTIME start = Host::ParseClock(L"2026-12-08 23:59:58");
    Host::Clock::Set(start, true);
    Host::Clock::Advance(1500);
    SYSTEMTIME first = Host::Clock::Local();
    EXPECT_EQ(59, first.wSecond);
    EXPECT_EQ(500, first.wMilliseconds);
    Host::PumpMessages(20);
    SYSTEMTIME second = Host::Clock::Local();
    EXPECT_EQ(0, memcmp(&first, &second, sizeof(first)));
    Host::Clock::Clear();
}

// The developers' guide's tables of the scenario language are the ones the simulator's help is made from.
TEST(ScenarioHelp, GuideTablesAreTheRegistrys) {
    std::ifstream in(TALLY_DEVELOPERS_GUIDE, std::ios::binary);
    ASSERT_TRUE(in) << TALLY_DEVELOPERS_GUIDE;
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::wstring guide = Widen(bytes.str(), CP_UTF8);
    guide.erase(std::remove(guide.begin(), guide.end(), L'\r'), guide.end());
    std::wstring tables = Host::MarkdownTables();
    EXPECT_NE(std::wstring::npos, guide.find(tables))
        << "docs/DEVELOPERS.md's simulator tables differ from the registry; the registry's (TallySim --help --markdown):\n"
        << Narrow(tables, CP_UTF8);
    for (const Host::CommandTable* table : {&Host::Commands(), &Host::Expectations()})
        for (const Host::Command& command : table->All()) {
            EXPECT_FALSE(command.effect.empty()) << Narrow(command.usage);
            EXPECT_NE(std::wstring::npos, Host::HelpText().find(command.usage)) << Narrow(command.usage);
        }
}

}  // namespace
