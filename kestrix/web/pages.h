#pragma once
// The pages of the service: what a page handler is given and the frame that serves it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/server.h"

namespace kestrix::web {

/// The logged-in user a page is rendered for.
struct Visitor {
    std::string user;          ///< login
    int32_t language = 1033;   ///< the language of his labels
    std::string csrfToken;     ///< every form of his pages carries it as the hidden field "csrf"
};

/// Text made safe for HTML element content and attribute values (& < > " ').
std::string EscapeHtml(std::string_view text);

/// A page of a logged-in user. The frame has checked the session and, for a POST, the CSRF
/// token before the handler runs.
using PageHandler = std::function<void(const Visitor&, const http::Request&, http::Response&)>;

struct Page {
    std::string method;  ///< "GET" or "POST"
    std::string path;
    PageHandler handler;
};

/// The HTML of a whole page around `bodyHtml` (already escaped where it holds user text):
/// the navigation (inbox, outbox, error box, upload, log-out) and the title, in the visitor's
/// language; a visitor without a user (the log-in page) gets no navigation. `notice` is a
/// message shown above the body (plain text; escaped here).
std::string RenderPage(const Visitor& visitor, std::string_view title, std::string_view bodyHtml,
                       std::string_view notice = {});

/// A hidden input carrying the visitor's CSRF token, for every form that posts.
std::string CsrfField(const Visitor& visitor);

/// Answers with a 303 to `location` (a path of this site).
void Redirect(http::Response& response, const std::string& location);

}  // namespace kestrix::web
