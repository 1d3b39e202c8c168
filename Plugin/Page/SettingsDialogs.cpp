#include "Plugin/Page/SettingsDialogs.h"

#include <commctrl.h>

#include <climits>
#include <iterator>
#include <map>
#include <vector>

#include "Framework/DDialog.h"
#include "Framework/Messages.h"
#include "Framework/Numbers.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Page/ContextHelp.h"
#include "Plugin/Plugin.h"
#include "Plugin/Page/SettingsDialogIds.h"

namespace Plugin {
namespace {

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

class CollectParamsDialog : public SettingsDialog {
public:
    CollectParamsDialog(HWND owner, const CollectionSettings& values)
        : SettingsDialog(L"DlgCollectParams", owner, kCollectParamsHelp), values_(values) {}
    const CollectionSettings& Values() const { return values_; }

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
            values_.collectorChooses.*choice->second = Checked(id);
        } else if (id == IDC_RESTORE_DEFAULTS) {
            values_ = CollectionSettings();
            Fill();
        } else if (id == IDC_COLLECT_ALL_CHOICE || id == IDC_COLLECT_NO_CHOICE) {
            for (const auto& [box, field] : ChoiceBoxes()) values_.collectorChooses.*field = id == IDC_COLLECT_ALL_CHOICE;
            Fill();
        } else {
            return SettingsDialog::Command(id, code, control);
        }
        return true;
    }

    void Ok() override {
        if (!ReadNumber(IDC_COLLECT_RECEIPT_COPIES, values_.receiptCopies)) return;
        EndDialog(IDOK);
    }

private:
    using Choices = CollectionSettings::CollectorChoices;
    static const std::map<int, bool CollectionSettings::*>& OptionBoxes() {
        static const std::map<int, bool CollectionSettings::*> boxes{
            {IDC_COLLECT_ENABLED, &CollectionSettings::enabled},
            {IDC_COLLECT_AUTONAVIGATE, &CollectionSettings::autoNavigate},
            {IDC_COLLECT_RESET, &CollectionSettings::resetCounter},
            {IDC_COLLECT_RECEIPT, &CollectionSettings::printReceipt},
            {IDC_COLLECT_XREPORT, &CollectionSettings::xReport},
            {IDC_COLLECT_ZREPORT, &CollectionSettings::zReport},
            {IDC_COLLECT_ON_STACKER, &CollectionSettings::completeOnStacker},
            {IDC_COLLECT_CANCEL_ENABLED, &CollectionSettings::cancelAllowed}};
        return boxes;
    }
    static const std::map<int, bool Choices::*>& ChoiceBoxes() {
        static const std::map<int, bool Choices::*> boxes{{IDC_COLLECT_RESET_CHOICE, &Choices::reset},
                                                          {IDC_COLLECT_RECEIPT_CHOICE, &Choices::receipt},
                                                          {IDC_COLLECT_XREPORT_CHOICE, &Choices::xReport},
                                                          {IDC_COLLECT_ZREPORT_CHOICE, &Choices::zReport}};
        return boxes;
    }

    // The boxes that depend on each other: no receipt without the counter reset, and at most one of
    // the two reports.
    void OptionCoupling(WORD id) {
        if (id == IDC_COLLECT_RESET && !Checked(id)) values_.printReceipt = false;
        if (id == IDC_COLLECT_RECEIPT && Checked(id)) values_.resetCounter = true;
        if (id == IDC_COLLECT_XREPORT) values_.zReport = false;
        if (id == IDC_COLLECT_ZREPORT) values_.xReport = false;
        values_.*OptionBoxes().at(id) = Checked(id);
        ShowBoxes();
        if (id == IDC_COLLECT_ENABLED) ApplyEnabling();
    }

    void ShowBoxes() {
        for (const auto& [id, field] : OptionBoxes()) Check(id, values_.*field);
        for (const auto& [id, field] : ChoiceBoxes()) Check(id, values_.collectorChooses.*field);
    }

