#include "Plugin/Terminal/TerminalSide.h"
#include "Framework/Com.h"
#include "Framework/Registry.h"
#include "Plugin/Settings/Config.h"

namespace Plugin {

namespace {
const char kSource[] = "Plugin/Terminal/TerminalSide";
}  // namespace

TerminalSide::TerminalSide(IPaylantraTerminal* terminal) : terminal_(terminal) {
    terminal_.GetApplication()->WithdrawFailure(CoString(kCollectRequest));
    day_.LoadToday();
    // Unread, the log would be written nowhere and nothing would say why.
    RegKey machine(HKEY_LOCAL_MACHINE, kPluginKey, false, kRegReadAccess);
    log_.SetPathTemplate(machine[L"LogPath"].TextOr(L"", kSource, __LINE__));
    log_.RollToToday();
    collection_.ReadPreviousRecord();
    day_.Start();
    counters_.InsertCounterNames();
    counters_.Refresh();
}

TerminalSide::~TerminalSide() {
    try {
        log_.Close();
    } catch (...) {
    }
}

ResetInfo TerminalSide::StartSessionPeriod() {
    ResetInfo period = counters_.Reset(L"Session");
    counters_.Refresh();
    return period;
}

void TerminalSide::EndSessionPeriod(const ResetInfo& period) {
    periods_.Report(ReportSteps::SessionFinish, period);
    counters_.Refresh();
}

void TerminalSide::RepublishStackerState() {
    if (collection_.StackerRemoved()) collection_.PublishStackerState();
}

CounterValues TerminalSide::PublishedValues() const { return Overlaid(counters_.Published(), collection_.Frozen().values); }

ResetInfoMap TerminalSide::PublishedResets() const { return Overlaid(counters_.Resets(), collection_.Frozen().resets); }

}  // namespace Plugin
