// The PostgreSQL backend: a libpq session per connection string "postgresql://...".

#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/session.h"
#include "platform/db/statistics.h"

namespace kestrix::db {

namespace {

constexpr const char* kSource = "PostgreSQL";
/// Seconds to wait for an unreachable server unless the connection string says otherwise.
constexpr const char* kConnectTimeout = "10";
/// Statements kept prepared per session at most; past it the server forgets them all.
constexpr size_t kPreparedLimit = 256;
/// Longer texts (values written inline) are never kept prepared.
constexpr size_t kPreparedTextLimit = 4096;

// Type identifiers of the built-in types whose values come back as numbers.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700,
              kFloat8 = 701, kNumeric = 1700;

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

void IgnoreNotice(void*, const char*) {}

std::string TrimMessage(const char* message) { return Trim(message ? message : ""); }

Variant ParseValue(Oid type, const char* text, int length) {
    std::string_view s(text, static_cast<size_t>(length));
    switch (type) {
        case kInt2:
        case kInt4:
        case kInt8:
        case kOid: {
            long long v = 0;
            auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc() && p == s.data() + s.size()) return Variant(v);
            break;
        }
        case kNumeric: {
            // A numeric without fraction that fits comes back as an integer (SUM of integers).
            long long v = 0;
            auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc() && p == s.data() + s.size()) return Variant(v);
            return std::strtod(std::string(s).c_str(), nullptr);
        }
        case kFloat4:
        case kFloat8:
            return std::strtod(std::string(s).c_str(), nullptr);
        case kBool:
            return Variant(s == "t");
        default:
            break;
    }
    return Variant(std::string(s));
}

