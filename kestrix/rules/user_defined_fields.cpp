// UserDefinedFields: the stored values of the fields configured per document type.
#include "kestrix/rules/user_defined_fields.h"

#include "platform/base/strings.h"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrix/documents/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/site_cache.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/documents/xsl_patterns.h"
#include "platform/db/recordset.h"

namespace kestrix {

namespace {

/// The longest value kept for a field, in characters.
constexpr size_t kMaxValueLength = 100;

/// How many bodies are read at once while one field is recomputed for a whole type, so that
/// a type with many documents is never held in memory at once.
constexpr int kBodiesPerRead = 200;

/// The value of one field in a document, as it is stored.
std::string FieldValue(const xml::XmlDocument& dom, const std::string& pattern) {
    return Utf8Prefix(xsl_patterns::ExecuteXSLPattern(dom, pattern), kMaxValueLength);
}

/// The pattern of a field definition: "//name", "//@name" or the pattern as configured; an
/// unknown kind gives "", which selects nothing.
std::string FieldPattern(const db::Recordset& definition) {
    auto kind = static_cast<TagAttrXsl>(definition.GetInt("TAGATTRXSL"));
    return xsl_patterns::ConstructXslPattern(kind, definition.GetString("XSLPATTERN"));
}

void InsertValue(db::Connection& connection, int64_t docID, int64_t tagID, std::string value) {
    db::EditRow row;
    row.Set("DOCUMENTID", docID);
    row.Set("tagid", tagID);
    row.Set("tagvalue", std::move(value));
    connection.Insert("TAGSVALUE", row);
}

/// The connection a method works on: the caller's when given, else one of its own that is
/// closed when the object goes out of scope (also on failure).
class WorkingConnection {
  public:
    explicit WorkingConnection(db::Connection* given) : given_(given) {
        if (!given_) own_.emplace(GetConnection());
    }
    ~WorkingConnection() {
        if (own_) CloseConnection(*own_);
    }
    WorkingConnection(const WorkingConnection&) = delete;
    WorkingConnection& operator=(const WorkingConnection&) = delete;

    db::Connection& get() { return given_ ? *given_ : *own_; }

  private:
    db::Connection* given_;
    std::optional<db::Connection> own_;
};

/// The DOM document a variant holds; nullptr for Empty, a type mismatch for anything else.
const xml::XmlDocument* DomOf(const Variant& value) {
    ObjectPtr object = value.ToObject();
    if (!object) return nullptr;
    auto* dom = dynamic_cast<const xml::XmlDocument*>(object.get());
    if (!dom)
        throw Error(errnum::TypeMismatch, "Kestrix.UserDefinedFields.FillTagsValueTable",
                    "Type mismatch: the value is not an XML document.");
    return dom;
}

/// The field definitions of a type (XSLPATTERN, TAGID, TAGATTRXSL), kept while the site's
/// configuration stands still.
db::Recordset FieldDefinitions(db::Connection& conn, const std::string& docTypeID) {
    const std::string key = "definitions\x1f" + docTypeID;
    if (std::shared_ptr<const void> kept = FindSiteObject(SiteCacheKind::FieldDefinitions, key))
        return *static_cast<const db::Recordset*>(kept.get());
    db::Recordset definitions = conn.Query(
        "SELECT XSLPATTERN, TAGID, TAGATTRXSL FROM TAGSCONFIG WHERE DOCUMENTTYPEID = ?", {Variant(docTypeID)});
    KeepSiteObject(SiteCacheKind::FieldDefinitions, key, std::make_shared<const db::Recordset>(definitions));
    return definitions;
}

}  // namespace

// ---- filling the values of one document ----------------------------------------------------

bool TypeHasUserDefinedFields(const std::string& docTypeId) {
    try {
        return CachedSiteValue(SiteCacheKind::FieldDefinitions, docTypeId, [&]() -> std::optional<std::string> {
                   db::Connection connection = GetConnection();
                   const db::Recordset rs = connection.Query(
                       "SELECT COUNT(*) AS N FROM TAGSCONFIG WHERE DOCUMENTTYPEID = ?", {Variant(docTypeId)});
                   if (rs.GetInt("N") == 0) return std::nullopt;
                   return std::string("1");
               })
            .has_value();
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.TypeHasUserDefinedFields");
    }
}

bool UserDefinedFields::Fill(int32_t docID, const std::string& docTypeID,
                             const xml::XmlDocument& dom, db::Connection* given, bool replace) {
    try {
        if (dom.IsEmpty()) return true;
        WorkingConnection connection(given);
        db::Connection& conn = connection.get();
        db::Recordset definitions = FieldDefinitions(conn, docTypeID);
        if (replace) conn.Execute("DELETE FROM TAGSVALUE WHERE DOCUMENTID = ?", {Variant(docID)});
        for (; !definitions.Eof(); definitions.MoveNext()) {
            std::string value = FieldValue(dom, FieldPattern(definitions));
            InsertValue(conn, docID, definitions.GetInt("TAGID"), std::move(value));
        }
        return true;
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.FillTagsValueTable");
    }
}

bool UserDefinedFields::FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                                           const xml::XmlDocument& iXMLDoc) {
    return Fill(iDocID, iDocTypeID, iXMLDoc, nullptr);
}

bool UserDefinedFields::FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                                           const xml::XmlDocument& iXMLDoc, db::Connection& iConn) {
    return Fill(iDocID, iDocTypeID, iXMLDoc, &iConn);
}

bool UserDefinedFields::FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                                           const Variant& iXMLDoc) {
    try {
        const xml::XmlDocument* dom = DomOf(iXMLDoc);
        return dom ? Fill(iDocID, iDocTypeID, *dom, nullptr) : true;
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.FillTagsValueTable");
    }
}

