// The ledger's page for people: one self-contained HTML file.
#pragma once
#include "Store.h"
#include <string>

namespace Ledger {

std::string HtmlReport(Store& store, const Filter& filter);

// Collections as text: the CSV of `collections --csv`, or an aligned table.
std::string CollectionsCsv(const std::vector<TerminalCollection>& collections);
std::string CollectionsTable(const std::vector<TerminalCollection>& collections);

}  // namespace Ledger
