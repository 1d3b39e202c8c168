// The plugin's extension of the host terminal: terminal start and exit, named terminal events,
// device failures, stacker and Z-report notifications, the day timer, the bill counters and the
// operation log.
#pragma once
#include "AppFrame/Include/PaylantraObject.h"
#include "Framework/Registry.h"
#include "Plugin/Alerts.h"
#include "Plugin/BillCounters.h"
#include "Plugin/Collection.h"
#include "Plugin/Limits.h"
#include "Plugin/PLLog.h"
#include "Plugin/PrintTexts.h"
#include "Plugin/Reports.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <atomic>
#include <memory>
#include <vector>

namespace Plugin {

class CashSessionEvents;

// Asked with this IID, a terminal extender answers itself: how a sink keeps it alive.
extern const IID IID_ITallymarkTerminalExtender;

// One row of the report-and-alert step: what is reset first, and what the report and the alert use.
struct ReportStep {
    const wchar_t* resetFirst;  // counter reset before the step, or null
    const wchar_t* alert;
    const wchar_t* pathValue;
    const wchar_t* defaultSubfolder;
    const wchar_t* templateOption;
    const wchar_t* defaultTemplate;
    const wchar_t* description;
};

namespace ReportSteps {
extern const ReportStep Exit, Stacker, NextDay, ZReport, Payment, SessionFinish, Collect;
}

class TerminalExtender : public PaylantraObject2<IPaylantraTerminalExtender2> {
public:
    explicit TerminalExtender(IPaylantraTerminal* terminal);
    ~TerminalExtender() override;

    STDMETHODIMP OnStart(IDispatch* terminal) override;
    STDMETHODIMP OnExit(IDispatch* terminal) override;
    STDMETHODIMP OnEvent(IDispatch* terminal, BSTR name) override;
    STDMETHODIMP OnTerminalFailure(IDispatch* terminal, BSTR name, long set) override;
    STDMETHODIMP OnStackerRemoved(IDispatch* session) override;
    STDMETHODIMP OnStackerInstalled(IDispatch* terminal) override;
    STDMETHODIMP OnZReportReady(IDispatch* session) override;
    STDMETHODIMP OnZReportDone(IDispatch* session) override;
    STDMETHODIMP OnNotify(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT) override;

    // The extender the day timer serves; null when none lives.
    static TerminalExtender* Current();
    // One tick of the day timer: the change of the calendar day. DayTick raises what failed;
    // TryDayTick, as the timer calls it, writes that into the operation log instead.
    void DayTick();
    void TryDayTick() noexcept;

    // Used by the cash-session sink and the session extender.
    void CountBill(uint32_t denomination, const std::wstring& currency);
    void ReportCashSessionEnd(const CashSessionEvents& sink);
    ResetInfo ResetCounter(const std::wstring& counter);
    void RefreshPublishedValues() { counters_.Refresh(); }
    BillSet LoadCounter(const std::wstring& counter) const { return CounterStore::Load(counter); }
    void WriteLog(LogEvent event, const std::string& description) { log_.Write(event, description); }
    // The report-and-alert step of a counting period: the file, then the alert, sent even when no
    // file was written.
    void ReportPeriod(const ReportStep& step, const ResetInfo& info);
    // Only the file of a period's report, for a period that sends its alert itself (a collection).
    void WriteReport(const ReportStep& step, uint32_t number, const TextParams& params);
    // The end of a collection: fresh published values, then the limits against the stored counts.
    void CheckLimitsAtCollectionEnd() { counters_.RefreshAndCheckLimits(); }
    void PublishStackerState() { collection_.PublishStackerState(); }
    // Reports the framework exception being handled as a collection error; true when handled.
    bool ReportCollectionException() { return collection_.ReportException(); }
    // The moment the open collection was carried out; empty at all other times.
    RealTime CollectionTime() const { return collection_.Time(); }
    const Collection& CollectionState() const { return collection_; }
    Alerts& AlertSender() { return alerts_; }
    PrintTexts& Printing() { return printTexts_; }

    PLXDK::Paylantra::PLClient& Terminal() { return terminal_; }
    const RegKey& DebugKey() const { return debugKey_; }
    OperationLog& Log() { return log_; }
    BillCounters& Counters() { return counters_; }
    const CounterValues& PublishedValues() const { return counters_.Published(); }
    RealTime Today() const { return today_; }
    bool CashSessionOpen() const { return cashSessionOpen_; }
    bool StackerRemoved() const { return collection_.StackerRemoved(); }
    const std::vector<keystringW>& Failures() const { return failures_; }
    const ResetInfo& StartRecord() const { return startRecord_; }
    const ResetInfo& PaymentRecord() const { return paymentRecord_; }
private:
    struct DayTimer;

    void HandleEvent(const std::wstring& name);
    void StartCashSession();
    void AdviseCashSession();
    void CloseCashSession();
    void StartDayTimer(UINT period);
    void StopDayTimer();
    static void CALLBACK DayTimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept;

    void ReportWithReset(const ReportStep& step);  // resets first when the row says so
    void RaiseAlert(const wchar_t* alert, const ResetInfo* dates);

    PLXDK::Paylantra::PLClient terminal_;
    RegKey debugKey_;
    OperationLog log_;
    BillCounters counters_;
    Alerts alerts_{terminal_, log_};
    PrintTexts printTexts_{terminal_};
    Reports reports_{log_, printTexts_};
    Limits limits_{terminal_, alerts_};
    Collection collection_{*this, terminal_, log_, printTexts_};
    std::atomic<DayTimer*> timer_{nullptr};
    RealTime today_;
    std::wstring dayChangeFailure_;  // the last failure logged, until a change succeeds
    std::vector<keystringW> failures_;
    bool cashSessionOpen_ = false;
    ResetInfo startRecord_;
    ResetInfo paymentRecord_;
};

}  // namespace Plugin
