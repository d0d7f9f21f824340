// SenderList: who may publish a document type, and who wants a mail afterwards.
#include "kestrix/documents/sender_list.h"

#include <optional>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/db/recordset.h"

namespace kestrix {

namespace {

// The user's row on the type's sender list: nothing when there is none, else "1" when the
// user wants a mail afterwards and "" when not. Kept by the thread while a site cache scope
// lives.
std::optional<std::string> SenderRow(const std::string& docType, const std::string& user) {
    return CachedSiteValue(
        SiteCacheKind::SenderList, docType + '\x1f' + user, [&]() -> std::optional<std::string> {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query(
                "SELECT NOTIFICATION FROM SENDERLIST WHERE DOCUMENTTYPEID = ? AND USERID = ?",
                {Variant(docType), Variant(user)});
            if (rs.Eof()) return std::nullopt;
            return !rs.IsNull("NOTIFICATION") && rs.Field("NOTIFICATION").ToBool() ? "1" : "";
        });
}

}  // namespace

bool SenderList::GetNotification(const std::string& iDocTypeID, const std::string& iUserID) {
    try {
        if (iDocTypeID.empty()) return false;
        return SenderRow(iDocTypeID, iUserID) == "1";
    } catch (...) {
        Reraise("Kestrix.SenderList.GetNotification");
    }
}

bool SenderList::CheckAuthorizationForSender(const std::string& iDocTypeID,
                                             const std::string& iUserID) {
    try {
        return SenderRow(iDocTypeID, iUserID).has_value();
    } catch (...) {
        Reraise("Kestrix.SenderList.CheckAuthorizationForSender");
    }
}

}  // namespace kestrix
