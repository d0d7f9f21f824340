// The frame around the pages: every page behind the session and, for a post, its CSRF token.
#include "kestrix/web/web_routes.h"

#include <utility>

#include "kestrix/foundation/i18n.h"
#include "kestrix/web/web_session.h"
#include "platform/base/strings.h"
#include "platform/net/url.h"

namespace kestrix::web {

namespace {

/// Headers every page carries: never cached, never framed by another site, no guessing of
/// content types.
void PageHeaders(http::Response& response) {
    const auto set = [&](const char* name, const char* value) {
        if (response.headers.find(name) == response.headers.end()) response.headers.emplace(name, value);
    };
    set("Cache-Control", "no-store");
    set("X-Frame-Options", "SAMEORIGIN");
    set("X-Content-Type-Options", "nosniff");
    set("Referrer-Policy", "same-origin");
}

/// A post that came without a live session or without its token.
void Refuse(const http::Request& request, http::Response& response) {
    const Visitor visitor = AnonymousVisitor(request);
    response.status = 403;
    response.contentType = "text/html; charset=utf-8";
    const std::string text = LabelOrCode("KXL0712", visitor.language);
    response.body = RenderPage(visitor, LabelOrCode("KXL0706", visitor.language),
                               "<p class=\"error\" role=\"alert\">" + EscapeHtml(text) +
                                   "</p><p><a href=\"/login\">" +
                                   EscapeHtml(LabelOrCode("KXL0706", visitor.language)) + "</a></p>");
    PageHeaders(response);
}

http::Handler Guarded(Page page) {
    const bool post = IEquals(page.method, "POST");
    return [post, handler = std::move(page.handler)](const http::Request& request, http::Response& response) {
        const std::optional<Visitor> visitor = SessionVisitor(request);
        if (!visitor) {
            if (post) return Refuse(request, response);
            return Redirect(response, "/login?next=" + net::EscapeQueryValue(PathAndQuery(request)));
        }
        if (post && !CsrfMatches(request, visitor->csrfToken)) return Refuse(request, response);
        response.contentType = "text/html; charset=utf-8";
        handler(*visitor, request, response);
        PageHeaders(response);
    };
}

void Logout(const Visitor&, const http::Request& request, http::Response& response) {
    EndSession(request);
    response.headers.emplace("Set-Cookie", CookieHeader(kSessionCookie, "", "/", 0, request.secure));
    Redirect(response, "/login");
}

}  // namespace

std::string LocalTarget(const std::string& next) {
    bool local = next.size() > 0 && next[0] == '/' && (next.size() == 1 || (next[1] != '/' && next[1] != '\\'));
    for (const char c : next)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) local = false;
    return local ? next : "/inbox";
}

std::string LocalLink(std::string_view path, const std::vector<std::pair<std::string, std::string>>& parameters) {
    std::string link(path);
    char separator = '?';
    for (const auto& [name, value] : parameters) {
        if (value.empty()) continue;
        link += separator + net::EscapeQueryValue(name) + "=" + net::EscapeQueryValue(value);
        separator = '&';
    }
    return link;
}

std::string PathAndQuery(const http::Request& request) {
    return LocalLink(request.path, {request.query.begin(), request.query.end()});
}

Visitor AnonymousVisitor(const http::Request& request) {
    Visitor visitor;
    const std::string wanted = ToLower(Trim(request.Header("Accept-Language")));
    if (wanted.starts_with("de")) visitor.language = 1031;
    return visitor;
}

std::vector<http::Route> WebRoutes(std::vector<Page> pages) {
    std::vector<http::Route> routes = LoginRoutes();
    routes.push_back({"GET", "/", [](const http::Request&, http::Response& response) { Redirect(response, "/inbox"); }});
    routes.push_back({"GET", "/static/kestrix.css", [](const http::Request&, http::Response& response) {
                          response.contentType = "text/css; charset=utf-8";
                          response.headers.emplace("Cache-Control", "max-age=3600");
                          response.body = kStyleSheet;
                      }});
    pages.push_back({"POST", "/logout", Logout});
    for (Page& page : pages) {
        std::string method = page.method, path = page.path;
        routes.push_back({std::move(method), std::move(path), Guarded(std::move(page))});
    }
    return routes;
}

}  // namespace kestrix::web
