#include "platform/workbook/workbook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "tests/support/backends.h"
#include "tests/support/workbook_peer.h"

namespace kestrix::workbook {
namespace {

namespace fs = std::filesystem;
using Lines = std::map<std::string, std::string>;

Lines Independent(const std::string& command, const fs::path& path) { return test::IndependentWorkbook(command, path); }

// The input workbooks, written once for all tests by the independent side.
class WorkbookTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        inputs_ = new test::TempDir;
        Independent("write", inputs_->path());
    }
    static void TearDownTestSuite() {
        delete inputs_;
        inputs_ = nullptr;
    }
    static fs::path Input(const std::string& name) { return inputs_->path() / name; }

    test::TempDir dir_;
    static test::TempDir* inputs_;
};
test::TempDir* WorkbookTest::inputs_ = nullptr;

Error RaisedBy(const std::function<void()>& call) { return test::RaisedBy<Error>(call); }

TEST_F(WorkbookTest, ReadsSheetsAndValuesWrittenByTheIndependentWriter) {
    Workbook book = Workbook::Open(Input("several.xlsx"));
    EXPECT_FALSE(book.IsTemplate());
    auto sheets = book.Sheets();
    ASSERT_EQ(sheets.size(), 4u);
    EXPECT_EQ(sheets[0].name, "Orders");
    EXPECT_EQ(sheets[1].state, SheetState::Hidden);
    EXPECT_EQ(sheets[2].name, "Secret");
    EXPECT_EQ(sheets[2].state, SheetState::VeryHidden);
    EXPECT_EQ(sheets[3].state, SheetState::Visible);
    EXPECT_EQ(book.FindSheet("sECRET"), 2u);

    Worksheet& orders = book.Sheet("orders");
    EXPECT_EQ(orders.Cell("A2").text, "Grüße, 東京");
    EXPECT_EQ(orders.Cell("a3").text, " padded ");
    EXPECT_EQ(orders.Cell({2, 2}).type, CellType::Number);
    EXPECT_EQ(orders.Cell("$B$2").number, 1234.5);
    EXPECT_EQ(orders.Cell("B3").number, -7);
    EXPECT_EQ(orders.Cell("C2").type, CellType::Boolean);
    EXPECT_TRUE(orders.Cell("C2").boolean);
    EXPECT_EQ(orders.Cell("Z99").type, CellType::Empty);
    EXPECT_EQ(orders.Cell("E2").date, DateTime::FromParts(2026, 3, 1, 12, 30));
    EXPECT_NEAR(orders.Cell("E2").number, 46082.520833, 1e-6);
    EXPECT_FALSE(orders.Cell("B2").date);
    EXPECT_EQ(orders.UsedRange(), (CellRange{{1, 1}, {10, 5}}));
    std::vector<std::string> visited;
    orders.ForEachCell([&](CellRef ref, const CellValue&) { visited.push_back(FormatAddress(ref)); });
    EXPECT_EQ(visited, (std::vector<std::string>{"A1", "B1", "A2", "B2", "C2", "E2", "A3", "B3", "D10"}));
    EXPECT_EQ(book.Sheet(2).Cell("B2").number, 99);
    EXPECT_FALSE(book.Sheet("Empty").UsedRange());

    // Formula cells: the formula and the value the application computed last.
    Workbook figures = Workbook::Open(Input("formulas.xlsx"));
    Worksheet& s = figures.Sheet(0);
    EXPECT_EQ(s.Cell("C1").formula, "A1+B1");
    EXPECT_EQ(s.Cell("C1").number, 3);
    EXPECT_EQ(s.Cell("D1").type, CellType::Text);
    EXPECT_EQ(s.Cell("D1").text, "x1");
    EXPECT_EQ(s.Cell("E1").type, CellType::Error);
    EXPECT_EQ(s.Cell("E1").text, "#DIV/0!");
    EXPECT_EQ(s.Cell("A2").text, "inline <text>");
    EXPECT_TRUE(s.Cell("B2").boolean);
    EXPECT_EQ(s.Cell("B2").formula, "A1<B1");
    EXPECT_EQ(s.Cell("C3").formula, "");  // shares the formula of C2
    EXPECT_FALSE(s.Cell("A1").formula);
    EXPECT_EQ(s.UsedRange(), (CellRange{{1, 1}, {4, 6}}));  // E4 holds only a format
}

