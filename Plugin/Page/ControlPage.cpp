#include "Plugin/Page/ControlPage.h"
#include "Framework/Exceptions.h"
#include "Framework/ListView.h"
#include "Framework/RealTime.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "MTSys/PoolWaitCallback.h"
#include "Plugin/Counting/BillCounters.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Page/ContextHelp.h"
#include "Plugin/Extenders.h"
#include "Plugin/Plugin.h"
#include <commctrl.h>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Page/ControlPage";
constexpr wchar_t kNbsp = L'\u00A0';

// The page whose accelerators the thread's message hook applies.
TallymarkControlPage* g_hookPage = nullptr;

std::wstring Unsigned(unsigned long long value) { return std::to_wstring(value); }

// "12 купюр на сумму 1500 RUB", with no-break spaces inside each part.
std::wstring BillSummary(const BillSet& bills) {
    uint32_t count = bills.TotalCount();
    std::wstring text = Unsigned(count) + kNbsp + CardinalForm(count, L"купюра", L"купюры", L"купюр");
    std::wstring amounts;
    for (const auto& item : bills.Items()) {
        uint32_t amount = bills.CurrencyAmount(item.first.str());
        if (amount == 0) continue;
        if (!amounts.empty()) amounts += std::wstring{kNbsp, L'+', kNbsp};
        amounts += Unsigned(amount) + kNbsp + item.first.str();
    }
    if (!amounts.empty()) text += L" на сумму " + amounts;
    return text;
}

// The reason of what the running catch block caught.
std::wstring CaughtText() { return ReasonOf(std::current_exception()).value_or(L"неизвестная ошибка"); }

}  // namespace

// A registry watch that asks the page window for a refresh when it fires.
class TallymarkControlPage::RegMonitor : public WaitCallback {
public:
    RegMonitor(std::unique_ptr<MTSys::RegKeyChangeMonitor> watch, HWND window, WPARAM command)
        : WaitCallback(watch->GetHandle()), watch_(std::move(watch)), window_(window), command_(command) {}
    ~RegMonitor() override { Release(); }
    // The watch goes only once no callback can run; the lock is not held while waiting for that.
    void Release() override {
        WaitCallback::Release();
        watch_.reset();
    }
    void OnSignal(bool) override { PostMessageW(window_, WM_COMMAND, command_, 0); }

private:
    std::unique_ptr<MTSys::RegKeyChangeMonitor> watch_;
    HWND window_;
    WPARAM command_;
};

TallymarkControlPage::TallymarkControlPage(IDispatch* panel)
    : ControlPluginPage(panel), accelerators_(LoadAcceleratorsA(g_module, MAKEINTRESOURCEA(101))) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_hookPage = this;
}

TallymarkControlPage::~TallymarkControlPage() {
    countersWatch_ = {};
    collectWatch_ = {};
    if (g_hookPage == this) g_hookPage = nullptr;
    if (hook_) UnhookWindowsHookEx(hook_);
}

bool TallymarkControlPage::OnPageWindow(HWND window) {
    if (!window || !IsWindow(window)) return false;
    ControlPluginPage::OnPageWindow(window);
    if (hook_) UnhookWindowsHookEx(hook_);
    hook_ = SetWindowsHookExA(WH_GETMESSAGE, KeyHook, nullptr, GetCurrentThreadId());

    layout_.Attach(window);
    layout_.Add(kCountingBox, AutoLayout::Follow, AutoLayout::RightEdge, 0, AutoLayout::RightEdge);
    for (int button : {kCollectButton, kAlertsButton, kLimitButton})
        layout_.Add(button, AutoLayout::Move, AutoLayout::RightEdge, 0, AutoLayout::RightEdge);
    layout_.Add(kNotesGroup, AutoLayout::Follow, AutoLayout::RightEdge, 0, AutoLayout::RightEdge);
    layout_.Add(kNotesGroup, AutoLayout::Follow, AutoLayout::BottomEdge, 0, AutoLayout::BottomEdge);
    layout_.Add(kNotesList, AutoLayout::Follow, AutoLayout::RightEdge, kNotesGroup, AutoLayout::RightEdge);
    layout_.Add(kNotesList, AutoLayout::Follow, AutoLayout::BottomEdge, kNotesGroup, AutoLayout::BottomEdge);
    for (int text : {kTotalText, kPreviousText}) {
        layout_.Add(text, AutoLayout::Follow, AutoLayout::RightEdge, 0, AutoLayout::RightEdge);
        layout_.Add(text, AutoLayout::Move, AutoLayout::BottomEdge, 0, AutoLayout::BottomEdge);
    }

    // Each part shows what it could read; a failure is told and the rest still loads.
    auto attempt = [this](auto&& step) {
        try {
            step();
        } catch (...) {
            PageError(CaughtText());
        }
    };
    attempt([this] {
        collection_.Read(PluginOptions());
        optionsRead_ = true;
    });
    attempt([this] {
        events_ = ReadAlertEvents();
        alertsRead_ = true;
    });
    attempt([this] {
        limit_ = StackerLimit::Read(events_.count(kOverflowEvent) != 0);
        limitsRead_ = true;
    });
    attempt([&] {
        RegKey plugin(HKEY_LOCAL_MACHINE, kPluginKey, false, kRegReadAccess);
        CheckDlgButton(window, kCountingBox, plugin[L"Disabled"].IntOr(0, kSource, __LINE__) == 0 ? BST_CHECKED : BST_UNCHECKED);
        countingRead_ = true;
    });
    ListView(GetDlgItem(window, kNotesList))
        .SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    notes_.reset();
    notes_ = std::make_unique<ListRows>(GetDlgItem(window, kNotesList), std::vector<std::wstring>{L"Номинал", L"Кол-во", L"Сумма"});
    for (int column = 0; column < 3; ++column) notes_->View().SetAlign(column, ListView::Right);
    PostMessageW(window, WM_COMMAND, kRefresh, 0);
    return true;
}

