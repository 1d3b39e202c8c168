// The collection workflow: the collector takes the full stacker out, the collection screen's
// scripts open the collection, carry it out and close it, and the terminal goes back to its start
// screen once the stacker is in again. Also the stacker's notifications, the terminal's failures
// while a collection runs, and the collection's error reporting as the print-text answer uses it.
#pragma once
#include "Framework/RealTime.h"
#include "Framework/Text.h"
#include "Plugin/Texts/Alerts.h"
#include "Plugin/Counting/BillCounters.h"
#include "Plugin/Counting/PLLog.h"
#include "Plugin/Texts/PrintTexts.h"
#include "Plugin/Texts/Reports.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <exception>
#include <string>
#include <vector>

namespace Plugin {

class Collection {
public:
    Collection(PLXDK::Paylantra::PLClient& terminal, OperationLog& log, BillCounters& counters, PrintTexts& printTexts,
               Alerts& alerts, PeriodReports& periods)
        : terminal_(terminal), log_(log), counters_(counters), printTexts_(printTexts), alerts_(alerts), periods_(periods) {}

    // The record of the last completed collection, as the terminal starts.
    void ReadPreviousRecord();

    // The collection screen's four events; each does nothing unless collections are enabled.
    void Open();
    void Done();
    void RequestClose(bool cancel);
    // The stacker's notifications: logged always, the collection's part only while collections are
    // enabled. `session` is the host object that takes the collection request.
    void OnStackerRemoved(IDispatch* session);
    void OnStackerInstalled();
    // A terminal failure appeared or went; while a collection is open the failures are its error.
    void OnTerminalFailure(const std::wstring& name, bool set);

    // The failure of a step done for the collection (a print text) as the collection's error; true
    // when it counts as handled.
    bool ReportFailure(const std::exception_ptr& failure);
    // "Tallymark.StackerInstalled" and the "Tallymark.OnStacker" hook.
    void PublishStackerState();

    // "Collect Enabled"; raises WindowsError when it cannot be read.
    static bool Enabled();
    bool IsOpen() const;
    bool StackerRemoved() const { return stackerRemoved_; }
    const std::vector<keystringW>& Failures() const { return failures_; }
    uint32_t Number() const { return number_; }
    // When the open collection was carried out; empty at all other times.
    RealTime Time() const { return time_; }
    // The "Collect" counter as it stood when the open collection began; empty when none is open.
    const CounterSnapshot& Frozen() const { return frozen_; }

private:
    // Where the collection stands. A close asked for waits in Closing until the stacker is in; it
    // remembers how far the collection had got, and whether the screen cancelled it.
    enum class State { Idle, Open, Done, Closing };

    // Why "Done" cannot be carried out now; null when it can.
    std::exception_ptr Refusal() const;
    void CarryOut(PLXDK::Paylantra::PLSession& environment);
    void Persist(const std::wstring& timestamp);
    std::wstring DoneText(uint32_t receipts, bool reset, const std::wstring& fiscalReport) const;
    bool TryFinish();
    void Finish();
    void LeaveScreen(unsigned flags, std::exception_ptr& failure);
    // Logs the long text (or the short one), shows the short one as the job error rule says,
    // publishes it as "Tallymark.Collect.Error" and runs the "Tallymark.OnError" hook. True when the
    // error counts as handled.
    bool ReportError(const std::wstring& shortText, const std::wstring& longText);
    void ReportFailures();

    PLXDK::Paylantra::PLClient& terminal_;
    OperationLog& log_;
    BillCounters& counters_;
    PrintTexts& printTexts_;
    Alerts& alerts_;
    PeriodReports& periods_;
    State state_ = State::Idle;
    State closingFrom_ = State::Idle;  // while closing
    bool cancelled_ = false;           // while closing
    bool stackerRemoved_ = false;
    std::vector<keystringW> failures_;  // the terminal's current failures, sorted
    CounterSnapshot frozen_;
    uint32_t number_ = 0;
    uint32_t expectedBills_ = 0;
    RealTime time_;
    uint32_t prevNumber_ = 0;
    RealTime prevTime_;
};

}  // namespace Plugin
