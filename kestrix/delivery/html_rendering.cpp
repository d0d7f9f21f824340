// HTML rendering of documents: style sheets applied to XML texts, the rendering of a stored
// document into a file that a notification mail attaches, and the check whether a document
// type's style sheet can be used at all.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/foundation/style_sheets.h"
#include "kestrix/foundation/files.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/delivery/html_rendering.h"
#include "kestrix/foundation/xml.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"
#include "platform/services/file_paths.h"

namespace kestrix {

namespace {

/// Calls an operation of "QelFile.XML", created for this one call: the class that reads
/// style sheets on network shares.
Variant CallQelFileXml(std::string_view method, std::vector<Variant> args) {
    ObjectPtr xml = CreateComponent("QelFile.XML");
    return xml->Invoke(method, args);
}

/// True when the name of a style sheet is one the rendering uses: not blank and naming an
/// ".xsl" file (in any case).
bool NamesStyleSheet(const std::string& name) {
    return !Trim(name).empty() && IFind(name, ".xsl") != std::string::npos;
}

}  // namespace

std::optional<std::string> html_rendering::RenderHtml(int32_t docId, const std::string& xml) {
    std::string body;
    std::string styleSheet;
    {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            std::string("SELECT XMLBODY, HTMLATTACHMENTXSL FROM DOCUMENT AS DOC, ") +
                "DOCUMENTTYPE AS DOCTYPE WHERE " + "DOC.DOCUMENTID = ? AND " +
                "DOC.DOCUMENTTYPEID = DOCTYPE.DOCUMENTTYPEID",
            {Variant(docId)});
        if (rs.Eof()) return std::nullopt;
        body = rs.GetString("XMLBODY");
        styleSheet = rs.GetString("HTMLATTACHMENTXSL");
    }
    if (!xml.empty()) body = xml;
    if (!NamesStyleSheet(styleSheet)) return std::nullopt;
    return style_sheets::transformXMLStringToHTML(body, document_types::GetHTMLXSLPath() + Trim(styleSheet));
}

std::string html_rendering::getHTMLAttachmentByUsingXML(const std::string& iDocID, const Variant& iDocType,
                                                 const Variant& iXml) {
    (void)iDocType;  // the stored type of the document decides which style sheet renders it
    try {
        const std::string idText = Trim(iDocID);
        if (idText.empty()) return {};
        // The identifier travels as text; only a number reaches the statement.
        const int32_t id = Variant(idText).ToLong();
        const std::string xml = iXml.IsEmpty() || iXml.IsNull() ? std::string() : iXml.ToString();
        const std::optional<std::string> html = RenderHtml(id, xml);
        if (!html) return {};
        return files::WriteUtf8FileToDisk(*html, std::to_string(id) + ".html").ToString();
    } catch (...) {
        Reraise("Kestrix.Utility.getHTMLAttachmentByUsingXML");
    }
}

std::string html_rendering::getHTMLAttachment(int32_t iDocID) {
    try {
        return getHTMLAttachmentByUsingXML(std::to_string(iDocID));
    } catch (...) {
        Reraise("Kestrix.Utility.GetHTMLAttachment");
    }
}

void html_rendering::DeleteHTMLAttachment(const std::string& iHTMLFile) {
    try {
        files::DeleteXMLFileFromDisk(iHTMLFile);
    } catch (...) {
        // Reported under the name of the rendering it cleans up after.
        Reraise("Kestrix.Utility.GetHTMLAttachment");
    }
}

bool html_rendering::CanAttachHTMLFile(const std::string& iDocType) {
    try {
        const std::string xsl = Trim(document_types::getXSL(iDocType));
        if (xsl.empty()) return false;
        try {
            if (services::IsNetworkPath(xsl)) {
                CallQelFileXml("XslFileToDomDocument", {Variant(xsl)});
            } else {
                XML xml;
                xml.XslFileToDomDocument(xsl);
            }
            return true;
        } catch (...) {
            LogError("Kestrix.Utility.CanAttachHTMLFile",
                     "The XML Object couldn't load the XSL file '" + xsl + "'.");
            return false;
        }
    } catch (...) {
        Reraise("Kestrix.Utility.CanAttachHTMLFile");
    }
}

}  // namespace kestrix
