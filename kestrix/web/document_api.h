#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix::document_api {

/// The boxes a user's programs may list.
inline constexpr std::string_view kBoxes = "inbox, outbox or errors";

/// One page of the documents of one type (required) in `user`'s box ("inbox", "outbox" or
/// "errors"), newest first, as JSON: {"box":..,"page":..,"size":..,
/// "documents":[{column: value, ...}, ...]}, each row with the columns of the box's list in
/// lower case (each name once). Pages count from 1; a page holds 1 to 500 documents. Raises
/// InvalidParamValue for an unknown box, no type, or a page out of range.
std::string ListDocuments(const std::string& user, std::string_view box, const std::string& type, int32_t page,
                          int32_t size);

}  // namespace kestrix::document_api
