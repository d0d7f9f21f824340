// HTML renderings of documents for notification mails: style sheets from the site's folder,
// a network share and an HTTP server; the rendering file and its removal; the style sheet
// check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "kestrix/api/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/api/utility.h"
#include "platform/base/error.h"
#include "platform/xml/xml.h"
#include "tests/peers/http_server.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

constexpr const char* kOrderHtml =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"html\"/>"
    "<xsl:template match=\"/\"><html><body><h1>Order <xsl:value-of select=\"//NR\"/></h1>"
    "<p><xsl:value-of select=\"//NOTE\"/></p></body></html></xsl:template>"
    "</xsl:stylesheet>";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class HtmlRendering : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        site_ = std::make_unique<test::TestSite>(GetParam());
        html_ = site_->root() / "xsl" / "html";
        // Renderings land in the temporary folder: one of this test's own.
        if (const char* previous = std::getenv("TMPDIR")) previousTmp_ = previous;
        temp_ = site_->root() / "temp";
        setenv("TMPDIR", temp_.c_str(), 1);
    }
    void TearDown() override {
        if (previousTmp_)
            setenv("TMPDIR", previousTmp_->c_str(), 1);
        else
            unsetenv("TMPDIR");
        site_.reset();
    }

    void DocumentType(const std::string& type, const std::optional<std::string>& xsl) {
        site_->Exec(
            "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES (" +
            EncodeSqlText(type) + ", 'x', " + (xsl ? EncodeSqlText(*xsl) : "NULL") + ")");
    }
    int32_t StoredDocument(const std::string& type, const std::string& body) {
        Document doc;
        int32_t id = doc.StoreOriginalDocument(body);
        doc.UpdateDocument(id, type, "alice", "", DOCUMENTSTATUS::DOCUMENTPUBLISHED, true, -1);
        doc.UpdateDocumentWithXmlBody(id, body);
        return id;
    }
    size_t FilesInTemp() const {
        size_t n = 0;
        for (const auto& entry : fs::directory_iterator(temp_))
            if (entry.is_regular_file()) ++n;
        return n;
    }
    template <typename F>
    static Error Failure(F&& call) {
        try {
            call();
        } catch (const Error& error) {
            return error;
        }
        ADD_FAILURE() << "no error raised";
        return Error(0, "", "");
    }

    std::unique_ptr<test::TestSite> site_;
    fs::path html_;
    fs::path temp_;
    std::optional<std::string> previousTmp_;
    Utility utility_;
};

TEST_P(HtmlRendering, TextsAreTransformedBySheetsFromAFolderOrAShare) {
    WriteAll(html_ / "order.xsl", kOrderHtml);
    const std::string order = "<ORDER><NR>12</NR><NOTE>urgent &amp; fragile</NOTE></ORDER>";

    const std::string local =
        utility_.transformXMLStringToHTML(order, (html_ / "order.xsl").string());
    EXPECT_TRUE(Contains(local, "<h1>Order 12</h1>"));
    EXPECT_TRUE(Contains(local, "<p>urgent &amp; fragile</p>"));
    xml::XmlDocument parsed = xml::XmlDocument::FromText(order);
    EXPECT_EQ(utility_.transformXMLToHTMLCommon(parsed, (html_ / "order.xsl").string()), local);

    // A share path only the file library can resolve (under the site's root of shares).
    WriteAll(site_->root() / "unc" / "hub" / "html" / "order.xsl", kOrderHtml);
    EXPECT_EQ(utility_.transformXMLStringToHTML(order, "\\\\hub\\html\\order.xsl"), local);
    Error share =
        Failure([&] { utility_.transformXMLStringToHTML(order, "\\\\hub\\html\\missing.xsl"); });
    EXPECT_EQ(share.source(), "QelFile.XML.LoadXslInDomDocument");
    EXPECT_TRUE(Contains(share.description(), "METHOD: Kestrix.Utility.transformXMLStringToHTML"));

    Error missing = Failure(
        [&] { utility_.transformXMLStringToHTML(order, (html_ / "missing.xsl").string()); });
    EXPECT_EQ(missing.number(), xml::errnum::ResourceUnavailable);
    EXPECT_EQ(missing.source(), "Kestrix.XML.LoadXslInDomDocument");
}

