#include "MacroProc/MacroProc.h"
#include "Framework/Registry.h"
#include "PLLib/PLLib.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Terminal/JobErrors.h"
#include "tests/RegistryFixture.h"
#include "tests/TestFiles.h"
#include <cstdint>
#include <thread>

using MacroProc::Processor;

namespace {

struct Outcome {
    std::wstring text;
    std::vector<std::wstring> errors;  // reasons, in report order
};

const std::string kRecordIntro = Narrow1251(L"Ошибка шаблона текста, источник \"test\": ");

using Defs = std::vector<std::pair<std::wstring, std::wstring>>;

// A sink that keeps the reason of each error as its template error log record gives it, then hands
// the error to `then` (none: the error is handled).
MacroProc::ErrorSink Observe(std::vector<std::wstring>& errors, MacroProc::ErrorSink then = nullptr) {
    return [&errors, then](const stringW& source, const MacroProc::Error& error) {
        const std::string record = TemplateErrorRecord(source, error.ReasonW());
        EXPECT_EQ(record.compare(0, kRecordIntro.size(), kRecordIntro), 0) << record;
        EXPECT_EQ(record.back(), '.');
        errors.push_back(Widen1251(record.substr(kRecordIntro.size(), record.size() - kRecordIntro.size() - 1)));
        return then ? then(source, error) : true;
    };
}

Outcome Render(const std::wstring& text, const Defs& defs = {}, bool drop = false) {
    Outcome o;
    Processor p(L"test", Observe(o.errors));
    p.dropUndefinedEscapes = drop;
    for (const auto& [name, value] : defs) p.Define(name, value);
    o.text = p.Process(text);
    return o;
}

struct Case {
    const wchar_t* input;
    const wchar_t* expected;
    std::vector<std::wstring> errors;
};

void Check(const std::vector<Case>& cases, const Defs& defs = {}) {
    for (const Case& c : cases) {
        Outcome o = Render(c.input, defs);
        EXPECT_EQ(o.text, c.expected) << "template: " << Narrow(c.input, CP_UTF8);
        EXPECT_EQ(o.errors, c.errors) << "template: " << Narrow(c.input, CP_UTF8);
    }
}

const std::wstring kUndefined = L"Имя не определено: ";
const std::wstring kIllegal = L"Недопустимое имя: ";
const std::wstring kEmptyName = L"Пустое имя не допускается";
std::wstring Expected(const wchar_t* e) { return L"Ожидается синтаксический элемент \"" + std::wstring(e) + L"\""; }
std::wstring Unexpected(const wchar_t* e) {
    return L"Неожиданное использование синтаксического элемента \"" + std::wstring(e) + L"\"";
}

}  // namespace

TEST(MacroText, EscapesAndPlainText) {
    Check({
        {L"", L"", {}},
        {L"plain text, no escapes", L"plain text, no escapes", {}},
        {L"100%", L"100%", {}},
        {L"a%%b", L"a%b", {}},
        {L"%q", L"%q", {}},
        {L"%t|%d", L"T|", {}},  // a defined empty value replaces the escape
        {L"x%)y", L"x", {Unexpected(L"%)")}},
        {L"x%}y", L"x", {Unexpected(L"%}")}},
    }, {{L"t", L"T"}, {L"d", L""}});
    EXPECT_EQ(Render(L"%q%t", {{L"t", L"T"}}, true).text, L"T");
}

TEST(MacroText, EmbeddedZeroCharactersAreOrdinaryText) {
    std::wstring text(L"a\0b%(x)\0", 8);
    EXPECT_EQ(Render(text, {{L"x", L"X"}}).text, std::wstring(L"a\0bX\0", 5));
}

