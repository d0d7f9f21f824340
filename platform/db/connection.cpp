#include "platform/db/connection.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/session.h"

namespace kestrix::db {

namespace {

constexpr const char* kSource = "Connection";
/// Idle sessions kept per connection string and thread; more are closed when given back.
constexpr size_t kMaxIdlePerDatabase = 4;

/// The idle sessions of one thread, by connection string. Sessions are taken out while a
/// `Connection` uses them and given back when it closes.
class ThreadPool {
public:
    /// A usable idle session of `connectionString`, or nothing.
    std::unique_ptr<Session> Take(const std::string& connectionString) {
        auto it = idle_.find(connectionString);
        if (it == idle_.end()) return nullptr;
        auto& sessions = it->second;
        while (!sessions.empty()) {
            std::unique_ptr<Session> session = std::move(sessions.back());
            sessions.pop_back();
            if (session->IsUsable()) return session;
            // A dead session is simply dropped; the caller opens a new one.
        }
        return nullptr;
    }

    void Give(const std::string& connectionString, std::unique_ptr<Session> session) {
        if (session->IsBroken() || !session->Reset()) return;
        auto& sessions = idle_[connectionString];
        if (sessions.size() < kMaxIdlePerDatabase) sessions.push_back(std::move(session));
    }

    /// As Give; a session that cannot be given back is closed.
    void GiveQuietly(const std::string& connectionString, std::unique_ptr<Session> session) noexcept {
        try {
            Give(connectionString, std::move(session));
        } catch (...) {
        }
    }

    void Clear() { idle_.clear(); }

private:
    std::unordered_map<std::string, std::vector<std::unique_ptr<Session>>> idle_;
};

ThreadPool& Pool() {
    thread_local ThreadPool pool;
    return pool;
}

/// The session a transaction pinned to the thread, with the depth of its savepoints.
struct Pin {
    std::string connectionString;
    std::unique_ptr<Session> session;
    int savepoints = 0;
};

/// The thread's pinned sessions: one per database with an active transaction.
std::vector<Pin>& Pins() {
    thread_local std::vector<Pin> pins;
    return pins;
}

Pin* FindPin(const std::string& connectionString) {
    for (Pin& pin : Pins())
        if (pin.connectionString == connectionString) return &pin;
    return nullptr;
}

/// Takes the pinned session of the database off the thread and hands it over.
std::unique_ptr<Session> Unpin(const std::string& connectionString) {
    std::unique_ptr<Session> session = std::move(FindPin(connectionString)->session);
    std::erase_if(Pins(), [&](const Pin& p) { return p.connectionString == connectionString; });
    return session;
}

/// True for a statement that only reads: running it twice does no harm.
bool IsReadOnly(std::string_view sql) {
    const std::string_view verb = StatementVerb(sql);
    return IEquals(verb, "SELECT") || IEquals(verb, "PRAGMA") || IEquals(verb, "VALUES");
}

std::string_view SqlitePath(std::string_view connectionString) {
    return connectionString.substr(std::string_view("sqlite:").size());
}

std::unique_ptr<Session> OpenSession(const std::string& connectionString) {
    if (DialectOf(connectionString) == Dialect::SQLite) {
        const std::string path(SqlitePath(connectionString));
        if (Trim(path).empty())
            throw Error(errnum::E_FAIL, "SQLite",
                        "Cannot open the SQLite database: the connection string 'sqlite:' names "
                        "no file.");
        return OpenSqliteSession(path);
    }
    return OpenPostgresSession(connectionString);
}

[[noreturn]] void RaiseClosed() {
    throw Error(errnum::E_FAIL, kSource, "The connection is closed.");
}

}  // namespace

Dialect DialectOf(std::string_view connectionString) {
    const std::string_view s = connectionString;
    if (IStartsWith(s, "sqlite:")) return Dialect::SQLite;
    if (IStartsWith(s, "postgresql://") || IStartsWith(s, "postgres://")) return Dialect::PostgreSQL;
    const size_t colon = s.find(':');
    const std::string scheme = colon == std::string_view::npos ? std::string() : std::string(s.substr(0, colon));
    throw Error(errnum::E_FAIL, kSource,
                scheme.empty()
                    ? "Cannot open the database: the connection string names no scheme "
                      "(\"sqlite:PATH\" or \"postgresql://...\")."
                    : "Cannot open the database: unknown connection string scheme '" + scheme +
                          "' (\"sqlite:PATH\" or \"postgresql://...\").");
}

namespace {

struct Span {
    size_t begin;
    size_t end;
};

/// Where the secrets of a connection string stand: the password of "scheme://user:password@",
/// the values of "password=" (query parameter or key word, quoted or not), and, in an address
/// without "@", a non-numeric text where the port would be (a password whose user forgot the
/// host, which the client library then echoes as a bad port).
std::vector<Span> SecretSpans(std::string_view s) {
    std::vector<Span> spans;
    const size_t scheme = s.find("://");
    if (scheme != std::string_view::npos) {
        const size_t authority = scheme + 3;
        const size_t end = std::min(s.find_first_of("/?", authority), s.size());
        const size_t at = s.rfind('@', end == 0 ? 0 : end - 1);
        const size_t colon = s.find(':', authority);
        if (at != std::string_view::npos && at >= authority) {
            if (colon != std::string_view::npos && colon < at) spans.push_back({colon + 1, at});
        } else if (colon != std::string_view::npos && colon < end) {
            const std::string_view port = s.substr(colon + 1, end - colon - 1);
            const bool numeric = !port.empty() &&
                                 port.find_first_not_of("0123456789") == std::string_view::npos;
            if (!numeric && !port.empty()) spans.push_back({colon + 1, end});
        }
    }
    constexpr std::string_view kKey = "password";
    for (size_t pos = IFind(s, kKey); pos != std::string_view::npos; pos = IFind(s, kKey, pos + 1)) {
        size_t i = pos + kKey.size();
        while (i < s.size() && s[i] == ' ') ++i;
        if (i >= s.size() || s[i] != '=') continue;
        ++i;
        while (i < s.size() && s[i] == ' ') ++i;
        size_t valueEnd = i;
        if (i < s.size() && s[i] == '\'') {
            // A quoted key-word value: up to the closing quote, backslash escapes skipped.
            valueEnd = i + 1;
            while (valueEnd < s.size() && s[valueEnd] != '\'')
                valueEnd += s[valueEnd] == '\\' ? 2 : 1;
            valueEnd = std::min(valueEnd + 1, s.size());
        } else {
            valueEnd = std::min(s.find_first_of("& ", i), s.size());
        }
        if (valueEnd > i) spans.push_back({i, valueEnd});
    }
    return spans;
}

/// `text` with every occurrence of `what` replaced by `with`.
void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
    if (what.empty()) return;
    for (size_t pos = text.find(what); pos != std::string::npos;
         pos = text.find(what, pos + with.size()))
        text.replace(pos, what.size(), with);
}

}  // namespace

