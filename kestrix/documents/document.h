#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// The document store, the half of "Kestrix.Document" that reads and writes stored documents. Every document that enters the system is one row
/// of DOCUMENT, holding the body as received (ORIGINALXMLBODY), the body in standard form
/// (XMLBODY) and a work copy used while the document is transformed again (TEMPXMLBODY),
/// with its type, sender, default receiver, dates, status and show flag.
///
/// Every method opens its own connection and closes it before it returns; failures are
/// raised on with the source "Kestrix.Document.<method>". Document identifiers are passed
/// by reference, as the callers of the published interface expect.
class DocumentStore : public Object {
  public:
    // ---- reading a document ------------------------------------------------------------

    /// XMLBODY of the document; "" when there is no such row. A NULL body is an error.
    std::string GetXmlDocument(int32_t& iDocID);
    /// ORIGINALXMLBODY of the document; "" when there is no such row. A NULL body is an error.
    std::string GetOriginalXmlDocument(int32_t& iDocID);
    /// XMLBODY parsed into a new DOM document; an empty document when there is no such row.
    /// A body the parser refuses raises the parser's error code with "DOM Error: " and the
    /// reason, the parser's URL as help file and its line as help context.
    xml::XmlDocument GetXmlDomDocument(int32_t& iDocID);
    /// The trimmed document type; "" for a document without type or no row.
    std::string GetDocumentTypeOfDocument(int32_t& iDocID);
    /// The trimmed sender; "" when there is no such row.
    std::string GetSenderOfDocument(int32_t& iDocID);
    /// The stored status when it is a known one (0 to 5); DOCUMENTUNKNOWNSTATUS for any other
    /// value, NULL and no row.
    DOCUMENTSTATUS GetStatusOfDocument(int32_t& iDocID);
    /// True when the document is shown to its recipients in the web lists (SHOW = 1); false
    /// for 0, NULL and no row.
    bool GetShowFlag(int32_t& i_lDocID);

    // ---- changing a document ------------------------------------------------------------

    /// Sets the document type when iDocTypeID is not empty; true when it was written.
    bool UpdateDocTableWithDocType(int32_t& iDocID, const std::string& iDocTypeID);
    /// Replaces the standard body and sets CREATIONDATE to now. No row, no change.
    void UpdateDocumentWithXmlBody(int32_t& iDocID, const std::string& iXmlBody);
    /// As above, taking the text over instead of copying it (a large body is then held once).
    void UpdateDocumentWithXmlBody(int32_t& iDocID, std::string&& iXmlBody);
    /// Replaces the body as received and sets ENTRANCEDATE to now. No row, no change.
    void UpdateDocumentWithOriginalXmlBody(int32_t& iDocID, const std::string& iOriginalXmlBody);
    /// Changes the status. A deleted document stays deleted (only a new deletion is written
    /// again) and a sent document is never set back to published. Publishing a new document
    /// closes its "CannotPublish" publication errors; deleting a new one removes its
    /// publication rows.
    void SetDocumentStatus(int32_t& iDocID, DOCUMENTSTATUS iDocStatus);
    /// As SetDocumentStatus, for a row that the caller's own unit of work holds, so that its
    /// status is known and not read again. `mayHaveOpenErrors` false: no "CannotPublish"
    /// publication error can be open for the row, so there is none to close. With `body`, the
    /// standard body is written in the same statement (and CREATIONDATE set to now), also
    /// when the status stays; without `status` only the body is written.
    void SetDocumentStatus(int32_t& iDocID, std::optional<DOCUMENTSTATUS> status,
                           DOCUMENTSTATUS known, bool mayHaveOpenErrors, std::string* body);
    /// The status named by a text ("New", "published", "ACCEPT", ...): only the capitalised,
    /// lower-case and upper-case forms of the known words; anything else is
    /// DOCUMENTUNKNOWNSTATUS.
    DOCUMENTSTATUS ConvertStatusFromStringToEnum(const std::string& iStatus);
    /// 0 to 5 map to themselves, every other value to DOCUMENTUNKNOWNSTATUS.
    DOCUMENTSTATUS ConvertStatusFromIntToEnum(int32_t iStatus);
    /// Removes an unfinished document (one without type); a typed document is never removed,
    /// so the pipeline may call it on any identifier after a failure. 0 does nothing.
    void RemoveInvalidDocument(int32_t& iDocID);
    /// Removes every publication row of the document.
    void RemoveRecipientsForDocument(int32_t& iDocID);
    /// Removes every publication row of the document; the identifier is any value that
    /// converts to a 32-bit integer.
    void deleteAllUsersFromPublicationList(const Variant& i_lDocID);

