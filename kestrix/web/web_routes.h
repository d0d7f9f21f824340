#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrix/web/pages.h"
#include "platform/http/server.h"

namespace kestrix::web {

/// The routes of the pages: GET and POST /login, POST /logout, GET / (to the inbox), GET
/// /static/kestrix.css, and every page of `pages` behind the session: a GET without a live
/// session is sent to /login?next=<its path and query>, a POST without one, or without the
/// session's CSRF token in its form field "csrf", is refused with 403.
std::vector<http::Route> WebRoutes(std::vector<Page> pages);

/// `next` when it is a path of this site ("/..." but not "//..." nor "/\...", no control
/// characters), else "/inbox".
std::string LocalTarget(const std::string& next);

/// A link to `path` of this site with the parameters that have a value, each escaped for an
/// address (escape the link again with `EscapeHtml` to put it into an attribute).
std::string LocalLink(std::string_view path, const std::vector<std::pair<std::string, std::string>>& parameters);

/// The request's path and query, as a link back to the same page.
std::string PathAndQuery(const http::Request& request);

/// The visitor before a log-in: no user, the language the browser asks for first (German
/// or English).
Visitor AnonymousVisitor(const http::Request& request);

/// The log-in pages and log-out (login_pages.cpp).
std::vector<http::Route> LoginRoutes();

/// The style sheet of the pages (style_sheet.cpp).
extern const char* const kStyleSheet;

}  // namespace kestrix::web
