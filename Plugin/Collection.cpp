#include "Plugin/Collection.h"
#include "Framework/Exceptions.h"
#include "Framework/Messages.h"
#include "Framework/Registry.h"
#include "Plugin/Config.h"
#include "Plugin/JobErrors.h"
#include "Plugin/TerminalExtender.h"
#include <exception>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Collection";
const wchar_t kSummary[] = L"Summary";

void Check(HRESULT hr, int line) { CoCallEx(hr, AppFrame::CodeModule(), kSource, line); }

std::wstring SummaryPath() { return std::wstring(kCollectKey) + L"\\" + kSummary; }

RealTime ScanUtc(const std::wstring& text) {
    RealTime time;
    if (ScanDateTime(text, 0, time)) return time.Local();
    return RealTime::Never;
}

}  // namespace

// Read strictly: taken for "off", a failed read would leave the "Collect" counter unreset unseen.
bool Collection::Enabled() { return PluginOptions(kOptionsKey).Read(L"Collect Enabled", false, kSource, __LINE__); }

void Collection::ReadPreviousRecord() {
    RegKey record(HKEY_LOCAL_MACHINE, kCollectKey, false, kRegReadAccess);
    prevNumber_ = record[L"Number"].IntOr(0, kSource, __LINE__);
    prevTime_ = ScanUtc(record[L"timestamp"].TextOr(L"", kSource, __LINE__));
}

void Collection::Open() {
    // A second Init would number the collection anew and freeze a counter the first may have reset.
    if (!Enabled() || open_) return;
    CounterValues& snapshot = owner_.Counters().SnapshotValues();
    ResetInfoMap& snapshotResets = owner_.Counters().SnapshotResets();
    try {
        ReadPreviousRecord();
        number_ = prevNumber_ + 1;
        snapshot.clear();
        snapshotResets.clear();
        PublishCounter(snapshot, L"Collect", CounterStore::Load(L"Collect"));
        snapshotResets[L"Collect"] = CounterStore::ReadResetInfo(L"Collect");
        owner_.RefreshPublishedValues();

        terminal_.SetPropertyInt("Tallymark.Collect.Number", number_);
        printTexts_.ChoosePrintHelper();
        PluginOptions options(kOptionsKey);
        // Strict reads: a default standing in for an unread setting would empty a counter its owner
        // keeps, or leave out a fiscal report, and nobody would know.
        auto flag = [&](const wchar_t* name, bool fallback) { return options.Read(name, fallback, kSource, __LINE__); };
        terminal_.SetPropertyBool("Tallymark.Collect.Param.Reset", flag(L"Collect Reset", 1));
        terminal_.SetPropertyBool("Tallymark.Collect.Param.PrintReceipt", flag(L"Collect Print Receipt", 1));
        terminal_.SetPropertyInt("Tallymark.Collect.Param.ReceiptCount",
                                 options.Read(L"Collect Receipt Count", 2, kSource, __LINE__));
        terminal_.SetProperty("Tallymark.Collect.Param.FiscalReport",
                              options.Read(L"Collect Fiscal Report", std::wstring(), kSource, __LINE__));
        printTexts_.PublishPrintDelay();
        unsigned disabled = options.Read(L"Collect Control Disabled", 0u, kSource, __LINE__);
        terminal_.SetPropertyBool("Tallymark.Collect.Control.Reset", !(disabled & 1));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.PrintReceipt", !(disabled & 2));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.XReport", !(disabled & 4));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.ZReport", !(disabled & 8));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.AutoClose", flag(L"Collect On Stacker", 0));
        terminal_.SetPropertyBool("Tallymark.Collect.Control.Cancel", flag(L"Collect Cancel Enabled", 0));
        RegKey debug(HKEY_CURRENT_USER, kDebugCollectKey, false, kRegReadAccess);
        terminal_.SetPropertyBool("Tallymark.Collect.Debug", ReadSetting(debug, L"Show Info", false));

        expectedBills_ = CounterStore::Load(L"Collect").TotalCount();
        log_.Write(LogEvent::CollectOpen, FormatBufferW(256, L"открыта инкассация №%u (в стекере должно быть купюр: %u шт.)",
                                                         unsigned(number_), unsigned(expectedBills_)));
    } catch (...) {
        // Not open: the counter must not stay frozen for a collection that never began.
        snapshot.clear();
        snapshotResets.clear();
        number_ = expectedBills_ = 0;
        throw;
    }
    open_ = true;
    done_ = cancelled_ = closeRequested_ = false;
    PublishStackerState();
    ReportFailures(owner_.Failures());
}

