#pragma once

#include <string>

#include "platform/base/object.h"

namespace kestrix {

/// "Kestrix.PushDocUtils": delivery of documents to their receivers. So far it offers the
/// escaping of values for web addresses and form posts.
class PushDocUtils : public Object {
public:
    /// The text escaped for the query part of an address, with every "=" as "%3D".
    std::string URLEncode(const std::string& iStr);
};

}  // namespace kestrix
