#include "kestrix/documents/qel_excel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/dictionary.h"
#include "platform/db/connection.h"
#include "platform/base/error.h"
#include "tests/support/backends.h"
#include "tests/support/site/test_site.h"
#include "tests/support/workbook_peer.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using Lines = std::map<std::string, std::string>;

std::string RunPeer(const std::string& script, const std::string& command, const fs::path& path) {
    return test::RunWorkbookPeer(script, command, path);
}

Lines Independent(const std::string& command, const fs::path& path) { return test::IndependentWorkbook(command, path); }

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

    // An Office Open XML workbook under the old extension reads the same.
    const fs::path old = site_.root() / "Routed.XLS";
    fs::copy_file(Input("~routed.xlsx"), old);
    xml::XmlDocument again;
    excel_.TransformExcelToXML(old.string(), again);
    EXPECT_EQ(again.DocumentElement().Attribute("WorkBook").value_or(""), "Routed.XLS");
    EXPECT_EQ(again.SelectNodes("//Cell").nodes.size(), 7u);
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

    // A workbook whose document the site would refuse is refused before it is built.
    site_.SetParameter("MaxDocumentSize", "300");
    Error big = test::RaisedBy<Error>([&] { excel_.TransformExcelToXML(Input("~routed.xlsx").string(), doc); });
    EXPECT_EQ(big.number(), ErrNum(EnumerationErrors::ProcessDocumentError));
    EXPECT_NE(big.description().find("this site takes documents of at most 300 bytes"), std::string::npos)
        << big.description();
    EXPECT_TRUE(doc.IsEmpty());
    site_.SetParameter("MaxDocumentSize", "1000");
    excel_.TransformExcelToXML(Input("~routed.xlsx").string(), doc);
    EXPECT_LE(doc.Xml().size(), 1000u);
    EXPECT_GT(doc.Xml().size(), 300u);
}

TEST_F(QelExcelTest, DamagedAndHostilePackagesAreRefusedWithAnError) {
    const test::TempDir dir;
    RunPeer("workbook_peer.py", "write", dir.path());
    const std::string damaged = RunPeer("workbook_peer.py", "damage", dir.path());
    size_t refused = 0, read = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        xml::XmlDocument doc;
        try {
            excel_.TransformExcelToXML(entry.path().string(), doc);
            EXPECT_EQ(doc.DocumentElement().Name(), "QELEXCEL") << name;
            ++read;
        } catch (const Error& e) {
            EXPECT_NE(e.number(), 0) << name;
            EXPECT_NE(e.description().find("METHOD: Kestrix.QelExcel.TransformExcelToXML"), std::string::npos) << name;
            ++refused;
        }
        for (const char* hostile : {"escape.xlsx", "absolute.xlsx", "outside.xlsx", "bomb.xlsx", "doctype.xlsx",
                                    "document.zip"})
            if (name == hostile) EXPECT_TRUE(doc.IsEmpty()) << name << " was read";
    }
    EXPECT_GE(refused, 60u) << damaged;
    EXPECT_GE(read, 4u);
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

TEST_F(QelExcelTest, TemplatesAreFilledInWhereTheirCellsAre) {
    const std::string xml =
        "<OFFER QELWORKSHEET='Offer' QELORIGINALFILENAME='o.xml'>"
        "<TO QELVALUEPOS='B1'>ACME</TO><SUM QELVALUEPOS='A=Total|B'>99</SUM></OFFER>";
    // A template file gives a workbook made from it, saved as the destination.
    const fs::path fromTemplate = Output("offer1.xlsx");
    fs::create_directories(fromTemplate.parent_path());
    ExcelWorkBookPtr book = excel_.TransformXMLToExcel(xml, EWriteMode::Create, 5, true,
                                                       Input("offer.xltx").string(), fromTemplate.string());
    excel_.WriteExcelObjectToFile(book, fromTemplate.string(), true);
    // A workbook used as template (kept read-only) is copied to the destination and the copy
    // filled in.
    const fs::path fromBook = Output("offer2.xlsx");
    const fs::path source = site_.root() / "offer_book.xlsx";
    fs::copy_file(Input("offer_book.xlsx"), source);
    fs::permissions(source, fs::perms::owner_read | fs::perms::group_read);
    const std::string before = test::ReadAll(source);
    book = excel_.TransformXMLToExcel(xml, EWriteMode::Create, 5, true, source.string(), fromBook.string());
    excel_.CloseWorkBook(book);
    EXPECT_EQ(book, nullptr);
    EXPECT_EQ(test::ReadAll(source), before);

    for (const fs::path& out : {fromTemplate, fromBook}) {
        Lines all = Independent("read", out);
        EXPECT_EQ(all["template"], "False") << out;
        EXPECT_EQ(all["sheets"], "Offer:visible") << out;
        EXPECT_EQ(Cells(out), (Lines{{"Offer!A1", "str:Offer for"},
                                     {"Offer!B1", "str:ACME"},
                                     {"Offer!A3", "str:Total"},
                                     {"Offer!B3", "int:99"}}))
            << out;
        // The template's own property stays; the original name is for new workbooks only.
        EXPECT_EQ(Custom(out), (Lines{{"Amount", "r8:1.5"}})) << out;
    }
}

