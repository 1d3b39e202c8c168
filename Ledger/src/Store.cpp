#include "Store.h"
#include "Text.h"
#include <algorithm>
#include <climits>
#include <sstream>

namespace Ledger {

namespace {

// Each step takes the schema from the version before it to its own.
struct Migration {
    int version;
    std::vector<std::string> statements;  // {id} and {blob} are the dialect's words
};

const std::vector<Migration>& Migrations() {
    static const std::vector<Migration> kMigrations = {
        {1,
         {
             "CREATE TABLE terminals (id {id}, name TEXT NOT NULL UNIQUE, dirty_day INTEGER)",
             "CREATE TABLE files (id {id}, terminal_id BIGINT NOT NULL, name TEXT NOT NULL, day INTEGER NOT NULL,"
             " size BIGINT NOT NULL, mtime BIGINT NOT NULL, consumed BIGINT NOT NULL, lines INTEGER NOT NULL,"
             " fingerprint TEXT NOT NULL, duplicate_of TEXT, state TEXT, UNIQUE (terminal_id, name))",
             "CREATE TABLE records (file_id BIGINT NOT NULL, line INTEGER NOT NULL, time_ms INTEGER NOT NULL,"
             " event INTEGER NOT NULL, description TEXT NOT NULL, PRIMARY KEY (file_id, line))",
             "CREATE TABLE rejected (file_id BIGINT NOT NULL, line INTEGER NOT NULL, reason TEXT NOT NULL,"
             " raw {blob} NOT NULL, PRIMARY KEY (file_id, line))",
             "CREATE TABLE collections (terminal_id BIGINT NOT NULL, opened_pos BIGINT NOT NULL, cut_pos BIGINT NOT NULL,"
             " ended_pos BIGINT NOT NULL, number BIGINT NOT NULL, opened TEXT NOT NULL, done TEXT NOT NULL,"
             " closed TEXT NOT NULL, result TEXT NOT NULL, expected BIGINT NOT NULL, errors TEXT NOT NULL,"
             " PRIMARY KEY (terminal_id, opened_pos))",
             "CREATE TABLE collection_notes (terminal_id BIGINT NOT NULL, opened_pos BIGINT NOT NULL, currency TEXT NOT NULL,"
             " denomination BIGINT NOT NULL, count BIGINT NOT NULL, PRIMARY KEY (terminal_id, opened_pos, currency, denomination))",
             "CREATE TABLE findings (terminal_id BIGINT NOT NULL, pos BIGINT NOT NULL, seq INTEGER NOT NULL,"
             " message TEXT NOT NULL, PRIMARY KEY (terminal_id, pos, seq))",
             "CREATE TABLE takings (terminal_id BIGINT NOT NULL, day INTEGER NOT NULL, currency TEXT NOT NULL,"
             " notes BIGINT NOT NULL, amount BIGINT NOT NULL, PRIMARY KEY (terminal_id, day, currency))",
             "CREATE TABLE counts (id {id}, terminal_id BIGINT NOT NULL, number BIGINT NOT NULL, currency TEXT NOT NULL,"
             " entries TEXT NOT NULL, recorded TEXT NOT NULL)",
             "CREATE INDEX counts_by_collection ON counts (terminal_id, number, id)",
         }},
    };
    return kMigrations;
}

std::string Dialect(std::string sql, const Database& db) {
    for (auto [word, value] : {std::pair<std::string, std::string>{"{id}", db.IdColumn()}, {"{blob}", db.BlobType()}})
        for (size_t at; (at = sql.find(word)) != std::string::npos;) sql.replace(at, word.size(), value);
    return sql;
}

int MetaInt(Database& db, const std::string& key) {
    Statement& query = Query(db, "SELECT value FROM meta WHERE key = ?", key);
    int value = query.Step() ? std::stoi(query.Text(0)) : 0;
    query.Reset();
    return value;
}

void SetMeta(Database& db, const std::string& key, int value) {
    Query(db, "DELETE FROM meta WHERE key = ?", key).Run();
    Query(db, "INSERT INTO meta (key, value) VALUES (?, ?)", key, std::to_string(value)).Run();
}

// Days before and after any log: the bounds of an open filter.
constexpr int kFirstDay = 0, kLastDay = 1 << 30;
int64_t FromPos(const Filter& f) { return MakePosition(f.from.value_or(kFirstDay), 0, 0); }
int64_t ToPos(const Filter& f) { return f.to ? MakePosition(*f.to + 1, 0, 0) : LLONG_MAX; }

constexpr int kBatch = 256; // records per multi-row insert

std::string InsertRecordsSql(int rows) {
    std::string sql = "INSERT INTO records (file_id, line, time_ms, event, description) VALUES ";
    for (int i = 0; i < rows; ++i) sql += i ? ",(?,?,?,?,?)" : "(?,?,?,?,?)";
    return sql;
}

}  // namespace

std::string EntriesText(const std::map<uint32_t, uint32_t>& entries) {
    std::string text;
    for (const auto& [denomination, count] : entries)
        text += (text.empty() ? "" : " ") + std::to_string(denomination) + "=" + std::to_string(count);
    return text;
}

std::map<uint32_t, uint32_t> ParseEntries(const std::string& text) {
    std::map<uint32_t, uint32_t> entries;
    std::istringstream in(text);
    for (std::string entry; in >> entry;) {
        size_t equals = entry.find('=');
        uint32_t denomination = 0, count = 0;
        if (equals == std::string::npos || !ParseUnsigned(entry.substr(0, equals), denomination) ||
            !ParseUnsigned(entry.substr(equals + 1), count))
            throw Error("a count entry does not read: " + entry);
        entries[denomination] += count;
    }
    return entries;
}

template <class F>
void Store::InTransaction(F body) {
    db_->Begin();
    try {
        body();
        db_->Commit();
    } catch (...) {
        db_->Rollback();
        throw;
    }
}

Store::Store(std::unique_ptr<Database> db) : db_(std::move(db)) {
    Migrate();
    DeriveAll();
}

void Store::Migrate() {
    InTransaction([&] {
        db_->LockSchema();
        if (!db_->HasTable("meta")) db_->Execute("CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)");
        int version = MetaInt(*db_, "schema_version");
        if (version > kSchemaVersion)
            throw Error("the database " + db_->Name() + " was written by a newer ledger (schema version " +
                        std::to_string(version) + "; this ledger knows versions up to " + std::to_string(kSchemaVersion) +
                        "): use that ledger, or a newer one");
        for (const Migration& step : Migrations()) {
            if (step.version <= version) continue;
            for (const std::string& statement : step.statements) db_->Execute(Dialect(statement, *db_));
            SetMeta(*db_, "schema_version", step.version);
        }
        // Derived rows of older rules are derived again, from each terminal's first day.
        if (MetaInt(*db_, "derive_version") < kDeriveVersion) {
            db_->Execute("UPDATE terminals SET dirty_day = 0");
            SetMeta(*db_, "derive_version", kDeriveVersion);
        }
    });
}

int64_t Store::AddTerminal(const std::string& name) {
    if (std::optional<int64_t> id = FindTerminal(name)) return *id;
    InTransaction([&] { Query(*db_, "INSERT INTO terminals (name) VALUES (?) ON CONFLICT (name) DO NOTHING", name).Run(); });
    return *FindTerminal(name);
}

std::optional<int64_t> Store::FindTerminal(const std::string& name) {
    Statement& query = Query(*db_, "SELECT id FROM terminals WHERE name = ?", name);
    std::optional<int64_t> id;
    if (query.Step()) id = query.Int(0);
    query.Reset();
    return id;
}

int64_t Store::TerminalId(const Filter& filter) {
    if (filter.terminal.empty()) return 0;
    std::optional<int64_t> id = FindTerminal(filter.terminal);
    if (!id) throw Error("no terminal \"" + filter.terminal + "\" in the ledger " + db_->Name());
    return *id;
}

std::map<int64_t, std::string> Store::Terminals(const Filter& filter) {
    int64_t only = TerminalId(filter);
    std::map<int64_t, std::string> terminals;
    Statement& query = Query(*db_, "SELECT id, name FROM terminals WHERE ? = 0 OR id = ?", only, only);
    while (query.Step()) terminals[query.Int(0)] = query.Text(1);
    return terminals;
}

std::vector<FileRow> Store::Files(int64_t terminal) {
    std::vector<FileRow> files;
    Statement& query = Query(*db_,
                             "SELECT id, name, day, size, mtime, consumed, lines, fingerprint, duplicate_of FROM files"
                             " WHERE terminal_id = ? ORDER BY day, id",
                             terminal);
    while (query.Step()) {
        FileRow row;
        row.id = query.Int(0);
        row.terminal = terminal;
        row.name = query.Text(1);
        row.day = int(query.Int(2));
        row.size = query.Int(3);
        row.mtime = query.Int(4);
        row.consumed = query.Int(5);
        row.lines = int(query.Int(6));
        row.fingerprint = query.Text(7);
        row.duplicateOf = query.IsNull(8) ? "" : query.Text(8);
        files.push_back(row);
    }
    return files;
}

bool Store::SaveFile(FileRow& file, int64_t readFrom, const std::vector<Record>& records, const std::vector<Rejection>& rejected) {
    bool saved = true;
    InTransaction([&] {
        // Marks the terminal for derivation, and holds off another ingest of the same terminal.
        Query(*db_,
              "UPDATE terminals SET dirty_day = CASE WHEN dirty_day IS NULL OR dirty_day > ? THEN ? ELSE dirty_day END"
              " WHERE id = ?",
              file.day, file.day, file.terminal)
            .Run();
        // Another ledger may have taken these lines since they were read.
        Statement& now = Query(*db_, "SELECT consumed FROM files WHERE terminal_id = ? AND name = ?", file.terminal, file.name);
        int64_t taken = now.Step() ? now.Int(0) : -1;
        now.Reset();
        if (taken != (file.id == 0 ? -1 : readFrom)) {
            saved = false;
            return;
        }
        if (file.id == 0) {
            Statement& insert = Query(*db_,
                                      "INSERT INTO files (terminal_id, name, day, size, mtime, consumed, lines, fingerprint)"
                                      " VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
                                      file.terminal, file.name, file.day, file.size, file.mtime, file.consumed, file.lines,
                                      file.fingerprint);
            if (!insert.Step()) throw Error("no id for a new file");
            file.id = insert.Int(0);
            insert.Reset();
            if (!file.duplicateOf.empty())
                Query(*db_, "UPDATE files SET duplicate_of = ? WHERE id = ?", file.duplicateOf, file.id).Run();
        } else {
            Query(*db_, "UPDATE files SET size = ?, mtime = ?, consumed = ?, lines = ?, fingerprint = ? WHERE id = ?",
                  file.size, file.mtime, file.consumed, file.lines, file.fingerprint, file.id)
                .Run();
        }
        size_t at = 0;
        auto bind = [&](Statement& statement, int first, const Record& record) {
            statement.Bind(first, file.id);
            statement.Bind(first + 1, int64_t(record.line));
            statement.Bind(first + 2, int64_t(record.timeMs));
            statement.Bind(first + 3, int64_t(record.event));
            statement.Bind(first + 4, record.description);
        };
        for (; at + kBatch <= records.size(); at += kBatch) {
            Statement& batch = db_->Prepare(InsertRecordsSql(kBatch));
            for (int i = 0; i < kBatch; ++i) bind(batch, 1 + 5 * i, records[at + size_t(i)]);
            batch.Run();
        }
        for (; at < records.size(); ++at) {
            Statement& one = db_->Prepare(InsertRecordsSql(1));
            bind(one, 1, records[at]);
            one.Run();
        }
        for (const Rejection& line : rejected) {
            Statement& insert = Query(*db_, "INSERT INTO rejected (file_id, line, reason, raw) VALUES (?, ?, ?, ?)", file.id,
                                      line.line, line.reason);
            insert.BindBlob(4, line.raw);
            insert.Run();
        }
    });
    return saved;
}

void Store::DeriveAll() {
    std::vector<int64_t> dirty;
    Statement& query = db_->Prepare("SELECT id FROM terminals WHERE dirty_day IS NOT NULL ORDER BY id");
    while (query.Step()) dirty.push_back(query.Int(0));
    for (int64_t terminal : dirty) Derive(terminal);
}

void Store::Derive(int64_t terminal) {
    int fromDay = 0;
    InTransaction([&] {
        Query(*db_, "UPDATE terminals SET dirty_day = dirty_day WHERE id = ?", terminal).Run();
        Statement& dirty = Query(*db_, "SELECT dirty_day FROM terminals WHERE id = ?", terminal);
        bool derived = dirty.Step() && dirty.IsNull(0);  // by another ledger, meanwhile
        fromDay = derived ? 0 : int(dirty.Int(0));
        dirty.Reset();
        if (derived) return;
        DeriveState state;
        Statement& before = Query(*db_,
                                  "SELECT state FROM files WHERE terminal_id = ? AND day < ? AND duplicate_of IS NULL"
                                  " ORDER BY day DESC, id DESC LIMIT 1",
                                  terminal, fromDay);
        if (before.Step() && !before.IsNull(0)) state = DeriveState::Parse(before.Text(0));
        before.Reset();

        int64_t from = MakePosition(fromDay, 0, 0);
        Query(*db_, "DELETE FROM collections WHERE terminal_id = ? AND (opened_pos >= ? OR ended_pos < 0 OR ended_pos >= ?)",
              terminal, from, from)
            .Run();
        Query(*db_,
              "DELETE FROM collection_notes WHERE terminal_id = ? AND opened_pos NOT IN"
              " (SELECT opened_pos FROM collections WHERE terminal_id = ?)",
              terminal, terminal)
            .Run();
        Query(*db_, "DELETE FROM findings WHERE terminal_id = ? AND pos >= ?", terminal, from).Run();
        Query(*db_, "DELETE FROM takings WHERE terminal_id = ? AND day >= ?", terminal, fromDay).Run();

        std::vector<std::pair<int64_t, int>> files;
        Statement& list = Query(*db_,
                                "SELECT id, day FROM files WHERE terminal_id = ? AND day >= ? AND duplicate_of IS NULL"
                                " ORDER BY day, id",
                                terminal, fromDay);
        while (list.Step()) files.emplace_back(list.Int(0), int(list.Int(1)));

        Deriver deriver(std::move(state));
        int rank = 0, lastDay = -1;
        for (const auto& [file, day] : files) {
            rank = day == lastDay ? rank + 1 : 0;
            lastDay = day;
            deriver.BeginFile(day, rank);
            Statement& records =
                Query(*db_, "SELECT line, time_ms, event, description FROM records WHERE file_id = ? ORDER BY line", file);
            Record record;
            while (records.Step()) {
                record.line = int(records.Int(0));
                record.timeMs = int(records.Int(1));
                record.event = int(records.Int(2));
                record.description = records.Text(3);
                deriver.Add(record);
            }
            Query(*db_, "UPDATE files SET state = ? WHERE id = ?", deriver.State().Serialize(), file).Run();
        }
        deriver.Finish();

        for (const Collection& collection : deriver.collections) Insert(collection, terminal);
        int seq = 0;
        int64_t lastPos = -1;
        for (const Finding& finding : deriver.findings) {
            seq = finding.at == lastPos ? seq + 1 : 0;
            lastPos = finding.at;
            Query(*db_, "INSERT INTO findings (terminal_id, pos, seq, message) VALUES (?, ?, ?, ?)", terminal, finding.at, seq,
                  finding.message)
                .Run();
        }
        for (const Takings& day : deriver.takings)
            Query(*db_, "INSERT INTO takings (terminal_id, day, currency, notes, amount) VALUES (?, ?, ?, ?, ?)", terminal,
                  day.day, day.currency, day.notes, day.amount)
                .Run();
        Query(*db_, "UPDATE terminals SET dirty_day = NULL WHERE id = ?", terminal).Run();
    });
}

void Store::Insert(const Collection& c, int64_t terminal) {
    Query(*db_,
          "INSERT INTO collections (terminal_id, opened_pos, cut_pos, ended_pos, number, opened, done, closed, result,"
          " expected, errors) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
          terminal, c.opened, c.cut, c.ended, c.number, c.openedAt, c.doneAt, c.closedAt, c.result, c.expected, c.errors)
        .Run();
    for (const auto& [currency, denominations] : c.notes)
        for (const auto& [denomination, count] : denominations)
            Query(*db_,
                  "INSERT INTO collection_notes (terminal_id, opened_pos, currency, denomination, count) VALUES (?, ?, ?, ?, ?)",
                  terminal, c.opened, currency, denomination, count)
                .Run();
}

std::vector<TerminalCollection> Store::Collections(const Filter& filter) {
    int64_t only = TerminalId(filter);
    std::map<std::pair<int64_t, int64_t>, TerminalCollection> found;
    Statement& query = Query(*db_,
                             "SELECT t.id, t.name, c.opened_pos, c.cut_pos, c.ended_pos, c.number, c.opened, c.done, c.closed,"
                             " c.result, c.expected, c.errors FROM collections c JOIN terminals t ON t.id = c.terminal_id"
                             " WHERE (? = 0 OR t.id = ?) AND c.opened_pos >= ? AND c.opened_pos < ?",
                             only, only, FromPos(filter), ToPos(filter));
    while (query.Step()) {
        TerminalCollection row;
        row.terminalId = query.Int(0);
        row.terminal = query.Text(1);
        Collection& c = row.collection;
        c.opened = query.Int(2);
        c.cut = query.Int(3);
        c.ended = query.Int(4);
        c.number = uint32_t(query.Int(5));
        c.openedAt = query.Text(6);
        c.doneAt = query.Text(7);
        c.closedAt = query.Text(8);
        c.result = query.Text(9);
        c.expected = uint32_t(query.Int(10));
        c.errors = query.Text(11);
        found[{row.terminalId, c.opened}] = row;
    }
    Statement& notes = Query(*db_,
                             "SELECT terminal_id, opened_pos, currency, denomination, count FROM collection_notes"
                             " WHERE (? = 0 OR terminal_id = ?) AND opened_pos >= ? AND opened_pos < ?",
                             only, only, FromPos(filter), ToPos(filter));
    while (notes.Step()) {
        auto row = found.find({notes.Int(0), notes.Int(1)});
        if (row != found.end()) row->second.collection.notes[notes.Text(2)][uint32_t(notes.Int(3))] = uint32_t(notes.Int(4));
    }
    std::vector<TerminalCollection> collections;
    for (auto& [key, row] : found) collections.push_back(std::move(row));
    std::stable_sort(collections.begin(), collections.end(), [](const TerminalCollection& a, const TerminalCollection& b) {
        return a.terminal != b.terminal ? a.terminal < b.terminal : a.collection.opened < b.collection.opened;
    });
    return collections;
}

std::vector<StoredFinding> Store::Findings(const Filter& filter) {
    int64_t only = TerminalId(filter);
    std::vector<StoredFinding> findings;
    Statement& query =
        Query(*db_, "SELECT terminal_id, pos, message FROM findings WHERE ? = 0 OR terminal_id = ? ORDER BY terminal_id, pos, seq",
              only, only);
    while (query.Step()) findings.push_back({query.Int(0), {query.Int(1), query.Text(2)}});
    return findings;
}

std::map<int64_t, std::vector<int>> Store::LogDays(const Filter& filter) {
    int64_t only = TerminalId(filter);
    std::map<int64_t, std::vector<int>> days;
    Statement& query = Query(*db_,
                             "SELECT DISTINCT terminal_id, day FROM files WHERE (? = 0 OR terminal_id = ?)"
                             " AND duplicate_of IS NULL ORDER BY terminal_id, day",
                             only, only);
    while (query.Step()) days[query.Int(0)].push_back(int(query.Int(1)));
    return days;
}

std::vector<Takings> Store::TakingsOf(int64_t terminal, const Filter& filter) {
    std::vector<Takings> takings;
    Statement& query = Query(*db_,
                             "SELECT day, currency, notes, amount FROM takings WHERE terminal_id = ? AND day >= ? AND day <= ?"
                             " ORDER BY day, currency",
                             terminal, filter.from.value_or(kFirstDay), filter.to.value_or(kLastDay));
    while (query.Step())
        takings.push_back({int(query.Int(0)), query.Text(1), uint64_t(query.Int(2)), uint64_t(query.Int(3))});
    return takings;
}

std::vector<RejectedRow> Store::Rejected(const Filter& filter) {
    int64_t only = TerminalId(filter);
    std::vector<RejectedRow> rows;
    Statement& query = Query(*db_,
                             "SELECT t.name, f.name, r.line, r.reason, r.raw FROM rejected r JOIN files f ON f.id = r.file_id"
                             " JOIN terminals t ON t.id = f.terminal_id WHERE (? = 0 OR t.id = ?) AND f.day >= ? AND f.day <= ?"
                             " ORDER BY t.id, f.day, f.id, r.line",
                             only, only, filter.from.value_or(kFirstDay), filter.to.value_or(kLastDay));
    while (query.Step()) rows.push_back({query.Text(0), query.Text(1), int(query.Int(2)), query.Text(3), query.Blob(4)});
    return rows;
}

void Store::RecordCount(const CountRow& count) {
    InTransaction([&] {
        Query(*db_, "INSERT INTO counts (terminal_id, number, currency, entries, recorded) VALUES (?, ?, ?, ?, ?)", count.terminalId,
              count.number, count.currency, EntriesText(count.entries), count.recorded)
            .Run();
    });
}

std::vector<CountRow> Store::CountHistory(int64_t terminal, uint32_t number) {
    std::vector<CountRow> rows;
    Statement& query = Query(*db_,
                             "SELECT currency, entries, recorded FROM counts WHERE terminal_id = ? AND number = ? ORDER BY id",
                             terminal, number);
    while (query.Step()) rows.push_back({terminal, number, query.Text(0), ParseEntries(query.Text(1)), query.Text(2)});
    return rows;
}

std::vector<CountRow> Store::Counts(const Filter& filter) {
    int64_t only = TerminalId(filter);
    std::map<std::pair<int64_t, uint32_t>, CountRow> latest;
    Statement& query = Query(*db_,
                             "SELECT terminal_id, number, currency, entries, recorded FROM counts WHERE ? = 0 OR terminal_id = ?"
                             " ORDER BY id",
                             only, only);
    while (query.Step()) {
        CountRow row{query.Int(0), uint32_t(query.Int(1)), query.Text(2), ParseEntries(query.Text(3)), query.Text(4)};
        latest[{row.terminalId, row.number}] = row;
    }
    std::vector<CountRow> rows;
    for (auto& [key, row] : latest) rows.push_back(std::move(row));
    return rows;
}

}  // namespace Ledger
