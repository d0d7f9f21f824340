// Standard form and change of document type, with style sheets from the site's folder, from a
// network share and from an HTTP server; the style sheet folders and document type look-ups.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kestrix/api/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/api/utility.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"
#include "platform/xml/xml.h"
#include "tests/peers/http_server.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

constexpr const char* kReceived = "<PO><NO>4711</NO><ITEM>bolts</ITEM></PO>";

// The sender's dialect into the standard order.
constexpr const char* kToStandard =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"xml\" omit-xml-declaration=\"yes\"/>"
    "<xsl:template match=\"/PO\"><ORDER><NR><xsl:value-of select=\"NO\"/></NR>"
    "<LINE><xsl:value-of select=\"ITEM\"/></LINE></ORDER></xsl:template>"
    "</xsl:stylesheet>";

// The standard order into an invoice; the number's element comes from an included sheet.
constexpr const char* kOrderToInvoice =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:include href=\"parts/number.xsl\"/>"
    "<xsl:output method=\"xml\" omit-xml-declaration=\"yes\"/>"
    "<xsl:template match=\"/\"><INVOICE><xsl:apply-templates select=\"//NR\"/></INVOICE>"
    "</xsl:template></xsl:stylesheet>";
constexpr const char* kNumberPart =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"NR\"><INVOICENR><xsl:value-of select=\".\"/></INVOICENR>"
    "</xsl:template></xsl:stylesheet>";

// Compiles, then stops the transformation when it runs.
constexpr const char* kStops =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/\"><xsl:message terminate=\"yes\">no invoice for this order"
    "</xsl:message></xsl:template></xsl:stylesheet>";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Transformations : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        site_ = std::make_unique<test::TestSite>(GetParam());
        xsl_ = site_->root() / "xsl";
    }
    void TearDown() override { site_.reset(); }

    Variant Column(int32_t id, const std::string& column) {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT " + column + " FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(id));
        return rs.Eof() ? Variant{} : rs.Field(column);
    }
    void ReceiveMethod(int32_t partner, const std::string& type, const std::string& xsl) {
        site_->Exec(
            "INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) VALUES (" +
            std::to_string(partner) + ", " + EncodeSqlText(type) + ", " + EncodeSqlText(xsl) + ")");
    }
    void TypeChange(const std::string& from, const std::string& to, const std::string& xsl) {
        site_->Exec(
            "INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID, TRANSFORMXSLNAME) "
            "VALUES (" +
            EncodeSqlText(from) + ", " + EncodeSqlText(to) + ", " + EncodeSqlText(xsl) + ")");
    }
    /// A document as the pipeline leaves it before the transformation: received, typed.
    int32_t Received(const std::string& body = kReceived) {
        int32_t id = doc_.StoreOriginalDocument(body);
        doc_.UpdateDocument(id, "ORDERS", "alice", "", DOCUMENTSTATUS::DOCUMENTNEW, true, -1);
        return id;
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
    fs::path xsl_;
    Document doc_;
    Utility utility_;
};

TEST_P(Transformations, StyleSheetFoldersEndInTheirSeparator) {
    site_->SetParameter("TransformXSLPath", "/srv/xsl");
    EXPECT_EQ(utility_.GetTransformXSLPath(), "/srv/xsl/");
    site_->SetParameter("TransformXSLPath", "/srv/xsl/");
    EXPECT_EQ(utility_.GetTransformXSLPath(), "/srv/xsl/");
    site_->SetParameter("TransformXSLPath", "C:\\xsl\\");
    EXPECT_EQ(utility_.GetTransformXSLPath(), "C:\\xsl\\");
    // A network share keeps the separators it is written with.
    site_->SetParameter("TransformXSLPath", "\\\\hub\\xsl");
    EXPECT_EQ(utility_.GetTransformXSLPath(), "\\\\hub\\xsl\\");
    // An address in any capitalisation gets "/".
    site_->SetParameter("TransformXSLPath", "HTTP://hub/xsl");
    EXPECT_EQ(utility_.GetTransformXSLPath(), "HTTP://hub/xsl/");
    site_->SetParameter("TransformXSLPath", "https://hub/xsl/");
    EXPECT_EQ(utility_.GetTransformXSLPath(), "https://hub/xsl/");

    site_->SetParameter("HTMLXSLPath", "http://hub/html");
    EXPECT_EQ(utility_.GetHTMLXSLPath(), "http://hub/html/");
    site_->SetParameter("HTMLXSLPath", "/srv/html");
    EXPECT_EQ(utility_.GetHTMLXSLPath(), "/srv/html/");

    site_->Exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'TransformXSLPath'");
    Error missing = Failure([&] { utility_.GetTransformXSLPath(); });
    EXPECT_EQ(missing.number(), ToInt(EnumerationErrors::MissingParameter));
    EXPECT_TRUE(Contains(missing.description(), "METHOD: Kestrix.Utility.GetTransformXSLPath"));
}

