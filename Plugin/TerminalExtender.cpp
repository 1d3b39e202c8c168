#include "Plugin/TerminalExtender.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"
#include "Plugin/CashSessionEvents.h"
#include "Plugin/Config.h"
#include "Plugin/Reports.h"
#include "Plugin/Extenders.h"
#include "Plugin/Version.h"
#include <algorithm>

namespace Plugin {

// {6C0F3B52-9E4A-4D0B-A1C7-3F5E2B8D4A61}
const IID IID_ITallymarkTerminalExtender = {0x6c0f3b52, 0x9e4a, 0x4d0b, {0xa1, 0xc7, 0x3f, 0x5e, 0x2b, 0x8d, 0x4a, 0x61}};

namespace ReportSteps {
const ReportStep Exit{nullptr, L"Exit", L"Run", L"", L"Exit Report Template", L"", L""};
const ReportStep Stacker{L"Stacker", L"Stacker", L"Stacker", L"", L"Stacker Report Template", L"", L"об установке стекера"};
const ReportStep NextDay{L"Today", L"NextDay", L"Today", L"", L"Daily Report Template", L"", L"о смене текущей даты"};
const ReportStep ZReport{L"ZReport", L"ZReport", L"ZReport", L"ZReport", L"ZReport Report Template", L"zreport.report", L""};
const ReportStep Payment{nullptr, L"Payment", L"Payment", L"", L"Payment Report Template", L"", L"о приёме платежа"};
const ReportStep SessionFinish{nullptr, L"SessionFinish", L"Session", L"", L"Session Finish Report Template", L"", L""};
const ReportStep Collect{nullptr, L"Collect", L"collect", L"Collect", L"Collect Report Template", L"collect.report", L"об инкассации"};
}  // namespace ReportSteps

namespace {

const char kSource[] = "Plugin/TerminalExtender";
const wchar_t kCollectRequest[] = L"Tallymark.Collect.Request";
const wchar_t kNoActiveSession[] = L"Нет активного сеанса купюроприёмника (Paylantra.Cash.ActiveSession)";

// Only the thread that made the extenders touches this, through the host's calls and the timer.
TerminalExtender* g_current = nullptr;

void Check(HRESULT hr, int line) { CoCallEx(hr, AppFrame::CodeModule(), kSource, line); }

}  // namespace

struct TerminalExtender::DayTimer {
    UINT_PTR id = 0;
    ~DayTimer() {
        if (id) KillTimer(nullptr, id);
    }
};

TerminalExtender::TerminalExtender(IPaylantraTerminal* terminal)
    : terminal_(terminal),
      debugKey_(HKEY_CURRENT_USER, kDebugKey, false, kRegReadAccess),
      counters_(log_, [this](const CounterValues& values, const std::wstring& range) { limits_.Check(values, range); }) {
    // The host holds the extender through the first version of its interface.
    Serve(IID_IPaylantraTerminalExtender, static_cast<IPaylantraTerminalExtender2*>(this));
    Serve(IID_ITallymarkTerminalExtender, static_cast<IPaylantraTerminalExtender2*>(this));
    g_current = this;
    try {
        terminal_.GetApplication()->WithdrawFailure(CoString(kCollectRequest));

        RegKey userKey(HKEY_CURRENT_USER, kPluginKey, false, kRegReadAccess);
        RealTime today;
        // A Today that cannot be read must not pass for a missed day: that would reset "Today".
        if (ScanDateTime(userKey[L"Today"].TextOr(L"", kSource, __LINE__), 0, today)) today_ = today;

        RegKey machineKey(HKEY_LOCAL_MACHINE, kPluginKey, false, kRegReadAccess);
        // Unread, the log would be written nowhere and nothing would say why.
        log_.SetPathTemplate(machineKey[L"LogPath"].TextOr(L"", kSource, __LINE__));
        log_.RollToToday();

        collection_.ReadPreviousRecord();

        RegKey config(HKEY_LOCAL_MACHINE, kConfigKey, false, kRegReadAccess);
        StartDayTimer(UINT(ReadSetting(config, L"HeartBeat Timeout", 1000)));

        counters_.InsertCounterNames();
        counters_.Refresh();
    } catch (...) {
        // The destructor will not run: nothing may keep pointing here.
        StopDayTimer();
        if (g_current == this) g_current = nullptr;
        throw;
    }
}

TerminalExtender::~TerminalExtender() {
    try {
        log_.Close();
    } catch (...) {
    }
    // A newer extender may have taken over the timer's attention.
    if (g_current == this) g_current = nullptr;
    StopDayTimer();
}

TerminalExtender* TerminalExtender::Current() { return g_current; }

void TerminalExtender::StartDayTimer(UINT period) {
    auto timer = std::make_unique<DayTimer>();
    timer->id = SetTimer(nullptr, 0, period, &TerminalExtender::DayTimerProc);
    CHECK_WIN32(timer->id != 0, kSource);
    delete timer_.exchange(timer.release());
}

void TerminalExtender::StopDayTimer() { delete timer_.exchange(nullptr); }

void CALLBACK TerminalExtender::DayTimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept {
    if (TerminalExtender* extender = Current()) extender->TryDayTick();
}

void TerminalExtender::TryDayTick() noexcept {
    std::wstring failure;
    try {
        DayTick();
        dayChangeFailure_.clear();
        return;
    } catch (const VelmorException& error) {
        failure = error.ReasonW();
    } catch (const std::exception& error) {
        failure = Widen(error.what());
    } catch (...) {
        failure = L"неизвестная ошибка";
    }
    // A failure that persists is recorded once, not at every tick.
    if (failure == dayChangeFailure_) return;
    dayChangeFailure_ = failure;
    try {
        log_.Write(LogEvent::CallbackError, L"не удалось сменить текущую дату: " + failure);
    } catch (...) {
        OutputDebugStringW((L"Tallymark day change: " + failure).c_str());
    }
}

void TerminalExtender::DayTick() {
    RealTime today = log_.Now().Date();
    if (today == today_) return;
    // The new day counts only once the change went through, so a failed one is tried again.
    ReportWithReset(ReportSteps::NextDay);
    RegKey key(HKEY_CURRENT_USER, kPluginKey, true, kRegWriteAccess);
    key[L"Today"] = Format(today, 0);
    today_ = today;
    log_.Roll(today_);
}

STDMETHODIMP TerminalExtender::OnStart(IDispatch*) {
    return PAYLANTRA_METHOD(kSource, [&] {
        startRecord_ = ResetCounter(L"App");
        counters_.Refresh();
        RaiseAlert(L"Startup", &startRecord_);
    });
}

STDMETHODIMP TerminalExtender::OnExit(IDispatch*) {
    return PAYLANTRA_METHOD(kSource, [&] {
        ReportPeriod(ReportSteps::Exit, startRecord_);
        counters_.RefreshAndCheckLimits();
    });
}

STDMETHODIMP TerminalExtender::OnEvent(IDispatch*, BSTR name) {
    return PAYLANTRA_METHOD(kSource, [&] { HandleEvent(BstrText(name)); });
}

void TerminalExtender::HandleEvent(const std::wstring& name) {
    if (EqualNoCase(name, L"Poll")) {
        DebugMessage(nullptr, L"Terminal event " + name, L"Velmor Paylantra Tallymark plugin v." + Widen(kVersionText));
    } else if (EqualNoCase(name, L"Tallymark.OnCashSession")) {
        StartCashSession();
    } else if (EqualNoCase(name, L"Tallymark.OnCashClose")) {
        CloseCashSession();
    } else if (EqualNoCase(name, L"Tallymark.Collect.Init")) {
        collection_.Open();
    } else if (EqualNoCase(name, L"Tallymark.Collect.Done")) {
        collection_.Done();
    } else if (EqualNoCase(name, L"Tallymark.Collect.Close")) {
        collection_.RequestClose(false);
    } else if (EqualNoCase(name, L"Tallymark.Collect.Cancel")) {
        collection_.RequestClose(true);
    } else if (EqualNoCase(name, L"Tallymark.ZReport.Ready")) {
        log_.Write(LogEvent::ZReportReady, std::wstring(L"готовность к печати Z-отчёта"));
    } else if (EqualNoCase(name, L"Tallymark.ZReport.Done")) {
        log_.Write(LogEvent::ZReportDone, std::wstring(L"Z-отчёт напечатан"));
        ReportWithReset(ReportSteps::ZReport);
    }
}

void TerminalExtender::StartCashSession() {
    log_.Write(LogEvent::CashInit, std::wstring(L"задействован приём купюр"));
    // Without the sink no note of this payment is counted: a failed subscription is tried once more
    // before it is reported.
    try {
        AdviseCashSession();
    } catch (const VelmorException&) {
        AdviseCashSession();
    }
    cashSessionOpen_ = true;
    paymentRecord_ = ResetCounter(L"Payment");
    counters_.Refresh();
}

void TerminalExtender::AdviseCashSession() {
    co<IPaylantraCash> cash = terminal_.GetCash();
    Variant active;
    Check(cash->GetActiveSession(active.Out()), __LINE__);
    if (active.Type() != VT_DISPATCH || !active.ToDispatch()) throw VMAppException(kNoActiveSession);

    co<IPaylantraCashSession> session(active.ToDispatch());
    co<IConnectionPointContainer> container(session.Get());
    co<IConnectionPoint> point;
    Check(container->FindConnectionPoint(IID_IPaylantraCashSessionEvents, point.Out()), __LINE__);
    if (!point) Check(E_POINTER, __LINE__);
    co<IPaylantraCashSessionEvents> sink = co<IPaylantraCashSessionEvents>::Attach(new CashSessionEvents(this));
    DWORD cookie = 0;
    HRESULT hr = point->Advise(sink.Get(), &cookie);
    // A sink the session never took has no cash session to report on.
    if (FAILED(hr)) static_cast<CashSessionEvents*>(sink.Get())->DropEndReport();
    Check(hr, __LINE__);
}

void TerminalExtender::CloseCashSession() {
    // A repeated or stray close has no payment of its own to number.
    bool wasOpen = cashSessionOpen_;
    cashSessionOpen_ = false;
    if (wasOpen && CounterStore::Load(L"Payment").TotalCount() > 0) {
        RegKey key(HKEY_CURRENT_USER, kPluginKey, true, kRegWriteAccess);
        RegKey::Value number = key[L"PrevCashSessionNumber"];
        DWORD next = number.IntOr(0, kSource, __LINE__) + 1;
        number = next;
        paymentRecord_.number = next;
        ReportPeriod(ReportSteps::Payment, paymentRecord_);
    }
    counters_.Refresh();
}

STDMETHODIMP TerminalExtender::OnTerminalFailure(IDispatch*, BSTR name, long set) {
    return PAYLANTRA_METHOD(kSource, [&] {
        keystringW failure(BstrText(name));
        size_t before = failures_.size();
        auto it = std::lower_bound(failures_.begin(), failures_.end(), failure);
        bool present = it != failures_.end() && *it == failure;
        if (set && !present) failures_.insert(it, failure);
        if (!set && present) failures_.erase(it);
        if (collection_.IsOpen() && (before != 0 || !failures_.empty())) {
            collection_.ReportFailures(failures_);
            terminal_.SetPropertyBool("Tallymark.Print.Failure",
                                      std::binary_search(failures_.begin(), failures_.end(), keystringW(L"Printer")));
        }
    });
}

STDMETHODIMP TerminalExtender::OnStackerRemoved(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&] {
        log_.Write(LogEvent::StackerDisposed, std::wstring(L"стекер удалён"));
        if (!Collection::Enabled()) return;
        co<IPaylantraSession> host(session);
        if (host) host->SetProperty(CoString(kCollectRequest), nullptr);
        RaiseAlert(L"NoStacker", nullptr);
        collection_.OnStackerRemoved();
    });
}

