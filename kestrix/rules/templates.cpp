// Template: the XML template and form style sheet of each document type.
#include "kestrix/rules/templates.h"

#include <string_view>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/conversions.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"

namespace kestrix {

namespace {

/// Every occurrence of `from` replaced by `to`, ignoring ASCII case.
std::string ReplaceIgnoringCase(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    size_t start = 0;
    for (size_t at = IFind(text, from); !from.empty() && at != std::string::npos;
         at = IFind(text, from, start)) {
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

/// The column's text; NULL reads as "".
std::string TextOrEmpty(const db::Recordset& rs, std::string_view column) {
    return rs.IsNull(column) ? std::string() : rs.GetString(column);
}

/// Sets the four columns of a template row, the template text in chunks.
void SetTemplateColumns(db::EditRow& row, const std::string& docTypeID, const std::string& xmlUrl,
                        const std::string& xmlTemplate, const std::string& xslUrl) {
    row.Set("DOCUMENTTYPEID", docTypeID);
    row.Set("XMLTEMPLATEURL", xmlUrl);
    std::string content = xmlTemplate;
    std::string column = "XMLTEMPLATE";
    conversions::SetLongDBTextField(content, column, row);
    row.Set("XSLURL", xslUrl);
}

std::string SelectByType(std::string_view columns, const std::string& docTypeID) {
    return "SELECT " + std::string(columns) +
           " FROM XMLTEMPLATE WHERE DOCUMENTTYPEID = " + EncodeSqlText(docTypeID) + " ";
}

}  // namespace

std::string Template::GetXmlTemplateDocument(const std::string& iDocTypeID, Variant& oURL) {
    oURL = int16_t{0};
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query(SelectByType("XMLTEMPLATEURL, XMLTEMPLATE", iDocTypeID));
        CloseConnection(connection);
        if (rs.Eof()) return {};
        std::string url = TextOrEmpty(rs, "XMLTEMPLATEURL");
        if (!url.empty()) {
            oURL = int16_t{1};
            return url;
        }
        return TextOrEmpty(rs, "XMLTEMPLATE");
    } catch (...) {
        oURL = int16_t{0};
        Reraise("Kestrix.Template.GetXmlTemplateDocument");
    }
}

std::string Template::getXslUrl(const std::string& iDocType) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(SelectByType("XSLURL", iDocType));
        CloseConnection(connection);
        if (rs.Eof()) return {};
        return TextOrEmpty(rs, "XSLURL");
    } catch (...) {
        // The label is read from the same database that may just have failed; its code and
        // the type still tell the reader what could not be read.
        std::string info;
        try {
            info = ReplaceIgnoringCase(TranslateLabel("SLBSH4450"), "[%DOCTYPE%]", iDocType);
        } catch (...) {
            info = "SLBSH4450 (" + iDocType + ")";
        }
        Reraise("Kestrix.Template.getXslUrl", info);
    }
}

int32_t Template::GetTemplateID(const std::string& iDocTypeID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(SelectByType("XMLTEMPLATEID", iDocTypeID));
        CloseConnection(connection);
        if (rs.Eof()) return 0;
        return rs.Field("XMLTEMPLATEID").ToLong();
    } catch (...) {
        Reraise("Kestrix.Template.GetTemplateID");
    }
}

bool Template::checkTemplateByDocumentTypeID(const std::string& iDocTypeID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(SelectByType("XMLTEMPLATEID", iDocTypeID));
        CloseConnection(connection);
        return !rs.Eof();
    } catch (...) {
        Reraise("Kestrix.Template.checkTemplateByDocumentTypeID");
    }
}

int32_t Template::InsertTemplate(const std::string& iDocTypeID, const std::string& iXMLURL,
                                 const std::string& iXMLTemplate, const std::string& iXSLURL) {
    try {
        int32_t id = GetTemplateID(iDocTypeID);
        if (id != 0) {
            UpdateTemplate(id, iDocTypeID, iXMLURL, iXMLTemplate, iXSLURL);
            return id;
        }
        db::EditRow row;
        SetTemplateColumns(row, iDocTypeID, iXMLURL, iXMLTemplate, iXSLURL);
        db::Connection connection = GetConnection();
        id = KeyAsInt32(connection.Insert("XMLTEMPLATE", row, "XMLTEMPLATEID"), "XMLTEMPLATE");
        CloseConnection(connection);
        return id;
    } catch (...) {
        Reraise("Kestrix.Template.InsertTemplate");
    }
}

void Template::UpdateTemplate(int32_t& iXmlTemplateID, const std::string& iDocTypeID,
                              const std::string& iXMLURL, const std::string& iXMLTemplate,
                              const std::string& iXSLURL) {
    try {
        const std::string where = "XMLTEMPLATEID = " + EncodeSqlNumber(iXmlTemplateID);
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query("Select * FROM XMLTEMPLATE WHERE " + where);
        if (!rs.Eof()) {
            db::EditRow row(rs);
            SetTemplateColumns(row, iDocTypeID, iXMLURL, iXMLTemplate, iXSLURL);
            connection.Update("XMLTEMPLATE", row, where);
        }
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.Template.UpdateTemplate");
    }
}

void Template::DeleteTemplate(int32_t& iXmlTemplateID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM XMLTEMPLATE WHERE (XMLTEMPLATEID = " +
                           EncodeSqlNumber(iXmlTemplateID) + ")");
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.Template.DeleteTemplate");
    }
}

}  // namespace kestrix
