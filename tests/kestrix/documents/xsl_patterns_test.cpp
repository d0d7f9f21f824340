#include <gtest/gtest.h>

#include <string>

#include "kestrix/foundation/enums.h"
#include "kestrix/api/utility.h"
#include "platform/xml/xml.h"

namespace kestrix {
namespace {

const char* const kOrder =
    "<ORDER id=\"A-1\"><HEAD><SENDER>  alice  </SENDER><RECEIVER>bob</RECEIVER></HEAD>"
    "<RECEIVER> carol </RECEIVER><RECEIVER/><NOTE>a <B>bold</B> word</NOTE></ORDER>";

TEST(XslPatterns, TheFirstSelectedNodeGivesItsTrimmedText) {
    Utility utility;
    xml::XmlDocument dom = xml::XmlDocument::FromText(kOrder);
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//SENDER"), "alice");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//RECEIVER"), "bob");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//@id"), "A-1");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//NOTE"), "a bold word");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//MISSING"), "");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, ""), "");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//RECEIVER[[]"), "");
    EXPECT_EQ(utility.ExecuteXSLPattern(xml::XmlDocument(), "//SENDER"), "");
}

TEST(XslPatterns, AllSelectedNodesComeInDocumentOrderAndARejectedPatternGivesNothing) {
    Utility utility;
    xml::XmlDocument dom = xml::XmlDocument::FromText(kOrder);
    auto receivers = utility.ExecuteXSLPatternReturnAllNodes(dom, "//RECEIVER");
    ASSERT_TRUE(receivers.has_value());
    ASSERT_EQ(receivers->size(), 3u);
    EXPECT_EQ((*receivers)[0].Text(), "bob");
    EXPECT_EQ((*receivers)[1].Text(), " carol ");
    EXPECT_EQ((*receivers)[2].Text(), "");
    // The nodes belong to the document: a change through them is seen in its text.
    (*receivers)[0].SetText("");
    EXPECT_EQ(utility.ExecuteXSLPattern(dom, "//RECEIVER"), "");

    auto none = utility.ExecuteXSLPatternReturnAllNodes(dom, "//MISSING");
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
    EXPECT_FALSE(utility.ExecuteXSLPatternReturnAllNodes(dom, "//RECEIVER[[]").has_value());
}

TEST(XslPatterns, APatternIsBuiltByItsKind) {
    Utility utility;
    EXPECT_EQ(utility.ConstructXslPattern(TagAttrXsl::TAGVALUE, "RECEIVER"), "//RECEIVER");
    EXPECT_EQ(utility.ConstructXslPattern(TagAttrXsl::ATTRVALUE, "id"), "//@id");
    EXPECT_EQ(utility.ConstructXslPattern(TagAttrXsl::XSLPATTERN, "/ORDER/HEAD"), "/ORDER/HEAD");
    EXPECT_EQ(utility.ConstructXslPattern(static_cast<TagAttrXsl>(0), "RECEIVER"), "");
    EXPECT_EQ(utility.ConstructXslPattern(static_cast<TagAttrXsl>(4), "RECEIVER"), "");
}

}  // namespace
}  // namespace kestrix
