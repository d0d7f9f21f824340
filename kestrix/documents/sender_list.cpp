// SenderList: who may publish a document type, and who wants a mail afterwards.
#include "kestrix/documents/sender_list.h"

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "platform/db/recordset.h"

namespace kestrix {

bool SenderList::GetNotification(const std::string& iDocTypeID, const std::string& iUserID) {
    try {
        if (iDocTypeID.empty()) return false;
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT NOTIFICATION FROM SENDERLIST WHERE DOCUMENTTYPEID = " +
            EncodeSqlText(iDocTypeID) + " " + "AND USERID = " + EncodeSqlText(iUserID) + " ");
        CloseConnection(connection);
        if (rs.Eof() || rs.IsNull("NOTIFICATION")) return false;
        return rs.Field("NOTIFICATION").ToBool();
    } catch (...) {
        Reraise("Kestrix.SenderList.GetNotification");
    }
}

bool SenderList::CheckAuthorizationForSender(const std::string& iDocTypeID,
                                             const std::string& iUserID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT * FROM SENDERLIST " + std::string("WHERE DOCUMENTTYPEID = ") +
            EncodeSqlText(iDocTypeID) + " " + "AND USERID = " + EncodeSqlText(iUserID) + " ");
        CloseConnection(connection);
        return !rs.Eof();
    } catch (...) {
        Reraise("Kestrix.SenderList.CheckAuthorizationForSender");
    }
}

}  // namespace kestrix