TEST(MacroNames, ReferencesAndComputedNames) {
    Check({
        {L"%(undef)", L"", {kUndefined + L"undef"}},
        {L"%(X)", L"1", {}},
        {L"%(bill%(n))", L"five", {}},
        {L"%(Имя_1.$#@)", L"кир", {}},
        {L"%(ёЁ)", L"ё", {}},
        {L"%(:x)", L"1", {}},
        {L"%(:x)rest", L"1rest", {}},
        {L"%()", L"", {kEmptyName}},
        {L"%(1a)", L"", {kIllegal + L"1a"}},
        {L"%(a-b)", L"", {kIllegal + L"a-b"}},
        {L"%(a b)", L"", {kIllegal + L"a b"}},
        // The enclosing name shows the raw source of its illegal part.
        {L"%(a%(1b)c)", L"", {kIllegal + L"1b", kIllegal + L"a%(1b)c"}},
        {L"%(ab%", L"", {Expected(L")")}},
        {L"%(a%{b)c", L"b)c", {Unexpected(L"%{")}},
        {L"%(a%}", L"", {kUndefined + L"a", Unexpected(L"%}")}},  // "%}" ends the name; at the top it is stray
        {L"%(nosuch:a)z", L"z", {L"Неизвестный префикс имени: \"nosuch:\""}},
        {L"%(nosuch:a%(x))z", L"z", {L"Неизвестный префикс имени: \"nosuch:\""}},
    }, {{L"x", L"1"}, {L"n", L"5"}, {L"bill5", L"five"}, {L"Имя_1.$#@", L"кир"}, {L"ёё", L"ё"}});
}

TEST(MacroNames, ZeroCharactersInNamesAreComparedToo) {
    const std::wstring tail(L"\0b", 2);
    Outcome o = Render(L"%(:a%(z))|%{ifdef(a%(z)):defined%}", {{L"a", L"1"}, {L"z", tail}});
    EXPECT_EQ(o.text, L"|");
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0].rfind(kUndefined + L"a", 0), 0u);
    // Names that differ only after a zero are different variables.
    Processor p(L"test", nullptr);
    p.Define(L"a", L"1");
    p.Define(L"a" + tail, L"2");
    p.Define(L"z", tail);
    EXPECT_EQ(p.Process(L"%(a)%(:a%(z))%{for(n=a*):;%}"), L"12;;");
}