TEST_P(HtmlRendering, AStoredDocumentIsRenderedIntoAFileThatCanBeDeleted) {
    // The ".xsl" test ignores case; blanks around the name do not count.
    WriteAll(html_ / "Order.XSL", kOrderHtml);
    DocumentType("ORDERS", " Order.XSL ");
    const int32_t id = StoredDocument("ORDERS", "<ORDER><NR>4711</NR><NOTE>Grüße</NOTE></ORDER>");

    const std::string file = utility_.getHTMLAttachment(id);
    EXPECT_EQ(fs::path(file), temp_ / (std::to_string(id) + ".html"));
    ASSERT_TRUE(fs::exists(file));
    const std::string bytes = ReadAll(file);
    // Written as UTF-8, as the mail labels it: no byte order mark, the umlauts as UTF-8.
    EXPECT_FALSE(bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xEF\xBB\xBF"));
    const std::string& html = bytes;
    EXPECT_TRUE(Contains(html, "<h1>Order 4711</h1>"));
    EXPECT_TRUE(Contains(html, "Grüße"));

    // A text given by the caller is rendered instead of the stored body.
    const std::string given = utility_.getHTMLAttachmentByUsingXML(
        " " + std::to_string(id), Variant("IGNORED"), Variant("<ORDER><NR>99</NR></ORDER>"));
    EXPECT_EQ(given, file);
    EXPECT_TRUE(Contains(ReadAll(file), "<h1>Order 99</h1>"));
    // An empty text does not count as given.
    utility_.getHTMLAttachmentByUsingXML(std::to_string(id), Variant{}, Variant(""));
    EXPECT_TRUE(Contains(ReadAll(file), "<h1>Order 4711</h1>"));

    utility_.DeleteHTMLAttachment(file);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_NO_THROW(utility_.DeleteHTMLAttachment(""));
    EXPECT_EQ(FilesInTemp(), 0u);
}

TEST_P(HtmlRendering, NothingIsRenderedWithoutDocumentOrStyleSheet) {
    WriteAll(html_ / "order.xsl", kOrderHtml);
    DocumentType("TEXT", "order.txt");
    DocumentType("BLANK", "   ");
    DocumentType("NONE", std::nullopt);
    const std::string body = "<ORDER><NR>1</NR></ORDER>";
    const int32_t text = StoredDocument("TEXT", body);
    const int32_t blank = StoredDocument("BLANK", body);
    const int32_t none = StoredDocument("NONE", body);
    const int32_t unknownType = StoredDocument("UNKNOWN", body);

    EXPECT_EQ(utility_.getHTMLAttachment(text), "");
    EXPECT_EQ(utility_.getHTMLAttachment(blank), "");
    EXPECT_EQ(utility_.getHTMLAttachment(none), "");
    EXPECT_EQ(utility_.getHTMLAttachment(unknownType), "");
    EXPECT_EQ(utility_.getHTMLAttachment(987654), "");
    EXPECT_EQ(utility_.getHTMLAttachmentByUsingXML(""), "");
    EXPECT_EQ(FilesInTemp(), 0u);

    // The identifier reaches the statement only as a number.
    for (const std::string& id : {std::to_string(text) + " OR 1=1", std::string("abc")}) {
        Error refused = Failure([&] { utility_.getHTMLAttachmentByUsingXML(id); });
        EXPECT_EQ(refused.number(), errnum::TypeMismatch) << id;
        EXPECT_TRUE(
            Contains(refused.description(), "METHOD: Kestrix.Utility.getHTMLAttachmentByUsingXML"))
            << id;
    }
    EXPECT_EQ(FilesInTemp(), 0u);
}

TEST_P(HtmlRendering, StyleSheetsFromAnHttpFolder) {
    test::TempDir served;
    WriteAll(served.path() / "html" / "order.xsl", kOrderHtml);
    test::HttpServer server(served.path().string());
    site_->SetParameter("HTMLXSLPath", server.Url("/html"));
    DocumentType("ORDERS", "order.xsl");
    DocumentType("GONE", "gone.xsl");
    const int32_t id = StoredDocument("ORDERS", "<ORDER><NR>8</NR></ORDER>");
    const int32_t gone = StoredDocument("GONE", "<ORDER><NR>9</NR></ORDER>");

    EXPECT_TRUE(utility_.CanAttachHTMLFile("ORDERS"));
    const std::string file = utility_.getHTMLAttachment(id);
    EXPECT_TRUE(Contains(ReadAll(file), "<h1>Order 8</h1>"));
    EXPECT_EQ(server.RequestCount("/html/order.xsl"), 2u);
    utility_.DeleteHTMLAttachment(file);

    EXPECT_FALSE(utility_.CanAttachHTMLFile("GONE"));
    Error missing = Failure([&] { utility_.getHTMLAttachment(gone); });
    EXPECT_EQ(missing.number(), xml::errnum::ResourceUnavailable);
    EXPECT_TRUE(Contains(missing.description(), "METHOD: Kestrix.Utility.GetHTMLAttachment"));
    EXPECT_EQ(FilesInTemp(), 0u);
}

TEST_P(HtmlRendering, TheStyleSheetCheckLogsWhatDoesNotLoad) {
    WriteAll(html_ / "order.xsl", kOrderHtml);
    WriteAll(html_ / "prose.xsl", "not a style sheet at all");
    WriteAll(site_->root() / "unc" / "hub" / "html" / "order.xsl", kOrderHtml);
    DocumentType("ORDERS", "order.xsl");
    DocumentType("PROSE", "prose.xsl");
    DocumentType("MISSING", "missing.xsl");
    DocumentType("NONE", std::nullopt);

    EXPECT_TRUE(utility_.CanAttachHTMLFile("ORDERS"));
    EXPECT_FALSE(utility_.CanAttachHTMLFile("NONE"));
    EXPECT_FALSE(utility_.CanAttachHTMLFile("UNKNOWN"));
    EXPECT_FALSE(utility_.CanAttachHTMLFile("PROSE"));
    EXPECT_FALSE(utility_.CanAttachHTMLFile("MISSING"));
    const std::string log = site_->LogText();
    EXPECT_TRUE(Contains(log, "The XML Object couldn't load the XSL file '" +
                                  (html_ / "missing.xsl").string() + "'."));
    EXPECT_TRUE(Contains(log, "The XML Object couldn't load the XSL file '" +
                                  (html_ / "prose.xsl").string() + "'."));

    // A folder on a share is asked through the file library.
    site_->SetParameter("HTMLXSLPath", "\\\\hub\\html");
    EXPECT_TRUE(utility_.CanAttachHTMLFile("ORDERS"));
    EXPECT_FALSE(utility_.CanAttachHTMLFile("MISSING"));
    EXPECT_TRUE(
        Contains(site_->LogText(),
                 "The XML Object couldn't load the XSL file '\\\\hub\\html\\missing.xsl'."));
}

INSTANTIATE_TEST_SUITE_P(Backends, HtmlRendering, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