class PostgresSession final : public Session {
public:
    explicit PostgresSession(const std::string& connectionString) {
        // Later key words win: the connection string may set its own connect_timeout, but
        // the client encoding is always UTF-8.
        const char* keywords[] = {"connect_timeout", "dbname", "client_encoding", nullptr};
        const char* values[] = {kConnectTimeout, connectionString.c_str(), "UTF8", nullptr};
        conn_ = PQconnectdbParams(keywords, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            std::string reason = conn_ ? RedactConnectionSecrets(TrimMessage(PQerrorMessage(conn_)),
                                                                connectionString)
                                     : "out of memory";
            PQfinish(conn_);
            throw Error(errnum::E_FAIL, kSource,
                        "Cannot connect to the PostgreSQL database '" +
                            RedactConnectionString(connectionString) + "': " + reason);
        }
        PQsetNoticeProcessor(conn_, &IgnoreNotice, nullptr);
        ResultPtr r(PQexec(conn_, ("SET standard_conforming_strings = on; SET statement_timeout = 0; "
                                   "SET lock_timeout = " + std::to_string(kDefaultBusyTimeoutMs))
                                      .c_str()));
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
            std::string reason = TrimMessage(PQerrorMessage(conn_));
            PQfinish(conn_);
            throw Error(errnum::E_FAIL, kSource, "Cannot set up the session: " + reason);
        }
    }

    ~PostgresSession() override { PQfinish(conn_); }

    Dialect dialect() const override { return Dialect::PostgreSQL; }

    std::string Placeholder(int index) const override { return "$" + std::to_string(index); }

    int64_t Run(std::string_view sql, std::span<const Variant> params, Recordset* result,
                int timeoutSeconds) override {
        SetTimeout(timeoutSeconds);
        std::vector<std::string> held;  // texts of the values that are not strings already
        held.reserve(params.size());
        std::vector<const char*> values(params.size(), nullptr);
        for (size_t i = 0; i < params.size(); ++i) {
            const Variant& v = params[i];
            if (v.IsNull() || v.IsEmpty()) continue;
            if (v.IsString()) {
                const std::string& s = std::get<std::string>(v.value());
                if (s.find('\0') != std::string::npos) RaiseNulInText(kSource);
                values[i] = s.c_str();
            } else if (v.IsBool()) {
                values[i] = v.ToBool() ? "1" : "0";
            } else if (v.IsInteger()) {
                values[i] = held.emplace_back(std::to_string(v.ToInt64())).c_str();
            } else if (v.IsDouble()) {
                char buf[64];
                auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v.ToDouble());
                values[i] = held.emplace_back(buf, p).c_str();
            } else if (v.IsDate()) {
                values[i] = held.emplace_back(v.ToDate().Sortable()).c_str();
            } else {
                throw Error(errnum::TypeMismatch, kSource,
                            "An object or an array cannot be stored in a column.");
            }
        }
        const std::string text(sql);
        const PGTransactionStatusType before = PQtransactionStatus(conn_);
        bool prepared = false;
        ResultPtr r = Execute(text, values, prepared);
        ExecStatusType status = PQresultStatus(r.get());
        if (prepared && status == PGRES_FATAL_ERROR && before == PQTRANS_IDLE && IsStalePlan(r.get())) {
            // The tables under a kept statement changed shape: forget it and run the text once
            // more, outside any transaction, so nothing is repeated that the server had done.
            Forget(text);
            r.reset(PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                 nullptr, nullptr, 0));
            status = PQresultStatus(r.get());
            prepared = false;
        }
        Count(before, r.get(), !prepared);
        if (status == PGRES_COMMAND_OK || status == PGRES_EMPTY_QUERY) {
            if (result) *result = Recordset();
            return std::atoll(PQcmdTuples(r.get()));
        }
        if (status != PGRES_TUPLES_OK) Fail(r.get(), timeoutSeconds);
        if (result) *result = Materialise(r.get());
        const char* touched = PQcmdTuples(r.get());
        return touched && *touched && !IStartsWith(PQcmdStatus(r.get()), "SELECT")
                   ? std::atoll(touched)
                   : 0;
    }

    void RunScript(std::string_view sql, int timeoutSeconds) override {
        SetTimeout(timeoutSeconds);
        ++detail::MutableThreadStatementCounts().statements;
        const std::string text(sql);
        if (!PQsendQuery(conn_, text.c_str())) Fail(nullptr, timeoutSeconds);
        // Every statement of the script answers a result; the first failure ends the script.
        ResultPtr failure;
        while (PGresult* raw = PQgetResult(conn_)) {
            ResultPtr r(raw);
            const ExecStatusType status = PQresultStatus(raw);
            if (!failure && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK &&
                status != PGRES_EMPTY_QUERY)
                failure = std::move(r);
        }
        if (failure) Fail(failure.get(), timeoutSeconds);
    }

    bool IsUsable() override {
        if (PQstatus(conn_) != CONNECTION_OK) return false;
        // An idle session has nothing to read; a server that ended it has sent its farewell
        // and closed the socket, which this read notices without waiting.
        if (!PQconsumeInput(conn_)) return false;
        return PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
    }

    bool IsBroken() const override { return PQstatus(conn_) != CONNECTION_OK; }

    void SetBusyTimeout(int milliseconds) override {
        if (milliseconds < 0) milliseconds = 0;
        if (milliseconds == busyTimeoutMs_) return;
        const std::string sql = "SET lock_timeout = " + std::to_string(milliseconds);
        ResultPtr r(PQexec(conn_, sql.c_str()));
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) Fail(r.get(), 0);
        busyTimeoutMs_ = milliseconds;
    }

    const char* BeginStatement() const override { return "BEGIN"; }

    bool Reset() override {
        if (PQstatus(conn_) != CONNECTION_OK) return false;
        try {
            if (PQtransactionStatus(conn_) == PQTRANS_IDLE) SetBusyTimeout(kDefaultBusyTimeoutMs);
        } catch (...) {
            return false;
        }
        switch (PQtransactionStatus(conn_)) {
            case PQTRANS_IDLE:
                return true;
            case PQTRANS_INTRANS:
            case PQTRANS_INERROR: {
                ResultPtr r(PQexec(conn_, "ROLLBACK"));
                return PQresultStatus(r.get()) == PGRES_COMMAND_OK;
            }
            default:
                return false;
        }
    }

