#include "kestrix/documents/distribution_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrix/foundation/general.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class DistributionListTest : public ::testing::TestWithParam<std::string> {
  protected:
    bool Exists(const std::string& origin, Array keys, Array values) {
        return list_.Exists(origin, keys, values);
    }
    bool PartnerExists(int32_t id) {
        return Exists("BUSINESSPARTNER", {"BUSINESSPARTNERID"}, {id});
    }
    bool UserExists(const std::string& user) { return Exists("USER", {"USERID"}, {user}); }

    test::TestSite site_{GetParam()};
    DistributionList list_;
};

TEST_P(DistributionListTest, ListLookupsAndRemovalOfATypesList) {
    site_.Exec(
        "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, "
        "HTMLATTACHMENT) VALUES ('ORDER', 'anna', 1, 1, 0), ('ORDER', 'bert', 2, 0, 0), "
        "('INVOICE', 'anna', 1, 1, 1), ('IT''S', 'o''neil', 3, 0, 0)");

    EXPECT_TRUE(list_.UserFoundOnDBList("ORDER", "anna"));
    EXPECT_TRUE(list_.UserFoundOnDBList("IT'S", "o'neil"));
    EXPECT_FALSE(list_.UserFoundOnDBList("ORDER", "o'neil"));
    EXPECT_FALSE(list_.UserFoundOnDBList("ORDER", "x' OR 'a' = 'a"));
    EXPECT_TRUE(list_.BPFoundOnDBList("ORDER", 2));
    EXPECT_FALSE(list_.BPFoundOnDBList("INVOICE", 2));
    EXPECT_TRUE(list_.AnyBPFoundOnDBList("INVOICE"));
    EXPECT_FALSE(list_.AnyBPFoundOnDBList("DESADV"));

    list_.RemoveBPsFromDBList("ORDER");
    EXPECT_FALSE(list_.AnyBPFoundOnDBList("ORDER"));
    EXPECT_FALSE(list_.UserFoundOnDBList("ORDER", "anna"));
    EXPECT_TRUE(list_.UserFoundOnDBList("INVOICE", "anna"));
    EXPECT_TRUE(list_.AnyBPFoundOnDBList("IT'S"));
}

TEST_P(DistributionListTest, ListFailuresCarryTheirOwnSources) {
    site_.Exec("DROP TABLE DISTRIBUTIONLIST");
    auto described = [](auto call) {
        try {
            call();
        } catch (const Error& e) {
            return e.description();
        }
        return std::string("no error");
    };
    EXPECT_NE(described([&] {
                  list_.UserFoundOnDBList("ORDER", "anna");
              }).find("METHOD: Kestrix.Utility.UserFoundOnDBList caught:"),
              std::string::npos);
    EXPECT_NE(described([&] {
                  list_.BPFoundOnDBList("ORDER", 1);
              }).find("METHOD: Kestrix.Utility.BPFoundOnDBList caught:"),
              std::string::npos);
    EXPECT_NE(described([&] {
                  list_.AnyBPFoundOnDBList("ORDER");
              }).find("METHOD: Kestrix.DistributionList.AnyBPFoundOnDBList caught:"),
              std::string::npos);
    EXPECT_NE(described([&] {
                  list_.RemoveBPsFromDBList("ORDER");
              }).find("METHOD: Kestrix.DtributionList.RemoveBPsFromDBList caught:"),
              std::string::npos);
}

TEST_P(DistributionListTest, APartnerIsReferencedFromEveryTableThatNamesIt) {
    // One partner per table, so that each table alone must make the answer true.
    site_.Exec(
        "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID) "
        "VALUES ('ORDER', 'u1', 11)");
    site_.Exec(
        "INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID) "
        "VALUES ('ORDER', 'u2', 12)");
    site_.Exec(
        "INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) "
        "VALUES (13, 'ORDER', 'x.xsl')");
    site_.Exec(
        "INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) "
        "VALUES (1, 14, 'ORDER', -1)");
    site_.Exec(
        "INSERT INTO RULEHEADER (DESCRIPTION, RULETYPE, ORIGINALID) VALUES ('type rule', 2, 15)");
    site_.Exec(
        "INSERT INTO SENDMETHODHISTORY (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTID) "
        "VALUES (1, 16, 1)");
    // A send-method rule of partner 17 is not a document-type rule of that partner.
    site_.Exec(
        "INSERT INTO RULEHEADER (DESCRIPTION, RULETYPE, ORIGINALID) VALUES ('send rule', 1, 17)");

    for (int32_t id = 11; id <= 16; ++id) EXPECT_TRUE(PartnerExists(id)) << id;
    EXPECT_FALSE(PartnerExists(17));
    EXPECT_FALSE(PartnerExists(18));

    // The origin is compared upper-case, the key name ignoring case; a value given as text
    // is read as the number it holds.
    EXPECT_TRUE(Exists("businessPartner", {"businesspartnerid"}, {"16"}));
    EXPECT_TRUE(Exists("BUSINESSPARTNER", {"OTHER", "BUSINESSPARTNERID"}, {"x", 13}));
    // Without its key, or for an origin nobody answers for, nothing is referenced.
    EXPECT_FALSE(Exists("BUSINESSPARTNER", {"PARTNER"}, {11}));
    EXPECT_FALSE(Exists("SENDMETHOD", {"BUSINESSPARTNERID"}, {11}));
    EXPECT_TRUE(list_.BeforeDelete("BUSINESSPARTNER", {"BUSINESSPARTNERID"}, {11}));
}

