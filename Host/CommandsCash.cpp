// Scenario commands of the bill acceptor: payments and the cash object's currency.
#include "Host/Scenario.h"

namespace Host {

namespace {

void Payment(Scenario& scenario, Line& line, bool aborted) {
    Terminal& terminal = scenario.Host();
    CashSession& session = terminal.BeginCashSession();
    while (!line.AtEnd()) {
        // "wait ..." between notes lets time pass with the session open.
        if (line.Peek() == L"wait") {
            line.Word();
            RunWait(line, false);
            continue;
        }
        long long denomination = line.Number();
        if (denomination <= 0 || denomination > 1000000) Fail(L"a bill's denomination must be 1 to 1000000");
        session.Accept(long(denomination), line.Word());
    }
    if (aborted)
        terminal.AbortCashSession();
    else
        terminal.EndCashSession();
}

}  // namespace

void AddCashCommands(CommandTable& commands) {
    commands.Add(L"payment N CUR [wait MS|wait tick] N CUR ...",
                 L"starts a bill-acceptor session, raises `Tallymark.OnCashSession`, sends `OnAccept` with a bill object "
                 L"per note to every advised sink, raises `Tallymark.OnCashClose`, then drops the sinks; a `wait` between "
                 L"notes runs the message loop with the session open (a payment across midnight)",
                 [](Scenario& scenario, Line& line) { Payment(scenario, line, false); });
    commands.Add(L"payment-aborted N CUR ...",
                 L"the same up to the notes, then `OnCancel` to the sinks, drops them, and only then raises "
                 L"`Tallymark.OnCashClose`",
                 [](Scenario& scenario, Line& line) { Payment(scenario, line, true); });
    commands.Add(L"currency CODE", L"the cash object's currency",
                 [](Scenario& scenario, Line& line) { scenario.Host().CashObject().currency = line.Word(); });
}

}  // namespace Host
