#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/delivery/send_method.h"
#include "platform/base/dictionary.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix {

/// "Kestrix.PushDocUtils": delivery of stored documents to the business partners of their
/// recipients, by each partner's send methods (chosen by rule), with a history row per
/// attempt and a publication error per failure; and the re-sending of a failed delivery from
/// the error box.
class PushDocUtils : public Object {
public:
    /// Delivers the document to every partner of its recipients by the send methods their
    /// rules select that push automatically. Never raises: every failure ends in a
    /// publication error of the document.
    void PushDocumentToReceivers(int32_t& i_lDocID, const std::string& i_sDocTypeID,
                                 const std::string& i_sXMLStr = {});
    /// As PushDocumentToReceivers, then raises PushDocumentError when the document has open
    /// publication errors.
    void PushDocumentToReceiversWithErrorRaise(int32_t& i_lDocID, const std::string& i_sDocTypeID,
                                               const std::string& i_sXMLStr = {});
    /// Delivers the document to one partner by every send method its rule selects
    /// (automatic or not); false when the partner has none or the walk could not be made.
    bool PushDocumentToReceiver(int32_t i_lBPID, int32_t i_lDocID, const std::string& i_sDocTypeID,
                                const std::string& i_sXMLStr = {});
    /// One delivery by one send method, with its history row; a failure is recorded as a
    /// publication error and raised as CannotExecuteSendMethod. The publication error given
    /// (a re-send) is closed whatever the outcome.
    void ExecuteSendMethod(int32_t i_lBPID, int32_t i_lDocID, int32_t i_lSendMethodID, int32_t i_lruleid,
                           const std::string& i_sXMLStr = {}, int32_t i_lPublicationErrorID = 0);
    /// Whether the partner has a default send method for the type or rules on send methods.
    bool CanPush(int32_t iBPID, int32_t iDocID, const std::string& iDocTypeID);

    /// A text column of the current row: NULL reads as "", any other value as its text,
    /// trimmed on both sides.
    std::string GetField(const db::Recordset& rs, std::string_view column) const;

    /// The e-mail protocol: the converted document attached to a mail to the send method's
    /// user or address, from the document's sender.
    void SendByEmail(int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& i_uProperties);
    /// As SendByEmail, with the document's uploaded attachments when they are enabled.
    void SendByEmail2(int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& i_uProperties,
                      bool& i_bEnableAttachments);
    /// The fax protocol: a mail to the fax number at the site's fax server.
    void SendByFax(int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& i_uProperties);

    /// The text escaped for the query part of an address, with every "=" as "%3D".
    std::string URLEncode(const std::string& iStr);

    /// The send method of a failed delivery; 0 when unknown.
    int32_t GetSendMethodIDByPublicationErrorID(int32_t i_lPublicationErrordID);
    /// What a failed delivery was: partner, send method, document and the document's sender
    /// (0, 0, 0 and "0" when the error is not a delivery's).
    void GetSendMethodInfoViaPublicationError(int32_t i_lPublicationErrordID, int32_t& o_lBusinessPartnerID,
                                              int32_t& o_lSendMethodID, int32_t& o_lDocumentID,
                                              std::string& o_sSender);
    /// Sends a failed delivery again, for the document's sender only.
    void RepushDocumentFromErrorBox(const std::string& i_sCurrentUser, int32_t i_lDocID,
                                    int32_t i_lPublicationErrorID);
    /// True exactly when the number is CannotExecuteSendMethod.
    bool ErrorIsExecSendMethodError(const Variant& i_lErrNumber) const;

    /// One delivery the automatic push of a document makes.
    struct PlannedDelivery {
        int32_t partner = 0;
        int32_t sendMethod = 0;
        int32_t rule = 0;
    };
    /// The deliveries an automatic push of the document makes: every automatic send method
    /// that the rule of each partner of its recipients selects, as PushDocumentToReceivers
    /// would walk them. A sender who may not publish the type gets nothing delivered, and a
    /// partner whose rule cannot be evaluated nothing; both are recorded as publication
    /// errors of the document.
    std::vector<PlannedDelivery> PlanDeliveries(int32_t docId, const std::string& docTypeId);

    /// What one attempt of a delivery kept in the outbox came to.
    struct DeliveryAttempt {
        bool delivered = false;
        /// A failure that may pass by itself (no connection, a time-out, a server's "later").
        bool transient = false;
        /// The publication error of a failed attempt.
        int32_t publicationErrorId = 0;
        std::string error;
    };
    /// One attempt to deliver the document to the partner by the send method chosen by the
    /// rule, with its history row and, when it fails, its publication error; the error of
    /// the attempt before (`previousErrorId`) is closed whatever the outcome. A delivery the
    /// history already shows as made is not made again. The document's status becomes
    /// DOCUMENTSENT.
    DeliveryAttempt AttemptDelivery(int32_t docId, int32_t partner, int32_t sendMethod, int32_t rule,
                                    int32_t previousErrorId);

    /// The name of the file a send method produces for a document: the send method's name
    /// (or the document id), "_" and the id when asked for, "." and the extension.
    static std::string GetSendMethodOutputFileName(int32_t docId, const TSendMethodProperties& properties);

private:
    db::Recordset GetPushableBPs(int32_t docId, const std::string& docTypeId);
    void PushDocument(int32_t docId, const std::string& xml, TSendMethodProperties& properties,
                      bool attachments = false);
    void SendByFileStream(int32_t docId, const Variant& data, TSendMethodProperties& properties);
    void SendByFTP(int32_t docId, const Variant& data, TSendMethodProperties& properties);
    void SendByHTTP(int32_t docId, TSendMethodProperties& properties, const std::string& data);
    void SendByMethodCall(int32_t docId, const Variant& data, TSendMethodProperties& properties);
    /// The replacements of a failed delivery's publication error.
    Dictionary FailureReplacements(int32_t docId, int32_t partner, const TSendMethodProperties& properties);

    /// Makes the workbook of a document for a mail or an upload as a scratch file, from the
    /// send method's template when it has one; answers its path.
    std::string WorkbookFile(int32_t docId, const std::string& text, const TSendMethodProperties& p);
    /// The bytes of the workbook a file-path delivery puts at `target`, made in the send
    /// method's write mode on a scratch copy of the target.
    std::string WorkbookForFolder(int32_t docId, const std::string& text, const TSendMethodProperties& p,
                                  const std::filesystem::path& target);
    /// Removes the scratch workbook of a delivery, when it made one.
    static void RemoveTemporaryWorkbook(TSendMethodProperties& p) noexcept;

    /// Notes, from the failure being handled, whether it may pass by itself.
    void NoteTransient();

    /// Whether the last failed transport said its failure may pass by itself.
    bool transientFailure_ = false;
};

}  // namespace kestrix
