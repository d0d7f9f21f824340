#include "kestrix/foundation/file_handling.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

/// Runs `call` and answers the error it raises (number 0 when it raises none).
template <typename Call>
Error FailureOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    return Error(0, "", "");
}

class FileHandlingTest : public ::testing::Test {
  protected:
    test::TestSite site_{"sqlite"};
    FileHandling files_;
    fs::path work_ = site_.root() / "work";
    void SetUp() override { fs::create_directories(work_); }
};

TEST(FileHandlingNames, TimeStampsAndFileNamesByKind) {
    EXPECT_EQ(TimeStampSuffix(DateTime::FromParts(2003, 5, 5, 13, 45, 10)), "_2003.05.05_13.45.10");
    EXPECT_EQ(TimeStampSuffix(DateTime::FromParts(2003, 12, 31, 0, 0, 0)), "_2003.12.31_00.00.00");

    FileHandling files;
    EXPECT_EQ(files.GetFileName(EFileType::AsIs, " pre_", " order ", "_v2 ", " .xml"),
              "pre_order_v2.xml");
    EXPECT_EQ(files.GetFileName(EFileType::Backup, "p", "order", "s", ".xml"), "");
    EXPECT_EQ(files.GetFileName(static_cast<EFileType>(99), "p", "order", "s", ".xml"), "");
    const std::string temp = files.GetFileName(EFileType::TempFile, "in_", "ignored", "", ".xml");
    EXPECT_TRUE(temp.starts_with("in_") && temp.ends_with(".xml"));
    EXPECT_EQ(temp.find("ignored"), std::string::npos);
    EXPECT_NE(temp, files.GetFileName(EFileType::TempFile, "in_", "ignored", "", ".xml"));
    const std::string stamped =
        files.GetFileName(EFileType::WithTimeStamp, "", "order", "", ".xml");
    ASSERT_EQ(stamped.size(), std::string("order_yyyy.mm.dd_hh.mm.ss.xml").size());
    EXPECT_EQ(stamped.substr(0, 6), "order_");
    EXPECT_EQ(stamped[10], '.');
    EXPECT_EQ(stamped[19], '.');

    EXPECT_EQ(files.GetFileExtension("/in/Order.Final.XML"), "xml");
    EXPECT_EQ(files.GetFileExtension("C:\\in\\README"), "");
}

TEST_F(FileHandlingTest, FoldersByKind) {
    site_.SetParameter("XmlUploadTempDir", "  /srv/upload  ");
    site_.SetParameter("ObiPath", "/srv/obi");
    EXPECT_EQ(files_.GetFolderName(EFolderType::UploadFolder), "/srv/upload");
    EXPECT_EQ(files_.GetFolderName(EFolderType::ObiFolder), "/srv/obi");
    EXPECT_EQ(files_.GetFolderName(EFolderType::AsIs, "some/where"), "some/where");
    EXPECT_EQ(files_.GetFolderName(static_cast<EFolderType>(42)), ".");
    EXPECT_EQ(files_.GetFolderName(static_cast<EFolderType>(42), "given"), "given");
    EXPECT_TRUE(files_.GetFolderName(EFolderType::WithTimeStamp, "x").starts_with("x_"));

    site_.SetParameter("TempFolder", "   ");
    EXPECT_EQ(fs::path(files_.GetFolderName(EFolderType::TempFolder)), fs::temp_directory_path());
    site_.SetParameter("TempFolder", (work_ / "tmp").string());
    EXPECT_EQ(files_.GetFolderName(EFolderType::TempFolder), (work_ / "tmp").string());

    const fs::path excel = work_ / "excel" / "temp";
    site_.SetParameter("ExcelTempFolder", excel.string());
    EXPECT_EQ(files_.GetFolderName(EFolderType::ExcelTempFolder), excel.string());
    EXPECT_TRUE(fs::is_directory(excel));
}

