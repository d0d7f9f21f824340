#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/db/recordset.h"

namespace kestrix::db {

enum class Dialect { SQLite, PostgreSQL };

/// One backend session (a SQLite handle or a libpq connection). Implemented per dialect in
/// the backend's own .cpp file; nothing outside platform/db sees the driver.
class Session;

/// A database connection as the business layer uses it: opened from a connection string
/// ("sqlite:PATH" or "postgresql://..."), taken from and given back to the calling thread's
/// pool, so that opening one per method costs no new database session.
///
/// SQL is text. The few differences of the two dialects are mended here, not by callers:
/// a "dbo." schema prefix is dropped, parenthesised members of a UNION are unwrapped for
/// SQLite. Failures raise `Error` with the driver's code as number (E_FAIL when it has none)
/// and the driver's message as description.
class Connection {
public:
    /// Opens a connection. An unknown scheme, an unreachable server or a file that cannot be
    /// opened raise an error naming the connection string's scheme and the reason.
    explicit Connection(const std::string& connectionString, int commandTimeoutSeconds = 0);
    ~Connection();
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Dialect dialect() const;
    bool IsOpen() const;
    /// Gives the session back to the pool; later calls fail. Idempotent.
    void Close();

    /// Seconds after which a statement is cancelled; 0 means no limit.
    void SetCommandTimeout(int seconds);
    int CommandTimeout() const;
    /// How long a statement waits for a lock held by another connection before it fails
    /// with `errnum::DatabaseBusy` (milliseconds; sessions start with kDefaultBusyTimeoutMs).
    void SetBusyTimeout(int milliseconds);
    /// True while the connection runs on the session a `Transaction` pinned to this thread.
    bool InTransaction() const { return pinned_; }

    /// Executes a statement that answers no rows; returns the number of rows it touched.
    int64_t Execute(std::string_view sql);
    /// Executes a statement with values bound to its "?" placeholders, in order. The text
    /// stays the same from call to call, so its prepared form is reused.
    int64_t Execute(std::string_view sql, std::span<const Variant> params);
    int64_t Execute(std::string_view sql, std::initializer_list<Variant> params) {
        return Execute(sql, std::span<const Variant>(params.begin(), params.size()));
    }
    /// Executes a query and returns all its rows.
    Recordset Query(std::string_view sql);
    /// Executes a query with values bound to its "?" placeholders, in order.
    Recordset Query(std::string_view sql, std::span<const Variant> params);
    Recordset Query(std::string_view sql, std::initializer_list<Variant> params) {
        return Query(sql, std::span<const Variant>(params.begin(), params.size()));
    }
    /// Executes several statements separated by ";" (a schema script).
    void ExecuteScript(std::string_view sql);

    /// Adds `row` to `table` and returns the generated value of `keyColumn` (0 when no key
    /// column is given).
    int64_t Insert(std::string_view table, const EditRow& row, std::string_view keyColumn = {});
    /// Reads the first row of "SELECT * FROM table WHERE where" for editing, or nothing.
    std::optional<EditRow> Edit(std::string_view table, std::string_view where);
    /// Writes the changed columns of `row` to the rows of `table` matching `where`; returns
    /// the number of rows changed.
    int64_t Update(std::string_view table, const EditRow& row, std::string_view where);

    /// SQL literal encoders of this connection's dialect: safe for every text.
    std::string EncodeText(std::string_view text) const;
    std::string EncodeLike(std::string_view text) const;
    static std::string EncodeNumber(int64_t number);

private:
    /// Runs one statement on the session, opening a new session once when a pooled one turns
    /// out to have lost its server.
    int64_t Run(std::string_view sql, std::span<const Variant> params, Recordset* result);
    /// Calls `work` with the session, retrying once on a new session as `Run` does.
    template <typename Work>
    auto WithSession(Work&& work, bool repeatable);

    /// The session in use: `owned_`, or the one pinned to the thread by a transaction.
    Session* session_ = nullptr;
    std::unique_ptr<Session> owned_;
    std::string connectionString_;
    int commandTimeout_ = 0;
    /// True from taking a session out of the pool until its first statement.
    bool pooled_ = false;
    /// True when `session_` belongs to the thread's transaction, not to this connection.
    bool pinned_ = false;
};

/// Milliseconds a statement waits for another connection's lock unless told otherwise.
inline constexpr int kDefaultBusyTimeoutMs = 30000;

/// One unit of work: while it lives, every `Connection` that the calling thread opens with
/// the same connection string runs on one session inside one database transaction (on
/// SQLite "BEGIN IMMEDIATE", so that the write lock is taken, or waited for, at the start).
/// The destructor rolls back unless `Commit` was called.
///
/// A transaction begun while another of the same database is active on the thread joins
/// it as a savepoint: its `Commit` releases the savepoint (the outer transaction still
/// decides), its roll-back undoes only what was done since it began.
class Transaction {
public:
    explicit Transaction(const std::string& connectionString, int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    /// Makes the work permanent (or releases the savepoint). Raises when the database refuses;
    /// the transaction is then rolled back.
    void Commit();
    /// Undoes the work (or the work since the savepoint). Never raises.
    void Rollback() noexcept;
    /// True when this transaction is a savepoint inside an outer one.
    bool IsNested() const { return !savepoint_.empty(); }
    /// True until Commit or Rollback.
    bool IsActive() const { return active_; }

private:
    std::string connectionString_;
    std::string savepoint_;
    bool active_ = false;
};

/// True when the calling thread has a transaction of that database.
bool InTransaction(const std::string& connectionString);


/// Dialect of a connection string, or an error for an unknown scheme.
Dialect DialectOf(std::string_view connectionString);

/// The SQL literal encoders by dialect, for callers that have no open connection.
std::string EncodeSqlText(Dialect dialect, std::string_view text);
std::string EncodeSqlLike(Dialect dialect, std::string_view text);

/// The text of `sql` as the dialect runs it: "dbo." prefixes dropped; for SQLite the
/// parentheses around whole UNION members removed; for PostgreSQL LIKE becomes ILIKE, so that
/// a pattern compares ignoring case on both. Text inside literals is never changed.
std::string AdaptSql(Dialect dialect, std::string_view sql);

/// Empties the calling thread's pool (closing its sessions). Tests use it between sites.
void ClearThreadPool();

}  // namespace kestrix::db
