// Document-type transformations: the standard form of a received document, the change of a
// document to another type, the folders the style sheets lie in, and the small look-ups on
// the document type table.
#include <optional>
#include <string>
#include <string_view>

#include "kestrix/documents/document.h"
#include "kestrix/documents/receive_method.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/foundation/style_sheets.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"
#include "platform/services/file_paths.h"

namespace kestrix {

namespace {

/// A style sheet folder or address from a server parameter, ending in its separator: an
/// address ("http..." in any case) gets "/", a network share keeps its own "\" and a local
/// folder gets the native separator. A value that ends in either separator is kept.
std::string StyleSheetFolder(std::string_view parameter) {
    std::string value = GetParameter(parameter);
    if (IStartsWith(value, "http")) {
        if (!value.ends_with('/')) value += '/';
        return value;
    }
    if (value.ends_with('\\') || value.ends_with('/')) return value;
    value += services::IsNetworkPath(value) ? '\\' : '/';
    return value;
}

/// One text column of the document type's row; "" when there is no row or the value is NULL.
/// Kept by the thread while a site cache scope lives.
std::string DocumentTypeColumn(std::string_view column, const std::string& docType) {
    const std::string key = std::string(column) + '\x1f' + docType;
    return CachedSiteValue(SiteCacheKind::DocumentType, key,
                           [&]() -> std::optional<std::string> {
                               db::Connection connection = GetConnection();
                               db::Recordset rs = connection.Query(
                                   "SELECT " + std::string(column) +
                                       " FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = ?",
                                   {Variant(docType)});
                               if (rs.Eof()) return std::string();
                               return rs.GetString(column);
                           })
        .value_or(std::string());
}

}  // namespace

// ---- Document ------------------------------------------------------------------------------

std::string DocumentStore::TransformDocumentToStandard(int32_t iDocID, const std::string& iDocTypeID,
                                                  int32_t iSenderBPID) {
    try {
        const std::string name = Trim(ReceiveMethod().GetXslFileName(iSenderBPID, iDocTypeID));
        if (name.empty()) {
            // No style sheet configured: the body as received is the standard form.
            CopyOriginalXMLtoXMLBody(iDocID, false);
            return GetXmlDocument(iDocID);
        }
        const std::string received = GetOriginalXmlDocument(iDocID);
        std::string standard =
            style_sheets::transformXMLStringToHTML(received, document_types::GetTransformXSLPath() + name);
        UpdateDocumentWithXmlBody(iDocID, standard);
        return standard;
    } catch (...) {
        Reraise("Kestrix.Document.TransformDocumentToStandard");
    }
}

bool DocumentStore::TransformDocumentToStandard(int32_t iDocID, const std::string& iDocTypeID,
                                           int32_t iSenderBPID, const xml::XmlDocument& iReceived,
                                           xml::XmlDocument& oStandard) {
    std::optional<xml::XmlDocument> received;
    return StandardOfTree(iDocID, iDocTypeID, iSenderBPID, iReceived, received, oStandard);
}

bool DocumentStore::TransformDocumentToStandard(int32_t iDocID, const std::string& iDocTypeID,
                                           int32_t iSenderBPID, std::optional<xml::XmlDocument>& ioReceived,
                                           xml::XmlDocument& oStandard) {
    if (!ioReceived) return TransformDocumentToStandard(iDocID, iDocTypeID, iSenderBPID, xml::XmlDocument(), oStandard);
    const xml::XmlDocument& received = *ioReceived;
    return StandardOfTree(iDocID, iDocTypeID, iSenderBPID, received, ioReceived, oStandard);
}

bool DocumentStore::StandardOfTree(int32_t iDocID, const std::string& iDocTypeID, int32_t iSenderBPID,
                                   const xml::XmlDocument& iReceived,
                                   std::optional<xml::XmlDocument>& toRelease, xml::XmlDocument& oStandard) {
    try {
        std::optional<std::string> standard =
            StandardFormOfTree(iDocTypeID, iSenderBPID, iReceived, toRelease, oStandard);
        if (!standard) {
            // No style sheet configured: the body as received is the standard form.
            CopyOriginalXMLtoXMLBody(iDocID, false);
            return !oStandard.IsEmpty();
        }
        const bool present = !standard->empty();
        UpdateDocumentWithXmlBody(iDocID, std::move(*standard));
        return present;
    } catch (...) {
        Reraise("Kestrix.Document.TransformDocumentToStandard");
    }
}

std::optional<std::string> DocumentStore::StandardFormOfTree(const std::string& iDocTypeID,
                                                             int32_t iSenderBPID,
                                                             const xml::XmlDocument& iReceived,
                                                             std::optional<xml::XmlDocument>& toRelease,
                                                             xml::XmlDocument& oStandard) {
    try {
        oStandard = xml::XmlDocument();
        const std::string name = Trim(ReceiveMethod().GetXslFileName(iSenderBPID, iDocTypeID));
        if (name.empty()) {
            if (toRelease) {
                oStandard = std::move(*toRelease);
                toRelease.reset();
            } else {
                oStandard = iReceived.Clone();
            }
            return std::nullopt;
        }
        std::string standard =
            style_sheets::transformXMLToHTMLCommon(iReceived, document_types::GetTransformXSLPath() + name);
        // The received tree has been read: it goes before the standard form is parsed.
        toRelease.reset();
        // An output that is no XML is left to the readers of the stored body, which report it.
        if (!oStandard.LoadXml(standard)) oStandard = xml::XmlDocument();
        return standard;
    } catch (...) {
        Reraise("Kestrix.Document.TransformDocumentToStandard");
    }
}

void DocumentStore::TransformDocToNewDocType(int32_t& iDocID, const std::string& iOriginalDocTypeID,
                                        const std::string& iNewDocTypeID) {
    try {
        try {
            CopyOriginalXMLtoTempXMLBody(iDocID);
            const std::string name = Trim(GetXSLFromDoctypeToDoctypeTable(
                Variant(iOriginalDocTypeID), Variant(iNewDocTypeID)));
            if (name.empty()) {
                CopyTempXMLtoXMLBody(iDocID);
            } else {
                const xml::XmlDocument work = GetTempXmlDomDocument(iDocID);
                const std::string result =
                    style_sheets::transformXMLToHTMLCommon(work, document_types::GetTransformXSLPath() + name);
                UpdateDocumentWithXmlBody(iDocID, result);
            }
        } catch (...) {
            // The work copy only lives while a conversion runs. One left behind by a failed
            // run would be taken, stale, by the next conversion instead of the body current
            // then, so it goes now; the failure itself is raised on.
            try {
                UpdateTempXMLBodyWithNULLInDocument(iDocID);
            } catch (...) {
                LogError("Kestrix.Document.TransformDocToNewDocType",
                         "The work copy could not be emptied after a failed conversion.");
            }
            throw;
        }
        UpdateTempXMLBodyWithNULLInDocument(iDocID);
    } catch (...) {
        Reraise("Kestrix.Document.TransformDocToNewDocType");
    }
}

std::string DocumentStore::GetXSLFromDoctypeToDoctypeTable(const Variant& iDocTypeID,
                                                      const Variant& iNewDocTypeID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT TRANSFORMXSLNAME FROM DOCTYPETODOCTYPE WHERE DOCUMENTTYPEID = ? AND "
            "NEWDOCUMENTTYPEID = ?",
            {Variant(iDocTypeID.ToString()), Variant(iNewDocTypeID.ToString())});
        if (rs.Eof()) return {};
        return rs.GetString("TRANSFORMXSLNAME");
    } catch (...) {
        Reraise("Kestrix.Utility.GetXSLFromDoctypeToDoctypeTable");
    }
}

