#include "platform/membership/records.h"

namespace kestrix::membership {

std::optional<UserRecord> FindUser(db::Connection& connection, std::string_view login) {
    std::string key = connection.EncodeText(login);
    db::Recordset rs = connection.Query(
        "SELECT USERID, BUSINESSPARTNERID, EMAIL, LANGUAGEID, LOCALEID, FIRSTNAME, SECONDNAME, "
        "EMPLOYEENUMBER FROM MEMBERUSER WHERE USERID = " + key);
    if (rs.Eof()) return std::nullopt;
    UserRecord user;
    user.login = rs.GetString("USERID");
    user.businessPartnerId = static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID"));
    user.email = rs.GetString("EMAIL");
    user.languageId = static_cast<int32_t>(rs.GetInt("LANGUAGEID"));
    user.localeId = static_cast<int32_t>(rs.GetInt("LOCALEID"));
    user.firstName = rs.GetString("FIRSTNAME");
    user.secondName = rs.GetString("SECONDNAME");
    user.employeeNumber = rs.GetString("EMPLOYEENUMBER");
    db::Recordset apps = connection.Query(
        "SELECT APPLICATIONID FROM MEMBERUSERAPPLICATION WHERE USERID = " + key +
        " ORDER BY APPLICATIONID");
    for (; !apps.Eof(); apps.MoveNext()) {
        user.applications.push_back(static_cast<int32_t>(apps.GetInt("APPLICATIONID")));
    }
    return user;
}

std::optional<std::string> FindPasswordHash(db::Connection& connection, std::string_view login) {
    db::Recordset rs = connection.Query("SELECT PASSWORDHASH FROM MEMBERUSER WHERE USERID = " +
                                        connection.EncodeText(login));
    if (rs.Eof()) return std::nullopt;
    return rs.GetString("PASSWORDHASH");
}

}  // namespace kestrix::membership
