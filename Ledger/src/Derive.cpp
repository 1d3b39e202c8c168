#include "Derive.h"
#include "Text.h"
#include <sstream>

namespace Ledger {

uint64_t NoteCount(const Notes& notes) {
    uint64_t total = 0;
    for (const auto& [currency, denominations] : notes)
        for (const auto& [denomination, count] : denominations) total += count;
    return total;
}

std::map<std::string, uint64_t> NoteAmounts(const Notes& notes) {
    std::map<std::string, uint64_t> amounts;
    for (const auto& [currency, denominations] : notes)
        for (const auto& [denomination, count] : denominations) amounts[currency] += uint64_t(denomination) * count;
    return amounts;
}

std::string AmountText(const Notes& notes) {
    std::string text;
    for (const auto& [currency, amount] : NoteAmounts(notes))
        text += (text.empty() ? "" : " + ") + std::to_string(amount) + " " + currency;
    return text.empty() ? "0" : text;
}

namespace {

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

void WriteNotes(std::ostringstream& out, const char* tag, const Notes& notes) {
    for (const auto& [currency, denominations] : notes) {
        out << tag << '\t' << currency;
        for (const auto& [denomination, count] : denominations) out << '\t' << denomination << '=' << count;
        out << '\n';
    }
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

void ReadNotes(const std::vector<std::string>& fields, Notes& notes) {
    for (size_t i = 2; i < fields.size(); ++i) {
        size_t equals = fields[i].find('=');
        notes[fields[1]][uint32_t(std::stoul(fields[i].substr(0, equals)))] = uint32_t(std::stoul(fields[i].substr(equals + 1)));
    }
}

}  // namespace

std::string DeriveState::Serialize() const {
    std::ostringstream out;
    out << "last\t" << lastKnown << '\t' << lastCount;
    for (const auto& [currency, amount] : lastAmounts) out << '\t' << currency << '=' << amount;
    out << '\n';
    WriteNotes(out, "counter", counter);
    if (open) {
        const Collection& c = *open;
        out << "open\t" << c.opened << '\t' << c.cut << '\t' << c.number << '\t' << c.expected << '\t' << c.openedAt << '\t'
            << c.doneAt << '\n';
        WriteNotes(out, "taken", c.notes);
        std::istringstream errors(c.errors);
        for (std::string error; std::getline(errors, error);) out << "error\t" << OneLine(error) << '\n';
    }
    return out.str();
}

DeriveState DeriveState::Parse(const std::string& text) {
    DeriveState state;
    std::istringstream in(text);
    try {
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> f = Fields(line);
            if (f[0] == "last" && f.size() >= 3) {
                state.lastKnown = f[1] == "1";
                state.lastCount = uint32_t(std::stoul(f[2]));
                for (size_t i = 3; i < f.size(); ++i) {
                    size_t equals = f[i].find('=');
                    state.lastAmounts[f[i].substr(0, equals)] = uint32_t(std::stoul(f[i].substr(equals + 1)));
                }
            } else if (f[0] == "counter" && f.size() >= 2) {
                ReadNotes(f, state.counter);
            } else if (f[0] == "open" && f.size() == 7) {
                Collection c;
                c.opened = std::stoll(f[1]);
                c.cut = std::stoll(f[2]);
                c.number = uint32_t(std::stoul(f[3]));
                c.expected = uint32_t(std::stoul(f[4]));
                c.openedAt = f[5];
                c.doneAt = f[6];
                state.open = c;
            } else if (f[0] == "taken" && state.open && f.size() >= 2) {
                ReadNotes(f, state.open->notes);
            } else if (f[0] == "error" && state.open && f.size() == 2) {
                state.open->errors += f[1] + "\n";
            } else {
                throw Error("unknown line");
            }
        }
    } catch (const std::exception&) {
        throw Error("the ledger's saved state of a log file does not read; run the ingest again with a new database");
    }
    return state;
}

void Deriver::BeginFile(int day, int rank) {
    day_ = day;
    rank_ = rank;
    lastMs_ = -1;
}

std::string Deriver::Stamp(int timeMs) const { return FormatDay(day_) + " " + FormatClock(timeMs); }

void Deriver::Note(const Record& record, std::string message) {
    findings.push_back({MakePosition(day_, rank_, record.line), std::move(message)});
}

void Deriver::Add(const Record& record) {
    // The close record of a day is written after midnight into that day's file.
    if (record.timeMs < lastMs_ && record.event != kLogClose)
        Note(record, "records out of time order: " + FormatClock(record.timeMs) + " written after " + FormatClock(lastMs_) +
                         " (line " + std::to_string(record.line) + "); the terminal's clock went back");
    if (record.event != kLogClose) lastMs_ = record.timeMs;
    switch (record.event) {
        case kCashAccept: Accept(record); break;
        case kCounterReset: Reset(record); break;
        case kCollectOpen: Open(record); break;
        case kCollectDone: {
            uint32_t number = 0;
            if (state_.open && ParseCollectDone(record.description, number)) state_.open->doneAt = Stamp(record.timeMs);
            break;
        }
        case kCollectClosed: End(record, "closed"); break;
        case kCollectCancel: End(record, "cancelled"); break;
        case kCollectError:
            if (state_.open) state_.open->errors += OneLine(record.description) + "\n";
            break;
        default: break;
    }
}

void Deriver::Accept(const Record& record) {
    AcceptedNote note;
    if (!ParseAccepted(record.description, note)) return;  // never stored: ingest rejects it
    ++state_.counter[note.currency][note.denomination];
    Takings& day = takings_[{day_, note.currency}];
    day.day = day_;
    day.currency = note.currency;
    ++day.notes;
    day.amount += note.denomination;

    const std::string at = " at " + Stamp(record.timeMs);
    if (!state_.lastKnown) {
        if (note.stackerCount != 1)
            Note(record, "the log begins with " + std::to_string(note.stackerCount - 1) +
                             " notes already in the stacker: their records are missing");
    } else if (note.stackerCount != state_.lastCount + 1) {
        long long missing = (long long)note.stackerCount - state_.lastCount - 1;
        Note(record, "the stacker's count jumps from " + std::to_string(state_.lastCount) + " to " +
                         std::to_string(note.stackerCount) + " notes" + at +
                         (missing > 0 ? ": " + std::to_string(missing) + " CASH.ACCEPT record(s) missing" : ": it went back"));
    } else {
        Amounts expected = state_.lastAmounts;
        expected[note.currency] += note.denomination;
        if (expected != note.stackerAmounts) {
            std::string detail;
            for (const auto& [currency, amount] : note.stackerAmounts) {
                uint32_t should = expected.count(currency) ? expected[currency] : 0;
                if (amount != should)
                    detail += (detail.empty() ? "" : ", ") + currency + " " + std::to_string(amount) + " where " +
                              std::to_string(should) + " was due";
            }
            for (const auto& [currency, amount] : expected)
                if (!note.stackerAmounts.count(currency))
                    detail += (detail.empty() ? "" : ", ") + currency + " missing where " + std::to_string(amount) + " was due";
            Note(record, "the stacker's amount jumps" + at + " after a " + std::to_string(note.denomination) + " " + note.currency +
                             " note: " + detail);
        }
    }
    state_.lastKnown = true;
    state_.lastCount = note.stackerCount;
    state_.lastAmounts = note.stackerAmounts;
}

void Deriver::Cut(Collection& collection, Position at) {
    collection.cut = at;
    collection.notes = state_.counter;
}

void Deriver::Reset(const Record& record) {
    std::string counter;
    if (!ParseCounterReset(record.description, counter) || counter != "Collect") return;
    Position at = MakePosition(day_, rank_, record.line);
    if (state_.open && state_.open->cut < 0) {
        Cut(*state_.open, at);
    } else {
        std::string lost = NoteCount(state_.counter)
                               ? ": its " + std::to_string(NoteCount(state_.counter)) + " notes (" + AmountText(state_.counter) +
                                     ") are in no collection"
                               : "";
        Note(record, "the stacker's counter was reset outside a collection at " + Stamp(record.timeMs) + lost);
    }
    state_.counter.clear();
    state_.lastKnown = true;
    state_.lastCount = 0;
    state_.lastAmounts.clear();
}

void Deriver::Open(const Record& record) {
    uint32_t number = 0, expected = 0;
    if (!ParseCollectOpen(record.description, number, expected)) return;
    Position at = MakePosition(day_, rank_, record.line);
    if (state_.open) {
        // Opened again without an end (the terminal restarted in between): the first stays open.
        Collection& earlier = *state_.open;
        if (earlier.cut < 0) Cut(earlier, at);
        earlier.ended = at;
        collections.push_back(earlier);
        state_.open.reset();
    }
    Collection collection;
    collection.opened = at;
    collection.number = number;
    collection.openedAt = Stamp(record.timeMs);
    collection.expected = expected;
    uint64_t recorded = NoteCount(state_.counter);
    if (recorded != expected)
        Note(record, "COLLECT.OPEN expects " + std::to_string(expected) + " notes in the stacker, the log records " +
                         std::to_string(recorded) + " since the last collection");
    state_.open = collection;
}

void Deriver::End(const Record& record, const char* result) {
    if (!state_.open) {
        Note(record, std::string(EventCode(record.event)) + " at " + Stamp(record.timeMs) + " without an open collection");
        return;
    }
    Collection collection = *state_.open;
    state_.open.reset();
    Position at = MakePosition(day_, rank_, record.line);
    if (collection.cut < 0) Cut(collection, at);
    collection.ended = at;
    collection.closedAt = Stamp(record.timeMs);
    collection.result = result;
    collections.push_back(std::move(collection));
}

void Deriver::Finish() {
    if (state_.open) {
        Collection collection = *state_.open;
        if (collection.cut < 0) collection.notes = state_.counter;
        collections.push_back(std::move(collection));
    }
    for (auto& [key, day] : takings_) takings.push_back(day);
    takings_.clear();
}

}  // namespace Ledger