TEST(MacroNames, WildcardMatching) {
    struct { const wchar_t* pattern; const wchar_t* text; bool match; } cases[] = {
        {L"*", L"", true},          {L"*", L"abc", true},       {L"", L"", true},
        {L"", L"a", false},         {L"a?c", L"ABC", true},     {L"a?c", L"ac", false},
        {L"x*", L"x1", true},       {L"x*", L"y1", false},      {L"*1", L"x1", true},
        {L"a*b*c", L"aXbYc", true}, {L"a*b*c", L"abc", true},   {L"a*b*c", L"acb", false},
        {L"ab*ba", L"aba", false},  {L"*ab*", L"xxaby", true},  {L"Счёт*", L"СЧЁТ1", true},
        {L"a**b", L"ab", true},     {L"*?", L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Processor::MatchWildcard(c.pattern, c.text), c.match)
            << Narrow(c.pattern, CP_UTF8) << " ~ " << Narrow(c.text, CP_UTF8);
}

TEST(MacroBlocks, ConditionsCommentsAndPassThrough) {
    Check({
        {L"%{if(%(x)):yes%}", L"yes", {}},
        {L"%{if(%(e)):yes%}", L"", {}},
        {L"%{IF(%(x)):yes%}", L"yes", {}},
        {L"%{ifn(%(e)):yes%}", L"yes", {}},
        {L"%{if(x):yes%}", L"yes", {}},
        {L"%{ifdef(x):yes%}%{ifdef(nope):no%}", L"yes", {}},
        {L"%{ifndef(nope):yes%}", L"yes", {}},
        {L"%{ifzero(0.0):z%}%{ifzero(abc):a%}%{ifnzero(abc):b%}%{ifzero():c%}%{ifnzero(-2,5):n%}", L"zn", {}},
        {L"%{ifdef(nosuch:a):y%}", L"", {}},
        {L"%{ if ( %(x) ) :yes%}", L"yes", {}},
        {L"%{if('a b'):q%}", L"q", {}},
        {L"%{:plain%}", L"plain", {}},
        {L"%{comment: %(undefined) %(1x) %)%{if(%(u)):%(v)%} %}after", L"after", {}},
        {L"%{comment:%{if(:%}%}after", L"", {}},  // the value swallows the inner "%}" while skipping
        {L"%{rem: 'quotes mean nothing in a body %}after", L"after", {}},
        {L"%{rem:%{if('abc):x%}%}after", L"", {}},  // a header quote runs to the end while skipping
        {L"%{xyz(1):A%(n)B%}", L"%{xyz(1):A5B%}", {}},
        {L"%{if(1):outer%{ifn(1):inner%(undefined)%}%}", L"outer", {}},
        {L"%{ifn(1):%{if(1):x%}%}y", L"y", {}},  // a nested block inside skip mode stays silent
    }, {{L"x", L"1"}, {L"e", L""}, {L"n", L"5"}});
}

TEST(MacroBlocks, DefineScopesAndLoops) {
    Check({
        {L"%{define(a=1 b=2):%(a)%(b)%}%(a)", L"12", {kUndefined + L"a"}},
        {L"%{define(:g=1):%}%(g)", L"1", {}},
        {L"%{define(g=1):%}%(g)", L"", {kUndefined + L"g"}},
        {L"%{define(a=1):%{define(a=2):%(a)%}%(a)%}", L"21", {}},
        {L"%{define(a=1 a=2):%(a)%}", L"2", {}},
        {L"%{define(q='x y' r):[%(q)][%(r)]%}", L"[x y][]", {}},
        {L"%{define(a=1, b=2):%(a)%}", L"1,", {}},
        {L"%{for(n=x*):[%(n)]%}", L"[x1][x2]", {}},
        {L"%{for(n=:x*):[%(n)]%}", L"[:x1][:x2]", {}},
        {L"%{for(n=x*):%(n)=%(:%(n));%}", L"x1=a;x2=b;", {}},
        {L"%{for(n=x*):%}%(n)", L"x2", {}},  // the loop variable keeps the last name
        {L"%{for:x%}%{for():x%}%{for(n=zz*):x%}", L"", {}},
        // A ":" definition inside a loop and inside nested defines survives them all.
        {L"%{define(a=0):%{for(n=x*):%{define(:last=%(n)):%}%}%}%(last)", L"x2", {}},
        // ... and replaces the value in every scope, shadowing ones included.
        {L"%{define(a=1):%{define(b=2):%{define(:a=3):%}%(a)%(b)%}%(a)%}%(a)", L"3233", {}},
        {L"%{define(x1=s):%{define(:x1=g):%}%{define(x1=i):%(x1)%}%(x1)%}%(x1)", L"igg", {}},
        // What a scope bound vanishes with it: from lookups, tests and lists alike.
        {L"%{define(q=0):%{for(n=x*):%}%(n)%}|%(n)", L"x2|", {kUndefined + L"n"}},
        {L"%{define(x3=1 y=2):%}%{ifdef(x3):x3%}%{for(n=x*):[%(n)]%}%(y)", L"[x1][x2]c", {}},
    }, {{L"x1", L"a"}, {L"x2", L"b"}, {L"y", L"c"}});
}

TEST(MacroBlocks, HeaderAndBodyErrorsAreRecovered) {
    Check({
        {L"%{if(1):abc", L"", {Expected(L"%}")}},
        {L"a%{if(1):abc%", L"a", {Expected(L"}")}},  // the final "%" belongs to the dropped block
        {L"%{:a%)b%}", L"ab", {Unexpected(L"%)")}},
        {L"%{if 1:x%}y", L"y", {Expected(L"(")}},
        {L"%{if(1 2):x%}y", L"y", {Expected(L")"), Unexpected(L")")}},
        {L"%{if(1)x:y%}z", L"yz", {Expected(L":")}},  // header skipped to its colon, body kept
        {L"%{1bad:x%}y", L"y", {kIllegal + L"1bad"}},
        {L"%{define(1a=2 b=3):%(b)%}", L"3", {kIllegal + L"1a"}},
        {L"%{define(=2 b=3):%(b)%}", L"3", {kEmptyName, kIllegal + L"2"}},
        {L"%{if(%(undefined)):x%}y", L"y", {kUndefined + L"undefined"}},
        {L"%{if(%{x%}):x%}y", L"):x", {Unexpected(L"%{"), Unexpected(L"%}")}},
        {L"%{if('abc):x%}", L"", {Expected(L"'"), Unexpected(L")")}},
        {L"%{:%{if(1):x%)y%}z%}", L"xyz", {Unexpected(L"%)")}},
        {L"%{:%(a%(1b))%}ok", L"ok", {kIllegal + L"1b", kIllegal + L"a%(1b)"}},
        // A text that ends inside nested constructs is reported once, by the innermost.
        {L"x%{:a%{if(1):b%", L"x", {Expected(L"}")}},
        {L"x%{:a%{:b%{for(n=*):c", L"x", {Expected(L"%}")}},
        {L"x%(a%(b", L"x", {Expected(L")")}},
        {L"x%{:a%{xyz(b", L"x", {Expected(L")")}},
    }, {{L"v", L"1"}});
}

TEST(MacroField, Options) {
    const std::wstring dec = [] {
        wchar_t sep[8] = {};
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, 8);
        return std::wstring(sep);
    }();
    Check({
        {L"%{field:  a %}", L"  a ", {}},
        {L"%{field(prec=2 sep=.): 7 %}", L" 7.00 ", {}},
        {L"%{field(prec=2):abc%}", L"abc", {}},
        {L"%{field(width=6 align=right):ab%}", L"    ab", {}},
        {L"%{field(width=6):ab%}", L"ab    ", {}},
        {L"%{field(prec=2 sep=. width=8 align=right):%(x)%}", L"   12.50", {}},
        {L"%{field(prec=0 sep=.):-2.6%}", L"-3", {}},
        {L"%{field(maxlen=5):abcdefgh%}", L"ab…gh", {}},
        {L"%{field(maxlen=6):abcdefgh%}", L"abc…gh", {}},
        {L"%{field(maxlen=6 align=right):abcdefgh%}", L"ab…fgh", {}},
        {L"%{field(maxlen=1):abc%}", L"…", {}},
        {L"%{field(maxlen=0):abc%}", L"", {}},
        {L"%{field(maxlen=5):abc%}", L"abc", {}},
        {L"%{field(maxlen=3 width=10):abcdef%}", L"a…f", {}},
        {L"%{field(maxlen=4):  ab  %}", L"  ab", {}},
        {L"%{field(maxlen=4 align=left):  ab  %}", L"ab", {}},
        {L"%{field(align=left):  a %}", L"a   ", {}},
        {L"%{field(align=right):  a %}", L"   a", {}},
        {L"%{field(trim): a %}", L"a", {}},
        {L"%{field(trim=left): a %}", L"a ", {}},
        {L"%{field(trim=right align=left): a %}", L" a", {}},
        {L"%{field(case=capital):hELLO wORLD%}", L"Hello world", {}},
        {L"%{field(case=upper):привет ё%}", L"ПРИВЕТ Ё", {}},
        {L"%{field(fold):   %}", L"", {}},
        {L"%{field(fold): x %}", L" x ", {}},
        {L"%{field(maxlen=-1 width=4):ab%}", L"ab  ", {}},
        {L"%{field(width=abc):ab%}", L"ab", {}},
        {L"%{field(width=3,5):ab%}", L"ab ", {}},
        {L"%{field(width=1e300):ab%}x", L"abx", {}},  // not a number the option reader takes
    }, {{L"x", L"12.5"}});
    EXPECT_EQ(Render(L"%{field(prec=2):1234.5%}").text, L"1234" + dec + L"50");
    // The number formatting takes separators of up to three characters; a longer one is refused.
    EXPECT_EQ(Render(L"%{field(sep=abc prec=2):1.5%}").text, L"1abc50");
    EXPECT_EQ(Render(L"%{field(sep=abcd prec=2): 1.5%}").text, L" 1.5");
    EXPECT_EQ(Render(L"%{field(sep=abcd prec=2 width=5):1.5%}").text, L"1.5  ");
    // Absurd widths are bounded, not allocated.
    EXPECT_EQ(Render(L"%{field(width=99999999999):ab%}").text.size(), 1000000u);
}