STDMETHODIMP TerminalExtender::OnStackerInstalled(IDispatch*) {
    return PAYLANTRA_METHOD(kSource, [&] {
        log_.Write(LogEvent::StackerInstalled, std::wstring(L"стекер установлен"));
        ReportWithReset(ReportSteps::Stacker);
        if (!Collection::Enabled()) return;
        collection_.OnStackerInstalled();
    });
}

STDMETHODIMP TerminalExtender::OnZReportReady(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&]() -> HRESULT {
        co<IPaylantraSession> host(session);
        return host ? host->Event(CoString(L"Tallymark.ZReport.Ready")) : E_POINTER;
    });
}

STDMETHODIMP TerminalExtender::OnZReportDone(IDispatch* session) {
    return PAYLANTRA_METHOD(kSource, [&]() -> HRESULT {
        co<IPaylantraSession> host(session);
        return host ? host->Event(CoString(L"Tallymark.ZReport.Done")) : E_POINTER;
    });
}

STDMETHODIMP TerminalExtender::OnNotify(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT) { return S_OK; }

void TerminalExtender::CountBill(uint32_t denomination, const std::wstring& currency) {
    // A note taken after midnight belongs to the new day: the change comes first, or its reset of
    // "Today" would wipe the note. A failed change is retried by the timer; the note still counts.
    TryDayTick();
    counters_.CountBill(denomination, currency);
}

