#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix {

/// "Kestrix.Attachments": the files attached to documents. A document's attachments lie in
/// its own folder, <attachment root>/<document identifier>/<file name>, and each has a row
/// in ATTACHMENT.
class Attachments : public Object {
  public:
    /// Registers the files of a document's attachment folder: an empty file is deleted and
    /// skipped, a file without a row gets one. A missing folder registers nothing.
    void ExamenFolderForNewFilesAndWriteThemToDB(int32_t& iDocID, std::string& iAbsolutePath);
    /// ATTACHMENTFILENAME and ATTACHMENTID of the document's attachments, when `iSender` is
    /// the document's sender (nothing otherwise).
    db::Recordset GetDocumentAttachmentsBySenderRS(std::string& iSender, int32_t& iDocID);
    /// Deletes the attachment's row and its file <iPath>/<iDocID>/<iAttFile>. A file name
    /// that would lead out of the document's folder is refused before anything is deleted.
    void DeleteAttachment(int32_t& iDocID, int32_t& iAttID, std::string& iAttFile,
                          std::string& iPath);
    /// Whether attachments can be stored: `Supported` (with the attachments' web path and
    /// folder in the out-arguments) or `NotSupported`, as an `EAttachmentMode` number.
    Variant AttachmentsMode(Variant& o_sVirtualPath, Variant& o_sFolder);

    /// Late-bound calls of the operations by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;
};

}  // namespace kestrix
