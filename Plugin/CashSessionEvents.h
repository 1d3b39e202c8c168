// The sink of the bill acceptor's cash-session events: counts each accepted note and reports the
// session's tally when the host lets it go.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "AppFrame/Include/co.h"
#include "Plugin/BillCounters.h"
#include <initializer_list>
#include <utility>

namespace Plugin {

class TerminalExtender;

class CashSessionEvents : public PaylantraObject2<IPaylantraCashSessionEvents> {
public:
    explicit CashSessionEvents(TerminalExtender* extender);
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

    co<IUnknown> extenderReference_;
    TerminalExtender* extender_;
    BillSet tally_;
    bool reportEnd_ = true;
};

}  // namespace Plugin