TEST_P(Transformations, DocumentTypeLookUps) {
    site_->Exec(
        "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES "
        "('ORDERS', 'Purchase order', '  orders.xsl  ')");
    site_->Exec(
        "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES "
        "('O''BRIEN', NULL, NULL)");
    site_->SetParameter("HTMLXSLPath", "/srv/html");

    EXPECT_EQ(utility_.GetDocumentTypeDescription("ORDERS"), "Purchase order");
    EXPECT_EQ(utility_.GetDocumentTypeDescription("O'BRIEN"), "");
    EXPECT_EQ(utility_.GetDocumentTypeDescription("NOPE"), "");
    EXPECT_EQ(utility_.getXSL("ORDERS"), "/srv/html/orders.xsl");
    EXPECT_EQ(utility_.getXSL("O'BRIEN"), "");
    EXPECT_EQ(utility_.getXSL("NOPE"), "");
    EXPECT_EQ(utility_.GetHtmlAttachmentXsl("ORDERS"), "  orders.xsl  ");
    EXPECT_EQ(utility_.GetHtmlAttachmentXsl("O'BRIEN"), "");

    TypeChange("ORDERS", "INVOICE", "order-invoice.xsl");
    TypeChange("ORDERS", "O'BRIEN", "quoted.xsl");
    EXPECT_EQ(doc_.GetXSLFromDoctypeToDoctypeTable(Variant("ORDERS"), Variant("INVOICE")),
              "order-invoice.xsl");
    EXPECT_EQ(doc_.GetXSLFromDoctypeToDoctypeTable(Variant("ORDERS"), Variant("O'BRIEN")),
              "quoted.xsl");
    // The pair has a direction.
    EXPECT_EQ(doc_.GetXSLFromDoctypeToDoctypeTable(Variant("INVOICE"), Variant("ORDERS")), "");
}

TEST_P(Transformations, StandardFormComesFromTheSendersStyleSheet) {
    WriteAll(xsl_ / "po-standard.xsl", kToStandard);
    ReceiveMethod(7, "ORDERS", "po-standard.xsl");
    int32_t id = Received();

    const std::string standard = doc_.TransformDocumentToStandard(id, "ORDERS", 7);
    EXPECT_EQ(Trim(standard), "<ORDER><NR>4711</NR><LINE>bolts</LINE></ORDER>");
    EXPECT_EQ(doc_.GetXmlDocument(id), standard);
    EXPECT_EQ(doc_.GetOriginalXmlDocument(id), kReceived);

    // Another partner, or another type of the same partner, has no style sheet: the body as
    // received becomes the standard body unchanged.
    int32_t other = Received();
    EXPECT_EQ(doc_.TransformDocumentToStandard(other, "ORDERS", 8), kReceived);
    EXPECT_EQ(doc_.GetXmlDocument(other), kReceived);
    int32_t third = Received();
    EXPECT_EQ(doc_.TransformDocumentToStandard(third, "INVOICE", 7), kReceived);
    // A blank name configures nothing either.
    ReceiveMethod(9, "ORDERS", "   ");
    int32_t fourth = Received();
    EXPECT_EQ(doc_.TransformDocumentToStandard(fourth, "ORDERS", 9), kReceived);
}

