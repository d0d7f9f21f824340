// The SQLite backend: one database file per connection string "sqlite:PATH".

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <limits>
#include <list>
#include <memory>
#include <unordered_map>

#include "platform/base/error.h"
#include "platform/db/session.h"
#include "platform/db/statistics.h"

namespace kestrix::db {

namespace {

constexpr const char* kSource = "SQLite";
/// Virtual machine steps between two looks at the clock of a statement with a time-out.
constexpr int kProgressSteps = 1000;
/// Prepared statements kept per session for texts that come again (label and parameter
/// look-ups, the same query of every document); the least recently used goes first.
constexpr size_t kStatementCacheSize = 256;
/// Longer texts (rows written with their values inline) are prepared afresh every time.
constexpr size_t kCachedTextLimit = 4096;

struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

class SqliteSession final : public Session {
public:
    explicit SqliteSession(const std::string& path) : path_(path) {
        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            const int code = db ? sqlite3_extended_errcode(db) : rc;
            std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            sqlite3_close(db);
            throw Error(code, kSource,
                        "Cannot open the SQLite database 'sqlite:" + path + "': " + reason);
        }
        db_ = db;
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kDefaultBusyTimeoutMs);
        sqlite3_commit_hook(db_, &SqliteSession::OnCommit, nullptr);
        try {
            // Readers and one writer proceed side by side in write-ahead-log mode. The journal
            // of a statement inside a savepoint and the sorts of a query stay in memory
            // instead of a file made and removed each time.
            RunScript("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA temp_store=MEMORY;", 0);
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
        RememberFile();
    }

    ~SqliteSession() override {
        statements_.Clear();
        sqlite3_close_v2(db_);
    }

    Dialect dialect() const override { return Dialect::SQLite; }

    std::string Placeholder(int index) const override { return "?" + std::to_string(index); }

    int64_t Run(std::string_view sql, std::span<const Variant> params, Recordset* result,
                int timeoutSeconds) override {
        Deadline deadline(*this, timeoutSeconds);
        int rc = SQLITE_OK;
        StatementCounts& counts = detail::MutableThreadStatementCounts();
        ++counts.statements;
        StatementPtr stmt = statements_.Take(sql);
        if (!stmt) {
            ++counts.preparations;
            const char* tail = nullptr;
            sqlite3_stmt* raw = nullptr;
            if (sql.size() > static_cast<size_t>(std::numeric_limits<int>::max()))
                throw Error(errnum::Overflow, kSource,
                            "The statement text is longer than 2 GiB; values this long must be "
                            "bound as parameters.");
            rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, &tail);
            stmt.reset(raw);
            if (rc != SQLITE_OK) Fail(timeoutSeconds);
            CheckSingleStatement(sql, tail);
        }
        if (!stmt) {  // nothing but blanks and comments
            if (result) *result = Recordset();
            return 0;
        }
        Bind(stmt.get(), params);

