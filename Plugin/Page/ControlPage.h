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
    // The notification code of the refresh that the counter's watch asks for: only the counter changed.
    enum : WORD { kCounterChanged = 0x5CC };

    explicit TallymarkControlPage(IDispatch* panel);

protected:
    ~TallymarkControlPage() override;
    bool OnPageWindow(HWND window) override;
    bool OnCommand(WPARAM wParam, LPARAM lParam) override;
    bool OnHelp(const HELPINFO* request) override;
    bool OnApply(long* changed) override;

private:
    class RegMonitor;

    // Reads everything again, or only the counter when that alone is known to have changed.
    void Refresh(bool counterChanged);
    void ShowNotes();
    void ShowPrevious();
    void SetText(int control, const std::wstring& text);
    // What the page watches of a part it shows, machine-tree `parent`\`name`: the values under the key,
    // and the names under its parent, which see the key made, deleted or made anew (a counter's reset
    // does that, and a watch on a deleted key stays silent). Each watch fires once, posting its command.
    struct PartWatch {
        std::unique_ptr<RegMonitor> values, names;
        // Every change of the part will be told.
        bool complete = false;
    };
    void ArmWatch(PartWatch& watch, const wchar_t* parent, const wchar_t* name, WPARAM command);
    void SetModified();
    void CoupleLimitToAlerts();
    void CoupleAlertsToLimit();
    static LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam);

    HACCEL accelerators_;
    HHOOK hook_ = nullptr;
    PartWatch countersWatch_, collectWatch_;
    AutoLayout layout_;
    // The list of notes asks for its rows: a refresh fills only those shown.
    std::unique_ptr<ListRows> notes_;
    // The previous collection's line shows what was read, not a failure to read it.
    bool previousRead_ = false;
    bool modified_ = false, counting_ = false, optionsChanged_ = false, alertsChanged_ = false, limitsChanged_ = false;
    // Which parts the page could read when it opened: only those may be written back.
    bool optionsRead_ = false, alertsRead_ = false, limitsRead_ = false, countingRead_ = false;
    CollectionSettings collection_;
    AlertEventSet events_;
    StackerLimit limit_;
};

}  // namespace Plugin