TEST_P(Transformations, StyleSheetsThatCannotBeUsedFailTheStandardForm) {
    ReceiveMethod(1, "ORDERS", "missing.xsl");
    WriteAll(xsl_ / "prose.xsl", "Dear partner, this is not a style sheet.");
    ReceiveMethod(2, "ORDERS", "prose.xsl");
    WriteAll(xsl_ / "plain.xsl", "<ORDER/>");
    ReceiveMethod(3, "ORDERS", "plain.xsl");
    WriteAll(xsl_ / "stops.xsl", kStops);
    ReceiveMethod(4, "ORDERS", "stops.xsl");

    int32_t id = Received();
    Error missing = Failure([&] { doc_.TransformDocumentToStandard(id, "ORDERS", 1); });
    EXPECT_EQ(missing.number(), xml::errnum::ResourceUnavailable);
    EXPECT_TRUE(Contains(missing.description(), "missing.xsl"));
    EXPECT_TRUE(
        Contains(missing.description(), "METHOD: Kestrix.Document.TransformDocumentToStandard"));

    Error prose = Failure([&] { doc_.TransformDocumentToStandard(id, "ORDERS", 2); });
    EXPECT_GT(prose.number(), xml::errnum::ParseErrorBase);
    EXPECT_LT(prose.number(), xml::errnum::ParseErrorBase + 0x10000);

    Error plain = Failure([&] { doc_.TransformDocumentToStandard(id, "ORDERS", 3); });
    EXPECT_TRUE(Contains(plain.description(), "The XML Object couldn't parse XSL file '" +
                                                  (xsl_ / "plain.xsl").string() + "'."));

    Error stops = Failure([&] { doc_.TransformDocumentToStandard(id, "ORDERS", 4); });
    EXPECT_EQ(stops.number(), xml::errnum::TransformFailed);
    EXPECT_TRUE(Contains(stops.description(), "no invoice for this order"));

    // None of them left a standard body behind.
    EXPECT_TRUE(Column(id, "XMLBODY").IsNull());

    // A received body that is no XML fails as well, and names what the parser found.
    WriteAll(xsl_ / "po-standard.xsl", kToStandard);
    ReceiveMethod(5, "ORDERS", "po-standard.xsl");
    int32_t broken = Received("<PO><NO>1</PO>");
    Error body = Failure([&] { doc_.TransformDocumentToStandard(broken, "ORDERS", 5); });
    EXPECT_GT(body.number(), xml::errnum::ParseErrorBase);
    EXPECT_TRUE(Contains(body.description(), "Line        : 1"));
}

TEST_P(Transformations, StyleSheetsFromAnHttpFolderAndANetworkShare) {
    test::TempDir served;
    WriteAll(served.path() / "xsl" / "po-standard.xsl", kToStandard);
    WriteAll(served.path() / "xsl" / "order-invoice.xsl", kOrderToInvoice);
    WriteAll(served.path() / "xsl" / "parts" / "number.xsl", kNumberPart);
    test::HttpServer server(served.path().string());
    site_->SetParameter("TransformXSLPath", server.Url("/xsl"));
    ReceiveMethod(7, "ORDERS", "po-standard.xsl");
    TypeChange("ORDERS", "INVOICE", "order-invoice.xsl");

    int32_t id = Received();
    EXPECT_EQ(Trim(doc_.TransformDocumentToStandard(id, "ORDERS", 7)),
              "<ORDER><NR>4711</NR><LINE>bolts</LINE></ORDER>");
    EXPECT_EQ(server.RequestCount("/xsl/po-standard.xsl"), 1u);

    // The included part is fetched relative to the sheet's own address.
    doc_.TransformDocToNewDocType(id, "ORDERS", "INVOICE");
    EXPECT_EQ(Trim(doc_.GetXmlDocument(id)), "<INVOICE><INVOICENR>4711</INVOICENR></INVOICE>");
    EXPECT_EQ(server.RequestCount("/xsl/parts/number.xsl"), 1u);

    // A sheet the server does not have.
    ReceiveMethod(8, "ORDERS", "gone.xsl");
    Error gone = Failure([&] { doc_.TransformDocumentToStandard(id, "ORDERS", 8); });
    EXPECT_EQ(gone.number(), xml::errnum::ResourceUnavailable);
    EXPECT_TRUE(Contains(gone.description(), server.Url("/xsl/gone.xsl")));

    // A network share is read through the file library, under the site's root of shares.
    WriteAll(site_->root() / "unc" / "hub" / "xsl" / "po-standard.xsl", kToStandard);
    site_->SetParameter("TransformXSLPath", "\\\\hub\\xsl");
    int32_t shared = Received();
    EXPECT_EQ(Trim(doc_.TransformDocumentToStandard(shared, "ORDERS", 7)),
              "<ORDER><NR>4711</NR><LINE>bolts</LINE></ORDER>");
}

TEST_P(Transformations, AnAddressThatDoesNotAnswerFailsWithinTheSitesTimeOut) {
    test::TempDir served;
    WriteAll(served.path() / "xsl" / "po-standard.xsl", kToStandard);
    test::HttpServer server(served.path().string());
    server.Stall("/xsl/po-standard.xsl");
    site_->SetParameter("TransformXSLPath", server.Url("/xsl/"));
    services::Configuration::SetValue((site_->root() / "config" / "SiteConfiguration.xml").string(),
                                      "GLOBAL", "XmlHttpTimeout", "1");
    ReceiveMethod(7, "ORDERS", "po-standard.xsl");
    int32_t id = Received();

    const auto start = std::chrono::steady_clock::now();
    Error stalled = Failure([&] { doc_.TransformDocumentToStandard(id, "ORDERS", 7); });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(stalled.number(), xml::errnum::ResourceUnavailable);
    EXPECT_TRUE(Contains(stalled.description(), server.Url("/xsl/po-standard.xsl")));
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_EQ(server.RequestCount("/xsl/po-standard.xsl"), 1u);
    EXPECT_TRUE(Column(id, "XMLBODY").IsNull());
}

