// The page of one document: its routing, publications, errors, deliveries, attachments,
// rendering and XML; its attachments and its rendering on their own.
#include "kestrix/web/document_pages.h"

#include <fstream>
#include <sstream>

#include "kestrix/delivery/html_rendering.h"
#include "kestrix/documents/attachments.h"
#include "kestrix/documents/document.h"
#include "kestrix/documents/links.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/rules/routing.h"
#include "kestrix/web/collaboration.h"
#include "kestrix/web/document_access.h"
#include "kestrix/web/document_page_parts.h"
#include "platform/base/strings.h"
#include "platform/services/file_paths.h"

namespace kestrix::web {

using namespace document_pages;

namespace {

constexpr const char* kSource = "Kestrix.DocumentPages";

/// The label of a document status (-1 ... 5).
std::string DocumentStatusLabel(const Visitor& visitor, int32_t status) {
    if (status < -1 || status > 5) return std::to_string(status);
    return Label(visitor, "KXL08" + std::to_string(81 + status));
}

/// The label of a publication status (-1 ... 9).
std::string PublicationStatusLabel(const Visitor& visitor, int32_t status) {
    if (status < -1 || status > 9) return std::to_string(status);
    const int code = 890 + status;  // 889 ... 899
    return Label(visitor, "KXL0" + std::to_string(code));
}

std::string YesNo(const Visitor& visitor, bool yes) {
    return Label(visitor, yes ? "KXL0840" : "KXL0841");
}

/// The link query of a document's own resources (rendering, attachments).
std::string ResourceQuery(const DocumentDetails& d) {
    return "DocID=" + std::to_string(d.id) + "&DocTypeID=" + links::URLEncode(d.type);
}

/// The start of a table up to its body, its column heads the labels (an empty head for "").
std::string TableStart(const Visitor& visitor, std::string_view cssClass,
                       std::initializer_list<std::string_view> heads) {
    std::string html = "<table class=\"" + std::string(cssClass) + "\"><thead><tr>";
    for (const std::string_view code : heads)
        html += "<th>" + (code.empty() ? std::string() : Label(visitor, code)) + "</th>";
    return html + "</tr></thead><tbody>";
}

/// A form posting one action on the document, with its identifying fields.
std::string ActionForm(const Visitor& visitor, std::string_view action, const DocumentDetails& d,
                       int32_t box, std::string_view buttonCode, std::string_view fields = {}) {
    std::string html =
        "<form method=\"post\" action=\"" + std::string(action) + "\" class=\"action\">";
    html += CsrfField(visitor);
    html += Hidden("DocID", std::to_string(d.id));
    html += Hidden("DocTypeID", d.type);
    html += Hidden("SenderMode", std::to_string(box));
    html += fields;
    html += "<button type=\"submit\">" + Label(visitor, buttonCode) + "</button></form>";
    return html;
}

std::string RoutingSection(const Visitor& visitor, const DocumentDetails& d) {
    std::string html = "<section id=\"routing\"><h2>" + Label(visitor, "KXL0803") + "</h2><dl>";
    const auto item = [&](std::string_view code, const std::string& valueHtml) {
        html += "<dt>" + Label(visitor, code) + "</dt><dd>" + valueHtml + "</dd>";
    };
    item("KXL0804", EscapeHtml(d.sender));
    item("KXL0805",
         EscapeHtml(d.typeDescription.empty() ? d.type : d.typeDescription + " (" + d.type + ")"));
    item("KXL0806", DocumentStatusLabel(visitor, d.status));
    item("KXL0807", EscapeHtml(d.creationDate));
    item("KXL0808", EscapeHtml(d.entranceDate));
    std::string recipients;
    for (const DocumentRecipient& r : d.recipients)
        recipients += (recipients.empty() ? "" : ", ") + EscapeHtml(r.user);
    item("KXL0809", recipients.empty() ? Label(visitor, "KXL0842") : recipients);
    if (d.publicationStatus >= 0)
        item("KXL0810", PublicationStatusLabel(visitor, d.publicationStatus));
    if (d.parentId > 0)
        item("KXL0811", "<a class=\"parent\" href=\"" +
                            EscapeHtml(DocumentPath(d.parentId, {}, -1)) + "\">" +
                            std::to_string(d.parentId) + "</a>");
    if (d.children > 0)
        item("KXL0812", "<a class=\"children\" href=\"/children?" + EscapeHtml(ResourceQuery(d)) +
                            "\">" + std::to_string(d.children) + "</a>");
    html += "</dl></section>";
    return html;
}

std::string PublicationsSection(const Visitor& visitor, const DocumentDetails& d) {
    std::string html = "<section id=\"publications\"><h2>" + Label(visitor, "KXL0813") + "</h2>";
    if (d.recipients.empty()) return html + "<p>" + Label(visitor, "KXL0842") + "</p></section>";
    html += TableStart(visitor, "publications", {"KXL0814", "KXL0806", "KXL0815"});
    for (const DocumentRecipient& r : d.recipients)
        html += "<tr><td>" + EscapeHtml(r.user) + "</td><td>" +
                PublicationStatusLabel(visitor, r.status) + "</td><td>" +
                YesNo(visitor, r.forwarded) + "</td></tr>";
    return html + "</tbody></table></section>";
}

std::string ErrorsSection(const Visitor& visitor, const DocumentDetails& d,
                          const std::vector<DocumentError>& errors,
                          const std::vector<DeliveryRecord>& history) {
    std::string html = "<section id=\"errors\"><h2>" + Label(visitor, "KXL0816") + "</h2>";
    if (errors.empty()) return html + "<p>" + Label(visitor, "KXL0842") + "</p></section>";
    html += TableStart(visitor, "errors", {"KXL0821", "KXL0817", "KXL0818", "KXL0819", ""});
    for (const DocumentError& e : errors) {
        html += "<tr data-error=\"" + std::to_string(e.id) + "\"><td>" +
                EscapeHtml(e.creationDate) + "</td><td>" + std::to_string(e.number) + "</td><td>" +
                EscapeHtml(e.message) + "</td><td>" + YesNo(visitor, e.closed) + "</td><td>";
        if (!e.closed && d.isSender) {
            const std::string errorField = Hidden("PublicationErrorID", std::to_string(e.id));
            html += ActionForm(visitor, "/errors/close", d, 2, "KXL0833", errorField);
            bool delivery = false;
            for (const DeliveryRecord& h : history) delivery = delivery || h.errorId == e.id;
            if (delivery)
                html += ActionForm(visitor, "/errors/repush", d, 2, "KXL0835", errorField);
        }
        html += "</td></tr>";
    }
    html += "</tbody></table>";
    if (d.isSender) html += ActionForm(visitor, "/errors/delete", d, 2, "KXL0834");
    return html + "</section>";
}

std::string HistorySection(const Visitor& visitor, const DocumentDetails& d,
                           const std::vector<DeliveryRecord>& history) {
    std::string html = "<section id=\"history\"><h2>" + Label(visitor, "KXL0820") + "</h2>";
    const std::vector<std::string> log = DocumentLogEntries(d);
    if (!log.empty()) {
        html += "<ul class=\"log\">";
        for (const std::string& entry : log)
            html += "<li><code>" + EscapeHtml(entry) + "</code></li>";
        html += "</ul>";
    }
    if (history.empty()) return html + "<p>" + Label(visitor, "KXL0875") + "</p></section>";
    html += TableStart(visitor, "history", {"KXL0821", "KXL0822", "KXL0823", "KXL0806"});
    for (const DeliveryRecord& h : history) {
        std::string partner;
        try {
            partner = routing::GetBusinessPartnerName(h.partner);
        } catch (...) {
            LogError(std::string(kSource) + ".HistorySection");
        }
        if (Trim(partner).empty()) partner = std::to_string(h.partner);
        html += "<tr><td>" + EscapeHtml(h.sendDate) + "</td><td>" + EscapeHtml(partner) +
                "</td><td>" + std::to_string(h.sendMethod) + "</td><td>" +
                Label(visitor, h.errorId == 0 ? "KXL0824" : "KXL0825") + "</td></tr>";
    }
    return html + "</tbody></table></section>";
}

std::string AttachmentsSection(const Visitor& visitor, const DocumentDetails& d) {
    std::string html = "<section id=\"attachments\"><h2>" + Label(visitor, "KXL0826") + "</h2>";
    if (d.attachments.empty()) return html + "<p>" + Label(visitor, "KXL0874") + "</p></section>";
    html += "<ul>";
    for (const std::string& name : d.attachments)
        html += "<li><a class=\"attachment\" href=\"" +
                EscapeHtml("/document/attachment?" + ResourceQuery(d) +
                           "&name=" + links::URLEncode(name)) +
                "\">" + EscapeHtml(name) + "</a></li>";
    return html + "</ul></section>";
}

std::string RenderingSection(const Visitor& visitor, const DocumentDetails& d) {
    std::string html = "<section id=\"rendering\"><h2>" + Label(visitor, "KXL0827") + "</h2>";
    bool renders = false;
    try {
        renders = html_rendering::CanAttachHTMLFile(d.type);
    } catch (...) {
        LogError(std::string(kSource) + ".RenderingSection");
    }
    if (!renders) return html + "<p>" + Label(visitor, "KXL0828") + "</p></section>";
    return html + "<iframe sandbox=\"\" class=\"rendering\" src=\"" +
           EscapeHtml("/document/html?" + ResourceQuery(d)) + "\"></iframe></section>";
}

std::string XmlSection(const Visitor& visitor, const DocumentDetails& d) {
    DocumentStore store;
    int32_t id = d.id;
    std::string xml;
    try {
        xml = store.GetXmlDocument(id);
    } catch (...) {
        LogError(std::string(kSource) + ".XmlSection");
    }
    if (xml.empty()) {
        try {
            xml = store.GetOriginalXmlDocument(id);
        } catch (...) {
            LogError(std::string(kSource) + ".XmlSection");
        }
    }
    return "<section id=\"xml\"><h2>" + Label(visitor, "KXL0829") + "</h2><pre>" + EscapeHtml(xml) +
           "</pre></section>";
}

std::string ActionsSection(const Visitor& visitor, const DocumentDetails& d, int32_t box) {
    std::string html = "<section id=\"actions\">";
    if (d.publicationStatus >= 0) {
        html += ActionForm(visitor, "/document/accept", d, box, "KXL0830");
        html += ActionForm(visitor, "/document/reject", d, box, "KXL0831");
        std::string fields = "<label>" + Label(visitor, "KXL0837") + " <select name=\"user\">";
        for (const std::string& user : ForwardRecipients(d.type, visitor.user))
            fields +=
                "<option value=\"" + EscapeHtml(user) + "\">" + EscapeHtml(user) + "</option>";
        fields += "</select></label>";
        const std::vector<std::string> types = ForwardTypes(d.type);
        if (!types.empty()) {
            fields += " <label>" + Label(visitor, "KXL0838") +
                      " <select name=\"as\"><option value=\"\">" + Label(visitor, "KXL0839") +
                      "</option>";
            for (const std::string& type : types)
                fields +=
                    "<option value=\"" + EscapeHtml(type) + "\">" + EscapeHtml(type) + "</option>";
            fields += "</select></label>";
        }
        html += ActionForm(visitor, "/document/forward", d, box, "KXL0836", fields);
    }
    html += ActionForm(visitor, "/document/delete", d, box, "KXL0832");
    return html + "</section>";
}

/// Records on the visitor's publication row that he read (viewed, downloaded) the document,
/// and takes his row's state as it is now (a stronger state stays). A failure is logged: the
/// reader still gets the document.
void NoteReading(const Visitor& visitor, DocumentDetails& d, PUBLICATIONSTATUS status) {
    if (d.publicationStatus < 0) return;
    try {
        Collaboration collaboration;
        collaboration.SetPublicationStatus(d.id, visitor.user, static_cast<int32_t>(status));
        d.publicationStatus =
            static_cast<int16_t>(collaboration.GetPublicationStatus(d.id, visitor.user));
        for (DocumentRecipient& r : d.recipients)
            if (r.user == visitor.user) r.status = d.publicationStatus;
    } catch (...) {
        LogError(std::string(kSource) + ".NoteReading");
    }
}

void ShowDocument(const Visitor& visitor, const http::Request& request, http::Response& response) {
    const DocumentRef ref = ReadRef(request);
    std::optional<DocumentDetails> found = FindDocument(visitor.user, ref.id, ref.type);
    if (!found) return AnswerNotFound(visitor, response);
    // Opening the page is reading the document: a new publication becomes viewed.
    NoteReading(visitor, *found, PUBLICATIONSTATUS::PUBLICATIONVIEWED);
    const std::string notice = request.Query("notice");
    AnswerDocumentPage(visitor, *found, ref.senderMode,
                       IsNotice(notice) ? LabelText(visitor, notice) : std::string(), {}, 200,
                       response);
}

/// A file name as an attachment row holds it: a plain name, no folder.
bool PlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

/// A name for the Content-Disposition header: the plain characters kept, the others "_".
std::string HeaderFileName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u >= 0x7f || c == '"' || c == '\\' || c == ';') ? '_' : c;
    }
    return out;
}