TEST(MacroInternal, MisuseOfTheScannerIsAnInternalError) {
    Processor p(L"test", nullptr);
    auto reason = [](auto call) -> std::string {
        try {
            call();
        } catch (const InternalError& e) {
            return e.Reason();
        }
        return "no error";
    };
    std::wstring text = L"abc";
    MacroProc::Pos pos = text.data();
    stringW out;
    bool valid = true;
    EXPECT_EQ(reason([&] { p.OpenContext(7); }), "Unknown scan context type: 7");
    EXPECT_EQ(reason([&] { p.ScanEscape(pos, out); }), "Illegal use of ScanEscape: ");  // no text is open
    EXPECT_EQ(reason([&] { p.ScanName(pos, out, valid, nullptr); }), "Illegal use of ScanName: ");
    EXPECT_EQ(reason([&] { p.ScanValue(pos, nullptr); }), "Illegal use of ScanValue: ");
    EXPECT_TRUE(p.contexts.empty());
}

// ---- error settings through the registry and the template error log ----

class MacroSettings : public RegistryTest {
protected:
    RegKey Key() { return RegKey(HKEY_CURRENT_USER, Plugin::kDebugMacroKey, true, kRegWriteAccess); }
    Outcome Run(const std::wstring& text) {
        Plugin::TemplateErrors settings;
        Outcome o;
        Processor p(L"test", Observe(o.errors, settings.Sink()));
        o.text = p.Process(text);
        return o;
    }
};

