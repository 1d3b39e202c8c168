// The control page: the base's questions and reports as the user sees them, and the page itself
// in the simulated panel, as real windows.
#include "xdk/Source/Paylantra/ControlPluginPage.h"
#include "Framework/ListView.h"
#include "Host/Scenario.h"
#include "Plugin/Settings/Config.h"
#include "tests/RegistryFixture.h"
#include <prsht.h>

namespace {

struct Shown {
    HWND owner;
    std::wstring text, caption;
    UINT type;
};
std::vector<Shown> g_shown;
int g_answer = IDOK;

int WINAPI CaptureBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    g_shown.push_back({owner, text ? text : L"", caption ? caption : L"", type});
    return g_answer;
}

class TestPage : public PLXDK::Standard::ControlPluginPage {
public:
    TestPage() : ControlPluginPage(nullptr) {}
    using ControlPluginPage::SetTitle;
};

// Plays the panel's property sheet: answers the page's index and notes the page it is told to show.
constexpr LRESULT kPageIndex = 3;
WPARAM g_selected = WPARAM(-1);
LRESULT CALLBACK SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PSM_HWNDTOINDEX) return kPageIndex;
    if (message == PSM_SETCURSEL) g_selected = wParam;
    return DefWindowProcW(window, message, wParam, lParam);
}

class PageBase : public ::testing::Test {
protected:
    PageBase() {
        static const int patched =
            Host::PatchImport(GetModuleHandleW(nullptr), "MessageBoxW", reinterpret_cast<void*>(&CaptureBox));
        EXPECT_GT(patched, 0);
        static const ATOM sheetClass = [] {
            WNDCLASSW type{};
            type.lpfnWndProc = SheetProc;
            type.lpszClassName = L"TallyTestSheet";
            return RegisterClassW(&type);
        }();
        EXPECT_NE(sheetClass, 0);
        g_shown.clear();
        g_answer = IDOK;
        g_selected = WPARAM(-1);
        sheet_ = CreateWindowW(L"TallyTestSheet", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        window_ = CreateWindowW(L"STATIC", L"", WS_CHILD, 0, 0, 200, 100, sheet_, nullptr, nullptr, nullptr);
        field_ = CreateWindowW(L"EDIT", L"", WS_CHILD, 0, 0, 100, 20, window_, nullptr, nullptr, nullptr);
        repeat_ = CreateWindowW(L"EDIT", L"", WS_CHILD, 0, 30, 100, 20, window_, nullptr, nullptr, nullptr);
        long accepted = 0;
        EXPECT_EQ(page_->SetPageWindow(HandleToLong(window_), &accepted), S_OK);
        EXPECT_EQ(accepted, 1);
    }
    ~PageBase() override { DestroyWindow(sheet_); }

    // The control the page asked the focus for, and whether the sheet was told to show the page.
    HWND Activated() {
        MSG message;
        HWND control = nullptr;
        while (PeekMessageW(&message, window_, WM_NEXTDLGCTL, WM_NEXTDLGCTL, PM_REMOVE))
            if (message.lParam == TRUE) control = reinterpret_cast<HWND>(message.wParam);
        while (PeekMessageW(&message, sheet_, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (control) {
            EXPECT_EQ(g_selected, WPARAM(kPageIndex));
        }
        return control;
    }

    co<TestPage> page_ = co<TestPage>::Attach(new TestPage);
    HWND sheet_, window_, field_, repeat_;
};

const std::wstring kCorrect = L"\r\n\"Отмена\" - исправить значение.";

TEST_F(PageBase, AskingAboutAValueOffersCancelToCorrectIt) {
    page_->SetTitle(L"Счётчик");
    EXPECT_FALSE(page_->AskInvalidValue(field_, L"Имя", L"слишком длинное"));
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0].text, L"Поле \"Имя\": слишком длинное" + kCorrect);
    EXPECT_EQ(g_shown[0].type, UINT(305));
    EXPECT_EQ(g_shown[0].owner, window_);
    EXPECT_EQ(g_shown[0].caption, L"Счётчик");
    EXPECT_EQ(Activated(), nullptr);

    g_answer = IDCANCEL;
    EXPECT_TRUE(page_->AskInvalidValue(field_, L"Имя", L"слишком длинное"));
    EXPECT_EQ(Activated(), field_);
}

TEST_F(PageBase, EmptyAndBlankTextsAreQuestionedAndAcceptedOnOk) {
    EXPECT_TRUE(page_->CheckNotEmpty(field_, L"Имя"));
    EXPECT_TRUE(page_->CheckNotEmpty(field_));
    SetWindowTextW(field_, L" текст");
    EXPECT_TRUE(page_->CheckNotEmpty(field_, L"Имя"));
    EXPECT_TRUE(page_->CheckNoOuterBlanks(field_));
    SetWindowTextW(field_, L"текст ");
    EXPECT_TRUE(page_->CheckNoOuterBlanks(field_, L"Логин"));
    ASSERT_EQ(g_shown.size(), 4u);
    EXPECT_EQ(g_shown[0].text, L"Поле \"Имя\": пустое/незаданное значение (Имя)." + kCorrect);
    EXPECT_EQ(g_shown[1].text, L"Поле \"\": пустое/незаданное значение." + kCorrect);
    EXPECT_EQ(g_shown[2].text, L"Поле \"\": пробелы в начале текста (во избежание двусмысленности дальнейшего "
                               L"использования данного значения рекомендуется не вставлять пробелы в начале и в конце)." +
                                   kCorrect);
    EXPECT_EQ(g_shown[3].text, L"Поле \"Логин\": пробелы в конце текста (Логин)." + kCorrect);

    g_answer = IDCANCEL;
    EXPECT_FALSE(page_->CheckNoOuterBlanks(field_, L"Логин"));
    EXPECT_EQ(Activated(), field_);
    SetWindowTextW(field_, L"текст");
    EXPECT_TRUE(page_->CheckNoOuterBlanks(field_, L"Логин"));
    EXPECT_TRUE(page_->CheckNotEmpty(field_, L"Логин"));
    EXPECT_EQ(g_shown.size(), 5u);
}

TEST_F(PageBase, PasswordRepeatMustMatchAndThenPassTheTextChecks) {
    SetWindowTextW(field_, L"secret");
    SetWindowTextW(repeat_, L"secret2");
    EXPECT_FALSE(page_->CheckPasswordRepeat(field_, repeat_));
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0].text, L"Поле \"Пароль\": повторный ввод не соответствует паролю, введите пароль ещё раз.");
    EXPECT_EQ(g_shown[0].type & MB_ICONMASK, UINT(MB_ICONERROR));
    EXPECT_EQ(Activated(), repeat_);

    SetWindowTextW(repeat_, L"secret");
    EXPECT_TRUE(page_->CheckPasswordRepeat(field_, repeat_));
    SetWindowTextW(field_, L"");
    SetWindowTextW(repeat_, L"");
    g_answer = IDCANCEL;
    EXPECT_FALSE(page_->CheckPasswordRepeat(field_, repeat_, L"Код"));
    ASSERT_EQ(g_shown.size(), 2u);
    EXPECT_EQ(g_shown[1].text, L"Поле \"Код\": пустое/незаданное значение (Код)." + kCorrect);
}