void DownloadAttachment(const Visitor& visitor, const http::Request& request,
                        http::Response& response) {
    const DocumentRef ref = ReadRef(request);
    const std::string name = request.Query("name");
    std::optional<DocumentDetails> d = FindDocument(visitor.user, ref.id, ref.type);
    if (!d || !PlainFileName(name)) return AnswerNotFound(visitor, response);
    // Only a name of the document's own list reaches the file system, and only as a name.
    bool listed = false;
    for (const std::string& attachment : d->attachments) listed = listed || attachment == name;
    if (!listed) return AnswerNotFound(visitor, response);

    Variant virtualPath, folder;
    if (Attachments().AttachmentsMode(virtualPath, folder).ToLong() !=
        static_cast<int32_t>(EAttachmentMode::Supported))
        return AnswerNotFound(visitor, response);
    const std::string path =
        services::JoinPath(services::JoinPath(folder.ToString(), std::to_string(d->id)), name);
    std::ifstream in(path, std::ios::binary);
    if (!in) return AnswerNotFound(visitor, response);
    std::ostringstream bytes;
    bytes << in.rdbuf();

    NoteReading(visitor, *d, PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED);
    response.status = 200;
    response.contentType = "application/octet-stream";
    response.body = bytes.str();
    response.headers.emplace("Content-Disposition",
                             "attachment; filename=\"" + HeaderFileName(name) +
                                 "\"; filename*=UTF-8''" + links::URLEncode(name));
    response.headers.emplace("X-Content-Type-Options", "nosniff");
}

