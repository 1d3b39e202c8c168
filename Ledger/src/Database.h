// The two databases the ledger keeps its books in, behind one interface: an SQLite file, or a
// PostgreSQL server by URL. The ledger's SQL is written once, with `?` parameters; the few words
// that the dialects spell differently come from the backend.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace Ledger {

// A prepared statement, reused: each Prepare of the same SQL hands back the same one, reset.
class Statement {
public:
    virtual ~Statement() = default;
    virtual void Bind(int index, int64_t value) = 0;  // 1-based
    virtual void Bind(int index, std::string_view text) = 0;
    virtual void BindBlob(int index, std::string_view bytes) = 0;
    virtual void BindNull(int index) = 0;
    // Runs it on the first call; true while a row is at hand.
    virtual bool Step() = 0;
    virtual bool IsNull(int column) = 0;  // 0-based
    virtual int64_t Int(int column) = 0;
    virtual std::string Text(int column) = 0;
    virtual std::string Blob(int column) = 0;
    virtual void Reset() = 0;

    void Run() {
        while (Step()) {
        }
    }
};

class Database {
public:
    virtual ~Database() = default;
    Statement& Prepare(const std::string& sql) {
        auto found = statements_.find(sql);
        if (found != statements_.end()) {
            found->second->Reset();
            return *found->second;
        }
        return *(statements_[sql] = Compile(sql));
    }
    virtual void Execute(const std::string& sql) = 0;
    // A write transaction; the first write of a competing writer waits for it.
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // Holds off other ledgers changing the schema at the same time, until the transaction ends.
    virtual void LockSchema() = 0;
    bool HasTable(const std::string& name) {
        Statement& query = Prepare(TableQuery());
        query.Bind(1, name);
        bool found = query.Step();
        query.Reset();
        return found;
    }

    // Dialect words for the schema.
    virtual std::string IdColumn() const = 0;  // an integer primary key that numbers itself
    virtual std::string BlobType() const = 0;
    virtual std::string TableQuery() const = 0;  // a row when the table named by its parameter exists
    // What the database is, for messages ("ledger.db", "postgresql://host/db").
    virtual std::string Name() const = 0;

protected:
    virtual std::unique_ptr<Statement> Compile(const std::string& sql) = 0;
    // A backend drops its statements before it closes the connection they belong to.
    void DropStatements() { statements_.clear(); }

private:
    std::map<std::string, std::unique_ptr<Statement>> statements_;
};

// A file path opens SQLite; a postgresql:// or postgres:// URL connects to PostgreSQL.
std::unique_ptr<Database> OpenDatabase(const std::string& where);
std::unique_ptr<Database> OpenSqlite(const std::string& path);
std::unique_ptr<Database> OpenPostgres(const std::string& url);

// Statements bound in one call: Query(db, "... ? ? ...", a, b).
inline void BindValue(Statement& s, int i, int64_t v) { s.Bind(i, v); }
inline void BindValue(Statement& s, int i, int v) { s.Bind(i, int64_t(v)); }
inline void BindValue(Statement& s, int i, uint32_t v) { s.Bind(i, int64_t(v)); }
inline void BindValue(Statement& s, int i, uint64_t v) { s.Bind(i, int64_t(v)); }
inline void BindValue(Statement& s, int i, const std::string& v) { s.Bind(i, std::string_view(v)); }
inline void BindValue(Statement& s, int i, const char* v) { s.Bind(i, std::string_view(v)); }
template <class... Args>
Statement& Query(Database& db, const std::string& sql, const Args&... args) {
    Statement& statement = db.Prepare(sql);
    int index = 1;
    (BindValue(statement, index++, args), ...);
    return statement;
}

}  // namespace Ledger
