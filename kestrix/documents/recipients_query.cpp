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
        std::string sql = std::string(
                              "SELECT EMAIL, HTMLATTACHMENTXSL, PUBLICATION.USERID, "
                              "DISTRIBUTIONLIST.HTMLATTACHMENT ") +
                          "FROM PUBLICATION INNER JOIN DISTRIBUTIONLIST ON PUBLICATION.USERID = " +
                          "DISTRIBUTIONLIST.USERID LEFT OUTER JOIN DOCUMENTTYPE ON "
                          "DOCUMENTTYPE.DOCUMENTTYPEID = " +
                          "DISTRIBUTIONLIST.DOCUMENTTYPEID WHERE (PUBLICATION.DOCUMENTID = " +
                          EncodeSqlNumber(iDocID) + ") " +
                          "AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = " + EncodeSqlText(iDocTypeID);
        // Publications in a deleted state never count as recipients.
        if (iEmailFlag)
            sql += std::string(") ") + "AND (DISTRIBUTIONLIST.EMAIL = 1) AND " +
                   "(PUBLICATION.STATUS NOT IN (2,3,7,8,9) )";
        else
            sql += std::string(") AND ") + "(PUBLICATION.STATUS NOT IN (2,3,7,8,9) )";
        db::Connection connection = GetConnection();
        return connection.Query(sql);
    } catch (...) {
        Reraise("Kestrix.Utility.GetRecipientsFromPublicationTable");
    }
}

}  // namespace kestrix