        // The columns are read after the first step: a kept statement whose tables changed
        // since it was prepared is prepared anew by that step, "*" with the columns of now.
        rc = sqlite3_step(stmt.get());
        const int columnCount = sqlite3_column_count(stmt.get());
        std::vector<std::string> columns;
        std::vector<std::vector<Variant>> rows;
        for (int i = 0; i < columnCount; ++i) columns.emplace_back(sqlite3_column_name(stmt.get(), i));
        for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt.get())) {
            if (!result) continue;
            std::vector<Variant> row;
            row.reserve(columnCount);
            for (int i = 0; i < columnCount; ++i) row.push_back(ColumnValue(stmt.get(), i));
            rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) Fail(timeoutSeconds);
        if (result) *result = Recordset(std::move(columns), std::move(rows));
        const int64_t changes = sqlite3_stmt_readonly(stmt.get()) ? 0 : sqlite3_changes64(db_);
        statements_.Give(sql, std::move(stmt));
        return changes;
    }

    void RunScript(std::string_view sql, int timeoutSeconds) override {
        Deadline deadline(*this, timeoutSeconds);
        ++detail::MutableThreadStatementCounts().statements;
        const std::string text(sql);
        char* message = nullptr;
        const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
        if (rc != SQLITE_OK) {
            std::string reason = message ? message : sqlite3_errstr(rc);
            sqlite3_free(message);
            if (timedOut_) ThrowTimeout(timeoutSeconds);
            if ((rc & 0xff) == SQLITE_BUSY) Fail(timeoutSeconds);
            throw Error(sqlite3_extended_errcode(db_), kSource, reason);
        }
    }

    bool IsUsable() override {
        // A pooled handle must still point at the file of that name: a database removed
        // and created anew under the same path is a different database.
        if (!hasFile_) return true;
        struct stat st {};
        return ::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
    }

    bool IsBroken() const override { return false; }

    void SetBusyTimeout(int milliseconds) override {
        if (milliseconds == busyTimeoutMs_) return;
        sqlite3_busy_timeout(db_, milliseconds < 0 ? 0 : milliseconds);
        busyTimeoutMs_ = milliseconds;
    }

    const char* BeginStatement() const override { return "BEGIN IMMEDIATE"; }

    bool Reset() override {
        try {
            SetBusyTimeout(kDefaultBusyTimeoutMs);
        } catch (...) {
            return false;
        }
        if (sqlite3_get_autocommit(db_)) return true;
        return sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    /// Prepared statements by their text. A statement is taken out while it runs and given
    /// back reset, with its parameters unbound, only after it ran to the end; one that
    /// failed is finalized instead.
    class StatementCache {
    public:
        /// The prepared statement of `sql`, or null when there is none.
        StatementPtr Take(std::string_view sql) {
            auto found = index_.find(std::string(sql));
            if (found == index_.end()) return nullptr;
            StatementPtr stmt = std::move(found->second->second);
            order_.erase(found->second);
            index_.erase(found);
            return stmt;
        }
        /// Keeps `stmt` for the next run of `sql`.
        void Give(std::string_view sql, StatementPtr stmt) {
            if (sql.size() > kCachedTextLimit) return;
            if (sqlite3_reset(stmt.get()) != SQLITE_OK) return;
            sqlite3_clear_bindings(stmt.get());
            std::string key(sql);
            if (index_.count(key) != 0) return;
            order_.emplace_front(key, std::move(stmt));
            index_.emplace(std::move(key), order_.begin());
            if (order_.size() > kStatementCacheSize) {
                index_.erase(order_.back().first);
                order_.pop_back();
            }
        }
        void Clear() {
            index_.clear();
            order_.clear();
        }

    private:
        using Entry = std::pair<std::string, StatementPtr>;
        std::list<Entry> order_;  // most recently used first
        std::unordered_map<std::string, std::list<Entry>::iterator> index_;
    };

    /// Arms the progress handler for one statement and disarms it afterwards.
    class Deadline {
    public:
        Deadline(SqliteSession& session, int seconds) : session_(session) {
            session_.timedOut_ = false;
            if (seconds <= 0) return;
            session_.deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            sqlite3_progress_handler(session_.db_, kProgressSteps, &SqliteSession::OnProgress,
                                     &session_);
        }
        ~Deadline() { sqlite3_progress_handler(session_.db_, 0, nullptr, nullptr); }

    private:
        SqliteSession& session_;
    };

    /// Counts every commit of the session, those of single statements included; it runs on
    /// the committing thread.
    static int OnCommit(void*) {
        ++detail::MutableThreadStatementCounts().commits;
        return 0;  // lets the commit go ahead
    }

    static int OnProgress(void* self) {
        auto* session = static_cast<SqliteSession*>(self);
        if (std::chrono::steady_clock::now() < session->deadline_) return 0;
        session->timedOut_ = true;
        return 1;  // interrupts the statement
    }

    void RememberFile() {
        struct stat st {};
        if (path_.empty() || path_ == ":memory:" || ::stat(path_.c_str(), &st) != 0) return;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        hasFile_ = true;
    }

    [[noreturn]] void ThrowTimeout(int seconds) {
        throw Error(sqlite3_extended_errcode(db_), kSource,
                    "The statement was cancelled: it ran longer than the command time-out of " +
                        std::to_string(seconds) + " seconds.");
    }

    [[noreturn]] void Fail(int timeoutSeconds) {
        if (timedOut_) ThrowTimeout(timeoutSeconds);
        const int code = sqlite3_extended_errcode(db_);
        if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
            throw Error(errnum::DatabaseBusy, kSource,
                        "The database is busy: another connection held its lock for longer than "
                        "the busy time-out of " + std::to_string(busyTimeoutMs_) + " ms (" +
                            sqlite3_errmsg(db_) + ").");
        throw Error(code, kSource, sqlite3_errmsg(db_));
    }

    /// Refuses a second statement behind the first: one call runs one statement.
    void CheckSingleStatement(std::string_view sql, const char* tail) {
        if (!tail) return;
        const char* end = sql.data() + sql.size();
        while (tail < end) {
            sqlite3_stmt* next = nullptr;
            const char* rest = nullptr;
            const int rc = sqlite3_prepare_v2(db_, tail, static_cast<int>(end - tail), &next, &rest);
            StatementPtr guard(next);
            if (rc != SQLITE_OK || next)
                throw Error(errnum::E_FAIL, kSource,
                            "Only one statement may be run at a time; the text holds more.");
            if (rest == tail) break;
            tail = rest;
        }
    }

    void Bind(sqlite3_stmt* stmt, std::span<const Variant> params) {
        for (size_t i = 0; i < params.size(); ++i) {
            const int index = static_cast<int>(i + 1);
            const Variant& v = params[i];
            int rc = SQLITE_OK;
            if (v.IsNull() || v.IsEmpty()) {
                rc = sqlite3_bind_null(stmt, index);
            } else if (v.IsBool()) {
                rc = sqlite3_bind_int(stmt, index, v.ToBool() ? 1 : 0);
            } else if (v.IsInteger()) {
                rc = sqlite3_bind_int64(stmt, index, v.ToInt64());
            } else if (v.IsDouble()) {
                rc = sqlite3_bind_double(stmt, index, v.ToDouble());
            } else if (v.IsString()) {
                const std::string& s = std::get<std::string>(v.value());
                if (s.find('\0') != std::string::npos) RaiseNulInText(kSource);
                // The text stays alive and unchanged until the statement has run: no copy.
                rc = sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_STATIC, SQLITE_UTF8);
            } else if (v.IsDate()) {
                const std::string s = v.ToDate().Sortable();
                rc = sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
            } else {
                throw Error(errnum::TypeMismatch, kSource,
                            "An object or an array cannot be stored in a column.");
            }
            if (rc != SQLITE_OK) Fail(0);
        }
    }

    static Variant ColumnValue(sqlite3_stmt* stmt, int i) {
        switch (sqlite3_column_type(stmt, i)) {
            case SQLITE_NULL:
                return Null{};
            case SQLITE_INTEGER:
                return Variant(static_cast<long long>(sqlite3_column_int64(stmt, i)));
            case SQLITE_FLOAT:
                return sqlite3_column_double(stmt, i);
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                const int bytes = sqlite3_column_bytes(stmt, i);
                return std::string(text ? text : "", static_cast<size_t>(bytes));
            }
        }
    }

    sqlite3* db_ = nullptr;
    std::string path_;
    bool hasFile_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    bool timedOut_ = false;
    int busyTimeoutMs_ = kDefaultBusyTimeoutMs;
    StatementCache statements_;
};

}  // namespace

std::unique_ptr<Session> OpenSqliteSession(const std::string& path) {
    return std::make_unique<SqliteSession>(path);
}

}  // namespace kestrix::db
