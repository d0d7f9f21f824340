// DistributionList: the recipients of each document type, and the answers to the platform
// before it deletes a partner, a user or a document type that the exchange may still use.
#include "kestrix/documents/distribution_list.h"

#include <vector>

#include "kestrix/documents/referential_integrity.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"

namespace kestrix {

namespace {

using referential_integrity::HasRow;
using referential_integrity::LogToPlatform;

const Variant* KeyValue(const Array& keyNames, const Array& keyValues, std::string_view key) {
    return referential_integrity::KeyValue(keyNames, keyValues, key, "Kestrix.DistributionList");
}

}  // namespace

bool DistributionList::UserFoundOnDBList(const std::string& iDocTypeID,
                                         const std::string& iUserID) {
    try {
        return HasRow("SELECT USERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " +
                      EncodeSqlText(iDocTypeID) + " " + "AND USERID = " + EncodeSqlText(iUserID) +
                      " ");
    } catch (...) {
        Reraise("Kestrix.Utility.UserFoundOnDBList");
    }
}

bool DistributionList::BPFoundOnDBList(const std::string& iDocTypeID, int32_t iBPID) {
    try {
        return HasRow("SELECT BUSINESSPARTNERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " +
                      EncodeSqlText(iDocTypeID) + " " +
                      "AND BUSINESSPARTNERID = " + EncodeSqlNumber(iBPID) + " ");
    } catch (...) {
        Reraise("Kestrix.Utility.BPFoundOnDBList");
    }
}

bool DistributionList::AnyBPFoundOnDBList(const std::string& iDocTypeID) {
    try {
        return HasRow(
            "SELECT DISTINCT BUSINESSPARTNERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " +
            EncodeSqlText(iDocTypeID));
    } catch (...) {
        Reraise("Kestrix.DistributionList.AnyBPFoundOnDBList");
    }
}

void DistributionList::RemoveBPsFromDBList(const std::string& iDocTypeID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM DISTRIBUTIONLIST WHERE (DOCUMENTTYPEID = " +
                           EncodeSqlText(iDocTypeID) + ")");
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.DtributionList.RemoveBPsFromDBList");
    }
}

std::optional<bool> DistributionList::CheckExistenceUsingSQL(const std::string& sql) {
    try {
        return HasRow(sql);
    } catch (...) {
        LogToPlatform(" / Kestrix.DistributionList.CheckExistenceUsingSQL(" + sql + ")");
        return std::nullopt;
    }
}

bool DistributionList::Exists(std::string_view origin, const Array& keyNames,
                              const Array& keyValues) {
    try {
        const std::string kind = ToUpper(origin);
        const Variant* partner = KeyValue(keyNames, keyValues, "BUSINESSPARTNERID");
        const Variant* user = KeyValue(keyNames, keyValues, "USERID");
        const Variant* type = KeyValue(keyNames, keyValues, "DOCUMENTTYPEID");

        std::vector<std::string> statements;
        if (kind == "BUSINESSPARTNER") {
            if (partner) {
                const std::string id = EncodeSqlNumber(partner->ToLong());
                for (const char* table :
                     {"DISTRIBUTIONLIST", "SENDERLIST", "RECEIVEMETHOD", "SENDMETHOD"}) {
                    statements.push_back("SELECT BUSINESSPARTNERID FROM " + std::string(table) +
                                         " WHERE BUSINESSPARTNERID = " + id);
                }
                statements.push_back(
                    "SELECT ORIGINALID FROM RULEHEADER WHERE RULETYPE = " +
                    EncodeSqlNumber(static_cast<int32_t>(RuleType::DOCUMENTTYPERULE)) +
                    " AND ORIGINALID = " + id);
                statements.push_back(
                    "SELECT BUSINESSPARTNERID FROM SENDMETHODHISTORY WHERE BUSINESSPARTNERID = " +
                    id);
            }
        } else if (kind == "USER") {
            if (user) {
                const std::string id = EncodeSqlText(user->ToString());
                for (const char* table : {"DISTRIBUTIONLIST", "PUBLICATION", "SENDERLIST"})
                    statements.push_back("SELECT USERID FROM " + std::string(table) +
                                         " WHERE USERID = " + id);
            }
        } else if (kind == "USER_DOCUMENTTYPE" || kind == "USER_BUSINESSPARTNER") {
            // Each key that is given narrows the question; the conditions are joined only
            // between themselves, so a missing key never leaves a dangling "AND".
            std::vector<std::string> conditions;
            if (user) conditions.push_back("USERID = " + EncodeSqlText(user->ToString()));
            if (kind == "USER_DOCUMENTTYPE" && type)
                conditions.push_back("DOCUMENTTYPEID = " + EncodeSqlText(type->ToString()));
            if (kind == "USER_BUSINESSPARTNER" && partner)
                conditions.push_back("BUSINESSPARTNERID = " + EncodeSqlNumber(partner->ToLong()));
            if (!conditions.empty()) {
                std::string sql = "SELECT USERID FROM DISTRIBUTIONLIST WHERE " + conditions[0];
                for (size_t i = 1; i < conditions.size(); ++i) sql += " AND " + conditions[i];
                statements.push_back(std::move(sql));
            }
        } else if (kind == "DOCUMENTTYPE") {
            if (type)
                statements.push_back(
                    "SELECT DOCUMENTTYPEID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " +
                    EncodeSqlText(type->ToString()));
        }

        for (const std::string& sql : statements) {
            std::optional<bool> found = CheckExistenceUsingSQL(sql);
            // A reference that could not be checked is taken as one: the object stays.
            if (!found || *found) return true;
        }
        return false;
    } catch (...) {
        LogToPlatform(" / Kestrix.DistributionList.IReferentialIntegrity_Exists()");
        return true;
    }
}

bool DistributionList::BeforeDelete(std::string_view, const Array&, const Array&) { return true; }

}  // namespace kestrix
