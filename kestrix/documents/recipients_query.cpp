// The recipients of a document, from its publications and the type's distribution list.
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/documents/recipients_query.h"

namespace kestrix {

db::Recordset recipients::GetRecipientsFromPublicationTable(int32_t iDocID,
                                                         const std::string& iDocTypeID,
                                                         bool iEmailFlag) {
    try {
        // The document and the type are bound, so the text is one of two whatever the document.
        std::string sql =
            "SELECT EMAIL, HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT "
            "FROM PUBLICATION INNER JOIN DISTRIBUTIONLIST ON PUBLICATION.USERID = "
            "DISTRIBUTIONLIST.USERID LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
            "DISTRIBUTIONLIST.DOCUMENTTYPEID WHERE (PUBLICATION.DOCUMENTID = ?) "
            "AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = ?";
        // Publications in a deleted state never count as recipients.
        if (iEmailFlag)
            sql += ") AND (DISTRIBUTIONLIST.EMAIL = 1) AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) )";
        else
            sql += ") AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) )";
        db::Connection connection = GetConnection();
        return connection.Query(sql, {Variant(iDocID), Variant(iDocTypeID)});
    } catch (...) {
        Reraise("Kestrix.Utility.GetRecipientsFromPublicationTable");
    }
}

}  // namespace kestrix
