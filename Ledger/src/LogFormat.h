// The records of a terminal's daily operation log, as the plugin writes them:
// "HH:MM:SS.mmm<TAB>number<TAB>CODE" and, with a description, "<TAB>;description", CR LF, Windows-1251.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace Ledger {

enum Event : int {
    kLogOpen = 1,
    kLogClose = 2,
    kCashInit = 5,
    kCashAccept = 6,
    kCashDone = 7,
    kCashCancel = 8,
    kStackerDisposed = 9,
    kStackerInstalled = 10,
    kCollectOpen = 13,
    kCollectDone = 14,
    kCollectClosed = 15,
    kCollectCancel = 19,
    kCollectError = 20,
    kCounterReset = 21,
    kReportInit = 22,
    kReportDone = 23,
    kReportError = 24,
    kAlertDone = 25,
    kAlertMail = 26,
    kAlertError = 27,
    kZReportReady = 28,
    kZReportDone = 30,
    kCallbackError = 31,
};

// The code of an event number ("CASH.ACCEPT"); null for a number the plugin never writes.
const char* EventCode(int event);

// One record; the description is UTF-8.
struct Record {
    int line = 0;    // 1-based line number in its file
    int timeMs = 0;  // milliseconds since midnight
    int event = 0;
    std::string description;
};

// Reads one line (without its CR LF). On failure `reason` says why, for the table of rejected lines.
bool ParseLine(std::string_view line, Record& record, std::string& reason);

// Currency code to amount, as the stacker summaries carry it.
using Amounts = std::map<std::string, uint32_t>;

// "принята купюра 100 RUB (всего в стекере купюр 3 шт.: RUB¤300)"
struct AcceptedNote {
    uint32_t denomination = 0;
    std::string currency;
    uint32_t stackerCount = 0;
    Amounts stackerAmounts;
};
bool ParseAccepted(std::string_view description, AcceptedNote& note);
// "открыта инкассация №2 (в стекере должно быть купюр: 6 шт.)"
bool ParseCollectOpen(std::string_view description, uint32_t& number, uint32_t& expected);
// "выполнена инкассация №2 (...)"
bool ParseCollectDone(std::string_view description, uint32_t& number);
// "сброшен счётчик купюр "Collect" (...)"
bool ParseCounterReset(std::string_view description, std::string& counter);

}  // namespace Ledger