void TerminalExtender::ReportCashSessionEnd(const CashSessionEvents& sink) {
    counters_.ReportSessionEnd(sink.Tally(), cashSessionOpen_);
}

ResetInfo TerminalExtender::ResetCounter(const std::wstring& counter) { return counters_.Reset(counter); }

void TerminalExtender::ReportWithReset(const ReportStep& step) {
    if (!step.resetFirst) throw InternalError("ReportWithReset: the report step names no counter to reset");
    ResetInfo info = ResetCounter(step.resetFirst);
    ReportPeriod(step, info);
    counters_.Refresh();
}

void TerminalExtender::ReportPeriod(const ReportStep& step, const ResetInfo& info) {
    TextParams params = ReportParams(info);
    WriteReport(step, info.number, params);
    alerts_.RaiseEventAlert(step.alert, &params);
}

void TerminalExtender::WriteReport(const ReportStep& step, uint32_t number, const TextParams& params) {
    reports_.Write(number, params, {step.pathValue, step.defaultSubfolder, step.templateOption, step.defaultTemplate, step.description});
}

// `dates`, when given, are the report date-time parameters of the alert.
void TerminalExtender::RaiseAlert(const wchar_t* alert, const ResetInfo* dates) {
    TextParams params;
    if (dates) params = ReportParams(*dates);
    alerts_.RaiseEventAlert(alert, &params);
}

IPaylantraTerminalExtender2* CreateTerminalExtender(IPaylantraTerminal* terminal) { return new TerminalExtender(terminal); }


}  // namespace Plugin