private:
  /// Counts a statement run by `Run`: the server prepares every text afresh; a COMMIT, or
  /// a statement that changed rows outside a transaction, is a commit.
  void Count(PGTransactionStatusType before, const PGresult* r, bool preparedAnew) {
      StatementCounts& counts = detail::MutableThreadStatementCounts();
      ++counts.statements;
      if (preparedAnew) ++counts.preparations;
      if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK) return;
      const PGTransactionStatusType after = PQtransactionStatus(conn_);
      const char* command = PQcmdStatus(const_cast<PGresult*>(r));
      if (before == PQTRANS_INTRANS && after == PQTRANS_IDLE && IStartsWith(command, "COMMIT"))
          ++counts.commits;
      else if (before == PQTRANS_IDLE && after == PQTRANS_IDLE && !IStartsWith(command, "SELECT") &&
               !IStartsWith(command, "SET"))
          ++counts.commits;
  }

    /// Runs a statement: one with values whose text comes again (the same query of every
    /// document) as a statement the server keeps prepared for this session, others as they
    /// are. `prepared` tells which way it ran, and is false when it had to be prepared now.
    ResultPtr Execute(const std::string& text, const std::vector<const char*>& values, bool& prepared) {
        prepared = false;
        if (values.empty() || text.size() > kPreparedTextLimit || !IsPreparable(text))
            return ResultPtr(PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr,
                                          values.data(), nullptr, nullptr, 0));
        auto kept = prepared_.find(text);
        if (kept == prepared_.end()) {
            if (prepared_.size() >= kPreparedLimit) ForgetAll();
            const std::string name = "kx_" + std::to_string(++preparedCount_);
            ResultPtr made(PQprepare(conn_, name.c_str(), text.c_str(), static_cast<int>(values.size()), nullptr));
            if (PQresultStatus(made.get()) != PGRES_COMMAND_OK) return made;
            kept = prepared_.emplace(text, name).first;
            ResultPtr r(PQexecPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(),
                                       nullptr, nullptr, 0));
            return r;
        }
        prepared = true;
        return ResultPtr(PQexecPrepared(conn_, kept->second.c_str(), static_cast<int>(values.size()),
                                        values.data(), nullptr, nullptr, 0));
    }

    /// Statements that the server can keep prepared.
    static bool IsPreparable(std::string_view text) {
        const std::string_view verb = StatementVerb(text);
        return IEquals(verb, "SELECT") || IEquals(verb, "INSERT") || IEquals(verb, "UPDATE") ||
               IEquals(verb, "DELETE") || IEquals(verb, "WITH");
    }

    /// True when a kept statement can no longer run because its tables changed.
    static bool IsStalePlan(const PGresult* r) {
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        return state && (std::strcmp(state, "0A000") == 0 || std::strcmp(state, "26000") == 0);
    }

    void Forget(const std::string& text) {
        auto kept = prepared_.find(text);
        if (kept == prepared_.end()) return;
        const std::string sql = "DEALLOCATE " + kept->second;
        ResultPtr r(PQexec(conn_, sql.c_str()));
        prepared_.erase(kept);
    }

    void ForgetAll() {
        ResultPtr r(PQexec(conn_, "DEALLOCATE ALL"));
        prepared_.clear();
    }

    void SetTimeout(int seconds) {
        if (seconds < 0) seconds = 0;
        if (seconds == timeout_) return;
        const std::string sql = "SET statement_timeout = " + std::to_string(seconds * 1000LL);
        ResultPtr r(PQexec(conn_, sql.c_str()));
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) Fail(r.get(), 0);
        timeout_ = seconds;
    }

    [[noreturn]] void Fail(const PGresult* r, int timeoutSeconds) {
        const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        if (state && std::strcmp(state, "55P03") == 0)
            throw Error(errnum::DatabaseBusy, kSource,
                        "The database is busy: another connection held a lock for longer than the "
                        "busy time-out of " + std::to_string(busyTimeoutMs_) + " ms.");
        if (state && std::strcmp(state, "57014") == 0 && timeoutSeconds > 0)
            throw Error(errnum::E_FAIL, kSource,
                        "The statement was cancelled: it ran longer than the command time-out of " +
                            std::to_string(timeoutSeconds) + " seconds.");
        std::string message;
        if (r) message = TrimMessage(PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY));
        if (message.empty() && r) message = TrimMessage(PQresultErrorMessage(r));
        if (message.empty()) message = TrimMessage(PQerrorMessage(conn_));
        if (PQstatus(conn_) != CONNECTION_OK)
            message = "The connection to the server was lost: " + message;
        if (state) message += " (SQLSTATE " + std::string(state) + ")";
        throw Error(errnum::E_FAIL, kSource, message);
    }

    static Recordset Materialise(const PGresult* r) {
        const int columnCount = PQnfields(r);
        const int rowCount = PQntuples(r);
        std::vector<std::string> columns;
        std::vector<Oid> types;
        for (int c = 0; c < columnCount; ++c) {
            columns.emplace_back(PQfname(r, c));
            types.push_back(PQftype(r, c));
        }
        std::vector<std::vector<Variant>> rows;
        rows.reserve(static_cast<size_t>(rowCount));
        for (int i = 0; i < rowCount; ++i) {
            std::vector<Variant> row;
            row.reserve(static_cast<size_t>(columnCount));
            for (int c = 0; c < columnCount; ++c) {
                if (PQgetisnull(r, i, c))
                    row.emplace_back(Null{});
                else
                    row.push_back(ParseValue(types[c], PQgetvalue(r, i, c), PQgetlength(r, i, c)));
            }
            rows.push_back(std::move(row));
        }
        return Recordset(std::move(columns), std::move(rows));
    }

    PGconn* conn_ = nullptr;
    int timeout_ = 0;
    /// The statements the server keeps prepared for this session, by their text.
    std::unordered_map<std::string, std::string> prepared_;
    int64_t preparedCount_ = 0;
    int busyTimeoutMs_ = kDefaultBusyTimeoutMs;
};

}  // namespace

std::unique_ptr<Session> OpenPostgresSession(const std::string& connectionString) {
    return std::make_unique<PostgresSession>(connectionString);
}

}  // namespace kestrix::db