void Collection::Done() {
    // A switch that cannot be read fails the step like any other failure of it, so that the
    // collector may try it again.
    bool enabled = false;
    std::exception_ptr unread;
    try {
        enabled = Enabled();
    } catch (const VelmorException&) {
        unread = std::current_exception();
    }
    if (!enabled && !unread) return;
    PLXDK::Paylantra::PLSession environment = terminal_.GetEnvironmentSession();
    try {
        if (unread) std::rethrow_exception(unread);
        if (!open_) throw VMAppException(L"Инкассация не открыта");
        if (closeRequested_) throw VMAppException(L"Инкассация уже закрывается");
        // Carried out already: doing it again would record the emptied counter over the summary.
        if (done_) {
            environment.SetPropertyBool("Tallymark.Collect.Continue", false);
            return;
        }
        time_ = log_.Now();
        resetAtCollection_ = terminal_.GetPropertyInt("Tallymark.Collect.Param.Reset") != 0;
        uint32_t receipts = uint32_t(terminal_.GetPropertyInt("Tallymark.Collect.Param.ReceiptCount"));
        std::wstring fiscalReport = terminal_.GetProperty("Tallymark.Collect.Param.FiscalReport");

        Persist(Format(time_.UTC(), 0));
        SYSTEMTIME st = time_.ToSystemTime();
        terminal_.SetProperty("Tallymark.Collect.Timestamp", FormatBufferW(64, L"%02u-%02u-%04u %02u:%02u:%02u", st.wMonth, st.wDay,
                                                                           st.wYear, st.wHour, st.wMinute, st.wSecond));
        terminal_.SetPropertyInt("Tallymark.Collect.PrevNumber", prevNumber_);
        terminal_.SetProperty("Tallymark.Collect.PrevDateTime", FormatDateTime(prevTime_, 2));

        std::wstring text = DoneText(receipts, fiscalReport);
        if (resetAtCollection_) {
            owner_.ResetCounter(L"Collect");
            owner_.RefreshPublishedValues();
            terminal_.SetPropertyBool("Tallymark.Collect.Report.Reset", true);
        }
        done_ = true;
        environment.SetPropertyBool("Tallymark.Collect.Continue", false);
        log_.Write(LogEvent::CollectDone, L"выполнена инкассация №" + std::to_wstring(number_) + L" (" + text + L")");
    } catch (const VelmorException&) {
        environment.SetPropertyBool("Tallymark.Collect.Continue", true);
        if (!ReportException()) throw;
    }
}