TEST_F(WorkbookTest, WorkbooksTheEngineWritesAreReadByTheIndependentReader) {
    Workbook book = Workbook::Create();
    EXPECT_EQ(book.Sheets()[0].name, "Sheet1");
    book.RenameSheet(0, "Lines");
    Worksheet& lines = book.Sheet(0);
    lines.SetText(ParseAddress("A1"), "Article");
    lines.SetText({1, 2}, "Menge & <Preis>");
    lines.SetNumber({2, 1}, 4711);
    lines.SetNumber({2, 2}, 2.5);
    lines.SetBoolean({2, 3}, false);
    lines.SetText({3, 1}, "Article");  // the same text twice
    lines.SetText({3, 2}, "tab\tline\nbreak");
    lines.SetNumber({1, 28}, 1e-7);  // AB1, after the others in its row
    lines.SetDate({2, 4}, DateTime::FromParts(2026, 12, 24, 8, 15));
    lines.SetDate({2, 5}, DateTime::FromParts(1900, 2, 28));  // before the day that never was
    book.AddSheet("Hidden one");
    book.Sheet(1).SetNumber({5, 5}, 5);
    book.SetSheetState(1, SheetState::Hidden);
    book.AddSheet("Very");
    book.SetSheetState(2, SheetState::VeryHidden);
    book.AddSheet("Gone");
    book.AddSheet("First");
    book.MoveSheet(4, 0);
    book.DeleteSheet(*book.FindSheet("gone"));
    const fs::path path = dir_.path() / "made.xlsx";
    book.Save(path.string());

    Lines read = Independent("read", path);
    EXPECT_EQ(read["sheets"], "First:visible|Lines:visible|Hidden one:hidden|Very:veryHidden");
    EXPECT_EQ(read["active"], "Lines");  // the views follow the sheet they showed
    EXPECT_EQ(read["Lines!A1"], "str:Article");
    EXPECT_EQ(read["Lines!B1"], "str:Menge & <Preis>");
    EXPECT_EQ(read["Lines!A2"], "int:4711");
    EXPECT_EQ(read["Lines!B2"], "float:2.5");
    EXPECT_EQ(read["Lines!C2"], "bool:False");
    EXPECT_EQ(read["Lines!A3"], "str:Article");
    EXPECT_EQ(read["Lines!AB1"], "float:1e-07");
    EXPECT_EQ(read["Lines!D2"], "datetime:2026-12-24 08:15:00");
    EXPECT_EQ(read["Lines!E2"], "datetime:1900-02-28 00:00:00");
    EXPECT_EQ(read["Hidden one!E5"], "int:5");
    EXPECT_EQ(read["template"], "False");

    // The saved file opens again with the same content, and its text survived as it was.
    Workbook again = Workbook::Open(path.string());
    EXPECT_EQ(again.Sheet("Lines").Cell("B3").text, "tab\tline\nbreak");
    EXPECT_EQ(again.Sheet("Lines").UsedRange(), (CellRange{{1, 1}, {3, 28}}));
}

