// The embedded backend: one file, WAL journal. A commit does not wait for the disk: after a power
// cut the last files' records may be missing, and the next ingest reads them again.
#include "Database.h"
#include "Text.h"
#include <sqlite3.h>

namespace Ledger {

namespace {

class SqliteStatement : public Statement {
public:
    SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
    ~SqliteStatement() override { sqlite3_finalize(statement_); }

    void Bind(int index, int64_t value) override { Check(sqlite3_bind_int64(statement_, index, value)); }
    void Bind(int index, std::string_view text) override {
        Check(sqlite3_bind_text(statement_, index, text.data(), int(text.size()), SQLITE_TRANSIENT));
    }
    void BindBlob(int index, std::string_view bytes) override {
        Check(sqlite3_bind_blob(statement_, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT));
    }
    void BindNull(int index) override { Check(sqlite3_bind_null(statement_, index)); }
    bool Step() override {
        int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw Error(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }
    bool IsNull(int column) override { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    int64_t Int(int column) override { return sqlite3_column_int64(statement_, column); }
    std::string Text(int column) override {
        const unsigned char* text = sqlite3_column_text(statement_, column);
        return text ? std::string(reinterpret_cast<const char*>(text), size_t(sqlite3_column_bytes(statement_, column))) : "";
    }
    std::string Blob(int column) override {
        const void* bytes = sqlite3_column_blob(statement_, column);
        return bytes ? std::string(static_cast<const char*>(bytes), size_t(sqlite3_column_bytes(statement_, column))) : "";
    }
    void Reset() override {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) throw Error(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    sqlite3_stmt* statement_;
};

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(const std::string& path) : path_(path) {
        int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            throw Error("cannot open the database " + path + ": " + reason);
        }
        sqlite3_busy_timeout(db_, 30000);
        try {
            // A file that is no database fails here, on its first read.
            Execute("PRAGMA journal_mode=WAL");
            Execute("PRAGMA synchronous=NORMAL");
        } catch (const Error& error) {
            sqlite3_close(db_);
            throw Error("cannot open the database " + path + ": " + error.what());
        }
    }
    ~SqliteDatabase() override {
        DropStatements();
        sqlite3_close(db_);
    }

    std::unique_ptr<Statement> Compile(const std::string& sql) override {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db_, sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            throw Error(std::string("SQLite: ") + sqlite3_errmsg(db_) + " in: " + sql);
        return std::make_unique<SqliteStatement>(db_, statement);
    }
    void Execute(const std::string& sql) override {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message ? message : sqlite3_errmsg(db_);
            sqlite3_free(message);
            throw Error("SQLite: " + text);
        }
    }
    void Begin() override { Execute("BEGIN IMMEDIATE"); }
    void Commit() override { Execute("COMMIT"); }
    void Rollback() override {
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void LockSchema() override {}  // BEGIN IMMEDIATE holds the only write lock already
    std::string TableQuery() const override { return "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"; }
    std::string IdColumn() const override { return "INTEGER PRIMARY KEY"; }
    std::string BlobType() const override { return "BLOB"; }
    std::string Name() const override { return path_; }

private:
    std::string path_;
    sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& path) { return std::make_unique<SqliteDatabase>(path); }

std::unique_ptr<Database> OpenDatabase(const std::string& where) {
    if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) return OpenPostgres(where);
    return OpenSqlite(where);
}

}  // namespace Ledger