// ---- style sheet folders and document types -------------------------------------------------

std::string document_types::GetTransformXSLPath() {
    try {
        return StyleSheetFolder("TransformXSLPath");
    } catch (...) {
        Reraise("Kestrix.Utility.GetTransformXSLPath");
    }
}

std::string document_types::GetHTMLXSLPath() {
    try {
        return StyleSheetFolder("HTMLXSLPath");
    } catch (...) {
        Reraise("Kestrix.Utility.GetHTMLXSLPath");
    }
}

std::string document_types::getXSL(const std::string& iDocType) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT HTMLATTACHMENTXSL FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = ?",
                             {Variant(iDocType)});
        if (rs.Eof() || rs.IsNull("HTMLATTACHMENTXSL")) return {};
        const std::string name = Trim(rs.GetString("HTMLATTACHMENTXSL"));
        rs.Close();
        CloseConnection(connection);
        return GetHTMLXSLPath() + name;
    } catch (...) {
        Reraise("Kestrix.Utility.getXSL");
    }
}

std::string document_types::GetDocumentTypeDescription(const std::string& iDocTypeID) {
    try {
        return DocumentTypeColumn("DESCRIPTION", iDocTypeID);
    } catch (...) {
        Reraise("Kestrix.Utility.GetDocTypeDescription");
    }
}

std::string document_types::GetHtmlAttachmentXsl(const std::string& iDocTypeID) {
    try {
        return DocumentTypeColumn("HTMLATTACHMENTXSL", iDocTypeID);
    } catch (...) {
        Reraise("Kestrix.Utility.GetHtmlAttachmentXsl");
    }
}

}  // namespace kestrix