TEST_F(WorkbookTest, AChangeKeepsWhatItDoesNotTouchAsItWas) {
    const fs::path before = Input("several.xlsx");
    Workbook book = Workbook::Open(before.string());
    book.Sheet("Orders").SetNumber(ParseAddress("B2"), 10);
    book.Sheet("Orders").SetText(ParseAddress("E1"), "added");
    book.Sheet("Orders").Clear(ParseAddress("A3"));
    book.MoveSheet(1, 3);     // Archive goes last
    book.DeleteSheet(0);      // Orders goes, changed as it is, and its own name with it
    book.RenameSheet(2, "Archive's old");
    const fs::path after = dir_.path() / "changed.xlsx";
    book.Save(after.string());

    Lines old = Independent("raw", before);
    Lines now = Independent("raw", after);
    for (const char* same : {"docProps/app.xml", "docProps/core.xml", "xl/theme/theme1.xml", "xl/styles.xml",
                             "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml", "_rels/.rels"})
        EXPECT_EQ(now[same], old[same]) << same;
    EXPECT_EQ(now.count("xl/worksheets/sheet1.xml"), 0u);
    EXPECT_NE(now["xl/workbook.xml"], old["xl/workbook.xml"]);

    Lines read = Independent("read", after);
    EXPECT_EQ(read["sheets"], "Secret:veryHidden|Empty:visible|Archive's old:hidden");
    EXPECT_EQ(read["active"], "Empty");  // the first visible sheet, since the active one went
    EXPECT_EQ(read.count("name:OrdersLocal"), 0u);
    EXPECT_EQ(read["name:ArchiveLocal"], "2:'Archive''s old'!$A$1");  // follows the sheet's name
    EXPECT_EQ(read["Archive's old!A1"], "str:old");

    // A formula sheet changed elsewhere keeps its formulas and their last values.
    Workbook figures = Workbook::Open(Input("formulas.xlsx").string());
    figures.Sheet(0).SetNumber(ParseAddress("A4"), 8);
    figures.Sheet(0).SetText(ParseAddress("C2"), "no formula now");  // leads the shared formula
    figures.RenameSheet(0, "Key_figures");
    const fs::path figuresPath = dir_.path() / "figures.xlsx";
    figures.Save(figuresPath.string());
    Workbook reread = Workbook::Open(figuresPath.string());
    EXPECT_EQ(reread.Sheet(0).Cell("C1").formula, "A1+B1");
    EXPECT_EQ(reread.Sheet(0).Cell("E1").text, "#DIV/0!");
    EXPECT_FALSE(reread.Sheet(0).Cell("C3").formula);  // the formula it shared is gone
    // References to the renamed sheet follow it; a text and another workbook's sheet do not.
    EXPECT_EQ(reread.Sheet(0).Cell("F1").formula, "Key_figures!A1&\"Figures!\"&[1]Figures!A1&Key_figures!B1");
    EXPECT_EQ(reread.Sheet(0).Cell("F1").text, "1Figures!12");
    EXPECT_EQ(Independent("raw", Input("formulas.xlsx")).count("xl/calcChain.xml"), 1u);
    EXPECT_EQ(Independent("raw", figuresPath).count("xl/calcChain.xml"), 0u);  // made anew by the application
    Lines figuresRead = Independent("read", figuresPath);
    EXPECT_EQ(figuresRead["Key_figures!C1"], "str:=A1+B1");
    EXPECT_EQ(figuresRead["cached:Key_figures!C1"], "3");
    EXPECT_EQ(figuresRead["Key_figures!A4"], "int:8");
    EXPECT_EQ(figuresRead["Key_figures!C2"], "str:no formula now");
}

TEST_F(WorkbookTest, ATemplateBecomesAWorkbookOnlyWhenMadeFromIt) {
    Workbook kept = Workbook::Open(Input("offer.xltx").string());
    EXPECT_TRUE(kept.IsTemplate());
    const fs::path keptPath = dir_.path() / "kept.xltx";
    kept.Save(keptPath.string());
    EXPECT_NE(Independent("raw", keptPath)["workbook-type"].find(".template.main"), std::string::npos);

    Workbook made = Workbook::FromTemplate(Input("offer.xltx").string());
    EXPECT_FALSE(made.IsTemplate());
    made.Sheet(0).SetText(ParseAddress("B1"), "ACME");
    const fs::path madePath = dir_.path() / "offer.xlsx";
    made.Save(madePath.string());
    EXPECT_EQ(Independent("raw", madePath)["workbook-type"],
              "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");
    Lines read = Independent("read", madePath);
    EXPECT_EQ(read["template"], "False");
    EXPECT_EQ(read["Offer!A1"], "str:Offer for");
    EXPECT_EQ(read["Offer!B1"], "str:ACME");
}

TEST_F(WorkbookTest, CustomPropertiesOfTheFourTypes) {
    Workbook book = Workbook::Open(Input("custom.xlsx").string());
    auto list = book.CustomProperties();
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].name, "QEL-Receiver");
    EXPECT_EQ(list[0].value, Variant("ACME & Co"));
    EXPECT_EQ(book.GetCustomProperty("total"), Variant(12.75));
    EXPECT_EQ(book.GetCustomProperty("Lines"), Variant(3.0));
    EXPECT_EQ(book.GetCustomProperty("Due"), Variant(DateTime::FromParts(2026, 3, 1, 12, 30)));
    EXPECT_EQ(book.GetCustomProperty("Urgent"), Variant(true));
    EXPECT_FALSE(book.GetCustomProperty("Missing"));

    book.SetCustomProperty("Total", "twelve");  // another type replaces the old one
    book.SetCustomProperty("Shipped", DateTime::FromParts(2026, 12, 24));
    book.SetCustomProperty("Count", 42);
    book.SetCustomProperty("Rate", 0.25);
    book.SetCustomProperty("Paid", false);
    EXPECT_TRUE(book.RemoveCustomProperty("urgent"));
    EXPECT_EQ(RaisedBy([&] { book.SetCustomProperty("Empty", Variant()); }).number(), wberr::InvalidProperty);
    const fs::path path = dir_.path() / "props.xlsx";
    book.Save(path.string());
    Lines read = Independent("custom", path);
    EXPECT_EQ(read["QEL-Receiver"], "lpwstr:ACME & Co");
    EXPECT_EQ(read["Total"], "lpwstr:twelve");
    EXPECT_EQ(read["Shipped"], "filetime:2026-12-24T00:00:00Z");
    EXPECT_EQ(read["Count"], "i4:42");
    EXPECT_EQ(read["Rate"], "r8:0.25");
    EXPECT_EQ(read["Paid"], "bool:false");
    EXPECT_EQ(read.count("Urgent"), 0u);
    EXPECT_EQ(read["distinct-pids"], "8");

    // A workbook without properties gets the part, its relationship and its content type.
    Workbook fresh = Workbook::Create();
    EXPECT_TRUE(fresh.CustomProperties().empty());
    fresh.SetCustomProperty("QEL-Sender", "Kestrix");
    const fs::path freshPath = dir_.path() / "fresh.xlsx";
    fresh.Save(freshPath.string());
    Lines freshRead = Independent("custom", freshPath);
    EXPECT_EQ(freshRead["QEL-Sender"], "lpwstr:Kestrix");
    EXPECT_EQ(freshRead["content-type"], "True");
    EXPECT_EQ(freshRead["relationship"], "True");
    EXPECT_EQ(Workbook::FromBytes(fresh.SaveToBytes()).GetCustomProperty("qel-sender"), Variant("Kestrix"));
}