TEST_F(PageBase, IntegerParseReportsMalformedTextAndKeepsTheNumber) {
    long long value = 5;
    SetWindowTextW(field_, L" -42 ");
    EXPECT_TRUE(page_->ScanInteger(field_, L"Копии", value));
    EXPECT_EQ(value, -42);
    for (const wchar_t* text : {L"4x2", L"1,5", L""}) {
        SetWindowTextW(field_, text);
        EXPECT_FALSE(page_->ScanInteger(field_, L"Копии", value)) << text;
        ASSERT_FALSE(g_shown.empty());
        EXPECT_EQ(g_shown.back().text, L"Поле \"Копии\": ошибка формата целого числа (\"" + std::wstring(text) + L"\")");
        EXPECT_EQ(Activated(), field_);
    }
    EXPECT_EQ(value, -42);
}

TEST_F(PageBase, NullOwnerAndCaptionBecomeThePageOnesUnlessKept) {
    page_->SetTitle(L"Страница");
    page_->PageMessage(L"a", MB_OK);
    page_->PageMessage(L"b", MB_OK, nullptr, nullptr, TestPage::kKeepNullOwner | TestPage::kKeepNullCaption);
    page_->PageMessage(L"c", MB_OK, sheet_, L"Своя");
    ASSERT_EQ(g_shown.size(), 3u);
    EXPECT_EQ(g_shown[0].owner, window_);
    EXPECT_EQ(g_shown[0].caption, L"Страница");
    EXPECT_EQ(g_shown[1].owner, nullptr);
    EXPECT_EQ(g_shown[1].caption, L"");
    EXPECT_EQ(g_shown[2].owner, sheet_);
    EXPECT_EQ(g_shown[2].caption, L"Своя");
}

