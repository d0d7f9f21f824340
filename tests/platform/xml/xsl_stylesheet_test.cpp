#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/xml/xml.h"
#include "tests/peers/http_server.h"
#include "tests/support/backends.h"

using kestrix::xml::XmlDocument;
using kestrix::xml::XslStyleSheet;
namespace errnum = kestrix::xml::errnum;

namespace {

void WriteFile(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string Sheet(std::string_view body,
                  std::string_view output = "<xsl:output method=\"text\"/>") {
    return std::string(
               "<xsl:stylesheet version=\"1.0\" "
               "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">") +
           std::string(output) + std::string(body) + "</xsl:stylesheet>";
}

const char* kOrder =
    "<ORDER><SENDER>ACME</SENDER><LINE n=\"1\">caf\xC3\xA9</LINE><LINE n=\"2\">tea</LINE></ORDER>";

/// A folder with a sheet that includes another from a sub-folder, which imports a third
/// relative to itself.
void WriteSheetTree(const std::filesystem::path& root) {
    WriteFile(
        root / "main.xsl",
        Sheet(
            "<xsl:include href=\"parts/lines.xsl\"/>"
            "<xsl:template match=\"/\">[<xsl:apply-templates select=\"//LINE\"/>]</xsl:template>"));
    WriteFile(root / "parts/lines.xsl",
              Sheet("<xsl:import href=\"common/fmt.xsl\"/>"
                    "<xsl:template match=\"LINE\"><xsl:call-template name=\"fmt\"/></xsl:template>",
                    ""));
    WriteFile(root / "parts/common/fmt.xsl",
              Sheet("<xsl:template name=\"fmt\"><xsl:value-of select=\"@n\"/>=<xsl:value-of "
                    "select=\".\"/>;</xsl:template>",
                    ""));
}

std::string LoadFailure(const std::string& source, int32_t& code) {
    XslStyleSheet sheet;
    EXPECT_FALSE(sheet.Load(source));
    EXPECT_FALSE(sheet.IsLoaded());
    code = sheet.error().errorCode;
    return sheet.error().Describe();
}

}  // namespace

// --------------------------------------------------------------------------- compiling

TEST(XslStyleSheetLoad, IncludesAndImportsResolveRelativeToTheSheet) {
    kestrix::test::TempDir dir;
    WriteSheetTree(dir.path());
    XslStyleSheet sheet;
    ASSERT_TRUE(sheet.Load((dir.path() / "main.xsl").string())) << sheet.error().Describe();
    // Run from elsewhere: nothing depends on the working folder.
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path("/");
    std::string out = sheet.Transform(XmlDocument::FromText(kOrder));
    std::filesystem::current_path(cwd);
    EXPECT_EQ(out, "[1=caf\xC3\xA9;2=tea;]");
}

TEST(XslStyleSheetLoad, FolderWithBlanksInItsName) {
    kestrix::test::TempDir dir;
    WriteSheetTree(dir.path() / "my sheets");
    XslStyleSheet sheet;
    ASSERT_TRUE(sheet.Load((dir.path() / "my sheets" / "main.xsl").string()))
        << sheet.error().Describe();
    EXPECT_EQ(sheet.Transform(XmlDocument::FromText(kOrder)), "[1=caf\xC3\xA9;2=tea;]");
}

TEST(XslStyleSheetLoad, MissingNotXmlOrNotXsltGiveTheReason) {
    kestrix::test::TempDir dir;
    WriteFile(dir.path() / "broken.xsl",
              "<xsl:stylesheet version=\"1.0\" "
              "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n<xsl:template>");
    WriteFile(dir.path() / "plain.xml", "<ORDER/>");
    WriteFile(dir.path() / "badinclude.xsl", Sheet("<xsl:include href=\"nowhere.xsl\"/>"));
    WriteFile(dir.path() / "badxpath.xsl",
              Sheet("<xsl:template match=\"/\"><xsl:value-of select=\"//[\"/></xsl:template>"));

    int32_t code = 0;
    std::string reason = LoadFailure((dir.path() / "none.xsl").string(), code);
    EXPECT_EQ(code, errnum::ResourceUnavailable);
    EXPECT_NE(reason.find("none.xsl"), std::string::npos) << reason;

    reason = LoadFailure((dir.path() / "broken.xsl").string(), code);
    EXPECT_EQ(code & 0xFFFF0000, errnum::ParseErrorBase);
    EXPECT_NE(reason.find("line 2"), std::string::npos) << reason;

    reason = LoadFailure((dir.path() / "plain.xml").string(), code);
    EXPECT_EQ(code, errnum::NotAStyleSheet);
    EXPECT_FALSE(reason.empty());

    reason = LoadFailure((dir.path() / "badinclude.xsl").string(), code);
    EXPECT_EQ(code, errnum::NotAStyleSheet);
    EXPECT_NE(reason.find("nowhere.xsl"), std::string::npos) << reason;

    reason = LoadFailure((dir.path() / "badxpath.xsl").string(), code);
    EXPECT_EQ(code, errnum::NotAStyleSheet);

    EXPECT_THROW(XslStyleSheet::FromSource((dir.path() / "plain.xml").string()), kestrix::Error);
}

TEST(XslStyleSheetLoad, CompilesAParsedDocumentWithItsBase) {
    kestrix::test::TempDir dir;
    WriteSheetTree(dir.path());
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadFile((dir.path() / "main.xsl").string()));
    XslStyleSheet sheet;
    ASSERT_TRUE(sheet.Compile(doc)) << sheet.error().Describe();
    EXPECT_EQ(sheet.Transform(XmlDocument::FromText(kOrder)), "[1=caf\xC3\xA9;2=tea;]");
    // The caller's document is untouched and can be compiled again.
    EXPECT_TRUE(XslStyleSheet().Compile(doc));

    XmlDocument cdata =
        XmlDocument::FromText(Sheet("<xsl:template match=\"/\"><![CDATA[<x>]]></xsl:template>"));
    ASSERT_TRUE(sheet.Compile(cdata)) << sheet.error().Describe();
    EXPECT_EQ(sheet.Transform(XmlDocument::FromText("<a/>")), "<x>");
    EXPECT_FALSE(sheet.Compile(XmlDocument()));
    EXPECT_FALSE(sheet.IsLoaded());
}

// ---------------------------------------------------------------------------- output

TEST(XslStyleSheetTransform, OutputMethodsAndUtf8Text) {
    kestrix::test::TempDir dir;
    WriteFile(dir.path() / "xml.xsl",
              Sheet("<xsl:template match=\"/\"><out><xsl:value-of "
                    "select=\"//LINE[1]\"/></out></xsl:template>",
                    "<xsl:output method=\"xml\" encoding=\"ISO-8859-1\"/>"));
    WriteFile(dir.path() / "html.xsl",
              Sheet("<xsl:template match=\"/\"><html><body><p><xsl:value-of "
                    "select=\"//SENDER\"/></p><br/></body></html></xsl:template>",
                    "<xsl:output method=\"html\"/>"));
    WriteFile(
        dir.path() / "text.xsl",
        Sheet(
            "<xsl:param name=\"who\" select=\"'nobody'\"/><xsl:template match=\"/\"><xsl:value-of "
            "select=\"$who\"/>:<xsl:value-of select=\"//LINE[1]\"/> &amp; &lt;</xsl:template>",
            "<xsl:output method=\"text\" encoding=\"ISO-8859-1\"/>"));
    WriteFile(dir.path() / "omit.xsl", Sheet("<xsl:template match=\"/\"><o/></xsl:template>",
                                             "<xsl:output omit-xml-declaration=\"yes\"/>"));
    XmlDocument doc = XmlDocument::FromText(kOrder);

    std::string xml = XslStyleSheet::FromSource((dir.path() / "xml.xsl").string()).Transform(doc);
    EXPECT_EQ(xml, "<?xml version=\"1.0\"?>\n<out>caf\xC3\xA9</out>\n");
    EXPECT_EQ(XmlDocument::FromText(xml).DocumentElement().Text(), "caf\xC3\xA9");

    std::string html = XslStyleSheet::FromSource((dir.path() / "html.xsl").string()).Transform(doc);
    // Serialized as html, not as xml: an empty element has no closing slash.
    EXPECT_NE(html.find("<p>ACME</p>"), std::string::npos) << html;
    EXPECT_NE(html.find("<br>"), std::string::npos) << html;
    EXPECT_EQ(html.find("<br/>"), std::string::npos) << html;
    EXPECT_EQ(html.find("<?xml"), std::string::npos);

    auto text = XslStyleSheet::FromSource((dir.path() / "text.xsl").string());
    EXPECT_EQ(text.Transform(doc), "nobody:caf\xC3\xA9 & <");
    EXPECT_EQ(text.Transform(doc, {{"who", "O'Neil \"&\""}}), "O'Neil \"&\":caf\xC3\xA9 & <");

    EXPECT_EQ(XslStyleSheet::FromSource((dir.path() / "omit.xsl").string()).Transform(doc),
              "<o/>\n");
}

TEST(XslStyleSheetTransform, RunTimeFailuresRaiseWithTheReason) {
    kestrix::test::TempDir dir;
    WriteFile(dir.path() / "stop.xsl",
              Sheet("<xsl:template match=\"/\">x<xsl:message terminate=\"yes\">Missing "
                    "SENDER</xsl:message></xsl:template>"));
    WriteFile(dir.path() / "func.xsl", Sheet("<xsl:template match=\"/\"><xsl:value-of "
                                             "select=\"no-such-function(1)\"/></xsl:template>"));
    XmlDocument doc = XmlDocument::FromText(kOrder);
    for (const char* name : {"stop.xsl", "func.xsl"}) {
        XslStyleSheet sheet;
        ASSERT_TRUE(sheet.Load((dir.path() / name).string()))
            << name << ": " << sheet.error().Describe();
        try {
            sheet.Transform(doc);
            ADD_FAILURE() << name << ": no exception";
        } catch (const kestrix::Error& e) {
            EXPECT_EQ(e.number(), errnum::TransformFailed) << name;
            std::string expected =
                std::string(name) == "stop.xsl" ? "Missing SENDER" : "no-such-function";
            EXPECT_NE(e.description().find(expected), std::string::npos) << e.description();
        }
    }
    EXPECT_THROW(XslStyleSheet().Transform(doc), kestrix::Error);
}

TEST(XslStyleSheetTransform, SheetsCannotWriteFiles) {
    kestrix::test::TempDir dir;
    auto target = dir.path() / "written" / "out.txt";
    WriteFile(dir.path() / "write.xsl",
              "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
              "xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
              "<xsl:template match=\"/\"><exsl:document href=\"" +
                  target.string() +
                  "\" method=\"text\">pwned</exsl:document>done</xsl:template>"
                  "</xsl:stylesheet>");
    XslStyleSheet sheet;
    ASSERT_TRUE(sheet.Load((dir.path() / "write.xsl").string())) << sheet.error().Describe();
    try {
        sheet.Transform(XmlDocument::FromText("<a/>"));
        ADD_FAILURE() << "no exception";
    } catch (const kestrix::Error& e) {
        EXPECT_NE(e.description().find(target.string()), std::string::npos) << e.description();
    }
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(target.parent_path()));
}