bool TallymarkControlPage::OnCommand(WPARAM wParam, LPARAM) {
    HWND window = GetPageWindow();
    int id = LOWORD(wParam);
    bool clicked = HIWORD(wParam) == BN_CLICKED;
    switch (id) {
    case kRefresh:
        Refresh(HIWORD(wParam) == kCounterChanged);
        return true;
    case kCountingBox:
        if (!clicked) return false;
        SetModified();
        SendMessageW(window, WM_COMMAND, kRefresh, 0);
        return true;
    case kCollectButton:
        if (!clicked || !RunCollectParams(window, collection_)) return false;
        optionsChanged_ = true;
        SetModified();
        return true;
    case kAlertsButton:
        if (!clicked || !RunAlertSetup(window, events_)) return false;
        alertsChanged_ = true;
        SetModified();
        CoupleLimitToAlerts();
        return true;
    case kLimitButton:
        if (!clicked || !RunStackerLimit(window, limit_)) return false;
        limitsChanged_ = true;
        SetModified();
        CoupleAlertsToLimit();
        return true;
    default:
        return false;
    }
}

// The e-mail notice of the limit is the stacker overflow alert: each side follows the other.
void TallymarkControlPage::CoupleLimitToAlerts() {
    bool alerting = events_.count(kOverflowEvent) != 0;
    if (alerting == limit_.notice) return;
    limit_.notice = alerting;
    limitsChanged_ = true;
}

void TallymarkControlPage::CoupleAlertsToLimit() {
    bool notice = limit_.notice;
    if (notice == (events_.count(kOverflowEvent) != 0)) return;
    if (notice)
        events_.insert(kOverflowEvent);
    else
        events_.erase(kOverflowEvent);
    alertsChanged_ = true;
}

void TallymarkControlPage::SetModified() {
    modified_ = true;
    IPaylantraControlPanel* panel = nullptr;
    if (Panel() && SUCCEEDED(Panel()->QueryInterface(IID_IPaylantraControlPanel, reinterpret_cast<void**>(&panel)))) {
        panel->SetModified(HandleToLong(GetPageWindow()), TRUE);
        panel->Release();
    }
}

void TallymarkControlPage::Refresh(bool counterChanged) {
    HWND window = GetPageWindow();
    if (!window) return;
    counting_ = IsDlgButtonChecked(window, kCountingBox) == BST_CHECKED;
    // A note changes the counter alone: the previous collection stays as read while its watch, armed
    // before that read, has not asked for a refresh. With many denominations the reads are most of a
    // refresh's time, and one comes with every note.
    const bool counterOnly = counterChanged && counting_ && collectWatch_.complete && previousRead_;
    for (int control : {kNotesGroup, kNotesList, kCollectButton, kAlertsButton, kLimitButton, kTotalText, kPreviousText})
        EnableWindow(GetDlgItem(window, control), counting_);
    if (counting_) {
        ArmWatch(countersWatch_, kBillCountersKey, L"Collect", MAKEWPARAM(kRefresh, kCounterChanged));
        if (!counterOnly) ArmWatch(collectWatch_, kPluginKey, L"Collect", kRefresh);
    } else {
        countersWatch_ = {};
        collectWatch_ = {};
    }
    ShowNotes();
    if (!counterOnly) ShowPrevious();
}

// The names under the parent come first: a key made after they are watched is seen by them, one made
// before has its values watched here.
void TallymarkControlPage::ArmWatch(PartWatch& watch, const wchar_t* parent, const wchar_t* name, WPARAM command) {
    auto arm = [&](HKEY key, const wchar_t* subkey, bool subtree, DWORD filter) {
        auto monitor = std::make_unique<MTSys::RegKeyChangeMonitor>(key, subkey, subtree, filter);
        auto fresh = std::make_unique<RegMonitor>(std::move(monitor), GetPageWindow(), command);
        if (!fresh->Register(WT_EXECUTEONLYONCE, INFINITE)) fresh.reset();
        return fresh;
    };
    watch = {};
    RegKey parentKey(HKEY_LOCAL_MACHINE, parent, false, kRegReadAccess);
    if (!parentKey) return;
    watch.names = arm(parentKey.Handle(), nullptr, false, REG_NOTIFY_CHANGE_NAME);
    const bool exists = bool(RegKey(parentKey.Handle(), name, false, kRegReadAccess));
    if (exists) watch.values = arm(parentKey.Handle(), name, true, REG_NOTIFY_CHANGE_LAST_SET);
    watch.complete = watch.names && (watch.values || !exists);
}

