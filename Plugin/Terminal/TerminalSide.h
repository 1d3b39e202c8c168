// The terminal side of one attach: the parts that the terminal extender hands the host's calls to,
// made and wired together here. Each part gets what it needs (the host, the log, the counters, the
// parts beside it) when it is made; none reaches back here. The session extender and the
// cash-session sinks reach the side only through their narrow interfaces.
#pragma once
#include "Plugin/Texts/Alerts.h"
#include "Plugin/Counting/BillCounters.h"
#include "Plugin/Collection/CashSessions.h"
#include "Plugin/Collection/Collection.h"
#include "Plugin/Counting/DayChange.h"
#include "Plugin/Counting/Limits.h"
#include "Plugin/Counting/PLLog.h"
#include "Plugin/Texts/PrintTexts.h"
#include "Plugin/Texts/Reports.h"
#include "Plugin/SessionExtender.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <memory>

namespace Plugin {

class TerminalSide final : public SessionServices, public std::enable_shared_from_this<TerminalSide> {
public:
    // Opens the log, loads the day last processed, the previous collection and the counters, and
    // starts the day timer. Held by a shared pointer: the sinks share it, the session extender
    // watches it.
    explicit TerminalSide(IPaylantraTerminal* terminal);
    // The log's close record; the timer stops.
    ~TerminalSide();
    TerminalSide(const TerminalSide&) = delete;
    TerminalSide& operator=(const TerminalSide&) = delete;

    PLXDK::Paylantra::PLClient& Terminal() { return terminal_; }
    OperationLog& Log() { return log_; }
    BillCounters& Counters() { return counters_; }
    Alerts& AlertSender() { return alerts_; }
    PrintTexts& Printing() { return printTexts_; }
    PeriodReports& Periods() { return periods_; }
    Collection& Collect() { return collection_; }
    CashSessions& Cash() { return cash_; }
    DayChange& Day() { return day_; }
    // The cash sessions as a sink reports to them, sharing the side.
    std::shared_ptr<CashCounting> CashCounter() { return std::shared_ptr<CashCounting>(shared_from_this(), &cash_); }

    ResetInfo StartSessionPeriod() override;
    void EndSessionPeriod(const ResetInfo& period) override;
    void RepublishStackerState() override;
    RealTime CollectionTime() const override { return collection_.Time(); }
    void ReportPrintTextFailure(const std::exception_ptr& failure) override { collection_.ReportFailure(failure); }
    CounterValues PublishedValues() const override;
    ResetInfoMap PublishedResets() const override;

private:
    PLXDK::Paylantra::PLClient terminal_;
    OperationLog log_;
    Alerts alerts_{terminal_, log_};
    PrintTexts printTexts_{terminal_};
    Reports reports_{log_, printTexts_};
    Limits limits_{terminal_, alerts_};
    BillCounters counters_{log_, [this](const CounterValues& values, const std::wstring& range) { limits_.Check(values, range); }};
    PeriodReports periods_{log_, counters_, reports_, alerts_};
    DayChange day_{log_, periods_};
    Collection collection_{terminal_, log_, counters_, printTexts_, alerts_, periods_};
    CashSessions cash_{terminal_, log_, counters_, periods_, day_, [this] { return CashCounter(); }};
};

}  // namespace Plugin
