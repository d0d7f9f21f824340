#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/error.h"
#include "platform/component/component.h"
#include "platform/db/connection.h"
#include "platform/membership/business_partner.h"
#include "platform/membership/directory.h"
#include "platform/membership/members.h"
#include "platform/membership/store.h"
#include "platform/membership/user.h"
#include "platform/membership/validator.h"
#include "platform/services/configuration.h"
#include "tests/support/backends.h"

namespace fs = std::filesystem;
using kestrix::Array;
using kestrix::Error;
using kestrix::Variant;
using kestrix::services::Configuration;
namespace membership = kestrix::membership;
namespace errnum = kestrix::membership::errnum;

namespace {

constexpr const char* kScriptUser = "script";
constexpr const char* kLdapRoot = "o=kestrix";
constexpr const char* kScriptCode = "s3cret";
const std::string kFullScriptUser = std::string(kScriptUser) + "," + kLdapRoot;

using kestrix::test::ScopedHome;

/// The number of the error `call` raises (0 when it raises none).
template <class F>
int32_t ErrorNumber(F&& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

/// A site whose directory lives in a scratch database of one backend, found through the
/// server configuration (the connection string of the application "Kestrix"), with two
/// partners and three users.
class Membership : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        database_ = std::make_unique<kestrix::test::ScratchDatabase>(GetParam());
        kestrix::test::ApplyKestrixSchema(*database_);
        siteConfig_ = (site_.path() / "config" / "SiteConfiguration.xml").string();
        Configuration::SetValue(siteConfig_, "MEMBERSHIP", "MemScriptUser", kScriptUser);
        Configuration::SetValue(siteConfig_, "MEMBERSHIP", "LDAPRoot", kLdapRoot);
        Configuration::SetValue(siteConfig_, "MEMBERSHIP", "MemScriptCode", kScriptCode);
        Configuration::SetApplication((site_.path() / "config" / "QelServerConfiguration.xml").string(),
                                      "Kestrix", database_->connectionString());

        membership::Directory directory(database_->connectionString());
        acme_ = directory.AddBusinessPartner("Acme Trading", {"ACME-C", "ACME-C2"}, {"ACME-S"});
        globex_ = directory.AddBusinessPartner("Globex", {"GLX-C"}, {"ACME-C"});
        membership::UserRecord ann;
        ann.login = "ann";
        ann.businessPartnerId = acme_;
        ann.email = "ann@acme.test";
        ann.languageId = 1031;
        ann.localeId = 2057;
        ann.firstName = "Ann";
        ann.secondName = "Smith";
        ann.employeeNumber = "E-100";
        ann.applications = {2, 1};
        directory.AddUser(ann, std::string("pa'ss\"word"));
        membership::UserRecord bob;
        bob.login = "bob";
        bob.businessPartnerId = globex_;
        directory.AddUser(bob, std::string("bob-password"));
        membership::UserRecord nopass;
        nopass.login = "nopass";
        nopass.businessPartnerId = globex_;
        nopass.employeeNumber = "E-100";
        directory.AddUser(nopass);
    }

    membership::Directory directory() const { return membership::Directory(database_->connectionString()); }

    membership::User OpenUser(const std::string& login) {
        membership::User user;
        user.SetConfigFile(siteConfig_);
        user.Open(login, kFullScriptUser, kScriptCode);
        return user;
    }

    kestrix::db::Recordset Search(std::vector<std::string> criteria) {
        membership::Members members;
        members.SetConfigFile(siteConfig_);
        members.Login(kFullScriptUser, kScriptCode);
        Array array;
        for (auto& c : criteria) array.emplace_back(c);
        return members.Search(array, "");
    }

    bool Validate(std::string user, std::string password) {
        membership::Validator validator;
        validator.SetConfigFile(siteConfig_);
        return validator.Validate(user, password).ToBool();
    }

    kestrix::test::TempDir site_;
    std::unique_ptr<kestrix::test::ScratchDatabase> database_;
    std::string siteConfig_;
    int32_t acme_ = 0;
    int32_t globex_ = 0;
};

}  // namespace