TEST_F(FileHandlingTest, WriteFileToDiskChecksItsArguments) {
    const fs::path dest = work_ / "dest.txt";
    auto number = [](EnumerationErrors e) { return ErrNum(e); };

    Error blank = FailureOf([&] { files_.WriteFileToDisk("  ", "text"); });
    EXPECT_EQ(blank.number(), number(EnumerationErrors::MissingParameter));
    EXPECT_EQ(blank.source(), "Kestrix.FileHandling.WriteFileToDisk_DestFile");

    Error reading = FailureOf([&] {
        files_.WriteFileToDisk(dest.string(), "t", "", false, true, false, EFileIOMode::Reading);
    });
    EXPECT_EQ(reading.number(), number(EnumerationErrors::WrongIOMode));

    WriteAll(work_ / "source.txt", "abc");
    Error both = FailureOf(
        [&] { files_.WriteFileToDisk(dest.string(), "t", (work_ / "source.txt").string()); });
    EXPECT_EQ(both.number(), number(EnumerationErrors::NotPresent));
    EXPECT_EQ(both.source(), "Kestrix.FileHandling.WriteFileToDisk_SourceFile");

    Error vanished = FailureOf(
        [&] { files_.WriteFileToDisk(dest.string(), "", (work_ / "gone.txt").string()); });
    EXPECT_EQ(vanished.number(), number(EnumerationErrors::NotPresent));
    EXPECT_NE(vanished.description().find("gone.txt"), std::string::npos);

    Error noCreate =
        FailureOf([&] { files_.WriteFileToDisk(dest.string(), "t", "", false, false); });
    EXPECT_EQ(noCreate.number(), number(EnumerationErrors::NotPresent));
    EXPECT_EQ(noCreate.source(), "Kestrix.FileHandling.WriteFileToDisk_DestFile");

    WriteAll(dest, "old");
    Error present = FailureOf([&] { files_.WriteFileToDisk(dest.string(), "new"); });
    EXPECT_EQ(present.number(), number(EnumerationErrors::AlreadyPresent));
    EXPECT_NE(present.description().find("The file " + dest.string() + " already exists."),
              std::string::npos);
    EXPECT_EQ(ReadAll(dest), "old");

    Error noFolder =
        FailureOf([&] { files_.WriteFileToDisk((work_ / "a" / "b.txt").string(), "t"); });
    EXPECT_EQ(noFolder.number(), number(EnumerationErrors::NotPresent));
    EXPECT_EQ(noFolder.source(), "Kestrix.FileHandling.WriteFileToDisk_DestFolder");
    EXPECT_FALSE(fs::exists(work_ / "a"));
}

TEST_F(FileHandlingTest, WriteFileToDiskWritesAppendsAndCopies) {
    // Three missing levels are created when asked for.
    const fs::path deep = work_ / "one" / "two" / "three" / "order.txt";
    files_.WriteFileToDisk(deep.string(), "line 1\n", "", true);
    EXPECT_EQ(ReadAll(deep), "line 1\n");

    files_.WriteFileToDisk(deep.string(), "line 2\n", "", false, true, true,
                           EFileIOMode::Appending);
    EXPECT_EQ(ReadAll(deep), "line 1\nline 2\n");
    files_.WriteFileToDisk(deep.string(), "fresh", "", false, true, true, EFileIOMode::Writing);
    EXPECT_EQ(ReadAll(deep), "fresh");

    // Single-byte text; a text code page 1252 cannot hold keeps every character.
    const fs::path named = work_ / "Bestellung für Müller.txt";
    files_.WriteFileToDisk(named.string(), "Grüße");
    EXPECT_EQ(ReadAll(named),
              "Gr\xFC\xDF"
              "e");
    EXPECT_EQ(files_.GetFileContentAsString(named.string()), "Grüße");
    const fs::path wide = work_ / "wide.txt";
    files_.WriteFileToDisk(wide.string(), "Заказ");
    EXPECT_EQ(files_.GetFileContentAsString(wide.string()), "Заказ");

    // A source file: appended in appending mode, copied in writing mode.
    std::string big(5000, 'x');
    big += "end";
    WriteAll(work_ / "part.txt", big);
    files_.WriteFileToDisk(deep.string(), "", (work_ / "part.txt").string(), false, true, true);
    EXPECT_EQ(ReadAll(deep), "fresh" + big);
    files_.WriteFileToDisk(deep.string(), "", (work_ / "part.txt").string(), false, true, true,
                           EFileIOMode::Writing);
    EXPECT_EQ(ReadAll(deep), big);
}

