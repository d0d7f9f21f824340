// Collaboration: the queries of the detail views and the document type lists, and the calls by
// name.
#include <regex>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/users.h"
#include "kestrix/web/collaboration.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

/// The page's order of the document type list rebuilt from the known columns: a list of
/// DOCUMENTTYPEID or DESCRIPTION (optionally "DOCUMENTTYPE."), each optionally ASC or DESC.
/// Anything else is refused.
std::string CheckedOrder(const std::string& order) {
    static const std::regex item(R"(^\s*(?:DOCUMENTTYPE\s*\.\s*)?(DOCUMENTTYPEID|DESCRIPTION)(?:\s+(ASC|DESC))?\s*$)",
                                 std::regex::icase);
    std::string checked;
    size_t start = 0;
    while (true) {
        const size_t comma = order.find(',', start);
        const std::string part = order.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::smatch m;
        if (!std::regex_match(part, m, item)) {
            Dictionary replacements;
            replacements.Add("[%ORDER%]", order);
            Raise(EnumerationErrors::InvalidParamValue, "Kestrix.getAllDocumentTypes",
                  TranslateLabel("KXL0602", 0, replacements));
        }
        if (!checked.empty()) checked += ", ";
        checked += ToUpper(m[1].str());
        if (m[2].matched) checked += " " + ToUpper(m[2].str());
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return checked;
}

/// Only a document of the user's own boxes: he sent it or holds a publication of it.
void AppendUsersOwn(BoundSql& q, const std::string& user) {
    q.Append(" AND (DOCUMENT.SENDER = ").Bind(Variant(user))
        .Append(" OR EXISTS (SELECT 1 FROM PUBLICATION OWN WHERE OWN.DOCUMENTID = DOCUMENT.DOCUMENTID"
                " AND OWN.USERID = ").Bind(Variant(user)).Append("))");
}

constexpr const char* kTypeColumns =
    "DOCUMENTTYPE.DESCRIPTION, DOCUMENTTYPE.DOCUMENTTYPEID, DOCUMENTTYPE.ICONFILENAME, "
    "DOCUMENTTYPE.EXTDESCRIPTION";

}  // namespace

Dictionary Collaboration::getAllDocumentTypes(const std::string& iOrderBy) {
    try {
        std::string sql = "SELECT DOCUMENTTYPEID, DESCRIPTION FROM DOCUMENTTYPE";
        if (!Trim(iOrderBy).empty()) sql += " ORDER BY " + CheckedOrder(iOrderBy);
        db::Connection connection = GetConnection();
        Dictionary types;
        for (db::Recordset rs = connection.Query(sql); !rs.Eof(); rs.MoveNext())
            types.Add(Trim(rs.GetString("DOCUMENTTYPEID")), Trim(rs.GetString("DESCRIPTION")));
        return types;
    } catch (...) {
        Reraise("Kestrix.getAllDocumentTypes");
    }
}

BoundSql Collaboration::DocumentDetailsQuery(int16_t iIsSender, int32_t iDocID, const std::string& iUser) {
    try {
        BoundSql q;
        if (iIsSender == 0) {
            q.Append("SELECT DOCUMENT.CREATIONDATE, DOCUMENT.STATUS, DOCUMENTTYPE.DESCRIPTION, "
                     "TAGSVALUE.TAGVALUE, TAGSCONFIG.DESCRIPTION AS TAGDESCRIPTION From Document "
                     "INNER JOIN DOCUMENTTYPE ON Document.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
                     "LEFT OUTER JOIN TAGSCONFIG ON Document.DOCUMENTTYPEID = TAGSCONFIG.DOCUMENTTYPEID "
                     "LEFT OUTER JOIN TAGSVALUE ON TAGSVALUE.TAGID = TAGSCONFIG.TAGID AND "
                     "(TAGSVALUE.DOCUMENTID = ").Bind(Variant(iDocID))
                .Append(") WHERE   (DOCUMENT.SENDER = ").Bind(Variant(iUser))
                .Append(") AND (DOCUMENT.DOCUMENTID = ").Bind(Variant(iDocID))
                .Append(") AND (DOCUMENT.STATUS <> 4) ORDER BY TAGSCONFIG.SEQUENCENUMBER");
        } else if (iIsSender == 1) {
            q.Append("SELECT DOCUMENT.SENDER, DOCUMENT.CREATIONDATE, PUBLICATION.STATUS, "
                     "PUBLICATION.FORWARD, DOCUMENTTYPE.DESCRIPTION, "
                     "TAGSVALUE.TAGVALUE, TAGSCONFIG.DESCRIPTION AS TAGDESCRIPTION "
                     "FROM DOCUMENT INNER JOIN DOCUMENTTYPE ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
                     "INNER JOIN PUBLICATION ON PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID "
                     "LEFT OUTER JOIN TAGSVALUE ON DOCUMENT.DOCUMENTID = TAGSVALUE.DOCUMENTID "
                     "LEFT OUTER JOIN TAGSCONFIG ON TAGSVALUE.TAGID = TAGSCONFIG.TAGID "
                     "WHERE (PUBLICATION.USERID = ").Bind(Variant(iUser))
                .Append(") AND (DOCUMENT.DOCUMENTID = ").Bind(Variant(iDocID))
                .Append(") AND DOCUMENT.STATUS <> 0 ORDER BY TAGSCONFIG.SEQUENCENUMBER");
        } else if (iIsSender == 2) {
            q.Append("SELECT DOCUMENT.SENDER, DOCUMENT.CREATIONDATE, DOCUMENT.STATUS,  DOCUMENTTYPE.DESCRIPTION, "
                     "TAGSVALUE.TAGVALUE, TAGSCONFIG.DESCRIPTION AS TAGDESCRIPTION "
                     "FROM DOCUMENT INNER JOIN DOCUMENTTYPE ON Document.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
                     "LEFT OUTER JOIN TAGSVALUE ON DOCUMENT.DOCUMENTID = TAGSVALUE.DOCUMENTID "
                     "LEFT OUTER JOIN TAGSCONFIG ON TAGSVALUE.TAGID = TAGSCONFIG.TAGID "
                     "WHERE (DOCUMENT.DOCUMENTID = ").Bind(Variant(iDocID)).Append(")");
            AppendUsersOwn(q, iUser);
            q.Append(" ORDER BY TAGSCONFIG.SEQUENCENUMBER ");
        }
        return q;
    } catch (...) {
        Reraise("Collaboration.GetDocumentDetails2");
    }
}