TEST_F(MacroSettings, DebugLogRecordsEachErrorWithTheSourceName) {
    TempFolder folder;
    Key()[L"DebugLog"] = Widen(folder.Path()) + L"\\macro*.log";
    {
        Plugin::TemplateErrors settings;
        Processor p(L"receipt", settings.Sink());
        EXPECT_EQ(p.Process(L"a%(x)b%()c"), L"abc");
    }
    std::string path = DatedLogPath(folder.Path() + "\\macro*.log", RealTime::Now());
    std::vector<std::string> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 2u) << path;
    EXPECT_NE(lines[0].find(Narrow(L"Ошибка шаблона текста, источник \"receipt\": Имя не определено: x.")),
              std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(Narrow(L"источник \"receipt\": Пустое имя не допускается.")), std::string::npos);
}

TEST_F(MacroSettings, RethrowSendsErrorsToTheCallerExceptNameFaults) {
    Key()[L"Rethrow Errors"] = DWORD(1);
    // Name faults are reported and replaced even with rethrow on.
    Outcome o = Run(L"a%(x)%(nosuch:y)b");
    EXPECT_EQ(o.text, L"ab");
    EXPECT_EQ(o.errors.size(), 2u);

    std::vector<std::wstring> errors;
    struct { const wchar_t* text; size_t reports; } cases[] = {
        {L"a%)b", 2},              // top context, then Process
        {L"%{:x%)%}", 4},          // body, sub-context, top, Process
        {L"%(1a)", 3},             // sub-context, top, Process
        {L"%{if(1):never ends", 3},
    };
    for (const auto& c : cases) {
        Plugin::TemplateErrors settings;
        Processor p(L"test", Observe(errors, settings.Sink()));
        errors.clear();
        EXPECT_THROW(p.Process(c.text), MacroProc::Error) << Narrow(c.text);
        EXPECT_EQ(errors.size(), c.reports) << Narrow(c.text);
        EXPECT_TRUE(p.contexts.empty());
        EXPECT_FALSE(p.skipping);
    }
}

TEST_F(MacroSettings, NoRethrowWhenTheSettingIsZero) {
    Key()[L"Rethrow Errors"] = DWORD(0);
    EXPECT_EQ(Run(L"a%)b").text, L"a");
}

// ---- handlers ----

namespace {
// Names "h:<anything>" whose value is the name upper-cased; reads the rest like a property name.
class EchoHandler : public MacroProc::NameHandler {
public:
    std::vector<keystringW> ListNames(Processor&, const keystringW&, const stringW& pattern) override {
        std::vector<keystringW> out;
        for (const wchar_t* n : {L"b", L"a", L"c"})
            if (Processor::MatchWildcard(pattern, n)) out.push_back(n);
        return out;
    }
    void SetValue(Processor&, const keystringW&, const stringW& name, const stringW& value) override {
        set += name + L"=" + value + L";";
    }
    bool IsDefined(Processor&, const keystringW&, const stringW& name) override { return name == L"known"; }
    stringW ReadName(Processor& p, const keystringW&, MacroProc::Pos& pos) override {
        stringW rest;
        while (!p.AtEnd(pos) && *pos != L')') rest += *pos++;
        if (!p.AtEnd(pos)) ++pos;
        return rest;
    }
    stringW GetValue(Processor&, const keystringW& prefix, const stringW& name, bool) override {
        if (name == L"boom") throw MacroProc::UndefinedName(L"h:boom");
        return prefix.str() + L"[" + name + L"]";
    }
    std::wstring set;
};
}  // namespace

