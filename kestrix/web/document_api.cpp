// What the JSON API of the service answers about a user's documents.
#include "kestrix/web/document_api.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/web/sql_queries.h"
#include "platform/base/error.h"
#include "platform/base/json.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"

namespace kestrix::document_api {

namespace {

constexpr const char* kSource = "Kestrix.DocumentApi.ListDocuments";

/// A field as JSON: numbers as numbers, NULL as null, everything else as text.
std::string JsonValue(const Variant& value) {
    if (value.IsNull() || value.IsEmpty()) return "null";
    if (value.IsNumeric()) return value.ToString();
    return JsonString(value.ToString());
}


}  // namespace

std::string ListDocuments(const std::string& user, std::string_view box, const std::string& type, int32_t page,
                          int32_t size) {
    SENDERMODE mode;
    if (box == "inbox")
        mode = SENDERMODE::RECEIVERMODE;
    else if (box == "outbox")
        mode = SENDERMODE::SENDERMODE;
    else if (box == "errors")
        mode = SENDERMODE::ERRORMODE;
    else
        Raise(EnumerationErrors::InvalidParamValue, kSource,
              "The box '" + std::string(box) + "' is none of " + std::string(kBoxes) + ".");
    if (type.empty())
        Raise(EnumerationErrors::InvalidParamValue, kSource, "A box is listed by document type: name one.");
    if (page < 1 || size < 1 || size > 500)
        Raise(EnumerationErrors::InvalidParamValue, kSource,
              "A page counts from 1 and holds 1 to 500 documents.");
    std::string errors;
    BoundSql query = SQLQueries().BuildDocListQuery(static_cast<int32_t>(mode), type, {}, {}, 0, user, errors);
    if (!errors.empty()) Raise(EnumerationErrors::InvalidParamValue, kSource, errors);
    // Newest first.
    BoundSql paged;
    paged.Append("SELECT * FROM (").Append(query.sql).Append(") LISTED ORDER BY CREATIONDATE DESC LIMIT ");
    paged.params = query.params;
    paged.Bind(Variant(size)).Append(" OFFSET ").Bind(Variant((page - 1) * size));
    query = std::move(paged);
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(query.sql, query.params);
    // Each column once, by its first name (a list may name a column of two tables alike).
    std::vector<std::pair<size_t, std::string>> columns;
    std::vector<std::string> seen;
    for (size_t i = 0; i < rs.FieldCount(); ++i) {
        const std::string name = ToLower(rs.FieldName(i));
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        columns.emplace_back(i, JsonString(name));
    }
    std::string json = "{\"box\":" + JsonString(box) + ",\"page\":" + std::to_string(page) +
                       ",\"size\":" + std::to_string(size) + ",\"documents\":[";
    for (bool first = true; !rs.Eof(); rs.MoveNext(), first = false) {
        json += first ? "{" : ",{";
        for (size_t c = 0; c < columns.size(); ++c)
            json += (c ? "," : "") + columns[c].second + ":" + JsonValue(rs.Field(columns[c].first));
        json += "}";
    }
    return json + "]}";
}

}  // namespace kestrix::document_api