void TallymarkControlPage::ShowNotes() {
    if (!notes_) return;
    std::vector<ListRows::Row> rows;
    std::wstring total;
    try {
        if (counting_) {
            BillSet bills = CounterStore::Load(L"Collect");
            for (const auto& [currency, denominations] : bills.Items())
                for (const auto& [denomination, count] : denominations)
                    rows.push_back({currency.str() + kNbsp + Unsigned(denomination), std::to_wstring(int(count)),
                                    std::to_wstring(int(count * denomination))});
            total = bills.TotalCount() == 0 ? L"Нет принятых купюр" : L"Принято: " + BillSummary(bills);
        }
    } catch (...) {
        total = L"Не удалось прочитать счётчик купюр: " + CaughtText();
    }
    notes_->Show(std::move(rows));
    notes_->AutoWidth(notes_->View().RowCount() > 0);
    SetText(kTotalText, total);
}

// A text control is drawn again only when its text changed: most refreshes change one line or none.
void TallymarkControlPage::SetText(int control, const std::wstring& text) {
    HWND window = GetDlgItem(GetPageWindow(), control);
    if (PLXDK::Standard::WindowText(window) != text) SetWindowTextW(window, text.c_str());
}

void TallymarkControlPage::ShowPrevious() {
    std::wstring text;
    previousRead_ = false;
    try {
        if (counting_) {
            RegKey collect(HKEY_LOCAL_MACHINE, kCollectKey, false, kRegReadAccess);
            RealTime when;
            if (ScanDateTime(ReadSetting(collect, L"timestamp", L""), 0, when) && when) {
                text = L"Предыдущая инкассация № " + Unsigned(unsigned(ReadSetting(collect, L"Number", 0))) +
                       L" выполнена\r\n" + FormatDateTime(when.Local(), 1) + L":\r\n" +
                       BillSummary(CounterStore::LoadFrom(kCollectSummaryKey));
            } else {
                text = L"Нет сведений о предыдущей инкассации";
            }
        }
        previousRead_ = true;
    } catch (...) {
        text = L"Не удалось прочитать сведения о предыдущей инкассации: " + CaughtText();
    }
    SetText(kPreviousText, text);
}

bool TallymarkControlPage::OnHelp(const HELPINFO* request) {
    if (request && request->iContextType == HELPINFO_WINDOW)
        ShowContextHelp(static_cast<HWND>(request->hItemHandle), kControlPageHelp, request->iCtrlId);
    return true;
}

bool TallymarkControlPage::OnApply(long* changed) {
    if (modified_) {
        // What could not be read shows defaults, not the stored settings: written back, they would
        // replace the stored ones unseen. Nothing is written then, so nothing is half-applied.
        if (!countingRead_ || (optionsChanged_ && !optionsRead_) || (alertsChanged_ && !alertsRead_) ||
            (limitsChanged_ && !limitsRead_))
            throw VMAppException(L"Настройки модуля не удалось прочитать из системного реестра Windows: изменения не записаны");
        if (HWND window = GetPageWindow()) counting_ = IsDlgButtonChecked(window, kCountingBox) == BST_CHECKED;
        RegKey plugin = RegKey::OpenToWrite(HKEY_LOCAL_MACHINE, kPluginKey, kSource, __LINE__);
        // Counting on is the absence of the switch, not a 0 left behind.
        if (counting_)
            plugin[L"Disabled"].Delete();
        else
            plugin[L"Disabled"] = DWORD(1);
        if (optionsChanged_) collection_.Write();
        if (alertsChanged_) WriteAlertEvents(events_);
        if (limitsChanged_) limit_.Write();
        if (changed) *changed = 1;
    }
    PostMessageW(GetPageWindow(), WM_COMMAND, kRefresh, 0);
    return ControlPluginPage::OnApply(changed);
}

LRESULT CALLBACK TallymarkControlPage::KeyHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    TallymarkControlPage* page = g_hookPage;
    if (code == HC_ACTION && wParam == PM_REMOVE && message && message->message == WM_KEYDOWN && page &&
        page->accelerators_) {
        HWND window = page->GetPageWindow();
        HWND focus = GetFocus();
        HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
        if (window && IsWindowVisible(window) && IsWindowEnabled(window) && focus && root &&
            (focus == root || IsChild(root, focus)) && TranslateAcceleratorA(window, page->accelerators_, message)) {
            // Handled: the key goes no further.
            message->message = WM_NULL;
            return 0;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

IPaylantraControlPage* CreateControlPage(IDispatch* panel) { return new TallymarkControlPage(panel); }

}  // namespace Plugin
