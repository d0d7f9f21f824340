#include "kestrix/delivery/push_doc_utils.h"

#include "kestrix/documents/links.h"

namespace kestrix {

std::string PushDocUtils::URLEncode(const std::string& iStr) {
    return links::URLEncode(iStr);
}

}  // namespace kestrix