TEST_F(QelExcelTest, UpdateFindsRowsAndGivesEachNewBlockTheNextRow) {
    const fs::path stock = Output("stock.xlsx");
    fs::create_directories(stock.parent_path());
    fs::copy_file(Input("stock.xlsx"), stock);
    const std::string xml =
        "<STOCK QELWORKSHEET='Stock' item='Bolt'>"
        "<W QELVALUEPOS='B&gt;30|C'>0.02</W>"                         // Washer, 40 > 30
        "<N QELVALUEPOS='A=Nut AND B&lt;13|B'>20</N>"                 // Nut, 12 < 13
        "<H QELLABEL='Checked' QELLABELPOS='1=Price|D'/>"             // along row 1, then D
        "<Z QELVALUEPOS='A=/STOCK/@item?|B'>7</Z>"                    // searched value from the document
        "<P QELVALUEPOS='A=Pin' QELBLOCK='7'>Pin</P>"                 // not found: new row for block 7
        "<Q QELVALUEPOS='A=Pin AND B&gt;0|B' QELBLOCK='7'>3</Q>"      // not found: same row
        "<R QELVALUEPOS='A=Rivet' QELBLOCK='8'>Rivet</R>"             // block 8: the row after
        "<T QELVALUEPOS='C'>top</T>"                                  // row 1 by default
        "<K QELVALUEPOS='2&gt;-1 AND 4&lt;1|8'>low</K>"              // along row 2: B fails on row 4, C
        "</STOCK>";
    ExcelWorkBookPtr book = excel_.TransformXMLToExcel(xml, EWriteMode::Update, 5, false, stock.string());
    excel_.CloseWorkBook(book);  // saved in place already

    Lines all = Independent("read", stock);
    EXPECT_EQ(all["sheets"], "Stock:visible|Old:hidden|Other:visible");
    EXPECT_EQ(Cells(stock), (Lines{{"Stock!A1", "str:Item"},   {"Stock!B1", "str:Qty"},     {"Stock!C1", "str:top"},
                                   {"Stock!D1", "str:Checked"}, {"Stock!A2", "str:Bolt"},    {"Stock!B2", "int:7"},
                                   {"Stock!C2", "float:0.2"},   {"Stock!A3", "str:Nut"},     {"Stock!B3", "int:20"},
                                   {"Stock!C3", "float:0.05"},  {"Stock!A4", "str:Washer"},  {"Stock!B4", "int:40"},
                                   {"Stock!C4", "float:0.02"},  {"Stock!A5", "str:Pin"},     {"Stock!B5", "int:3"},
                                   {"Stock!A6", "str:Rivet"},   {"Stock!C8", "str:low"},     {"Old!A1", "str:old"},       {"Other!C3", "str:keep"}}));

    // A search that finds nothing without a block fails and leaves the file as it was.
    const std::string saved = test::ReadAll(stock);
    Error bad = test::RaisedBy<Error>([&] {
        excel_.TransformXMLToExcel("<S QELWORKSHEET='Stock'><A QELVALUEPOS='B1'>x</A><B QELVALUEPOS='A=Screw'>y</B></S>",
                                   EWriteMode::Update, 5, false, stock.string());
    });
    EXPECT_EQ(bad.number(), ErrNum(EnumerationErrors::InValidExcelAddress));
    EXPECT_NE(bad.description().find("The position A=Screw on sheet Stock could not be resolved"), std::string::npos)
        << bad.description();
    EXPECT_EQ(test::ReadAll(stock), saved);
}

