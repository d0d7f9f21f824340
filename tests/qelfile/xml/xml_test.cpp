// libqelfile's XML class, loaded by name and called late-bound.
#include "platform/xml/xml.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/variant.h"
#include "platform/component/component.h"
#include "tests/peers/http_server.h"
#include "tests/support/backends.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

constexpr const char* kSheet =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"text\"/>"
    "<xsl:template match=\"/\">Order <xsl:value-of select=\"//ID\"/></xsl:template>"
    "</xsl:stylesheet>";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class QelFileXml : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(site_.path() / "config");
        share_ = site_.path() / "unc" / "server" / "share";
        fs::create_directories(share_);
        WriteAll(site_.path() / "config" / "SiteConfiguration.xml",
                 "<Configuration><Section name=\"GLOBAL\"><Key name=\"UncRoot\">" +
                     (site_.path() / "unc").string() + "</Key></Section></Configuration>");
        setenv("KESTRIX_HOME", site_.path().c_str(), 1);
        xml_ = component::CreateObject("QelFile.XML");
    }
    void TearDown() override { unsetenv("KESTRIX_HOME"); }

    Variant Call(std::string_view method, std::vector<Variant> args) {
        return xml_->Invoke(method, args);
    }

    Error Failure(std::string_view method, std::vector<Variant> args) {
        try {
            Call(method, std::move(args));
        } catch (const Error& error) {
            return error;
        }
        return Error(0, "", "");
    }

    std::string DocumentText(const Variant& document) {
        auto dom = std::dynamic_pointer_cast<xml::XmlDocument>(document.ToObject());
        return dom ? dom->Xml() : std::string("(no document)");
    }

    test::TempDir site_;
    fs::path share_;
    ObjectPtr xml_;
};

TEST_F(QelFileXml, ParseErrorsCarryTheParsersDetails) {
    EXPECT_TRUE(Contains(DocumentText(Call("XmlStringToDomDocument", {"<a><b/></a>"})), "<b/>"));

    Error text = Failure("XmlStringToDomDocument", {"<a>\n<b></a>"});
    EXPECT_GT(text.number(), xml::errnum::ParseErrorBase);
    EXPECT_LT(text.number(), xml::errnum::ParseErrorBase + 0x10000);
    EXPECT_EQ(text.source(), "QelFile.XML.LoadXmlInDomDocument");
    EXPECT_TRUE(Contains(text.description(), "Line        : 2\r\n"));
    EXPECT_TRUE(Contains(text.description(), "Column      : "));
    EXPECT_TRUE(Contains(text.description(), "Description : "));
    EXPECT_TRUE(Contains(
        text.description(),
        "Unable to parse the XML document: It is not present, invalid or not well-formed"));
    EXPECT_TRUE(Contains(text.description(), "METHOD: QelFile.XML.XmlStringToDomDocument caught:"));
    EXPECT_FALSE(Contains(text.description(), "File/URL"));

    const fs::path broken = site_.path() / "broken file.xml";
    WriteAll(broken, "<a>\n<b>\n</c></a>");
    Error file = Failure("XmlFileToDomDocument", {broken.string()});
    EXPECT_GT(file.number(), xml::errnum::ParseErrorBase);
    EXPECT_TRUE(Contains(file.description(), "File/URL    : " + broken.string() + "\r\n"));
    EXPECT_TRUE(Contains(file.description(), "Line        : 3\r\n"));

    Error sheet = Failure("XslFileToDomDocument", {(site_.path() / "missing.xsl").string()});
    EXPECT_EQ(sheet.source(), "QelFile.XML.LoadXslInDomDocument");
    EXPECT_EQ(sheet.number(), xml::errnum::ResourceUnavailable);
}

TEST_F(QelFileXml, LoadsFromNetworkSharesAndAddresses) {
    WriteAll(share_ / "order.xml", "<Order><ID>7</ID></Order>");
    EXPECT_TRUE(
        Contains(DocumentText(Call("XmlFileToDomDocument", {"\\\\server\\share\\order.xml"})),
                 "<ID>7</ID>"));

    test::HttpServer server(share_.string());
    std::string url = server.Url("/order.xml");
    ASSERT_EQ(url.rfind("http://", 0), 0u);
    url.replace(0, 4, "HTTP");  // the scheme is recognised in any case
    EXPECT_TRUE(Contains(DocumentText(Call("XmlFileToDomDocument", {url})), "<ID>7</ID>"));
    EXPECT_EQ(server.RequestCount("/order.xml"), 1u);
}

TEST_F(QelFileXml, AppliesStyleSheets) {
    WriteAll(share_ / "order.xsl", kSheet);
    EXPECT_EQ(Call("ApplyXslStyleSheetToXmlString",
                   {"<Order><ID>42</ID></Order>", "\\\\server\\share\\order.xsl"})
                  .ToString(),
              "Order 42");

    Variant document = Call("XmlStringToDomDocument", {"<Order><ID>5</ID></Order>"});
    std::vector<Variant> args{document, (share_ / "order.xsl").string()};
    EXPECT_EQ(xml_->Invoke("ApplyXslStyleSheetToXmlDomDocument", args).ToString(), "Order 5");
    // Without a style sheet the document's own text comes back.
    std::vector<Variant> plain{document, ""};
    EXPECT_TRUE(Contains(xml_->Invoke("ApplyXslStyleSheetToXmlDomDocument", plain).ToString(),
                         "<ID>5</ID>"));
}

TEST_F(QelFileXml, RefusesWhatCannotBeTransformed) {
    Error noDocument = Failure("ApplyXslStyleSheetToXmlDomDocument", {Variant{}, "x.xsl"});
    EXPECT_TRUE(Contains(noDocument.description(), "Not a valid Xml DOM document is given"));
    EXPECT_EQ(noDocument.source(), "QelFile.XML.ApplyXslStyleSheetToXmlDomDocument");

    WriteAll(share_ / "plain.xsl", "<NotASheet/>");
    Variant document = Call("XmlStringToDomDocument", {"<a/>"});
    Error notSheet =
        Failure("ApplyXslStyleSheetToXmlDomDocument", {document, "\\\\server\\share\\plain.xsl"});
    EXPECT_NE(notSheet.number(), 0);
    EXPECT_TRUE(Contains(notSheet.description(),
                         "The XML Object couldn't parse XSL file '\\\\server\\share\\plain.xsl'."));

    Error fromString =
        Failure("ApplyXslStyleSheetToXmlString", {"<a>", "\\\\server\\share\\plain.xsl"});
    EXPECT_GT(fromString.number(), xml::errnum::ParseErrorBase);
    EXPECT_TRUE(Contains(fromString.description(), "METHOD: METHODNAME caught:"));
}

}  // namespace
}  // namespace kestrix
