// tally-ledger: the fleet ledger. Every terminal's operation logs in one database, their
// collections, the cash office's counts, and what does not add up.
#include "Ingest.h"
#include "Reconcile.h"
#include "Report.h"
#include "Text.h"
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <set>

using namespace Ledger;

namespace {

// 0 done; 1 reconcile found something; 2 the command line is wrong; 3 a file or the database failed.
constexpr int kFindings = 1, kUsage = 2, kFailed = 3;

const char kUsageText[] =
    "usage: ./tally ledger ingest [--db DB] [--terminal NAME] DIR...\n"
    "       ./tally ledger collections [--db DB] [--terminal T] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--csv]\n"
    "       ./tally ledger count [--db DB] [--currency CODE] TERMINAL NUMBER DENOM=COUNT...\n"
    "       ./tally ledger reconcile [--db DB] [--terminal T] [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
    "       ./tally ledger report --html FILE [--db DB] [--terminal T] [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
    "DB is an SQLite file (ledger.db in the current folder by default) or a postgresql:// URL.\n"
    "Each DIR is one terminal's log folder, named after the terminal.\n";

struct UsageError : Error {
    using Error::Error;
};

struct Options {
    std::string db = "ledger.db";
    Filter filter;
    std::string html, currency, terminal;
    bool csv = false;
    std::vector<std::string> words;
};

int Day(const std::string& option, const std::string& text) {
    std::optional<int> day = ParseDay(text);
    if (!day) throw UsageError(option + " takes a date YYYY-MM-DD, not \"" + text + "\"");
    return *day;
}

// `allowed` lists the options the command takes besides --db.
Options Parse(int argc, char** argv, const std::set<std::string>& allowed) {
    Options options;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            options.words.push_back(arg);
            continue;
        }
        if (arg != "--db" && !allowed.count(arg)) throw UsageError("unknown option " + arg + " for " + argv[1]);
        if (arg == "--csv") {
            options.csv = true;
            continue;
        }
        if (i + 1 >= argc) throw UsageError(arg + " needs a value");
        std::string value = argv[++i];
        if (arg == "--db") options.db = value;
        else if (arg == "--terminal") options.terminal = options.filter.terminal = value;
        else if (arg == "--from") options.filter.from = Day(arg, value);
        else if (arg == "--to") options.filter.to = Day(arg, value);
        else if (arg == "--html") options.html = value;
        else if (arg == "--currency") options.currency = value;
    }
    if (options.filter.from && options.filter.to && *options.filter.from > *options.filter.to)
        throw UsageError("--from comes after --to");
    return options;
}

std::string FolderName(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path == "." || path == ".." || path.empty()) {
        char* real = realpath(path.empty() ? "." : path.c_str(), nullptr);
        if (real) {
            path = real;
            free(real);
        }
    }
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Now() {
    time_t now = time(nullptr);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime(&now));
    return text;
}

int Ingest(const Options& options) {
    if (options.words.empty()) throw UsageError("ingest needs at least one log folder");
    if (!options.terminal.empty() && options.words.size() != 1)
        throw UsageError("--terminal names the terminal of a single folder");
    IngestTotals totals;
    Store store(OpenDatabase(options.db));
    for (const std::string& folder : options.words) {
        std::string name = options.terminal.empty() ? FolderName(folder) : options.terminal;
        if (name.empty()) throw UsageError("no terminal name in the folder " + folder + ": give --terminal");
        IngestFolder(store, folder, name, totals);
    }
    store.DeriveAll();
    for (const std::string& note : totals.notes) std::cerr << "ingest: " << note << "\n";
    for (const std::string& failure : totals.failures) std::cerr << "ingest: " << failure << "\n";
    std::cout << "ingest: " << totals.files << " files, " << totals.records << " records, " << totals.rejected << " rejected\n";
    return totals.failures.empty() ? 0 : kFailed;
}

int Collections(const Options& options) {
    if (!options.words.empty()) throw UsageError("collections takes no arguments but options: " + options.words[0]);
    Store store(OpenDatabase(options.db));
    std::vector<TerminalCollection> collections = store.Collections(options.filter);
    std::cout << (options.csv ? CollectionsCsv(collections) : CollectionsTable(collections));
    return 0;
}

