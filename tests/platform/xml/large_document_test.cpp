#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/xml/xml.h"
#include "tests/support/backends.h"

using kestrix::xml::XmlDocument;
using kestrix::xml::XslStyleSheet;

// A document of some 25 MB (many lines, and one text node of 12 MB such as an embedded
// attachment) loads from a file and from text, answers queries and transforms.
TEST(XmlLargeDocument, LoadsQueriesAndTransforms) {
    constexpr int kLines = 150000;
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ORDER><SENDER>ACME</SENDER>";
    text.reserve(26u << 20);
    for (int i = 0; i < kLines; ++i)
        text += "<LINE n=\"" + std::to_string(i) + "\"><ITEM>Article number " + std::to_string(i) +
                "</ITEM><QTY>1</QTY></LINE>\n";
    text += "<ATTACHMENT>" + std::string(12u << 20, 'Q') + "</ATTACHMENT></ORDER>\n";
    ASSERT_GT(text.size(), 20u << 20);

    kestrix::test::TempDir dir;
    auto file = dir.path() / "large.xml";
    std::ofstream(file, std::ios::binary) << text;

    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(file.string())) << doc.parseError().Describe();
    EXPECT_EQ(doc.SelectNodes("//LINE").nodes.size(), static_cast<size_t>(kLines));
    EXPECT_EQ(doc.SelectSingleNode("//ATTACHMENT").first().Text().size(), 12u << 20);

    XmlDocument fromText;
    ASSERT_TRUE(fromText.LoadXml(text)) << fromText.parseError().Describe();
    EXPECT_EQ(fromText.Xml().size(), text.size() - std::string(" encoding=\"UTF-8\"").size());

    auto xsl = dir.path() / "count.xsl";
    std::ofstream(xsl)
        << "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
           "<xsl:output method=\"xml\" omit-xml-declaration=\"yes\"/>"
           "<xsl:template match=\"/\"><R n=\"{count(//LINE)}\"><xsl:copy-of select=\"//LINE\"/>"
           "<xsl:copy-of select=\"//ATTACHMENT\"/></R></xsl:template></xsl:stylesheet>";
    std::string out = XslStyleSheet::FromSource(xsl.string()).Transform(doc);
    EXPECT_GT(out.size(), 20u << 20);
    EXPECT_TRUE(out.starts_with("<R n=\"" + std::to_string(kLines) + "\">")) << out.substr(0, 40);
}
