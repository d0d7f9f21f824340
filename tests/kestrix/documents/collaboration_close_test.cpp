#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "kestrix/web/collaboration.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class ClosingPublicationErrors : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { site_ = std::make_unique<test::TestSite>(GetParam()); }
    void TearDown() override { site_.reset(); }

    /// Adds an open publication error and returns its identifier.
    static int32_t AddError(int32_t doc, const std::string& label) {
        db::Connection connection = GetConnection();
        db::EditRow row;
        row.Set("DOCUMENTID", doc);
        row.Set("LABEL", label);
        row.Set("CLOSED", 0);
        return static_cast<int32_t>(
            connection.Insert("PUBLICATIONERRORS", row, "PUBLICATIONERRORID"));
    }
    static bool Closed(int32_t errorId) {
        db::Connection connection = GetConnection();
        return connection
                   .Query("SELECT CLOSED FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " +
                          std::to_string(errorId))
                   .GetInt("CLOSED") == 1;
    }

    std::unique_ptr<test::TestSite> site_;
    Collaboration collaboration_;
};

TEST_P(ClosingPublicationErrors, OneErrorIsClosedOnlyWithinTheDocumentGiven) {
    int32_t first = AddError(10, "SLBSH1817");
    int32_t second = AddError(10, "SLBSH1817");
    int32_t third = AddError(11, "SLBSH1817");

    collaboration_.ClosePublicationErrors(first);
    EXPECT_TRUE(Closed(first));
    EXPECT_FALSE(Closed(second));

    collaboration_.ClosePublicationErrors(second, 11);  // not that document's error
    EXPECT_FALSE(Closed(second));
    collaboration_.ClosePublicationErrors(second, 10);
    EXPECT_TRUE(Closed(second));
    EXPECT_FALSE(Closed(third));
}

TEST_P(ClosingPublicationErrors, TheCannotPublishCategoryClosesTheRoutingLabelsOfOneDocument) {
    int32_t routing = AddError(20, "SLBSH4481");
    int32_t last = AddError(20, "SLBSH4482");
    int32_t delivery = AddError(20, "SLBSH1817");
    int32_t elsewhere = AddError(21, "SLBSH0008");

    collaboration_.ClosePublicationErrorsForOneCategory(20, "CannotPublish");
    EXPECT_TRUE(Closed(routing));
    EXPECT_TRUE(Closed(last));
    EXPECT_FALSE(Closed(delivery));
    EXPECT_FALSE(Closed(elsewhere));

    try {
        collaboration_.ClosePublicationErrorsForOneCategory(21, "cannotpublish");
        FAIL() << "only the category as written is known";
    } catch (const Error& e) {
        EXPECT_EQ(e.source(), "Kestrix.Collaboration.ClosePublicationErrorsForOneCategory");
        EXPECT_NE(e.description().find("Not supported Category : cannotpublish"), std::string::npos)
            << e.description();
    }
    EXPECT_FALSE(Closed(elsewhere));
}

INSTANTIATE_TEST_SUITE_P(Backends, ClosingPublicationErrors, ::testing::ValuesIn(test::Backends()));

TEST(CollaborationClass, IsCreatedByItsRegisteredName) {
    EXPECT_NE(std::dynamic_pointer_cast<Collaboration>(CreateComponent("Kestrix.Collaboration")),
              nullptr);
}

}  // namespace
}  // namespace kestrix
