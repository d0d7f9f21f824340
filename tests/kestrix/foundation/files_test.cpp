// The file functions of Utility: the error folder, XML files, existence tests and the
// spreadsheet engine switch.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/api/utility.h"
#include "kestrix/foundation/xml.h"
#include "platform/base/error.h"
#include "platform/services/configuration.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

class UtilityFiles : public ::testing::Test {
  protected:
    test::TestSite site_{"sqlite"};
    Utility utility_;
};

TEST_F(UtilityFiles, ErrorFolderKeepsEveryFileUnderItsOwnName) {
    const fs::path root = site_.root() / "error";
    // Two files of one name within one second land in one folder; the second is numbered
    // before the first dot. Retried when the second happens to change between the writes.
    std::string first, second;
    for (int attempt = 0; attempt < 5; ++attempt) {
        first = utility_.WriteXmlFileToErrorDir("<a>é</a>", "~order.v1.xml");
        second = utility_.WriteXmlFileToErrorDir("<b/>", "order.v1.xml");
        if (fs::path(first).parent_path() == fs::path(second).parent_path()) break;
    }
    ASSERT_EQ(fs::path(first).parent_path(), fs::path(second).parent_path());
    EXPECT_EQ(fs::path(first).parent_path().parent_path(), root);
    EXPECT_EQ(fs::path(first).filename(), "order.v1.xml");
    EXPECT_EQ(fs::path(second).filename(), "order1.v1.xml");
    EXPECT_EQ(ReadAll(first), std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18));

    // A name without a dot gets its counter at the end, and any number of them.
    const fs::path dir = fs::path(utility_.CreateErrorDir());
    for (int i = 0; i < 3; ++i)
        WriteAll(dir / (i == 0 ? std::string("README") : "README" + std::to_string(i)), "x");
    std::string next = utility_.WriteXmlFileToErrorDir("<c/>", "README");
    if (fs::path(next).parent_path() == dir)
        EXPECT_EQ(fs::path(next).filename(), "README3");
    else
        EXPECT_EQ(fs::path(next).filename(), "README");

    // A blank name becomes a temporary one.
    EXPECT_FALSE(fs::path(utility_.WriteXmlFileToErrorDir("<d/>")).filename().empty());
}

TEST_F(UtilityFiles, ErrorFolderLiesInsideItsRoot) {
    // The root has no final separator and does not exist yet: it is created with its parents.
    const fs::path root = site_.root() / "var" / "failed" / "xml";
    site_.SetParameter("XMLErrorPath", root.string());
    const fs::path dir = utility_.CreateErrorDir();
    EXPECT_EQ(dir.parent_path(), root);
    EXPECT_TRUE(fs::is_directory(dir));
    const std::string name = dir.filename().string();
    ASSERT_EQ(name.size(), std::string("yyyy-mm-dd_hh-mm-ss").size());
    EXPECT_EQ(name[4], '-');
    EXPECT_EQ(name[10], '_');
    EXPECT_EQ(name[13], '-');
}

TEST_F(UtilityFiles, MovesFailedFilesIntoTheErrorFolder) {
    const fs::path import = site_.root() / "import" / "in";
    WriteAll(import / "~Bestellung Nr 5 ä.xml", "<x/>");
    const fs::path moved = utility_.MoveFileToErrorDir(import / "~Bestellung Nr 5 ä.xml");
    EXPECT_EQ(moved.filename(), "Bestellung Nr 5 ä.xml");
    EXPECT_EQ(ReadAll(moved), "<x/>");
    EXPECT_FALSE(fs::exists(import / "~Bestellung Nr 5 ä.xml"));

    // A file of the same name in the same folder stays; the newcomer is numbered.
    WriteAll(import / "Bestellung Nr 5 ä.xml", "<y/>");
    const fs::path again = utility_.MoveFileToErrorDir(import / "Bestellung Nr 5 ä.xml");
    if (again.parent_path() == moved.parent_path()) {
        EXPECT_EQ(again.filename(), "Bestellung Nr 5 ä1.xml");
    }
    EXPECT_EQ(ReadAll(moved), "<x/>");
    EXPECT_EQ(ReadAll(again), "<y/>");

    // A file that vanished before the move is an error, and nothing is created.
    EXPECT_THROW(utility_.MoveFileToErrorDir(import / "gone.xml"), Error);
}

