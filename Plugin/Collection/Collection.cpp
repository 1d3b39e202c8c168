#include "Plugin/Collection/Collection.h"
#include "AppFrame/Include/co.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Terminal/JobErrors.h"
#include "Plugin/Settings/Settings.h"
#include <algorithm>

using PLXDK::Paylantra::PLSession;

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Collection/Collection";
const char kContinue[] = "Tallymark.Collect.Continue";

RealTime ScanUtc(const std::wstring& text) {
    RealTime time;
    if (ScanDateTime(text, 0, time)) return time.Local();
    return RealTime::Never;
}

}  // namespace

// Read strictly: taken for "off", a failed read would leave the "Collect" counter unreset unseen.
bool Collection::Enabled() { return PluginOptions(kOptionsKey).Read(Options::kCollectEnabled, kSource, __LINE__); }

bool Collection::IsOpen() const {
    return state_ == State::Open || state_ == State::Done || (state_ == State::Closing && closingFrom_ != State::Idle);
}

void Collection::ReadPreviousRecord() {
    RegKey record(HKEY_LOCAL_MACHINE, kCollectKey, false, kRegReadAccess);
    prevNumber_ = record[L"Number"].IntOr(0, kSource, __LINE__);
    prevTime_ = ScanUtc(record[L"timestamp"].TextOr(L"", kSource, __LINE__));
}

void Collection::Open() {
    // A second Init would number the collection anew and freeze a counter the first may have reset.
    if (!Enabled() || IsOpen()) return;
    try {
        ReadPreviousRecord();
        number_ = prevNumber_ + 1;
        frozen_.Clear();
        PublishCounter(frozen_.values, L"Collect", CounterStore::Load(L"Collect"));
        frozen_.resets[L"Collect"] = CounterStore::ReadResetInfo(L"Collect");

        terminal_.SetPropertyInt("Tallymark.Collect.Number", number_);
        printTexts_.ChoosePrintHelper();
        // Strict reads: a default standing in for an unread setting would empty a counter its owner
        // keeps, or leave out a fiscal report, and nobody would know.
        PluginOptions options(kOptionsKey);
        auto read = [&](const auto& option) { return options.Read(option, kSource, __LINE__); };
        terminal_.SetPropertyBool("Tallymark.Collect.Param.Reset", read(Options::kResetCounter));
        terminal_.SetPropertyBool("Tallymark.Collect.Param.PrintReceipt", read(Options::kPrintReceipt));
        terminal_.SetPropertyInt("Tallymark.Collect.Param.ReceiptCount", int(read(Options::kReceiptCount)));
        terminal_.SetProperty("Tallymark.Collect.Param.FiscalReport", read(Options::kFiscalReport));
        printTexts_.PublishPrintDelay();
        unsigned fixed = read(Options::kControlDisabled);
        terminal_.SetPropertyBool("Tallymark.Collect.Control.Reset", !(fixed & kChooseReset));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.PrintReceipt", !(fixed & kChooseReceipt));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.XReport", !(fixed & kChooseXReport));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.ZReport", !(fixed & kChooseZReport));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.AutoClose", read(Options::kCompleteOnStacker));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.Cancel", read(Options::kCancelEnabled));
        RegKey debug(HKEY_CURRENT_USER, kDebugCollectKey, false, kRegReadAccess);
        terminal_.SetPropertyBool("Tallymark.Collect.Debug", ReadSetting(debug, L"Show Info", false));

        expectedBills_ = CounterStore::Load(L"Collect").TotalCount();
        log_.Write(LogEvent::CollectOpen, FormatBufferW(256, L"открыта инкассация №%u (в стекере должно быть купюр: %u шт.)",
                                                         unsigned(number_), unsigned(expectedBills_)));
    } catch (...) {
        // Not open: the counter must not stay frozen for a collection that never began.
        frozen_.Clear();
        number_ = expectedBills_ = 0;
        throw;
    }
    state_ = State::Open;
    closingFrom_ = State::Idle;
    cancelled_ = false;
    PublishStackerState();
    ReportFailures();
}

std::exception_ptr Collection::Refusal() const {
    if (!IsOpen()) return std::make_exception_ptr(VMAppException(L"Инкассация не открыта"));
    if (state_ == State::Closing) return std::make_exception_ptr(VMAppException(L"Инкассация уже закрывается"));
    return nullptr;
}

void Collection::Done() {
    // A switch that cannot be read fails the step like any other failure of it, so that the
    // collector may try it again.
    std::exception_ptr failure;
    bool enabled = false;
    try {
        enabled = Enabled();
    } catch (const VelmorException&) {
        failure = std::current_exception();
    }
    if (!enabled && !failure) return;
    PLSession environment = terminal_.GetEnvironmentSession();
    if (!failure) failure = Refusal();
    if (!failure) {
        try {
            // Carried out already: doing it again would record the emptied counter over the summary.
            if (state_ == State::Done)
                environment.SetPropertyBool(kContinue, false);
            else
                CarryOut(environment);
            return;
        } catch (const VelmorException&) {
            failure = std::current_exception();
        }
    }
    environment.SetPropertyBool(kContinue, true);
    if (!ReportFailure(failure)) std::rethrow_exception(failure);
}

