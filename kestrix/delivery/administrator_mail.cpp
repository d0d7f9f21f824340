// The administrator's mail and the delivery log check.
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/delivery/email.h"
#include "platform/base/strings.h"

namespace kestrix {

void email::SendEmailToAdministrator(const std::string& i_oFileName) {
    std::string address;
    try {
        address = GetParameter("AdminEmailAddress");
    } catch (...) {
        if (address.empty()) {
            LogError("Kestrix.Utility.SendEmailToAdministrator", LabelOrCode("SLBSH4104", 1033));
            return;
        }
    }
    try {
        Dictionary replacements;
        replacements.Add("[%FILENAME%]", i_oFileName);
        SendEmail(address, address, TranslateLabel("SLBSH4100", 1033),
                  TranslateLabel("SLBSH4103", 1033, replacements), "", "");
    } catch (...) {
        // The administrator's mail is a courtesy; a failure must not stop the caller.
        LogError("Kestrix.Utility.SendEmailToAdministrator");
    }
}

bool email::CheckSentLog(const std::string& iDocTypeID, const std::string& iSenderID, int32_t iBPID,
                           int32_t iDocID) {
    try {
        std::string sql =
            "SELECT SENDMETHODHISTORY.HISTORYID FROM SENDMETHODHISTORY LEFT OUTER JOIN DOCUMENT "
            "ON SENDMETHODHISTORY.DOCUMENTID = DOCUMENT.DOCUMENTID "
            "WHERE ((SENDMETHODHISTORY.DOCUMENTTYPEID = " + EncodeSqlText(iDocTypeID) + " "
            "AND BUSINESSPARTNERID = " + EncodeSqlNumber(iBPID) + ") "
            "OR (DOCUMENT.SENDER = " + EncodeSqlText(iSenderID) + ")) ";
        if (iDocID != 0) sql += "AND (SENDMETHODHISTORY.DOCUMENTID = " + EncodeSqlNumber(iDocID) + ")";
        db::Connection connection = GetConnection();
        return !connection.Query(sql).Eof();
    } catch (...) {
        Reraise("Kestrix.Utility.CheckSentLog");
    }
}

}  // namespace kestrix
