#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "kestrix/delivery/outbox.h"
#include "kestrix/documents/document.h"
#include "kestrix/processing/document_metrics.h"
#include "kestrix/processing/document_trace.h"
#include "platform/base/variant.h"

namespace kestrix {

/// The processing of a received document, on top of the document store: every road by
/// which a document enters ends here.
class DocumentProcessing : public DocumentStore {
  public:
    // ---- processing a received document ---------------------------------------------------

    /// Runs a received document through every step of processing: parse, OBI recognition,
    /// show flag, sender, type, the sender's right to publish, store, transformation to the
    /// standard form, default receiver, the completed row, user-defined fields, recipients,
    /// attachments and, for unattended calls (iInterActive 0) that found recipients, the
    /// notification mails. Answers the document identifier. A failing step raises
    /// ProcessDocumentError with the step's label text (oDocID is then 0); after the row is
    /// stored the failure is also recorded as a publication error of the document, and a
    /// row that never got a type is removed.
    Variant ProcessDocumentInternal(int32_t iInterActive, const std::string& iOriginalXmlBody,
                                    std::string& iOriginalDocTypeID,
                                    std::string& iOriginalDefRecipient,
                                    const Variant& i_oAttachments, int32_t& oDocID,
                                    int32_t& oSenderBPID, std::string& oDocTypeID,
                                    std::string& oSenderName, std::string& oDefRecipient,
                                    int16_t& oStatus, int32_t iForwardedDocID = -1);
    /// ProcessDocumentInternal without attachments.
    Variant ProcessDocument(int32_t iInterActive, const std::string& iOriginalXmlBody,
                            std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                            int32_t& oDocID, int32_t& oSenderBPID, std::string& oDocTypeID,
                            std::string& oSenderName, std::string& oDefRecipient, int16_t& oStatus,
                            int32_t iForwardedDocID = -1);
    /// ProcessDocumentInternal with the attachment files (an array of paths).
    Variant ProcessDocumentWithAttachments(
        int32_t iInterActive, const std::string& iOriginalXmlBody, std::string& iOriginalDocTypeID,
        std::string& iOriginalDefRecipient, const Variant& i_oAttachments, int32_t& oDocID,
        int32_t& oSenderBPID, std::string& oDocTypeID, std::string& oSenderName,
        std::string& oDefRecipient, int16_t& oStatus, int32_t iForwardedDocID = -1);

    /// Names the file or source the next documents come from, for their entries in the log.
    void SetOrigin(std::string origin) { trace_.origin = std::move(origin); }
    /// Counts each document processed from now on in `metrics` (nullptr: no counting). The
    /// metrics must outlive this object.
    void SetMetrics(DocumentMetrics* metrics) { metrics_ = metrics; }
    /// What became of the last document processed (also written to the log as one entry).
    const DocumentTrace& LastTrace() const { return trace_; }

    /// A document processed inside a unit of work that its caller opened leaves what goes out
    /// of the system (deliveries, mails) for after the caller's commit: the caller calls this
    /// after the commit, or `DropLeftItems` after a roll-back. Never raises for a failing item
    /// (it waits in the outbox for its next attempt).
    outbox::Outcome WorkOffLeftItems();
    /// Forgets what the documents left to go out: the caller's unit of work was rolled back.
    void DropLeftItems() noexcept;

  private:
    /// Works off those of the items that exist (were committed).
    static outbox::Outcome WorkOffStored(std::vector<outbox::Item> items);

    Variant ProcessOnce(int32_t iInterActive, const std::string& iOriginalXmlBody,
                        std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                        const Variant& i_oAttachments, int32_t& oDocID, int32_t& oSenderBPID,
                        std::string& oDocTypeID, std::string& oSenderName, std::string& oDefRecipient,
                        int16_t& oStatus, int32_t iForwardedDocID);

    DocumentTrace trace_;
    DocumentMetrics* metrics_ = nullptr;
    /// What documents of a caller's unit of work left to do after its commit.
    std::vector<outbox::Item> leftItems_;
};

}  // namespace kestrix
