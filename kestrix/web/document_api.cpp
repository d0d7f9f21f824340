// What the JSON API of the service answers about a user's documents.
#include "kestrix/web/document_api.h"

#include <initializer_list>
#include <utility>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/web/document_access.h"
#include "kestrix/web/pages.h"
#include "kestrix/web/sql_queries.h"
#include "platform/base/error.h"
#include "platform/base/json.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"

namespace kestrix::document_api {

namespace {

constexpr const char* kSource = "Kestrix.DocumentApi.ListDocuments";

/// "name":value pairs joined into a JSON object.
class JsonObject {
  public:
    JsonObject& Add(std::string_view name, const std::string& json) {
        text_ += (text_.size() > 1 ? "," : "") + JsonString(name) + ":" + json;
        return *this;
    }
    JsonObject& Text(std::string_view name, std::string_view value) { return Add(name, JsonString(value)); }
    JsonObject& Number(std::string_view name, int64_t value) { return Add(name, std::to_string(value)); }
    JsonObject& Flag(std::string_view name, bool value) { return Add(name, value ? "true" : "false"); }
    std::string Close() const { return text_ + "}"; }

  private:
    std::string text_ = "{";
};

/// The elements joined into a JSON array.
template <typename Items, typename ToJson>
std::string JsonArray(const Items& items, ToJson&& toJson) {
    std::string json = "[";
    for (const auto& item : items) json += (json.size() > 1 ? "," : "") + toJson(item);
    return json + "]";
}


}  // namespace

std::string ListDocuments(const std::string& user, std::string_view box, const std::string& type, int32_t page,
                          int32_t size, const std::vector<int32_t>& tags, const std::vector<DocListFilter>& filters,
                          int32_t language) {
    SENDERMODE mode;
    if (box == "inbox")
        mode = SENDERMODE::RECEIVERMODE;
    else if (box == "outbox")
        mode = SENDERMODE::SENDERMODE;
    else if (box == "errors")
        mode = SENDERMODE::ERRORMODE;
    else
        Raise(EnumerationErrors::InvalidParamValue, kSource, web::LabelText(language, "KXL0907", {{"[%BOX%]", std::string(box)}}));
    if (type.empty()) Raise(EnumerationErrors::InvalidParamValue, kSource, web::LabelText(language, "KXL0908"));
    if (page < 1 || size < 1 || size > 500)
        Raise(EnumerationErrors::InvalidParamValue, kSource, web::LabelText(language, "KXL0909"));
    std::string errors;
    BoundSql query;
    try {
        query = SQLQueries().BuildDocListQuery(static_cast<int32_t>(mode), type, tags, filters, 0, user, errors);
    } catch (const Error& e) {
        if (e.number() != ErrNum(EnumerationErrors::InvalidParamValue)) throw;
        // The message, and the allowed values when the list names them.
        const size_t bar = errors.find('|');
        std::string message = errors.substr(0, bar);
        if (bar != std::string::npos) {
            const std::string hint = Trim(errors.substr(bar + 1, errors.find('|', bar + 1) - bar - 1));
            if (!hint.empty()) message += " " + hint;
        }
        Raise(EnumerationErrors::InvalidParamValue, kSource, Trim(message).empty() ? e.description() : message);
    }
    // Newest first.
    BoundSql paged;
    paged.Append("SELECT * FROM (").Append(query.sql).Append(") LISTED ORDER BY CREATIONDATE DESC LIMIT ");
    paged.params = query.params;
    paged.Bind(Variant(size)).Append(" OFFSET ").Bind(Variant((page - 1) * size));
    query = std::move(paged);
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(query.sql, query.params);
    // The rows in one shape whatever the box: the builder's columns differ from box to box
    // and name the document number twice.
    const auto has = [&rs](std::string_view name) {
        for (size_t i = 0; i < rs.FieldCount(); ++i)
            if (ToLower(rs.FieldName(i)) == ToLower(std::string(name))) return true;
        return false;
    };
    const bool publication = mode == SENDERMODE::RECEIVERMODE && has("STATUS");
    const bool documentStatus = has("DSTATUS");
    const bool counted = has("NR");
    const bool children = has("CHILDID");
    std::string json = "{\"box\":" + JsonString(box) + ",\"type\":" + JsonString(type) +
                       ",\"page\":" + std::to_string(page) + ",\"size\":" + std::to_string(size) +
                       ",\"documents\":[";
    for (bool first = true; !rs.Eof(); rs.MoveNext(), first = false) {
        JsonObject row;
        row.Number("id", rs.GetInt("DOCUMENTID"))
            .Text("type", Trim(rs.GetString("DOCUMENTTYPEID")))
            .Text("sender", Trim(rs.GetString("SENDER")))
            .Text("creationDate", rs.GetString("CREATIONDATE"));
        if (documentStatus) row.Number("status", rs.GetInt("DSTATUS"));
        if (publication) row.Number("publicationStatus", rs.GetInt("STATUS"));
        if (counted) row.Number("attachments", rs.GetInt("NR"));
        if (children) row.Flag("hasChildren", !rs.IsNull("CHILDID"));
        if (!tags.empty()) {
            JsonObject values;
            for (size_t i = 0; i < tags.size(); ++i) {
                const std::string column = "T" + std::to_string(i + 1);
                values.Add(std::to_string(tags[i]), rs.IsNull(column) ? "null" : JsonString(rs.GetString(column)));
            }
            row.Add("tags", values.Close());
        }
        json += (first ? "" : ",") + row.Close();
    }
    return json + "]}";
}

std::optional<std::string> DocumentJson(const std::string& user, int32_t id, const std::string& type,
                                        int32_t language) {
    const std::optional<web::DocumentDetails> document = web::FindDocument(user, id, type);
    if (!document) return std::nullopt;
    JsonObject json;
    json.Number("id", document->id)
        .Text("type", document->type)
        .Text("typeDescription", document->typeDescription)
        .Text("sender", document->sender)
        .Number("status", document->status)
        .Text("creationDate", document->creationDate)
        .Text("entranceDate", document->entranceDate)
        .Number("parentId", document->parentId)
        .Flag("isSender", document->isSender)
        .Number("publicationStatus", document->publicationStatus);
    json.Add("recipients", JsonArray(document->recipients, [](const web::DocumentRecipient& r) {
        return JsonObject().Text("user", r.user).Number("status", r.status).Flag("forwarded", r.forwarded).Close();
    }));
    json.Add("errors", JsonArray(web::DocumentErrors(user, id, language), [](const web::DocumentError& e) {
        return JsonObject()
            .Number("id", e.id)
            .Text("creationDate", e.creationDate)
            .Number("number", e.number)
            .Text("message", e.message)
            .Flag("closed", e.closed)
            .Close();
    }));
    json.Add("attachments", JsonArray(document->attachments, [](const std::string& name) { return JsonString(name); }));
    return json.Close();
}

std::optional<std::string> HistoryJson(const std::string& user, int32_t id, const std::string& type) {
    if (!web::UserMaySeeDocument(user, id, type)) return std::nullopt;
    return JsonObject()
        .Number("id", id)
        .Add("deliveries", JsonArray(web::DeliveryHistory(user, id), [](const web::DeliveryRecord& d) {
            return JsonObject()
                .Text("sendDate", d.sendDate)
                .Number("partner", d.partner)
                .Number("sendMethod", d.sendMethod)
                .Number("status", d.status)
                .Number("errorId", d.errorId)
                .Close();
        }))
        .Close();
}

}  // namespace kestrix::document_api