std::string RedactConnectionString(std::string_view connectionString) {
    std::vector<Span> spans = SecretSpans(connectionString);
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin > b.begin; });
    std::string s(connectionString);
    size_t limit = s.size();
    for (const Span& span : spans) {
        if (span.end > limit) continue;  // overlaps a span already masked
        s.replace(span.begin, span.end - span.begin, "***");
        limit = span.begin;
    }
    return s;
}

std::string RedactConnectionSecrets(std::string message, std::string_view connectionString) {
    ReplaceAll(message, connectionString, RedactConnectionString(connectionString));
    for (const Span& span : SecretSpans(connectionString)) {
        std::string_view secret = connectionString.substr(span.begin, span.end - span.begin);
        if (secret.size() >= 2 && secret.front() == '\'' && secret.back() == '\'')
            secret = secret.substr(1, secret.size() - 2);
        if (secret.empty()) continue;
        // Messages quote the values they complain about; a longer secret is masked wherever
        // it stands, a very short one only where it is quoted, so that ordinary words live.
        ReplaceAll(message, "\"" + std::string(secret) + "\"", "\"***\"");
        if (secret.size() >= 4) ReplaceAll(message, secret, "***");
    }
    return message;
}

Connection::Connection(const std::string& connectionString, int commandTimeoutSeconds)
    : connectionString_(connectionString), commandTimeout_(commandTimeoutSeconds) {
    if (Pin* pin = FindPin(connectionString_)) {
        session_ = pin->session.get();
        pinned_ = true;
        return;
    }
    owned_ = Pool().Take(connectionString_);
    pooled_ = owned_ != nullptr;
    if (!owned_) owned_ = OpenSession(connectionString_);
    session_ = owned_.get();
}

