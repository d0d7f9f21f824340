// Document: the DOCUMENT table, its bodies, status and show flag, and who may see a document.
#include "kestrix/documents/document.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/recipients_query.h"
#include "kestrix/documents/xsl_patterns.h"
#include "kestrix/foundation/conversions.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"

namespace kestrix {

namespace {

std::string Now() { return DateTime::Now().Sortable(); }

std::string WhereId(int32_t id) { return "DOCUMENTID = " + EncodeSqlNumber(id); }

/// A document's identifier as the value of a "DOCUMENTID = ?" placeholder.
Variant Id(int32_t id) { return Variant(static_cast<long long>(id)); }

/// The text of a body column of the current row; NULL is "Invalid use of Null".
std::string BodyText(const db::Recordset& rs, std::string_view column) {
    return rs.Field(column).ToString();
}

/// Writes a long text into a column of the row being edited, in chunks.
void SetLongText(db::EditRow& row, std::string column, const std::string& text) {
    std::string content = text;
    conversions::SetLongDBTextField(content, column, row);
}

/// Copies a body column into another one of the same row; a NULL body stays NULL.
void CopyBody(db::EditRow& row, const Variant& from, std::string column) {
    if (from.IsNull()) {
        row.Set(column, Null{});
        return;
    }
    SetLongText(row, std::move(column), from.ToString());
}

/// Parses a stored body. A body the parser refuses raises the parser's code under `source`
/// with "DOM Error: " and the reason, the URL as help file and the line as help context.
xml::XmlDocument ParseBody(const std::string& body, std::string_view source) {
    xml::XmlDocument dom;
    if (!dom.LoadXml(body)) {
        const xml::ParseError& e = dom.parseError();
        throw Error(e.errorCode, std::string(source), "DOM Error: " + e.reason, e.url, e.line);
    }
    return dom;
}

/// Reads the body column of the one-column query and parses it; an empty document when
/// there is no row.
xml::XmlDocument LoadDom(const std::string& sql, std::string_view column,
                         std::string_view parseSource) {
    std::string body;
    {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(sql);
        if (rs.Eof()) return xml::XmlDocument();
        body = BodyText(rs, column);
    }
    return ParseBody(body, parseSource);
}

std::string ReadBody(int32_t id, std::string_view column) {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT " + std::string(column) + " FROM DOCUMENT WHERE DOCUMENTID = ?", {Id(id)});
    if (rs.Eof()) return {};
    return BodyText(rs, column);
}

/// Replaces one body column and sets the date column that goes with it.
void WriteBody(int32_t id, std::string_view bodyColumn, std::string_view dateColumn, Variant body) {
    // Written straight away: the old body is not read first, and no row means no change.
    db::Connection connection = GetConnection();
    const Variant values[] = {std::move(body), Variant(Now()), Id(id)};
    connection.Execute("UPDATE DOCUMENT SET " + std::string(bodyColumn) + " = ?, " +
                           std::string(dateColumn) + " = ? WHERE DOCUMENTID = ?",
                       values);
}

struct StatusWords {
    DOCUMENTSTATUS status;
    std::array<std::string_view, 9> words;
};

// The texts a status may be given by: each word capitalised, in small and in capital letters.
constexpr std::array<StatusWords, 6> kStatusWords{{
    {DOCUMENTSTATUS::DOCUMENTNEW, {"New", "new", "NEW"}},
    {DOCUMENTSTATUS::DOCUMENTPUBLISHED,
     {"Published", "published", "PUBLISHED", "Publish", "publish", "PUBLISH"}},
    {DOCUMENTSTATUS::DOCUMENTACCEPTED,
     {"Accepted", "accepted", "ACCEPTED", "Accept", "accept", "ACCEPT"}},
    {DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED,
     {"Partially Accepted", "partially accepted", "PARTIALLY ACCEPTED", "Partially", "partially",
      "PARTIALLY", "Partially Accept", "partially accept", "PARTIALLY ACCEPT"}},
    {DOCUMENTSTATUS::DOCUMENTDELETED,
     {"Deleted", "deleted", "DELETED", "Removed", "removed", "REMOVED"}},
    {DOCUMENTSTATUS::DOCUMENTSENT, {"Sent", "sent", "SENT"}},
}};

}  // namespace

// ---- reading a document ------------------------------------------------------------------

std::string DocumentStore::GetXmlDocument(int32_t& iDocID) {
    try {
        return ReadBody(iDocID, "XMLBODY");
    } catch (...) {
        Reraise("Kestrix.Document.GetXmlDocument");
    }
}

std::string DocumentStore::GetOriginalXmlDocument(int32_t& iDocID) {
    try {
        return ReadBody(iDocID, "ORIGINALXMLBODY");
    } catch (...) {
        Reraise("Kestrix.Document.GetOriginalXmlDocument");
    }
}

xml::XmlDocument DocumentStore::GetXmlDomDocument(int32_t& iDocID) {
    try {
        return LoadDom("SELECT XMLBODY FROM DOCUMENT WHERE " + WhereId(iDocID), "XMLBODY",
                       "Kestrix.Document.GetXMLDomDocument");
    } catch (...) {
        Reraise("Kestrix.Document.GetXmlDomDocument");
    }
}

std::string DocumentStore::GetDocumentTypeOfDocument(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT DOCUMENTTYPEID FROM DOCUMENT WHERE DOCUMENTID = ?", {Id(iDocID)});
        if (rs.Eof()) return {};
        return Trim(rs.GetString("DOCUMENTTYPEID"));
    } catch (...) {
        Reraise("Kestrix.Document.GetDocumentTypeOfDocument");
    }
}

