#include "kestrix/documents/receive_method.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class ReceiveMethodTest : public ::testing::TestWithParam<std::string> {
  protected:
    db::Connection Db() { return db::Connection(site_.connectionString()); }

    test::TestSite site_{GetParam()};
    ReceiveMethod methods_;
};

TEST_P(ReceiveMethodTest, APartnerAndTypeKeepOneRowThatLaterInsertsChange) {
    const std::string type = "O'Brien -- ORDER";
    int32_t id = methods_.InsertReceiveMethod(7, type, "first.xsl");
    ASSERT_GT(id, 0);
    EXPECT_EQ(methods_.GetReceiveMethodID(7, type), id);

    EXPECT_EQ(methods_.InsertReceiveMethod(7, type, "second.xsl"), id);
    EXPECT_EQ(site_.Count("RECEIVEMETHOD"), 1);
    EXPECT_EQ(methods_.GetXslFileName(7, type), "second.xsl");

    // Another partner of the same type, or the same partner of another type, is a row of
    // its own.
    int32_t otherPartner = methods_.InsertReceiveMethod(8, type, "eight.xsl");
    int32_t otherType = methods_.InsertReceiveMethod(7, "INVOICE", "invoice.xsl");
    EXPECT_NE(otherPartner, id);
    EXPECT_NE(otherType, id);
    EXPECT_NE(otherType, otherPartner);
    EXPECT_EQ(site_.Count("RECEIVEMETHOD"), 3);
    EXPECT_EQ(methods_.GetXslFileName(8, type), "eight.xsl");
    EXPECT_EQ(methods_.GetXslFileName(7, type), "second.xsl");

    EXPECT_EQ(methods_.GetXslFileName(9, type), "");
    EXPECT_EQ(methods_.GetXslFileName(7, "O'Brien"), "");
    EXPECT_EQ(methods_.GetReceiveMethodID(9, type), 0);
}

TEST_P(ReceiveMethodTest, UpdateAndDeleteTouchOnlyTheirRow) {
    int32_t order = methods_.InsertReceiveMethod(1, "ORDER", "order.xsl");
    int32_t invoice = methods_.InsertReceiveMethod(1, "INVOICE", "invoice.xsl");

    methods_.UpdateReceiveMethod(order, "order-2.xsl");
    EXPECT_EQ(methods_.GetXslFileName(1, "ORDER"), "order-2.xsl");
    EXPECT_EQ(methods_.GetXslFileName(1, "INVOICE"), "invoice.xsl");

    // An unknown identifier neither fails nor adds a row.
    methods_.UpdateReceiveMethod(invoice + order + 100, "ghost.xsl");
    EXPECT_EQ(site_.Count("RECEIVEMETHOD"), 2);
    EXPECT_EQ(site_.Count("RECEIVEMETHOD WHERE XSLFILENAME = 'ghost.xsl'"), 0);

    methods_.DeleteReceiveMethod(order);
    EXPECT_EQ(methods_.GetReceiveMethodID(1, "ORDER"), 0);
    EXPECT_EQ(methods_.GetXslFileName(1, "ORDER"), "");
    EXPECT_EQ(methods_.GetReceiveMethodID(1, "INVOICE"), invoice);
}

TEST_P(ReceiveMethodTest, NoPartnerOrNoTypeAnswersZeroWithoutAskingTheDatabase) {
    {
        db::Connection c = Db();
        c.Execute("DROP TABLE RECEIVEMETHOD");
    }
    EXPECT_EQ(methods_.GetReceiveMethodID(0, "ORDER"), 0);
    EXPECT_EQ(methods_.GetReceiveMethodID(5, ""), 0);

    // With both given the query runs, and its failure is raised on with the method's own
    // source text, wrapped once more by the caller.
    try {
        methods_.InsertReceiveMethod(5, "ORDER", "order.xsl");
        FAIL() << "a missing table must raise";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("METHOD: Kestrix.ReceiveMethod.GetReceivemethodID caught:"),
                  std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find("METHOD: Kestrix.ReceiveMethod.InsertReceiveMethod caught:"),
                  std::string::npos)
            << e.description();
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ReceiveMethodTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
