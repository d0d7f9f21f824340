#include <gtest/gtest.h>

#include "kestrix/foundation/general.h"
#include "kestrix/intake/pipeline.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class PipelineTest : public ::testing::TestWithParam<std::string> {
  protected:
    bool Exists(const std::string& origin, Array names, Array values) {
        return pipeline_->Exists(origin, names, values);
    }

    test::TwoPartnerSite site_{GetParam()};
    std::shared_ptr<Pipeline> pipeline_ = CreateAs<Pipeline>("Kestrix.Pipeline");
};

TEST_P(PipelineTest, SendMethodsKeepTheirPartnersAndTypes) {
    ASSERT_NE(dynamic_cast<services::IReferentialIntegrity*>(pipeline_.get()), nullptr);
    site_.Exec("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) VALUES (1, " +
               std::to_string(site_.bolt()) + ", 'ORDER', -1)");

    EXPECT_TRUE(Exists("businesspartner", {"BUSINESSPARTNERID"}, {site_.bolt()}));
    EXPECT_FALSE(Exists("BUSINESSPARTNER", {"NAME", "BusinessPartnerId"}, {"Acme", site_.acme()}));
    EXPECT_TRUE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"ORDER"}));
    EXPECT_FALSE(Exists("DocumentType", {"DOCUMENTTYPEID"}, {"INVOICE"}));
    // A type named to break out of the statement is only a name.
    EXPECT_FALSE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"X' OR '1'='1"}));
    // Other kinds, and questions without the key, are not this class's to refuse.
    EXPECT_TRUE(Exists("USER", {"USERID"}, {"bob"}));
    EXPECT_TRUE(Exists("DOCUMENTTYPE", {"USERID"}, {"INVOICE"}));
    EXPECT_TRUE(pipeline_->BeforeDelete("BUSINESSPARTNER", {}, {}));
    EXPECT_EQ(site_.LogText(), "");
}

TEST_P(PipelineTest, AReferenceThatCannotBeCheckedKeepsTheObjectAndIsLogged) {
    EXPECT_TRUE(Exists("BUSINESSPARTNER", {"BUSINESSPARTNERID"}, {"eleven"}));
    EXPECT_NE(site_.LogText().find(" / Kestrix.Pipeline.IReferentialIntegrity_Exists()"), std::string::npos)
        << site_.LogText();

    site_.Exec("DROP TABLE SENDMETHOD");
    EXPECT_TRUE(Exists("DOCUMENTTYPE", {"DOCUMENTTYPEID"}, {"INVOICE"}));
    EXPECT_NE(site_.LogText().find(" / Kestrix.Pipeline.CheckExistenceUsingSQL(SELECT DOCUMENTTYPEID FROM "
                                   "SENDMETHOD WHERE DOCUMENTTYPEID = ?) with 'INVOICE'"),
              std::string::npos)
        << site_.LogText();
}

INSTANTIATE_TEST_SUITE_P(Backends, PipelineTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