TEST_F(WorkbookTest, NamesStatesAndValuesFollowTheApplicationsRules) {
    Workbook book = Workbook::Create();
    for (const char* bad : {"", "a[1]", "a:b", "a*", "a?", "a/b", "a\\b", "'quoted'", "history",
                            "1234567890123456789012345678901x", "bad \xC3\x28 byte"})
        EXPECT_EQ(RaisedBy([&] { book.AddSheet(bad); }).number(), wberr::InvalidSheetName) << bad;
    book.AddSheet("Äpfel und Birnen, 31 Zeichen!!!");  // 31 characters, 33 bytes
    EXPECT_EQ(RaisedBy([&] { book.AddSheet("äPFEL UND BIRNEN, 31 ZEICHEN!!!"); }).number(), wberr::InvalidSheetName);
    EXPECT_EQ(RaisedBy([&] { book.RenameSheet(1, "SHEET1"); }).number(), wberr::InvalidSheetName);
    book.RenameSheet(0, "sheet1");  // its own name in other case is fine

    // The last visible sheet can neither be hidden nor deleted.
    book.SetSheetState(1, SheetState::VeryHidden);
    EXPECT_EQ(RaisedBy([&] { book.SetSheetState(0, SheetState::Hidden); }).number(), wberr::InvalidSheet);
    EXPECT_EQ(RaisedBy([&] { book.DeleteSheet(0); }).number(), wberr::InvalidSheet);
    EXPECT_EQ(RaisedBy([&] { book.Sheet(7); }).number(), wberr::InvalidSheet);
    EXPECT_EQ(RaisedBy([&] { book.Sheet(0).Cell("XFE1"); }).number(), wberr::InvalidAddress);
    EXPECT_EQ(RaisedBy([&] { book.Sheet(0).SetNumber({1048577, 1}, 1); }).number(), wberr::InvalidAddress);
    Worksheet& sheet = book.Sheet(0);
    EXPECT_EQ(RaisedBy([&] { sheet.SetNumber({1, 1}, std::nan("")); }).number(), wberr::InvalidValue);
    EXPECT_EQ(RaisedBy([&] { sheet.SetText({1, 1}, "\xC3\x28"); }).number(), wberr::InvalidValue);
    EXPECT_EQ(RaisedBy([&] { sheet.SetText({1, 1}, std::string(32768, 'x')); }).number(), wberr::InvalidValue);
    sheet.SetText({1, 1}, std::string(32767, 'x'));
    EXPECT_EQ(sheet.Cell("A1").text.size(), 32767u);
    book.DeleteSheet(1);
    EXPECT_EQ(book.SheetCount(), 1u);
    EXPECT_EQ(FormatAddress({1048576, 16384}), "XFD1048576");
}