TEST(MacroHandlers, PrefixesReachTheirHandlers) {
    std::vector<std::wstring> errors;
    Processor p(L"test", Observe(errors));
    auto h = std::make_shared<EchoHandler>();
    p.AddHandler(L"h:", h);
    p.AddHandler(L"g:", h);
    p.Define(L"x", L"1");
    EXPECT_EQ(p.Process(L"%(H:Some Name (1)%{if(%(x)):1%}%(g:a)|%{ifdef(h:known):k%}%{ifdef(h:other):o%}"
                        L"|%{for(n=?:*):%(n),%}|%{define(h:v=2):%}%(h:boom)"),
              L"H:[Some Name (1]1g:[a]|k|g:a,g:b,g:c,h:a,h:b,h:c,|");
    EXPECT_EQ(h->set, L"v=2;");
    EXPECT_EQ(errors, std::vector<std::wstring>{kUndefined + L"h:boom"});
}

TEST(MacroHandlers, OtherExceptionsOfHandlersLeaveProcess) {
    struct Throwing : EchoHandler {
        stringW GetValue(Processor&, const keystringW&, const stringW&, bool) override { throw std::runtime_error("x"); }
    };
    Processor p(L"test", nullptr);
    p.AddHandler(L"t:", std::make_shared<Throwing>());
    EXPECT_THROW(p.Process(L"%{if(1):%{define(a=1):%(t:x)%}%}"), std::runtime_error);
    EXPECT_TRUE(p.contexts.empty());
    EXPECT_EQ(p.ScopeDepth(), 1u);
    EXPECT_FALSE(p.skipping);
}

// ---- robustness: every template ends, nothing reads out of bounds or overflows the stack ----

