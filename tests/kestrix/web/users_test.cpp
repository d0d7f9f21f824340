#include <gtest/gtest.h>

#include "kestrix/foundation/utility.h"
#include "platform/base/error.h"
#include "platform/membership/directory.h"
#include "platform/membership/user.h"
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

INSTANTIATE_TEST_SUITE_P(Backends, Users, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
