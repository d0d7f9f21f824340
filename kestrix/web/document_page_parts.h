#pragma once
// What the document pages, their actions and the publishing pages share: the document a
// request names, labels, the answers "not found", "done" and "refused".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/web/document_access.h"
#include "kestrix/web/pages.h"
#include "platform/base/dictionary.h"

namespace kestrix::web::document_pages {

/// The document a request names: DocID, DocTypeID and SenderMode, from the posted form or,
/// for a GET, the query.
struct DocumentRef {
    int32_t id = 0;  ///< 0 when DocID is missing or no whole number
    std::string type;
    int32_t senderMode = -1;  ///< -1 when missing; else a SENDERMODE (1 inbox, 0 outbox, 2 error box)
};
DocumentRef ReadRef(const http::Request& request);

/// A field of the posted form, or of the query for a GET.
std::string Field(const http::Request& request, const std::string& name);


/// The label's text in the visitor's language, escaped for HTML.
std::string Label(const Visitor& visitor, std::string_view code,
                  const Dictionary& replacements = {});
/// The label's text, not escaped (for RenderPage's notice, which escapes it).
std::string LabelText(const Visitor& visitor, std::string_view code,
                      const Dictionary& replacements = {});

/// "/document?DocID=..&DocTypeID=..&SenderMode=..", with "&notice=CODE" when a notice is given.
std::string DocumentPath(int32_t id, const std::string& type, int32_t senderMode,
                         std::string_view notice = {});
/// The path of the box of a sender mode (BoxOfMode); the inbox's for an unknown one.
std::string BoxPath(int32_t senderMode);

/// The visitor's box a document of his is shown in: the requested one when he has his place
/// in it (a recipient's inbox, a sender's outbox, anybody's error box), else his own.
int32_t BoxOf(const DocumentDetails& document, int32_t requested);

/// The codes of the notices a page shows after an action (the query parameter "notice");
/// any other text is ignored.
bool IsNotice(std::string_view code);

/// Answers the page of a document that does not exist or is not the visitor's: 404, the same
/// for both.
void AnswerNotFound(const Visitor& visitor, http::Response& response);

/// Answers the page of a document the visitor may see, with a notice (plain text) or an
/// error (plain text) above it.
void AnswerDocumentPage(const Visitor& visitor, const DocumentDetails& document,
                        int32_t requestedBox, std::string_view notice, std::string_view error,
                        int status, http::Response& response);

/// Answers a whole page.
void AnswerPage(const Visitor& visitor, http::Response& response, std::string_view title,
                std::string_view bodyHtml, std::string_view notice = {}, int status = 200);

/// `<p class="error">` with the text (escaped here).
std::string ErrorParagraph(std::string_view text);

/// The users a document of the type may be forwarded to: those on the distribution list of
/// the type or of a type it may be changed into, but `visitor`.
std::vector<std::string> ForwardRecipients(const std::string& type, const std::string& visitor);
/// The types a document of the type may be changed into when it is forwarded.
std::vector<std::string> ForwardTypes(const std::string& type);

/// The actions on documents (POST /document/..., /errors/...).
std::vector<Page> ActionPages();
/// Publishing by upload and from a template (/upload, /create).
std::vector<Page> PublishingPages();

/// A hidden input.
std::string Hidden(std::string_view name, std::string_view value);

}  // namespace kestrix::web::document_pages