std::string Collaboration::GetDocumentDetails2(int16_t iIsSender, int32_t iDocID, const std::string& iUser) {
    try {
        return DocumentDetailsQuery(iIsSender, iDocID, iUser).Inline();
    } catch (...) {
        Reraise("Collaboration.GetDocumentDetails2");
    }
}

BoundSql Collaboration::AddresseeStatusQuery(int32_t iDocID, const std::string& iUser) {
    BoundSql q;
    q.Append("SELECT PUBLICATION.USERID, PUBLICATION.STATUS FROM PUBLICATION INNER JOIN DOCUMENT ON "
             "PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID WHERE (PUBLICATION.DOCUMENTID = ")
        .Bind(Variant(iDocID))
        .Append(") AND (DOCUMENT.SENDER = ").Bind(Variant(iUser)).Append(")");
    return q;
}

std::string Collaboration::GetAddresseeStatusQueryStr(int32_t iDocID, const std::string& iUser) {
    try {
        return AddresseeStatusQuery(iDocID, iUser).Inline();
    } catch (...) {
        Reraise("Collaboration.GetAddresseeStatusQueryStr");
    }
}

BoundSql Collaboration::DocumentAttachmentsQuery(bool /*iIsSender*/, int32_t iDocID, const std::string& iUser) {
    BoundSql q;
    q.Append("SELECT ATTACHMENT.ATTACHMENTFILENAME, Attachment.ATTACHMENTID FROM ATTACHMENT "
             "WHERE (ATTACHMENT.DOCUMENTID = ").Bind(Variant(iDocID))
        .Append(") AND EXISTS (SELECT 1 FROM DOCUMENT WHERE DOCUMENT.DOCUMENTID = ATTACHMENT.DOCUMENTID");
    AppendUsersOwn(q, iUser);
    q.Append(")");
    return q;
}

std::string Collaboration::GetDocumentAttachmentsQueryStr(bool iIsSender, int32_t iDocID,
                                                          const std::string& iUser) {
    try {
        return DocumentAttachmentsQuery(iIsSender, iDocID, iUser).Inline();
    } catch (...) {
        Reraise("Collaboration.GetDocumentAttachmentsQueryStr");
    }
}

