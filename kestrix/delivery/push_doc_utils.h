#pragma once

#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/db/recordset.h"

namespace kestrix {

/// "Kestrix.PushDocUtils": delivery of documents to their receivers. So far it offers the
/// escaping of values for web addresses and form posts and the reading of a text field.
class PushDocUtils : public Object {
public:
    /// A text column of the current row: NULL reads as "", any other value as its text,
    /// trimmed on both sides.
    std::string GetField(const db::Recordset& rs, std::string_view column) const;
    /// The text escaped for the query part of an address, with every "=" as "%3D".
    std::string URLEncode(const std::string& iStr);
};

}  // namespace kestrix
