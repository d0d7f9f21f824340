// What a user does to a document from the pages: accept, reject, delete from a box, close,
// delete and re-send publication errors, forward. Each checks on the server that the visitor
// may act on the document, whatever the form he posted says.
#include <functional>

#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/documents/attachments.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/intake/publish_forward_document.h"
#include "kestrix/web/collaboration.h"
#include "kestrix/web/document_page_parts.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix::web {

using namespace document_pages;

namespace {

constexpr const char* kSource = "Kestrix.DocumentActions";

/// What an action came to: a notice to show on the page it returns to, or a refusal to show
/// on the document's page again.
struct Outcome {
    std::string notice;  ///< a notice code: done
    std::string error;   ///< a text: refused or failed
    std::string back;    ///< where a done action returns; "" for the document's page
};

Outcome Done(std::string notice, std::string back = {}) {
    return {std::move(notice), {}, std::move(back)};
}
Outcome Refused(const Visitor& visitor, std::string_view code,
                const Dictionary& replacements = {}) {
    return {{}, LabelText(visitor, code, replacements), {}};
}
/// A failure of the house's code, its first line shown in the label text `code`.
Outcome Failed(const Visitor& visitor, std::string_view code) {
    const Error failure = CurrentError();
    LogError(kSource);
    Dictionary replacements;
    replacements.Add("[%MESSAGE%]", ShortReason(failure.description()));
    return Refused(visitor, code, replacements);
}

using Action = std::function<Outcome(const Visitor&, const http::Request&, const DocumentDetails&,
                                     int32_t box)>;

/// The page of an action: the document must be one the visitor may see (else 404, as for a
/// missing one); the action's outcome answers a 303 back, or the document's page with the
/// refusal.
PageHandler OnDocument(Action action) {
    return [action = std::move(action)](const Visitor& visitor, const http::Request& request,
                                        http::Response& response) {
        const DocumentRef ref = ReadRef(request);
        const std::optional<DocumentDetails> d = FindDocument(visitor.user, ref.id, ref.type);
        if (!d) return AnswerNotFound(visitor, response);
        const int32_t box = BoxOf(*d, ref.senderMode);
        const Outcome outcome = action(visitor, request, *d, box);
        if (!outcome.error.empty()) {
            // Shown with what the document is now.
            const std::optional<DocumentDetails> now = FindDocument(visitor.user, d->id, {});
            if (!now) return AnswerNotFound(visitor, response);
            return AnswerDocumentPage(visitor, *now, box, {}, outcome.error, 422, response);
        }
        Redirect(response, outcome.back.empty() ? DocumentPath(d->id, d->type, box, outcome.notice)
                                                : outcome.back + "?notice=" + outcome.notice);
    };
}

Outcome Accept(const Visitor& visitor, const http::Request&, const DocumentDetails& d, int32_t) {
    if (d.publicationStatus < 0) return Refused(visitor, "KXL0851");
    try {
        Collaboration().AcceptPublication(d.id, visitor.user);
    } catch (...) {
        return Failed(visitor, "KXL0872");
    }
    return Done("KXL0843");
}

Outcome Reject(const Visitor& visitor, const http::Request&, const DocumentDetails& d, int32_t) {
    if (d.publicationStatus < 0) return Refused(visitor, "KXL0851");
    try {
        Collaboration().SetPublicationStatus(
            d.id, visitor.user, static_cast<int32_t>(PUBLICATIONSTATUS::PUBLICATIONREJECTED));
    } catch (...) {
        return Failed(visitor, "KXL0872");
    }
    return Done("KXL0844");
}

Outcome Delete(const Visitor& visitor, const http::Request&, const DocumentDetails& d,
               int32_t box) {
    // The outbox (and a sender's error box) marks the document deleted for its sender; the
    // inbox and error box delete the visitor's own publication row.
    const bool ownRow = d.publicationStatus >= 0;
    const SENDERMODE shown = static_cast<SENDERMODE>(box);
    const SENDERMODE mode = shown != SENDERMODE::ERRORMODE ? shown
                            : ownRow                       ? SENDERMODE::ERRORMODE
                                                           : SENDERMODE::SENDERMODE;
    try {
        if (!Collaboration().deleteDocument2(d.id, d.type, static_cast<int32_t>(mode), visitor.user,
                                             {}, d.parentId > 0))
            return Refused(visitor, "KXL0852");
    } catch (...) {
        return Failed(visitor, "KXL0872");
    }
    return Done("KXL0845", BoxPath(box));
}

/// The open errors of the document the visitor may see: the one posted as
/// "PublicationErrorID", or all of them when none is posted.
std::vector<DocumentError> OpenErrors(const Visitor& visitor, const http::Request& request,
                                      const DocumentDetails& d) {
    const std::string wanted = request.Form("PublicationErrorID");
    const std::optional<int32_t> one = PositiveNumber(wanted);
    std::vector<DocumentError> open;
    if (!wanted.empty() && !one) return open;
    for (DocumentError& e : DocumentErrors(visitor.user, d, visitor.language))
        if (!e.closed && (!one || e.id == *one)) open.push_back(std::move(e));
    return open;
}

Outcome CloseErrors(const Visitor& visitor, const http::Request& request, const DocumentDetails& d,
                    int32_t) {
    // The errors are the sender's to settle: closed, they leave every error box.
    if (!d.isSender) return Refused(visitor, "KXL0853");
    const std::vector<DocumentError> open = OpenErrors(visitor, request, d);
    if (open.empty()) return Refused(visitor, "KXL0877");
    try {
        for (const DocumentError& e : open) Collaboration().ClosePublicationErrors(e.id, d.id);
    } catch (...) {
        return Failed(visitor, "KXL0872");
    }
    return Done("KXL0846");
}

Outcome DeleteErrors(const Visitor& visitor, const http::Request&, const DocumentDetails& d,
                     int32_t) {
    if (!d.isSender) return Refused(visitor, "KXL0853");
    try {
        Collaboration().DeletePublicationErrors(d.id);
    } catch (...) {
        return Failed(visitor, "KXL0872");
    }
    return Done("KXL0847");
}

Outcome Repush(const Visitor& visitor, const http::Request& request, const DocumentDetails& d,
               int32_t) {
    if (!d.isSender) return Refused(visitor, "KXL0853");
    // Only a failed delivery can be made again: an open error with its delivery's history row.
    std::vector<int32_t> failed;
    const std::vector<DeliveryRecord> history = DeliveryHistory(visitor.user, d);
    for (const DocumentError& e : OpenErrors(visitor, request, d))
        for (const DeliveryRecord& h : history)
            if (h.errorId == e.id) {
                failed.push_back(e.id);
                break;
            }
    if (failed.empty()) return Refused(visitor, "KXL0855");
    PushDocUtils push;
    for (const int32_t errorId : failed) {
        try {
            push.RepushDocumentFromErrorBox(visitor.user, d.id, errorId);
        } catch (...) {
            return Failed(visitor, "KXL0854");
        }
    }
    return Done("KXL0848");
}

/// True when the user is on the distribution list of the type.
bool OnDistributionList(const std::string& type, const std::string& user) {
    db::Connection connection = GetConnection();
    return !connection
                .Query(
                    "SELECT USERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = ? AND USERID = ?",
                    {Variant(type), Variant(user)})
                .Eof();
}

Outcome Forward(const Visitor& visitor, const http::Request& request, const DocumentDetails& d,
                int32_t) {
    if (d.publicationStatus < 0) return Refused(visitor, "KXL0851");
    const std::string recipient = request.Form("user");
    const std::string as = Trim(request.Form("as"));
    bool knownType = as.empty();
    for (const std::string& type : ForwardTypes(d.type)) knownType = knownType || type == as;
    Dictionary who;
    who.Add("[%USER%]", recipient);
    if (!knownType || recipient.empty() || recipient == visitor.user ||
        !OnDistributionList(as.empty() ? d.type : as, recipient))
        return Refused(visitor, "KXL0857", who);

    Variant virtualPath, folder;
    std::string attachmentRoot;
    try {
        if (Attachments().AttachmentsMode(virtualPath, folder).ToLong() ==
            static_cast<int32_t>(EAttachmentMode::Supported))
            attachmentRoot = folder.ToString();
        PublishForwardDocument().ForwardTo(d.id, as, visitor.user, recipient, attachmentRoot);
    } catch (...) {
        return Failed(visitor, "KXL0856");
    }
    return Done("KXL0849");
}

}  // namespace

