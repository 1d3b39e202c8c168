// The collection workflow: the collector takes the full stacker out, the collection screen's
// scripts open the collection, carry it out and close it, and the terminal goes back to its start
// screen once the stacker is in again. Also the collection's error reporting and stacker state, as
// the print-text answer uses them.
#pragma once
#include "Framework/RealTime.h"
#include "Framework/Text.h"
#include "Plugin/PLLog.h"
#include "Plugin/PrintTexts.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <exception>
#include <string>
#include <vector>

namespace Plugin {

class TerminalExtender;

class Collection {
public:
    Collection(TerminalExtender& owner, PLXDK::Paylantra::PLClient& terminal, OperationLog& log, PrintTexts& printTexts)
        : owner_(owner), terminal_(terminal), log_(log), printTexts_(printTexts) {}

    // The record of the last completed collection, as the terminal starts.
    void ReadPreviousRecord();

    // The collection screen's four events; each does nothing unless collections are enabled.
    void Open();
    void Done();
    void RequestClose(bool cancel);
    // The stacker notifications, once collections are known to be enabled.
    void OnStackerRemoved();
    void OnStackerInstalled();
    // The terminal's failures changed (or a collection opened): they become the collection error.
    void ReportFailures(const std::vector<keystringW>& failures);

    // Logs the long text (or the short one), shows the short one when "Show Errors" is set,
    // publishes it as "Tallymark.Collect.Error" and runs the "Tallymark.OnError" hook. True when
    // the error counts as handled, that is unless "Rethrow Errors" is set.
    bool ReportError(const std::wstring& shortText, const std::wstring& longText);
    // ReportError for the framework exception being handled. Call inside a catch block.
    bool ReportException();
    // "Tallymark.StackerInstalled" and the "Tallymark.OnStacker" hook.
    void PublishStackerState();

    // "Collect Enabled"; raises WindowsError when it cannot be read.
    static bool Enabled();
    bool IsOpen() const { return open_; }
    bool StackerRemoved() const { return stackerRemoved_; }
    uint32_t Number() const { return number_; }
    // When the open collection was carried out; empty at all other times.
    RealTime Time() const { return time_; }

private:
    void Persist(const std::wstring& timestamp);
    std::wstring DoneText(uint32_t receipts, const std::wstring& fiscalReport) const;
    bool TryFinish();
    void Finish();
    void LeaveScreen(int flags, std::exception_ptr& failure);

    TerminalExtender& owner_;
    PLXDK::Paylantra::PLClient& terminal_;
    OperationLog& log_;
    PrintTexts& printTexts_;
    bool stackerRemoved_ = false;
    bool open_ = false;
    bool done_ = false;
    bool cancelled_ = false;
    bool closeRequested_ = false;
    bool resetAtCollection_ = false;
    uint32_t number_ = 0;
    uint32_t expectedBills_ = 0;
    RealTime time_;
    uint32_t prevNumber_ = 0;
    RealTime prevTime_;
};

}  // namespace Plugin
