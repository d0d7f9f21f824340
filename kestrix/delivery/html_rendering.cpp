// HTML rendering of documents: style sheets applied to XML texts, the rendering of a stored
// document into a file that a notification mail attaches, and the check whether a document
// type's style sheet can be used at all.
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/utility.h"
#include "kestrix/intake/xml.h"
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

std::string Utility::transformXMLStringToHTML(const std::string& iXmlString,
                                              const std::string& iXSLURL) {
    try {
        if (services::IsNetworkPath(iXSLURL))
            return CallQelFileXml("ApplyXslStyleSheetToXmlString",
                                  {Variant(iXmlString), Variant(iXSLURL)})
                .ToString();
        XML xml;
        return xml.ApplyXslStyleSheetToXmlString(iXmlString, iXSLURL);
    } catch (...) {
        Reraise("Kestrix.Utility.transformXMLStringToHTML");
    }
}

std::string Utility::transformXMLToHTMLCommon(const xml::XmlDocument& iDoc,
                                              const std::string& iXslFileName) {
    try {
        if (services::IsNetworkPath(iXslFileName))
            return transformXMLStringToHTML(iDoc.Xml(), iXslFileName);
        // A local sheet is applied to the tree itself, without writing it out and parsing
        // it again.
        XML xml;
        return xml.ApplyXslStyleSheetToTree(iDoc, iXslFileName);
    } catch (...) {
        Reraise("Kestrix.Utility.transformXMLToHTMLCommon");
    }
}

std::string Utility::getHTMLAttachmentByUsingXML(const std::string& iDocID, const Variant& iDocType,
                                                 const Variant& iXml) {
    (void)iDocType;  // the stored type of the document decides which style sheet renders it
    try {
        const std::string idText = Trim(iDocID);
        if (idText.empty()) return {};
        // The identifier travels as text; only a number reaches the statement.
        const int32_t id = Variant(idText).ToLong();

        std::string body;
        std::string styleSheet;
        {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query(
                std::string("SELECT XMLBODY, HTMLATTACHMENTXSL FROM DOCUMENT AS DOC, ") +
                "DOCUMENTTYPE AS DOCTYPE WHERE " + "DOC.DOCUMENTID = " + EncodeSqlNumber(id) +
                " AND " + "DOC.DOCUMENTTYPEID = DOCTYPE.DOCUMENTTYPEID");
            if (rs.Eof()) return {};
            body = rs.GetString("XMLBODY");
            styleSheet = rs.GetString("HTMLATTACHMENTXSL");
        }
        if (!iXml.IsEmpty() && !iXml.IsNull() && !iXml.ToString().empty()) body = iXml.ToString();
        if (!NamesStyleSheet(styleSheet)) return {};

        const std::string html =
            transformXMLStringToHTML(body, GetHTMLXSLPath() + Trim(styleSheet));
        return WriteXMLFileToDisk(html, std::to_string(id) + ".html").ToString();
    } catch (...) {
        Reraise("Kestrix.Utility.getHTMLAttachmentByUsingXML");
    }
}

std::string Utility::getHTMLAttachment(int32_t iDocID) {
    try {
        return getHTMLAttachmentByUsingXML(std::to_string(iDocID));
    } catch (...) {
        Reraise("Kestrix.Utility.GetHTMLAttachment");
    }
}

void Utility::DeleteHTMLAttachment(const std::string& iHTMLFile) {
    try {
        DeleteXMLFileFromDisk(iHTMLFile);
    } catch (...) {
        // Reported under the name of the rendering it cleans up after.
        Reraise("Kestrix.Utility.GetHTMLAttachment");
    }
}

bool Utility::CanAttachHTMLFile(const std::string& iDocType) {
    try {
        const std::string xsl = Trim(getXSL(iDocType));
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