std::vector<std::string> document_pages::ForwardRecipients(const std::string& type,
                                                           const std::string& visitor) {
    std::vector<std::string> users;
    db::Connection connection = GetConnection();
    for (db::Recordset rs = connection.Query("SELECT DISTINCT USERID FROM DISTRIBUTIONLIST WHERE "
                                             "USERID <> ? AND (DOCUMENTTYPEID = ? OR "
                                             "DOCUMENTTYPEID IN (SELECT NEWDOCUMENTTYPEID FROM "
                                             "DOCTYPETODOCTYPE WHERE DOCUMENTTYPEID = ?)) "
                                             "ORDER BY USERID",
                                             {Variant(visitor), Variant(type), Variant(type)});
         !rs.Eof(); rs.MoveNext())
        users.push_back(rs.GetString("USERID"));
    return users;
}

std::vector<std::string> document_pages::ForwardTypes(const std::string& type) {
    std::vector<std::string> types;
    db::Connection connection = GetConnection();
    for (db::Recordset rs =
             connection.Query("SELECT DISTINCT NEWDOCUMENTTYPEID FROM DOCTYPETODOCTYPE WHERE "
                              "DOCUMENTTYPEID = ? ORDER BY NEWDOCUMENTTYPEID",
                              {Variant(type)});
         !rs.Eof(); rs.MoveNext())
        types.push_back(Trim(rs.GetString("NEWDOCUMENTTYPEID")));
    return types;
}

std::vector<Page> document_pages::ActionPages() {
    return {{"POST", "/document/accept", OnDocument(Accept)},
            {"POST", "/document/reject", OnDocument(Reject)},
            {"POST", "/document/delete", OnDocument(Delete)},
            {"POST", "/document/forward", OnDocument(Forward)},
            {"POST", "/errors/close", OnDocument(CloseErrors)},
            {"POST", "/errors/delete", OnDocument(DeleteErrors)},
            {"POST", "/errors/repush", OnDocument(Repush)}};
}

}  // namespace kestrix::web