TEST_P(DistributionListTest, UsersAndDocumentTypesAreLookedUpOnTheirOwnTables) {
    site_.Exec(
        "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID) "
        "VALUES ('ORDER', 'o''neil', 1)");
    site_.Exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID) VALUES (1, 'paula')");
    site_.Exec(
        "INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID) "
        "VALUES ('INVOICE', 'sam', 2)");

    EXPECT_TRUE(UserExists("o'neil"));
    EXPECT_TRUE(UserExists("paula"));
    EXPECT_TRUE(UserExists("sam"));
    EXPECT_FALSE(UserExists("nobody"));
    EXPECT_TRUE(Exists("user", {"UserId"}, {"paula"}));
    EXPECT_FALSE(Exists("USER", {"LOGIN"}, {"paula"}));

    // The paired origins look at the distribution lists only, with both keys.
    EXPECT_TRUE(Exists("USER_DOCUMENTTYPE", {"USERID", "DOCUMENTTYPEID"}, {"o'neil", "ORDER"}));
    EXPECT_FALSE(Exists("USER_DOCUMENTTYPE", {"USERID", "DOCUMENTTYPEID"}, {"o'neil", "INVOICE"}));
    EXPECT_FALSE(Exists("USER_DOCUMENTTYPE", {"USERID", "DOCUMENTTYPEID"}, {"sam", "INVOICE"}));
    EXPECT_TRUE(Exists("USER_BUSINESSPARTNER", {"BUSINESSPARTNERID", "USERID"}, {1, "o'neil"}));
    EXPECT_FALSE(Exists("USER_BUSINESSPARTNER", {"BUSINESSPARTNERID", "USERID"}, {2, "o'neil"}));
    // A missing key adds no condition: the other key alone decides, and no key at all
    // means nothing is referenced.
    EXPECT_TRUE(Exists("USER_DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"ORDER"}));
    EXPECT_FALSE(Exists("USER_DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"INVOICE"}));
    EXPECT_TRUE(Exists("USER_BUSINESSPARTNER", {"USERID"}, {"o'neil"}));
    EXPECT_FALSE(Exists("USER_BUSINESSPARTNER", {}, {}));

    EXPECT_TRUE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"ORDER"}));
    // A type used only on a sender list is not the distribution list's concern.
    EXPECT_FALSE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"INVOICE"}));
    EXPECT_FALSE(Exists("DOCUMENTTYPE", {"USERID"}, {"ORDER"}));
    EXPECT_EQ(site_.LogText(), "") << "answers without failure log nothing";
}

TEST_P(DistributionListTest, AFailedCheckIsLoggedAndKeepsTheObject) {
    // A partner identifier that is no number cannot be looked up.
    EXPECT_TRUE(Exists("BUSINESSPARTNER", {"BUSINESSPARTNERID"}, {"eleven"}));
    EXPECT_NE(site_.LogText().find(" / Kestrix.DistributionList.IReferentialIntegrity_Exists()"),
              std::string::npos)
        << site_.LogText();
    // A key without a value is a failure of the caller, not an absent reference.
    EXPECT_TRUE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {}));

    site_.Exec("DROP TABLE PUBLICATION");
    // The first statement finds nothing, the second cannot run: the user stays.
    EXPECT_TRUE(UserExists("nobody"));
    const std::string log = site_.LogText();
    EXPECT_NE(log.find(" / Kestrix.DistributionList.CheckExistenceUsingSQL(SELECT USERID FROM "
                       "PUBLICATION WHERE USERID = 'nobody')"),
              std::string::npos)
        << log;
    // A lookup that does not need the broken table still answers.
    EXPECT_FALSE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"ORDER"}));
}

TEST_P(DistributionListTest, TheClassesAreCreatedByName) {
    for (const char* name :
         {"Kestrix.DistributionList", "Kestrix.SenderList", "Kestrix.ReceiveMethod"}) {
        EXPECT_NE(CreateComponent(name), nullptr) << name;
    }
    auto list = CreateAs<DistributionList>("Kestrix.DistributionList");
    EXPECT_NE(dynamic_cast<services::IReferentialIntegrity*>(list.get()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Backends, DistributionListTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
