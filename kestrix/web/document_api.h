#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/web/sql_queries.h"

namespace kestrix::document_api {

/// One page of the documents of one type (required) in `user`'s box ("inbox", "outbox" or
/// "errors"), newest first, as JSON: {"box":..,"page":..,"size":..,
/// "documents":[{column: value, ...}, ...]}, each row with the columns of the box's list in
/// lower case (each name once), the user-defined fields `tags` as "t1" ... "tn". `filters`
/// narrow the list as the boxes of the pages do (checked by `SQLQueries`). Pages count from
/// 1; a page holds 1 to 500 documents. Raises InvalidParamValue with a label text in
/// `language` for an unknown box, no type, a page out of range, or a filter or field that the
/// list does not have.
std::string ListDocuments(const std::string& user, std::string_view box, const std::string& type, int32_t page,
                          int32_t size, const std::vector<int32_t>& tags = {},
                          const std::vector<DocListFilter>& filters = {}, int32_t language = 0);

/// A document as `user` sees it, as JSON: its routing data (type, sender, status, dates, the
/// document it came from, the user's own publication status), its recipients with their
/// statuses (every recipient for its sender, his own row for a recipient), its publication
/// errors with their messages in `language`, and the names of its attachments. Nothing when
/// the user may not see it or it is not of `type` (when a type is given).
std::optional<std::string> DocumentJson(const std::string& user, int32_t id, const std::string& type,
                                        int32_t language);

/// The delivery attempts of a document `user` may see, oldest first, as JSON; nothing as
/// for DocumentJson.
std::optional<std::string> HistoryJson(const std::string& user, int32_t id, const std::string& type);

}  // namespace kestrix::document_api