TEST_F(QelExcelTest, ALegacyBinaryWorkbookIsReadWithoutRoutingAndNeverWritten) {
    // Written by an independent legacy writer, under both old extensions.
    test::TempDir legacy;
    RunPeer("legacy_workbook_peer.py", "write", legacy.path());
    const fs::path orders = site_.root() / "Orders.XLS";
    const fs::path form = site_.root() / "form.xlt";
    fs::copy_file(legacy.path() / "legacy.xls", orders);
    fs::copy_file(legacy.path() / "legacy.xls", form);
    for (const fs::path& path : {orders, form}) {
        SCOPED_TRACE(path.filename().string());
        xml::XmlDocument doc;
        excel_.TransformExcelToXML(path.string(), doc);
        const std::string text = doc.Xml();
        EXPECT_EQ(doc.DocumentElement().Attribute("WorkBook").value_or(""), path.filename().string());
        // No routing element: the sheets come first.
        EXPECT_EQ(text.rfind("<QELEXCEL WorkBook=\"" + path.filename().string() + "\"><WorkSheet Name=\"Orders\">", 0), 0u)
            << text;
        EXPECT_NE(text.find("<Cell Row=\"1\" Column=\"A\">Item</Cell><Cell Row=\"1\" Column=\"B\">42</Cell>"
                            "<Cell Row=\"1\" Column=\"C\">3.25</Cell>"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("<Cell Row=\"2\" Column=\"A\">Gr\u00fc\u00dfe &amp; &lt;ok&gt;</Cell>"), std::string::npos) << text;
        EXPECT_NE(text.find("<Cell Row=\"2\" Column=\"D\">-1234567.875</Cell>"), std::string::npos) << text;
        EXPECT_NE(text.find("<WorkSheet Name=\"Second sheet\"><Cell Row=\"5\" Column=\"C\">-7.5</Cell>"
                            "<Cell Row=\"10\" Column=\"F\">far</Cell></WorkSheet>"),
                  std::string::npos)
            << text;
        EXPECT_EQ(doc.SelectNodes("//Cell").nodes.size(), 11u);
    }
    // Each read says in the log that the routing properties are lost.
    const std::string log = site_.LogText();
    for (const char* name : {"workbook=Orders.XLS", "workbook=form.xlt"})
        EXPECT_NE(log.find(name), std::string::npos) << log;
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("a legacy binary workbook carries no document properties", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 2u) << log;

    // It cannot be updated or appended to, and the file stays as it was.
    const std::string before = test::ReadAll(orders);
    for (EWriteMode mode : {EWriteMode::Update, EWriteMode::Append}) {
        Error e = test::RaisedBy<Error>([&] {
            excel_.TransformXMLToExcel("<a QELWORKSHEET='Orders'><b QELVALUEPOS='A1'>x</b></a>", mode, 5, false,
                                       orders.string());
        });
        EXPECT_NE(e.description().find("a legacy binary workbook can be read but not changed"), std::string::npos)
            << e.description();
    }
    EXPECT_EQ(test::ReadAll(orders), before);
}

TEST_F(QelExcelTest, AppendWritesBelowTheLastUsedRowAndAddsSheetsAfterTheLast) {
    const fs::path stock = Output("stock.xlsx");
    fs::create_directories(stock.parent_path());
    fs::copy_file(Input("stock.xlsx"), stock);
    const std::string xml =
        "<S><ROW QELWORKSHEET='Stock'><I QELVALUEPOS='A1'>Pin</I><Q QELVALUEPOS='B1'>9</Q></ROW>"
        "<LOG QELWORKSHEET='Log'><E QELVALUEPOS='A2'>appended</E></LOG></S>";
    ExcelWorkBookPtr book = excel_.TransformXMLToExcel(xml, EWriteMode::Append, 5, false, stock.string());
    excel_.CloseWorkBook(book);

    Lines all = Independent("read", stock);
    // The hidden sheet moved in front before the new one was added.
    EXPECT_EQ(all["sheets"], "Old:hidden|Stock:visible|Other:visible|Log:visible");
    Lines cells = Cells(stock);
    EXPECT_EQ(cells["Stock!A5"], "str:Pin");
    EXPECT_EQ(cells["Stock!B5"], "int:9");
    EXPECT_EQ(cells["Stock!A1"], "str:Item");
    EXPECT_EQ(cells["Log!A2"], "str:appended");
    EXPECT_EQ(cells.size(), 17u);
}

class QelExcelRecords : public ::testing::TestWithParam<std::string> {
  protected:
    int32_t NewDocument() {
        db::Connection c(site_.connectionString());
        db::EditRow row;
        row.Set("CREATIONDATE", "2026-01-01 00:00:00");
        row.Set("ORIGINALXMLBODY", "<a/>");
        row.Set("STATUS", 0);
        row.Set("DOCUMENTTYPEID", "ORDER");
        return static_cast<int32_t>(c.Insert("DOCUMENT", row, "DOCUMENTID"));
    }
    // The labels of the document's publication errors with their replacements, in order.
    std::vector<std::string> Errors(int32_t doc) {
        std::vector<std::string> found;
        db::Recordset rs = site_.Query(
            "SELECT PUBLICATIONERRORID, LABEL, ERRORNUMBER FROM PUBLICATIONERRORS WHERE DOCUMENTID = " +
            std::to_string(doc) + " ORDER BY PUBLICATIONERRORID");
        for (; !rs.Eof(); rs.MoveNext()) {
            EXPECT_EQ(rs.GetInt("ERRORNUMBER"), ErrNum(EnumerationErrors::InsertExcelError));
            Dictionary reps;
            ReadReplacements(reps, "PUBLICATIONERRORS", static_cast<int32_t>(rs.GetInt("PUBLICATIONERRORID")));
            std::string line = rs.GetString("LABEL");
            for (size_t i = 0; i < reps.Count(); ++i) line += " " + reps.At(i).first + "=" + reps.At(i).second.ToString();
            found.push_back(line);
        }
        return found;
    }
    test::TestSite site_{GetParam()};
    QelExcel excel_;
};

TEST_P(QelExcelRecords, PropertiesThatDoNotFitAreRecordedAndTheConversionGoesOn) {
    const int32_t doc = NewDocument();
    const std::string xml =
        "<ORDER QELWORKSHEET='S'>"
        "<P QELPROPLABEL='Total' QELPROPVALUE='abc' QELPROPTYPE='number'/>"
        "<P QELPROPLABEL='Lines' QELPROPVALUE='3' QELPROPTYPE='Number'/>"
        "<P QELPROPLABEL='LINES' QELPROPVALUE='three' QELPROPTYPE='text'/>"
        "<V QELVALUEPOS='A1'>done</V></ORDER>";
    ExcelWorkBookPtr book = excel_.TransformXMLToExcel(xml, EWriteMode::Create, doc, false);
    EXPECT_EQ(book->book.Sheet("S").Cell("A1").text, "done");
    EXPECT_EQ(excel_.GetCustomerPropertyFromExcel(*book, "Lines").ToDouble(), 3.0);
    EXPECT_EQ(Errors(doc), (std::vector<std::string>{
                               "SLBSH4533 [%PROPERTY%]=Total [%PROPERTYTYPE%]=number",
                               "SLBSH4534 [%PROPERTY%]=LINES [%PROPERTYTYPE%]=text [%EXCELPROPERTYNAME%]=Lines "
                               "[%EXCELPROPERTYTYPE%]=number"}));
}

TEST_P(QelExcelRecords, AReadOnlyWorkbookIsNotUpdatedAndIsRecorded) {
    const int32_t doc = NewDocument();
    const fs::path path = site_.root() / "locked.xlsx";
    {
        ExcelWorkBookPtr book = std::make_unique<ExcelWorkBook>(ExcelWorkBook{workbook::Workbook::Create(), {}});
        excel_.WriteExcelObjectToFile(book, path.string(), true);
    }
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string before = test::ReadAll(path);
    for (EWriteMode mode : {EWriteMode::Update, EWriteMode::Append}) {
        Error e = test::RaisedBy<Error>([&] {
            excel_.TransformXMLToExcel("<a QELWORKSHEET='Sheet1'><b QELVALUEPOS='A1'>x</b></a>", mode, doc, false,
                                       path.string());
        });
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::ExcelOpeningsError));
        EXPECT_EQ(e.source(), "Kestrix.QelExcel.OpenWorkBook");
    }
    EXPECT_EQ(test::ReadAll(path), before);
    EXPECT_EQ(Errors(doc), (std::vector<std::string>{"SLBSH4535", "SLBSH4535"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, QelExcelRecords, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