TEST(XslStyleSheetTransform, CommonExtensionFunctionsAreAvailable) {
    XslStyleSheet sheet;
    XmlDocument xsl = XmlDocument::FromText(
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
        "xmlns:exsl=\"http://exslt.org/common\">"
        "<xsl:output method=\"text\"/><xsl:variable name=\"v\"><i>1</i><i>2</i></xsl:variable>"
        "<xsl:template match=\"/\"><xsl:value-of "
        "select=\"count(exsl:node-set($v)/i)\"/></xsl:template></xsl:stylesheet>");
    ASSERT_TRUE(sheet.Compile(xsl)) << sheet.error().Describe();
    EXPECT_EQ(sheet.Transform(XmlDocument::FromText("<a/>")), "2");
}

// ------------------------------------------------------------------------------ http

TEST(XslStyleSheetHttp, SheetIncludesAndDocumentsOverHttp) {
    kestrix::test::TempDir dir;
    WriteSheetTree(dir.path() / "xsl");
    WriteFile(dir.path() / "docs" / "order.xml", kOrder);
    WriteFile(dir.path() / "xsl" / "lookup.xsl",
              Sheet("<xsl:template match=\"/\"><xsl:value-of "
                    "select=\"document('../docs/order.xml')//SENDER\"/></xsl:template>"));
    kestrix::test::HttpServer server(dir.path().string());

    XslStyleSheet sheet;
    ASSERT_TRUE(sheet.Load(server.Url("/xsl/main.xsl"))) << sheet.error().Describe();
    EXPECT_EQ(server.RequestCount("/xsl/parts/lines.xsl"), 1u);
    EXPECT_EQ(server.RequestCount("/xsl/parts/common/fmt.xsl"), 1u);
    XmlDocument doc;
    ASSERT_TRUE(doc.Load(server.Url("/docs/order.xml"))) << doc.parseError().Describe();
    EXPECT_EQ(sheet.Transform(doc), "[1=caf\xC3\xA9;2=tea;]");

    XslStyleSheet lookup;
    ASSERT_TRUE(lookup.Load(server.Url("/xsl/lookup.xsl"))) << lookup.error().Describe();
    EXPECT_EQ(lookup.Transform(XmlDocument::FromText("<a/>")), "ACME");
}

