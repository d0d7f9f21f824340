// Legacy binary workbooks: written by an independent writer (python3-xlwt), read by the
// engine; damaged ones refused; every change and save refused.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/workbook/workbook.h"
#include "tests/support/backends.h"
#include "tests/support/workbook_peer.h"

namespace kestrix::workbook {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

class LegacyWorkbookTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        inputs_ = new test::TempDir;
        test::RunWorkbookPeer("legacy_workbook_peer.py", "write", inputs_->path());
    }
    static void TearDownTestSuite() {
        delete inputs_;
        inputs_ = nullptr;
    }
    static fs::path Input(const std::string& name) { return inputs_->path() / name; }
    static test::TempDir* inputs_;
};
test::TempDir* LegacyWorkbookTest::inputs_ = nullptr;

Error RaisedBy(const std::function<void()>& call) { return test::RaisedBy<Error>(call); }

TEST_F(LegacyWorkbookTest, ReadsSheetsAndValuesOfEveryTypeWrittenByTheIndependentWriter) {
    // Told by its content: the same bytes under a name of another format read the same.
    fs::copy_file(Input("legacy.xls"), Input("renamed.xlsx"), fs::copy_options::overwrite_existing);
    for (const char* name : {"legacy.xls", "renamed.xlsx"}) {
        SCOPED_TRACE(name);
        Workbook book = Workbook::Open(Input(name).string());
        EXPECT_TRUE(book.IsLegacyBinary());
        EXPECT_FALSE(book.IsTemplate());
        auto sheets = book.Sheets();
        ASSERT_EQ(sheets.size(), 2u);
        EXPECT_EQ(sheets[0].name, "Orders");
        EXPECT_EQ(sheets[1].name, "Second sheet");
        EXPECT_EQ(sheets[1].kind, SheetKind::Worksheet);
        EXPECT_EQ(book.FindSheet("second SHEET"), 1u);

        Worksheet& orders = book.Sheet("Orders");
        EXPECT_EQ(orders.Cell("A1").type, CellType::Text);
        EXPECT_EQ(orders.Cell("A1").text, "Item");
        EXPECT_EQ(orders.Cell("A2").text, "Grüße & <ok>");
        EXPECT_EQ(orders.Cell("B1").type, CellType::Number);
        EXPECT_EQ(orders.Cell("B1").number, 42);
        EXPECT_EQ(orders.Cell("C1").number, 3.25);
        EXPECT_EQ(orders.Cell("D2").number, -1234567.875);
        EXPECT_FALSE(orders.Cell("D2").date);
        // The reader gives a boolean as the number it is stored as.
        EXPECT_EQ(orders.Cell("D1").number, 1);
        EXPECT_EQ(orders.Cell("B2").date, DateTime::FromParts(2024, 3, 15, 13, 45, 10));
        EXPECT_NEAR(orders.Cell("B2").number, 45366.573032, 1e-6);
        EXPECT_EQ(orders.Cell("C2").date, DateTime::FromParts(2023, 12, 31));
        EXPECT_EQ(orders.Cell("C2").number, 45291);
        EXPECT_EQ(orders.Cell("A3").type, CellType::Empty);
        EXPECT_EQ(orders.Cell("A4").text, "after an empty row");
        EXPECT_EQ(orders.UsedRange(), (CellRange{{1, 1}, {4, 4}}));
        std::vector<std::string> visited;
        orders.ForEachCell([&](CellRef ref, const CellValue&) { visited.push_back(FormatAddress(ref)); });
        EXPECT_EQ(visited, (std::vector<std::string>{"A1", "B1", "C1", "D1", "A2", "B2", "C2", "D2", "A4"}));

        Worksheet& second = book.Sheet(1);
        EXPECT_EQ(second.Cell("C5").number, -7.5);
        EXPECT_EQ(second.Cell("F10").text, "far");
        EXPECT_EQ(second.UsedRange(), (CellRange{{5, 3}, {10, 6}}));
        // It carries no custom document properties.
        EXPECT_TRUE(book.CustomProperties().empty());
    }
    // From bytes as from a file, and a package of the engine's own format is no legacy one.
    EXPECT_TRUE(Workbook::FromBytes(Bytes(Input("legacy.xls"))).IsLegacyBinary());
    EXPECT_FALSE(Workbook::Create().IsLegacyBinary());
}

