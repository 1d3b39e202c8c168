// The checks of every collection: what the terminal's records, its log days and the cash office's
// count say together.
#pragma once
#include "Store.h"
#include <string>
#include <vector>

namespace Ledger {

struct Issue {
    std::string terminal;
    int64_t terminalId = 0;
    int64_t collection = -1;  // the opened position of the collection it belongs to; -1: the stacker now
    std::string label;        // "collection 3 opened 2026-12-08 14:00:00" or "the stacker since the last collection"
    std::string message;
    std::string Line() const { return terminal + ", " + label + ": " + message; }
};

// In terminal order, then by collection, then by where in the log.
std::vector<Issue> Reconcile(Store& store, const Filter& filter);

// The collection of a terminal that the cash office's count of `number` is about: the last done
// one of that number, else the last of that number; null when there is none.
const Collection* CountedCollection(const std::vector<TerminalCollection>& collections, int64_t terminal, uint32_t number);

}  // namespace Ledger