std::string DocumentStore::GetSenderOfDocument(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT SENDER FROM DOCUMENT WHERE DOCUMENTID = ?", {Id(iDocID)});
        if (rs.Eof()) return {};
        return Trim(rs.GetString("SENDER"));
    } catch (...) {
        Reraise("Kestrix.Document.GetSenderOfDocument");
    }
}

DOCUMENTSTATUS DocumentStore::GetStatusOfDocument(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = ?", {Id(iDocID)});
        if (rs.Eof() || rs.IsNull("STATUS")) return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
        const int64_t status = rs.GetInt("STATUS");
        if (status < 0 || status > 5) return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
        return static_cast<DOCUMENTSTATUS>(status);
    } catch (...) {
        Reraise("Kestrix.Document.GetStatusOfDocument");
    }
}

bool DocumentStore::GetShowFlag(int32_t& i_lDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT SHOW FROM DOCUMENT WHERE DOCUMENTID = ?", {Id(i_lDocID)});
        if (rs.Eof() || rs.IsNull("SHOW")) return false;
        return rs.Field("SHOW").ToBool();
    } catch (...) {
        Reraise("Kestrix.Document.GetShowFlag");
    }
}

// ---- changing a document -----------------------------------------------------------------

bool DocumentStore::UpdateDocTableWithDocType(int32_t& iDocID, const std::string& iDocTypeID) {
    try {
        if (iDocTypeID.empty()) return false;
        db::Connection connection = GetConnection();
        connection.Execute("UPDATE DOCUMENT SET DOCUMENTTYPEID = " + EncodeSqlText(iDocTypeID) +
                           " WHERE " + WhereId(iDocID));
        return true;
    } catch (...) {
        Reraise("Kestrix.Document.UpdateDocTableWithDocType");
    }
}

void DocumentStore::UpdateDocumentWithXmlBody(int32_t& iDocID, const std::string& iXmlBody) {
    try {
        WriteBody(iDocID, "XMLBODY", "CREATIONDATE", Variant(iXmlBody));
    } catch (...) {
        Reraise("Kestrix.Document.UpdateDocumentWithXmlBody");
    }
}

void DocumentStore::UpdateDocumentWithXmlBody(int32_t& iDocID, std::string&& iXmlBody) {
    try {
        WriteBody(iDocID, "XMLBODY", "CREATIONDATE", Variant(std::move(iXmlBody)));
    } catch (...) {
        Reraise("Kestrix.Document.UpdateDocumentWithXmlBody");
    }
}

void DocumentStore::UpdateDocumentWithOriginalXmlBody(int32_t& iDocID,
                                                 const std::string& iOriginalXmlBody) {
    try {
        WriteBody(iDocID, "ORIGINALXMLBODY", "ENTRANCEDATE", Variant(iOriginalXmlBody));
    } catch (...) {
        Reraise("Kestrix.Document.UpdateDocumentWithOriginalXmlBody");
    }
}

void DocumentStore::SetDocumentStatus(int32_t& iDocID, DOCUMENTSTATUS iDocStatus) {
    try {
        ChangeStatus(iDocID, iDocStatus, GetStatusOfDocument(iDocID), true, nullptr);
    } catch (...) {
        Reraise("Kestrix.Document.SetDocumentStatus");
    }
}

