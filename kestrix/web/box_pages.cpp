// The inbox, outbox and error box of the logged-in user, and the children of a document.
#include "kestrix/web/box_pages.h"

#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/web/collaboration.h"
#include "kestrix/web/sql_queries.h"
#include "kestrix/web/web_routes.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix::web {

namespace {

constexpr int32_t kPageSize = 25;

bool IsErrorBox(const Box& box) { return box.mode == SENDERMODE::ERRORMODE; }
bool IsInbox(const Box& box) { return box.mode == SENDERMODE::RECEIVERMODE; }

struct TagColumn {
    int32_t id = 0;
    std::string description;
};

/// What the visitor asked for, from the address.
struct ListRequest {
    std::string type;
    int32_t parent = 0;
    std::string parentType;
    std::vector<TagColumn> tags;
    std::vector<std::pair<std::string, std::string>> filterValues;  ///< parameter -> value, as given
    std::string sort;                                              ///< a key of SortColumn, or ""
    bool ascending = false;
    int32_t page = 1;
};

std::string Label(const Visitor& visitor, std::string_view code) { return LabelText(visitor.language, code); }

/// The columns the box's list query answers, in its order. The query names two columns
/// alike (DOCUMENTID of the document and of the publication), so the page names them itself.
std::vector<std::string> ListColumns(const Box& box, const ListRequest& list) {
    std::vector<std::string> columns;
    if (IsErrorBox(box)) {
        columns = {"DOCUMENTID", "CREATIONDATE", "SENDER", "DOCUMENTTYPEID"};
    } else {
        columns = {"DSTATUS", "CREATIONDATE", "SENDER", "DOCUMENTID", "DOCUMENTTYPEID", "CHILDID", "NR", "PDOCUMENTID"};
        if (IsInbox(box) && list.parent == 0) columns.insert(columns.end(), {"USERID", "STATUS", "FORWARD"});
    }
    if (list.parent == 0)
        for (size_t i = 1; i <= list.tags.size(); ++i) columns.push_back("T" + std::to_string(i));
    return columns;
}

/// The column a sort key names; "" for a key the page does not offer.
std::string SortColumn(const Box& box, const ListRequest& list, const std::string& key) {
    if (key == "date") return "CREATIONDATE";
    if (key == "sender") return "SENDER";
    if (key == "docid") return "DOCUMENTID";
    if (key == "status" && !IsErrorBox(box)) return IsInbox(box) && list.parent == 0 ? "STATUS" : "DSTATUS";
    if (list.parent == 0 && key.size() > 1 && key[0] == 't')
        if (const std::optional<int32_t> n = PositiveNumber(key.substr(1)); n && *n <= static_cast<int32_t>(list.tags.size()))
            return "T" + std::to_string(*n);
    return {};
}

/// The filter of the query builder that a parameter of the page stands for.
std::string FilterName(const Box& box, const std::string& parameter) {
    if (parameter == "sender") return "DOCUMENT.SENDER LIKE";
    if (parameter == "docid") return "DOCUMENT.DOCUMENTID =";
    if (parameter == "status" && !IsErrorBox(box)) return IsInbox(box) ? "PUBLICATION.STATUS =" : "DOCUMENT.STATUS =";
    if (parameter.size() > 1 && parameter[0] == 't') return "T" + parameter.substr(1) + ".TAGVALUE LIKE";
    return {};
}

/// The filter parameters the page offers for the box: sender, document number, status, and
/// one per user-defined field.
std::vector<std::string> FilterParameters(const Box& box, size_t tags) {
    std::vector<std::string> names = {"sender", "docid"};
    if (!IsErrorBox(box)) names.push_back("status");
    for (size_t i = 1; i <= tags; ++i) names.push_back("t" + std::to_string(i));
    return names;
}

std::vector<TagColumn> TagColumns(db::Connection& connection, const std::string& type) {
    std::vector<TagColumn> tags;
    for (db::Recordset rs = connection.Query(
             "SELECT TAGID, DESCRIPTION FROM TAGSCONFIG WHERE DOCUMENTTYPEID = ? ORDER BY SEQUENCENUMBER, TAGID",
             {Variant(type)});
         !rs.Eof(); rs.MoveNext())
        tags.push_back({static_cast<int32_t>(rs.GetInt("TAGID")), Trim(rs.GetString("DESCRIPTION"))});
    return tags;
}

/// The document types of the box: identifier and description.
std::vector<std::pair<std::string, std::string>> BoxTypes(db::Connection& connection, const Box& box,
                                                          const std::string& user) {
    std::vector<std::pair<std::string, std::string>> types;
    const BoundSql query = Collaboration().DocumentTypeListQuery(static_cast<int16_t>(ToInt(box.mode)), user);
    for (db::Recordset rs = connection.Query(query.sql, query.params); !rs.Eof(); rs.MoveNext()) {
        std::string id = Trim(rs.GetString("DOCUMENTTYPEID"));
        bool seen = false;
        for (const auto& known : types) seen = seen || known.first == id;
        if (!seen) types.emplace_back(std::move(id), Trim(rs.GetString("DESCRIPTION")));
    }
    return types;
}

/// One page of the list, one row per document; `more` when another page follows.
struct Listing {
    std::optional<db::Recordset> rows;
    bool more = false;
    std::string errors;  ///< message|hint|note of a filter the builder refused
};

Listing RunList(db::Connection& connection, const Box& box, const ListRequest& list, const Visitor& visitor) {
    Listing listing;
    std::vector<DocListFilter> filters;
    for (const auto& [parameter, value] : list.filterValues) {
        std::string pattern = value;
        // People know "*" as "any text"; the database knows "%".
        if (parameter != "docid" && parameter != "status") pattern = ReplaceAll(pattern, "*", "%");
        filters.push_back({FilterName(box, parameter), parameter == "status" ? Trim(value) : pattern});
    }
    std::vector<int32_t> tagIds;
    if (list.parent == 0)
        for (const TagColumn& tag : list.tags) tagIds.push_back(tag.id);
    BoundSql query;
    try {
        query = SQLQueries().BuildDocListQuery(ToInt(box.mode), list.type, tagIds, filters,
                                               list.parent, visitor.user, listing.errors, visitor.language);
    } catch (const Error& e) {
        if (e.number() != ErrNum(EnumerationErrors::InvalidParamValue)) throw;
        if (listing.errors.empty()) listing.errors = e.description().substr(0, e.description().find('\r'));
        return listing;
    }
    const std::vector<std::string> columns = ListColumns(box, list);
    std::string names, grouped;
    for (const std::string& column : columns) {
        names += (names.empty() ? "" : ", ") + column;
        if (column != "CHILDID") grouped += (grouped.empty() ? "" : ", ") + column;
    }
    // A document with several children comes once, marked by one of them.
    const bool hasChildren = grouped.size() != names.size();
    BoundSql paged;
    paged.Append("WITH LISTED (" + names + ") AS (").Append(query).Append(") SELECT " + grouped);
    if (hasChildren) paged.Append(", MAX(CHILDID) AS CHILDID");
    paged.Append(" FROM LISTED GROUP BY " + grouped);
    std::string sortColumn = SortColumn(box, list, list.sort);
    if (sortColumn.empty()) sortColumn = "CREATIONDATE";
    const std::string direction = list.ascending ? " ASC" : " DESC";
    // Empty values last either way, on every database.
    paged.Append(" ORDER BY (" + sortColumn + " IS NULL), " + sortColumn + direction + ", DOCUMENTID" + direction +
                 " LIMIT ");
    paged.Bind(Variant(kPageSize + 1)).Append(" OFFSET ").Bind(Variant(static_cast<int64_t>(list.page - 1) * kPageSize));
    listing.rows = connection.Query(paged.sql, paged.params);
    listing.more = static_cast<int32_t>(listing.rows->RowCount()) > kPageSize;
    return listing;
}

/// The parameters that keep the list as it is (type, filters, sort), for links that change one.
std::vector<std::pair<std::string, std::string>> KeptParameters(const ListRequest& list) {
    std::vector<std::pair<std::string, std::string>> kept;
    if (list.parent != 0) {
        kept = {{"DocID", std::to_string(list.parent)}, {"DocTypeID", list.parentType}};
    } else {
        kept.emplace_back("type", list.type);
        for (const auto& filter : list.filterValues) kept.push_back(filter);
    }
    if (!list.sort.empty()) {
        kept.emplace_back("sort", list.sort);
        kept.emplace_back("dir", list.ascending ? "asc" : "desc");
    }
    return kept;
}

std::string DocumentLink(const Box& box, const std::string& id, const std::string& type) {
    return LocalLink("/document", {{"DocID", id}, {"DocTypeID", type}, {"SenderMode", std::to_string(ToInt(box.mode))}});
}

std::string FilterForm(const Visitor& visitor, const Box& box, const ListRequest& list,
                       const std::vector<std::pair<std::string, std::string>>& types) {
    std::string html = "<form id=\"filter\" method=\"get\" action=\"" + std::string(box.path) + "\">";
    html += "<label>" + HtmlLabel(visitor, "KXL0713") + " <select name=\"type\">";
    bool listed = false;
    for (const auto& [id, description] : types) {
        listed = listed || id == list.type;
        html += "<option value=\"" + EscapeHtml(id) + "\"" + (id == list.type ? " selected" : "") + ">" +
                EscapeHtml(description.empty() ? id : description) + "</option>";
    }
    if (!listed) html += "<option value=\"" + EscapeHtml(list.type) + "\" selected>" + EscapeHtml(list.type) + "</option>";
    html += "</select></label>";
    const auto value = [&](const std::string& parameter) {
        for (const auto& [name, given] : list.filterValues)
            if (name == parameter) return given;
        return std::string();
    };
    const auto input = [&](const std::string& parameter, const std::string& caption, const char* extra) {
        html += "<label>" + EscapeHtml(caption) + " <input name=\"" + parameter + "\" value=\"" +
                EscapeHtml(value(parameter)) + "\"" + extra + "></label>";
    };
    input("sender", Label(visitor, "KXL0715"), "");
    input("docid", Label(visitor, "KXL0714"), " inputmode=\"numeric\"");
    if (!IsErrorBox(box)) input("status", Label(visitor, "KXL0717"), "");
    for (size_t i = 0; i < list.tags.size(); ++i) input("t" + std::to_string(i + 1), list.tags[i].description, "");
    if (!list.sort.empty()) {
        html += "<input type=\"hidden\" name=\"sort\" value=\"" + EscapeHtml(list.sort) + "\">";
        html += "<input type=\"hidden\" name=\"dir\" value=\"" + std::string(list.ascending ? "asc" : "desc") + "\">";
    }
    html += "<button type=\"submit\">" + HtmlLabel(visitor, "KXL0719") + "</button></form>";
    return html;
}

/// A column head that sorts by its key, the other way round when it already does.
std::string SortHead(const Box& box, const ListRequest& list, const std::string& key, const std::string& caption) {
    // Unsorted lists stand by date; numbers and dates go newest first, texts from A.
    const std::string current = list.sort.empty() ? "date" : list.sort;
    ListRequest sorted = list;
    sorted.ascending = current == key ? !list.ascending : key != "date" && key != "docid";
    sorted.sort = key;
    const std::string path = list.parent != 0 ? "/children" : box.path;
    std::vector<std::pair<std::string, std::string>> parameters = KeptParameters(sorted);
    if (list.parent != 0) parameters.emplace_back("SenderMode", std::to_string(ToInt(box.mode)));
    std::string mark;
    if (current == key) mark = list.ascending ? " \u25B2" : " \u25BC";
    return "<th><a class=\"sort\" href=\"" + EscapeHtml(LocalLink(path, parameters)) + "\">" + EscapeHtml(caption) +
           "</a>" + mark + "</th>";
}

std::string ErrorActions(const Visitor& visitor, const Box& box, const std::string& id, const std::string& type) {
    std::string html;
    for (const auto& [action, code] : {std::pair{"/errors/repush", "KXL0726"}, std::pair{"/errors/close", "KXL0727"},
                                       std::pair{"/errors/delete", "KXL0728"}}) {
        html += "<form method=\"post\" action=\"" + std::string(action) + "\">";
        html += "<input type=\"hidden\" name=\"DocID\" value=\"" + EscapeHtml(id) + "\">";
        html += "<input type=\"hidden\" name=\"DocTypeID\" value=\"" + EscapeHtml(type) + "\">";
        html += "<input type=\"hidden\" name=\"SenderMode\" value=\"" + std::to_string(ToInt(box.mode)) + "\">";
        html += CsrfField(visitor);
        html += "<button type=\"submit\">" + HtmlLabel(visitor, code) + "</button></form> ";
    }
    return html;
}

std::string Table(const Visitor& visitor, const Box& box, const ListRequest& list, Listing& listing) {
    const bool errors = IsErrorBox(box);
    const bool tagged = list.parent == 0;
    std::string html = "<table class=\"documents\"><thead><tr>";
    html += SortHead(box, list, "docid", Label(visitor, "KXL0714"));
    html += SortHead(box, list, "date", Label(visitor, "KXL0716"));
    html += SortHead(box, list, "sender", Label(visitor, "KXL0715"));
    if (!errors) html += SortHead(box, list, "status", Label(visitor, "KXL0717"));
    if (tagged)
        for (size_t i = 0; i < list.tags.size(); ++i)
            html += SortHead(box, list, "t" + std::to_string(i + 1), list.tags[i].description);
    if (!errors) html += "<th>" + HtmlLabel(visitor, "KXL0718") + "</th><th>" + HtmlLabel(visitor, "KXL0723") + "</th>";
    else html += "<th></th>";
    html += "</tr></thead><tbody>";
    db::Recordset& rows = *listing.rows;
    for (int32_t shown = 0; !rows.Eof() && shown < kPageSize; rows.MoveNext(), ++shown) {
        const std::string id = rows.Field("DOCUMENTID").ToString();
        const std::string type = Trim(rows.GetString("DOCUMENTTYPEID"));
        html += "<tr><td><a class=\"doc\" href=\"" + EscapeHtml(DocumentLink(box, id, type)) + "\">" + EscapeHtml(id) +
                "</a></td>";
        html += "<td>" + EscapeHtml(rows.GetString("CREATIONDATE")) + "</td>";
        html += "<td>" + EscapeHtml(rows.GetString("SENDER")) + "</td>";
        if (!errors) {
            const bool publication = IsInbox(box) && list.parent == 0;
            const int32_t status = static_cast<int32_t>(rows.GetInt(publication ? "STATUS" : "DSTATUS", -1));
            html += "<td>" + EscapeHtml(publication ? PublicationStatusName(status) : DocumentStatusName(status)) + "</td>";
        }
        if (tagged)
            for (size_t i = 1; i <= list.tags.size(); ++i)
                html += "<td>" + EscapeHtml(rows.GetString("T" + std::to_string(i))) + "</td>";
        if (!errors) {
            html += "<td>" + std::to_string(rows.GetInt("NR")) + "</td><td>";
            if (!rows.IsNull("CHILDID"))
                html += "<a class=\"children\" href=\"" +
                        EscapeHtml(LocalLink("/children", {{"DocID", id}, {"DocTypeID", type},
                                                      {"SenderMode", std::to_string(ToInt(box.mode))}})) +
                        "\">" + HtmlLabel(visitor, "KXL0723") + "</a>";
            html += "</td>";
        } else {
            // Only the sender pushes a failed delivery again or closes its errors; a recipient sees
            // the failures of deliveries to his partner and asks the sender.
            html += "<td class=\"actions\">";
            if (Trim(rows.GetString("SENDER")) == visitor.user) html += ErrorActions(visitor, box, id, type);
            html += "</td>";
        }
        html += "</tr>";
    }
    html += "</tbody></table>";
    return html;
}

std::string Paging(const Visitor& visitor, const Box& box, const ListRequest& list, bool more) {
    if (list.page == 1 && !more) return {};
    const std::string path = list.parent != 0 ? "/children" : box.path;
    const auto pageLink = [&](int32_t page, const char* cls, const char* code) {
        std::vector<std::pair<std::string, std::string>> parameters = KeptParameters(list);
        if (list.parent != 0) parameters.emplace_back("SenderMode", std::to_string(ToInt(box.mode)));
        parameters.emplace_back("page", std::to_string(page));
        return "<a class=\"" + std::string(cls) + "\" href=\"" + EscapeHtml(LocalLink(path, parameters)) + "\">" +
               HtmlLabel(visitor, code) + "</a>";
    };
    std::string html = "<nav class=\"pages\">";
    if (list.page > 1) html += pageLink(list.page - 1, "prev", "KXL0720");
    if (more) html += pageLink(list.page + 1, "next", "KXL0721");
    return html + "</nav>";
}

/// The outcome an action sent along: a label code only, never a text from the address.
std::string Outcome(const Visitor& visitor, const http::Request& request, const std::string& parameter) {
    static const std::regex code("^(KXL|SLBSH)[0-9]{4}$");
    const std::string given = request.Query(parameter);
    return std::regex_match(given, code) ? Label(visitor, given) : std::string();
}

/// The frame with the list (or its filter error) for one box or the children of a document.
void ShowList(const Box& box, ListRequest list, const std::string& title, const Visitor& visitor,
              const http::Request& request, http::Response& response) {
    db::Connection connection = GetConnection();
    std::string body;
    if (const std::string error = Outcome(visitor, request, "error"); !error.empty())
        body += "<p class=\"error\" role=\"alert\">" + EscapeHtml(error) + "</p>";
    if (list.parent == 0) {
        const std::vector<std::pair<std::string, std::string>> types = BoxTypes(connection, box, visitor.user);
        if (list.type.empty() && !types.empty()) list.type = types.front().first;
        if (list.type.empty()) {
            body += "<p class=\"empty\">" + HtmlLabel(visitor, "KXL0724") + "</p>";
            response.body = RenderPage(visitor, title, body, Outcome(visitor, request, "notice"));
            return;
        }
        list.tags = TagColumns(connection, list.type);
        for (const std::string& parameter : FilterParameters(box, list.tags.size()))
            if (const std::string value = request.Query(parameter); !Trim(value).empty())
                list.filterValues.emplace_back(parameter, value);
        if (SortColumn(box, list, list.sort).empty()) list.sort.clear();
        body += FilterForm(visitor, box, list, types);
    } else if (SortColumn(box, list, list.sort).empty()) {
        list.sort.clear();
    }
    Listing listing = RunList(connection, box, list, visitor);
    if (!listing.errors.empty()) {
        const std::vector<std::string> parts = Split(listing.errors, '|');
        for (size_t i = 0; i < parts.size(); ++i)
            if (!Trim(parts[i]).empty())
                body += std::string(i == 0 ? "<p class=\"error\" role=\"alert\">" : "<p class=\"hint\">") +
                        EscapeHtml(parts[i]) + "</p>";
    } else if (listing.rows->Eof()) {
        body += "<p class=\"empty\">" + HtmlLabel(visitor, list.filterValues.empty() && list.page == 1 ? "KXL0724" : "KXL0725") +
                "</p>";
        body += Paging(visitor, box, list, false);
    } else {
        body += Table(visitor, box, list, listing);
        body += Paging(visitor, box, list, listing.more);
    }
    response.body = RenderPage(visitor, title, body, Outcome(visitor, request, "notice"));
}

ListRequest ListOf(const http::Request& request) {
    ListRequest list;
    list.type = Trim(request.Query("type"));
    list.sort = request.Query("sort");
    list.ascending = request.Query("dir") == "asc";
    // Far pages are refused as page 1 rather than made into a huge offset.
    if (const std::optional<int32_t> page = PositiveNumber(request.Query("page")); page && *page <= 1000000)
        list.page = *page;
    return list;
}

PageHandler BoxPage(const Box& box) {
    return [&box](const Visitor& visitor, const http::Request& request, http::Response& response) {
        ShowList(box, ListOf(request), Label(visitor, box.titleCode), visitor, request, response);
    };
}

void NotFound(const Visitor& visitor, http::Response& response) {
    response.status = 404;
    response.body = RenderPage(visitor, Label(visitor, "KXL0729"),
                               "<p class=\"error\" role=\"alert\">" + HtmlLabel(visitor, "KXL0730") + "</p>");
}

void ChildrenPage(const Visitor& visitor, const http::Request& request, http::Response& response) {
    const std::optional<int32_t> parent = PositiveNumber(request.Query("DocID"));
    const std::string mode = request.Query("SenderMode");
    const Box* box = mode.size() == 1 ? BoxOfMode(mode[0] - '0') : nullptr;
    if (!parent || !box) return NotFound(visitor, response);
    // The list of children takes any parent: only one the visitor sees in that box is listed.
    const BoundSql seen = Collaboration().DocumentDetailsQuery(static_cast<int16_t>(ToInt(box->mode)), *parent, visitor.user);
    if (GetConnection().Query(seen.sql, seen.params).Eof()) return NotFound(visitor, response);
    ListRequest list = ListOf(request);
    list.parent = *parent;
    list.parentType = Trim(request.Query("DocTypeID"));
    Dictionary replacements;
    replacements.Add("[%DOCID%]", std::to_string(*parent));
    ShowList(*box, list, LabelOrCode("KXL0722", visitor.language, replacements), visitor, request, response);
}

}  // namespace

std::vector<Page> BoxPages() {
    return {{"GET", "/inbox", BoxPage(kInbox)},
            {"GET", "/outbox", BoxPage(kOutbox)},
            {"GET", "/errors", BoxPage(kErrors)},
            {"GET", "/children", ChildrenPage}};
}

}  // namespace kestrix::web
