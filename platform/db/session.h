#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/variant.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"

namespace kestrix::db {

/// One open session of a backend. Each backend implements it in its own .cpp file, the only
/// place that includes its driver's header. Sessions are owned by a `Connection` while in use
/// and by the calling thread's pool in between.
class Session {
public:
    virtual ~Session() = default;

    virtual Dialect dialect() const = 0;

    /// Runs one statement with `params` bound to the placeholders of `Placeholder(1..n)`.
    /// When `result` is given it receives every row the statement answers. Returns the number
    /// of rows the statement changed. `timeoutSeconds` > 0 cancels the statement after that
    /// long with a time-out error.
    virtual int64_t Run(std::string_view sql, std::span<const Variant> params, Recordset* result,
                        int timeoutSeconds) = 0;
    /// Runs a script of several statements separated by ";".
    virtual void RunScript(std::string_view sql, int timeoutSeconds) = 0;
    /// The text of the n-th (1-based) parameter placeholder.
    virtual std::string Placeholder(int index) const = 0;

    /// Checked when the pool hands the session out: false when it can no longer serve
    /// (its server went away, its database file was replaced).
    virtual bool IsUsable() = 0;
    /// True when the link to the server broke; a broken session is never pooled again.
    virtual bool IsBroken() const = 0;
    /// How long a statement waits for a lock another connection holds (milliseconds).
    virtual void SetBusyTimeout(int milliseconds) = 0;
    /// The statement that opens a transaction that writes ("BEGIN IMMEDIATE" on SQLite).
    virtual const char* BeginStatement() const = 0;

    /// Called before the session goes back to the pool: ends a transaction a caller left
    /// open. False when the session should rather be closed.
    virtual bool Reset() = 0;
};

/// Opens a SQLite session on the database file `path` (created when missing).
std::unique_ptr<Session> OpenSqliteSession(const std::string& path);
/// Opens a PostgreSQL session from a "postgresql://" or "postgres://" connection string.
std::unique_ptr<Session> OpenPostgresSession(const std::string& connectionString);

/// The connection string with any password replaced by "***", fit for messages.
std::string RedactConnectionString(std::string_view connectionString);
/// `message` (a server's or client library's complaint about `connectionString`) with every
/// secret of the connection string masked, the connection string itself included.
std::string RedactConnectionSecrets(std::string message, std::string_view connectionString);

/// The first word of a statement (its verb: "SELECT", "UPDATE", ...), after blanks and
/// opening parentheses; "" for a text without one.
std::string_view StatementVerb(std::string_view sql);

/// Raises the error for a text value that holds a NUL byte (no text column can keep one).
[[noreturn]] void RaiseNulInText(const char* source);

}  // namespace kestrix::db