// The page itself, made by the plugin DLL in the simulated panel.
class ControlPage : public RegistryTest {
protected:
    ControlPage() : scenario_(Host::DefaultPluginPath()) {
        OleInitialize(nullptr);
        Host::Boxes::All().clear();
        RegKey(HKEY_LOCAL_MACHINE, Plugin::kCollectKey, true, kRegWriteAccess)[L"Number"] = DWORD(0);
        Count(L"RUB", L"100", 3);
    }
    ~ControlPage() override {
        scenario_.RunLine(L"control close");
        OleUninitialize();
    }
    void Run(const std::wstring& line) { ASSERT_TRUE(scenario_.RunLine(line)) << Narrow(line, CP_UTF8); }
    static void Count(const wchar_t* currency, const wchar_t* denomination, DWORD count) {
        RegKey(HKEY_LOCAL_MACHINE, std::wstring(Plugin::kBillCountersKey) + L"\\Collect\\" + currency, true,
               kRegWriteAccess)[denomination] = count;
    }
    std::wstring Text(int id) {
        wchar_t text[512] = L"";
        GetWindowTextW(Host::PageControl(scenario_, id), text, 512);
        return text;
    }
    int Rows() { return ListView(Host::PageControl(scenario_, 105)).RowCount(); }

    Host::Scenario scenario_;
};

TEST_F(ControlPage, OpenedAndClosedManyTimesWithItsWatchesFiringLeaksNoHandle) {
    DWORD before = 0, after = 0;
    for (int round = 0; round < 1000; ++round) {
        if (round == 20) GetProcessHandleCount(GetCurrentProcess(), &before);
        Run(L"control open");
        Count(L"RUB", L"100", DWORD(round));
        RegKey(HKEY_LOCAL_MACHINE, Plugin::kCollectKey, true, kRegWriteAccess)[L"Number"] = DWORD(round);
        Host::PumpMessages(0);
        Run(L"control close");
    }
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_LT(after, before + 50) << "handles before " << before << ", after " << after;
    EXPECT_TRUE(Host::Boxes::All().empty());
}

TEST_F(ControlPage, KeysDeletedWhileShownLeaveAnEmptyPageAndNoBox) {
    Run(L"control open");
    Host::PumpMessages(0);
    EXPECT_EQ(Rows(), 1);
    RegKey plugin(HKEY_LOCAL_MACHINE, Plugin::kPluginKey, false, kRegWriteAccess);
    plugin.DeleteSubkey(L"Bill Counters");
    plugin.DeleteSubkey(L"Collect");
    Run(L"control command 533");
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Text(1464), L"Нет принятых купюр");
    EXPECT_EQ(Text(605), L"Нет сведений о предыдущей инкассации");
    // Recreated, the counter shows again on the next refresh.
    Count(L"USD", L"20", 2);
    Run(L"control command 533");
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(Host::Boxes::All().empty());
}

TEST_F(ControlPage, TenThousandDenominationsAreListedAndSummed) {
    RegKey summary(HKEY_LOCAL_MACHINE, std::wstring(Plugin::kCollectKey) + L"\\Summary\\RUB", true, kRegWriteAccess);
    RegKey counter(HKEY_LOCAL_MACHINE, std::wstring(Plugin::kBillCountersKey) + L"\\Collect\\RUB", true, kRegWriteAccess);
    for (DWORD denomination = 1; denomination <= 10000; ++denomination) {
        summary[std::to_wstring(denomination)] = DWORD(1);
        counter[std::to_wstring(denomination)] = DWORD(1);
    }
    RegKey(HKEY_LOCAL_MACHINE, Plugin::kCollectKey, false, kRegWriteAccess)[L"timestamp"] = L"2026-12-08 10:00:00.0000000";
    Run(L"control open");
    Host::PumpMessages(0);
    EXPECT_EQ(Rows(), 10000);
    // 1 + 2 + ... + 10000 = 50005000
    EXPECT_EQ(Text(1464), L"Принято: 10000\u00A0купюр на сумму 50005000\u00A0RUB");
    EXPECT_NE(Text(605).find(L":\r\n10000\u00A0купюр на сумму 50005000\u00A0RUB"), std::wstring::npos) << Narrow(Text(605), CP_UTF8);
}

}  // namespace
