#include "kestrix/api/utility.h"

#include <gtest/gtest.h>

#include "kestrix/foundation/enums.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

TEST(UtilityCheckLong, ConvertsTheFull32BitRange) {
    Utility u;
    Variant null{Null{}}, small{32767}, past16{40000}, frac{2.5}, frac2{3.5}, text{" -12 "};
    EXPECT_EQ(u.CheckLong(null), 0);
    EXPECT_EQ(u.CheckLong(small), 32767);
    EXPECT_EQ(u.CheckLong(past16), 40000);
    EXPECT_EQ(u.CheckLong(frac), 2);   // halves go to the even neighbour
    EXPECT_EQ(u.CheckLong(frac2), 4);
    EXPECT_EQ(u.CheckLong(text), -12);
    Variant max{2147483647LL}, tooBig{2147483648LL}, word{"abc"};
    EXPECT_EQ(u.CheckLong(max), 2147483647);
    try {
        u.CheckLong(tooBig);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::Overflow);
        EXPECT_NE(e.description().find("METHOD: Kestrix.Utility.CheckLong"), std::string::npos);
    }
    EXPECT_THROW(u.CheckLong(word), Error);
}

TEST(UtilityCheckString, NullIsEmptyAndValuesAreText) {
    Utility u;
    Variant null{Null{}}, n{42}, b{true}, s{"x"};
    EXPECT_EQ(u.CheckString(null), "");
    EXPECT_EQ(u.CheckString(n), "42");
    EXPECT_EQ(u.CheckString(b), "True");
    EXPECT_EQ(u.CheckString(s), "x");
}

TEST(UtilityFormats, DatesUseSundayFirstAndTheWeekOfFirstJanuary) {
    Utility u;
    Variant d{DateTime::FromParts(2003, 5, 31, 14, 5, 9)};
    EXPECT_EQ(u.Formats(d, "yyyy-mm-dd").ToString(), "2003-05-31");
    EXPECT_EQ(u.Formats(d, "yyyy.mm.dd").ToString(), "2003.05.31");
    EXPECT_EQ(u.Formats(d, "hh.mm.ss").ToString(), "14.05.09");
    EXPECT_EQ(u.Formats(d, "hh:nn:ss").ToString(), "14:05:09");
    EXPECT_EQ(u.Formats(d, "dd/mm/yy").ToString(), "31/05/03");
    EXPECT_EQ(u.Formats(d, "d mmmm yyyy").ToString(), "31 May 2003");
    EXPECT_EQ(u.Formats(d, "dddd").ToString(), "Saturday");
    EXPECT_EQ(u.Formats(d, "w").ToString(), "7");
    EXPECT_EQ(u.Formats(d, "h:nn AM/PM").ToString(), "2:05 PM");
    // 1 January 2005 is a Saturday: it is week 1, Sunday 2 January starts week 2.
    EXPECT_EQ(u.Formats(Variant{DateTime::FromParts(2005, 1, 1)}, "ww").ToString(), "1");
    EXPECT_EQ(u.Formats(Variant{DateTime::FromParts(2005, 1, 2)}, "ww").ToString(), "2");
    EXPECT_EQ(u.Formats(Variant{"2003-05-31 10:00:00"}, "Short Date").ToString(), "2003-05-31");
}

TEST(UtilityFormats, NumbersFollowThePicture) {
    Utility u;
    EXPECT_EQ(u.Formats(Variant{1234.5}, "#,##0.00").ToString(), "1,234.50");
    EXPECT_EQ(u.Formats(Variant{7}, "000").ToString(), "007");
    EXPECT_EQ(u.Formats(Variant{0.256}, "0.0%").ToString(), "25.6%");
    EXPECT_EQ(u.Formats(Variant{-3}, "0;(0)").ToString(), "(3)");
    EXPECT_EQ(u.Formats(Variant{0}, "0;(0);\"zero\"").ToString(), "zero");
    EXPECT_EQ(u.Formats(Variant{"12"}, "Fixed").ToString(), "12.00");
    EXPECT_EQ(u.Formats(Variant{1}, "Yes/No").ToString(), "Yes");
    EXPECT_EQ(u.Formats(Variant{12345.678}, "0.00E+00").ToString(), "1.23E+04");
    EXPECT_TRUE(u.Formats(Variant{Null{}}, "0").IsNull());
    EXPECT_EQ(u.Formats(Variant{"Mixed"}, ">").ToString(), "MIXED");
}

class UtilityLongText : public ::testing::TestWithParam<std::string> {};

TEST_P(UtilityLongText, WritesAndReadsBackInChunks) {
    test::TestSite site(GetParam());
    Utility u;
    db::Connection connection(site.connectionString());
    for (size_t length : {size_t{1'000'000}, size_t{1'000'001}, size_t{3'000'000}}) {
        std::string body(length, 'a');
        body.back() = 'z';
        // A multi-byte character straddling the first chunk boundary stays whole.
        body.replace(999'999, 1, "\xC3\xA4");
        std::string field = "XMLBODY";
        db::EditRow row;
        row.Set("CREATIONDATE", "2026-01-01 00:00:00");
        u.SetLongDBTextField(body, field, row);
        int64_t id = connection.Insert("DOCUMENT", row, "DOCUMENTID");
        db::Recordset rs = connection.Query("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " +
                                            db::Connection::EncodeNumber(id));
        ASSERT_FALSE(rs.Eof());
        EXPECT_EQ(rs.GetString("XMLBODY"), body) << "length " << length;
    }
    // A field that held a longer text holds exactly the new one afterwards.
    db::EditRow row;
    std::string longer(2'500'000, 'x'), shorter = "short", field = "XMLBODY";
    u.SetLongDBTextField(longer, field, row);
    u.SetLongDBTextField(shorter, field, row);
    EXPECT_EQ(row.Get("XMLBODY").ToString(), "short");
    std::string empty;
    u.SetLongDBTextField(empty, field, row);
    EXPECT_EQ(row.Get("XMLBODY").ToString(), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, UtilityLongText, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
