// The sink of the bill acceptor's cash-session events: counts each accepted note and reports the
// session's tally when the host lets it go.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "AppFrame/Include/co.h"
#include "Plugin/Counting/BillCounters.h"
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace Plugin {

// What a cash-session sink reports to: the notes it counts and the end of its session.
class CashCounting {
public:
    virtual void CountBill(uint32_t denomination, const std::wstring& currency) = 0;
    virtual void ReportSessionEnd(const BillSet& tally) = 0;
    // Whether each event of the sink is shown in a box ("Show CashSession Events", read afresh).
    virtual bool TraceEvents() const = 0;

protected:
    ~CashCounting() = default;
};

class CashSessionEvents : public PaylantraObject2<IPaylantraCashSessionEvents> {
public:
    // The sink holds its counting, and with it the terminal side, as long as the host holds the sink.
    explicit CashSessionEvents(std::shared_ptr<CashCounting> counting);
    ~CashSessionEvents() override;

    STDMETHODIMP OnActive(VARIANT sender, VARIANT active) override;
    STDMETHODIMP OnBillRange(VARIANT sender, VARIANT minBill, VARIANT maxBill) override;
    STDMETHODIMP OnBillCount(VARIANT sender, VARIANT count) override;
    STDMETHODIMP OnAccept(VARIANT sender, VARIANT bill) override;
    STDMETHODIMP OnDetect(VARIANT sender, VARIANT bill) override;
    STDMETHODIMP OnReject(VARIANT sender) override;
    STDMETHODIMP OnTimeout(VARIANT sender, VARIANT timeout) override;
    STDMETHODIMP OnCancel(VARIANT sender) override;
    STDMETHODIMP OnFailure(VARIANT sender) override;

    // The notes accepted in this cash session.
    BillSet Tally() const { return tally_; }
    // For a sink that no session took: its end is then not reported.
    void DropEndReport() { reportEnd_ = false; }

private:
    using TracePart = std::pair<const wchar_t*, const VARIANT*>;
    void Trace(const wchar_t* signature, std::initializer_list<TracePart> parts = {}) const;

    std::shared_ptr<CashCounting> counting_;
    BillSet tally_;
    bool reportEnd_ = true;
};

}  // namespace Plugin