    // ---- recipients and visibility -------------------------------------------------------

    /// True when the user holds a live publication of the typed document and is on the
    /// type's distribution list; false for a document without type.
    bool UserIsRecipientOfDoc(int32_t& iDocID, const std::string& iUser);
    /// Whether the user may see the document: its sender unless it is deleted, a recipient
    /// once it is no longer new. A document without type is seen by nobody. The sender mode
    /// does not change the answer.
    bool IsValidChildDoc(int32_t& iDocID, const std::string& iUser, SENDERMODE iSenderMode);
    /// True when the user may see any of the documents forwarded from this one.
    bool IsValidParentDoc(int32_t& iDocID, const std::string& iUser, SENDERMODE iSenderMode);

    // ---- used by the processing pipeline and the transformations -------------------------

    /// Inserts a new row holding the body as received, both dates set to now and status
    /// unknown; returns the generated document identifier. No command time-out applies.
    int32_t StoreOriginalDocument(const std::string& body);
    /// A new row written whole in one statement, for a caller that has everything a row
    /// holds before it stores it: the body as received, the standard body (NULL when
    /// `standardBody` is null; the caller then writes it later), type, sender, default
    /// receiver, status, show flag and the document it was forwarded from (-1: none); both
    /// dates are now. Returns the generated document identifier.
    int32_t StoreCompleteDocument(const std::string& body, const std::string* standardBody,
                                  const std::string& docTypeID, const std::string& sender,
                                  const std::string& defaultReceiver, DOCUMENTSTATUS status,
                                  bool show, int32_t forwardedDocID);
    /// Completes the row: type (only when its trimmed value is not empty), status, sender,
    /// default receiver, show flag, and the document it was forwarded from (unless
    /// forwardedDocID is -1). No row, no change.
    void UpdateDocument(int32_t id, const std::string& docTypeID, const std::string& sender,
                        const std::string& defaultReceiver, DOCUMENTSTATUS status, bool show,
                        int32_t forwardedDocID);
    /// The standard body (and with alsoTemp the work copy) becomes the body as received;
    /// CREATIONDATE is set to now.
    void CopyOriginalXMLtoXMLBody(int32_t id, bool alsoTemp);
    /// The standard body becomes the work copy; CREATIONDATE is set to now.
    void CopyTempXMLtoXMLBody(int32_t id);
    /// Fills an empty work copy from the standard body, or from the body as received when
    /// the standard body is empty. A work copy that holds text is never overwritten.
    void CopyOriginalXMLtoTempXMLBody(int32_t id);
    /// Empties the work copy (NULL).
    void UpdateTempXMLBodyWithNULLInDocument(int32_t id);
    /// The work copy parsed, as GetXmlDomDocument does for the standard body.
    xml::XmlDocument GetTempXmlDomDocument(int32_t id);
    /// The show flag a document asks for in its QELSHOW tag: shown when the tag is absent or
    /// empty or says "true" (any case, blanks around ignored); hidden for anything else.
    bool GetShowFlagFromDoc(const xml::XmlDocument& dom);

    // ---- document-type transformations (transformations.cpp) -----------------------------