TEST_P(Transformations, AChangeOfTypeWorksOnTheWorkCopy) {
    WriteAll(xsl_ / "order-invoice.xsl", kOrderToInvoice);
    WriteAll(xsl_ / "parts" / "number.xsl", kNumberPart);
    TypeChange("ORDERS", "INVOICE", "order-invoice.xsl");

    // A document with a standard body: that body is converted, not the one received.
    int32_t id = Received("<PO><NO>1</NO></PO>");
    doc_.UpdateDocumentWithXmlBody(id, "<ORDER><NR>88</NR></ORDER>");
    doc_.TransformDocToNewDocType(id, "ORDERS", "INVOICE");
    EXPECT_EQ(Trim(doc_.GetXmlDocument(id)), "<INVOICE><INVOICENR>88</INVOICENR></INVOICE>");
    EXPECT_TRUE(Column(id, "TEMPXMLBODY").IsNull());
    EXPECT_EQ(doc_.GetOriginalXmlDocument(id), "<PO><NO>1</NO></PO>");
    // The type is the caller's business.
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(id), "ORDERS");

    // A document without standard body: the body as received is converted.
    int32_t fresh = Received("<ORDER><NR>5</NR></ORDER>");
    doc_.TransformDocToNewDocType(fresh, "ORDERS", "INVOICE");
    EXPECT_EQ(Trim(doc_.GetXmlDocument(fresh)), "<INVOICE><INVOICENR>5</INVOICENR></INVOICE>");
    EXPECT_TRUE(Column(fresh, "TEMPXMLBODY").IsNull());

    // A pair without a style sheet keeps the body (the received one when there was no
    // standard body yet) and still empties the work copy.
    int32_t kept = Received("<ORDER><NR>6</NR></ORDER>");
    doc_.TransformDocToNewDocType(kept, "ORDERS", "DESADV");
    EXPECT_EQ(doc_.GetXmlDocument(kept), "<ORDER><NR>6</NR></ORDER>");
    EXPECT_TRUE(Column(kept, "TEMPXMLBODY").IsNull());
    doc_.TransformDocToNewDocType(id, "INVOICE", "ORDERS");
    EXPECT_EQ(Trim(doc_.GetXmlDocument(id)), "<INVOICE><INVOICENR>88</INVOICENR></INVOICE>");
}

TEST_P(Transformations, AFailedChangeOfTypeLeavesNoStaleWorkCopy) {
    WriteAll(xsl_ / "stops.xsl", kStops);
    TypeChange("ORDERS", "INVOICE", "stops.xsl");
    TypeChange("ORDERS", "DESADV", "missing.xsl");

    int32_t id = Received("<PO/>");
    doc_.UpdateDocumentWithXmlBody(id, "<ORDER><NR>1</NR></ORDER>");
    Error stops = Failure([&] { doc_.TransformDocToNewDocType(id, "ORDERS", "INVOICE"); });
    EXPECT_EQ(stops.number(), xml::errnum::TransformFailed);
    EXPECT_TRUE(Contains(stops.description(), "METHOD: Kestrix.Document.TransformDocToNewDocType"));
    Error missing = Failure([&] { doc_.TransformDocToNewDocType(id, "ORDERS", "DESADV"); });
    EXPECT_EQ(missing.number(), xml::errnum::ResourceUnavailable);
    EXPECT_EQ(doc_.GetXmlDocument(id), "<ORDER><NR>1</NR></ORDER>");
    EXPECT_TRUE(Column(id, "TEMPXMLBODY").IsNull());

    // The body changes after the failure; the next conversion starts from the new body, not
    // from a copy of the old one.
    doc_.UpdateDocumentWithXmlBody(id, "<ORDER><NR>2</NR></ORDER>");
    WriteAll(xsl_ / "stops.xsl", kOrderToInvoice);
    WriteAll(xsl_ / "parts" / "number.xsl", kNumberPart);
    doc_.TransformDocToNewDocType(id, "ORDERS", "INVOICE");
    EXPECT_EQ(Trim(doc_.GetXmlDocument(id)), "<INVOICE><INVOICENR>2</INVOICENR></INVOICE>");
}

INSTANTIATE_TEST_SUITE_P(Backends, Transformations, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