TEST_F(UtilityFiles, WritesXmlFilesAndTestsExistence) {
    const fs::path file = site_.root() / "out" / "a b.xml";
    std::string name = file.string();
    EXPECT_EQ(utility_.WriteXMLFileToDiskAsciiOrUnicode("<a>é</a>", name, false).ToString(),
              file.string());
    EXPECT_EQ(ReadAll(file), "<a>\xE9</a>");
    utility_.WriteXMLFileToDisk("<a/>", file.string());
    EXPECT_EQ(ReadAll(file), std::string("\xFF\xFE<\0a\0/\0>\0", 10));

    std::string blank;
    const std::string written = utility_.WriteXMLFileToDiskAsciiOrUnicode("<t/>", blank).ToString();
    ASSERT_FALSE(blank.empty());
    EXPECT_EQ(fs::path(written), fs::temp_directory_path() / blank);
    EXPECT_TRUE(utility_.FileExist(written));
    utility_.DeleteXMLFileFromDisk(written);
    EXPECT_FALSE(utility_.FileExist(written));
    utility_.DeleteXMLFileFromDisk("");
    EXPECT_THROW(utility_.DeleteXMLFileFromDisk(written), Error);
    // A file the system will not let go is only logged (even for root, procfs refuses).
    if (fs::is_regular_file("/proc/version")) {
        EXPECT_NO_THROW(utility_.DeleteXMLFileFromDisk("/proc/version"));
        EXPECT_NE(site_.LogText().find("The file /proc/version could not be deleted."),
                  std::string::npos);
        EXPECT_NE(site_.LogText().find("Access was denied"), std::string::npos);
    }

    try {
        std::string nowhere = "/no such folder/x.xml";
        utility_.WriteXMLFileToDiskAsciiOrUnicode("<order/>", nowhere);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(
            e.description().find(
                "Kestrix.Utility.WriteXMLFileToDiskAsciiOrUnicode(<order, /no such folder/x.xml)"),
            std::string::npos);
    }

    EXPECT_EQ(fs::path(utility_.AddTempPathIfNoDriveFound("x.xml")),
              fs::temp_directory_path() / "x.xml");
    EXPECT_EQ(utility_.AddTempPathIfNoDriveFound("/srv/x.xml"), "/srv/x.xml");

    // Network paths are asked through libqelfile.
    const fs::path share = site_.root() / "unc" / "server" / "share";
    fs::create_directories(share / "in");
    WriteAll(share / "in" / "order.xml", "<a/>");
    EXPECT_TRUE(utility_.DirExist("\\\\server\\share\\in"));
    EXPECT_FALSE(utility_.DirExist("\\\\server\\share\\out"));
    EXPECT_TRUE(utility_.FileExistAlsoRemote("\\\\server\\share\\in", "order.xml"));
    EXPECT_FALSE(utility_.FileExistAlsoRemote("\\\\server\\share\\in", "other.xml"));
    EXPECT_TRUE(utility_.FileExistAlsoRemote((share / "in").string(), "order.xml"));
    EXPECT_TRUE(utility_.DirExistOnThisServer(share.string()));
    EXPECT_FALSE(utility_.DirExistOnThisServer("\\\\server\\share"));
}

TEST_F(UtilityFiles, SpreadsheetEngineCanBeSwitchedOff) {
    EXPECT_TRUE(utility_.IsExcelInstalled());
    EXPECT_TRUE(utility_.IsExcelInstalledWithErrRaise());
    const std::string config = getSiteConfigFile();
    for (const char* off : {"0", "FALSE"}) {
        services::Configuration::SetValue(config, "GLOBAL", "ExcelEnabled", off);
        EXPECT_FALSE(utility_.IsExcelInstalled()) << off;
        try {
            utility_.IsExcelInstalledWithErrRaise();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::ExcelNotInstalled));
            EXPECT_NE(e.description().find("Spreadsheet support is not installed on this server."),
                      std::string::npos);
        }
    }
    services::Configuration::SetValue(config, "GLOBAL", "ExcelEnabled", "1");
    EXPECT_TRUE(utility_.IsExcelInstalled());
}

TEST_F(UtilityFiles, LibraryXmlClassReportsUnderItsOwnName) {
    XML xml;
    try {
        xml.XmlStringToDomDocument("<a>");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.source(), "Kestrix.XML.LoadXmlInDomDocument");
        EXPECT_NE(e.description().find("METHOD: Kestrix.XML.XmlStringToDomDocument caught:"),
                  std::string::npos);
    }
    auto created = std::dynamic_pointer_cast<XML>(CreateComponent("Kestrix.XML"));
    ASSERT_NE(created, nullptr);
    auto document = created->XmlStringToDomDocument("<a><b>1</b></a>");
    std::string none;
    EXPECT_NE(created->ApplyXslStyleSheetToXmlDomDocument(document, none).find("<b>1</b>"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrix
