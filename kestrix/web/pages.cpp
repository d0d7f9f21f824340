#include "kestrix/web/pages.h"

#include "kestrix/foundation/i18n.h"
#include "platform/base/strings.h"

namespace kestrix::web {

const Box* BoxOfMode(int32_t senderMode) {
    for (const Box* box : {&kInbox, &kOutbox, &kErrors})
        if (ToInt(box->mode) == senderMode) return box;
    return nullptr;
}

std::optional<int32_t> PositiveNumber(std::string_view text) {
    const std::optional<int32_t> value = WholeNumber(text);
    if (!value || *value <= 0) return std::nullopt;
    return value;
}

std::string LabelText(int32_t language, std::string_view code, LabelValues values) {
    Dictionary replacements;
    for (const auto& [key, value] : values) replacements.Add(key, Variant(value));
    return LabelOrCode(code, language, replacements);
}

std::string HtmlLabel(const Visitor& visitor, std::string_view code, LabelValues values) {
    return EscapeHtml(LabelText(visitor.language, code, values));
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string CsrfField(const Visitor& visitor) {
    return "<input type=\"hidden\" name=\"csrf\" value=\"" + EscapeHtml(visitor.csrfToken) + "\">";
}

void Redirect(http::Response& response, const std::string& location) {
    response.status = 303;
    response.headers.emplace("Location", location);
    response.body.clear();
}

std::string RenderPage(const Visitor& visitor, std::string_view title, std::string_view bodyHtml,
                       std::string_view notice) {
    const auto label = [&](std::string_view code) { return HtmlLabel(visitor, code); };
    std::string page;
    page.reserve(bodyHtml.size() + 2048);
    page += "<!DOCTYPE html>\n<html lang=\"";
    page += visitor.language == 1031 ? "de" : "en";
    page += "\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width\">"
            "<title>";
    page += EscapeHtml(title);
    page += " - Kestrix</title><link rel=\"stylesheet\" href=\"/static/kestrix.css\"></head><body>";
    // Before the log-in there is nowhere to go.
    if (!visitor.user.empty()) {
        page += "<nav>";
        for (const Box* box : {&kInbox, &kOutbox, &kErrors}) {
            page += "<a href=\"" + std::string(box->path) + "\">";
            page += label(box->titleCode);
            page += "</a> ";
        }
        page += "<a href=\"/upload\">";
        page += label("KXL0704");
        page += "</a> <a href=\"/create\">";
        page += label("KXL0866");
        page += "</a> <span class=\"user\">";
        page += EscapeHtml(visitor.user);
        page += "</span> <form method=\"post\" action=\"/logout\" class=\"inline\">";
        page += CsrfField(visitor);
        page += "<button type=\"submit\">";
        page += label("KXL0705");
        page += "</button></form></nav>";
    }
    page += "<main><h1>";
    page += EscapeHtml(title);
    page += "</h1>";
    if (!notice.empty()) {
        page += "<p class=\"notice\" role=\"status\">";
        page += EscapeHtml(notice);
        page += "</p>";
    }
    page += bodyHtml;
    page += "</main></body></html>\n";
    return page;
}

}  // namespace kestrix::web