    /// Brings the body as received into the standard form of its type: the style sheet the
    /// sender's business partner configured for the type (RECEIVEMETHOD) is applied to the
    /// body as received and the output stored as the standard body, which is returned.
    /// Without a configured style sheet the body as received becomes the standard body
    /// unchanged. Style sheets lie under the server parameter "TransformXSLPath".
    std::string TransformDocumentToStandard(int32_t iDocID, const std::string& iDocTypeID,
                                            int32_t iSenderBPID);
    /// As above, from the body as received that the caller holds parsed (it is not read
    /// again). True when there is a standard form; `oStandard` receives its tree, left empty
    /// when the style sheet's output is no XML (readers of the stored body report that).
    bool TransformDocumentToStandard(int32_t iDocID, const std::string& iDocTypeID,
                                     int32_t iSenderBPID, const xml::XmlDocument& iReceived,
                                     xml::XmlDocument& oStandard);
    /// As above, and the received tree is released as soon as the style sheet has read it,
    /// before the standard form is parsed, so that the two trees of a large document never
    /// stand side by side. `ioReceived` is empty afterwards.
    bool TransformDocumentToStandard(int32_t iDocID, const std::string& iDocTypeID,
                                     int32_t iSenderBPID, std::optional<xml::XmlDocument>& ioReceived,
                                     xml::XmlDocument& oStandard);
    /// The standard form of the body as received that the caller holds parsed, stored
    /// nowhere: the style sheet's output, or nothing when no style sheet is configured (the
    /// body as received is then the standard form). `oStandard` receives the tree as
    /// TransformDocumentToStandard gives it; `ioReceived`, when it holds the body, is
    /// emptied as soon as the style sheet has read it (without a style sheet its tree
    /// becomes `oStandard`).
    std::optional<std::string> StandardFormOfTree(const std::string& iDocTypeID, int32_t iSenderBPID,
                                                  const xml::XmlDocument& iReceived,
                                                  std::optional<xml::XmlDocument>& ioReceived,
                                                  xml::XmlDocument& oStandard);
    /// Converts the document from one type to another with the style sheet configured for
    /// the pair (DOCTYPETODOCTYPE), working on the work copy: the current standard body (or
    /// the body as received) is transformed and stored as the standard body. Without a
    /// configured pair the body stays as it is. The work copy is emptied afterwards, also
    /// when the conversion fails. The document's type itself is not changed here.
    void TransformDocToNewDocType(int32_t& iDocID, const std::string& iOriginalDocTypeID,
                                  const std::string& iNewDocTypeID);
    /// TRANSFORMXSLNAME of the pair of types; "" when the change is not configured. Failures
    /// are reported as "Kestrix.Utility.GetXSLFromDoctypeToDoctypeTable".
    std::string GetXSLFromDoctypeToDoctypeTable(const Variant& iDocTypeID,
                                                const Variant& iNewDocTypeID);

    // ---- batches (batch.cpp) --------------------------------------------------------------

    /// Checks that a batch (XML documents one after the other, each optionally preceded by a
    /// declaration and comments) can be cut into documents that each parse; only blanks and
    /// line breaks may follow the last one. A malformed batch is refused with number -1.
    void ParseBatchXMLString(std::string& iXMLStr);
    /// As ParseBatchXMLString, reporting under its own name.
    void ParseBatchXMLFile(std::string& iXMLStr);

  private:
    /// SetDocumentStatus from the status the row had; `body` as SetDocumentStatus takes it.
    void ChangeStatus(int32_t& iDocID, DOCUMENTSTATUS iDocStatus, DOCUMENTSTATUS old,
                      bool mayHaveOpenErrors, std::string* body);
    /// The standard form of a parsed body; `toRelease`, when it holds the body, is emptied
    /// as soon as the style sheet has read it.
    bool StandardOfTree(int32_t iDocID, const std::string& iDocTypeID, int32_t iSenderBPID,
                        const xml::XmlDocument& iReceived, std::optional<xml::XmlDocument>& toRelease,
                        xml::XmlDocument& oStandard);
};

}  // namespace kestrix