void DocumentStore::SetDocumentStatus(int32_t& iDocID, std::optional<DOCUMENTSTATUS> status,
                                      DOCUMENTSTATUS known, bool mayHaveOpenErrors,
                                      std::string* body) {
    try {
        if (status) {
            ChangeStatus(iDocID, *status, known, mayHaveOpenErrors, body);
        } else if (body) {
            WriteBody(iDocID, "XMLBODY", "CREATIONDATE", Variant(std::move(*body)));
        }
    } catch (...) {
        Reraise("Kestrix.Document.SetDocumentStatus");
    }
}

void DocumentStore::ChangeStatus(int32_t& iDocID, DOCUMENTSTATUS iDocStatus, DOCUMENTSTATUS old,
                                 bool mayHaveOpenErrors, std::string* body) {
    using S = DOCUMENTSTATUS;
    const bool write = iDocStatus == S::DOCUMENTDELETED ||
                       (old != S::DOCUMENTDELETED &&
                        !(iDocStatus == S::DOCUMENTPUBLISHED && old == S::DOCUMENTSENT));
    if (!write) {
        if (body) WriteBody(iDocID, "XMLBODY", "CREATIONDATE", Variant(std::move(*body)));
        return;
    }
    {
        db::Connection connection = GetConnection();
        const int64_t changed =
            body ? connection.Execute(
                       "UPDATE DOCUMENT SET STATUS = ?, XMLBODY = ?, CREATIONDATE = ? WHERE "
                       "DOCUMENTID = ?",
                       {Variant(ToInt(iDocStatus)), Variant(std::move(*body)), Variant(Now()),
                        Id(iDocID)})
                 : connection.Execute("UPDATE DOCUMENT SET STATUS = ? WHERE DOCUMENTID = ?",
                                      {Variant(ToInt(iDocStatus)), Id(iDocID)});
        if (changed == 0) return;
    }
    if (iDocStatus == S::DOCUMENTPUBLISHED && old == S::DOCUMENTNEW) {
        if (mayHaveOpenErrors)
            publication_errors::ClosePublicationErrorsForOneCategory(iDocID, "CannotPublish");
    } else if (iDocStatus == S::DOCUMENTDELETED && old == S::DOCUMENTNEW) {
        deleteAllUsersFromPublicationList(iDocID);
    }
}

DOCUMENTSTATUS DocumentStore::ConvertStatusFromStringToEnum(const std::string& iStatus) {
    for (const auto& entry : kStatusWords)
        for (std::string_view word : entry.words)
            if (!word.empty() && word == iStatus) return entry.status;
    return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
}

DOCUMENTSTATUS DocumentStore::ConvertStatusFromIntToEnum(int32_t iStatus) {
    if (iStatus < 0 || iStatus > 5) return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
    return static_cast<DOCUMENTSTATUS>(iStatus);
}

void DocumentStore::RemoveInvalidDocument(int32_t& iDocID) {
    try {
        if (iDocID == 0) return;
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM DOCUMENT WHERE DOCUMENTID = " + EncodeSqlNumber(iDocID) +
                           " AND (DOCUMENTTYPEID LIKE '' OR DOCUMENTTYPEID IS NULL)");
    } catch (...) {
        Reraise("Kestrix.Document.RemoveInvalidDocument");
    }
}

void DocumentStore::RemoveRecipientsForDocument(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(
            "DELETE FROM PUBLICATION WHERE (DOCUMENTID = " + EncodeSqlNumber(iDocID) + ")");
    } catch (...) {
        Reraise("Kestrix.Document.RemoveRecipientsForDocument");
    }
}

void DocumentStore::deleteAllUsersFromPublicationList(const Variant& i_lDocID) {
    try {
        const int32_t id = i_lDocID.ToLong();
        db::Connection connection = GetConnection();
        connection.Execute(std::string(" DELETE FROM dbo.PUBLICATION ") +
                           " WHERE DOCUMENTID = " + EncodeSqlNumber(id));
    } catch (...) {
        Reraise("Kestrix.Document.deleteAllUsersFromPublicationList");
    }
}

// ---- recipients and visibility -----------------------------------------------------------

bool DocumentStore::UserIsRecipientOfDoc(int32_t& iDocID, const std::string& iUser) {
    try {
        const std::string type = GetDocumentTypeOfDocument(iDocID);
        if (type.empty()) return false;
        db::Recordset rs = recipients::GetRecipientsFromPublicationTable(iDocID, type, false);
        for (; !rs.Eof(); rs.MoveNext())
            if (rs.GetString("USERID") == iUser) return true;
        return false;
    } catch (...) {
        Reraise("Kestrix.Document.UserIsRecipientOfDoc");
    }
}

