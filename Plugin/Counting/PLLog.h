// The daily operation log: one file per calendar day, one numbered and coded record per step.
#pragma once
#include "AppLog/AppLog.h"
#include "Framework/RealTime.h"
#include <functional>
#include <memory>
#include <string>

namespace Plugin {

// Every event the operation log knows; the number is what the record carries.
enum class LogEvent : unsigned {
    LogOpen = 1,
    LogClose = 2,
    CashInit = 5,
    CashAccept = 6,
    CashDone = 7,
    CashCancel = 8,
    StackerDisposed = 9,
    StackerInstalled = 10,
    CollectOpen = 13,
    CollectDone = 14,
    CollectClosed = 15,
    CollectCancel = 19,
    CollectError = 20,
    CounterReset = 21,
    ReportInit = 22,
    ReportDone = 23,
    ReportError = 24,
    AlertDone = 25,
    AlertMail = 26,
    AlertError = 27,
    ZReportReady = 28,
    ZReportDone = 30,
    CallbackError = 31,  // what a timer or thread-pool callback caught
};

// The record code of an event ("CASH.ACCEPT"); null for a number the table does not hold.
const char* LogEventCode(LogEvent event);

// AppLog whose file name follows a template and a date.
class PLLog : public AppLog {
public:
    // The path becomes the template with environment references expanded and its first "*"
    // replaced by "(yyyy-mm-dd)" of the date; no date gives no path.
    void SetPathTemplate(const std::wstring& pathTemplate);
    void SetDate(RealTime date);
    RealTime GetDate();
    std::wstring GetPathTemplate();

    static std::string MakePath(const std::wstring& pathTemplate, RealTime date);

private:
    void UpdatePath();  // under the lock

    std::wstring template_;
    RealTime date_;
};

// The terminal side's log: opens, rolls at the change of day and closes the PLLog, and composes
// its records. Records are dated by the local time.
class OperationLog {
public:
    OperationLog();
    ~OperationLog();
    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    void SetPathTemplate(const std::wstring& pathTemplate);
    // Moves the log to a calendar day, writing the close record into the old day's file and the
    // open record into the new one. Never closes the log.
    void Roll(RealTime day);
    void RollToToday() { Roll(RealTime::Now().Date()); }
    // Closes the log for good: the close record, then no path.
    void Close();

    // `description` is Windows-1251 text; empty leaves the description field out.
    void Write(LogEvent event, const std::string& description = {});
    void Write(LogEvent event, const std::wstring& description);
    // Records that could not be written wait for a later write, and a log that stays unwritable
    // would lose them unseen: they are tried once more, and raised as an error when they still wait.
    // Called when a host call's work is done.
    void CheckWritten();

    RealTime Date() const { return date_; }
    RealTime Now() const { return RealTime::Now(); }
    std::string CurrentPath() const { return log_ ? log_->GetLogPath() : std::string(); }

private:
    void Record(LogEvent event, const std::string& description);

    std::shared_ptr<PLLog> log_;
    RealTime date_;
};

}  // namespace Plugin
