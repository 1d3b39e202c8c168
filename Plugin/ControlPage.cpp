#include "Plugin/ControlPage.h"
#include "Framework/Exceptions.h"
#include "Framework/ListView.h"
#include "Framework/RealTime.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "MTSys/PoolWaitCallback.h"
#include "Plugin/Alerts.h"
#include "Plugin/BillCounters.h"
#include "Plugin/Config.h"
#include "Plugin/ContextHelp.h"
#include "Plugin/Extenders.h"
#include "Plugin/Plugin.h"
#include <commctrl.h>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/ControlPage";
constexpr wchar_t kNbsp = L'\u00A0';
constexpr wchar_t kOverflowEvent[] = L"BillCounterOverflow";
constexpr wchar_t kLimitAlert[] = L"control.BillCounterLimit";
constexpr wchar_t kBlockingFailure[] = L"Tallymark.Collect.Request";
constexpr unsigned kCountKind = 1, kSumKind = 2, kNoticeAction = 16, kFailureAction = 32, kBlockingAction = 64;

// The limit entries the stacker limit dialog stands for, in the order they are read and written.
struct LimitEntry {
    const wchar_t* name;  // "[*]" is the plugin's currency
    unsigned kind;
    unsigned action;
};
constexpr LimitEntry kLimitEntries[] = {
    {L"control.count.notify", kCountKind, kNoticeAction},
    {L"control.count.failure", kCountKind, kFailureAction},
    {L"control.count.hardFailure", kCountKind, kBlockingAction},
    {L"control.total[*].notify", kSumKind, kNoticeAction},
    {L"control.total[*].failure", kSumKind, kFailureAction},
    {L"control.total[*].hardFailure", kSumKind, kBlockingAction},
};

// The published value a limit entry watches: the number of notes, or the amount of the plugin's
// currency, both in the "Collect" counter.
std::wstring LimitProperty(unsigned kind) {
    return kind == kCountKind ? L"Tallymark.BillCounter.Collect.All.All.Count"
                              : SubstituteCurrency(L"Tallymark.BillCounter.Collect.[*].All.Total");
}

const wchar_t* FailureOf(unsigned action) { return action == kFailureAction ? kOverflowEvent : kBlockingFailure; }

// The page whose accelerators the thread's message hook applies.
TallymarkControlPage* g_hookPage = nullptr;

void SetBit(unsigned& bits, unsigned bit, bool on) { bits = on ? bits | bit : bits & ~bit; }

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

RegKey OpenToWrite(HKEY root, const std::wstring& path, int line) {
    RegKey key(root, path, true, kRegWriteAccess);
    if (!key) throw WindowsError(DWORD(key.LastError()), kSource, line);
    return key;
}

// The reason of what the running catch block caught.
std::wstring CaughtText() {
    try {
        throw;
    } catch (const VelmorException& error) {
        return error.ReasonW();
    } catch (const std::exception& error) {
        return Widen(error.what());
    } catch (...) {
        return L"неизвестная ошибка";
    }
}

}  // namespace

// A registry watch that asks the page window for a refresh when it fires.
class TallymarkControlPage::RegMonitor : public WaitCallback {
public:
    RegMonitor(std::unique_ptr<MTSys::RegKeyChangeMonitor> watch, HWND window)
        : WaitCallback(watch->GetHandle()), watch_(std::move(watch)), window_(window) {}
    ~RegMonitor() override { Release(); }
    // The watch goes only once no callback can run; the lock is not held while waiting for that.
    void Release() override {
        WaitCallback::Release();
        watch_.reset();
    }
    void OnSignal(bool) override { PostMessageW(window_, WM_COMMAND, kRefresh, 0); }

private:
    std::unique_ptr<MTSys::RegKeyChangeMonitor> watch_;
    HWND window_;
};

TallymarkControlPage::TallymarkControlPage(IDispatch* panel)
    : ControlPluginPage(panel), accelerators_(LoadAcceleratorsA(g_module, MAKEINTRESOURCEA(101))) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_hookPage = this;
}

