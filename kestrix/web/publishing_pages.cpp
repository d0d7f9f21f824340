// Publishing from the pages: an uploaded XML document or workbook, or a document made from a
// template of a type the visitor may send. Either is published in the visitor's name only: a
// document that names another sender is refused before anything is stored.
#include <filesystem>
#include <fstream>

#include "kestrix/documents/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/intake/publish_by_upload.h"
#include "kestrix/intake/publish_create_document.h"
#include "kestrix/rules/routing.h"
#include "kestrix/rules/templates.h"
#include "kestrix/web/document_page_parts.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/file_paths.h"
#include "platform/xml/xml.h"

namespace kestrix::web {

using namespace document_pages;

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "Kestrix.PublishingPages";

/// The label text of a failure being handled: its first line in the label `code`.
std::string FailureMessage(const Visitor& visitor, std::string_view code) {
    const Error failure = CurrentError();
    LogError(kSource);
    Dictionary replacements;
    replacements.Add("[%MESSAGE%]", ShortReason(failure.description()));
    return LabelText(visitor, code, replacements);
}

/// Publishes the XML text in the visitor's name, at once (delivered and notified as every
/// document is). Answers the new document, or sets `error`.
int32_t Publish(const Visitor& visitor, const std::string& xml, std::string& error) {
    if (xml.size() > MaxDocumentSize()) {
        Dictionary size;
        size.Add("[%SIZE%]", std::to_string(MaxDocumentSize()));
        error = LabelText(visitor, "KXL0862", size);
        return 0;
    }
    try {
        int32_t partner = 0;
        std::string sender;
        routing::GetSenderBPAndName(xml, partner, sender);
        if (!IEquals(Trim(sender), visitor.user)) {
            Dictionary who;
            who.Add("[%SENDER%]", sender);
            error = LabelText(visitor, "KXL0865", who);
            return 0;
        }
        PublishCreateDocument publisher;
        publisher.mPublisherLanguageID = visitor.language;
        return publisher.PublishXmlDocument(xml, Variant{}, true);
    } catch (...) {
        error = FailureMessage(visitor, "KXL0864");
        return 0;
    }
}

/// After a document was published: its page, with the notice.
void ShowPublished(http::Response& response, int32_t id) {
    DocumentStore store;
    int32_t doc = id;
    std::string type;
    try {
        type = store.GetDocumentTypeOfDocument(doc);
    } catch (...) {
        LogError(kSource);
    }
    Redirect(response, DocumentPath(id, type, 1, "KXL0850"));
}

// ---- upload ----------------------------------------------------------------------------------

/// The file name without any folder part the browser sent along.
std::string BaseName(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

/// A name safe for the upload folder, keeping the extension in small letters (the reading of
/// the upload knows "xml" and "xls..." so written).
std::string StoredName(const std::string& base, const std::string& extension) {
    std::string stem = base.substr(0, base.size() - extension.size() - 1);
    for (char& c : stem)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    return (stem.empty() ? "upload" : stem) + "." + extension;
}

/// The temporary document an upload waits under, removed with its upload folder whatever
/// becomes of the upload.
class UploadSlot {
  public:
    UploadSlot()
        : root_(FileHandling().GetFolderName(EFolderType::UploadFolder)),
          id_(DocumentStore().StoreOriginalDocument({})) {}
    ~UploadSlot() {
        try {
            PublishByUpload().DeleteXMLFileAndDocument(root_, id_);
        } catch (...) {
            LogError("Kestrix.PublishingPages.UploadSlot");
        }
    }
    UploadSlot(const UploadSlot&) = delete;
    UploadSlot& operator=(const UploadSlot&) = delete;

    /// Writes the file into the upload folder.
    void Write(const std::string& name, const std::string& content) {
        const fs::path folder = services::JoinPath(LocalFilePath(root_), std::to_string(id_));
        fs::create_directories(folder);
        std::ofstream out(folder / name, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out)
            throw Error(errnum::E_FAIL, kSource,
                        "The upload could not be written to " + folder.string());
    }
    /// The upload as XML text: the XML file, or the workbook converted.
    std::string Read(bool workbook) {
        return workbook ? PublishByUpload().ReadExcelFile(root_, id_)
                        : PublishByUpload().ReadXMLFile(root_, id_);
    }

  private:
    std::string root_;
    int32_t id_;
};

std::string UploadForm(const Visitor& visitor) {
    return "<form id=\"upload\" method=\"post\" action=\"/upload\" "
           "enctype=\"multipart/form-data\">" +
           CsrfField(visitor) + "<label>" + Label(visitor, "KXL0859") +
           " <input type=\"file\" name=\"document\" accept=\".xml,.xls,.xlsx,.xlsm\" "
           "required></label> "
           "<button type=\"submit\">" +
           Label(visitor, "KXL0860") + "</button></form>";
}

void AnswerUpload(const Visitor& visitor, http::Response& response, const std::string& error = {},
                  int status = 200) {
    AnswerPage(visitor, response, LabelText(visitor, "KXL0858"),
               (error.empty() ? std::string() : ErrorParagraph(error)) + UploadForm(visitor), {},
               status);
}

void ShowUpload(const Visitor& visitor, const http::Request&, http::Response& response) {
    AnswerUpload(visitor, response);
}

void PostUpload(const Visitor& visitor, const http::Request& request, http::Response& response) {
    const http::Request::File* file = nullptr;
    for (const http::Request::File& part : request.files)
        if (part.field == "document" && !file) file = &part;
    if (!file || file->content.empty())
        return AnswerUpload(visitor, response, LabelText(visitor, "KXL0861"), 422);
    if (file->content.size() > MaxDocumentSize()) {
        Dictionary size;
        size.Add("[%SIZE%]", std::to_string(MaxDocumentSize()));
        return AnswerUpload(visitor, response, LabelText(visitor, "KXL0862", size), 413);
    }
    const std::string base = BaseName(file->fileName);
    const size_t dot = base.find_last_of('.');
    const std::string extension =
        dot == std::string::npos ? std::string() : ToLower(base.substr(dot + 1));
    const bool workbook = extension == "xls" || extension == "xlsx" || extension == "xlsm";
    if (extension != "xml" && !workbook)
        return AnswerUpload(visitor, response, LabelText(visitor, "KXL0863"), 422);

    std::string xml;
    try {
        UploadSlot slot;
        slot.Write(StoredName(base, extension), file->content);
        xml = slot.Read(workbook);
    } catch (...) {
        return AnswerUpload(visitor, response, FailureMessage(visitor, "KXL0864"), 422);
    }
    std::string error;
    const int32_t id = Publish(visitor, xml, error);
    if (id <= 0) return AnswerUpload(visitor, response, error, 422);
    ShowPublished(response, id);
}

// ---- create from a template ------------------------------------------------------------------

/// The document types the visitor may send that have a template: type -> description.
std::vector<std::pair<std::string, std::string>> OwnTemplates(const std::string& user) {
    std::vector<std::pair<std::string, std::string>> templates;
    db::Connection connection = GetConnection();
    for (db::Recordset rs = connection.Query(
             "SELECT DISTINCT XMLTEMPLATE.DOCUMENTTYPEID, DOCUMENTTYPE.DESCRIPTION FROM "
             "XMLTEMPLATE "
             "INNER JOIN SENDERLIST ON SENDERLIST.DOCUMENTTYPEID = XMLTEMPLATE.DOCUMENTTYPEID "
             "LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
             "XMLTEMPLATE.DOCUMENTTYPEID "
             "WHERE SENDERLIST.USERID = ? ORDER BY XMLTEMPLATE.DOCUMENTTYPEID",
             {Variant(user)});
         !rs.Eof(); rs.MoveNext()) {
        const std::string type = Trim(rs.GetString("DOCUMENTTYPEID"));
        const std::string description =
            rs.IsNull("DESCRIPTION") ? std::string() : Trim(rs.GetString("DESCRIPTION"));
        templates.emplace_back(type, description.empty() ? type : description);
    }
    return templates;
}

void AnswerCreate(const Visitor& visitor, http::Response& response, const std::string& error = {},
                  int status = 200) {
    std::string body = error.empty() ? std::string() : ErrorParagraph(error);
    const auto templates = OwnTemplates(visitor.user);
    if (templates.empty()) {
        body += "<p>" + Label(visitor, "KXL0870") + "</p>";
    } else {
        body += "<form id=\"create\" method=\"post\" action=\"/create\">" + CsrfField(visitor) +
                "<label>" + Label(visitor, "KXL0867") + " <select name=\"template\">";
        for (const auto& [type, description] : templates)
            body += "<option value=\"" + EscapeHtml(type) + "\">" + EscapeHtml(description) +
                    "</option>";
        body += "</select></label> <button type=\"submit\">" + Label(visitor, "KXL0868") +
                "</button></form>";
    }
    AnswerPage(visitor, response, LabelText(visitor, "KXL0866"), body, {}, status);
}

/// The form in which the visitor completes the document before it is published.
void AnswerEditor(const Visitor& visitor, http::Response& response, const std::string& type,
                  const std::string& xml, const std::string& error = {}, int status = 200) {
    std::string body = error.empty() ? std::string() : ErrorParagraph(error);
    body += "<form id=\"create-document\" method=\"post\" action=\"/create\">" +
            CsrfField(visitor) + Hidden("template", type) +
            "<textarea name=\"xml\" rows=\"24\" cols=\"100\" spellcheck=\"false\">" +
            EscapeHtml(xml) + "</textarea><p><button type=\"submit\">" + Label(visitor, "KXL0869") +
            "</button></p></form>";
    AnswerPage(visitor, response, LabelText(visitor, "KXL0866") + " - " + type, body, {}, status);
}

/// The template's text with the visitor as its sender when it leaves the sender blank.
std::string TemplateText(const std::string& type, const std::string& user) {
    Variant isAddress;
    std::string text = Template().GetXmlTemplateDocument(type, isAddress);
    xml::XmlDocument document =
        isAddress.ToLong() == 1 ? xml::XmlDocument::FromSource(text) : xml::XmlDocument();
    if (isAddress.ToLong() != 1 && !document.LoadXml(text)) return text;
    for (xml::XmlNode& sender : document.SelectNodes("//SENDER").nodes)
        if (Trim(sender.Text()).empty()) sender.SetText(user);
    return document.Xml();
}

void ShowCreate(const Visitor& visitor, const http::Request&, http::Response& response) {
    AnswerCreate(visitor, response);
}

void PostCreate(const Visitor& visitor, const http::Request& request, http::Response& response) {
    const std::string type = request.Form("template");
    bool own = false;
    for (const auto& [known, description] : OwnTemplates(visitor.user)) own = own || known == type;
    if (!own) return AnswerCreate(visitor, response, LabelText(visitor, "KXL0871"), 422);

    const std::string xml = request.Form("xml");
    if (Trim(xml).empty()) {
        std::string text;
        try {
            text = TemplateText(type, visitor.user);
        } catch (...) {
            return AnswerCreate(visitor, response, FailureMessage(visitor, "KXL0872"), 422);
        }
        return AnswerEditor(visitor, response, type, text);
    }
    std::string error;
    const int32_t id = Publish(visitor, xml, error);
    if (id <= 0) return AnswerEditor(visitor, response, type, xml, error, 422);
    ShowPublished(response, id);
}

}  // namespace

std::vector<Page> document_pages::PublishingPages() {
    return {{"GET", "/upload", ShowUpload},
            {"POST", "/upload", PostUpload},
            {"GET", "/create", ShowCreate},
            {"POST", "/create", PostCreate}};
}

}  // namespace kestrix::web
