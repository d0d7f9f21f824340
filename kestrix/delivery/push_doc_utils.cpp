#include "kestrix/delivery/push_doc_utils.h"

#include "kestrix/documents/links.h"
#include "platform/base/strings.h"

namespace kestrix {

std::string PushDocUtils::URLEncode(const std::string& iStr) {
    return links::URLEncode(iStr);
}

}  // namespace kestrix

namespace kestrix {

std::string PushDocUtils::GetField(const db::Recordset& rs, std::string_view column) const {
    const Variant& value = rs.Field(column);
    return value.IsNull() || value.IsEmpty() ? std::string() : Trim(value.ToString());
}

}  // namespace kestrix
