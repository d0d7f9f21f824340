#include "platform/xml/stylesheet_cache.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/error.h"
#include "platform/xml/statistics.h"
#include "platform/xml/xml_utility.h"

namespace kestrix::xml {
namespace {

void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string TextSheet(const std::string& prefix) {
    return "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
           "<xsl:output method='text'/><xsl:template match='/'>" +
           prefix + "<xsl:value-of select='/A'/></xsl:template></xsl:stylesheet>";
}

// A sheet is read and compiled once while its file stands still, and read again as soon as
// the file is rewritten; a file that is gone fails as it always did.
TEST(StyleSheetCache, KeptUntilTheFileChanges) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx-sheets-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path folder = pattern;
    const std::string sheet = (folder / "plain.xsl").string();
    Write(sheet, TextSheet("one:"));
    ClearThreadStyleSheets();

    XmlUtility helper("Test.XML.", {});
    const XmlDocument document = XmlDocument::FromText("<A>x</A>");
    const int64_t readsBefore = ThreadParseCounts().styleSheets;
    EXPECT_EQ(helper.ApplyXslStyleSheetToTree(document, sheet), "one:x");
    EXPECT_EQ(helper.ApplyXslStyleSheetToTree(document, sheet), "one:x");
    EXPECT_EQ(ThreadParseCounts().styleSheets - readsBefore, 1);

    Write(sheet, TextSheet("second:"));
    EXPECT_EQ(helper.ApplyXslStyleSheetToTree(document, sheet), "second:x");
    EXPECT_EQ(ThreadParseCounts().styleSheets - readsBefore, 2);

    std::filesystem::remove(sheet);
    EXPECT_THROW(helper.ApplyXslStyleSheetToTree(document, sheet), Error);
    ClearThreadStyleSheets();
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kestrix::xml
