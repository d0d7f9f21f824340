// The outbox: what leaves the system is written down with the document and done afterwards,
// so that a failure or a crash after the commit loses nothing and a retry repeats only what
// has not been done.
#include "kestrix/delivery/outbox.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

#include "kestrix/delivery/notifications.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/foundation/site_settings.h"
#include "platform/base/strings.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/delivery/email.h"
#include "platform/base/error.h"
#include "platform/base/process_owner.h"

namespace kestrix::outbox {

namespace {

constexpr const char* kSource = "Kestrix.Document.ProcessDocument";
constexpr const char* kCrLf = "\r\n";
/// The longest wait between two attempts of one item.
constexpr int64_t kMaxDelaySeconds = 6 * 3600;

std::string LocalTime(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

/// The time of the next attempt after `attempts` failures: one minute, doubling, at most six
/// hours.
std::string NextAttempt(int32_t attempts) {
    const int64_t delay = std::min<int64_t>(kMaxDelaySeconds, int64_t{60} << std::min(attempts - 1, 20));
    return LocalTime(std::chrono::system_clock::now() + std::chrono::seconds(delay));
}

/// This process, as it signs its claims.
const std::string& Owner() {
    static const std::string owner = ThisProcessOwner();
    return owner;
}

/// How long a claim holds an item: the site's claim lease, but at least a minute, which an
/// item in work may need (an owner that died on this host is found gone at once anyway).
int64_t ItemLeaseSeconds() { return std::max<int64_t>(60, ClaimLeaseSeconds()); }

Item ReadItem(const db::Recordset& rs) {
    Item item;
    item.id = rs.GetInt("OUTBOXID");
    item.docId = static_cast<int32_t>(rs.GetInt("DOCUMENTID"));
    item.kind = rs.GetString("KIND");
    item.target = rs.GetString("TARGET");
    item.subject = rs.GetString("SUBJECT");
    item.attempts = static_cast<int32_t>(rs.GetInt("ATTEMPTS"));
    item.nextAttempt = rs.GetString("NEXTATTEMPT");
    item.lastError = rs.GetString("LASTERROR");
    item.publicationErrorId = static_cast<int32_t>(rs.GetInt("PUBLICATIONERRORID"));
    item.created = rs.GetString("CREATIONDATE");
    item.claimedBy = rs.GetString("CLAIMEDBY");
    return item;
}

constexpr const char* kColumns =
    "OUTBOXID, DOCUMENTID, KIND, TARGET, SUBJECT, ATTEMPTS, NEXTATTEMPT, LASTERROR, PUBLICATIONERRORID, "
    "CREATIONDATE, CLAIMEDBY";

/// A failed attempt: the item waits for its next one; the first failure of an item that
/// concerns a document records a publication error with the label of the mail that failed.
void RecordFailure(const Item& item, const Error& failure, std::string_view label, const std::string& detail) {
    int32_t errorId = item.publicationErrorId;
    if (errorId == 0 && !label.empty() && item.docId != 0) {
        try {
            errorId = LogPublicationError(item.docId, failure.number(),
                                          TranslateLabel(label) + kCrLf + failure.description() + detail, kSource,
                                          label);
        } catch (...) {
            LogError(kSource);
        }
    }
    db::Connection connection = GetConnection();
    connection.Execute(
        "UPDATE OUTBOX SET ATTEMPTS = ?, NEXTATTEMPT = ?, LASTERROR = ?, PUBLICATIONERRORID = ?, CLAIMEDBY = NULL, "
        "CLAIMEDUNTIL = NULL WHERE OUTBOXID = ?",
        {Variant(item.attempts + 1), Variant(NextAttempt(item.attempts + 1)), Variant(failure.description()),
         Variant(errorId), Variant(static_cast<long long>(item.id))});
}

/// Successful attempts: the items go, and the publication errors of their earlier failures
/// are closed, in one statement each so that a run commits once.
void RecordSuccesses(const std::vector<const Item*>& done) {
    if (done.empty()) return;
    std::string ids, errors;
    std::vector<Variant> idValues, errorValues;
    for (const Item* item : done) {
        ids += ids.empty() ? "?" : ", ?";
        idValues.emplace_back(static_cast<long long>(item->id));
        if (item->publicationErrorId != 0) {
            errors += errors.empty() ? "?" : ", ?";
            errorValues.emplace_back(item->publicationErrorId);
        }
    }
    // On a server database the removal does not wait for the disk: lost in a crash, the
    // items are done once more, as they are when the crash falls between the work and its
    // removal. (SQLite in write-ahead mode never waits for the disk at a commit.)
    const std::string connectionString = CurrentConnectionString();
    std::optional<db::Transaction> relaxed;
    if (db::DialectOf(connectionString) == db::Dialect::PostgreSQL && !db::InTransaction(connectionString))
        relaxed.emplace(connectionString);
    db::Connection connection = GetConnection();
    if (relaxed) connection.Execute("SET LOCAL synchronous_commit TO OFF");
    if (!errorValues.empty())
        connection.Execute("UPDATE PUBLICATIONERRORS SET CLOSED = 1 WHERE PUBLICATIONERRORID IN (" + errors + ")",
                           errorValues);
    connection.Execute("DELETE FROM OUTBOX WHERE OUTBOXID IN (" + ids + ")", idValues);
    if (relaxed) relaxed->Commit();
}

/// How often and how far apart a delivery that failed for a passing reason is tried: site
/// configuration GLOBAL "DeliveryAttempts" (5), "DeliveryFirstRetry" (seconds, 60) and
/// "DeliveryLongestRetry" (seconds, 3600).
struct RetryPolicy {
    int32_t attempts = 5;
    int64_t first = 60;
    int64_t longest = 3600;
};

RetryPolicy DeliveryRetryPolicy() {
    RetryPolicy policy;
    try {
        // A key that is unset or holds no whole number keeps its default.
        auto read = [&](std::string_view key, int64_t& value) {
            try {
                value = SiteSettingWholeNumber("GLOBAL", key).value_or(value);
            } catch (...) {
            }
        };
        int64_t attempts = policy.attempts;
        read("DeliveryAttempts", attempts);
        policy.attempts = static_cast<int32_t>(std::clamp<int64_t>(attempts, 1, 100));
        read("DeliveryFirstRetry", policy.first);
        read("DeliveryLongestRetry", policy.longest);
    } catch (...) {
        LogError(kSource);
    }
    return policy;
}

/// One attempt of a delivery item; true when the document was delivered (now or before).
/// A failure that may pass by itself waits for its next attempt while attempts are left;
/// otherwise the item goes and its publication error stays in the error box.
bool PerformDelivery(const Item& item) {
    int32_t partner = 0, sendMethod = 0, rule = 0;
    if (std::sscanf(item.target.c_str(), "%d:%d:%d", &partner, &sendMethod, &rule) != 3)
        throw Error(errnum::E_FAIL, "Kestrix.Outbox", "A delivery item names no partner, send method and rule: '" +
                                                          item.target + "'.");
    PushDocUtils push;
    const PushDocUtils::DeliveryAttempt attempt =
        push.AttemptDelivery(item.docId, partner, sendMethod, rule, item.publicationErrorId);
    if (attempt.delivered) return true;
    const RetryPolicy policy = DeliveryRetryPolicy();
    db::Connection connection = GetConnection();
    if (attempt.transient && item.attempts + 1 < policy.attempts) {
        const int64_t delay =
            std::min<int64_t>(policy.longest, policy.first << std::min(item.attempts, 20));
        connection.Execute(
            "UPDATE OUTBOX SET ATTEMPTS = ?, NEXTATTEMPT = ?, LASTERROR = ?, PUBLICATIONERRORID = ?, CLAIMEDBY = NULL, "
            "CLAIMEDUNTIL = NULL WHERE OUTBOXID = ?",
            {Variant(item.attempts + 1),
             Variant(LocalTime(std::chrono::system_clock::now() + std::chrono::seconds(delay))),
             Variant(attempt.error), Variant(attempt.publicationErrorId), Variant(static_cast<long long>(item.id))});
    } else {
        connection.Execute("DELETE FROM OUTBOX WHERE OUTBOXID = ?", {Variant(static_cast<long long>(item.id))});
    }
    return false;
}

/// Does one item; true when it succeeded.
bool Perform(const Item& item) {
    if (item.kind == kind::Deliver) {
        try {
            return PerformDelivery(item);
        } catch (...) {
            const Error failure = CurrentError();
            LogError(kSource);
            try {
                RecordFailure(item, failure, "SLBSH0883", "");
            } catch (...) {
                LogError(kSource);
            }
            return false;
        }
    }
    Notifications notifications;
    std::string label;
    std::string detail;
    try {
        if (item.kind == kind::NotifyRecipients) {
            // Each recipient is told on his own; one who cannot be told now becomes an item of
            // his own, so a retry never mails the others twice.
            label = "SLBSH1810";
            std::optional<RecipientNotifier> notifiers;
            if (item.known)
                notifiers.emplace(notifications, item.docId, item.known->type, item.known->sender,
                                  item.known->recipients);
            else
                notifiers.emplace(notifications, item.docId);
            RecipientNotifier& notifier = *notifiers;
            for (const std::string& user : notifier.Recipients()) {
                try {
                    notifier.Send(user);
                } catch (...) {
                    const Error failure = CurrentError();
                    LogError(kSource);
                    const int64_t retry = Add(item.docId, kind::NotifyRecipient, user);
                    Item single = item;
                    single.id = retry;
                    single.kind = kind::NotifyRecipient;
                    single.target = user;
                    single.attempts = 0;
                    single.publicationErrorId = 0;
                    RecordFailure(single, failure, label,
                                  kCrLf + TranslateLabel("SLBSH0001") + ": '" + notifier.ReaderName(user) + "'");
                }
            }
        } else if (item.kind == kind::NotifyRecipient) {
            label = "SLBSH1810";
            RecipientNotifier notifier(notifications, item.docId);
            detail = std::string(kCrLf) + TranslateLabel("SLBSH0001") + ": '" + notifier.ReaderName(item.target) + "'";
            notifier.Send(item.target);
        } else if (item.kind == kind::NotifySender) {
            label = "SLBSH1811";
            if (item.known)
                notifications.NotifySender(item.docId, item.known->type, item.known->sender);
            else
                notifications.SendEmailToSender(item.docId, "", "", false, "", "");
        } else if (item.kind == kind::AdminMail) {
            const std::string address = GetParameter("AdminEmailAddress");
            db::Connection connection = GetConnection();
            const db::Recordset rs =
                connection.Query("SELECT BODY FROM OUTBOX WHERE OUTBOXID = ?", {Variant(static_cast<long long>(item.id))});
            email::SendEmail(address, address, item.subject, rs.Eof() ? "" : rs.GetString("BODY"), "", "");
        } else {
            throw Error(errnum::E_FAIL, "Kestrix.Outbox", "Unknown kind of outbox item '" + item.kind + "'.");
        }
    } catch (...) {
        const Error failure = CurrentError();
        LogError(kSource);
        try {
            RecordFailure(item, failure, label, detail);
        } catch (...) {
            LogError(kSource);
        }
        return false;
    }
    return true;
}

Outcome WorkOffItems(const std::vector<Item>& items) {
    Outcome outcome;
    std::vector<const Item*> done;
    for (const Item& item : items) {
        bool ok = false;
        try {
            ok = Perform(item);
        } catch (...) {
            LogError(kSource);
        }
        if (ok) done.push_back(&item);
        ++(ok ? outcome.done : outcome.failed);
    }
    try {
        RecordSuccesses(done);
    } catch (...) {
        // Done, but still listed: a later run does them again rather than lose them.
        LogError(kSource);
    }
    return outcome;
}

}  // namespace

int64_t Add(int32_t docId, std::string_view kind, std::string_view target, std::string_view subject,
            std::string_view body) {
    try {
        db::Connection connection = GetConnection();
        db::EditRow row;
        row.Set("DOCUMENTID", Variant(docId));
        row.Set("KIND", Variant(std::string(kind)));
        row.Set("TARGET", Variant(std::string(target)));
        row.Set("SUBJECT", Variant(std::string(subject)));
        row.Set("BODY", Variant(std::string(body)));
        row.Set("ATTEMPTS", Variant(0));
        const auto now = std::chrono::system_clock::now();
        row.Set("CREATIONDATE", Variant(LocalTime(now)));
        // The writer does the item itself right after its commit: until then, and while it
        // works, no other worker takes it. Should the writer die first, the claim is released
        // (or runs out) and the item is done by the next run.
        row.Set("CLAIMEDBY", Variant(Owner()));
        row.Set("CLAIMEDUNTIL", Variant(LocalTime(now + std::chrono::seconds(ItemLeaseSeconds()))));
        return connection.Insert("OUTBOX", row, "OUTBOXID");
    } catch (...) {
        Reraise("Kestrix.Outbox.Add");
    }
}

Outcome WorkOff(const std::vector<Item>& items) { return WorkOffItems(items); }

std::string DeliveryTarget(int32_t partner, int32_t sendMethod, int32_t rule) {
    return std::to_string(partner) + ":" + std::to_string(sendMethod) + ":" + std::to_string(rule);
}

Outcome WorkOff(const std::vector<int64_t>& ids) {
    std::vector<Item> items;
    {
        db::Connection connection = GetConnection();
        for (int64_t id : ids) {
            const db::Recordset rs = connection.Query(std::string("SELECT ") + kColumns + " FROM OUTBOX WHERE OUTBOXID = ?",
                                                      {Variant(static_cast<long long>(id))});
            if (!rs.Eof()) items.push_back(ReadItem(rs));
        }
    }
    return WorkOffItems(items);
}

namespace {

/// Releases the claims of processes of this host that are gone; answers how many items.
int ReleaseClaimsOfGoneOwners() {
    db::Connection connection = GetConnection();
    std::vector<std::string> gone;
    for (db::Recordset rs = connection.Query("SELECT DISTINCT CLAIMEDBY FROM OUTBOX WHERE CLAIMEDBY IS NOT NULL");
         !rs.Eof(); rs.MoveNext()) {
        std::string owner = rs.GetString("CLAIMEDBY");
        if (owner != Owner() && OwnerIsGone(owner)) gone.push_back(std::move(owner));
    }
    int released = 0;
    for (const std::string& owner : gone)
        released += static_cast<int>(connection.Execute(
            "UPDATE OUTBOX SET CLAIMEDBY = NULL, CLAIMEDUNTIL = NULL WHERE CLAIMEDBY = ?", {Variant(owner)}));
    return released;
}

std::vector<Item> ClaimDue(bool ignoreSchedule, size_t limit) {
    const std::string connectionString = CurrentConnectionString();
    const bool server = db::DialectOf(connectionString) == db::Dialect::PostgreSQL;
    const auto now = std::chrono::system_clock::now();
    const std::string nowText = LocalTime(now);
    std::vector<Item> items;
    std::string where = " FROM OUTBOX WHERE (CLAIMEDUNTIL IS NULL OR CLAIMEDUNTIL < ?)";
    std::vector<Variant> params{Variant(nowText)};
    if (!ignoreSchedule) {
        where += " AND (NEXTATTEMPT IS NULL OR NEXTATTEMPT <= ?)";
        params.emplace_back(nowText);
    }
    // A look without a transaction first: an outbox with nothing to do never takes the write
    // lock from the documents being stored.
    if (GetConnection().Query("SELECT OUTBOXID" + where + " LIMIT 1", params).Eof()) return items;
    db::Transaction claim(connectionString);
    {
        db::Connection connection = GetConnection();
        std::string sql = std::string("SELECT ") + kColumns + where + " ORDER BY OUTBOXID";
        if (limit != 0) sql += " LIMIT " + std::to_string(limit);
        // Workers of other processes pass over the rows this one is claiming instead of
        // waiting for them (SQLite has one writer at a time anyway).
        if (server) sql += " FOR UPDATE SKIP LOCKED";
        for (db::Recordset rs = connection.Query(sql, params); !rs.Eof(); rs.MoveNext()) items.push_back(ReadItem(rs));
        if (items.empty()) return items;
        std::string ids;
        std::vector<Variant> values{Variant(Owner()),
                                    Variant(LocalTime(now + std::chrono::seconds(ItemLeaseSeconds())))};
        for (const Item& item : items) {
            ids += ids.empty() ? "?" : ", ?";
            values.emplace_back(static_cast<long long>(item.id));
        }
        connection.Execute("UPDATE OUTBOX SET CLAIMEDBY = ?, CLAIMEDUNTIL = ? WHERE OUTBOXID IN (" + ids + ")", values);
    }
    claim.Commit();
    for (Item& item : items) item.claimedBy = Owner();
    return items;
}

}  // namespace

Outcome WorkOffDue(bool ignoreSchedule, size_t limit) {
    try {
        ReleaseClaimsOfGoneOwners();
    } catch (...) {
        LogError("Kestrix.Outbox.WorkOffDue");
    }
    return WorkOffItems(ClaimDue(ignoreSchedule, limit));
}

std::vector<Item> List() {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(std::string("SELECT ") + kColumns + " FROM OUTBOX ORDER BY OUTBOXID");
        std::vector<Item> items;
        for (; !rs.Eof(); rs.MoveNext()) items.push_back(ReadItem(rs));
        return items;
    } catch (...) {
        Reraise("Kestrix.Outbox.List");
    }
}

}  // namespace kestrix::outbox
