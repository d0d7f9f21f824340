// The JSON API of the service and its HTTP intake: a user's programs read and act on his
// documents with his API token, and partners (other sites among them) post documents.
#include "kestrix/web/api_routes.h"

#include <algorithm>
#include <initializer_list>
#include <set>
#include <utility>

#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/documents/site_administration.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/users.h"
#include "kestrix/intake/http_intake.h"
#include "kestrix/web/collaboration.h"
#include "kestrix/web/document_access.h"
#include "kestrix/web/document_api.h"
#include "kestrix/web/pages.h"
#include "kestrix/web/web_session.h"
#include "platform/base/error.h"
#include "platform/base/json.h"
#include "platform/base/strings.h"
#include "platform/membership/directory.h"
#include "platform/membership/secrets.h"
#include "platform/membership/user.h"

namespace kestrix::web {

namespace {

/// The language of the user's labels; the site's default when he has none.
int32_t LanguageOf(const std::string& login) {
    try {
        std::string user = login;
        const int32_t language = std::stoi(users::GetAUObject(user)->LanguageID());
        return language > 0 ? language : 0;
    } catch (...) {
        return 0;
    }
}

void JsonAnswer(http::Response& response, int status, std::string body) {
    response.status = status;
    response.contentType = "application/json";
    response.body = std::move(body);
}

void JsonError(http::Response& response, int status, const std::string& message) {
    JsonAnswer(response, status, "{\"error\":" + JsonString(message) + "}");
}

/// A request that carries no user: 401 with the way to get a token.
void Unauthenticated(http::Response& response) {
    response.headers.emplace("WWW-Authenticate", "Bearer");
    JsonError(response, 401, LabelText(0, "KXL0901"));
}

/// A refusal of the request with a label text, raised inside a handler and answered by
/// `Serve`.
struct Refusal {
    int status;
    std::string message;
};

/// A whole-number query parameter; `fallback` when it is absent, a refusal when it is no
/// number.
int32_t NumberParameter(const http::Request& request, const std::string& name, int32_t fallback, int32_t language) {
    if (request.query.find(name) == request.query.end()) return fallback;
    const std::optional<int32_t> value = WholeNumber(Trim(request.Query(name)));
    if (!value) throw Refusal{400, LabelText(language, "KXL0906", {{"[%NAME%]", name}})};
    return *value;
}

/// Every value of a query parameter, in the order given.
std::vector<std::string> AllValues(const http::Request& request, const std::string& name) {
    std::vector<std::string> values;
    const auto [from, to] = request.query.equal_range(name);
    for (auto it = from; it != to; ++it) values.push_back(it->second);
    return values;
}

/// What a handler of a user's request is given.
struct Call {
    const http::Request& request;
    http::Response& response;
    const std::string& user;
    int32_t language;
};

/// Runs a handler of a user's request: the user first (401 without one), then the handler;
/// its refusals and the list's refusals of a parameter are answered as JSON.
http::Handler ForUser(void (*handler)(const Call&)) {
    return [handler](const http::Request& request, http::Response& response) {
        const std::optional<std::string> user = ApiUser(request);
        if (!user) return Unauthenticated(response);
        const int32_t language = LanguageOf(*user);
        try {
            handler(Call{request, response, *user, language});
        } catch (const Refusal& refusal) {
            JsonError(response, refusal.status, refusal.message);
        } catch (const Error& e) {
            if (e.number() != ErrNum(EnumerationErrors::InvalidParamValue)) throw;
            JsonError(response, 400, e.description());
        }
    };
}

/// The document the request names (id=N, optionally type=T), when the user may see it; a
/// refusal with 404 otherwise, the same for a document of another user as for none.
int32_t VisibleDocument(const Call& call) {
    const int32_t id = NumberParameter(call.request, "id", 0, call.language);
    if (id <= 0 || !UserMaySeeDocument(call.user, id, Trim(call.request.Query("type"))))
        throw Refusal{404, LabelText(call.language, "KXL0905", {{"[%DOCID%]", call.request.Query("id")}})};
    return id;
}

void StatusAnswer(const Call& call, int32_t id) {
    JsonAnswer(call.response, 200,
               "{\"id\":" + std::to_string(id) + ",\"publicationStatus\":" +
                   std::to_string(Collaboration().GetPublicationStatus(id, call.user)) + "}");
}

// ---- reads -------------------------------------------------------------------------------

void ListDocuments(const Call& call) {
    const int32_t page = NumberParameter(call.request, "page", 1, call.language);
    const int32_t size = NumberParameter(call.request, "size", 50, call.language);
    std::vector<int32_t> tags;
    for (const std::string& tag : AllValues(call.request, "tag")) {
        const std::optional<int32_t> id = WholeNumber(tag);
        if (!id) throw Refusal{400, LabelText(call.language, "KXL0603", {{"[%TAG%]", tag}})};
        tags.push_back(*id);
    }
    const std::vector<std::string> names = AllValues(call.request, "filter");
    const std::vector<std::string> values = AllValues(call.request, "value");
    if (names.size() != values.size())
        throw Refusal{400, LabelText(call.language, "KXL0914",
                                 {{"[%FILTERS%]", std::to_string(names.size())},
                                  {"[%VALUES%]", std::to_string(values.size())}})};
    std::vector<DocListFilter> filters;
    for (size_t i = 0; i < names.size(); ++i) filters.push_back({names[i], values[i]});
    const std::string box = call.request.query.count("box") ? call.request.Query("box") : std::string("inbox");
    JsonAnswer(call.response, 200,
               document_api::ListDocuments(call.user, box, Trim(call.request.Query("type")), page, size, tags,
                                           filters, call.language));
}

void ShowDocument(const Call& call) {
    const int32_t id = VisibleDocument(call);
    const std::optional<std::string> json =
        document_api::DocumentJson(call.user, id, Trim(call.request.Query("type")), call.language);
    if (!json) throw Refusal{404, LabelText(call.language, "KXL0905", {{"[%DOCID%]", std::to_string(id)}})};
    JsonAnswer(call.response, 200, *json);
}

void ShowHistory(const Call& call) {
    const int32_t id = VisibleDocument(call);
    const std::optional<std::string> json =
        document_api::HistoryJson(call.user, id, Trim(call.request.Query("type")));
    if (!json) throw Refusal{404, LabelText(call.language, "KXL0905", {{"[%DOCID%]", std::to_string(id)}})};
    JsonAnswer(call.response, 200, *json);
}

// ---- actions -----------------------------------------------------------------------------

/// The user's own publication of the document: accepting and rejecting need one.
void RequirePublication(const Call& call, int32_t id) {
    if (Collaboration().GetPublicationStatus(id, call.user) < 0) throw Refusal{409, LabelText(call.language, "KXL0911")};
}

void Accept(const Call& call) {
    const int32_t id = VisibleDocument(call);
    RequirePublication(call, id);
    Collaboration().AcceptPublication(id, call.user);
    StatusAnswer(call, id);
}

void Reject(const Call& call) {
    const int32_t id = VisibleDocument(call);
    RequirePublication(call, id);
    Collaboration().SetPublicationStatus(id, call.user, ToInt(PUBLICATIONSTATUS::PUBLICATIONREJECTED));
    StatusAnswer(call, id);
}

/// Removes the document from the box named (box=inbox|outbox|errors); without one from the
/// inbox when it was published to the user, else from his outbox.
void Delete(const Call& call) {
    const int32_t id = VisibleDocument(call);
    Collaboration collaboration;
    const std::string box = Trim(call.request.Query("box"));
    SENDERMODE mode = collaboration.GetPublicationStatus(id, call.user) >= 0 ? SENDERMODE::RECEIVERMODE
                                                                           : SENDERMODE::SENDERMODE;
    if (box == "inbox") mode = SENDERMODE::RECEIVERMODE;
    else if (box == "outbox") mode = SENDERMODE::SENDERMODE;
    else if (box == "errors") mode = SENDERMODE::ERRORMODE;
    else if (!box.empty()) throw Refusal{400, LabelText(call.language, "KXL0907", {{"[%BOX%]", box}})};
    if (!collaboration.deleteDocument2(id, Trim(call.request.Query("type")), ToInt(mode), call.user, ""))
        throw Refusal{409, LabelText(call.language, "KXL0912", {{"[%DOCID%]", std::to_string(id)}})};
    JsonAnswer(call.response, 200, "{\"id\":" + std::to_string(id) + ",\"deleted\":true}");
}

/// Sends the failed deliveries of the user's document again: the one of publication error
/// error=E, or every one whose error is open. Answers which were sent again and which errors
/// are still open afterwards (a delivery that fails again opens a new one).
void Repush(const Call& call) {
    const int32_t id = VisibleDocument(call);
    const std::optional<DocumentDetails> document = FindDocument(call.user, id, Trim(call.request.Query("type")));
    if (!document || !document->isSender) throw Refusal{403, LabelText(call.language, "KXL0913")};
    std::set<int32_t> open;
    for (const DocumentError& e : DocumentErrors(call.user, id, call.language))
        if (!e.closed) open.insert(e.id);
    std::vector<int32_t> failed;
    for (const DeliveryRecord& d : DeliveryHistory(call.user, id))
        if (d.errorId != 0 && open.count(d.errorId) &&
            std::find(failed.begin(), failed.end(), d.errorId) == failed.end())
            failed.push_back(d.errorId);
    if (call.request.query.count("error")) {
        const int32_t error = NumberParameter(call.request, "error", 0, call.language);
        if (std::find(failed.begin(), failed.end(), error) == failed.end())
            throw Refusal{404, LabelText(call.language, "KXL0915", {{"[%ERRORID%]", std::to_string(error)}})};
        failed = {error};
    }
    PushDocUtils push;
    for (int32_t error : failed) push.RepushDocumentFromErrorBox(call.user, id, error);
    std::string stillOpen;
    for (const DocumentError& e : DocumentErrors(call.user, id, call.language))
        if (!e.closed) stillOpen += (stillOpen.empty() ? "" : ",") + std::to_string(e.id);
    std::string repushed;
    for (int32_t error : failed) repushed += (repushed.empty() ? "" : ",") + std::to_string(error);
    JsonAnswer(call.response, 200,
               "{\"id\":" + std::to_string(id) + ",\"repushed\":[" + repushed + "],\"openErrors\":[" + stillOpen +
                   "]}");
}

// ---- HTTP intake -------------------------------------------------------------------------

/// The kind of document a body of this content type holds; nothing for none the site takes.
std::optional<http_intake::Posting> PostingOfBody(const http::Request& request) {
    const std::string type = ToLower(Trim(request.Header("Content-Type").substr(0, request.Header("Content-Type").find(';'))));
    http_intake::Posting posting;
    posting.content = request.body;
    if (type == "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet") {
        posting.format = http_intake::Format::Workbook;
        posting.workbookExtension = "xlsx";
    } else if (type == "application/vnd.ms-excel.sheet.macroenabled.12") {
        posting.format = http_intake::Format::Workbook;
        posting.workbookExtension = "xlsm";
    } else if (type == "application/vnd.ms-excel") {
        posting.format = http_intake::Format::Workbook;
        posting.workbookExtension = "xls";
    } else if (type.empty() || type == "text/plain" || type == "text/xml" || type == "application/xml" ||
               type.ends_with("+xml")) {
        posting.format = http_intake::Format::Xml;
    } else {
        return std::nullopt;
    }
    return posting;
}

/// The answer the HTTP send method of a site parses: XML with the new document, or with
/// ERROR_NUMBER (not 0), ERROR_SOURCE and ERROR_DESCRIPTION, which it books as a failed
/// delivery. Always status 200: the sender reads any other status as a failure of the line.
void SenderAnswer(http::Response& response, const http_intake::Outcome& outcome) {
    response.status = 200;
    response.contentType = "text/xml; charset=utf-8";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RESPONSE>";
    if (outcome.kind == http_intake::Outcome::Kind::Stored || outcome.kind == http_intake::Outcome::Kind::Repeated) {
        xml += "<DOCUMENTID>" + std::to_string(outcome.documentId) + "</DOCUMENTID><DOCUMENTTYPEID>" +
               XmlEscape(outcome.documentType) + "</DOCUMENTTYPEID><ERROR_NUMBER>0</ERROR_NUMBER>";
    } else {
        const int32_t number = outcome.errorNumber != 0 ? outcome.errorNumber
                                                        : ErrNum(EnumerationErrors::ProcessDocumentError);
        xml += "<ERROR_NUMBER>" + std::to_string(number) + "</ERROR_NUMBER><ERROR_SOURCE>" +
               XmlEscape(outcome.errorSource) + "</ERROR_SOURCE><ERROR_DESCRIPTION>" + XmlEscape(outcome.message) +
               "</ERROR_DESCRIPTION>";
    }
    response.body = xml + "</RESPONSE>\n";
}

http_intake::Outcome SenderRefusal(std::string message) {
    http_intake::Outcome refused;
    refused.kind = http_intake::Outcome::Kind::Refused;
    refused.errorNumber = ErrNum(EnumerationErrors::PublishDocumentError);
    refused.errorSource = "Kestrix.HttpIntake";
    refused.message = std::move(message);
    return refused;
}

/// The user whose name and password a form post carries, checked by the membership
/// validator under the lock-out of the log-in page; nothing when they do not match or the
/// login is locked (`locked` then says so).
std::optional<std::string> FormUser(const http::Request& request, bool& locked) {
    const std::string user = request.Form("USER");
    const LoginOutcome::Kind outcome = CheckCredentials(user, request.Form("PASSWORD"));
    locked = outcome == LoginOutcome::Kind::Locked;
    if (outcome != LoginOutcome::Kind::Accepted) return std::nullopt;
    return user;
}

/// The form post of a site's HTTP send method: "xml=" or "EOBIO=", "USER" and "PASSWORD",
/// "DocID". The user is the one of the credentials, never one a browser's cookie would name:
/// a page of another site could make a browser post such a form.
void ReceiveFormPost(const http::Request& request, http::Response& response) {
    bool locked = false;
    const std::optional<std::string> user = FormUser(request, locked);
    if (!user)
        return SenderAnswer(response,
                            SenderRefusal(locked ? LabelText(0, "KXL0710", {{"[%MINUTES%]", std::to_string(
                                                                              SessionLimits::OfSite().lockSeconds / 60)}})
                                                 : LabelText(0, "KXL0902")));
    http_intake::Posting posting;
    posting.user = *user;
    const bool obi = request.form.count("EOBIO") > 0;
    posting.format = obi ? http_intake::Format::Obi : http_intake::Format::Xml;
    posting.content = request.Form(obi ? "EOBIO" : "xml");
    posting.senderKey = Trim(request.Form("DocID"));
    if (Trim(posting.content).empty())
        return SenderAnswer(response, SenderRefusal(LabelText(LanguageOf(*user), "KXL0903")));
    SenderAnswer(response, http_intake::Publish(posting));
}

void ReceiveDocument(const http::Request& request, http::Response& response) {
    if (request.form.count("xml") || request.form.count("EOBIO")) return ReceiveFormPost(request, response);
    const std::optional<std::string> user = ApiUser(request);
    if (!user) return Unauthenticated(response);
    const int32_t language = LanguageOf(*user);
    std::optional<http_intake::Posting> posting = PostingOfBody(request);
    if (!posting)
        return JsonError(response, 415,
                         LabelText(language, "KXL0910", {{"[%TYPE%]", Trim(request.Header("Content-Type"))}}));
    if (Trim(posting->content).empty()) return JsonError(response, 400, LabelText(language, "KXL0903"));
    posting->user = *user;
    posting->senderKey = Trim(request.Query("DocID"));
    const http_intake::Outcome outcome = http_intake::Publish(*posting);
    switch (outcome.kind) {
        case http_intake::Outcome::Kind::Stored:
        case http_intake::Outcome::Kind::Repeated:
            return JsonAnswer(response, outcome.kind == http_intake::Outcome::Kind::Stored ? 201 : 200,
                              "{\"id\":" + std::to_string(outcome.documentId) +
                                  ",\"type\":" + JsonString(outcome.documentType) + "}");
        case http_intake::Outcome::Kind::Forbidden:
            return JsonError(response, 403, outcome.message);
        case http_intake::Outcome::Kind::Refused:
            return JsonError(response, 400, outcome.message);
    }
}

}  // namespace

std::optional<std::string> ApiUser(const http::Request& request) {
    const std::string header = request.Header("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    if (header.size() > kBearer.size() && header.compare(0, kBearer.size(), kBearer) == 0)
        return SiteAdministration().directory().TokenUser(Trim(header.substr(kBearer.size())));
    // The pages' own scripts speak for the logged-in visitor; a change also carries his
    // session's CSRF token, so that a page of another site cannot act in his name.
    const std::optional<Visitor> visitor = SessionVisitor(request);
    if (!visitor) return std::nullopt;
    if (request.method == "GET" || request.method == "HEAD" || CsrfMatches(request, visitor->csrfToken) ||
        (!visitor->csrfToken.empty() && membership::EqualInConstantTime(request.Header("X-CSRF-Token"), visitor->csrfToken)))
        return visitor->user;
    return std::nullopt;
}

std::vector<http::Route> ApiRoutes() {
    return {
        {"GET", "/api/v1/documents", ForUser(ListDocuments)},
        {"POST", "/api/v1/documents", ReceiveDocument},
        {"GET", "/api/v1/document", ForUser(ShowDocument)},
        {"GET", "/api/v1/document/history", ForUser(ShowHistory)},
        {"POST", "/api/v1/document/accept", ForUser(Accept)},
        {"POST", "/api/v1/document/reject", ForUser(Reject)},
        {"POST", "/api/v1/document/delete", ForUser(Delete)},
        {"POST", "/api/v1/errors/repush", ForUser(Repush)},
    };
}

}  // namespace kestrix::web