TallymarkControlPage::~TallymarkControlPage() {
    countersWatch_.reset();
    collectWatch_.reset();
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
        LoadOptions();
        optionsRead_ = true;
    });
    attempt([this] {
        LoadAlertEvents();
        alertsRead_ = true;
    });
    attempt([this] {
        LoadLimits();
        limitsRead_ = true;
    });
    attempt([&] {
        RegKey plugin(HKEY_LOCAL_MACHINE, kPluginKey, false, kRegReadAccess);
        CheckDlgButton(window, kCountingBox, plugin[L"Disabled"].IntOr(0, kSource, __LINE__) == 0 ? BST_CHECKED : BST_UNCHECKED);
        countingRead_ = true;
    });
    ListView list(GetDlgItem(window, kNotesList));
    list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    for (const wchar_t* title : {L"Номинал", L"Кол-во", L"Сумма"}) list.AddColumn(title);
    PostMessageW(window, WM_COMMAND, kRefresh, 0);
    return true;
}

void TallymarkControlPage::LoadOptions() {
    PluginOptions options;
    static const struct {
        const wchar_t* name;
        unsigned bit;
    } kFlags[] = {{L"Collect Enabled", 256}, {L"Collect AutoNavigate", 32}, {L"Collect Reset", 1},
                  {L"Collect Print Receipt", 2}, {L"Collect On Stacker", 64}, {L"Collect Cancel Enabled", 16}};
    // Strict reads: a setting shown as its default would be written back as such by Apply.
    for (const auto& flag : kFlags)
        SetBit(optionBits_, flag.bit, options.Read(flag.name, (optionBits_ & flag.bit) != 0, kSource, __LINE__));
    std::wstring report =
        options.Read(L"Collect Fiscal Report", (optionBits_ & 8) ? L"Z" : (optionBits_ & 4) ? L"X" : L"", kSource, __LINE__);
    SetBit(optionBits_, 4, EqualNoCase(report, L"X"));
    SetBit(optionBits_, 8, EqualNoCase(report, L"Z"));
    // The stored mask names the actions not left to the collector; an absent one keeps the choices.
    unsigned fixed = options.Read(L"Collect Control Disabled", ~choiceBits_ & 15u, kSource, __LINE__);
    choiceBits_ = ~fixed & 15u;
    receiptCopies_ = options.Read(L"Collect Receipt Count", receiptCopies_, kSource, __LINE__);
}

void TallymarkControlPage::LoadAlertEvents() {
    for (const wchar_t* event : kAlertEventNames)
        if (Alerts::IsEventEnabled(event)) events_.insert(event);
}

void TallymarkControlPage::LoadLimits() {
    limitBits_ = countLimit_ = sumLimit_ = 0;
    RegKey mapping(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, false, kRegReadAccess);
    const std::wstring overflowAlert = mapping[kOverflowEvent].TextOr(kOverflowEvent, kSource, __LINE__);
    for (const LimitEntry& entry : kLimitEntries) {
        RegKey key(HKEY_LOCAL_MACHINE, std::wstring(kCounterLimitsKey) + L"\\" + SubstituteCurrency(entry.name), false,
                   kRegReadAccess);
        unsigned max = key[L"max"].IntOr(0, kSource, __LINE__);
        if (max != 0) {
            unsigned& limit = entry.kind == kCountKind ? countLimit_ : sumLimit_;
            if (!(limitBits_ & entry.kind) || max < limit) limit = max;
            limitBits_ |= entry.kind;
        }
        bool action = false;
        if (entry.action == kNoticeAction) {
            std::wstring alert = key[L"set alert"].TextOr(L"", kSource, __LINE__);
            action = !alert.empty() && events_.count(kOverflowEvent) && EqualNoCase(overflowAlert, alert);
        } else {
            action = EqualNoCase(key[L"set failure"].TextOr(L"", kSource, __LINE__), FailureOf(entry.action));
        }
        if (action) limitBits_ |= entry.action;
    }
}

