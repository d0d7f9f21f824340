// What the document pages, their actions and the publishing pages share.
#include "kestrix/web/document_page_parts.h"


#include "kestrix/documents/links.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"

namespace kestrix::web::document_pages {

namespace {

/// The notices an action leaves for the page it returns to.
constexpr std::string_view kNotices[] = {"KXL0843", "KXL0844", "KXL0845", "KXL0846",
                                         "KXL0847", "KXL0848", "KXL0849", "KXL0850"};

}  // namespace

std::string Field(const http::Request& request, const std::string& name) {
    return request.method == "GET" ? request.Query(name) : request.Form(name);
}


DocumentRef ReadRef(const http::Request& request) {
    DocumentRef ref;
    ref.id = PositiveNumber(Field(request, "DocID")).value_or(0);
    ref.type = Field(request, "DocTypeID");
    const std::string mode = Field(request, "SenderMode");
    if (mode == "0" || mode == "1" || mode == "2") ref.senderMode = mode[0] - '0';
    return ref;
}

std::string LabelText(const Visitor& visitor, std::string_view code,
                      const Dictionary& replacements) {
    return LabelOrCode(code, visitor.language, replacements);
}

std::string Label(const Visitor& visitor, std::string_view code, const Dictionary& replacements) {
    return EscapeHtml(LabelText(visitor, code, replacements));
}

std::string DocumentPath(int32_t id, const std::string& type, int32_t senderMode,
                         std::string_view notice) {
    std::string path =
        "/document?DocID=" + std::to_string(id) + "&DocTypeID=" + links::URLEncode(type);
    if (senderMode >= 0) path += "&SenderMode=" + std::to_string(senderMode);
    if (!notice.empty()) path += "&notice=" + std::string(notice);
    return path;
}

std::string BoxPath(int32_t senderMode) {
    const Box* box = BoxOfMode(senderMode);
    return box ? box->path : kInbox.path;
}

int32_t BoxOf(const DocumentDetails& document, int32_t requested) {
    constexpr int32_t kInbox = ToInt(SENDERMODE::RECEIVERMODE);
    constexpr int32_t kOutbox = ToInt(SENDERMODE::SENDERMODE);
    const bool recipient = document.publicationStatus >= 0;
    if (requested == ToInt(SENDERMODE::ERRORMODE) || (requested == kInbox && recipient) ||
        (requested == kOutbox && document.isSender))
        return requested;
    return recipient ? kInbox : kOutbox;
}

bool IsNotice(std::string_view code) {
    for (const std::string_view notice : kNotices)
        if (notice == code) return true;
    return false;
}

void AnswerPage(const Visitor& visitor, http::Response& response, std::string_view title,
                std::string_view bodyHtml, std::string_view notice, int status) {
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = RenderPage(visitor, title, bodyHtml, notice);
}

void AnswerNotFound(const Visitor& visitor, http::Response& response) {
    AnswerPage(visitor, response, LabelText(visitor, "KXL0876"),
               ErrorParagraph(LabelText(visitor, "KXL0802")), {}, 404);
}

std::string ErrorParagraph(std::string_view text) {
    return "<p class=\"error\" role=\"alert\">" + EscapeHtml(text) + "</p>";
}

std::string Hidden(std::string_view name, std::string_view value) {
    return "<input type=\"hidden\" name=\"" + EscapeHtml(name) + "\" value=\"" + EscapeHtml(value) +
           "\">";
}

}  // namespace kestrix::web::document_pages