TEST_F(FileHandlingTest, CopiesReadsAndDeletesFiles) {
    WriteAll(work_ / "a b ü.xml", "<a/>");
    files_.CopyFile((work_ / "a b ü.xml").string(), (work_ / "copy.xml").string(), false);
    EXPECT_EQ(ReadAll(work_ / "copy.xml"), "<a/>");

    WriteAll(work_ / "a b ü.xml", "<b/>");
    Error exists = FailureOf([&] {
        files_.CopyFile((work_ / "a b ü.xml").string(), (work_ / "copy.xml").string(), false);
    });
    EXPECT_NE(exists.number(), 0);
    EXPECT_EQ(ReadAll(work_ / "copy.xml"), "<a/>");
    files_.CopyFile((work_ / "a b ü.xml").string(), (work_ / "copy.xml").string(), true);
    EXPECT_EQ(ReadAll(work_ / "copy.xml"), "<b/>");

    Error vanished = FailureOf(
        [&] { files_.CopyFile((work_ / "gone.xml").string(), (work_ / "x.xml").string(), true); });
    EXPECT_NE(vanished.number(), 0);
    EXPECT_FALSE(fs::exists(work_ / "x.xml"));

    // Files on a network share go through libqelfile, under the site's root of shares.
    fs::create_directories(site_.root() / "unc" / "server" / "share");
    files_.CopyFile((work_ / "copy.xml").string(), "\\\\server\\share\\copy.xml", false);
    EXPECT_EQ(ReadAll(site_.root() / "unc" / "server" / "share" / "copy.xml"), "<b/>");
    EXPECT_TRUE(files_.FolderExists("\\\\server\\share"));
    EXPECT_FALSE(files_.FolderExists("\\\\server\\other"));
    EXPECT_FALSE(files_.FolderExists(" "));

    WriteAll(work_ / "utf16.xml", std::string("\xFF\xFE<\0a\0/\0>\0", 10));
    EXPECT_EQ(files_.GetFileContentAsString((work_ / "utf16.xml").string()), "<a/>");
    Error unreadable =
        FailureOf([&] { files_.GetFileContentAsString((work_ / "none.xml").string()); });
    EXPECT_EQ(unreadable.number(), ErrNum(EnumerationErrors::CannotLoadFile));

    const auto listed = files_.GetFilesInFolder(work_.string());
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].filename(), "a b ü.xml");

    files_.DeleteFileFromDisk((work_ / "copy.xml").string());
    EXPECT_FALSE(fs::exists(work_ / "copy.xml"));
    files_.DeleteFileFromDisk("");
    EXPECT_NE(FailureOf([&] { files_.DeleteFileFromDisk((work_ / "copy.xml").string()); }).number(),
              0);
}

TEST_F(FileHandlingTest, CreatesFolderTrees) {
    files_.CreateFolderTree((work_ / "x" / "y" / "z").string() + "/");
    EXPECT_TRUE(fs::is_directory(work_ / "x" / "y" / "z"));
    files_.CreateFolderTree((work_ / "x" / "y").string());  // existing levels are fine
    // Separators given the other way round name the same folders.
    files_.CreateFolderTree(work_.string() + "\\p\\q");
    EXPECT_TRUE(fs::is_directory(work_ / "p" / "q"));
    WriteAll(work_ / "file", "x");
    EXPECT_NE(
        FailureOf([&] { files_.CreateFolderTree((work_ / "file" / "sub").string()); }).number(), 0);
}

}  // namespace
}  // namespace kestrix
