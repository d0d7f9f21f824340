#include "kestrix/intake/publish_create_document.h"

#include "kestrix/documents/attachment_copies.h"

namespace kestrix {

void PublishCreateDocument::CopyAttachmentCollection(int32_t i_lDocID,
                                                     const Variant& i_oAttachments) {
    kestrix::CopyAttachmentCollection(i_lDocID, i_oAttachments, mPublisherLanguageID);
}

}  // namespace kestrix