bool UserDefinedFields::FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                                           const Variant& iXMLDoc, db::Connection& iConn) {
    try {
        const xml::XmlDocument* dom = DomOf(iXMLDoc);
        return dom ? Fill(iDocID, iDocTypeID, *dom, &iConn) : true;
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.FillTagsValueTable");
    }
}

void UserDefinedFields::UpdateValuesInTagsValueTable(int32_t& iDocID,
                                                     const std::string& iDocTypeID) {
    try {
        DocumentStore document;
        xml::XmlDocument dom = document.GetXmlDomDocument(iDocID);
        db::Connection connection = GetConnection();
        DeleteTagsForDocument(iDocID, connection);
        FillTagsValueTable(iDocID, iDocTypeID, dom, connection);
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.UpdateValuesInTagsValueTable");
    }
}

void UserDefinedFields::UpdateValuesInTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                                                     const xml::XmlDocument& iStandard) {
    try {
        db::Connection connection = GetConnection();
        // Filling removes the old values itself; only an empty tree leaves them to this.
        if (iStandard.IsEmpty()) DeleteTagsForDocument(iDocID, connection);
        FillTagsValueTable(iDocID, iDocTypeID, iStandard, connection);
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.UpdateValuesInTagsValueTable");
    }
}

void UserDefinedFields::FillValuesOfNewDocument(int32_t iDocID, const std::string& iDocTypeID,
                                                const xml::XmlDocument& iStandard) {
    try {
        Fill(iDocID, iDocTypeID, iStandard, nullptr, false);
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.UpdateValuesInTagsValueTable");
    }
}

// ---- removing the values of one document ---------------------------------------------------

void UserDefinedFields::Delete(int32_t docID, db::Connection* given) {
    try {
        WorkingConnection connection(given);
        connection.get().Execute("DELETE FROM TAGSVALUE WHERE DOCUMENTID = ?", {Variant(docID)});
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.DeleteTagsForDocument");
    }
}

void UserDefinedFields::DeleteTagsForDocument(int32_t iDocID) { Delete(iDocID, nullptr); }

void UserDefinedFields::DeleteTagsForDocument(int32_t iDocID, db::Connection& iConn) {
    Delete(iDocID, &iConn);
}

// ---- recomputing one field for every document of a type ------------------------------------

Variant UserDefinedFields::UpdateTagsValueTable(const std::string& iDocTypeID, int32_t& iTagID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM TAGSVALUE WHERE TAGID = " + EncodeSqlNumber(iTagID));
        AddTagsValueTable(iDocTypeID, iTagID, connection);
        CloseConnection(connection);
        return {};
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.UpdateTagsValueTable",
                "Doc. Type ID: '" + iDocTypeID + "' Tag ID: '" + std::to_string(iTagID) + "'");
    }
}

void UserDefinedFields::Add(const std::string& docTypeID, int32_t tagID, db::Connection* given) {
    std::string pattern;
    try {
        WorkingConnection connection(given);
        db::Connection& conn = connection.get();
        const std::string type = EncodeSqlText(docTypeID);
        db::Recordset definition = conn.Query(
            "SELECT XSLPATTERN, TAGATTRXSL FROM TAGSCONFIG WHERE DOCUMENTTYPEID = " + type +
            " AND TAGID = " + EncodeSqlNumber(tagID));
        if (definition.Eof()) return;
        pattern = FieldPattern(definition);
        definition.Close();

        // The bodies are read in slices ordered by identifier; a failed parse leaves the
        // reused document empty, so no value of an earlier document is ever written again.
        xml::XmlDocument dom;
        int64_t after = 0;
        bool first = true;
        for (;;) {
            std::string sql =
                "SELECT DOCUMENTID, XMLBODY FROM DOCUMENT WHERE DOCUMENTTYPEID = " + type + " ";
            if (!first) sql += "AND DOCUMENTID > " + EncodeSqlNumber(after) + " ";
            sql += "ORDER BY DOCUMENTID LIMIT " + std::to_string(kBodiesPerRead);
            db::Recordset documents = conn.Query(sql);
            if (documents.Eof()) break;
            size_t read = documents.RowCount();
            for (; !documents.Eof(); documents.MoveNext()) {
                const int64_t docID = documents.GetInt("DOCUMENTID");
                after = docID;
                try {
                    if (documents.IsNull("XMLBODY")) continue;
                    dom.LoadXml(documents.GetString("XMLBODY"));
                    if (dom.IsEmpty()) continue;
                    InsertValue(conn, docID, tagID, FieldValue(dom, pattern));
                } catch (...) {
                    LogError("Kestrix.Utility.AddTagsValueTable",
                             "Unable to update user-defined fields for xml document with id '" +
                                 std::to_string(docID) + " and type '" + docTypeID + "'");
                }
            }
            first = false;
            if (read < static_cast<size_t>(kBodiesPerRead)) break;
        }
    } catch (...) {
        Reraise("Kestrix.UserDefinedFields.AddTagsValueTable",
                "Document Type ID: '" + docTypeID + "', Tag ID: '" + std::to_string(tagID) +
                    "', XSL pattern: '" + pattern + "'");
    }
}

void UserDefinedFields::AddTagsValueTable(const std::string& iDocTypeID, int32_t iTagID) {
    Add(iDocTypeID, iTagID, nullptr);
}

void UserDefinedFields::AddTagsValueTable(const std::string& iDocTypeID, int32_t iTagID,
                                          db::Connection& iConn) {
    Add(iDocTypeID, iTagID, &iConn);
}

}  // namespace kestrix