TEST_F(WorkbookTest, HostilePackagesAreRefusedWithTheirReason) {
    struct Case {
        std::string name;
        int32_t number;
        std::string says;
    };
    test::WriteAll(dir_.path() / "orders.csv", "Order;Amount\n1;2\n");
    test::WriteAll(dir_.path() / "renamed.xlsx", "%PDF-1.4\n%\xe2\xe3\n1 0 obj\n");
    for (const Case& c : std::vector<Case>{
             {(dir_.path() / "orders.csv").string(), wberr::NotAPackage, "no zip package"},
             {(dir_.path() / "renamed.xlsx").string(), wberr::NotAPackage, "no zip package"},
             {(dir_.path() / "missing.xlsx").string(), wberr::FileError, "missing.xlsx"},
             {Input("document.zip").string(), wberr::NotAWorkbook, "[Content_Types].xml"},
             {Input("escape.xlsx").string(), wberr::UnsafePath, "evil.txt"},
             {Input("absolute.xlsx").string(), wberr::UnsafePath, "/etc/absolute.txt"},
             {Input("outside.xlsx").string(), wberr::UnsafePath, "../../outside.xml"},
             {Input("bomb.xlsx").string(), wberr::LimitExceeded, "zeros.bin"},
             {Input("doctype.xlsx").string(), wberr::NotAWorkbook, "document type"}}) {
        Error e = RaisedBy([&] { Workbook::Open(c.name); });
        EXPECT_EQ(e.number(), c.number) << c.name << ": " << e.description();
        EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
        EXPECT_EQ(e.source(), "Workbook");
    }
    const std::string good = test::ReadAll(Input("several.xlsx"));
    Limits few;
    few.maxEntries = 5;
    EXPECT_NE(RaisedBy([&] { Workbook::FromBytes(good, few); }).description().find("entries"), std::string::npos);
    Limits small;
    small.maxEntryBytes = 1000;
    EXPECT_EQ(RaisedBy([&] { Workbook::FromBytes(good, small); }).number(), wberr::LimitExceeded);
    Limits total;
    total.maxTotalBytes = 10000;
    EXPECT_EQ(RaisedBy([&] { Workbook::FromBytes(good, total); }).number(), wberr::LimitExceeded);
}

// Damaged packages: cut short or with bytes changed, each either opens (the damage hit
// nothing that is read) or is refused with an Error; never a crash or another exception.
TEST_F(WorkbookTest, DamagedPackagesGiveErrorsNeverCrashes) {
    Workbook source = Workbook::Open(Input("formulas.xlsx").string());
    source.Sheet(0).SetText(ParseAddress("A9"), "text");
    source.SetCustomProperty("QEL-Receiver", "ACME");
    const std::vector<std::string> packages = {source.SaveToBytes(), test::ReadAll(Input("several.xlsx"))};
    std::mt19937 random(20261208);
    int refused = 0, opened = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes = packages[round % 2];
        if (round % 3 == 0) {
            bytes.resize(std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random));
        } else {
            int flips = std::uniform_int_distribution<int>(1, 8)(random);
            for (int i = 0; i < flips; ++i)
                bytes[std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random)] ^=
                    static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random));
        }
        try {
            Workbook book = Workbook::FromBytes(bytes);
            for (size_t i = 0; i < book.SheetCount(); ++i) {
                Worksheet& sheet = book.Sheet(i);
                if (auto used = sheet.UsedRange())
                    for (uint32_t r = used->first.row; r <= used->last.row; ++r)
                        for (uint32_t c = used->first.column; c <= used->last.column; ++c) sheet.Cell({r, c});
                sheet.SetNumber({1, 1}, 1);
            }
            book.CustomProperties();
            Workbook::FromBytes(book.SaveToBytes());
            ++opened;
        } catch (const Error& e) {
            EXPECT_FALSE(e.description().empty());
            ++refused;
        }
    }
    EXPECT_GT(refused, 200);
    EXPECT_GT(opened, 0);

    // Sound packages whose parts are damaged: the parsers, not the zip layer, must refuse.
    refused = opened = 0;
    const Lines damaged = Independent("damage", inputs_->path());
    ASSERT_EQ(damaged.size(), 150u);
    for (const auto& [file, part] : damaged) {
        try {
            Workbook book = Workbook::Open((inputs_->path() / file).string());
            for (size_t i = 0; i < book.SheetCount(); ++i)
                if (book.Sheets()[i].kind == SheetKind::Worksheet)
                    book.Sheet(i).ForEachCell([](CellRef, const CellValue&) {});
            book.CustomProperties();
            book.AddSheet("Added");
            Workbook::FromBytes(book.SaveToBytes());
            ++opened;
        } catch (const Error& e) {
            EXPECT_NE(e.description().find(part.substr(part.rfind('/') + 1)), std::string::npos)
                << file << ": " << e.description();
            ++refused;
        }
    }
    EXPECT_GT(refused, 50);
    EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace kestrix::workbook
