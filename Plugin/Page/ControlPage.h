// The plugin's page of the host's control panel: the notes in the stacker, the previous collection,
// the counting switch and the three settings dialogs. Changes are held until the panel applies them.
#pragma once
#include "Framework/AutoLayout.h"
#include "Framework/ListView.h"
#include "Plugin/Settings/Settings.h"
#include "Plugin/Page/SettingsDialogs.h"
#include "xdk/Source/Paylantra/ControlPluginPage.h"
#include <memory>

namespace Plugin {

class TallymarkControlPage : public PLXDK::Standard::ControlPluginPage {
public:
    // Control and command ids of the page template "TALLYMARKCONTROLPAGE".
    enum : int {
        kCountingBox = 600,
        kCollectButton = 601,
        kAlertsButton = 602,
        kLimitButton = 603,
        kNotesGroup = 604,
        kPreviousText = 605,
        kNotesList = 105,
        kTotalText = 1464,
        kRefresh = 533,
    };

    explicit TallymarkControlPage(IDispatch* panel);

protected:
    ~TallymarkControlPage() override;
    bool OnPageWindow(HWND window) override;
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;
    bool OnHelp(const HELPINFO* request) override;
    bool OnApply(long* changed) override;

private:
    class RegMonitor;

    void Refresh();
    void ShowNotes();
    void ShowPrevious();
    void SetText(int control, const std::wstring& text);
    // Watches machine-tree `key`\`subkey` when it exists; each watch fires once.
    void ArmWatch(std::unique_ptr<RegMonitor>& watch, const wchar_t* key, const wchar_t* subkey);
    void SetModified();
    void CoupleLimitToAlerts();
    void CoupleAlertsToLimit();
    static LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam);

    HACCEL accelerators_;
    HHOOK hook_ = nullptr;
    std::unique_ptr<RegMonitor> countersWatch_, collectWatch_;
    AutoLayout layout_;
    // The list of notes asks for its rows: a refresh fills only those shown.
    std::unique_ptr<ListRows> notes_;
    bool modified_ = false, counting_ = false, optionsChanged_ = false, alertsChanged_ = false, limitsChanged_ = false;
    // Which parts the page could read when it opened: only those may be written back.
    bool optionsRead_ = false, alertsRead_ = false, limitsRead_ = false, countingRead_ = false;
    CollectionSettings collection_;
    AlertEventSet events_;
    StackerLimit limit_;
};

}  // namespace Plugin