bool DocumentStore::IsValidChildDoc(int32_t& iDocID, const std::string& iUser,
                               SENDERMODE /*iSenderMode*/) {
    try {
        if (GetDocumentTypeOfDocument(iDocID).empty()) return false;
        const DOCUMENTSTATUS status = GetStatusOfDocument(iDocID);
        const bool isSender = GetSenderOfDocument(iDocID) == iUser;
        if (isSender && status != DOCUMENTSTATUS::DOCUMENTDELETED) return true;
        if (!isSender && status == DOCUMENTSTATUS::DOCUMENTNEW) return false;
        return UserIsRecipientOfDoc(iDocID, iUser);
    } catch (...) {
        Reraise("Kestrix.Document.IsValidChildDoc");
    }
}

bool DocumentStore::IsValidParentDoc(int32_t& iDocID, const std::string& iUser, SENDERMODE iSenderMode) {
    try {
        db::Recordset rs;
        {
            db::Connection connection = GetConnection();
            rs = connection.Query(
                "SELECT DOCUMENTID, SENDER, DOCUMENTTYPEID FROM DOCUMENT WHERE DOC_DOCUMENTID = " +
                EncodeSqlNumber(iDocID));
        }
        for (; !rs.Eof(); rs.MoveNext()) {
            int32_t child = KeyAsInt32(rs.GetInt("DOCUMENTID"), "DOCUMENT");
            if (IsValidChildDoc(child, iUser, iSenderMode)) return true;
        }
        return false;
    } catch (...) {
        Reraise("Kestrix.Document.IsValidParentDoc");
    }
}

// ---- used by the processing pipeline and the transformations -----------------------------

namespace {

/// A new DOCUMENT row holding the body as received, both dates now and the status given.
db::EditRow NewDocumentRow(const std::string& body, DOCUMENTSTATUS status) {
    db::EditRow row;
    const std::string now = Now();
    row.Set("CREATIONDATE", now);
    row.Set("ENTRANCEDATE", now);
    row.Set("STATUS", ToInt(status));
    row.Set("ORIGINALXMLBODY", body);  // one copy of the body, not a chunked second one
    return row;
}

/// Inserts the row without a command time-out; returns its generated identifier.
int32_t InsertDocument(const db::EditRow& row) {
    db::Connection connection = GetConnectionWithODBCTimeoutIs(0);
    return KeyAsInt32(connection.Insert("DOCUMENT", row, "DocumentID"), "DOCUMENT");
}

}  // namespace

int32_t DocumentStore::StoreOriginalDocument(const std::string& body) {
    try {
        return InsertDocument(NewDocumentRow(body, DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS));
    } catch (...) {
        Reraise("Kestrix.Document.StoreOriginalDocument");
    }
}

int32_t DocumentStore::StoreCompleteDocument(const std::string& body, const std::string* standardBody,
                                             const std::string& docTypeID, const std::string& sender,
                                             const std::string& defaultReceiver, DOCUMENTSTATUS status,
                                             bool show, int32_t forwardedDocID) {
    try {
        db::EditRow row = NewDocumentRow(body, status);
        row.Set("SENDER", sender);
        row.Set("DEFAULTRECEIVER", defaultReceiver);
        row.Set("SHOW", show ? 1 : 0);
        if (!Trim(docTypeID).empty()) row.Set("DOCUMENTTYPEID", docTypeID);
        if (forwardedDocID != -1) row.Set("DOC_DOCUMENTID", forwardedDocID);
        if (standardBody) row.Set("XMLBODY", *standardBody);
        return InsertDocument(row);
    } catch (...) {
        Reraise("Kestrix.Document.StoreOriginalDocument");
    }
}

void DocumentStore::UpdateDocument(int32_t id, const std::string& docTypeID, const std::string& sender,
                              const std::string& defaultReceiver, DOCUMENTSTATUS status, bool show,
                              int32_t forwardedDocID) {
    try {
        // Only these columns are written; the bodies are neither read nor written.
        std::string sql =
            "UPDATE DOCUMENT SET STATUS = ?, SENDER = ?, DEFAULTRECEIVER = ?, SHOW = ?";
        std::vector<Variant> values{Variant(ToInt(status)), Variant(sender),
                                    Variant(defaultReceiver), Variant(show ? 1 : 0)};
        if (!Trim(docTypeID).empty()) {
            sql += ", DOCUMENTTYPEID = ?";
            values.emplace_back(docTypeID);
        }
        if (forwardedDocID != -1) {
            sql += ", DOC_DOCUMENTID = ?";
            values.emplace_back(forwardedDocID);
        }
        sql += " WHERE DOCUMENTID = ?";
        values.push_back(Id(id));
        db::Connection connection = GetConnection();
        connection.Execute(sql, values);
    } catch (...) {
        Reraise("Kestrix.Document.UpdateDocument");
    }
}

