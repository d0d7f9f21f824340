#pragma once
// Who may see a document, and what he sees of it: the one place the pages and the JSON API
// ask before they show or change a document.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::web {

/// One recipient of a document and the state of his publication row.
struct DocumentRecipient {
    std::string user;
    int16_t status = 0;      ///< PUBLICATIONSTATUS
    bool forwarded = false;  ///< he passed the document on
};

/// A publication error of a document, its message rebuilt in the reader's language.
struct DocumentError {
    int32_t id = 0;
    std::string creationDate;
    int32_t number = 0;
    std::string message;  ///< the label text with its stored replacements; else the description
    bool closed = false;
};

/// One delivery attempt of a document.
struct DeliveryRecord {
    std::string sendDate;
    int32_t partner = 0;  ///< the business partner delivered to
    int32_t sendMethod = 0;
    int16_t status = 0;   ///< the document's status the attempt recorded
    int32_t errorId = 0;  ///< the publication error of a failed attempt; 0 when delivered
};

/// What a user who may see a document sees of it.
struct DocumentDetails {
    int32_t id = 0;
    std::string type;  ///< DOCUMENTTYPEID, trimmed
    std::string typeDescription;
    std::string sender;
    int16_t status = 0;  ///< DOCUMENTSTATUS
    std::string creationDate;
    std::string entranceDate;
    int32_t parentId = 0;            ///< the document it came from; 0 when none
    int32_t children = 0;            ///< how many documents came from it
    bool isSender = false;           ///< the user sent it
    int16_t publicationStatus = -1;  ///< the user's own publication row; -1 when he has none
    /// Every recipient for the sender; a recipient sees only his own row.
    std::vector<DocumentRecipient> recipients;
    std::vector<std::string> attachments;  ///< the file names of its attachments
};

/// True when `user` sent document `id` or holds a publication row of it, and, when `type` is
/// not blank, the document is of that type (compared trimmed, in any case). A missing
/// document and another user's document answer alike: false.
bool UserMaySeeDocument(const std::string& user, int32_t id, const std::string& type);

/// The document as `user` sees it; nothing when he may not see it (UserMaySeeDocument).
std::optional<DocumentDetails> FindDocument(const std::string& user, int32_t id,
                                            const std::string& type);

/// The publication errors of a document `user` may see, oldest first, their messages in
/// `language`: all of them for the sender, for a recipient those of the deliveries to his
/// business partner. Empty for a document he may not see.
std::vector<DocumentError> DocumentErrors(const std::string& user, int32_t id, int32_t language);
/// The same, for a document `user` was found to see (FindDocument).
std::vector<DocumentError> DocumentErrors(const std::string& user, const DocumentDetails& document,
                                          int32_t language);

/// The delivery attempts of a document `user` may see, oldest first: all for the sender, for
/// a recipient those to his business partner. Empty for a document he may not see.
std::vector<DeliveryRecord> DeliveryHistory(const std::string& user, int32_t id);
/// The same, for a document `user` was found to see (FindDocument).
std::vector<DeliveryRecord> DeliveryHistory(const std::string& user,
                                            const DocumentDetails& document);

/// The entries of the site's log about a document found for its reader (FindDocument), oldest
/// first, for its sender only (they name every recipient): those among the log's last
/// `window` bytes, at most `most`.
std::vector<std::string> DocumentLogEntries(const DocumentDetails& document,
                                            size_t window = 4 << 20, size_t most = 50);

}  // namespace kestrix::web
