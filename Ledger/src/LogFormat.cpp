#include "LogFormat.h"
#include "Text.h"

namespace Ledger {

namespace {

struct EventName {
    int event;
    const char* code;
};
const EventName kEvents[] = {
    {kLogOpen, "LOG.OPEN"},           {kLogClose, "LOG.CLOSE"},         {kCashInit, "CASH.INIT"},
    {kCashAccept, "CASH.ACCEPT"},     {kCashDone, "CASH.DONE"},         {kCashCancel, "CASH.CANCEL"},
    {kStackerDisposed, "STACKER.DISPOSED"}, {kStackerInstalled, "STACKER.INSTALLED"},
    {kCollectOpen, "COLLECT.OPEN"},   {kCollectDone, "COLLECT.DONE"},   {kCollectClosed, "COLLECT.CLOSED"},
    {kCollectCancel, "COLLECT.CANCEL"}, {kCollectError, "COLLECT.ERROR"}, {kCounterReset, "COUNTER.RESET"},
    {kReportInit, "REPORT.INIT"},     {kReportDone, "REPORT.DONE"},     {kReportError, "REPORT.ERROR"},
    {kAlertDone, "ALERT.DONE"},       {kAlertMail, "ALERT.MAIL"},       {kAlertError, "ALERT.ERROR"},
    {kZReportReady, "ZREPORT.READY"}, {kZReportDone, "ZREPORT.DONE"},   {kCallbackError, "CALLBACK.ERROR"},
};

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Takes `literal` off the front of `text`.
bool Take(std::string_view& text, std::string_view literal) {
    if (text.substr(0, literal.size()) != literal) return false;
    text.remove_prefix(literal.size());
    return true;
}

// Takes an unsigned decimal number off the front of `text`.
bool TakeNumber(std::string_view& text, uint32_t& value) {
    size_t length = 0;
    while (length < text.size() && text[length] >= '0' && text[length] <= '9') ++length;
    if (!ParseUnsigned(text.substr(0, length), value)) return false;
    text.remove_prefix(length);
    return true;
}

std::string Hex(unsigned char byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

}  // namespace

const char* EventCode(int event) {
    for (const EventName& entry : kEvents)
        if (entry.event == event) return entry.code;
    return nullptr;
}

bool ParseLine(std::string_view line, Record& record, std::string& reason) {
    for (unsigned char byte : line)
        if (byte < 0x20 && byte != '\t') {
            reason = byte == 0 ? "NUL bytes: not Windows-1251 text (UTF-16?)" : "control byte " + Hex(byte) + " in the line";
            return false;
        }
    if (LooksUtf8(line)) {
        reason = "UTF-8 text, not Windows-1251";
        return false;
    }
    int h, m, s, ms;
    if (line.size() < 13 || !Digits(line, 0, 2, h) || line[2] != ':' || !Digits(line, 3, 2, m) || line[5] != ':' ||
        !Digits(line, 6, 2, s) || line[8] != '.' || !Digits(line, 9, 3, ms) || line[12] != '\t') {
        reason = "not a log record: no time HH:MM:SS.mmm and tab at its start";
        return false;
    }
    if (h > 23 || m > 59 || s > 59) {
        reason = "time out of range: " + std::string(line.substr(0, 12));
        return false;
    }
    record.timeMs = ((h * 60 + m) * 60 + s) * 1000 + ms;
    std::string_view rest = line.substr(13);
    size_t tab = rest.find('\t');
    std::string_view number = rest.substr(0, tab);
    uint32_t event = 0;
    if (tab == std::string_view::npos || !ParseUnsigned(number, event)) {
        reason = tab == std::string_view::npos ? "not a log record: no tab after the event number" : "event number does not parse";
        return false;
    }
    rest.remove_prefix(tab + 1);
    tab = rest.find('\t');
    std::string_view code = rest.substr(0, tab);
    const char* known = EventCode(int(event));
    bool codeKnown = false;
    for (const EventName& entry : kEvents) codeKnown = codeKnown || code == entry.code;
    if (!codeKnown) {
        reason = "unknown event code";
        return false;
    }
    if (!known || code != known) {
        reason = "event number " + std::to_string(event) + " does not belong to " + std::string(code);
        return false;
    }
    record.event = int(event);
    record.description.clear();
    if (tab != std::string_view::npos) {
        rest.remove_prefix(tab + 1);
        if (rest.empty() || rest[0] != ';') {
            reason = "no ';' before the description";
            return false;
        }
        std::optional<std::string> text = FromCp1251(rest.substr(1));
        if (!text) {
            reason = "byte 0x98 is no Windows-1251 character";
            return false;
        }
        record.description = std::move(*text);
    }
    // The records the ledger counts from must say what they say in full.
    AcceptedNote note;
    uint32_t a, b;
    std::string counter;
    bool readable = true;
    switch (record.event) {
        case kCashAccept: readable = ParseAccepted(record.description, note); break;
        case kCollectOpen: readable = ParseCollectOpen(record.description, a, b); break;
        case kCollectDone: readable = ParseCollectDone(record.description, a); break;
        case kCounterReset: readable = ParseCounterReset(record.description, counter); break;
        default: break;
    }
    if (!readable) {
        reason = "the description of " + std::string(code) + " does not read";
        return false;
    }
    return true;
}

bool ParseAccepted(std::string_view text, AcceptedNote& note) {
    if (!Take(text, "принята купюра ") || !TakeNumber(text, note.denomination) || !Take(text, " ")) return false;
    size_t blank = text.find(' ');
    if (blank == 0 || blank == std::string_view::npos) return false;
    note.currency = std::string(text.substr(0, blank));
    text.remove_prefix(blank);
    if (!Take(text, " (всего в стекере купюр ") || !TakeNumber(text, note.stackerCount) || !Take(text, " шт.: ")) return false;
    if (text.empty() || text.back() != ')') return false;
    text.remove_suffix(1);
    note.stackerAmounts.clear();
    for (;;) {
        size_t sign = text.find("¤");
        if (sign == 0 || sign == std::string_view::npos) return false;
        std::string currency(text.substr(0, sign));
        text.remove_prefix(sign + std::string_view("¤").size());
        uint32_t amount = 0;
        if (!TakeNumber(text, amount)) return false;
        note.stackerAmounts[currency] = amount;
        if (text.empty()) break;
        if (!Take(text, " + ")) return false;
    }
    return note.stackerAmounts.count(note.currency) == 1;
}

bool ParseCollectOpen(std::string_view text, uint32_t& number, uint32_t& expected) {
    return Take(text, "открыта инкассация №") && TakeNumber(text, number) && Take(text, " (в стекере должно быть купюр: ") &&
           TakeNumber(text, expected) && Take(text, " шт.)") && text.empty();
}

bool ParseCollectDone(std::string_view text, uint32_t& number) {
    return Take(text, "выполнена инкассация №") && TakeNumber(text, number) && Take(text, " (") && !text.empty() &&
           text.back() == ')';
}

bool ParseCounterReset(std::string_view text, std::string& counter) {
    if (!Take(text, "сброшен счётчик купюр \"")) return false;
    size_t quote = text.find('"');
    if (quote == std::string_view::npos) return false;
    counter = std::string(text.substr(0, quote));
    text.remove_prefix(quote + 1);
    return Take(text, " (") && !text.empty() && text.back() == ')';
}

}  // namespace Ledger
