#include "Plugin/Counting/PLLog.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"
#include "PLLib/PLLib.h"
#include <iterator>

namespace Plugin {

namespace {
struct EventCode {
    LogEvent event;
    const char* code;
};
const EventCode kEventCodes[] = {
    {LogEvent::LogOpen, "LOG.OPEN"},
    {LogEvent::LogClose, "LOG.CLOSE"},
    {LogEvent::CashInit, "CASH.INIT"},
    {LogEvent::CashAccept, "CASH.ACCEPT"},
    {LogEvent::CashDone, "CASH.DONE"},
    {LogEvent::CashCancel, "CASH.CANCEL"},
    {LogEvent::StackerDisposed, "STACKER.DISPOSED"},
    {LogEvent::StackerInstalled, "STACKER.INSTALLED"},
    {LogEvent::CollectOpen, "COLLECT.OPEN"},
    {LogEvent::CollectDone, "COLLECT.DONE"},
    {LogEvent::CollectClosed, "COLLECT.CLOSED"},
    {LogEvent::CollectCancel, "COLLECT.CANCEL"},
    {LogEvent::CollectError, "COLLECT.ERROR"},
    {LogEvent::CounterReset, "COUNTER.RESET"},
    {LogEvent::ReportInit, "REPORT.INIT"},
    {LogEvent::ReportDone, "REPORT.DONE"},
    {LogEvent::ReportError, "REPORT.ERROR"},
    {LogEvent::AlertDone, "ALERT.DONE"},
    {LogEvent::AlertMail, "ALERT.MAIL"},
    {LogEvent::AlertError, "ALERT.ERROR"},
    {LogEvent::ZReportReady, "ZREPORT.READY"},
    {LogEvent::ZReportDone, "ZREPORT.DONE"},
    {LogEvent::CallbackError, "CALLBACK.ERROR"},
};
}  // namespace

const char* LogEventCode(LogEvent event) {
    for (const EventCode& entry : kEventCodes)
        if (entry.event == event) return entry.code;
    return nullptr;
}

std::string PLLog::MakePath(const std::wstring& pathTemplate, RealTime date) {
    if (!date || pathTemplate.empty()) return {};
    return DatedLogPath(Narrow(ExpEnv(pathTemplate)), date);
}

void PLLog::UpdatePath() { SetLogPath(MakePath(template_, date_)); }

void PLLog::SetPathTemplate(const std::wstring& pathTemplate) {
    Lock lock(*this);
    template_ = pathTemplate;
    UpdatePath();
}

void PLLog::SetDate(RealTime date) {
    Lock lock(*this);
    date_ = date;
    UpdatePath();
}

RealTime PLLog::GetDate() {
    Lock lock(*this);
    return date_;
}

std::wstring PLLog::GetPathTemplate() {
    Lock lock(*this);
    return template_;
}

OperationLog::OperationLog() : log_(std::make_shared<PLLog>()) {
}

OperationLog::~OperationLog() {
    // Writing into a file must never escape a destructor.
    try {
        Close();
    } catch (...) {
    }
}

void OperationLog::SetPathTemplate(const std::wstring& pathTemplate) {
    if (log_) log_->SetPathTemplate(pathTemplate);
}

void OperationLog::Roll(RealTime day) {
    if (day == date_) return;
    if (date_) Record(LogEvent::LogClose, Narrow1251(L"лог закрыт"));
    if (log_) {
        date_ = day;
        log_->SetDate(day);
    }
    if (day) Record(LogEvent::LogOpen, Narrow1251(L"лог открыт"));
}

void OperationLog::Close() {
    if (!log_) return;
    Roll(RealTime::Never);
    log_->SetPathTemplate({});
    log_.reset();
}

void OperationLog::Write(LogEvent event, const std::string& description) {
    if (!log_) return;
    if (event != LogEvent::LogOpen && event != LogEvent::LogClose) RollToToday();
    Record(event, description);
}

void OperationLog::Write(LogEvent event, const std::wstring& description) { Write(event, Narrow1251(description)); }

void OperationLog::CheckWritten() {
    if (!log_) return;
    if (DWORD error = log_->RetryWaiting())
        throw VMAppException(L"не удалось записать лог операций \"" + Widen(log_->GetLogPath()) + L"\" (ошибка Windows " +
                             std::to_wstring(error) + L")");
}

void OperationLog::Record(LogEvent event, const std::string& description) {
    const char* code = LogEventCode(event);
    if (!log_ || !date_ || !code) return;
    if (description.empty())
        log_->Write(5, "%u\t%s", unsigned(event), code);
    else
        log_->Write(5, "%u\t%s\t;%s", unsigned(event), code, description.c_str());
}

}  // namespace Plugin
