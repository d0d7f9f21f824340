#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"

namespace kestrix {

/// "Kestrix.Collaboration": what a user does to a document in the web pages. For now it
/// closes publication errors (one error, or every error of a category of a document) and
/// removes the publication errors of a document.
class Collaboration : public Object {
  public:
    /// Closes the open publication errors of the document whose label belongs to the
    /// category. Only "CannotPublish" (the recipients that could not be found or resolved)
    /// is known; any other category, also in other capitals, fails.
    void ClosePublicationErrorsForOneCategory(int32_t i_lDocID, const std::string& i_sCategory);
    /// Closes one publication error; when a document other than 0 is given, only when the
    /// error belongs to that document.
    void ClosePublicationErrors(int32_t iPublicationErrorID, int32_t iDocID = 0);
    /// Removes every publication error of the document, open or closed.
    void DeletePublicationErrors(int32_t iDocID);
};

}  // namespace kestrix