int Count(const Options& options) {
    if (options.words.size() < 3) throw UsageError("count needs TERMINAL NUMBER DENOM=COUNT...");
    uint32_t number = 0;
    if (!ParseUnsigned(options.words[1], number)) throw UsageError("\"" + options.words[1] + "\" is no collection number");
    std::string entries;
    for (size_t i = 2; i < options.words.size(); ++i) entries += options.words[i] + " ";
    CountRow count;
    try {
        count.entries = ParseEntries(entries);
    } catch (const Error& error) {
        throw UsageError(std::string(error.what()) + " (DENOM=COUNT, such as 100=3)");
    }
    for (const auto& [denomination, n] : count.entries)
        if (denomination == 0) throw UsageError("a denomination of 0");
    Store store(OpenDatabase(options.db));
    std::optional<int64_t> terminal = store.FindTerminal(options.words[0]);
    if (!terminal) throw Error("no terminal \"" + options.words[0] + "\" in the ledger " + store.Db().Name());
    Filter filter;
    filter.terminal = options.words[0];
    std::vector<TerminalCollection> collections = store.Collections(filter);
    const Collection* collection = CountedCollection(collections, *terminal, number);
    if (!collection) throw Error("terminal \"" + options.words[0] + "\" has no collection " + options.words[1] + " in the ledger");
    count.currency = options.currency;
    if (count.currency.empty() && collection->notes.size() == 1) count.currency = collection->notes.begin()->first;
    if (count.currency.empty()) {
        for (const Takings& day : store.TakingsOf(*terminal, Filter())) count.currency = day.currency;  // the latest
    }
    if (count.currency.empty()) throw UsageError("the terminal's currency is not known from its records: give --currency");
    count.terminalId = *terminal;
    count.number = number;
    count.recorded = Now();
    std::vector<CountRow> earlier = store.CountHistory(*terminal, number);
    store.RecordCount(count);
    std::cout << "count: terminal " << options.words[0] << ", collection " << number << ": " << EntriesText(count.entries) << " "
              << count.currency << " recorded";
    if (!earlier.empty())
        std::cout << "; it replaces the count of " << earlier.back().recorded << " (" << EntriesText(earlier.back().entries) << " "
                  << earlier.back().currency << "), kept in the history";
    std::cout << "\n";
    return 0;
}

int ReconcileCommand(const Options& options) {
    if (!options.words.empty()) throw UsageError("reconcile takes no arguments but options: " + options.words[0]);
    Store store(OpenDatabase(options.db));
    std::vector<Issue> issues = Reconcile(store, options.filter);
    for (const Issue& issue : issues) std::cout << issue.Line() << "\n";
    return issues.empty() ? 0 : kFindings;
}

int ReportCommand(const Options& options) {
    if (options.html.empty()) throw UsageError("report needs --html FILE");
    if (!options.words.empty()) throw UsageError("report takes no arguments but options: " + options.words[0]);
    Store store(OpenDatabase(options.db));
    std::string html = HtmlReport(store, options.filter);
    // Written beside and renamed, so that a reader never sees half a page.
    std::string temporary = options.html + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << html;
        out.close();
        if (!out) throw Error("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), options.html.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw Error("cannot write " + options.html);
    }
    std::cout << "report: " << options.html << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "ingest") return Ingest(Parse(argc, argv, {"--terminal"}));
        if (command == "collections") return Collections(Parse(argc, argv, {"--terminal", "--from", "--to", "--csv"}));
        if (command == "count") return Count(Parse(argc, argv, {"--currency"}));
        if (command == "reconcile") return ReconcileCommand(Parse(argc, argv, {"--terminal", "--from", "--to"}));
        if (command == "report") return ReportCommand(Parse(argc, argv, {"--html", "--terminal", "--from", "--to"}));
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << kUsageText;
            return 0;
        }
        std::cerr << kUsageText;
        return kUsage;
    } catch (const UsageError& error) {
        std::cerr << "ledger " << command << ": " << error.what() << "\n" << kUsageText;
        return kUsage;
    } catch (const std::exception& error) {
        std::cerr << "ledger " << command << ": " << error.what() << "\n";
        return kFailed;
    }
}