BoundSql Collaboration::DocumentTypeListQuery(int16_t iMode, const std::string& iUser) {
    try {
        BoundSql q;
        const std::string columns = kTypeColumns;
        if (iMode == 0) {
            q.Append("SELECT DISTINCT " + columns +
                     " FROM DOCUMENTTYPE INNER JOIN DOCUMENT ON DOCUMENTTYPE.DOCUMENTTYPEID = DOCUMENT.DOCUMENTTYPEID "
                     "WHERE (DOCUMENT.SENDER = ").Bind(Variant(iUser))
                .Append(") AND DOCUMENT.STATUS <> 4 GROUP BY " + columns + " ORDER BY DOCUMENTTYPE.DESCRIPTION");
        } else if (iMode == 1) {
            q.Append("SELECT DISTINCT " + columns +
                     " FROM DOCUMENTTYPE INNER JOIN DOCUMENT ON DOCUMENTTYPE.DOCUMENTTYPEID = DOCUMENT.DOCUMENTTYPEID "
                     "INNER JOIN PUBLICATION ON DOCUMENT.DOCUMENTID = PUBLICATION.DOCUMENTID "
                     "WHERE (DOCUMENT.STATUS <> 0 AND PUBLICATION.USERID = ").Bind(Variant(iUser))
                .Append(" AND PUBLICATION.STATUS <> 2 AND PUBLICATION.STATUS <> 3 AND PUBLICATION.STATUS <> 7"
                        " AND PUBLICATION.STATUS <> 8 AND PUBLICATION.STATUS <> 9) AND (DOCUMENT.SHOW = 1) "
                        "GROUP BY " + columns + "  ORDER BY DOCUMENTTYPE.DESCRIPTION");
        } else if (iMode == 2) {
            std::string user = iUser;
            const int32_t partner = users::GetAUBusinessPartnerID(user);
            const std::string select = "SELECT   " + columns;
            q.Append("(" + select +
                     " FROM    PUBLICATIONERRORS PE INNER JOIN DOCUMENT D ON D.DOCUMENTID = PE.DOCUMENTID"
                     " INNER JOIN DOCUMENTTYPE ON D.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID"
                     " WHERE PE.CLOSED = 0 AND   D.SENDER = ").Bind(Variant(iUser))
                .Append(" GROUP BY " + columns + " ) UNION ( " + select +
                        " FROM   SENDMETHODHISTORY SMH INNER JOIN PUBLICATIONERRORS PE ON "
                        " SMH.PUBLICATIONERRORID = PE.PUBLICATIONERRORID INNER JOIN DOCUMENT D ON "
                        " SMH.DOCUMENTID = D.DOCUMENTID INNER JOIN DOCUMENTTYPE ON"
                        " SMH.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID INNER JOIN PUBLICATION P ON "
                        " D.DOCUMENTID = P.DOCUMENTID WHERE  SMH.PUBLICATIONERRORID > 0"
                        " AND    SMH.BUSINESSPARTNERID = ").Bind(Variant(partner))
                .Append(" AND    P.USERID = ").Bind(Variant(iUser))
                .Append(" AND    P.STATUS NOT IN (2,3,7,8,9)  AND    D.SHOW = 1  GROUP BY  " + columns + ")");
        }
        return q;
    } catch (...) {
        Reraise("Collaboration.GetDocumentTypeListQueryStr2");
    }
}

std::string Collaboration::GetDocumentTypeListQueryStr2(int16_t iMode, const std::string& iUser) {
    try {
        return DocumentTypeListQuery(iMode, iUser).Inline();
    } catch (...) {
        Reraise("Collaboration.GetDocumentTypeListQueryStr2");
    }
}

Variant Collaboration::Invoke(std::string_view method, std::span<Variant> args) {
    const size_t n = args.size();
    auto is = [&](std::string_view name, size_t count) { return n == count && IEquals(method, name); };

    if (IEquals(method, "getAllDocumentTypes") && n <= 1) {
        // A late-bound caller receives the pairs in order: an array of (identifier, description).
        Array pairs;
        for (const auto& [key, value] : getAllDocumentTypes(n ? args[0].ToString() : std::string()))
            pairs.push_back(Variant(Array{Variant(key), value}));
        return Variant(std::move(pairs));
    }
    if (IEquals(method, "deleteDocument2") && (n == 5 || n == 6))
        return deleteDocument2(args[0].ToLong(), args[1].ToString(), args[2].ToLong(), args[3].ToString(),
                               args[4].ToString(), n == 6 && args[5].ToBool());
    if (is("AcceptPublication", 2)) {
        AcceptPublication(args[0].ToLong(), args[1].ToString());
        return Variant{};
    }
    if (IEquals(method, "SetPublicationStatus") && (n == 3 || n == 4)) {
        SetPublicationStatus(args[0].ToLong(), args[1].ToString(), args[2].ToLong(),
                             n == 4 ? args[3].ToLong() : 0);
        return Variant{};
    }
    if (is("GetPublicationStatus", 2)) return GetPublicationStatus(args[0].ToLong(), args[1].ToString());
    if (is("GetDocumentDetails2", 3))
        return GetDocumentDetails2(static_cast<int16_t>(args[0].ToLong()), args[1].ToLong(), args[2].ToString());
    if (is("GetAddresseeStatusQueryStr", 2)) return GetAddresseeStatusQueryStr(args[0].ToLong(), args[1].ToString());
    if (is("GetDocumentAttachmentsQueryStr", 3))
        return GetDocumentAttachmentsQueryStr(args[0].ToBool(), args[1].ToLong(), args[2].ToString());
    if (is("GetDocumentTypeListQueryStr2", 2))
        return GetDocumentTypeListQueryStr2(static_cast<int16_t>(args[0].ToLong()), args[1].ToString());
    if (is("ClosePublicationErrorsForOneCategory", 2)) {
        ClosePublicationErrorsForOneCategory(args[0].ToLong(), args[1].ToString());
        return Variant{};
    }
    if (IEquals(method, "ClosePublicationErrors") && (n == 1 || n == 2)) {
        ClosePublicationErrors(args[0].ToLong(), n == 2 ? args[1].ToLong() : 0);
        return Variant{};
    }
    if (is("DeletePublicationErrors", 1)) {
        DeletePublicationErrors(args[0].ToLong());
        return Variant{};
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix
