#include "kestrix/documents/qel_excel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "tests/support/backends.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using Lines = std::map<std::string, std::string>;

// Runs a script of the independent side and returns what it printed.
std::string RunPeer(const std::string& script, const std::string& command, const fs::path& path) {
    const fs::path file = fs::path(KESTRIX_TEST_PEERS_DIR) / script;
    const std::string line = "/usr/bin/python3 '" + file.string() + "' " + command + " '" + path.string() + "' 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << "is python3-openpyxl installed?\n" << out;
    return out;
}

// A workbook as the independent reader sees it: "key=value" lines of workbook_peer.py.
Lines Independent(const std::string& command, const fs::path& path) {
    const std::string out = RunPeer("workbook_peer.py", command, path);
    Lines lines;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string l = out.substr(pos, end - pos);
        const size_t eq = l.find('=');
        if (eq != std::string::npos) lines[l.substr(0, eq)] = l.substr(eq + 1);
        pos = end + 1;
    }
    return lines;
}

// Only the cells ("Sheet!A1" keys) of a workbook as the independent reader sees it.
Lines Cells(const fs::path& path) {
    Lines cells;
    for (const auto& [key, value] : Independent("read", path))
        if (key.find('!') != std::string::npos && key.rfind("cached:", 0) != 0 && key.rfind("name:", 0) != 0)
            cells[key] = value;
    return cells;
}

class QelExcelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        inputs_ = new test::TempDir();
        RunPeer("qel_excel_peer.py", "write", inputs_->path());
    }
    static void TearDownTestSuite() {
        delete inputs_;
        inputs_ = nullptr;
    }
    static fs::path Input(const std::string& name) { return inputs_->path() / name; }
    fs::path Output(const std::string& name) const { return site_.root() / "out" / name; }

    static test::TempDir* inputs_;
    test::TestSite site_{"sqlite"};
    QelExcel excel_;
};

test::TempDir* QelExcelTest::inputs_ = nullptr;

TEST_F(QelExcelTest, WorkbookBecomesRoutingElementsThenEverySheetWithItsCells) {
    xml::XmlDocument doc;
    excel_.TransformExcelToXML(Input("~routed.xlsx").string(), doc);
    // Properties in the workbook's order, "QEL-RECEIVER" split in two, the empty contact an
    // empty element, a lower-case "qel-show" and other properties ignored; then every sheet
    // (the hidden one too), the formula cells with their computed values, no blank cell.
    EXPECT_EQ(doc.Xml(),
              "<QELEXCEL WorkBook=\"routed.xlsx\"><RECEIVER>17</RECEIVER><RECEIVER>18</RECEIVER>"
              "<SENDER>3</SENDER><USESDISTLIST>1</USESDISTLIST><CONTACT/>"
              "<WorkSheet Name=\"Orders\">"
              "<Cell Row=\"1\" Column=\"A\">Item</Cell><Cell Row=\"1\" Column=\"B\">2</Cell>"
              "<Cell Row=\"1\" Column=\"C\" Formula=\"=B1*1.5\">3</Cell>"
              "<Cell Row=\"1\" Column=\"D\">True</Cell><Cell Row=\"12\" Column=\"B\">0.25</Cell>"
              "<Cell Row=\"12\" Column=\"AA\" Formula=\"=&quot;x&quot;&amp;B1\">x2</Cell></WorkSheet>"
              "<WorkSheet Name=\"Notes\"><Cell Row=\"3\" Column=\"B\">note</Cell></WorkSheet>"
              "<WorkSheet Name=\"Empty\"/></QELEXCEL>\n");
}

TEST_F(QelExcelTest, WhatIsNoWorkbookIsRefusedAndTheDocumentLeftAlone) {
    xml::XmlDocument doc;
    Error csv = test::RaisedBy<Error>([&] { excel_.TransformExcelToXML(Input("orders.csv").string(), doc); });
    EXPECT_EQ(csv.number(), ErrNum(EnumerationErrors::NotAnExcelFile));
    EXPECT_EQ(csv.source(), "Kestrix.QelExcel.OpenWorkBook");
    EXPECT_NE(csv.description().find("METHOD: Kestrix.QelExcel.TransformExcelToXML caught:"), std::string::npos)
        << csv.description();
    EXPECT_NE(csv.description().find("The file is not a valid workbook"), std::string::npos);

    // A text under a workbook's name fails in the engine and keeps its number.
    const fs::path renamed = site_.root() / "renamed.xlsx";
    test::WriteAll(renamed, "Item;Qty\nBolt;5\n");
    Error text = test::RaisedBy<Error>([&] { excel_.TransformExcelToXML(renamed.string(), doc); });
    EXPECT_EQ(text.number(), workbook::wberr::NotAPackage);
    EXPECT_NE(text.description().find("METHOD: Kestrix.QelExcel.TransformExcelToXML caught:"), std::string::npos);
    EXPECT_EQ(text.description().find("ContentError"), std::string::npos);
    EXPECT_TRUE(doc.IsEmpty());
}

TEST_F(QelExcelTest, PropertiesAreSetByTypeAndReadByExactName) {
    const fs::path copy = Output("props.xlsx");
    fs::create_directories(copy.parent_path());
    fs::copy_file(Input("offer_book.xlsx"), copy);
    ExcelWorkBookPtr book;
    book = std::make_unique<ExcelWorkBook>(ExcelWorkBook{workbook::Workbook::Open(copy.string()), copy.string()});
    excel_.SetCustomerPropertyInExcel(*book, "QEL-RECEIVER", Variant("17;18"), "Text");
    excel_.SetCustomerPropertyInExcel(*book, "Count", Variant("12.5"), "NUMBER");
    excel_.SetCustomerPropertyInExcel(*book, "Due", Variant("2026-03-01"), "date");
    excel_.SetCustomerPropertyInExcel(*book, "Urgent", Variant("Yes"), "boolean");
    excel_.SetCustomerPropertyInExcel(*book, "Late", Variant("FALSE"), "boolean");
    // The same name in other capitals replaces the value and keeps the workbook's name.
    excel_.SetCustomerPropertyInExcel(*book, "amount", Variant(4), "number");
    // Values that do not fit their type, an unknown type and a type other than the existing
    // property's change nothing (without a document there is nothing to record).
    excel_.SetCustomerPropertyInExcel(*book, "Bad", Variant("abc"), "number");
    excel_.SetCustomerPropertyInExcel(*book, "Never", Variant("2026-02-30"), "date");
    excel_.SetCustomerPropertyInExcel(*book, "Maybe", Variant("true"), "boolean");
    excel_.SetCustomerPropertyInExcel(*book, "Odd", Variant("x"), "currency");
    excel_.SetCustomerPropertyInExcel(*book, "AMOUNT", Variant("text now"), "text");

    EXPECT_EQ(excel_.GetCustomerPropertyFromExcel(*book, "Amount").ToDouble(), 4.0);
    EXPECT_EQ(excel_.GetCustomerPropertyFromExcel(*book, "amount").ToString(), "");
    EXPECT_EQ(excel_.GetCustomerPropertyFromExcel(*book, "Bad").ToString(), "");

    excel_.WriteExcelObjectToFile(book, copy.string(), true);
    EXPECT_EQ(book, nullptr);
    Lines custom = Independent("custom", copy);
    EXPECT_EQ(custom["Amount"], "r8:4");
    EXPECT_EQ(custom["QEL-RECEIVER"], "lpwstr:17;18");
    EXPECT_EQ(custom["Count"], "r8:12.5");
    EXPECT_EQ(custom["Due"].rfind("filetime:2026-03-01T00:00:00", 0), 0u) << custom["Due"];
    EXPECT_EQ(custom["Urgent"], "bool:true");
    EXPECT_EQ(custom["Late"], "bool:false");
    for (const char* absent : {"Bad", "Never", "Maybe", "Odd", "AMOUNT"}) EXPECT_EQ(custom.count(absent), 0u) << absent;
    // The workbook itself came through.
    EXPECT_EQ(Cells(copy)["Offer!A1"], "str:Offer for");

    // Read back through the conversion: the routing property now gives two receivers.
    xml::XmlDocument doc;
    excel_.TransformExcelToXML(copy.string(), doc);
    EXPECT_EQ(doc.SelectNodes("/QELEXCEL/RECEIVER").nodes.size(), 2u);
}

// Only the keys of a workbook's custom properties, as the independent reader sees them.
Lines Custom(const fs::path& path) {
    Lines props = Independent("custom", path);
    props.erase("content-type");
    props.erase("relationship");
    props.erase("distinct-pids");
    return props;
}

TEST_F(QelExcelTest, CreateModeMakesOneSheetPerNameAndNoScratchSheet) {
    const std::string xml =
        "<ORDER QELORIGINALFILENAME='order.xml'>"
        "<HEAD QELWORKSHEET='Summary'>"
        "<NUMBER QELLABELPOS='A1' QELVALUEPOS='B1'>4711</NUMBER>"
        "<BUYER QELLABEL='Buyer' QELLABELPOS='A2' QELVALUE='ACME &amp; Co' QELVALUEPOS='B2'>ignored</BUYER>"
        "<NOTE QELVALUEPOS='C3'>  </NOTE>"
        "<PROP QELPROPLABEL='QEL-RECEIVER' QELPROPVALUE='17;18' QELPROPTYPE='Text'/>"
        "<LINES QELWORKSHEET='Lines'><LINE QELVALUEPOS='A3'>Bolt</LINE></LINES>"
        "<SUM QELVALUEPOS='D4'>12.5</SUM>"
        "</HEAD>"
        "<MORE QELWORKSHEET='summary'><X QELVALUEPOS='C1'>007x</X></MORE>"
        "</ORDER>";
    ExcelWorkBookPtr book = excel_.TransformXMLToExcel(xml, EWriteMode::Create, 5, false);
    ASSERT_NE(book, nullptr);
    const fs::path out = Output("created.xlsx");
    excel_.WriteExcelObjectToFile(book, out.string(), true);

    Lines all = Independent("read", out);
    // "Lines" is a sheet of its own even inside "Summary"; names meet ignoring case.
    EXPECT_EQ(all["sheets"], "Summary:visible|Lines:visible");
    EXPECT_EQ(Cells(out), (Lines{{"Summary!A1", "str:NUMBER"},
                                 {"Summary!B1", "int:4711"},
                                 {"Summary!A2", "str:Buyer"},
                                 {"Summary!B2", "str:ACME & Co"},
                                 {"Summary!C1", "str:007x"},
                                 {"Summary!D4", "float:12.5"},
                                 {"Lines!A3", "str:Bolt"}}));
    EXPECT_EQ(Custom(out), (Lines{{"QEL-ORIGINALNAME", "lpwstr:order.xml"}, {"QEL-RECEIVER", "lpwstr:17;18"}}));

    // Without any sheet name the scratch sheet is all there is.
    book = excel_.TransformXMLToExcel("<EMPTY><A QELVALUEPOS='A1'>x</A></EMPTY>", EWriteMode::Create, 5, false);
    excel_.WriteExcelObjectToFile(book, Output("empty.xlsx").string(), true);
    EXPECT_EQ(Independent("read", Output("empty.xlsx"))["sheets"], "QelServer:visible");
}

TEST_F(QelExcelTest, BadDocumentsAndPositionsAreRefusedWithTheirErrors) {
    Error parse = test::RaisedBy<Error>([&] { excel_.TransformXMLToExcel("<a><b></a>", EWriteMode::Create, 42, false); });
    EXPECT_EQ(parse.source(), "MSXML.DOMDocument");
    EXPECT_NE(parse.description().find("DocumentID: 42"), std::string::npos) << parse.description();
    EXPECT_NE(parse.number(), 0);

    Error missing = test::RaisedBy<Error>([&] { excel_.TransformXMLToExcel("<a/>", EWriteMode::Update, 42, false); });
    EXPECT_EQ(missing.number(), ErrNum(EnumerationErrors::MissingFileLocation));
    Error bothMissing = test::RaisedBy<Error>([&] { excel_.TransformXMLToExcel("<a/>", EWriteMode::Create, 42, true); });
    EXPECT_EQ(bothMissing.number(), ErrNum(EnumerationErrors::MissingFileLocation));

    for (const char* position : {"", "A=nothing", "12x=3", "A0", "XFE1"}) {
        const std::string xml = std::string("<a QELWORKSHEET='S'><b QELVALUEPOS='") + position + "'>v</b></a>";
        Error bad = test::RaisedBy<Error>([&] { excel_.TransformXMLToExcel(xml, EWriteMode::Create, 42, false); });
        EXPECT_EQ(bad.number(), ErrNum(EnumerationErrors::InValidExcelAddress)) << position << bad.description();
        EXPECT_NE(bad.description().find("could not be resolved"), std::string::npos) << bad.description();
    }
    // A position with only a column writes nothing and is no failure.
    ExcelWorkBookPtr book = excel_.TransformXMLToExcel("<a QELWORKSHEET='S'><b QELVALUEPOS='C'>v</b></a>",
                                                       EWriteMode::Create, 42, false);
    EXPECT_FALSE(book->book.Sheet("S").UsedRange().has_value());
}

}  // namespace
}  // namespace kestrix
