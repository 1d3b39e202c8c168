#include "Plugin/Collection/CashSessions.h"
#include "AppFrame/Include/co.h"
#include "Framework/Com.h"
#include "Framework/Exceptions.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Settings/Settings.h"

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Collection/CashSessions";
const wchar_t kNoActiveSession[] = L"Нет активного сеанса купюроприёмника (Paylantra.Cash.ActiveSession)";

}  // namespace

CashSessions::CashSessions(PLXDK::Paylantra::PLClient& terminal, OperationLog& log, BillCounters& counters,
                           PeriodReports& periods, DayChange& day, std::function<std::shared_ptr<CashCounting>()> share)
    : terminal_(terminal), log_(log), counters_(counters), periods_(periods), day_(day), share_(std::move(share)),
      debugKey_(HKEY_CURRENT_USER, kDebugKey, false, kRegReadAccess) {}

void CashSessions::Start() {
    log_.Write(LogEvent::CashInit, std::wstring(L"задействован приём купюр"));
    // Without the sink no note of this payment is counted: a failed subscription is tried once more
    // before it is reported.
    try {
        Advise();
    } catch (const VelmorException&) {
        Advise();
    }
    open_ = true;
    payment_ = counters_.Reset(L"Payment");
    counters_.Refresh();
}

void CashSessions::Advise() {
    co<IPaylantraCash> cash = terminal_.GetCash();
    Variant active;
    CoCheck(cash->GetActiveSession(active.Out()), kSource, __LINE__);
    if (active.Type() != VT_DISPATCH || !active.ToDispatch()) throw VMAppException(kNoActiveSession);

    co<IPaylantraCashSession> session(active.ToDispatch());
    co<IConnectionPointContainer> container(session.Get());
    co<IConnectionPoint> point;
    CoCheck(container->FindConnectionPoint(IID_IPaylantraCashSessionEvents, point.Out()), kSource, __LINE__);
    if (!point) CoCheck(E_POINTER, kSource, __LINE__);
    auto* events = new CashSessionEvents(share_());
    co<IPaylantraCashSessionEvents> sink = co<IPaylantraCashSessionEvents>::Attach(events);
    DWORD cookie = 0;
    HRESULT hr = point->Advise(sink.Get(), &cookie);
    // A sink the session never took has no cash session to report on.
    if (FAILED(hr)) events->DropEndReport();
    CoCheck(hr, kSource, __LINE__);
}

void CashSessions::Close() {
    // A repeated or stray close has no payment of its own to number.
    bool wasOpen = open_;
    open_ = false;
    if (wasOpen && CounterStore::Load(L"Payment").TotalCount() > 0) {
        payment_.number = NextRunningNumber(L"PrevCashSessionNumber");
        periods_.Report(ReportSteps::Payment, payment_);
    }
    counters_.Refresh();
}

void CashSessions::CountBill(uint32_t denomination, const std::wstring& currency) {
    // A note taken after midnight belongs to the new day: the change comes first, or its reset of
    // "Today" would wipe the note. A failed change is retried by the timer; the note still counts.
    day_.TryTick();
    counters_.CountBill(denomination, currency);
    log_.CheckWritten();
}

void CashSessions::ReportSessionEnd(const BillSet& tally) { counters_.ReportSessionEnd(tally, open_); }

bool CashSessions::TraceEvents() const { return debugKey_[L"Show CashSession Events"].Int().value_or(0) != 0; }

}  // namespace Plugin