TEST(XslStyleSheetHttp, UnansweredAndFailingAddresses) {
    kestrix::test::TempDir dir;
    WriteFile(dir.path() / "inc.xsl", Sheet("<xsl:include href=\"slow.xsl\"/>"));
    kestrix::test::HttpServer server(dir.path().string());
    server.Stall("/slow.xsl");
    server.SetStatus("/denied.xsl", 403);
    const kestrix::xml::LoadOptions quick{std::chrono::milliseconds(300)};

    XslStyleSheet sheet;
    EXPECT_FALSE(sheet.Load(server.Url("/slow.xsl"), quick));
    EXPECT_EQ(sheet.error().errorCode, errnum::ResourceUnavailable);
    EXPECT_FALSE(sheet.Load(server.Url("/denied.xsl"), quick));
    EXPECT_NE(sheet.error().reason.find("403"), std::string::npos) << sheet.error().reason;
    // An include that does not answer fails the sheet within the same time-out.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sheet.Load(server.Url("/inc.xsl"), quick));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(sheet.error().reason.find("slow.xsl"), std::string::npos) << sheet.error().reason;
}

TEST(XslStyleSheetTransform, ThreadsKeepTheirOwnFailures) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string id = "thread-" + std::to_string(t);
            XslStyleSheet sheet;
            if (!sheet.Compile(XmlDocument::FromText(
                    Sheet("<xsl:template match=\"/\"><xsl:message terminate=\"yes\">" + id +
                          "</xsl:message></xsl:template>")))) {
                ++wrong[static_cast<size_t>(t)];
                return;
            }
            XmlDocument doc = XmlDocument::FromText("<a/>");
            for (int i = 0; i < 100; ++i) {
                try {
                    sheet.Transform(doc);
                    ++wrong[static_cast<size_t>(t)];
                } catch (const kestrix::Error& e) {
                    if (e.description() != id) ++wrong[static_cast<size_t>(t)];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}
