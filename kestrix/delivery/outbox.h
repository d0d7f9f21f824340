#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "platform/db/recordset.h"

namespace kestrix::outbox {

/// What an outbox item asks for.
namespace kind {
/// Tell every recipient of the document who wants mail (failures become one item each).
inline constexpr std::string_view NotifyRecipients = "NOTIFY_RECIPIENTS";
/// Tell one recipient (TARGET, his login) of the document.
inline constexpr std::string_view NotifyRecipient = "NOTIFY_RECIPIENT";
/// Tell the sender of the document, when his sender list asks for it.
inline constexpr std::string_view NotifySender = "NOTIFY_SENDER";
/// A mail to the administrator (SUBJECT and BODY as written), about a document that failed.
inline constexpr std::string_view AdminMail = "ADMIN_MAIL";
/// Deliver the document by one send method to one partner (TARGET "partner:sendmethod:rule").
/// A failure that may pass by itself is tried again; the error of each attempt is closed by
/// the next, so that one stays open.
inline constexpr std::string_view Deliver = "DELIVER";
}  // namespace kind

/// One item of the outbox as stored.
/// A document as its unit of work left it: type and sender as stored, and its recipients
/// who want mail (USERID, HTMLATTACHMENT, HTMLATTACHMENTXSL), read in that unit of work.
struct KnownDocument {
    std::string type;
    std::string sender;
    db::Recordset recipients;
};

struct Item {
    int64_t id = 0;
    int32_t docId = 0;
    std::string kind;
    std::string target;
    std::string subject;
    int32_t attempts = 0;
    std::string nextAttempt;
    std::string lastError;
    int32_t publicationErrorId = 0;
    std::string created;
    /// The worker that holds the item (host:process:start), or "" when none does.
    std::string claimedBy;
    /// What the one who wrote the item in this process knows of its document (not kept in
    /// the outbox); the work right after the commit then does not read it back.
    std::shared_ptr<const KnownDocument> known;
};

/// Adds an item and returns its identifier. Inside a unit of work the item is written in its
/// transaction, so it exists exactly when the document does.
int64_t Add(int32_t docId, std::string_view kind, std::string_view target = {}, std::string_view subject = {},
            std::string_view body = {});

/// What a run over the outbox did.
struct Outcome {
    int done = 0;
    int failed = 0;
};

/// Works off the items with these identifiers, in the given order. An item that succeeds is
/// removed (and the publication error of its earlier failure closed); one that fails stays,
/// with its error and the time of its next attempt, and its document gets a publication
/// error the first time. Never raises for a failing item.
Outcome WorkOff(const std::vector<int64_t>& ids);

/// As above, for items the caller has just added (see `Add`) and therefore knows.
Outcome WorkOff(const std::vector<Item>& items);

/// The TARGET of a delivery item.
std::string DeliveryTarget(int32_t partner, int32_t sendMethod, int32_t rule);

/// Works off the items that are due (all of them when `ignoreSchedule`), oldest first, at most
/// `limit` (0: no limit). The items are first claimed for this process in a transaction of
/// their own, passing over those that another worker holds (its claim lasts the site's
/// SERVICE "ClaimLease", 600 s, or until its process is found gone), so that workers of
/// several processes sharing one database never do an item twice. Claims of processes of
/// this host that are gone are released first.
Outcome WorkOffDue(bool ignoreSchedule = false, size_t limit = 0);


/// Every item of the outbox, oldest first.
std::vector<Item> List();

}  // namespace kestrix::outbox