namespace {

// Runs the body on a thread with the system's default 1 MB stack, as the host's threads have.
template <class F>
void OnSmallStack(F body) {
    struct Call {
        static DWORD WINAPI Run(void* f) {
            (*static_cast<F*>(f))();
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, 1 << 20, &Call::Run, &body, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

const std::wstring kNesting = L"Превышена допустимая глубина вложенности синтаксических элементов (256)";

}  // namespace

TEST(MacroRobustness, DeepNestingIsReportedOnceNotOverflowed) {
    OnSmallStack([] {
        for (const wchar_t* open : {L"%{:", L"%(", L"%{if(x):", L"%{comment:%{:", L"%(a%(:"}) {
            std::wstring text;
            for (int i = 0; i < 100000; ++i) text += open;
            Outcome o = Render(L"before" + text);
            EXPECT_EQ(o.text, L"");
            EXPECT_EQ(o.errors, std::vector<std::wstring>{kNesting}) << Narrow(open);
        }
        // "%{" cannot start a keyword: each is a header fault, and the scan stays linear.
        std::wstring blocks;
        for (int i = 0; i < 100000; ++i) blocks += L"%{";
        Outcome o = Render(L"before" + blocks);
        EXPECT_EQ(o.text, L"before");
        EXPECT_EQ(o.errors, std::vector<std::wstring>{Unexpected(L"%{")});
        // Just inside the limit works.
        std::wstring text = L"%{define(a=1):";
        std::wstring close = L"%}";
        for (size_t i = 0; i < MacroProc::kMaxNesting - 3; ++i) text = L"%{:" + text, close += L"%}";
        EXPECT_EQ(Render(text + L"%(a)" + close).text, L"1");
        // ":" delegations nest through the handlers instead of contexts.
        o = Render(L"%(" + std::wstring(100000, L':') + L"x)", {{L"x", L"1"}});
        EXPECT_EQ(o.errors, std::vector<std::wstring>{kNesting});
    });
}

TEST(MacroRobustness, RunawayLoopsAreStopped) {
    Defs defs;
    for (int i = 0; i < 200; ++i) defs.emplace_back(L"v" + std::to_wstring(i), L"");
    Outcome o = Render(L"%{for(a=v*):%{for(b=v*):%{for(c=v*):%}%}%}", defs);
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.errors[0].rfind(L"Превышено допустимое число повторений", 0), 0u);
}

TEST(MacroRobustness, TextBeyondTheLimitIsStopped) {
    const std::wstring text = L"Превышен допустимый объём текста шаблона (16777216 знаков)";
    auto repeat = [](const std::wstring& piece, size_t times) {
        std::wstring out;
        for (size_t i = 0; i < times; ++i) out += piece;
        return out;
    };
    Defs defs{{L"w", std::wstring(1000, L'n')}, {std::wstring(4000, L'n'), L""}};
    for (int i = 0; i < 1000; ++i) defs.emplace_back(L"v" + std::to_wstring(i), L"");
    const std::wstring hostile[] = {
        // A value that doubles with each definition.
        L"%{define(:d=xy):%}" + repeat(L"%{define(:d=%(d)%(d)):%}", 30) + L"%(d)",
        // Far fewer passes than the pass limit, each writing much.
        L"%{for(i=v*):%{for(j=v*):" + std::wstring(1000, L'.') + L"%}%}",
        // Texts that are dropped still cost their writing.
        L"%{for(i=v*):%{for(j=v*):%{field(maxlen=0):" + std::wstring(1000, L'.') + L"%}%}%}",
        repeat(L"%{field(width=1000000):x%}", 17),
        // Names and values grow too.
        L"%{for(i=v*):%{for(j=v*):%(%(w)%(w)%(w)%(w))%}%}",
        L"%{for(i=v*):%{for(j=v*):%{ifdef(%(w)%(w)%(w)%(w)):%}%}%}",
    };
    for (const std::wstring& t : hostile) {
        Outcome o = Render(t, defs);
        EXPECT_EQ(o.text, L"") << Narrow(t.substr(0, 60));
        EXPECT_EQ(o.errors, std::vector<std::wstring>{text}) << Narrow(t.substr(0, 60));
    }
    // The limit itself is reached, not only approached; what the client defines is not counted.
    std::wstring plain(MacroProc::kMaxText, L'x');
    EXPECT_EQ(Render(plain).text.size(), MacroProc::kMaxText);
    const std::wstring half(MacroProc::kMaxText / 2 + 1, L'x');
    EXPECT_EQ(Render(L"%{ifdef(b):yes%}", {{L"a", half}, {L"b", half}}).text, L"yes");
    plain += L"%%";
    EXPECT_EQ(Render(plain).errors, std::vector<std::wstring>{text});
}

TEST(MacroRobustness, EveryPrefixOfASampleEnds) {
    const std::wstring sample =
        L"Чек %(n) %{if(%(n)):да%}%{ifzero('0'):z%}%{define(a=\"q\"\"q\" :b=%(n)):%(a)%(:b)%}"
        L"%{field(width=5 align=right):%(n)%}%{for(i=n*):[%(i)]%}%{comment: 'x %}%{xyz(1):p%}%%%q%";
    OnSmallStack([&] {
        for (size_t len = 0; len <= sample.size(); ++len) {
            Outcome o = Render(sample.substr(0, len), {{L"n", L"7"}});
            EXPECT_LE(o.errors.size(), 4u) << len;
        }
        // Unterminated quotes dropped into every position of the sample.
        for (size_t at = 0; at <= sample.size(); ++at)
            for (const wchar_t* q : {L"'", L"\"", L"%(", L"%{", L"%{if(", L"%{define("})
                Render(sample.substr(0, at) + q + sample.substr(at), {{L"n", L"7"}});
    });
    EXPECT_EQ(Render(sample, {{L"n", L"7"}}).text, L"Чек 7 даzq\"q7    7[n]%{xyz(1):p%}%%q%");
}

TEST(MacroRobustness, RandomTemplatesEnd) {
    // Characters the scanner cares about, weighted in, plus any other 16-bit values.
    const std::wstring alphabet = L"%%%%(){}:'\"=, \r\nabx1_";
    uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    OnSmallStack([&] {
        for (int round = 0; round < 3000; ++round) {
            std::wstring text(next() % 200, L' ');
            for (wchar_t& c : text) {
                uint32_t r = next();
                c = (r >> 24) < 200 ? alphabet[(r >> 8) % alphabet.size()] : wchar_t(r >> 8);
            }
            Render(text, {{L"a", L"1"}, {L"ab", L""}});
            Render(text, {{L"a", L"1"}}, true);
            // Raw bytes decoded the way template files are, with and without the signature.
            std::string bytes(text.size(), ' ');
            for (char& b : bytes) b = char(next() >> 16);
            Render(DecodeText(bytes));
            Render(DecodeText("\xEF\xBB\xBF" + bytes));
        }
    });
}
