#include "Plugin/SettingsDialogs.h"

#include <commctrl.h>

#include <climits>
#include <iterator>
#include <map>
#include <vector>

#include "Framework/DDialog.h"
#include "Framework/Messages.h"
#include "Framework/Numbers.h"
#include "Plugin/Config.h"
#include "Plugin/ContextHelp.h"
#include "Plugin/Plugin.h"
#include "Plugin/SettingsDialogIds.h"

namespace Plugin {
namespace {

constexpr unsigned kDefaultOptionBits = 307, kDefaultChoiceBits = 6, kDefaultReceiptCopies = 2;
constexpr unsigned kChoiceMask = 15;

// The settings dialogs' common part: the context help of their controls.
class SettingsDialog : public DDialog {
public:
    SettingsDialog(const wchar_t* templateName, HWND owner, HelpTopics helpTopics)
        : DDialog(g_module, templateName, owner), helpTopics_(helpTopics) {}

protected:
    bool Message(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
        if (message != WM_HELP) return DDialog::Message(message, wParam, lParam, result);
        const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
        if (info && info->iContextType == HELPINFO_WINDOW)
            ShowContextHelp(static_cast<HWND>(info->hItemHandle), helpTopics_, info->iCtrlId);
        result = TRUE;
        return true;
    }

    // Reads a number field into `value`. A text that is no integer, or one the value cannot hold,
    // shows the error box, puts the caret into the field and answers false.
    bool ReadNumber(int id, unsigned& value) {
        long long number = 0;
        if (ScanNumberEx(Narrow(Text(id)), number, 2) && number >= 0 && number <= UINT_MAX) {
            value = unsigned(number);
            return true;
        }
        ErrorMessage(nullptr, std::wstring(L"Указано недопустимое значение"));
        SetFocus(Item(id));
        SendMessageW(Item(id), EM_SETSEL, 0, -1);
        return false;
    }

    void ShowNumber(int id, unsigned value) { SetText(id, std::to_wstring(value)); }
    void SetSpinRange(int id, int high) { SendMessageW(Item(id), UDM_SETRANGE32, 0, high); }

private:
    HelpTopics helpTopics_;
};

// ---- collection parameters -----------------------------------------------------------------------

struct CollectParams {
    unsigned options, choices, copies;
};

class CollectParamsDialog : public SettingsDialog {
public:
    CollectParamsDialog(HWND owner, CollectParams values)
        : SettingsDialog(L"DlgCollectParams", owner, kCollectParamsHelp),
          values_(values) {
        values_.choices &= kChoiceMask;
    }
    const CollectParams& Values() const { return values_; }

protected:
    bool InitDialog() override {
        Fill();
        return true;
    }

    bool Command(WORD id, WORD code, HWND control) override {
        if (code != BN_CLICKED) return SettingsDialog::Command(id, code, control);
        if (OptionBoxes().count(id)) {
            OptionCoupling(id);
        } else if (auto choice = ChoiceBoxes().find(id); choice != ChoiceBoxes().end()) {
            SetBit(values_.choices, choice->second, Checked(id));
        } else if (id == IDC_RESTORE_DEFAULTS) {
            values_ = {kDefaultOptionBits, kDefaultChoiceBits, kDefaultReceiptCopies};
            Fill();
        } else if (id == IDC_COLLECT_ALL_CHOICE || id == IDC_COLLECT_NO_CHOICE) {
            values_.choices = id == IDC_COLLECT_ALL_CHOICE ? kChoiceMask : 0;
            Fill();
        } else {
            return SettingsDialog::Command(id, code, control);
        }
        return true;
    }

    void Ok() override {
        if (!ReadNumber(IDC_COLLECT_RECEIPT_COPIES, values_.copies)) return;
        EndDialog(IDOK);
    }

private:
    static const std::map<int, unsigned>& OptionBoxes() {
        static const std::map<int, unsigned> boxes{
            {IDC_COLLECT_ENABLED, 256}, {IDC_COLLECT_AUTONAVIGATE, 32}, {IDC_COLLECT_RESET, 1},
            {IDC_COLLECT_RECEIPT, 2},   {IDC_COLLECT_XREPORT, 4},       {IDC_COLLECT_ZREPORT, 8},
            {IDC_COLLECT_ON_STACKER, 64}, {IDC_COLLECT_CANCEL_ENABLED, 16}};
        return boxes;
    }
    static const std::map<int, unsigned>& ChoiceBoxes() {
        static const std::map<int, unsigned> boxes{{IDC_COLLECT_RESET_CHOICE, 1}, {IDC_COLLECT_RECEIPT_CHOICE, 2},
                                                   {IDC_COLLECT_XREPORT_CHOICE, 4}, {IDC_COLLECT_ZREPORT_CHOICE, 8}};
        return boxes;
    }
    static void SetBit(unsigned& bits, unsigned bit, bool on) { bits = on ? bits | bit : bits & ~bit; }

