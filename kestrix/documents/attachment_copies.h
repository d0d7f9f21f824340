#pragma once

#include <cstdint>

#include "platform/base/variant.h"

namespace kestrix {

/// Copies the attachment files (an array of paths; Empty or an empty array for none) into
/// the document's attachment folder and records them. One file that cannot be copied or
/// recorded becomes a publication error of the document (its text in the language
/// `languageId`) and the others are still stored; nothing is raised.
void CopyAttachmentCollection(int32_t docId, const Variant& attachments, int32_t languageId);

}  // namespace kestrix
