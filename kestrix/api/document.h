#pragma once

#include "kestrix/processing/document_processing.h"

namespace kestrix {

/// "Kestrix.Document": the document store (documents/) with the processing of received
/// documents (processing/). It adds nothing of its own: each half lives in the room that
/// owns its work.
class Document : public DocumentProcessing {};

}  // namespace kestrix
