// Who may see a document and what he sees of it.
#include "kestrix/web/document_access.h"

#include <deque>
#include <fstream>

#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/users.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"
#include "platform/services/log.h"

namespace kestrix::web {

namespace {

/// A text column of the current row; NULL reads as "".
std::string Text(const db::Recordset& rs, std::string_view column) {
    const Variant& value = rs.Field(column);
    return value.IsNull() ? std::string() : value.ToString();
}

/// The user's business partner; 0 when the user is not known to the directory.
int32_t PartnerOf(const std::string& user) {
    try {
        std::string login = user;
        return users::GetAUBusinessPartnerID(login);
    } catch (...) {
        LogError("Kestrix.DocumentAccess.PartnerOf");
        return 0;
    }
}

/// The document's row when the user sent it or holds a publication of it; a document
/// without type (an upload not yet published) is nobody's.
db::Recordset VisibleDocument(db::Connection& connection, const std::string& user, int32_t id) {
    return connection.Query(
        "SELECT DOCUMENT.DOCUMENTID, DOCUMENT.DOCUMENTTYPEID, DOCUMENT.SENDER, DOCUMENT.STATUS, "
        "DOCUMENT.CREATIONDATE, DOCUMENT.ENTRANCEDATE, DOCUMENT.DOC_DOCUMENTID, "
        "DOCUMENTTYPE.DESCRIPTION "
        "FROM DOCUMENT LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
        "DOCUMENT.DOCUMENTTYPEID "
        "WHERE DOCUMENT.DOCUMENTID = ? AND DOCUMENT.DOCUMENTTYPEID IS NOT NULL "
        "AND (DOCUMENT.SENDER = ? OR EXISTS (SELECT 1 FROM PUBLICATION OWN "
        "WHERE OWN.DOCUMENTID = DOCUMENT.DOCUMENTID AND OWN.USERID = ?))",
        {Variant(id), Variant(user), Variant(user)});
}

/// Rows of a document for its reader: `select` (its one value the document) for the sender;
/// for a recipient narrowed by `partnerCondition`, whose one value is his business partner.
db::Recordset QueryForReader(const std::string& user, const DocumentDetails& document,
                             const std::string& select, const std::string& partnerCondition,
                             const std::string& order) {
    db::Connection connection = GetConnection();
    if (document.isSender) return connection.Query(select + order, {Variant(document.id)});
    return connection.Query(select + partnerCondition + order,
                            {Variant(document.id), Variant(PartnerOf(user))});
}

bool TypeMatches(const db::Recordset& rs, const std::string& type) {
    const std::string wanted = Trim(type);
    const std::string stored = Trim(Text(rs, "DOCUMENTTYPEID"));
    return !stored.empty() && (wanted.empty() || IEquals(wanted, stored));
}

}  // namespace

bool UserMaySeeDocument(const std::string& user, int32_t id, const std::string& type) {
    if (Trim(user).empty() || id <= 0) return false;
    db::Connection connection = GetConnection();
    const db::Recordset rs = VisibleDocument(connection, user, id);
    return !rs.Eof() && TypeMatches(rs, type);
}

std::optional<DocumentDetails> FindDocument(const std::string& user, int32_t id,
                                            const std::string& type) {
    if (Trim(user).empty() || id <= 0) return std::nullopt;
    db::Connection connection = GetConnection();
    const db::Recordset rs = VisibleDocument(connection, user, id);
    if (rs.Eof() || !TypeMatches(rs, type)) return std::nullopt;

    DocumentDetails d;
    d.id = id;
    d.type = Trim(Text(rs, "DOCUMENTTYPEID"));
    d.typeDescription = Trim(Text(rs, "DESCRIPTION"));
    d.sender = Trim(Text(rs, "SENDER"));
    d.status = static_cast<int16_t>(rs.GetInt("STATUS"));
    d.creationDate = Text(rs, "CREATIONDATE");
    d.entranceDate = Text(rs, "ENTRANCEDATE");
    d.parentId = static_cast<int32_t>(rs.GetInt("DOC_DOCUMENTID"));
    d.isSender = d.sender == user;

    for (db::Recordset p = connection.Query(
             "SELECT USERID, STATUS, FORWARD FROM PUBLICATION WHERE DOCUMENTID = ? ORDER BY USERID",
             {Variant(id)});
         !p.Eof(); p.MoveNext()) {
        DocumentRecipient r{Text(p, "USERID"), static_cast<int16_t>(p.GetInt("STATUS")),
                            p.GetInt("FORWARD") != 0};
        if (r.user == user) d.publicationStatus = r.status;
        if (d.isSender || r.user == user) d.recipients.push_back(std::move(r));
    }
    d.children = static_cast<int32_t>(
        connection
            .Query("SELECT COUNT(*) AS N FROM DOCUMENT WHERE DOC_DOCUMENTID = ?", {Variant(id)})
            .GetInt("N"));
    for (db::Recordset a = connection.Query(
             "SELECT ATTACHMENTFILENAME FROM ATTACHMENT WHERE DOCUMENTID = ? ORDER BY ATTACHMENTID",
             {Variant(id)});
         !a.Eof(); a.MoveNext())
        d.attachments.push_back(Text(a, "ATTACHMENTFILENAME"));
    return d;
}

std::vector<DocumentError> DocumentErrors(const std::string& user, int32_t id, int32_t language) {
    const std::optional<DocumentDetails> document = FindDocument(user, id, {});
    return document ? DocumentErrors(user, *document, language) : std::vector<DocumentError>();
}

std::vector<DocumentError> DocumentErrors(const std::string& user, const DocumentDetails& document,
                                          int32_t language) {
    db::Recordset rs = QueryForReader(user, document,
                                      "SELECT PE.PUBLICATIONERRORID, PE.CREATIONDATE, "
                                      "PE.ERRORNUMBER, PE.DESCRIPTION, PE.LABEL, PE.CLOSED "
                                      "FROM PUBLICATIONERRORS PE WHERE PE.DOCUMENTID = ?",
                                      " AND EXISTS (SELECT 1 FROM SENDMETHODHISTORY SMH WHERE "
                                      "SMH.PUBLICATIONERRORID = PE.PUBLICATIONERRORID "
                                      "AND SMH.BUSINESSPARTNERID = ?)",
                                      " ORDER BY PE.PUBLICATIONERRORID");

    std::vector<DocumentError> errors;
    for (; !rs.Eof(); rs.MoveNext()) {
        DocumentError e;
        e.id = static_cast<int32_t>(rs.GetInt("PUBLICATIONERRORID"));
        e.creationDate = Text(rs, "CREATIONDATE");
        e.number = static_cast<int32_t>(rs.GetInt("ERRORNUMBER"));
        e.closed = rs.GetInt("CLOSED") != 0;
        const std::string label = Trim(Text(rs, "LABEL"));
        if (label.empty()) {
            e.message = Text(rs, "DESCRIPTION");
        } else {
            Dictionary replacements;
            try {
                ReadReplacements(replacements, "PUBLICATIONERRORS", e.id);
            } catch (...) {
                LogError("Kestrix.DocumentAccess.DocumentErrors");
            }
            e.message = LabelOrCode(label, language, replacements);
        }
        errors.push_back(std::move(e));
    }
    return errors;
}

std::vector<DeliveryRecord> DeliveryHistory(const std::string& user, int32_t id) {
    const std::optional<DocumentDetails> document = FindDocument(user, id, {});
    return document ? DeliveryHistory(user, *document) : std::vector<DeliveryRecord>();
}

std::vector<DeliveryRecord> DeliveryHistory(const std::string& user,
                                            const DocumentDetails& document) {
    db::Recordset rs = QueryForReader(user, document,
                                      "SELECT SENDDATE, BUSINESSPARTNERID, SENDMETHODID, STATUS, "
                                      "PUBLICATIONERRORID FROM SENDMETHODHISTORY "
                                      "WHERE DOCUMENTID = ?",
                                      " AND BUSINESSPARTNERID = ?", " ORDER BY HISTORYID");
    std::vector<DeliveryRecord> history;
    for (; !rs.Eof(); rs.MoveNext())
        history.push_back({Text(rs, "SENDDATE"),
                           static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID")),
                           static_cast<int32_t>(rs.GetInt("SENDMETHODID")),
                           static_cast<int16_t>(rs.GetInt("STATUS")),
                           static_cast<int32_t>(rs.GetInt("PUBLICATIONERRORID"))});
    return history;
}

std::vector<std::string> DocumentLogEntries(const DocumentDetails& document, size_t window,
                                            size_t most) {
    if (!document.isSender) return {};
    const int32_t id = document.id;
    std::ifstream log(services::Log().file(), std::ios::binary | std::ios::ate);
    if (!log) return {};
    const std::streamoff size = log.tellg();
    const std::streamoff start =
        size > static_cast<std::streamoff>(window) ? size - static_cast<std::streamoff>(window) : 0;
    log.seekg(start);
    std::string line;
    if (start > 0) std::getline(log, line);  // the first line read may be cut
    // The field as a plain entry writes it, and as a JSON entry does.
    const std::string plain = "document=" + std::to_string(id);
    const std::string json = "\"document\":\"" + std::to_string(id) + "\"";
    std::deque<std::string> entries;
    while (std::getline(log, line)) {
        size_t at = line.find(plain);
        while (at != std::string::npos) {
            const size_t end = at + plain.size();
            if ((at == 0 || line[at - 1] == ' ') &&
                (end == line.size() || line[end] == ' ' || line[end] == '\r'))
                break;
            at = line.find(plain, end);
        }
        if (at == std::string::npos && line.find(json) == std::string::npos) continue;
        entries.push_back(line);
        if (entries.size() > most) entries.pop_front();
    }
    return {entries.begin(), entries.end()};
}

}  // namespace kestrix::web
