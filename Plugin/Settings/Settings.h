// The plugin's settings as one typed model: the collection options, the alert switches and the
// stacker limit. Each value has its registry name and its defaults here and nowhere else. The
// installation seeds the machine tree from the defaults, the control page reads the settings
// strictly and writes the user's choices through the one writer of each part, its dialogs edit the
// model by name, and the terminal side reads single options by the same names.
#pragma once
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "Plugin/Settings/Config.h"
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Plugin {

// The options under `Options`, with what the terminal side takes when neither tree holds one.
namespace Options {
inline constexpr Option<bool> kCollectEnabled{L"Collect Enabled", false};
inline constexpr Option<bool> kAutoNavigate{L"Collect AutoNavigate", true};
inline constexpr Option<bool> kResetCounter{L"Collect Reset", true};
inline constexpr Option<bool> kPrintReceipt{L"Collect Print Receipt", true};
inline constexpr Option<unsigned> kReceiptCount{L"Collect Receipt Count", 2};
inline constexpr Option<const wchar_t*> kFiscalReport{L"Collect Fiscal Report", L""};  // "X", "Z" or empty
inline constexpr Option<unsigned> kControlDisabled{L"Collect Control Disabled", 0};   // kChoose... bits
inline constexpr Option<bool> kCompleteOnStacker{L"Collect On Stacker", false};
inline constexpr Option<bool> kCancelEnabled{L"Collect Cancel Enabled", false};
inline constexpr Option<int> kPrintDelay{L"Print Delay", 1000};
inline constexpr Option<unsigned> kCompletionFlags{L"Collect Completion Flags", 0};
inline constexpr Option<unsigned> kCancelFlags{L"Collect Cancel Flags", 0};
// Absent, the helper script follows the host's print mode.
inline constexpr wchar_t kPrintHelper[] = L"Collect PrintHelper";
}  // namespace Options

// The actions whose choice may be left to the collector at the terminal: the bits of "Collect
// Control Disabled", where a set bit takes the choice away.
inline constexpr unsigned kChooseReset = 1, kChooseReceipt = 2, kChooseXReport = 4, kChooseZReport = 8;

// The collection settings as the control page holds them and its dialog edits them. The defaults
// are what the installation writes and "restore defaults" brings back.
struct CollectionSettings {
    struct CollectorChoices {
        bool reset = false;
        bool receipt = true;
        bool xReport = true;
        bool zReport = false;
    };

    bool enabled = true;
    bool autoNavigate = true;
    bool resetCounter = true;
    bool printReceipt = true;
    bool xReport = false;
    bool zReport = false;
    bool completeOnStacker = false;
    bool cancelAllowed = true;
    unsigned receiptCopies = 2;
    CollectorChoices collectorChooses;  // left to the collector's choice at the terminal

    // Every value read strictly, the user's over the machine's; an absent one keeps its value here.
    void Read(const PluginOptions& options);
    // The one writer of the user's choices: every value into the user tree. Bits of "Collect
    // Control Disabled" that name no action stay as they are.
    void Write() const;
    // What the installation seeds the machine tree with, in its order.
    std::vector<std::pair<const wchar_t*, DWORD>> Seed() const;
    // The kChoose... bits of the actions not left to the collector.
    unsigned ControlDisabled() const;
};

// The terminal events that may send an alert, each a flag under `Options\Alert Events`, in the
// order of the alert dialog, and whether the installation (and "restore defaults") switches it on.
struct AlertEvent {
    const wchar_t* name;
    bool installed;
};
inline constexpr AlertEvent kAlertEvents[] = {
    {L"Startup", false}, {L"Exit", false},      {L"NextDay", true}, {L"Payment", false}, {L"SessionFinish", false},
    {kOverflowEvent, true}, {L"NoStacker", false}, {L"Stacker", false}, {L"Collect", true}, {L"ZReport", true},
};

// Switched-on alert event names, sorted without regard to case.
using AlertEventSet = std::set<keystringW>;
AlertEventSet InstalledAlertEvents();
// An event's switch, the user's over the machine's, off when absent; read strictly.
bool AlertEventOn(const std::wstring& event);
AlertEventSet ReadAlertEvents();
// The one writer: all ten switches into the user tree.
void WriteAlertEvents(const AlertEventSet& events);

// The alert that the stacker limit's notice raises, through the overflow event's mapping.
inline constexpr wchar_t kLimitAlert[] = L"control.BillCounterLimit";

// The stacker limit as the control page holds it and its dialog edits it: entries under `Counter
// Limits` that watch the notes or the amount of the "Collect" counter.
struct StackerLimit {
    // One entry the limit makes: its name (currency substituted) and values.
    struct Entry {
        std::wstring name;
        std::wstring prop;
        DWORD max;
        const wchar_t* setValue;    // "set alert" or "set failure"
        const wchar_t* resetValue;  // "reset alert" or "reset failure"
        const wchar_t* target;      // the alert or the failure
        // Hands each value to `put(name, value)`, texts as std::wstring and numbers as DWORD.
        template <class Put> void Values(Put put) const {
            put(L"prop", prop);
            put(L"max", max);
            put(L"range", std::wstring(L"Collect"));
            put(setValue, std::wstring(target));
            put(resetValue, std::wstring(target));
        }
    };

    bool countLimited = false;
    unsigned countLimit = 0;
    bool sumLimited = false;
    unsigned sumLimit = 0;
    bool notice = false;    // a mail through the stacker overflow alert
    bool failure = false;   // the terminal failure of the stacker overflow
    bool blocking = false;  // the failure that blocks the terminal until a collection

    // What the installation writes: 1500 notes, with the notice and the failure.
    static StackerLimit Installed();
    // Reads the entries strictly. The notice counts only while the overflow alert is on and raises
    // the limit's alert.
    static StackerLimit Read(bool overflowAlertOn);
    // The entries this limit makes, in the order they are read and written.
    std::vector<Entry> Entries() const;
    // The one writer: every entry the dialog stands for deleted, then those of this limit made.
    void Write() const;
};

// "PrevCashSessionNumber" or "PrevMessageNumber" of the user tree: the last number handed out plus
// 1, written back and returned.
DWORD NextRunningNumber(const wchar_t* name);

}  // namespace Plugin