TEST_P(Membership, UserAnswersItsPropertiesAfterOpen) {
    membership::User ann = OpenUser("ann");
    EXPECT_EQ(ann.UserID(), "ann");
    EXPECT_EQ(ann.BusinessPartnerID(), acme_);
    EXPECT_EQ(ann.EmailAddress(), "ann@acme.test");
    EXPECT_EQ(ann.LanguageID(), "1031");
    EXPECT_EQ(ann.LocaleID(), 2057);
    EXPECT_EQ(ann.PermittedApplications(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(ann.FirstName(), "Ann");
    EXPECT_EQ(ann.SecondName(), "Smith");
    EXPECT_EQ(ann.DisplayName(), "Ann Smith (ann)");

    // A user without language, locale, names or applications.
    membership::User bob = OpenUser("bob");
    EXPECT_EQ(bob.BusinessPartnerID(), globex_);
    EXPECT_EQ(bob.LanguageID(), "0");
    EXPECT_EQ(bob.LocaleID(), 0);
    EXPECT_TRUE(bob.PermittedApplications().empty());
    EXPECT_EQ(bob.EmailAddress(), "");
    EXPECT_EQ(bob.DisplayName(), "bob");

    // The same object created by name and called late-bound.
    auto object = kestrix::component::CreateObject("Ulmara.User");
    std::vector<Variant> config{Variant(siteConfig_)};
    object->Invoke("SetConfigFile", config);
    std::vector<Variant> open{Variant("ann"), Variant(kFullScriptUser), Variant(kScriptCode)};
    object->Invoke("Open", open);
    std::vector<Variant> none;
    EXPECT_EQ(object->Invoke("BusinessPartnerID", none).ToLong(), acme_);
    Variant apps = object->Invoke("PermittedApplications", none);
    ASSERT_TRUE(apps.IsArray());
    EXPECT_EQ(apps.ToArray().size(), 2u);
}

TEST_P(Membership, UserOpenRefusesUnknownUsersAndWrongScriptCredentials) {
    membership::User user;
    user.SetConfigFile(siteConfig_);
    EXPECT_NE(ErrorNumber([&] { user.BusinessPartnerID(); }), 0);  // nothing open yet
    EXPECT_EQ(ErrorNumber([&] { user.Open("nobody", kFullScriptUser, kScriptCode); }),
              errnum::NoSuchUser);
    // Logins match exactly: no case folding, no wildcards, no injection.
    EXPECT_EQ(ErrorNumber([&] { user.Open("ANN", kFullScriptUser, kScriptCode); }), errnum::NoSuchUser);
    EXPECT_EQ(ErrorNumber([&] { user.Open("' OR '1'='1", kFullScriptUser, kScriptCode); }),
              errnum::NoSuchUser);
    EXPECT_EQ(ErrorNumber([&] { user.Open("ann", kFullScriptUser, "wrong"); }), errnum::AccessDenied);
    EXPECT_EQ(ErrorNumber([&] { user.Open("ann", kFullScriptUser, ""); }), errnum::AccessDenied);
    // The script user carries the LDAP root when the site configures one.
    EXPECT_EQ(ErrorNumber([&] { user.Open("ann", kScriptUser, kScriptCode); }), errnum::AccessDenied);
    // A failed open leaves no user behind.
    EXPECT_NE(ErrorNumber([&] { user.EmailAddress(); }), 0);
}

TEST_P(Membership, MembersSearchMatchesCnAndEmployeeNumberLiterally) {
    kestrix::db::Recordset rs = Search({"cn=ann"});
    ASSERT_EQ(rs.RowCount(), 1u);
    for (const char* column : {"cn", "BusinessPartnerID", "mail", "employeenumber", "givenName", "sn"}) {
        EXPECT_GE(rs.FieldIndex(column), 0) << column;
    }
    EXPECT_EQ(rs.GetString("cn"), "ann");
    EXPECT_EQ(rs.GetInt("BusinessPartnerID"), acme_);
    EXPECT_EQ(rs.GetString("mail"), "ann@acme.test");
    EXPECT_EQ(rs.GetString("employeenumber"), "E-100");
    EXPECT_EQ(rs.GetString("givenName"), "Ann");
    EXPECT_EQ(rs.GetString("sn"), "Smith");

    // The attribute name ignores case.
    EXPECT_EQ(Search({"CN=bob"}).RowCount(), 1u);
    rs = Search({"EmployeeNumber=E-100"});
    ASSERT_EQ(rs.RowCount(), 2u);
    EXPECT_EQ(rs.GetString("cn"), "ann");
    // Several criteria must all hold.
    EXPECT_EQ(Search({"employeenumber=E-100", "cn=nopass"}).RowCount(), 1u);
    EXPECT_EQ(Search({"employeenumber=E-100", "cn=bob"}).RowCount(), 0u);
    EXPECT_EQ(Search({"cn=nobody"}).RowCount(), 0u);
}

TEST_P(Membership, MembersSearchValuesAreNeverPatternsNorSql) {
    for (const char* criteria :
         {"cn=*", "cn=%", "cn=a%", "cn=an_", "cn=ann'", "cn=' OR '1'='1", "cn=ann' --",
          "cn=x'; DELETE FROM MEMBERUSER; --", "employeenumber=*", "employeenumber=E-100' OR 'a'='a",
          "cn=", "cn= ann"}) {
        EXPECT_EQ(Search({criteria}).RowCount(), 0u) << criteria;
    }
    // Nothing was harmed.
    EXPECT_EQ(directory().Users().size(), 3u);
    EXPECT_EQ(Search({"cn=ann"}).RowCount(), 1u);
}

TEST_P(Membership, MembersRefusesOtherCriteriaAndMissingLogin) {
    membership::Members members;
    members.SetConfigFile(siteConfig_);
    Array criteria{Variant("cn=ann")};
    EXPECT_EQ(ErrorNumber([&] { members.Search(criteria); }), errnum::AccessDenied);
    EXPECT_EQ(ErrorNumber([&] { members.Login(kFullScriptUser, "s3cre"); }), errnum::AccessDenied);
    EXPECT_EQ(ErrorNumber([&] { members.Search(criteria); }), errnum::AccessDenied);
    members.Login(kFullScriptUser, kScriptCode);
    EXPECT_EQ(members.Search(criteria).RowCount(), 1u);
    for (const char* other : {"mail=ann@acme.test", "ann", "", "sn=Smith", "(cn=ann)"}) {
        Array bad{Variant(other)};
        EXPECT_EQ(ErrorNumber([&] { members.Search(bad); }), errnum::InvalidArgument) << other;
    }
}

TEST_P(Membership, ValidatorAcceptsOnlyTheRightPassword) {
    EXPECT_TRUE(Validate("ann", "pa'ss\"word"));
    EXPECT_FALSE(Validate("ann", "pa'ss\"word "));
    EXPECT_FALSE(Validate("ann", "wrong"));
    EXPECT_FALSE(Validate("ann", ""));
    EXPECT_FALSE(Validate("ANN", "pa'ss\"word"));
    EXPECT_FALSE(Validate("nobody", "pa'ss\"word"));
    EXPECT_FALSE(Validate("' OR '1'='1", "x"));
    // A user that never got a password cannot log in, not even with an empty one.
    EXPECT_FALSE(Validate("nopass", ""));

    directory().SetPassword("bob", "new password");
    EXPECT_FALSE(Validate("bob", "bob-password"));
    EXPECT_TRUE(Validate("bob", "new password"));
    directory().SetPassword("nopass", "first");
    EXPECT_TRUE(Validate("nopass", "first"));
    EXPECT_EQ(ErrorNumber([&] { directory().SetPassword("nobody", "x"); }), errnum::NoSuchUser);
}

TEST_P(Membership, PasswordsAreStoredOnlyAsArgon2idHashes) {
    kestrix::db::Connection connection(database_->connectionString());
    kestrix::db::Recordset rs =
        connection.Query("SELECT USERID, PASSWORDHASH FROM MEMBERUSER ORDER BY USERID");
    ASSERT_EQ(rs.RowCount(), 3u);
    EXPECT_EQ(rs.GetString("PASSWORDHASH").rfind("$argon2id$", 0), 0u) << rs.GetString("PASSWORDHASH");
    EXPECT_EQ(rs.GetString("PASSWORDHASH").find("pa'ss"), std::string::npos);
    rs.MoveNext();
    std::string bobHash = rs.GetString("PASSWORDHASH");
    rs.MoveNext();
    EXPECT_TRUE(rs.IsNull("PASSWORDHASH"));
    // The same password gets another hash each time (a fresh salt).
    directory().SetPassword("bob", "bob-password");
    rs = connection.Query("SELECT PASSWORDHASH FROM MEMBERUSER WHERE USERID = 'bob'");
    EXPECT_NE(rs.GetString("PASSWORDHASH"), bobHash);
    EXPECT_TRUE(Validate("bob", "bob-password"));
}

TEST_P(Membership, BusinessPartnerAnswersNamesAndIdentifiersOfCodes) {
    membership::BusinessPartner partners;
    partners.SetConfigFile(siteConfig_);
    EXPECT_EQ(partners.PartnerName(acme_), "Acme Trading");
    EXPECT_EQ(partners.PartnerName(globex_), "Globex");
    EXPECT_EQ(ErrorNumber([&] { partners.PartnerName(999999); }), errnum::NotFound);

    EXPECT_EQ(partners.PartnerIdentifier("ACME-C", 0), std::to_string(acme_));
    EXPECT_EQ(partners.PartnerIdentifier("ACME-C2", 0), std::to_string(acme_));
    EXPECT_EQ(partners.PartnerIdentifier("ACME-S", 1), std::to_string(acme_));
    // The two kinds are separate lists: the same code may name different partners.
    EXPECT_EQ(partners.PartnerIdentifier("ACME-C", 1), std::to_string(globex_));
    EXPECT_EQ(ErrorNumber([&] { partners.PartnerIdentifier("GLX-C", 1); }), errnum::NotFound);
    EXPECT_EQ(ErrorNumber([&] { partners.PartnerIdentifier("acme-c", 0); }), errnum::NotFound);
    EXPECT_EQ(ErrorNumber([&] { partners.PartnerIdentifier("' OR '1'='1", 0); }), errnum::NotFound);
    EXPECT_EQ(ErrorNumber([&] { partners.PartnerIdentifier("ACME-C", 2); }), errnum::InvalidArgument);
}

TEST_P(Membership, WithoutAConfigFileTheInstalledSiteIsUsed) {
    ScopedHome home(site_.path());
    membership::BusinessPartner partners;  // as callers use it: created and asked at once
    EXPECT_EQ(partners.PartnerName(acme_), "Acme Trading");
    membership::User user;
    user.Open("bob", kFullScriptUser, kScriptCode);
    EXPECT_EQ(user.BusinessPartnerID(), globex_);
}

TEST_P(Membership, TheSiteConfigurationCanNameItsOwnDirectoryDatabase) {
    // A second, empty directory named in the site configuration wins over the server's.
    kestrix::test::ScratchDatabase other(GetParam());
    kestrix::test::ApplyKestrixSchema(other);
    membership::Directory(other.connectionString()).AddBusinessPartner("Elsewhere");
    EXPECT_EQ(membership::MembershipConnectionString(siteConfig_), database_->connectionString());
    Configuration::SetValue(siteConfig_, "MEMBERSHIP", "ConnectionString", other.connectionString());
    EXPECT_EQ(membership::MembershipConnectionString(siteConfig_), other.connectionString());
    EXPECT_FALSE(Validate("ann", "pa'ss\"word"));
    EXPECT_EQ(membership::Directory::ForSite(siteConfig_).BusinessPartners().size(), 1u);
}

TEST_P(Membership, DirectoryListsPartnersAndUsersAndRefusesInconsistentRows) {
    membership::Directory dir = directory();
    auto partners = dir.BusinessPartners();
    ASSERT_EQ(partners.size(), 2u);
    EXPECT_EQ(partners[0].id, acme_);
    EXPECT_EQ(partners[0].name, "Acme Trading");
    EXPECT_EQ(partners[0].codes0, (std::vector<std::string>{"ACME-C", "ACME-C2"}));
    EXPECT_EQ(partners[0].codes1, (std::vector<std::string>{"ACME-S"}));
    EXPECT_EQ(partners[1].codes1, (std::vector<std::string>{"ACME-C"}));

    // A code already taken in its kind adds no partner at all.
    EXPECT_EQ(ErrorNumber([&] { dir.AddBusinessPartner("Copycat", {"NEW"}, {"ACME-S"}); }),
              errnum::InvalidArgument);
    EXPECT_EQ(dir.BusinessPartners().size(), 2u);
    EXPECT_EQ(ErrorNumber([&] { dir.AddPartnerCode(globex_, 0, "ACME-C2"); }), errnum::InvalidArgument);
    EXPECT_EQ(ErrorNumber([&] { dir.AddPartnerCode(999999, 0, "X"); }), errnum::NotFound);
    dir.AddPartnerCode(globex_, 0, "GLX-C2");
    EXPECT_EQ(dir.BusinessPartners()[1].codes0, (std::vector<std::string>{"GLX-C", "GLX-C2"}));

    auto users = dir.Users();
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0].login, "ann");
    EXPECT_EQ(users[0].email, "ann@acme.test");
    EXPECT_EQ(users[0].languageId, 1031);
    EXPECT_EQ(users[0].applications, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(users[2].login, "nopass");
    EXPECT_EQ(users[2].employeeNumber, "E-100");

    membership::UserRecord duplicate;
    duplicate.login = "ann";
    duplicate.businessPartnerId = globex_;
    EXPECT_EQ(ErrorNumber([&] { dir.AddUser(duplicate); }), errnum::InvalidArgument);
    membership::UserRecord orphan;
    orphan.login = "orphan";
    orphan.businessPartnerId = 999999;
    EXPECT_EQ(ErrorNumber([&] { dir.AddUser(orphan); }), errnum::NotFound);
    membership::UserRecord blank;
    blank.login = " ";
    blank.businessPartnerId = acme_;
    EXPECT_EQ(ErrorNumber([&] { dir.AddUser(blank); }), errnum::InvalidArgument);
    EXPECT_EQ(dir.Users().size(), 3u);

    // Granting twice keeps one grant; an unknown user gets none.
    dir.GrantApplication("bob", 5);
    dir.GrantApplication("bob", 5);
    EXPECT_EQ(OpenUser("bob").PermittedApplications(), (std::vector<int32_t>{5}));
    EXPECT_EQ(ErrorNumber([&] { dir.GrantApplication("nobody", 5); }), errnum::NoSuchUser);
}

// A token names its user until it is revoked; only its hash is kept, a forged or revoked one
// names nobody, and a user's tokens are his alone.
TEST_P(Membership, TokensNameTheirUserUntilRevoked) {
    membership::Directory dir = directory();
    const std::string annToken = dir.IssueToken("ann");
    const std::string second = dir.IssueToken("ann");
    const std::string bobToken = dir.IssueToken("bob");
    EXPECT_EQ(annToken.size(), 67u);
    EXPECT_TRUE(annToken.starts_with("kx_"));
    EXPECT_NE(annToken, second);
    EXPECT_EQ(dir.TokenUser(annToken), std::optional<std::string>("ann"));
    EXPECT_EQ(dir.TokenUser(bobToken), std::optional<std::string>("bob"));
    std::string forged = annToken;
    forged.back() = forged.back() == '0' ? '1' : '0';
    for (const std::string& wrong : {forged, std::string("kx_"), std::string(), annToken + "0", std::string("' OR 1=1 --")})
        EXPECT_FALSE(dir.TokenUser(wrong)) << wrong;
    kestrix::db::Connection connection(database_->connectionString());
    EXPECT_EQ(connection.Query("SELECT COUNT(*) AS N FROM MEMBERTOKEN WHERE TOKENHASH = ?", {kestrix::Variant(annToken)})
                  .GetInt("N"),
              0);
    EXPECT_THROW(dir.IssueToken("nobody"), kestrix::Error);

    EXPECT_EQ(dir.RevokeTokens("ann"), 2);
    EXPECT_FALSE(dir.TokenUser(annToken));
    EXPECT_FALSE(dir.TokenUser(second));
    EXPECT_EQ(dir.TokenUser(bobToken), std::optional<std::string>("bob"));
    EXPECT_EQ(dir.RevokeTokens("ann"), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, Membership, ::testing::ValuesIn(kestrix::test::Backends()));
