#include "Reconcile.h"
#include "Text.h"
#include <algorithm>
#include <climits>

namespace Ledger {

namespace {

std::string Signed(long long value) { return (value > 0 ? "+" : "") + std::to_string(value); }

// The counted cassette against the notes the terminal recorded; empty when they agree.
std::string CompareCount(const CountRow& count, const Collection& collection) {
    Notes counted;
    for (const auto& [denomination, n] : count.entries) counted[count.currency][denomination] = n;
    std::string detail;
    std::map<std::string, long long> difference;
    auto compare = [&](const std::string& currency, uint32_t denomination) {
        auto get = [&](const Notes& notes) -> long long {
            auto c = notes.find(currency);
            if (c == notes.end()) return 0;
            auto d = c->second.find(denomination);
            return d == c->second.end() ? 0 : d->second;
        };
        long long have = get(counted), recorded = get(collection.notes);
        if (have == recorded) return;
        long long money = (have - recorded) * (long long)denomination;
        difference[currency] += money;
        detail += (detail.empty() ? "" : "; ") + std::to_string(denomination) + " " + currency + " counted " +
                  std::to_string(have) + ", recorded " + std::to_string(recorded) + " (" + Signed(money) + " " + currency + ")";
    };
    std::map<std::string, std::vector<uint32_t>> denominations;
    for (const Notes* notes : {static_cast<const Notes*>(&counted), &collection.notes})
        for (const auto& [currency, entries] : *notes)
            for (const auto& [denomination, n] : entries) denominations[currency].push_back(denomination);
    for (auto& [currency, list] : denominations) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        for (uint32_t denomination : list) compare(currency, denomination);
    }
    if (detail.empty()) return {};
    std::string total;
    for (const auto& [currency, money] : difference) total += (total.empty() ? "" : ", ") + Signed(money) + " " + currency;
    return "the cash office's count (" + count.recorded + ") differs from the terminal's record by " + total + ": " + detail;
}

std::string Label(const Collection& c) { return "collection " + std::to_string(c.number) + " opened " + c.openedAt; }

}  // namespace

const Collection* CountedCollection(const std::vector<TerminalCollection>& collections, int64_t terminal, uint32_t number) {
    const Collection* any = nullptr;
    const Collection* done = nullptr;
    for (const TerminalCollection& row : collections) {
        if (row.terminalId != terminal || row.collection.number != number) continue;
        any = &row.collection;
        if (!row.collection.doneAt.empty()) done = &row.collection;
    }
    return done ? done : any;
}

std::vector<Issue> Reconcile(Store& store, const Filter& filter) {
    Filter everyDay;
    everyDay.terminal = filter.terminal;
    std::vector<TerminalCollection> collections = store.Collections(everyDay);
    std::map<int64_t, std::string> terminals = store.Terminals(everyDay);

    std::map<int64_t, std::vector<const Collection*>> byTerminal;  // in the order they opened
    for (const TerminalCollection& row : collections) byTerminal[row.terminalId].push_back(&row.collection);
    struct Placed {
        Issue issue;
        int64_t at;
        int day;
    };
    std::vector<Placed> placed;
    // A finding belongs to the first collection that took the notes of its place in the log.
    auto place = [&](int64_t terminal, int64_t at, const std::string& message) {
        Issue issue;
        issue.terminal = terminals[terminal];
        issue.terminalId = terminal;
        issue.label = "the stacker since the last collection";
        issue.message = message;
        for (const Collection* collection : byTerminal[terminal]) {
            int64_t took = collection->cut >= 0 ? collection->cut : LLONG_MAX;
            if (took >= at) {
                issue.collection = collection->opened;
                issue.label = Label(*collection);
                break;
            }
        }
        int day = issue.collection >= 0 ? PositionDay(issue.collection) : PositionDay(at);
        placed.push_back({issue, at, day});
    };

    for (const StoredFinding& stored : store.Findings(everyDay)) place(stored.terminalId, stored.finding.at, stored.finding.message);
    for (const auto& [terminal, days] : store.LogDays(everyDay))
        for (size_t i = 1; i < days.size(); ++i)
            for (int day = days[i - 1] + 1; day < days[i]; ++day)
                place(terminal, MakePosition(day, 0, 0), "no log file for " + FormatDay(day) + ", between days that have one");
    for (const CountRow& count : store.Counts(everyDay)) {
        const Collection* collection = CountedCollection(collections, count.terminalId, count.number);
        if (!collection) continue;
        std::string message = CompareCount(count, *collection);
        if (message.empty()) continue;
        Issue issue{terminals[count.terminalId], count.terminalId, collection->opened, Label(*collection), message};
        placed.push_back({issue, collection->cut >= 0 ? collection->cut : LLONG_MAX, PositionDay(collection->opened)});
    }

    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.issue.terminal != b.issue.terminal) return a.issue.terminal < b.issue.terminal;
        int64_t ka = a.issue.collection < 0 ? LLONG_MAX : a.issue.collection;
        int64_t kb = b.issue.collection < 0 ? LLONG_MAX : b.issue.collection;
        return ka != kb ? ka < kb : a.at < b.at;
    });
    std::vector<Issue> issues;
    for (const Placed& p : placed)
        if (filter.HasDay(p.day)) issues.push_back(p.issue);
    return issues;
}

}  // namespace Ledger
