#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "kestrix/delivery/outbox.h"
#include "kestrix/processing/document_processing.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.PublishCreateDocument": publishes a document its caller already holds whole (XML
/// text built on a web form, a workbook on disk, an OBI object), either at once through
/// processing (synchronous: the caller gets the new document's identifier) or by dropping it
/// into the import queue folder (server parameter "XMLPath2") for the next folder import
/// (asynchronous: the caller gets 0). It also stores a processed document's attachments.
///
/// Failures are reported and raised on with the source "PublishCreateDocument." and the
/// operation's name.
class PublishCreateDocument : public Object {
  public:
    /// The language of this instance's messages (0 = the default language).
    int32_t mPublisherLanguageID = 0;

    /// `PublishXmlDocument` of the text and attachments, synchronous.
    int32_t Main(const std::string& i_sXMLStr, Variant& i_oAttachments);
    /// Sets the language of the messages: "" gives 1033, any other text is read as a number.
    /// A text that is no number is logged and leaves the language as it was.
    void SetPublisherLanguageID(const std::string& i_sLanguageID);
    /// The language of the messages (0 when never set).
    int32_t GetPublisherLanguageID();

    /// Publishes an XML text with its attachments (an array of paths; Empty for none).
    /// Asynchronous publication takes no attachments: a collection that is present, even
    /// empty, is refused with AttachmentsSupported.
    int32_t PublishXmlDocument(const std::string& i_sXmlString, const Variant& i_oAttachments,
                               bool i_bSynchronous);
    /// Publishes a workbook (a file ending in "xls", "xlsx" or "xlsm", in any case; anything
    /// else is NotAnExcelFile): converted to XML at once, or copied into the queue folder
    /// under its own extension. ExcelNotInstalled when the site switched workbooks off.
    int32_t PublishExcelDocument(const std::string& i_sExcelFile, const Variant& i_oAttachments,
                                 bool i_bSynchronous);
    /// Publishes the XML document carried by an OBI object, after checking its version and
    /// language.
    int32_t PublishObiDocument(const std::string& i_sObiObject, bool i_bSynchronous);

    /// Copies the attachment files (an array of paths; Empty or an empty array for none) into
    /// the document's attachment folder and records them. One file that cannot be copied or
    /// recorded becomes a publication error of the document and the others are still
    /// stored; nothing is raised.
    void CopyAttachmentCollection(int32_t i_lDocID, const Variant& i_oAttachments);

    /// The synchronous publications of this instance speak for `user` of partner `partner`
    /// (a road that has authenticated its caller): the document's own sender tags are not
    /// asked. The user must still be allowed to send the document's type.
    void PublishAs(std::string user, int32_t partner) {
        senderName_ = std::move(user);
        senderPartner_ = partner;
    }
    /// The type of the document the last synchronous publication stored ("" before one).
    const std::string& LastDocumentType() const { return processing_.LastTrace().type; }
    /// A synchronous publication inside a unit of work that the caller opened leaves what
    /// goes out (deliveries, mails) for after the caller's commit: the caller calls this after
    /// the commit, or `DropLeftItems` after a roll-back.
    outbox::Outcome WorkOffLeftItems() { return processing_.WorkOffLeftItems(); }
    void DropLeftItems() noexcept { processing_.DropLeftItems(); }

    /// The path of the file the last asynchronous publication of this instance queued (""
    /// before one).
    const std::string& LastQueuedFile() const { return lastQueuedFile_; }

    /// Late-bound calls of the operations by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    /// Runs the text through processing, unattended. A failure, or a result without document,
    /// type, sender or sender partner, writes the text into the error folder (named by the
    /// document identifier when there is one, else "Error.xml") and raises
    /// ProcessDocumentError.
    int32_t PublishDocumentSync(const std::string& i_sXml, const Variant& i_oAttachments);
    /// Drops the text (or a copy of the source file) into the queue folder as
    /// PREFIX_yyyy.mm.dd_hh.mm.ss-N.EXT. The file is written under a name the folder import
    /// never picks up and moved to its name only when whole, never over an existing file: a
    /// name already taken is tried again with the next counter (up to "-98").
    void PublishDocumentAsync(const std::string& i_sPrefix, const std::string& i_sExtension,
                              const std::string& i_sSourceText, const std::string& i_sSourceFile);

    std::string lastQueuedFile_;
    std::string senderName_;
    int32_t senderPartner_ = 0;
    DocumentProcessing processing_;
};

}  // namespace kestrix
