// The bill acceptor's cash sessions: the host engages and closes them with named events, and a sink
// subscribed to each counts its notes. The "Payment" counter's period is the cash session.
#pragma once
#include "Framework/Registry.h"
#include "Plugin/Counting/BillCounters.h"
#include "Plugin/CashSessionEvents.h"
#include "Plugin/Counting/DayChange.h"
#include "Plugin/Counting/PLLog.h"
#include "Plugin/Texts/Reports.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <functional>
#include <memory>
#include <string>

namespace Plugin {

class CashSessions final : public CashCounting {
public:
    // `share` gives a counted reference to this part that keeps everything it stands on alive, for
    // the sinks, which the host may hold longer than the terminal extender.
    CashSessions(PLXDK::Paylantra::PLClient& terminal, OperationLog& log, BillCounters& counters, PeriodReports& periods,
                 DayChange& day, std::function<std::shared_ptr<CashCounting>()> share);

    // "Tallymark.OnCashSession": a sink on the acceptor's active session, and the "Payment" period.
    void Start();
    // "Tallymark.OnCashClose": a payment that took notes is numbered and reported.
    void Close();
    bool IsOpen() const { return open_; }
    const ResetInfo& PaymentRecord() const { return payment_; }

    void CountBill(uint32_t denomination, const std::wstring& currency) override;
    void ReportSessionEnd(const BillSet& tally) override;
    bool TraceEvents() const override;

private:
    void Advise();

    PLXDK::Paylantra::PLClient& terminal_;
    OperationLog& log_;
    BillCounters& counters_;
    PeriodReports& periods_;
    DayChange& day_;
    std::function<std::shared_ptr<CashCounting>()> share_;
    RegKey debugKey_;  // Debug of the user tree, opened once and kept
    bool open_ = false;
    ResetInfo payment_;  // the "Payment" counter's record; its number becomes the cash session's
};

}  // namespace Plugin
