#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.PublishCreateDocument": publishing of documents created on web forms. So far it
/// offers the storing of a processed document's attachments.
class PublishCreateDocument : public Object {
public:
    /// The language of this instance's messages (0 = the default language).
    int32_t mPublisherLanguageID = 0;

    /// Copies the attachment files (an array of paths; Empty or an empty array for none) into
    /// the document's attachment folder and records them. One file that cannot be copied or
    /// recorded becomes a publication error of the document and the others are still
    /// stored; nothing is raised.
    void CopyAttachmentCollection(int32_t i_lDocID, const Variant& i_oAttachments);
};

}  // namespace kestrix
