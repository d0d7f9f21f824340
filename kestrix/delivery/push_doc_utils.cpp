#include "kestrix/delivery/push_doc_utils.h"

#include "kestrix/foundation/error_reporting.h"
#include "platform/base/strings.h"
#include "platform/net/url.h"

namespace kestrix {

std::string PushDocUtils::URLEncode(const std::string& iStr) {
    try {
        return ReplaceAll(net::EscapeQueryValue(iStr), "=", "%3D");
    } catch (...) {
        Reraise("Kestrix.PushDocUtils.EncodeURL");
    }
}

}  // namespace kestrix