Connection::~Connection() { Close(); }

Connection::Connection(Connection&& other) noexcept
    : session_(std::exchange(other.session_, nullptr)),
      owned_(std::move(other.owned_)),
      connectionString_(std::move(other.connectionString_)),
      commandTimeout_(other.commandTimeout_),
      pooled_(other.pooled_),
      pinned_(other.pinned_) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        Close();
        session_ = std::exchange(other.session_, nullptr);
        owned_ = std::move(other.owned_);
        connectionString_ = std::move(other.connectionString_);
        commandTimeout_ = other.commandTimeout_;
        pooled_ = other.pooled_;
        pinned_ = other.pinned_;
    }
    return *this;
}

Dialect Connection::dialect() const {
    if (!session_) RaiseClosed();
    return session_->dialect();
}

bool Connection::IsOpen() const { return session_ != nullptr; }

void Connection::Close() {
    session_ = nullptr;
    pinned_ = false;
    if (owned_) Pool().GiveQuietly(connectionString_, std::move(owned_));
}

void Connection::SetCommandTimeout(int seconds) { commandTimeout_ = seconds < 0 ? 0 : seconds; }

void Connection::SetBusyTimeout(int milliseconds) {
    if (!session_) RaiseClosed();
    session_->SetBusyTimeout(milliseconds);
}

int Connection::CommandTimeout() const { return commandTimeout_; }

template <typename Work>
auto Connection::WithSession(Work&& work, bool repeatable) {
    if (!session_) RaiseClosed();
    const bool firstUseOfPooled = pooled_;
    pooled_ = false;
    try {
        return work(*session_);
    } catch (const Error&) {
        // A pooled session whose server ended it while it lay idle fails on its first
        // statement: open a new session and run the statement there, but only a statement
        // that reads, since the server may have run a write before the link broke.
        if (!firstUseOfPooled || pinned_ || !repeatable || !session_->IsBroken()) throw;
    }
    owned_.reset();
    session_ = nullptr;
    owned_ = OpenSession(connectionString_);
    session_ = owned_.get();
    return work(*session_);
}

int64_t Connection::Run(std::string_view sql, std::span<const Variant> params, Recordset* result) {
    return WithSession(
        [&](Session& session) { return session.Run(sql, params, result, commandTimeout_); },
        IsReadOnly(sql));
}

int64_t Connection::Execute(std::string_view sql) { return Execute(sql, {}); }

int64_t Connection::Execute(std::string_view sql, std::span<const Variant> params) {
    const std::string text = AdaptSql(dialect(), sql);
    return Run(text, params, nullptr);
}

Recordset Connection::Query(std::string_view sql) { return Query(sql, std::span<const Variant>{}); }

Recordset Connection::Query(std::string_view sql, std::span<const Variant> params) {
    const std::string text = AdaptSql(dialect(), sql);
    Recordset rs;
    Run(text, params, &rs);
    return rs;
}

void Connection::ExecuteScript(std::string_view sql) {
    WithSession(
        [&](Session& session) {
            session.RunScript(sql, commandTimeout_);
            return 0;
        },
        false);
}

int64_t Connection::Insert(std::string_view table, const EditRow& row, std::string_view keyColumn) {
    if (!session_) RaiseClosed();
    std::string sql = "INSERT INTO " + AdaptSql(dialect(), table);
    std::string columns, placeholders;
    std::vector<Variant> params;
    for (const auto& v : row.Values()) {
        if (!v.changed) continue;
        if (!params.empty()) {
            columns += ", ";
            placeholders += ", ";
        }
        params.push_back(v.value);
        columns += v.column;
        placeholders += session_->Placeholder(static_cast<int>(params.size()));
    }
    if (params.empty())
        sql += " DEFAULT VALUES";
    else
        sql += " (" + columns + ") VALUES (" + placeholders + ")";
    if (keyColumn.empty()) {
        Run(sql, params, nullptr);
        return 0;
    }
    sql += " RETURNING " + std::string(keyColumn);
    Recordset rs;
    Run(sql, params, &rs);
    if (rs.Eof() || rs.Field(size_t{0}).IsNull())
        throw Error(errnum::E_FAIL, kSource,
                    "The new row of " + std::string(table) + " has no value of " +
                        std::string(keyColumn) + ".");
    return rs.Field(size_t{0}).ToInt64();
}

