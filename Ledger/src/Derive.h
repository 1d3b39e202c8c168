// What the records of one terminal add up to: its collections with the notes each took, the
// findings along the way, and the takings per day. Records are read in the order the terminal
// wrote them (day, file, line), never sorted by their clock.
#pragma once
#include "LogFormat.h"
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Ledger {

// Currency to denomination to count.
using Notes = std::map<std::string, std::map<uint32_t, uint32_t>>;

uint64_t NoteCount(const Notes& notes);
// Currency to amount.
std::map<std::string, uint64_t> NoteAmounts(const Notes& notes);
// "1550 RUB" or "1550 RUB + 20 USD"; "0" for no notes.
std::string AmountText(const Notes& notes);

// Where a record stands in its terminal's history: day, the file's rank within the day, line.
using Position = int64_t;
inline Position MakePosition(int day, int rank, int line) {
    return (int64_t(day) << 32) | (int64_t(rank) << 24) | int64_t(line);
}
inline int PositionDay(Position at) { return int(at >> 32); }

struct Collection {
    Position opened = 0;
    Position cut = -1;  // the record at which its notes were taken: the counter's reset, else its end
    Position ended = -1;
    uint32_t number = 0;
    std::string openedAt, doneAt, closedAt;  // "YYYY-MM-DD HH:MM:SS"; empty when it did not happen
    std::string result = "open";             // closed, cancelled or open
    uint32_t expected = 0;
    Notes notes;
    std::string errors;  // its COLLECT.ERROR texts, one a line
};

struct Finding {
    Position at = 0;
    std::string message;
};

struct Takings {
    int day = 0;
    std::string currency;
    uint64_t notes = 0, amount = 0;
};

// What carries from one file to the next.
struct DeriveState {
    Notes counter;  // the stacker's notes since its counter's last reset at a collection
    bool lastKnown = false;
    uint32_t lastCount = 0;  // the stacker's count and amounts as the last CASH.ACCEPT gave them
    Amounts lastAmounts;
    std::optional<Collection> open;

    std::string Serialize() const;
    static DeriveState Parse(const std::string& text);
};

class Deriver {
public:
    explicit Deriver(DeriveState state) : state_(std::move(state)) {}

    void BeginFile(int day, int rank);
    void Add(const Record& record);
    const DeriveState& State() const { return state_; }
    // Ends the run: the collection still open, if any, is reported as it stands.
    void Finish();

    std::vector<Collection> collections;
    std::vector<Finding> findings;
    std::vector<Takings> takings;

private:
    std::string Stamp(int timeMs) const;
    void Note(const Record& record, std::string message);
    void Accept(const Record& record);
    void Reset(const Record& record);
    void Open(const Record& record);
    void End(const Record& record, const char* result);
    void Cut(Collection& collection, Position at);

    DeriveState state_;
    int day_ = 0, rank_ = 0, lastMs_ = -1;
    std::map<std::pair<int, std::string>, Takings> takings_;
};

}  // namespace Ledger