void DocumentStore::CopyOriginalXMLtoXMLBody(int32_t id, bool alsoTemp) {
    try {
        // The database copies the body itself; a NULL body stays NULL.
        db::Connection connection = GetConnection();
        connection.Execute(
            alsoTemp
                ? "UPDATE DOCUMENT SET XMLBODY = ORIGINALXMLBODY, TEMPXMLBODY = ORIGINALXMLBODY, "
                  "CREATIONDATE = ? WHERE DOCUMENTID = ?"
                : "UPDATE DOCUMENT SET XMLBODY = ORIGINALXMLBODY, CREATIONDATE = ? WHERE "
                  "DOCUMENTID = ?",
            {Variant(Now()), Id(id)});
    } catch (...) {
        Reraise("Kestrix.Document.CopyOriginalXMLtoXMLBody");
    }
}

void DocumentStore::CopyTempXMLtoXMLBody(int32_t id) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query(std::string("SELECT XMLBODY, TEMPXMLBODY, CREATIONDATE ") +
                             "FROM DOCUMENT WHERE DOCUMENTID = " + EncodeSqlNumber(id));
        if (rs.Eof()) return;
        db::EditRow row(rs);
        CopyBody(row, rs.Field("TEMPXMLBODY"), "XMLBODY");
        row.Set("CREATIONDATE", Now());
        connection.Update("DOCUMENT", row, WhereId(id));
    } catch (...) {
        // Reported under the name of the operation it serves.
        Reraise("Kestrix.Document.CopyOriginalXMLtoXMLBody");
    }
}

void DocumentStore::CopyOriginalXMLtoTempXMLBody(int32_t id) {
    try {
        db::Connection connection = GetConnection();
        const std::string number = EncodeSqlNumber(id);
        // The standard body first, when there is one and the work copy is still empty.
        db::Recordset rs = connection.Query(
            std::string("SELECT TEMPXMLBODY, XMLBODY ") + "FROM DOCUMENT " +
            "WHERE DOCUMENTID = " + number + " AND (TEMPXMLBODY LIKE '' OR " +
            "TEMPXMLBODY IS NULL) AND NOT (XMLBODY LIKE '' OR " + "XMLBODY IS NULL)");
        if (!rs.Eof()) {
            db::EditRow row(rs);
            CopyBody(row, rs.Field("XMLBODY"), "TEMPXMLBODY");
            connection.Update("DOCUMENT", row, WhereId(id));
        }
        // Else the body as received, when the work copy is empty still.
        rs = connection.Query(std::string("SELECT ORIGINALXMLBODY, TEMPXMLBODY ") +
                              "FROM DOCUMENT WHERE DOCUMENTID = " + number + " AND " +
                              "(TEMPXMLBODY LIKE '' OR TEMPXMLBODY IS NULL)");
        if (!rs.Eof()) {
            db::EditRow row(rs);
            CopyBody(row, rs.Field("ORIGINALXMLBODY"), "TEMPXMLBODY");
            connection.Update("DOCUMENT", row, WhereId(id));
        }
    } catch (...) {
        Reraise("Kestrix.Document.CopyOriginalXMLtoTempXMLBody");
    }
}

void DocumentStore::UpdateTempXMLBodyWithNULLInDocument(int32_t id) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(std::string("Update DOCUMENT Set TEMPXMLBODY = Null WHERE ") +
                           "DOCUMENTID = " + EncodeSqlNumber(id));
    } catch (...) {
        Reraise("Kestrix.Document.UpdateTempXMLBodyWithNULLInDocument");
    }
}

xml::XmlDocument DocumentStore::GetTempXmlDomDocument(int32_t id) {
    try {
        return LoadDom(std::string("SELECT TEMPXMLBODY ") +
                           "FROM DOCUMENT WHERE DOCUMENTID = " + EncodeSqlNumber(id),
                       "TEMPXMLBODY", "Kestrix.Document.GetTempXmlDomDocument");
    } catch (...) {
        Reraise("Kestrix.Document.GetTempXmlDomDocument");
    }
}

bool DocumentStore::GetShowFlagFromDoc(const xml::XmlDocument& dom) {
    try {
        const std::string value = xsl_patterns::ExecuteXSLPattern(dom, "//QELSHOW");
        return value.empty() || ToUpper(Trim(value)) == "TRUE";
    } catch (...) {
        Reraise("Kestrix.Document.GetShowFlagFromDoc");
    }
}

}  // namespace kestrix
