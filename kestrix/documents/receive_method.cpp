// ReceiveMethod: the style sheet of each partner's incoming documents of a type.
#include "kestrix/documents/receive_method.h"

#include <optional>
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/db/recordset.h"

namespace kestrix {

std::string ReceiveMethod::GetXslFileName(int32_t iBPID, const std::string& iDocTypeID) {
    try {
        // Kept by the thread while a site cache scope lives.
        const std::string key = iDocTypeID + '\x1f' + std::to_string(iBPID);
        return CachedSiteValue(SiteCacheKind::ReceiveMethod, key,
                               [&]() -> std::optional<std::string> {
                                   db::Connection connection = GetConnection();
                                   db::Recordset rs = connection.Query(
                                       "SELECT XSLFILENAME FROM RECEIVEMETHOD WHERE DOCUMENTTYPEID "
                                       "= ? AND BUSINESSPARTNERID = ?",
                                       {Variant(iDocTypeID), Variant(iBPID)});
                                   if (rs.Eof()) return std::string();
                                   return rs.GetString("XSLFILENAME");
                               })
            .value_or(std::string());
    } catch (...) {
        Reraise("Kestrix.ReceiveMethod.GetXslFileName");
    }
}

int32_t ReceiveMethod::GetReceiveMethodID(int32_t iBusinessPartnerID,
                                          const std::string& iDocTypeID) {
    try {
        if (iDocTypeID.empty() || iBusinessPartnerID == 0) return 0;
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT RECEIVEMETHODID FROM RECEIVEMETHOD WHERE BUSINESSPARTNERID = " +
            EncodeSqlNumber(iBusinessPartnerID) +
            " AND DOCUMENTTYPEID = " + EncodeSqlText(iDocTypeID));
        CloseConnection(connection);
        if (rs.Eof()) return 0;
        return rs.Field("RECEIVEMETHODID").ToLong();
    } catch (...) {
        Reraise("Kestrix.ReceiveMethod.GetReceivemethodID");
    }
}

int32_t ReceiveMethod::InsertReceiveMethod(int32_t iBPID, const std::string& iDocTypeID,
                                           const std::string& iXslFileName) {
    try {
        int32_t id = GetReceiveMethodID(iBPID, iDocTypeID);
        if (id != 0) {
            UpdateReceiveMethod(id, iXslFileName);
            return id;
        }
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", iDocTypeID);
        row.Set("BUSINESSPARTNERID", iBPID);
        row.Set("XSLFILENAME", iXslFileName);
        db::Connection connection = GetConnection();
        id =
            KeyAsInt32(connection.Insert("RECEIVEMETHOD", row, "RECEIVEMETHODID"), "RECEIVEMETHOD");
        CloseConnection(connection);
        return id;
    } catch (...) {
        Reraise("Kestrix.ReceiveMethod.InsertReceiveMethod");
    }
}

void ReceiveMethod::UpdateReceiveMethod(int32_t iRMID, const std::string& iXslFileName) {
    try {
        db::EditRow row;
        row.Set("XSLFILENAME", iXslFileName);
        db::Connection connection = GetConnection();
        connection.Update("RECEIVEMETHOD", row, "RECEIVEMETHODID = " + EncodeSqlNumber(iRMID));
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.ReceiveMethod.UpdateReceiveMethod");
    }
}

void ReceiveMethod::DeleteReceiveMethod(int32_t iRMID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(
            "DELETE FROM RECEIVEMETHOD WHERE (RECEIVEMETHODID = " + EncodeSqlNumber(iRMID) + ")");
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.ReceiveMethod.DeleteReceiveMethod");
    }
}

}  // namespace kestrix
