#include "kestrix/documents/sender_list.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class SenderListTest : public ::testing::TestWithParam<std::string> {
  protected:
    test::TestSite site_{GetParam()};
};

TEST_P(SenderListTest, OnlyListedUsersMayPublishAndOnlyThoseWhoAskedGetMail) {
    {
        db::Connection c(site_.connectionString());
        c.Execute(
            "INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) "
            "VALUES ('ORDER', 'anna', 1, 1), ('ORDER', 'bert', 0, 1), "
            "('INVOICE', 'carl', 1, 2), ('', 'anna', 1, 1)");
    }
    SenderList senders;
    EXPECT_TRUE(senders.CheckAuthorizationForSender("ORDER", "anna"));
    EXPECT_TRUE(senders.CheckAuthorizationForSender("ORDER", "bert"));
    EXPECT_FALSE(senders.CheckAuthorizationForSender("ORDER", "carl"));
    EXPECT_FALSE(senders.CheckAuthorizationForSender("INVOICE", "anna"));
    EXPECT_FALSE(senders.CheckAuthorizationForSender("ORDER", "x' OR '1' = '1"));
    EXPECT_FALSE(senders.CheckAuthorizationForSender("ORDER", "ANNA"));

    EXPECT_TRUE(senders.GetNotification("ORDER", "anna"));
    EXPECT_FALSE(senders.GetNotification("ORDER", "bert"));
    EXPECT_FALSE(senders.GetNotification("ORDER", "dora"));
    EXPECT_TRUE(senders.GetNotification("INVOICE", "carl"));
    // No type, no mail, even though a row with an empty type exists.
    EXPECT_FALSE(senders.GetNotification("", "anna"));
}

INSTANTIATE_TEST_SUITE_P(Backends, SenderListTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
