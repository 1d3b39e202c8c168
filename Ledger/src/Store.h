// The ledger's books: the schema and every query, written once for both databases.
#pragma once
#include "Database.h"
#include "Derive.h"
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ledger {

// The schema this ledger writes, and the version of the rules that derive collections and
// findings from records: a database with older derived rows is derived again when opened.
constexpr int kSchemaVersion = 1;
constexpr int kDeriveVersion = 1;

struct Rejection {
    int line = 0;  // 0: the whole file
    std::string reason;
    std::string raw;
};

struct FileRow {
    int64_t id = 0;
    int64_t terminal = 0;
    std::string name;
    int day = 0;
    int64_t size = 0, mtime = 0;
    int64_t consumed = 0;  // bytes taken, up to the end of the last line taken
    int lines = 0;         // lines taken
    std::string fingerprint;  // of the bytes taken
    std::string duplicateOf;
};

// Which terminals and days a question is about; days are days since 1970-01-01, inclusive.
struct Filter {
    std::string terminal;
    std::optional<int> from, to;
    bool HasDay(int day) const { return (!from || day >= *from) && (!to || day <= *to); }
};

struct TerminalCollection {
    std::string terminal;
    int64_t terminalId = 0;
    Collection collection;
};

struct StoredFinding {
    int64_t terminalId = 0;
    Finding finding;
};

struct CountRow {
    int64_t terminalId = 0;
    uint32_t number = 0;
    std::string currency;
    std::map<uint32_t, uint32_t> entries;
    std::string recorded;
};

struct RejectedRow {
    std::string terminal, file;
    int line = 0;
    std::string reason, raw;
};

class Store {
public:
    // Creates or migrates the schema; refuses a database of a newer ledger.
    explicit Store(std::unique_ptr<Database> db);

    Database& Db() { return *db_; }

    int64_t AddTerminal(const std::string& name);
    std::optional<int64_t> FindTerminal(const std::string& name);
    // Id to name, of the filter's terminals (all when it names none).
    std::map<int64_t, std::string> Terminals(const Filter& filter);

    std::vector<FileRow> Files(int64_t terminal);
    // A file's newly read lines, read from byte `readFrom`, in one transaction: the file's row, its
    // records, its rejected lines. False, saving nothing, when another ledger took them meanwhile.
    bool SaveFile(FileRow& file, int64_t readFrom, const std::vector<Record>& records, const std::vector<Rejection>& rejected);

    // Derives the collections, findings and takings of every terminal with records not yet derived.
    void DeriveAll();

    std::vector<TerminalCollection> Collections(const Filter& filter);
    std::vector<StoredFinding> Findings(const Filter& filter);
    // The days with a log file, per terminal.
    std::map<int64_t, std::vector<int>> LogDays(const Filter& filter);
    std::vector<Takings> TakingsOf(int64_t terminal, const Filter& filter);
    std::vector<RejectedRow> Rejected(const Filter& filter);

    // The cash office's count of a collection's cassette; the latest of each collection counts.
    void RecordCount(const CountRow& count);
    std::vector<CountRow> Counts(const Filter& filter);  // the current ones
    std::vector<CountRow> CountHistory(int64_t terminal, uint32_t number);

private:
    void Migrate();
    void Derive(int64_t terminal);  // from its first day not derived
    void Insert(const Collection& collection, int64_t terminal);
    // The filter's terminal id, 0 for all; an unknown name is an error.
    int64_t TerminalId(const Filter& filter);
    template <class F>
    void InTransaction(F body);

    std::unique_ptr<Database> db_;
};

// "100=3 500=2" and back.
std::string EntriesText(const std::map<uint32_t, uint32_t>& entries);
std::map<uint32_t, uint32_t> ParseEntries(const std::string& text);

}  // namespace Ledger