bool TallymarkControlPage::OnCommand(WPARAM wParam, LPARAM) {
    HWND window = GetPageWindow();
    int id = LOWORD(wParam);
    bool clicked = HIWORD(wParam) == BN_CLICKED;
    switch (id) {
    case kRefresh:
        Refresh();
        return true;
    case kCountingBox:
        if (!clicked) return false;
        SetModified();
        SendMessageW(window, WM_COMMAND, kRefresh, 0);
        return true;
    case kCollectButton:
        if (!clicked || !RunCollectParams(window, optionBits_, choiceBits_, receiptCopies_)) return false;
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
        if (!clicked || !RunStackerLimit(window, limitBits_, countLimit_, sumLimit_)) return false;
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
    if (alerting == ((limitBits_ & kNoticeAction) != 0)) return;
    SetBit(limitBits_, kNoticeAction, alerting);
    limitsChanged_ = true;
}

void TallymarkControlPage::CoupleAlertsToLimit() {
    bool notice = (limitBits_ & kNoticeAction) != 0;
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

void TallymarkControlPage::Refresh() {
    HWND window = GetPageWindow();
    if (!window) return;
    counting_ = IsDlgButtonChecked(window, kCountingBox) == BST_CHECKED;
    for (int control : {kNotesGroup, kNotesList, kCollectButton, kAlertsButton, kLimitButton, kTotalText, kPreviousText})
        EnableWindow(GetDlgItem(window, control), counting_);
    if (counting_) {
        ArmWatch(countersWatch_, kBillCountersKey, L"Collect");
        ArmWatch(collectWatch_, kPluginKey, L"Collect");
    } else {
        countersWatch_.reset();
        collectWatch_.reset();
    }
    ShowNotes();
    ShowPrevious();
}

void TallymarkControlPage::ArmWatch(std::unique_ptr<RegMonitor>& watch, const wchar_t* key, const wchar_t* subkey) {
    RegKey parent(HKEY_LOCAL_MACHINE, key, false, kRegReadAccess);
    if (!parent || !RegKey(parent.Handle(), subkey, false, kRegReadAccess)) {
        watch.reset();
        return;
    }
    auto monitor = std::make_unique<MTSys::RegKeyChangeMonitor>(parent.Handle(), subkey, true, REG_NOTIFY_CHANGE_LAST_SET);
    auto fresh = std::make_unique<RegMonitor>(std::move(monitor), GetPageWindow());
    if (!fresh->Register(WT_EXECUTEONLYONCE, INFINITE)) fresh.reset();
    watch = std::move(fresh);
}

void TallymarkControlPage::ShowNotes() {
    HWND window = GetPageWindow();
    ListView list(GetDlgItem(window, kNotesList));
    std::wstring total;
    {
        ListView::Batch batch(list);
        list.Clear();
        try {
            if (counting_) {
                BillSet bills = CounterStore::Load(L"Collect");
                for (const auto& [currency, denominations] : bills.Items())
                    for (const auto& [denomination, count] : denominations)
                        list.AddRow({currency.str() + kNbsp + Unsigned(denomination), std::to_wstring(int(count)),
                                     std::to_wstring(int(count * denomination))});
                total = bills.TotalCount() == 0 ? L"Нет принятых купюр" : L"Принято: " + BillSummary(bills);
            }
        } catch (...) {
            total = L"Не удалось прочитать счётчик купюр: " + CaughtText();
        }
    }
    list.AutoWidth(list.RowCount() > 0);
    for (int column = 0; column < 3; ++column) list.SetAlign(column, ListView::Right);
    SetDlgItemTextW(window, kTotalText, total.c_str());
}

void TallymarkControlPage::ShowPrevious() {
    std::wstring text;
    try {
        if (counting_) {
            RegKey collect(HKEY_LOCAL_MACHINE, kCollectKey, false, kRegReadAccess);
            RealTime when;
            if (ScanDateTime(ReadSetting(collect, L"timestamp", L""), 0, when) && when) {
                text = L"Предыдущая инкассация № " + Unsigned(unsigned(ReadSetting(collect, L"Number", 0))) +
                       L" выполнена\r\n" + FormatDateTime(when.Local(), 1) + L":\r\n" +
                       BillSummary(CounterStore::LoadFrom(std::wstring(kCollectKey) + L"\\Summary"));
            } else {
                text = L"Нет сведений о предыдущей инкассации";
            }
        }
    } catch (...) {
        text = L"Не удалось прочитать сведения о предыдущей инкассации: " + CaughtText();
    }
    SetDlgItemTextW(GetPageWindow(), kPreviousText, text.c_str());
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
        RegKey plugin = OpenToWrite(HKEY_LOCAL_MACHINE, kPluginKey, __LINE__);
        // Counting on is the absence of the switch, not a 0 left behind.
        if (counting_)
            plugin[L"Disabled"].Delete();
        else
            plugin[L"Disabled"] = DWORD(1);
        if (optionsChanged_) WriteOptions();
        if (alertsChanged_) WriteAlertEvents();
        if (limitsChanged_) WriteLimits();
        if (changed) *changed = 1;
    }
    PostMessageW(GetPageWindow(), WM_COMMAND, kRefresh, 0);
    return ControlPluginPage::OnApply(changed);
}

void TallymarkControlPage::WriteOptions() const {
    RegKey options = OpenToWrite(HKEY_CURRENT_USER, kOptionsKey, __LINE__);
    auto flag = [&](const wchar_t* name, unsigned bit) { options[name] = DWORD((optionBits_ & bit) ? 1 : 0); };
    // A set choice bit leaves the action to the collector: its bit of the stored mask is cleared.
    auto choice = [&](unsigned bit) {
        DWORD fixed = options[L"Collect Control Disabled"].IntOr(0, kSource, __LINE__);
        options[L"Collect Control Disabled"] = (choiceBits_ & bit) ? fixed & ~DWORD(bit) : fixed | bit;
    };
    flag(L"Collect Enabled", 256);
    flag(L"Collect AutoNavigate", 32);
    flag(L"Collect Reset", 1);
    choice(1);
    options[L"Collect Receipt Count"] = DWORD(receiptCopies_);
    flag(L"Collect Print Receipt", 2);
    choice(2);
    options[L"Collect Fiscal Report"].Delete();
    if (optionBits_ & 4) options[L"Collect Fiscal Report"] = L"X";
    choice(4);
    if (optionBits_ & 8) options[L"Collect Fiscal Report"] = L"Z";
    choice(8);
    flag(L"Collect On Stacker", 64);
    flag(L"Collect Cancel Enabled", 16);
}

void TallymarkControlPage::WriteAlertEvents() const {
    RegKey events = OpenToWrite(HKEY_CURRENT_USER, kOptionsAlertEventsKey, __LINE__);
    for (const wchar_t* event : kAlertEventNames) events[event] = DWORD(events_.count(event) ? 1 : 0);
}

void TallymarkControlPage::WriteLimits() const {
    RegKey limits = OpenToWrite(HKEY_LOCAL_MACHINE, kCounterLimitsKey, __LINE__);
    for (const LimitEntry& entry : kLimitEntries) {
        const std::wstring name = SubstituteCurrency(entry.name);
        limits.DeleteSubkey(name);
        if (!(limitBits_ & entry.action) || !(limitBits_ & entry.kind)) continue;
        RegKey key = OpenToWrite(limits.Handle(), name, __LINE__);
        key[L"prop"] = LimitProperty(entry.kind);
        key[L"max"] = DWORD(entry.kind == kCountKind ? countLimit_ : sumLimit_);
        key[L"range"] = L"Collect";
        if (entry.action == kNoticeAction) {
            key[L"set alert"] = kLimitAlert;
            key[L"reset alert"] = kLimitAlert;
        } else {
            key[L"set failure"] = FailureOf(entry.action);
            key[L"reset failure"] = FailureOf(entry.action);
        }
    }
    if (limitBits_ & kNoticeAction)
        OpenToWrite(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, __LINE__)[kOverflowEvent] = kLimitAlert;
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
