#include "platform/membership/directory.h"

#include <map>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/membership/secrets.h"
#include "platform/membership/store.h"

namespace kestrix::membership {

namespace {

bool PartnerExists(db::Connection& connection, int32_t bpid) {
    return !connection
                .Query("SELECT BUSINESSPARTNERID FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = " +
                       db::Connection::EncodeNumber(bpid))
                .Eof();
}

void CheckKind(int16_t kind, const char* source) {
    if (kind != 0 && kind != 1) {
        throw Error(errnum::InvalidArgument, source,
                    "The partner code kind " + std::to_string(kind) + " is not 0 or 1.");
    }
}

/// Raises when `code` of `kind` is empty or already names a partner.
void CheckCodeFree(db::Connection& connection, int16_t kind, const std::string& code,
                   const char* source) {
    if (Trim(code).empty()) {
        throw Error(errnum::InvalidArgument, source, "A partner code cannot be empty.");
    }
    db::Recordset rs = connection.Query(
        "SELECT BUSINESSPARTNERID FROM BUSINESSPARTNERCODE WHERE KIND = " +
        db::Connection::EncodeNumber(kind) + " AND CODE = " + connection.EncodeText(code));
    if (!rs.Eof()) {
        throw Error(errnum::InvalidArgument, source,
                    "The code '" + code + "' of kind " + std::to_string(kind) +
                        " already belongs to business partner " +
                        std::to_string(rs.GetInt("BUSINESSPARTNERID")) + ".");
    }
}

void InsertCode(db::Connection& connection, int32_t bpid, int16_t kind, const std::string& code) {
    db::EditRow row;
    row.Set("BUSINESSPARTNERID", Variant(bpid));
    row.Set("KIND", Variant(kind));
    row.Set("CODE", Variant(code));
    connection.Insert("BUSINESSPARTNERCODE", row);
}

Variant NumberOrNull(int32_t value) { return value == 0 ? Variant(Null{}) : Variant(value); }
Variant TextOrNull(const std::string& value) {
    return value.empty() ? Variant(Null{}) : Variant(value);
}

/// The columns of a user's details: e-mail, language, locale, names, employee number.
db::EditRow DetailsRow(const UserRecord& user) {
    db::EditRow row;
    row.Set("EMAIL", TextOrNull(user.email));
    row.Set("LANGUAGEID", NumberOrNull(user.languageId));
    row.Set("LOCALEID", NumberOrNull(user.localeId));
    row.Set("FIRSTNAME", TextOrNull(user.firstName));
    row.Set("SECONDNAME", TextOrNull(user.secondName));
    row.Set("EMPLOYEENUMBER", TextOrNull(user.employeeNumber));
    return row;
}

}  // namespace

Directory::Directory(std::string connectionString) : connectionString_(std::move(connectionString)) {}

Directory Directory::ForSite(const std::string& siteConfigFile) {
    return Directory(MembershipConnectionString(siteConfigFile));
}

int32_t Directory::AddBusinessPartner(const std::string& name,
                                      const std::vector<std::string>& codes0,
                                      const std::vector<std::string>& codes1) {
    const char* source = "Ulmara.Directory.AddBusinessPartner";
    if (Trim(name).empty() || HasControlCharacter(name)) {
        throw Error(errnum::InvalidArgument, source,
                    "A business partner needs a name without control characters.");
    }
    db::Connection connection(connectionString_);
    // Checked before anything is written, so that a taken code leaves no half partner.
    for (const std::string& code : codes0) CheckCodeFree(connection, 0, code, source);
    for (const std::string& code : codes1) CheckCodeFree(connection, 1, code, source);
    db::EditRow row;
    row.Set("NAME", Variant(name));
    auto bpid = static_cast<int32_t>(connection.Insert("BUSINESSPARTNER", row, "BUSINESSPARTNERID"));
    for (const std::string& code : codes0) InsertCode(connection, bpid, 0, code);
    for (const std::string& code : codes1) InsertCode(connection, bpid, 1, code);
    return bpid;
}

void Directory::AddPartnerCode(int32_t bpid, int16_t kind, const std::string& code) {
    const char* source = "Ulmara.Directory.AddPartnerCode";
    CheckKind(kind, source);
    db::Connection connection(connectionString_);
    if (!PartnerExists(connection, bpid)) {
        throw Error(errnum::NotFound, source,
                    "The business partner " + std::to_string(bpid) + " does not exist.");
    }
    CheckCodeFree(connection, kind, code, source);
    InsertCode(connection, bpid, kind, code);
}

std::vector<PartnerRecord> Directory::BusinessPartners() const {
    db::Connection connection(connectionString_);
    std::vector<PartnerRecord> partners;
    std::map<int32_t, size_t> index;
    db::Recordset rs =
        connection.Query("SELECT BUSINESSPARTNERID, NAME FROM BUSINESSPARTNER ORDER BY BUSINESSPARTNERID");
    for (; !rs.Eof(); rs.MoveNext()) {
        PartnerRecord partner;
        partner.id = static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID"));
        partner.name = rs.GetString("NAME");
        index[partner.id] = partners.size();
        partners.push_back(std::move(partner));
    }
    db::Recordset codes = connection.Query(
        "SELECT BUSINESSPARTNERID, KIND, CODE FROM BUSINESSPARTNERCODE ORDER BY KIND, CODE");
    for (; !codes.Eof(); codes.MoveNext()) {
        auto it = index.find(static_cast<int32_t>(codes.GetInt("BUSINESSPARTNERID")));
        if (it == index.end()) continue;
        PartnerRecord& partner = partners[it->second];
        (codes.GetInt("KIND") == 0 ? partner.codes0 : partner.codes1)
            .push_back(codes.GetString("CODE"));
    }
    return partners;
}

void Directory::AddUser(const UserRecord& user, const std::optional<std::string>& password) {
    const char* source = "Ulmara.Directory.AddUser";
    if (Trim(user.login).empty() || user.login != Trim(user.login) || HasControlCharacter(user.login)) {
        throw Error(errnum::InvalidArgument, source,
                    "A login cannot be empty, begin or end with a blank, nor hold control characters.");
    }
    db::Connection connection(connectionString_);
    if (!PartnerExists(connection, user.businessPartnerId)) {
        throw Error(errnum::NotFound, source,
                    "The business partner " + std::to_string(user.businessPartnerId) +
                        " does not exist.");
    }
    if (FindPasswordHash(connection, user.login)) {
        throw Error(errnum::InvalidArgument, source,
                    "The user '" + user.login + "' exists already.");
    }
    db::EditRow row = DetailsRow(user);
    row.Set("USERID", Variant(user.login));
    row.Set("BUSINESSPARTNERID", Variant(user.businessPartnerId));
    row.Set("PASSWORDHASH", password ? Variant(HashPassword(*password)) : Variant(Null{}));
    connection.Insert("MEMBERUSER", row);
    connection.Close();
    for (int32_t application : user.applications) GrantApplication(user.login, application);
}

void Directory::UpdateUserDetails(const UserRecord& user) {
    db::Connection connection(connectionString_);
    if (connection.Update("MEMBERUSER", DetailsRow(user), "USERID = " + connection.EncodeText(user.login)) == 0) {
        throw Error(errnum::NoSuchUser, "Ulmara.Directory.UpdateUserDetails",
                    "The user '" + user.login + "' does not exist.");
    }
}

std::vector<UserRecord> Directory::Users() const {
    db::Connection connection(connectionString_);
    std::vector<std::string> logins;
    db::Recordset rs = connection.Query("SELECT USERID FROM MEMBERUSER ORDER BY USERID");
    for (; !rs.Eof(); rs.MoveNext()) logins.push_back(rs.GetString("USERID"));
    std::vector<UserRecord> users;
    for (const std::string& login : logins) {
        if (auto user = FindUser(connection, login)) users.push_back(std::move(*user));
    }
    return users;
}

void Directory::SetPassword(const std::string& login, const std::string& password) {
    db::Connection connection(connectionString_);
    db::EditRow row;
    row.Set("PASSWORDHASH", Variant(HashPassword(password)));
    if (connection.Update("MEMBERUSER", row, "USERID = " + connection.EncodeText(login)) == 0) {
        throw Error(errnum::NoSuchUser, "Ulmara.Directory.SetPassword",
                    "The user '" + login + "' does not exist.");
    }
}

void Directory::GrantApplication(const std::string& login, int32_t applicationId) {
    const char* source = "Ulmara.Directory.GrantApplication";
    db::Connection connection(connectionString_);
    std::string key = connection.EncodeText(login);
    if (!FindPasswordHash(connection, login)) {
        throw Error(errnum::NoSuchUser, source, "The user '" + login + "' does not exist.");
    }
    bool granted = !connection
                        .Query("SELECT APPLICATIONID FROM MEMBERUSERAPPLICATION WHERE USERID = " +
                               key + " AND APPLICATIONID = " +
                               db::Connection::EncodeNumber(applicationId))
                        .Eof();
    if (granted) return;
    db::EditRow row;
    row.Set("USERID", Variant(login));
    row.Set("APPLICATIONID", Variant(applicationId));
    connection.Insert("MEMBERUSERAPPLICATION", row);
}

std::string Directory::IssueToken(const std::string& login) {
    db::Connection connection(connectionString_);
    if (!FindPasswordHash(connection, login))
        throw Error(errnum::NoSuchUser, "Ulmara.Directory.IssueToken", "The user '" + login + "' does not exist.");
    const std::string token = "kx_" + RandomHex(32);
    connection.Execute("INSERT INTO MEMBERTOKEN (USERID, TOKENHASH, CREATIONDATE, REVOKED) VALUES (?, ?, ?, 0)",
                       {Variant(login), Variant(SecretHash(token)), Variant(DateTime::Now().Sortable())});
    return token;
}

std::optional<std::string> Directory::TokenUser(const std::string& token) const {
    if (token.size() != 67 || token.rfind("kx_", 0) != 0) return std::nullopt;
    db::Connection connection(connectionString_);
    db::Recordset rs = connection.Query(
        "SELECT MEMBERTOKEN.USERID FROM MEMBERTOKEN JOIN MEMBERUSER ON MEMBERUSER.USERID = MEMBERTOKEN.USERID "
        "WHERE MEMBERTOKEN.TOKENHASH = ? AND MEMBERTOKEN.REVOKED = 0",
        {Variant(SecretHash(token))});
    if (rs.Eof()) return std::nullopt;
    return rs.GetString("USERID");
}

int Directory::RevokeTokens(const std::string& login) {
    db::Connection connection(connectionString_);
    return static_cast<int>(
        connection.Execute("UPDATE MEMBERTOKEN SET REVOKED = 1 WHERE USERID = ? AND REVOKED = 0", {Variant(login)}));
}

}  // namespace kestrix::membership
