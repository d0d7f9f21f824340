#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "kestrix/foundation/enums.h"
#include "kestrix/web/bound_sql.h"
#include "platform/base/dictionary.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.Collaboration": what a user does to a document in the web pages. It owns how a
/// recipient's publication row (PUBLICATION.STATUS) moves: new -> viewed <-> downloaded ->
/// accepted or rejected, each with its deleted counterpart; and how the document follows on
/// acceptance (accepted once every recipient accepted, partially accepted before). It hands
/// the pages the queries of the detail views, closes and removes publication errors.
///
/// Every change is one unit of work: a status change that fails half-way leaves nothing
/// changed. The detail queries come as text and bound values (`...Query`); the methods
/// returning a text, for callers by name, return the same query with its values encoded.
class Collaboration : public Object {
  public:
    // ---- publication status -------------------------------------------------------------

    /// The user's publication status of the document; -1 when he has no publication row.
    int32_t GetPublicationStatus(int32_t iDocID, const std::string& iUserID);
    /// Records a requested status on the user's publication row, keeping the stronger state:
    /// new, viewed and downloaded never overwrite an accepted, rejected or deleted row; a
    /// deleted status turns the current one into its deleted counterpart. With an error
    /// identifier other than 0 only that identifier is stored and the status stays.
    void SetPublicationStatus(int32_t iDocID, const std::string& iUserID, int32_t iStatus,
                              int32_t iPublicationErrorID = 0);
    /// The user accepts the document: his row becomes accepted and the document accepted, or
    /// partially accepted while another recipient has not accepted. A user without a
    /// publication of the document changes nothing and fails with `InvalidParamValue`.
    void AcceptPublication(int32_t iDocID, const std::string& iUserID);
    /// Removes the document from a box of the user. The sender's outbox (mode 0) marks the
    /// document deleted, but only for its sender; the inbox, error box and type change
    /// (1, 2, 4) delete the user's own publication row. A child document is removed from
    /// whichever of the two the user is. Any other mode, or a user who is not the sender in
    /// mode 0, answers false and changes nothing. The type and path are not used.
    bool deleteDocument2(int32_t iDocID, const std::string& iDocTypeID, int32_t iSenderMode,
                         const std::string& iUserName, const std::string& iPath,
                         bool iIsChildDoc = false);

    // ---- what the pages show ------------------------------------------------------------

    /// Document type identifier -> description, both trimmed. `iOrderBy` is "" or a list of
    /// DOCUMENTTYPEID / DESCRIPTION, each optionally ASC or DESC; anything else is refused.
    Dictionary getAllDocumentTypes(const std::string& iOrderBy = {});
    /// The detail view of a document: 0 the sender's, 1 a recipient's, 2 the error box's.
    /// Each shows only a document of the user's own box. Any other mode: an empty query.
    BoundSql DocumentDetailsQuery(int16_t iIsSender, int32_t iDocID, const std::string& iUser);
    std::string GetDocumentDetails2(int16_t iIsSender, int32_t iDocID, const std::string& iUser);
    /// The recipients of a document and their statuses, for its sender only.
    BoundSql AddresseeStatusQuery(int32_t iDocID, const std::string& iUser);
    std::string GetAddresseeStatusQueryStr(int32_t iDocID, const std::string& iUser);
    /// The attachments of a document, for a user who sees the document: its sender (unless
    /// deleted) or a recipient.
    BoundSql DocumentAttachmentsQuery(bool iIsSender, int32_t iDocID, const std::string& iUser);
    std::string GetDocumentAttachmentsQueryStr(bool iIsSender, int32_t iDocID,
                                               const std::string& iUser);
    /// The document types shown in a box: 0 outbox, 1 inbox, 2 error box; any other mode: an
    /// empty query.
    BoundSql DocumentTypeListQuery(int16_t iMode, const std::string& iUser);
    std::string GetDocumentTypeListQueryStr2(int16_t iMode, const std::string& iUser);

    // ---- publication errors -------------------------------------------------------------

    /// Closes the open publication errors of the document whose label belongs to the
    /// category. Only "CannotPublish" (the recipients that could not be found or resolved)
    /// is known; any other category, also in other capitals, fails.
    void ClosePublicationErrorsForOneCategory(int32_t i_lDocID, const std::string& i_sCategory);
    /// Closes one publication error; when a document other than 0 is given, only when the
    /// error belongs to that document.
    void ClosePublicationErrors(int32_t iPublicationErrorID, int32_t iDocID = 0);
    /// Removes every publication error of the document, open or closed.
    void DeletePublicationErrors(int32_t iDocID);

    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    /// SetPublicationStatus inside the caller's unit of work; answers the rows written.
    int64_t ChangePublicationStatus(int32_t iDocID, const std::string& iUserID, int32_t iStatus);
    void SetPublicationStatusToAccepted(int32_t iDocID, const std::string& iUserID);
    /// The other recipients of the document that have not accepted it.
    int16_t CountAcceptedDocs(int32_t iDocID, const std::string& iUserID);
    /// Executes one statement; answers the rows it touched.
    int64_t ExecQuery(const BoundSql& statement);
};

/// "Kestrix.Queries": what the configuration pages ask before they change something.
class Queries : public Object {
  public:
    /// The configuration that still refers to the document type, as a script array of quoted
    /// label texts in the language ("Array(\"Documents\",\"Send methods\")"); "" when nothing
    /// refers to it or the type does not exist.
    std::string CheckDocTypeReferences(const std::string& iDocTypeID, int32_t iLanguageID = 1033);

    Variant Invoke(std::string_view method, std::span<Variant> args) override;
};

}  // namespace kestrix