std::optional<EditRow> Connection::Edit(std::string_view table, std::string_view where) {
    Recordset rs = Query("SELECT * FROM " + std::string(table) + " WHERE " + std::string(where));
    if (rs.Eof()) return std::nullopt;
    return EditRow(rs);
}

int64_t Connection::Update(std::string_view table, const EditRow& row, std::string_view where) {
    if (!session_) RaiseClosed();
    std::string assignments;
    std::vector<Variant> params;
    for (const auto& v : row.Values()) {
        if (!v.changed) continue;
        if (!params.empty()) assignments += ", ";
        params.push_back(v.value);
        assignments += v.column + " = " + session_->Placeholder(static_cast<int>(params.size()));
    }
    if (params.empty()) return 0;
    const std::string sql = "UPDATE " + AdaptSql(dialect(), table) + " SET " + assignments +
                            " WHERE " + AdaptSql(dialect(), where);
    return Run(sql, params, nullptr);
}

std::string Connection::EncodeText(std::string_view text) const {
    return EncodeSqlText(dialect(), text);
}

std::string Connection::EncodeLike(std::string_view text) const {
    return EncodeSqlLike(dialect(), text);
}

void ClearThreadPool() { Pool().Clear(); }

bool InTransaction(const std::string& connectionString) { return FindPin(connectionString) != nullptr; }

Transaction::Transaction(const std::string& connectionString, int busyTimeoutMs)
    : connectionString_(connectionString) {
    if (Pin* pin = FindPin(connectionString_)) {
        savepoint_ = "kx_sp" + std::to_string(++pin->savepoints);
        try {
            pin->session->Run("SAVEPOINT " + savepoint_, {}, nullptr, 0);
        } catch (...) {
            --pin->savepoints;
            throw;
        }
        active_ = true;
        return;
    }
    std::unique_ptr<Session> session = Pool().Take(connectionString_);
    const bool pooled = session != nullptr;
    if (!session) session = OpenSession(connectionString_);
    try {
        session->SetBusyTimeout(busyTimeoutMs);
        session->Run(session->BeginStatement(), {}, nullptr, 0);
    } catch (const Error&) {
        // A pooled session whose server ended it while it lay idle: beginning again on a new
        // session repeats nothing.
        if (!pooled || !session->IsBroken()) throw;
        session = OpenSession(connectionString_);
        session->SetBusyTimeout(busyTimeoutMs);
        session->Run(session->BeginStatement(), {}, nullptr, 0);
    }
    Pins().push_back(Pin{connectionString_, std::move(session), 0});
    active_ = true;
}

Transaction::~Transaction() { Rollback(); }

void Transaction::Commit() {
    if (!active_) throw Error(errnum::E_FAIL, kSource, "The transaction has already ended.");
    Pin* pin = FindPin(connectionString_);
    if (!pin) throw Error(errnum::E_FAIL, kSource, "The transaction has lost its session.");
    try {
        if (IsNested()) {
            pin->session->Run("RELEASE SAVEPOINT " + savepoint_, {}, nullptr, 0);
            --pin->savepoints;
            active_ = false;
            return;
        }
        pin->session->Run("COMMIT", {}, nullptr, 0);
    } catch (...) {
        Rollback();
        throw;
    }
    active_ = false;
    Pool().GiveQuietly(connectionString_, Unpin(connectionString_));
}

void Transaction::Rollback() noexcept {
    if (!active_) return;
    active_ = false;
    Pin* pin = FindPin(connectionString_);
    if (!pin) return;
    if (IsNested()) {
        try {
            pin->session->Run("ROLLBACK TO SAVEPOINT " + savepoint_, {}, nullptr, 0);
            pin->session->Run("RELEASE SAVEPOINT " + savepoint_, {}, nullptr, 0);
        } catch (...) {
            // The outer transaction's own roll-back or commit reports the trouble.
        }
        --pin->savepoints;
        return;
    }
    std::unique_ptr<Session> session = Unpin(connectionString_);
    try {
        session->Run("ROLLBACK", {}, nullptr, 0);
    } catch (...) {
        // A session whose roll-back failed is closed, which ends its transaction too.
        return;
    }
    Pool().GiveQuietly(connectionString_, std::move(session));
}

}  // namespace kestrix::db