void Collection::CarryOut(PLSession& environment) {
    time_ = log_.Now();
    const bool reset = terminal_.GetPropertyInt("Tallymark.Collect.Param.Reset") != 0;
    uint32_t receipts = uint32_t(terminal_.GetPropertyInt("Tallymark.Collect.Param.ReceiptCount"));
    std::wstring fiscalReport = terminal_.GetProperty("Tallymark.Collect.Param.FiscalReport");

    Persist(Format(time_.UTC(), 0));
    SYSTEMTIME st = time_.ToSystemTime();
    terminal_.SetProperty("Tallymark.Collect.Timestamp", FormatBufferW(64, L"%02u-%02u-%04u %02u:%02u:%02u", st.wMonth, st.wDay,
                                                                       st.wYear, st.wHour, st.wMinute, st.wSecond));
    terminal_.SetPropertyInt("Tallymark.Collect.PrevNumber", prevNumber_);
    terminal_.SetProperty("Tallymark.Collect.PrevDateTime", FormatDateTime(prevTime_, 2));

    std::wstring text = DoneText(receipts, reset, fiscalReport);
    if (reset) {
        counters_.Reset(L"Collect");
        counters_.Refresh();
        terminal_.SetPropertyBool("Tallymark.Collect.Report.Reset", true);
    }
    state_ = State::Done;
    environment.SetPropertyBool(kContinue, false);
    log_.Write(LogEvent::CollectDone, L"выполнена инкассация №" + std::to_wstring(number_) + L" (" + text + L")");
}

// The summary first and the number last: a record whose number moved on is a complete one.
void Collection::Persist(const std::wstring& timestamp) {
    RegKey record(HKEY_LOCAL_MACHINE, kCollectKey, true, kRegWriteAccess);
    if (!record) throw VMAppException(L"Не удалось записать номер выполненной инкассации в системный реестр Windows");
    const std::wstring previousStamp = record[L"timestamp"].TextOr(L"", kSource, __LINE__);
    try {
        record.DeleteSubkey(L"Summary");
    } catch (const WindowsError&) {
        // Whether anything is left is checked below.
    }
    if (CounterStore::LoadFrom(kCollectSummaryKey).TotalCount() != 0)
        throw VMAppException(L"Не удалось сбросить сводку предыдущей инкассации в системном реестре Windows");
    try {
        BillSet collected = CounterStore::Load(L"Collect");
        for (const auto& [currency, denominations] : collected.Items()) {
            RegKey key(HKEY_LOCAL_MACHINE, std::wstring(kCollectSummaryKey) + L"\\" + currency.str(), true, kRegWriteAccess);
            for (const auto& [denomination, count] : denominations) key[std::to_wstring(denomination)] = DWORD(count);
        }
        record[L"timestamp"] = timestamp;
        RegKey::Value number = record[L"Number"];
        number = DWORD(number_);
        DWORD written = 0;
        if (number.Read(written) != ERROR_SUCCESS || written != number_)
            throw VMAppException(L"Не удалось записать номер выполненной инкассации в системный реестр Windows");
    } catch (...) {
        // The last collection's time stays with its number.
        try {
            if (previousStamp.empty()) record[L"timestamp"].Delete();
            else record[L"timestamp"] = previousStamp;
        } catch (...) {
        }
        throw;
    }
}

std::wstring Collection::DoneText(uint32_t receipts, bool reset, const std::wstring& fiscalReport) const {
    std::wstring text = FormatDateTime(time_, 2);
    text += FormatBufferW(128, L", в стекере должно быть купюр: %u шт.", unsigned(expectedBills_));
    text += reset ? L", сброс счётчика купюр" : L", счётчик купюр не сбрасывается";
    text += receipts ? FormatBufferW(128, L", печать чеков инкассации: %u шт.", unsigned(receipts)) : L", без чека инкассации";
    text += fiscalReport.empty() ? std::wstring(L", без фискального отчёта") : L", печать " + fiscalReport + L"-отчёта";
    return text;
}

void Collection::RequestClose(bool cancel) {
    if (!Enabled()) return;
    if (state_ != State::Closing) closingFrom_ = state_;
    state_ = State::Closing;
    cancelled_ = cancel;
    TryFinish();
}

void Collection::OnStackerRemoved(IDispatch* session) {
    log_.Write(LogEvent::StackerDisposed, std::wstring(L"стекер удалён"));
    if (!Enabled()) return;
    co<IPaylantraSession> host(session);
    if (host) host->SetProperty(CoString(kCollectRequest), nullptr);
    alerts_.RaiseEventAlert(L"NoStacker");
    stackerRemoved_ = true;
    if (IsOpen()) {
        PublishStackerState();
    } else if (PluginOptions(kOptionsKey).Read(Options::kAutoNavigate, kSource, __LINE__)) {
        // A close asked for without an open collection is forgotten: the screen starts afresh.
        state_ = closingFrom_ = State::Idle;
        cancelled_ = false;
        terminal_.Navigate(L"Paylantra:collect");
    }
}

