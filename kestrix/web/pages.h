#pragma once
// The pages of the service: what a page handler is given and the frame that serves it.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/foundation/enums.h"
#include "platform/http/server.h"

namespace kestrix::web {

/// The logged-in user a page is rendered for.
struct Visitor {
    std::string user;          ///< login
    int32_t language = 1033;   ///< the language of his labels
    std::string csrfToken;     ///< every form of his pages carries it as the hidden field "csrf"
};

/// A box of the pages. Its sender mode is the one its links carry, numbered as the
/// notification mails number it (a recipient's mail links his inbox, a sender's his outbox),
/// and the one the list and detail queries take.
struct Box {
    SENDERMODE mode;
    const char* path;       ///< "/inbox"
    const char* titleCode;  ///< the label of its name
};

inline constexpr Box kInbox{SENDERMODE::RECEIVERMODE, "/inbox", "KXL0701"};
inline constexpr Box kOutbox{SENDERMODE::SENDERMODE, "/outbox", "KXL0702"};
inline constexpr Box kErrors{SENDERMODE::ERRORMODE, "/errors", "KXL0703"};

/// The box of a sender mode; nothing for a number that names none.
const Box* BoxOfMode(int32_t senderMode);

/// Placeholders of a label and their values.
using LabelValues = std::initializer_list<std::pair<std::string, std::string>>;
/// The text of a label in a language, its placeholders filled (the code itself when the label
/// cannot be read).
std::string LabelText(int32_t language, std::string_view code, LabelValues values = {});
/// The same in the visitor's language, escaped for HTML.
std::string HtmlLabel(const Visitor& visitor, std::string_view code, LabelValues values = {});

/// A whole number in 1 ... 2^31-1 (a document number, a page), or nothing.
std::optional<int32_t> PositiveNumber(std::string_view text);

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
