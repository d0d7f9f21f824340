// The JSON API of the service: a user's programs read his boxes with his API token.
#include "apps/kestrix/api_routes.h"

#include <charconv>
#include <optional>
#include <string>

#include "kestrix/documents/site_administration.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/web/document_api.h"
#include "platform/base/error.h"
#include "platform/base/json.h"
#include "platform/membership/directory.h"

namespace kestrix::cli {

namespace {

void JsonAnswer(http::Response& response, int status, const std::string& body) {
    response.status = status;
    response.contentType = "application/json";
    response.body = body;
}

void JsonError(http::Response& response, int status, const std::string& message) {
    JsonAnswer(response, status, "{\"error\":" + JsonString(message) + "}");
}

/// The user the request's token names, or nothing (the answer then says why).
std::optional<std::string> Authenticate(const http::Request& request, http::Response& response) {
    const std::string header = request.Header("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    std::optional<std::string> user;
    if (header.size() > kBearer.size() && header.compare(0, kBearer.size(), kBearer) == 0)
        user = SiteAdministration().directory().TokenUser(header.substr(kBearer.size()));
    if (!user) {
        response.headers.emplace("WWW-Authenticate", "Bearer");
        JsonError(response, 401, "An API token is needed: Authorization: Bearer TOKEN (kestrix user token LOGIN).");
    }
    return user;
}

/// The first value of a query parameter, or `fallback`.
std::string Parameter(const http::Request& request, const std::string& name, const std::string& fallback) {
    const auto it = request.query.find(name);
    return it == request.query.end() ? fallback : it->second;
}

/// A whole number parameter; nothing when it is no number.
std::optional<int32_t> NumberParameter(const http::Request& request, const std::string& name, int32_t fallback) {
    const std::string text = Parameter(request, name, std::to_string(fallback));
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

void ListDocuments(const http::Request& request, http::Response& response) {
    const std::optional<std::string> user = Authenticate(request, response);
    if (!user) return;
    const std::optional<int32_t> page = NumberParameter(request, "page", 1);
    const std::optional<int32_t> size = NumberParameter(request, "size", 50);
    if (!page || !size) return JsonError(response, 400, "page and size are whole numbers.");
    try {
        JsonAnswer(response, 200,
                   document_api::ListDocuments(*user, Parameter(request, "box", "inbox"), Parameter(request, "type", ""),
                                               *page, *size));
    } catch (const Error& e) {
        if (e.number() != ErrNum(EnumerationErrors::InvalidParamValue)) throw;
        JsonError(response, 400, e.description());
    }
}

}  // namespace

std::vector<http::Route> ApiRoutes() { return {{"GET", "/api/v1/documents", ListDocuments}}; }

}  // namespace kestrix::cli