    // The boxes that depend on each other: no receipt without the counter reset, and at most one of
    // the two reports.
    void OptionCoupling(WORD id) {
        if (id == IDC_COLLECT_RESET && !Checked(id)) values_.options &= ~2u;
        if (id == IDC_COLLECT_RECEIPT && Checked(id)) values_.options |= 1u;
        if (id == IDC_COLLECT_XREPORT) SetBit(values_.options, 8, false);
        if (id == IDC_COLLECT_ZREPORT) SetBit(values_.options, 4, false);
        SetBit(values_.options, OptionBoxes().at(id), Checked(id));
        ShowBits();
        if (id == IDC_COLLECT_ENABLED) ApplyEnabling();
    }

    void ShowBits() {
        for (const auto& [id, bit] : OptionBoxes()) Check(id, values_.options & bit);
        for (const auto& [id, bit] : ChoiceBoxes()) Check(id, values_.choices & bit);
    }

    void Fill() {
        ShowBits();
        ShowNumber(IDC_COLLECT_RECEIPT_COPIES, values_.copies);
        SetSpinRange(IDC_COLLECT_RECEIPT_SPIN, 10);
        ApplyEnabling();
    }

    void ApplyEnabling() {
        bool on = Checked(IDC_COLLECT_ENABLED);
        for (int id : {IDC_COLLECT_AUTONAVIGATE, IDC_COLLECT_GROUP, IDC_COLLECT_RESET, IDC_COLLECT_RESET_CHOICE,
                       IDC_COLLECT_RECEIPT, IDC_COLLECT_RECEIPT_COPIES, IDC_COLLECT_RECEIPT_SPIN,
                       IDC_COLLECT_RECEIPT_CHOICE, IDC_COLLECT_XREPORT, IDC_COLLECT_XREPORT_CHOICE, IDC_COLLECT_ZREPORT,
                       IDC_COLLECT_ZREPORT_CHOICE, IDC_COLLECT_ON_STACKER, IDC_COLLECT_CANCEL_ENABLED,
                       IDC_COLLECT_ALL_CHOICE, IDC_COLLECT_NO_CHOICE})
            Enable(id, on);
    }

    CollectParams values_;
};

// ---- alert events --------------------------------------------------------------------------------

struct AlertBox {
    const wchar_t* event;
    int id;
    bool byDefault;
};

// The dialog's boxes, in the order of the page's event names, from which they take their names.
constexpr struct {
    int id;
    bool byDefault;
} kAlertBoxIds[] = {
    {IDC_ALERT_STARTUP, false}, {IDC_ALERT_EXIT, false},     {IDC_ALERT_NEXTDAY, true},    {IDC_ALERT_PAYMENT, false},
    {IDC_ALERT_SESSIONFINISH, false}, {IDC_ALERT_OVERFLOW, true}, {IDC_ALERT_NOSTACKER, false}, {IDC_ALERT_STACKER, false},
    {IDC_ALERT_COLLECT, true}, {IDC_ALERT_ZREPORT, true},
};
static_assert(std::size(kAlertBoxIds) == std::size(kAlertEventNames), "a box for every alert event");

const std::vector<AlertBox> kAlertBoxes = [] {
    std::vector<AlertBox> boxes;
    for (size_t i = 0; i < std::size(kAlertEventNames); ++i)
        boxes.push_back({kAlertEventNames[i], kAlertBoxIds[i].id, kAlertBoxIds[i].byDefault});
    return boxes;
}();

class AlertSetupDialog : public SettingsDialog {
public:
    AlertSetupDialog(HWND owner, AlertEventSet events)
        : SettingsDialog(L"DlgSetupAlerts", owner, kAlertSetupHelp),
          events_(std::move(events)) {}
    const AlertEventSet& Events() const { return events_; }

protected:
    bool InitDialog() override {
        Fill();
        return true;
    }

    bool Command(WORD id, WORD code, HWND control) override {
        if (code != BN_CLICKED || (id != IDC_RESTORE_DEFAULTS && id != IDC_ALERT_ALL_ON && id != IDC_ALERT_ALL_OFF))
            return SettingsDialog::Command(id, code, control);
        for (const AlertBox& box : kAlertBoxes)
            Put(box.event, id == IDC_ALERT_ALL_ON || (id == IDC_RESTORE_DEFAULTS && box.byDefault));
        Fill();
        return true;
    }

