// The server backend, through libpq: statements prepared once per connection, parameters as text
// (blobs as binary), results as text.
#include "Database.h"
#include "Text.h"
#include <libpq-fe.h>
#include <optional>
#include <vector>

namespace Ledger {

namespace {

std::string ServerMessage(PGconn* conn) {
    std::string text = PQerrorMessage(conn);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

class PgResult {
public:
    explicit PgResult(PGresult* result = nullptr) : result_(result) {}
    PgResult(const PgResult&) = delete;
    PgResult& operator=(PGresult* result) {
        if (result_) PQclear(result_);
        result_ = result;
        return *this;
    }
    ~PgResult() {
        if (result_) PQclear(result_);
    }
    PGresult* get() const { return result_; }

private:
    PGresult* result_;
};

void CheckResult(PGconn* conn, const PgResult& result, const std::string& what) {
    ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::string message = result.get() ? PQresultErrorMessage(result.get()) : ServerMessage(conn);
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw Error("PostgreSQL: " + message + (what.empty() ? "" : " in: " + what));
    }
}

// `?` becomes `$1`, `$2`, ...: the ledger writes its SQL once, in SQLite's spelling.
std::string Numbered(const std::string& sql, int& count) {
    std::string out;
    count = 0;
    bool quoted = false;
    for (char c : sql) {
        if (c == '\'') quoted = !quoted;
        if (c == '?' && !quoted) out += "$" + std::to_string(++count);
        else out += c;
    }
    return out;
}

class PgStatement : public Statement {
public:
    PgStatement(PGconn* conn, std::string name, int params, std::string sql)
        : conn_(conn), name_(std::move(name)), sql_(std::move(sql)), values_(size_t(params)), binary_(size_t(params), 0) {}

    void Bind(int index, int64_t value) override { Set(index, std::to_string(value), false); }
    void Bind(int index, std::string_view text) override { Set(index, std::string(text), false); }
    void BindBlob(int index, std::string_view bytes) override { Set(index, std::string(bytes), true); }
    void BindNull(int index) override { values_.at(size_t(index - 1)).reset(); }
    bool Step() override {
        if (!result_.get()) {
            std::vector<const char*> values(values_.size());
            std::vector<int> lengths(values_.size());
            for (size_t i = 0; i < values_.size(); ++i) {
                values[i] = values_[i] ? values_[i]->data() : nullptr;
                lengths[i] = values_[i] ? int(values_[i]->size()) : 0;
            }
            result_ = PQexecPrepared(conn_, name_.c_str(), int(values.size()), values.data(), lengths.data(), binary_.data(), 0);
            CheckResult(conn_, result_, sql_);
            row_ = -1;
        }
        return ++row_ < PQntuples(result_.get());
    }
    bool IsNull(int column) override { return PQgetisnull(result_.get(), row_, column); }
    int64_t Int(int column) override { return std::strtoll(PQgetvalue(result_.get(), row_, column), nullptr, 10); }
    std::string Text(int column) override {
        return std::string(PQgetvalue(result_.get(), row_, column), size_t(PQgetlength(result_.get(), row_, column)));
    }
    std::string Blob(int column) override {
        size_t length = 0;
        unsigned char* bytes =
            PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row_, column)), &length);
        if (!bytes) throw Error("PostgreSQL: a bytea value does not read");
        std::string out(reinterpret_cast<char*>(bytes), length);
        PQfreemem(bytes);
        return out;
    }
    void Reset() override {
        result_ = nullptr;
        for (auto& value : values_) value.reset();
    }

private:
    void Set(int index, std::string value, bool binary) {
        values_.at(size_t(index - 1)) = std::move(value);
        binary_[size_t(index - 1)] = binary ? 1 : 0;
    }
    PGconn* conn_;
    std::string name_, sql_;
    std::vector<std::optional<std::string>> values_;
    std::vector<int> binary_;
    PgResult result_;
    int row_ = -1;
};

class PgDatabase : public Database {
public:
    explicit PgDatabase(const std::string& url) : url_(url) {
        conn_ = PQconnectdb(url.c_str());
        if (PQstatus(conn_) != CONNECTION_OK) {
            std::string reason = ServerMessage(conn_);
            PQfinish(conn_);
            throw Error("cannot connect to the database " + Shown() + ": " + reason);
        }
        Execute("SET client_min_messages = warning");
        Execute("SET client_encoding = 'UTF8'");
        // As on SQLite, a commit does not wait for the disk: a crash loses at most the last files,
        // which the next ingest reads again, since a file's row commits with its records.
        Execute("SET synchronous_commit = off");
    }
    ~PgDatabase() override {
        DropStatements();
        PQfinish(conn_);
    }

    std::unique_ptr<Statement> Compile(const std::string& sql) override {
        int params = 0;
        std::string numbered = Numbered(sql, params);
        std::string name = "ledger" + std::to_string(++prepared_);
        PgResult result(PQprepare(conn_, name.c_str(), numbered.c_str(), 0, nullptr));
        CheckResult(conn_, result, sql);
        return std::make_unique<PgStatement>(conn_, name, params, sql);
    }
    void Execute(const std::string& sql) override {
        PgResult result(PQexec(conn_, sql.c_str()));
        CheckResult(conn_, result, sql);
    }
    void Begin() override { Execute("BEGIN"); }
    void Commit() override { Execute("COMMIT"); }
    void Rollback() override {
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PgResult(PQexec(conn_, "ROLLBACK"));
    }
    void LockSchema() override { Execute("SELECT pg_advisory_xact_lock(7342015)"); }
    std::string TableQuery() const override { return "SELECT 1 FROM pg_tables WHERE schemaname = current_schema() AND tablename = ?"; }
    std::string IdColumn() const override { return "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"; }
    std::string BlobType() const override { return "BYTEA"; }
    std::string Name() const override { return Shown(); }

private:
    // The URL without its password.
    std::string Shown() const {
        std::string shown = url_;
        size_t scheme = shown.find("://");
        size_t at = shown.find('@');
        if (scheme != std::string::npos && at != std::string::npos && at > scheme) {
            size_t colon = shown.find(':', scheme + 3);
            if (colon != std::string::npos && colon < at) shown.replace(colon + 1, at - colon - 1, "***");
        }
        return shown;
    }
    std::string url_;
    PGconn* conn_ = nullptr;
    int prepared_ = 0;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& url) { return std::make_unique<PgDatabase>(url); }

}  // namespace Ledger