void Collection::OnStackerInstalled() {
    log_.Write(LogEvent::StackerInstalled, std::wstring(L"стекер установлен"));
    periods_.ReportWithReset(ReportSteps::Stacker);
    if (!Enabled()) return;
    stackerRemoved_ = false;
    PublishStackerState();
    TryFinish();
}

bool Collection::TryFinish() {
    if (stackerRemoved_ || state_ != State::Closing) return false;
    Finish();
    return true;
}

// Whatever fails on the way, the collection ends and the terminal leaves the collection screen;
// the first failure is raised afterwards.
void Collection::Finish() {
    const bool completed = closingFrom_ == State::Done && !cancelled_;
    std::exception_ptr failure;
    unsigned flags = 0;
    Attempt(failure, [&] {
        flags = PluginOptions(kOptionsKey).Read(completed ? Options::kCompletionFlags : Options::kCancelFlags, kSource, __LINE__);
        if (completed) {
            TextParams params;
            params[L"PrevCollect.Number"] = std::to_wstring(prevNumber_);
            params[L"PrevCollect.DateTime"] = FormatDateTime(prevTime_, 2);
            alerts_.RaiseEventAlert(L"Collect", &params);
            if (!(flags & 1)) periods_.WriteReport(ReportSteps::Collect, number_, params);
            log_.Write(LogEvent::CollectClosed, std::wstring(L"инкассация завершена"));
        } else {
            log_.Write(LogEvent::CollectCancel, std::wstring(L"инкассация отменена"));
        }
    });
    frozen_.Clear();
    Attempt(failure, [&] { counters_.RefreshAndCheckLimits(); });
    if (completed) {
        prevNumber_ = number_;
        prevTime_ = time_;
    }
    state_ = closingFrom_ = State::Idle;
    cancelled_ = false;
    time_ = RealTime::Never;
    number_ = expectedBills_ = 0;
    LeaveScreen(flags, failure);
    if (failure) std::rethrow_exception(failure);
}

void Collection::LeaveScreen(unsigned flags, std::exception_ptr& failure) {
    if (!(flags & 2)) Attempt(failure, [&] { CoCheck(terminal_.GetCash()->Finish(), kSource, __LINE__); });
    Attempt(failure, [&] { CoCheck(terminal_.GetEnvironment()->Finish(), kSource, __LINE__); });
    if (!(flags & 4)) Attempt(failure, [&] { terminal_.Navigate(L"Paylantra:start"); });
}

void Collection::OnTerminalFailure(const std::wstring& name, bool set) {
    keystringW failure(name);
    size_t before = failures_.size();
    auto it = std::lower_bound(failures_.begin(), failures_.end(), failure);
    bool present = it != failures_.end() && *it == failure;
    if (set && !present) failures_.insert(it, failure);
    if (!set && present) failures_.erase(it);
    if (IsOpen() && (before != 0 || !failures_.empty())) {
        ReportFailures();
        terminal_.SetPropertyBool("Tallymark.Print.Failure",
                                  std::binary_search(failures_.begin(), failures_.end(), keystringW(L"Printer")));
    }
}

void Collection::ReportFailures() {
    std::wstring list;
    for (const keystringW& failure : failures_) list += (list.empty() ? L"\"" : L", \"") + failure.str() + L"\"";
    std::wstring shortText, longText;
    if (!failures_.empty()) {
        shortText = (failures_.size() == 1 ? L"Отказ: " : L"Отказы: ") + list;
        longText = L"отказ терминала при выполнении инкассации: " + list;
    }
    ReportError(shortText, longText);
}

bool Collection::ReportError(const std::wstring& shortText, const std::wstring& longText) {
    const std::wstring& logText = longText.empty() ? shortText : longText;
    if (!logText.empty()) log_.Write(LogEvent::CollectError, logText);
    const bool handled = SettleJobError(kDebugCollectKey, shortText);
    terminal_.SetProperty("Tallymark.Collect.Error", shortText);
    printTexts_.RunScriptHook("Tallymark.OnError");
    return handled;
}

bool Collection::ReportFailure(const std::exception_ptr& failure) {
    const std::wstring reason = ReasonOf(failure).value_or(std::wstring());
    return ReportError(L"Ошибка: " + reason, L"при выполнении инкассации произошла ошибка: " + reason);
}

void Collection::PublishStackerState() {
    terminal_.SetPropertyBool("Tallymark.StackerInstalled", !stackerRemoved_);
    printTexts_.RunScriptHook("Tallymark.OnStacker");
}

}  // namespace Plugin
