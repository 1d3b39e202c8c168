// Reading terminals' log folders into the ledger.
#pragma once
#include "Store.h"
#include <string>
#include <vector>

namespace Ledger {

struct IngestTotals {
    int files = 0;  // files from which lines were taken
    long long records = 0, rejected = 0;
    std::vector<std::string> failures;  // files or folders that could not be read or written, with why
    std::vector<std::string> notes;     // what was passed over, for the person running it
};

// Takes the new lines of every day's log in `folder` as terminal `terminal`, then derives the
// terminal's collections. A folder or file that cannot be read goes into `failures`; the other
// files are taken all the same.
void IngestFolder(Store& store, const std::string& folder, const std::string& terminal, IngestTotals& totals);

// The day a log file's name carries: its first "(YYYY-MM-DD)"; nullopt when it carries none.
std::optional<int> LogDay(const std::string& fileName);

}  // namespace Ledger