    void Ok() override {
        for (const AlertBox& box : kAlertBoxes) Put(box.event, Checked(box.id));
        EndDialog(IDOK);
    }

private:
    void Put(const wchar_t* event, bool in) {
        if (in) events_.insert(event);
        else events_.erase(event);
    }
    void Fill() {
        for (const AlertBox& box : kAlertBoxes) Check(box.id, events_.count(box.event) != 0);
    }

    AlertEventSet events_;
};

// ---- stacker limit -------------------------------------------------------------------------------

struct StackerLimits {
    unsigned bits, count, sum;
};

class StackerLimitDialog : public SettingsDialog {
public:
    StackerLimitDialog(HWND owner, StackerLimits values)
        : SettingsDialog(L"DlgStackerLimit", owner, kStackerLimitHelp),
          values_(values) {}
    const StackerLimits& Values() const { return values_; }

protected:
    bool InitDialog() override {
        SetText(IDC_LIMIT_SUM, SubstituteCurrency(Text(IDC_LIMIT_SUM)));
        for (const auto& [id, bit] : Boxes()) Check(id, values_.bits & bit);
        ShowNumber(IDC_LIMIT_COUNT_VALUE, values_.count);
        ShowNumber(IDC_LIMIT_SUM_VALUE, values_.sum);
        SetSpinRange(IDC_LIMIT_COUNT_SPIN, INT_MAX);
        SetSpinRange(IDC_LIMIT_SUM_SPIN, INT_MAX);
        ApplyEnabling();
        return true;
    }

    bool Command(WORD id, WORD code, HWND control) override {
        if (code == BN_CLICKED && (id == IDC_LIMIT_COUNT || id == IDC_LIMIT_SUM)) {
            ApplyEnabling();
            return true;
        }
        return SettingsDialog::Command(id, code, control);
    }

    // Read into a copy, so that a refused OK followed by cancel leaves the page's values as they were.
    void Ok() override {
        StackerLimits read = values_;
        read.bits = 0;
        for (const auto& [id, bit] : Boxes())
            if (Checked(id)) read.bits |= bit;
        if (Checked(IDC_LIMIT_COUNT) && !ReadNumber(IDC_LIMIT_COUNT_VALUE, read.count)) return;
        if (Checked(IDC_LIMIT_SUM) && !ReadNumber(IDC_LIMIT_SUM_VALUE, read.sum)) return;
        read.bits |= values_.bits & ~AllBoxBits();
        values_ = read;
        EndDialog(IDOK);
    }

private:
    static const std::map<int, unsigned>& Boxes() {
        static const std::map<int, unsigned> boxes{
            {IDC_LIMIT_COUNT, 1}, {IDC_LIMIT_SUM, 2}, {IDC_LIMIT_EMAIL, 16}, {IDC_LIMIT_FAILURE, 32}, {IDC_LIMIT_BLOCK, 64}};
        return boxes;
    }
    static unsigned AllBoxBits() {
        unsigned all = 0;
        for (const auto& [id, bit] : Boxes()) all |= bit;
        return all;
    }

    void ApplyEnabling() {
        bool count = Checked(IDC_LIMIT_COUNT), sum = Checked(IDC_LIMIT_SUM);
        Enable(IDC_LIMIT_COUNT_VALUE, count);
        Enable(IDC_LIMIT_COUNT_SPIN, count);
        Enable(IDC_LIMIT_SUM_VALUE, sum);
        Enable(IDC_LIMIT_SUM_SPIN, sum);
    }

    StackerLimits values_;
};

}  // namespace

bool RunCollectParams(HWND owner, unsigned& optionBits, unsigned& choiceBits, unsigned& receiptCopies) {
    CollectParamsDialog dialog(owner, {optionBits, choiceBits, receiptCopies});
    if (dialog.Execute() != IDOK) return false;
    optionBits = dialog.Values().options;
    choiceBits = dialog.Values().choices;
    receiptCopies = dialog.Values().copies;
    return true;
}

bool RunAlertSetup(HWND owner, AlertEventSet& events) {
    AlertSetupDialog dialog(owner, events);
    if (dialog.Execute() != IDOK) return false;
    events = dialog.Events();
    return true;
}

bool RunStackerLimit(HWND owner, unsigned& limitBits, unsigned& countLimit, unsigned& sumLimit) {
    StackerLimitDialog dialog(owner, {limitBits, countLimit, sumLimit});
    if (dialog.Execute() != IDOK) return false;
    limitBits = dialog.Values().bits;
    countLimit = dialog.Values().count;
    sumLimit = dialog.Values().sum;
    return true;
}

}  // namespace Plugin
