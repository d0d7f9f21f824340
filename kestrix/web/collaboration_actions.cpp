#include "kestrix/web/collaboration.h"

#include "kestrix/documents/publication_errors.h"

namespace kestrix {

void Collaboration::ClosePublicationErrorsForOneCategory(int32_t i_lDocID,
                                                         const std::string& i_sCategory) {
    publication_errors::ClosePublicationErrorsForOneCategory(i_lDocID, i_sCategory);
}

void Collaboration::ClosePublicationErrors(int32_t iPublicationErrorID, int32_t iDocID) {
    publication_errors::ClosePublicationErrors(iPublicationErrorID, iDocID);
}

void Collaboration::DeletePublicationErrors(int32_t iDocID) {
    publication_errors::DeletePublicationErrors(iDocID);
}

}  // namespace kestrix
