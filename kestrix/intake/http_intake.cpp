// The sixth road in: documents posted to the service over HTTP, published at once as the user
// who posted them.
#include "kestrix/intake/http_intake.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "kestrix/documents/sender_list.h"
#include "kestrix/documents/workbook_calls.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/foundation/users.h"
#include "kestrix/intake/publish_create_document.h"
#include "kestrix/rules/routing.h"
#include "platform/base/dictionary.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/base/variant.h"
#include "platform/db/connection.h"

namespace kestrix::http_intake {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSource = "Kestrix.HttpIntake.Publish";

/// A workbook's bytes as a file for the workbook reader; removed with the object.
class PostedWorkbook {
public:
    PostedWorkbook(const std::string& bytes, const std::string& extension)
        : path_(WorkbookScratchFile("posted." + extension)) {
        fs::create_directories(path_.parent_path());
        std::ofstream out(path_, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            throw Error(errnum::E_FAIL, kSource, "The posted workbook could not be written to " + path_.string());
    }
    ~PostedWorkbook() {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    PostedWorkbook(const PostedWorkbook&) = delete;
    PostedWorkbook& operator=(const PostedWorkbook&) = delete;
    std::string path() const { return path_.string(); }

private:
    fs::path path_;
};

/// The refusal of a document that speaks for another partner than its poster's: its sender
/// tags name a known user of another partner. Nothing when it names none, or one of his own.
std::optional<Outcome> ForeignSender(const std::string& xml, const std::string& user, int32_t partner) {
    int32_t named = 0;
    std::string sender;
    try {
        routing::GetSenderBPAndName(xml, named, sender);
    } catch (...) {
        return std::nullopt;  // no sender this site knows: the document is the poster's
    }
    if (named == 0 || named == partner) return std::nullopt;
    Outcome refused;
    refused.kind = Outcome::Kind::Forbidden;
    refused.errorNumber = ErrNum(EnumerationErrors::ProcessDocumentError);
    refused.errorSource = kSource;
    Dictionary replacements;
    replacements.Add("[%SENDER%]", Variant(sender));
    replacements.Add("[%USER%]", Variant(user));
    refused.message = TranslateLabel("KXL0904", 0, replacements);
    return refused;
}

/// Records the user's key in the open unit of work; false when it stands there already (a
/// concurrent post of the same key waits here until the other one's unit of work ends).
bool ClaimKey(const Posting& posting) {
    db::Connection connection = GetConnection();
    return connection.Execute("INSERT INTO HTTPINTAKE (SENDER, SENDERKEY, DOCUMENTID, RECEIVED) VALUES (?, ?, 0, ?) "
                              "ON CONFLICT (SENDER, SENDERKEY) DO NOTHING",
                              {Variant(posting.user), Variant(posting.senderKey),
                               Variant(DateTime::Now().Sortable())}) == 1;
}

/// The document stored for the user's key, or nothing.
std::optional<Outcome> StoredForKey(const Posting& posting) {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT HTTPINTAKE.DOCUMENTID, DOCUMENT.DOCUMENTTYPEID FROM HTTPINTAKE "
        "LEFT OUTER JOIN DOCUMENT ON DOCUMENT.DOCUMENTID = HTTPINTAKE.DOCUMENTID "
        "WHERE HTTPINTAKE.SENDER = ? AND HTTPINTAKE.SENDERKEY = ?",
        {Variant(posting.user), Variant(posting.senderKey)});
    if (rs.Eof() || rs.Field("DOCUMENTID").ToLong() == 0) return std::nullopt;
    Outcome repeated;
    repeated.kind = Outcome::Kind::Repeated;
    repeated.documentId = rs.Field("DOCUMENTID").ToLong();
    repeated.documentType = Trim(rs.GetString("DOCUMENTTYPEID"));
    return repeated;
}

void SettleKey(const Posting& posting, int32_t documentId) {
    db::Connection connection = GetConnection();
    if (documentId != 0)
        connection.Execute("UPDATE HTTPINTAKE SET DOCUMENTID = ? WHERE SENDER = ? AND SENDERKEY = ?",
                           {Variant(documentId), Variant(posting.user), Variant(posting.senderKey)});
    else  // refused: the sender may post the same key again once the cause is mended
        connection.Execute("DELETE FROM HTTPINTAKE WHERE SENDER = ? AND SENDERKEY = ?",
                           {Variant(posting.user), Variant(posting.senderKey)});
}

int32_t PublishContent(PublishCreateDocument& publisher, const Posting& posting) {
    switch (posting.format) {
        case Format::Obi:
            return publisher.PublishObiDocument(posting.content, true);
        case Format::Workbook: {
            const PostedWorkbook workbook(posting.content, posting.workbookExtension);
            return publisher.PublishExcelDocument(workbook.path(), Variant(), true);
        }
        case Format::Xml:
            break;
    }
    return publisher.PublishXmlDocument(posting.content, Variant(), true);
}

}  // namespace

Outcome Publish(const Posting& posting) {
    std::string user = posting.user;
    const int32_t partner = users::GetAUBusinessPartnerID(user);
    if (posting.format == Format::Xml)
        if (std::optional<Outcome> foreign = ForeignSender(posting.content, posting.user, partner)) return *foreign;

    const bool keyed = !posting.senderKey.empty();
    // A post of a key whose first post is still being stored waits for it; should that one
    // be refused, the key is free again and this post goes on.
    for (int attempt = 0;; ++attempt) {
        db::Transaction work(CurrentConnectionString(), DatabaseBusyTimeoutMs());
        if (keyed && !ClaimKey(posting)) {
            std::optional<Outcome> repeated = StoredForKey(posting);
            work.Rollback();
            if (repeated) return *repeated;
            if (attempt < 3) continue;
            throw Error(errnum::E_FAIL, kSource,
                        "The key " + posting.senderKey + " of " + posting.user + " stays claimed without a document.");
        }
        PublishCreateDocument publisher;
        publisher.PublishAs(posting.user, partner);
        Outcome outcome;
        std::optional<Error> failure;
        try {
            outcome.documentId = PublishContent(publisher, posting);
            outcome.documentType = publisher.LastDocumentType();
            outcome.kind = Outcome::Kind::Stored;
        } catch (...) {
            failure = CurrentError();
        }
        if (failure && !DatabaseAnswers()) {
            work.Rollback();
            publisher.DropLeftItems();
            throw *failure;
        }
        try {
            if (keyed) SettleKey(posting, outcome.documentId);
            work.Commit();
        } catch (...) {
            publisher.DropLeftItems();
            throw;
        }
        publisher.WorkOffLeftItems();
        if (!failure) return outcome;

        outcome.kind = Outcome::Kind::Refused;
        outcome.documentId = 0;
        outcome.errorNumber = failure->number();
        outcome.errorSource = failure->source();
        outcome.message = failure->description();
        // A type the user may not send is his lack of a right, not a fault of the document.
        const std::string type = publisher.LastDocumentType();
        try {
            if (!type.empty() && !SenderList().CheckAuthorizationForSender(type, posting.user))
                outcome.kind = Outcome::Kind::Forbidden;
        } catch (...) {
            LogError(kSource);
        }
        return outcome;
    }
}

}  // namespace kestrix::http_intake
