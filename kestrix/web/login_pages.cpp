// The log-in page, log-in and log-out.
#include <string>

#include "kestrix/foundation/i18n.h"
#include "kestrix/web/web_routes.h"
#include "kestrix/web/web_session.h"
#include "platform/base/dictionary.h"
#include "platform/membership/secrets.h"

namespace kestrix::web {

namespace {

/// The log-in form stays usable this long after it was shown.
constexpr int64_t kLoginFormSeconds = 15 * 60;

/// The log-in page with a fresh form token (in its cookie and its hidden field); `error` is
/// a label text shown above the form.
void LoginPage(const http::Request& request, http::Response& response, const std::string& next,
               const std::string& login, const std::string& error) {
    Visitor visitor = AnonymousVisitor(request);
    visitor.csrfToken = membership::RandomHex(32);
    response.headers.emplace("Set-Cookie", CookieHeader(kLoginFormCookie, visitor.csrfToken, "/login",
                                                        kLoginFormSeconds, request.secure));
    response.headers.emplace("Cache-Control", "no-store");
    const auto label = [&](std::string_view code) { return EscapeHtml(LabelOrCode(code, visitor.language)); };
    std::string body;
    if (!error.empty()) body += "<p class=\"error\" role=\"alert\">" + EscapeHtml(error) + "</p>";
    body += "<form id=\"login\" method=\"post\" action=\"/login\">";
    body += "<label>" + label("KXL0707") +
            " <input name=\"login\" autocomplete=\"username\" required autofocus maxlength=\"255\" value=\"" +
            EscapeHtml(login) + "\"></label>";
    body += "<label>" + label("KXL0708") +
            " <input type=\"password\" name=\"password\" autocomplete=\"current-password\" required></label>";
    body += "<input type=\"hidden\" name=\"next\" value=\"" + EscapeHtml(LocalTarget(next)) + "\">";
    body += CsrfField(visitor);
    body += "<button type=\"submit\">" + label("KXL0706") + "</button></form>";
    response.contentType = "text/html; charset=utf-8";
    response.body = RenderPage(visitor, LabelOrCode("KXL0706", visitor.language), body);
}

void ShowLogin(const http::Request& request, http::Response& response) {
    const std::string next = request.Query("next");
    if (SessionVisitor(request)) return Redirect(response, LocalTarget(next));
    LoginPage(request, response, next, {}, {});
}

void PostLogin(const http::Request& request, http::Response& response) {
    const int32_t language = AnonymousVisitor(request).language;
    const std::string next = request.Form("next");
    const std::string login = request.Form("login");
    if (!CsrfMatches(request, CookieValue(request, kLoginFormCookie))) {
        response.status = 403;
        return LoginPage(request, response, next, login, LabelOrCode("KXL0711", language));
    }
    const LoginOutcome outcome = LogIn(login, request.Form("password"));
    switch (outcome.kind) {
        case LoginOutcome::Kind::Accepted: {
            const SessionLimits limits = SessionLimits::OfSite();
            response.headers.emplace("Set-Cookie", CookieHeader(kSessionCookie, outcome.sessionId, "/",
                                                                limits.lifeSeconds, request.secure));
            response.headers.emplace("Set-Cookie", CookieHeader(kLoginFormCookie, "", "/login", 0, request.secure));
            return Redirect(response, LocalTarget(next));
        }
        case LoginOutcome::Kind::Locked: {
            Dictionary minutes;
            minutes.Add("[%MINUTES%]", std::to_string(SessionLimits::OfSite().lockSeconds / 60));
            return LoginPage(request, response, next, login, LabelOrCode("KXL0710", language, minutes));
        }
        case LoginOutcome::Kind::Refused:
            break;
    }
    LoginPage(request, response, next, login, LabelOrCode("KXL0709", language));
}

}  // namespace

std::vector<http::Route> LoginRoutes() {
    return {{"GET", "/login", ShowLogin}, {"POST", "/login", PostLogin}};
}

}  // namespace kestrix::web