void ShowRendering(const Visitor& visitor, const http::Request& request, http::Response& response) {
    const DocumentRef ref = ReadRef(request);
    const std::optional<DocumentDetails> d = FindDocument(visitor.user, ref.id, ref.type);
    if (!d) return AnswerNotFound(visitor, response);
    std::optional<std::string> html;
    try {
        html = html_rendering::RenderHtml(d->id);
    } catch (...) {
        LogError(std::string(kSource) + ".ShowRendering");
        throw;
    }
    if (!html) return AnswerNotFound(visitor, response);
    response.status = 200;
    response.contentType = "text/html; charset=utf-8";
    response.body = std::move(*html);
    // The rendering is the partner's content: it runs nowhere near the site's pages.
    response.headers.emplace("Content-Security-Policy", "sandbox");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
}

}  // namespace

void document_pages::AnswerDocumentPage(const Visitor& visitor, const DocumentDetails& d,
                                        int32_t requestedBox, std::string_view notice,
                                        std::string_view error, int status,
                                        http::Response& response) {
    const std::vector<DocumentError> errors = DocumentErrors(visitor.user, d, visitor.language);
    const std::vector<DeliveryRecord> history = DeliveryHistory(visitor.user, d);
    const int32_t box = BoxOf(d, requestedBox);
    const Box& shown = *BoxOfMode(box);  // BoxOf answers one of the boxes

    std::string body = "<p class=\"back\"><a href=\"" + std::string(shown.path) + "\">" +
                       Label(visitor, shown.titleCode) + "</a></p>";
    if (!error.empty()) body += ErrorParagraph(error);
    body += RoutingSection(visitor, d);
    body += ActionsSection(visitor, d, box);
    body += PublicationsSection(visitor, d);
    body += ErrorsSection(visitor, d, errors, history);
    body += HistorySection(visitor, d, history);
    body += AttachmentsSection(visitor, d);
    body += RenderingSection(visitor, d);
    body += XmlSection(visitor, d);
    AnswerPage(visitor, response, LabelText(visitor, "KXL0801") + " " + std::to_string(d.id), body,
               notice, status);
}

std::vector<Page> DocumentPages() {
    std::vector<Page> pages{{"GET", "/document", ShowDocument},
                            {"GET", "/document/attachment", DownloadAttachment},
                            {"GET", "/document/html", ShowRendering}};
    // The page the notification mails link to.
    std::string linked;
    try {
        linked = Trim(links::getKestrixPath());
    } catch (...) {
        LogError(std::string(kSource) + ".DocumentPages");
    }
    linked = ReplaceAll(linked, "\\", "/");
    while (!linked.empty() && linked.front() == '/') linked.erase(0, 1);
    if (!linked.empty() && !IEquals(linked, "document"))
        pages.push_back({"GET", "/" + linked, ShowDocument});
    for (Page& page : ActionPages()) pages.push_back(std::move(page));
    for (Page& page : PublishingPages()) pages.push_back(std::move(page));
    return pages;
}

}  // namespace kestrix::web