// The summary first and the number last: a record whose number moved on is a complete one.
void Collection::Persist(const std::wstring& timestamp) {
    RegKey record(HKEY_LOCAL_MACHINE, kCollectKey, true, kRegWriteAccess);
    if (!record) throw VMAppException(L"Не удалось записать номер выполненной инкассации в системный реестр Windows");
    const std::wstring previousStamp = record[L"timestamp"].TextOr(L"", kSource, __LINE__);
    try {
        record.DeleteSubkey(kSummary);
    } catch (const WindowsError&) {
        // Whether anything is left is checked below.
    }
    if (CounterStore::LoadFrom(SummaryPath()).TotalCount() != 0)
        throw VMAppException(L"Не удалось сбросить сводку предыдущей инкассации в системном реестре Windows");
    try {
        BillSet collected = CounterStore::Load(L"Collect");
        for (const auto& [currency, denominations] : collected.Items()) {
            RegKey key(HKEY_LOCAL_MACHINE, SummaryPath() + L"\\" + currency.str(), true, kRegWriteAccess);
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

std::wstring Collection::DoneText(uint32_t receipts, const std::wstring& fiscalReport) const {
    std::wstring text = FormatDateTime(time_, 2);
    text += FormatBufferW(128, L", в стекере должно быть купюр: %u шт.", unsigned(expectedBills_));
    text += resetAtCollection_ ? L", сброс счётчика купюр" : L", счётчик купюр не сбрасывается";
    text += receipts ? FormatBufferW(128, L", печать чеков инкассации: %u шт.", unsigned(receipts)) : L", без чека инкассации";
    text += fiscalReport.empty() ? std::wstring(L", без фискального отчёта") : L", печать " + fiscalReport + L"-отчёта";
    return text;
}

void Collection::RequestClose(bool cancel) {
    if (!Enabled()) return;
    cancelled_ = cancel;
    closeRequested_ = true;
    TryFinish();
}

void Collection::OnStackerRemoved() {
    stackerRemoved_ = true;
    if (open_) {
        PublishStackerState();
    } else if (PluginOptions(kOptionsKey).Read(L"Collect AutoNavigate", true, kSource, __LINE__)) {
        done_ = cancelled_ = closeRequested_ = false;
        terminal_.Navigate(L"Paylantra:collect");
    }
}

void Collection::OnStackerInstalled() {
    stackerRemoved_ = false;
    PublishStackerState();
    TryFinish();
}

bool Collection::TryFinish() {
    if (stackerRemoved_ || !closeRequested_) return false;
    Finish();
    return true;
}

// Whatever fails on the way, the collection ends and the terminal leaves the collection screen;
// the first failure is raised afterwards.
void Collection::Finish() {
    bool completed = open_ && done_ && !cancelled_;
    std::exception_ptr failure;
    int flags = 0;
    Attempt(failure, [&] {
        flags = PluginOptions(kOptionsKey).Read(completed ? L"Collect Completion Flags" : L"Collect Cancel Flags", 0, kSource, __LINE__);
        if (completed) {
            TextParams params;
            params[L"PrevCollect.Number"] = std::to_wstring(prevNumber_);
            params[L"PrevCollect.DateTime"] = FormatDateTime(prevTime_, 2);
            owner_.AlertSender().RaiseEventAlert(L"Collect", &params);
            if (!(flags & 1)) owner_.WriteReport(ReportSteps::Collect, number_, params);
            log_.Write(LogEvent::CollectClosed, std::wstring(L"инкассация завершена"));
        } else {
            log_.Write(LogEvent::CollectCancel, std::wstring(L"инкассация отменена"));
        }
    });
    owner_.Counters().SnapshotValues().clear();
    owner_.Counters().SnapshotResets().clear();
    Attempt(failure, [&] {
        owner_.CheckLimitsAtCollectionEnd();
    });
    if (completed) {
        prevNumber_ = number_;
        prevTime_ = time_;
    }
    open_ = done_ = cancelled_ = closeRequested_ = resetAtCollection_ = false;
    time_ = RealTime::Never;
    number_ = expectedBills_ = 0;
    LeaveScreen(flags, failure);
    if (failure) std::rethrow_exception(failure);
}

void Collection::LeaveScreen(int flags, std::exception_ptr& failure) {
    if (!(flags & 2)) Attempt(failure, [&] { Check(terminal_.GetCash()->Finish(), __LINE__); });
    Attempt(failure, [&] { Check(terminal_.GetEnvironment()->Finish(), __LINE__); });
    if (!(flags & 4)) Attempt(failure, [&] { terminal_.Navigate(L"Paylantra:start"); });
}

void Collection::ReportFailures(const std::vector<keystringW>& failures) {
    std::wstring list;
    for (const keystringW& failure : failures) list += (list.empty() ? L"\"" : L", \"") + failure.str() + L"\"";
    std::wstring shortText, longText;
    if (!failures.empty()) {
        shortText = (failures.size() == 1 ? L"Отказ: " : L"Отказы: ") + list;
        longText = L"отказ терминала при выполнении инкассации: " + list;
    }
    ReportError(shortText, longText);
}

bool Collection::ReportError(const std::wstring& shortText, const std::wstring& longText) {
    RegKey debug(HKEY_CURRENT_USER, kDebugCollectKey, false, kRegReadAccess);
    const std::wstring& logText = longText.empty() ? shortText : longText;
    if (!logText.empty()) log_.Write(LogEvent::CollectError, logText);
    if (!shortText.empty() && ReadSetting(debug, L"Show Errors", false)) DebugMessage(nullptr, shortText);
    terminal_.SetProperty("Tallymark.Collect.Error", shortText);
    printTexts_.RunScriptHook("Tallymark.OnError");
    return !ReadSetting(debug, L"Rethrow Errors", false);
}

bool Collection::ReportException() {
    std::wstring reason;
    try {
        throw;
    } catch (const VelmorException& error) {
        reason = error.ReasonW();
    }
    return ReportError(L"Ошибка: " + reason, L"при выполнении инкассации произошла ошибка: " + reason);
}

void Collection::PublishStackerState() {
    terminal_.SetPropertyBool("Tallymark.StackerInstalled", !stackerRemoved_);
    printTexts_.RunScriptHook("Tallymark.OnStacker");
}

}  // namespace Plugin