    void Fill() {
        ShowBoxes();
        ShowNumber(IDC_COLLECT_RECEIPT_COPIES, values_.receiptCopies);
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

    CollectionSettings values_;
};

// ---- alert events --------------------------------------------------------------------------------

// The dialog's boxes, in the order of the model's alert events, whose names and defaults they take.
constexpr int kAlertBoxIds[] = {IDC_ALERT_STARTUP,   IDC_ALERT_EXIT,      IDC_ALERT_NEXTDAY, IDC_ALERT_PAYMENT,
                                IDC_ALERT_SESSIONFINISH, IDC_ALERT_OVERFLOW, IDC_ALERT_NOSTACKER, IDC_ALERT_STACKER,
                                IDC_ALERT_COLLECT,   IDC_ALERT_ZREPORT};
static_assert(std::size(kAlertBoxIds) == std::size(kAlertEvents), "a box for every alert event");

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
        for (const AlertEvent& event : kAlertEvents)
            Put(event.name, id == IDC_ALERT_ALL_ON || (id == IDC_RESTORE_DEFAULTS && event.installed));
        Fill();
        return true;
    }

    void Ok() override {
        for (size_t i = 0; i < std::size(kAlertEvents); ++i) Put(kAlertEvents[i].name, Checked(kAlertBoxIds[i]));
        EndDialog(IDOK);
    }

private:
    void Put(const wchar_t* event, bool in) {
        if (in) events_.insert(event);
        else events_.erase(event);
    }
    void Fill() {
        for (size_t i = 0; i < std::size(kAlertEvents); ++i) Check(kAlertBoxIds[i], events_.count(kAlertEvents[i].name) != 0);
    }

    AlertEventSet events_;
};

// ---- stacker limit -------------------------------------------------------------------------------

class StackerLimitDialog : public SettingsDialog {
public:
    StackerLimitDialog(HWND owner, const StackerLimit& values)
        : SettingsDialog(L"DlgStackerLimit", owner, kStackerLimitHelp),
          values_(values) {}
    const StackerLimit& Values() const { return values_; }

protected:
    bool InitDialog() override {
        SetText(IDC_LIMIT_SUM, SubstituteCurrency(Text(IDC_LIMIT_SUM)));
        for (const auto& [id, field] : Boxes()) Check(id, values_.*field);
        ShowNumber(IDC_LIMIT_COUNT_VALUE, values_.countLimit);
        ShowNumber(IDC_LIMIT_SUM_VALUE, values_.sumLimit);
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
        StackerLimit read = values_;
        for (const auto& [id, field] : Boxes()) read.*field = Checked(id);
        if (read.countLimited && !ReadNumber(IDC_LIMIT_COUNT_VALUE, read.countLimit)) return;
        if (read.sumLimited && !ReadNumber(IDC_LIMIT_SUM_VALUE, read.sumLimit)) return;
        values_ = read;
        EndDialog(IDOK);
    }

private:
    static const std::map<int, bool StackerLimit::*>& Boxes() {
        static const std::map<int, bool StackerLimit::*> boxes{
            {IDC_LIMIT_COUNT, &StackerLimit::countLimited}, {IDC_LIMIT_SUM, &StackerLimit::sumLimited},
            {IDC_LIMIT_EMAIL, &StackerLimit::notice},       {IDC_LIMIT_FAILURE, &StackerLimit::failure},
            {IDC_LIMIT_BLOCK, &StackerLimit::blocking}};
        return boxes;
    }

    void ApplyEnabling() {
        bool count = Checked(IDC_LIMIT_COUNT), sum = Checked(IDC_LIMIT_SUM);
        Enable(IDC_LIMIT_COUNT_VALUE, count);
        Enable(IDC_LIMIT_COUNT_SPIN, count);
        Enable(IDC_LIMIT_SUM_VALUE, sum);
        Enable(IDC_LIMIT_SUM_SPIN, sum);
    }

    StackerLimit values_;
};

}  // namespace

bool RunCollectParams(HWND owner, CollectionSettings& settings) {
    CollectParamsDialog dialog(owner, settings);
    if (dialog.Execute() != IDOK) return false;
    settings = dialog.Values();
    return true;
}

bool RunAlertSetup(HWND owner, AlertEventSet& events) {
    AlertSetupDialog dialog(owner, events);
    if (dialog.Execute() != IDOK) return false;
    events = dialog.Events();
    return true;
}

bool RunStackerLimit(HWND owner, StackerLimit& limit) {
    StackerLimitDialog dialog(owner, limit);
    if (dialog.Execute() != IDOK) return false;
    limit = dialog.Values();
    return true;
}

}  // namespace Plugin