TEST_F(LegacyWorkbookTest, EveryChangeAndEverySaveIsRefused) {
    const std::string original = Bytes(Input("legacy.xls"));
    Workbook book = Workbook::Open(Input("legacy.xls").string());
    Worksheet& sheet = book.Sheet(0);
    const fs::path target = Input("saved.xlsx");
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"SetNumber", [&] { sheet.SetNumber({1, 1}, 1); }},
        {"SetText", [&] { sheet.SetText({9, 9}, "x"); }},
        {"SetBoolean", [&] { sheet.SetBoolean({1, 2}, true); }},
        {"SetDate", [&] { sheet.SetDate({1, 3}, DateTime::FromParts(2020, 1, 1)); }},
        {"Clear", [&] { sheet.Clear({1, 1}); }},
        {"AddSheet", [&] { book.AddSheet("New"); }},
        {"RenameSheet", [&] { book.RenameSheet(0, "Other"); }},
        {"DeleteSheet", [&] { book.DeleteSheet(1); }},
        {"MoveSheet", [&] { book.MoveSheet(1, 0); }},
        {"SetSheetState", [&] { book.SetSheetState(1, SheetState::Hidden); }},
        {"SetCustomProperty", [&] { book.SetCustomProperty("QEL-Receiver", Variant(std::string("X"))); }},
        {"RemoveCustomProperty", [&] { book.RemoveCustomProperty("QEL-Receiver"); }},
        {"SaveToBytes", [&] { book.SaveToBytes(); }},
        {"Save", [&] { book.Save(target.string()); }},
        {"Save over itself", [&] { book.Save(Input("legacy.xls").string()); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        Error e = RaisedBy(change);
        EXPECT_EQ(e.number(), wberr::ReadOnly);
        EXPECT_NE(e.description().find("a legacy binary workbook can be read but not changed"), std::string::npos)
            << e.description();
    }
    // Nothing changed, nothing written.
    EXPECT_EQ(sheet.Cell("A1").text, "Item");
    EXPECT_EQ(book.SheetCount(), 2u);
    EXPECT_EQ(book.Sheets()[0].name, "Orders");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(Bytes(Input("legacy.xls")), original);
    // A template made from it is as read-only.
    Workbook copy = Workbook::FromTemplate(Input("legacy.xls").string());
    EXPECT_EQ(RaisedBy([&] { copy.SaveToBytes(); }).number(), wberr::ReadOnly);
}

TEST_F(LegacyWorkbookTest, DamagedCompoundFilesAreRefusedWithAnError) {
    const std::string good = Bytes(Input("legacy.xls"));
    // The header of a real file followed by garbage, written by the independent side.
    Error damaged = RaisedBy([&] { Workbook::Open(Input("damaged.xls").string()); });
    EXPECT_EQ(damaged.number(), wberr::DamagedPackage) << damaged.description();
    EXPECT_NE(damaged.description().find("legacy binary workbook"), std::string::npos) << damaged.description();
    // The signature alone, the signature and a cut-off header, half of the real file.
    for (const std::string& bytes : {good.substr(0, 8), good.substr(0, 300), good.substr(0, good.size() / 2)}) {
        SCOPED_TRACE(bytes.size());
        EXPECT_EQ(RaisedBy([&] { Workbook::FromBytes(bytes); }).number(), wberr::DamagedPackage);
    }
    // A file over the size limit is refused before it is read.
    Limits small;
    small.maxPackageBytes = 1024;
    EXPECT_EQ(RaisedBy([&] { Workbook::FromBytes(good, small); }).number(), wberr::LimitExceeded);
    // Bytes that only resemble the signature are no legacy workbook either.
    std::string near = good;
    near[7] = 0;
    EXPECT_EQ(RaisedBy([&] { Workbook::FromBytes(near); }).number(), wberr::NotAPackage);
}

TEST_F(LegacyWorkbookTest, RandomlyDamagedFilesAreReadOrRefusedNeverACrash) {
    const std::string good = Bytes(Input("legacy.xls"));
    std::mt19937 random(1313);
    int refused = 0, read = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i)
            bytes[8 + random() % (bytes.size() - 8)] = static_cast<char>(random() % 256);  // the signature stays
        try {
            Workbook book = Workbook::FromBytes(bytes);
            ASSERT_TRUE(book.IsLegacyBinary());
            for (size_t i = 0; i < book.SheetCount(); ++i) book.Sheet(i).ForEachCell([](CellRef, const CellValue&) {});
            ++read;
        } catch (const Error& e) {
            EXPECT_TRUE(e.number() == wberr::DamagedPackage || e.number() == wberr::NotAWorkbook ||
                        e.number() == wberr::LimitExceeded || e.number() == wberr::InvalidSheetName ||
                        e.number() == wberr::InvalidSheet)
                << std::hex << e.number() << " " << e.description();
            ++refused;
        }
    }
    EXPECT_EQ(read + refused, 300);
    EXPECT_GT(refused, 0) << read;  // the damage is real, and some of it is seen
}

}  // namespace
}  // namespace kestrix::workbook
