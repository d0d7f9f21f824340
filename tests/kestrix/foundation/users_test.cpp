#include <gtest/gtest.h>

#include <algorithm>

#include "kestrix/api/utility.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/users.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/membership/directory.h"
#include "platform/membership/user.h"
#include "platform/services/configuration.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class Users : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        membership::Directory directory(site_.connectionString());
        bp_ = directory.AddBusinessPartner("Acme");
        membership::UserRecord user;
        user.login = "alice";
        user.businessPartnerId = bp_;
        user.email = "alice@acme.test";
        user.languageId = 1031;
        user.employeeNumber = "42";
        directory.AddUser(user, std::string("secret"));
    }
    test::TestSite site_{GetParam()};
    int32_t bp_ = 0;
};

TEST_P(Users, LookUpsGoThroughTheMembershipDirectory) {
    Utility u;
    std::string alice = "alice";
    EXPECT_EQ(u.getIISVirtID(), "1");
    EXPECT_EQ(u.GetAUBusinessPartnerID(alice), bp_);
    EXPECT_EQ(u.GetAUEmailAddress(alice), "alice@acme.test");
    EXPECT_EQ(u.GetAUObject(alice)->LanguageID(), "1031");

    std::string virtualId;
    db::Recordset byLogin = u.GetAuoRSByCriteria(Variant("cn=alice"), virtualId);
    EXPECT_EQ(virtualId, "1");  // filled in and handed back
    ASSERT_FALSE(byLogin.Eof());
    EXPECT_EQ(byLogin.GetInt("BusinessPartnerID"), bp_);
    db::Recordset byNumber = u.GetAuoRSByCriteria(Variant("employeenumber=42"), virtualId);
    ASSERT_FALSE(byNumber.Eof());
    EXPECT_EQ(byNumber.GetString("cn"), "alice");
    // Values are matched literally.
    EXPECT_TRUE(u.GetAuoRSByCriteria(Variant("cn=x' OR '1'='1"), virtualId).Eof());
    EXPECT_TRUE(u.GetAuoRSByCriteria(Variant("cn=%"), virtualId).Eof());
}

// Credentials are the validator's to judge; access to an application is the user's list of
// permitted applications, by the identifier the server configuration gives its name.
TEST_P(Users, CredentialsAndApplicationAccess) {
    Utility u;
    std::string alice = "alice", right = "secret", wrong = "Secret", unused;
    EXPECT_TRUE(u.CheckUserAuthorization(alice, right, unused).ToBool());
    EXPECT_FALSE(u.CheckUserAuthorization(alice, wrong, unused).ToBool());
    std::string ghost = "ghost";
    EXPECT_FALSE(u.CheckUserAuthorization(ghost, right, unused).ToBool());

    const int32_t kestrix = u.GetApplicationID("Kestrix");
    EXPECT_GT(kestrix, 0);
    const Error unknown = test::RaisedBy<Error>([&] { u.GetApplicationID("Nothing"); });
    EXPECT_NE(unknown.description().find("Kestrix.Utility.GetApplicID"), std::string::npos) << unknown.description();
    EXPECT_FALSE(u.UserAccessToApplicationAllowed("alice", "Kestrix"));
    membership::Directory(site_.connectionString()).GrantApplication("alice", kestrix);
    EXPECT_TRUE(u.UserAccessToApplicationAllowed("alice", "Kestrix"));
    EXPECT_NE(test::RaisedBy<Error>([&] { u.UserAccessToApplicationAllowed("ghost", "Kestrix"); }).number(), 0);
}

TEST_P(Users, TheRoomsReadTheVirtualIdOnEveryCallAUtilityOncePerInstance) {
    Utility first;
    EXPECT_EQ(first.getIISVirtID(), "1");
    services::Configuration::SetValue(getSiteConfigFile(), "GLOBAL", "IISVirtId", "7");
    EXPECT_EQ(users::getIISVirtID(), "7");
    EXPECT_EQ(first.getIISVirtID(), "1");
    EXPECT_EQ(Utility().getIISVirtID(), "7");
    // The look-ups of the room answer as the facade does.
    std::string alice = "alice";
    EXPECT_EQ(users::GetAUEmailAddress(alice), "alice@acme.test");
    EXPECT_EQ(users::GetAUBusinessPartnerID(alice), bp_);
}

TEST_P(Users, AnUnknownUserIsAnErrorOfTheLookUp) {
    Utility u;
    std::string ghost = "ghost";
    try {
        u.GetAUEmailAddress(ghost);
        FAIL();
    } catch (const Error& e) {
        const std::string& d = e.description();
        EXPECT_NE(d.find("METHOD: Kestrix.Utility.GetAUEmailAddress caught:"), std::string::npos);
        EXPECT_NE(d.find("METHOD: Kestrix.Utility.GetAUOAddress caught:"), std::string::npos);
    }
}

TEST_P(Users, TheRecipientListBreaksTheLineAfterTheFirstAddressOnly) {
    membership::Directory directory(site_.connectionString());
    for (const char* login : {"xavier", "yvonne", "zoe"}) {
        membership::UserRecord user;
        user.login = login;
        user.businessPartnerId = bp_;
        user.email = std::string(login) + "@acme.test";
        directory.AddUser(user);
    }
    db::Connection c(site_.connectionString());
    db::EditRow doc;
    doc.Set("DOCUMENTTYPEID", "ORDER");
    const auto one = static_cast<int32_t>(c.Insert("DOCUMENT", doc, "DOCUMENTID"));
    const auto three = static_cast<int32_t>(c.Insert("DOCUMENT", doc, "DOCUMENTID"));
    for (const char* login : {"xavier", "yvonne", "zoe"}) {
        c.Execute(std::string("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL) VALUES ('ORDER', '") +
                  login + "', " + std::to_string(bp_) + ", 1)");
        c.Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (" + std::to_string(three) +
                  ", '" + login + "', 0, 0)");
    }
    c.Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (" + std::to_string(one) +
              ", 'yvonne', 0, 0)");
    Utility u;
    // The rows come in the database's order; the shape is what matters.
    const std::string list = u.GetToRecipientList(three, "ORDER");
    const size_t firstBreak = list.find(";\r\n");
    ASSERT_NE(firstBreak, std::string::npos) << list;
    EXPECT_EQ(list.find("\r\n", firstBreak + 3), std::string::npos);
    EXPECT_EQ(std::count(list.begin(), list.end(), ';'), 2);
    EXPECT_NE(list.back(), ';');
    for (const char* login : {"xavier@", "yvonne@", "zoe@"}) EXPECT_NE(list.find(login), std::string::npos);
    EXPECT_EQ(u.GetToRecipientList(one, "ORDER"), "yvonne@acme.test");
    EXPECT_THROW(u.GetToRecipientList(one, "INVOICE"), Error);
}

INSTANTIATE_TEST_SUITE_P(Backends, Users, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
