// libqelfile's File class, loaded by name as libkestrix loads it and called late-bound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/variant.h"
#include "platform/component/component.h"
#include "tests/support/backends.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

/// A site folder whose configuration names a root for network paths.
class QelFileFile : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(site_.path() / "config");
        uncRoot_ = site_.path() / "unc";
        fs::create_directories(uncRoot_ / "server" / "share");
        WriteAll(site_.path() / "config" / "SiteConfiguration.xml",
                 "<?xml version=\"1.0\"?>\n<Configuration><Section name=\"GLOBAL\">"
                 "<Key name=\"UncRoot\">" +
                     uncRoot_.string() + "</Key></Section></Configuration>\n");
        setenv("KESTRIX_HOME", site_.path().c_str(), 1);
        file_ = component::CreateObject("QelFile.File");
    }
    void TearDown() override { unsetenv("KESTRIX_HOME"); }

    Variant Call(std::string_view method, std::vector<Variant> args) {
        return file_->Invoke(method, args);
    }

    /// The error a call raises (number 0 when it raises none).
    Error Failure(std::string_view method, std::vector<Variant> args) {
        try {
            Call(method, std::move(args));
        } catch (const Error& error) {
            return error;
        }
        return Error(0, "", "");
    }

    test::TempDir site_;
    fs::path uncRoot_;
    ObjectPtr file_;
};

TEST_F(QelFileFile, JoinsAndSplitsNames) {
    EXPECT_EQ(Call("BuildPath", {"\\\\server\\share\\", "a.xml"}).ToString(),
              "\\\\server\\share\\a.xml");
    EXPECT_EQ(Call("BuildPath", {"\\\\server\\share", "a.xml"}).ToString(),
              "\\\\server\\share\\a.xml");
    EXPECT_EQ(Call("BuildPath", {"/data/in/", "a.xml"}).ToString(), "/data/in/a.xml");
    EXPECT_EQ(Call("BuildPath", {"/data/in", "/a.xml"}).ToString(), "/data/in/a.xml");
    EXPECT_EQ(Call("GetBaseName", {"/data/in/Order 7.Final.XML"}).ToString(), "Order 7.Final");
    EXPECT_EQ(Call("GetExtensionName", {"\\\\server\\share\\Order 7.Final.XML"}).ToString(), "XML");
    EXPECT_EQ(Call("GetExtensionName", {"/data/in.d/README"}).ToString(), "");
}

TEST_F(QelFileFile, PlacesPathsWithoutDriveInTheTemporaryFolder) {
    const std::string temp = fs::temp_directory_path().string();
    EXPECT_EQ(fs::path(Call("AddTempPathIfNoDriveFound", {"order.xml"}).ToString()),
              fs::path(temp) / "order.xml");
    EXPECT_EQ(Call("AddTempPathIfNoDriveFound", {"/data/order.xml"}).ToString(), "/data/order.xml");
    EXPECT_EQ(Call("AddTempPathIfNoDriveFound", {"C:\\data\\order.xml"}).ToString(),
              "C:\\data\\order.xml");
    // A network path has no drive letter: it lands under the temporary folder as well.
    EXPECT_EQ(fs::path(Call("AddTempPathIfNoDriveFound", {"\\\\server\\share\\a.xml"}).ToString()),
              fs::path(temp) / "server" / "share" / "a.xml");
}

TEST_F(QelFileFile, CopiesOnNetworkShares) {
    WriteAll(uncRoot_ / "server" / "share" / "order.xml", "<a/>");
    fs::create_directories(uncRoot_ / "server" / "share" / "out");

    Call("CopyFile", {"\\\\server\\share\\order.xml", "\\\\server\\share\\out\\copy.xml", false});
    EXPECT_EQ(ReadAll(uncRoot_ / "server" / "share" / "out" / "copy.xml"), "<a/>");
    EXPECT_TRUE(Call("FileExist", {"\\\\server\\share\\out\\copy.xml"}).ToBool());
    EXPECT_TRUE(Call("DirExist", {"\\\\server\\share\\out"}).ToBool());
    EXPECT_FALSE(Call("DirExist", {"\\\\server\\share\\missing"}).ToBool());

    // A destination that exists is kept unless overwriting is asked for.
    WriteAll(uncRoot_ / "server" / "share" / "order.xml", "<b/>");
    Error exists = Failure(
        "CopyFile", {"\\\\server\\share\\order.xml", "\\\\server\\share\\out\\copy.xml", false});
    EXPECT_EQ(exists.number(), 58);
    EXPECT_EQ(ReadAll(uncRoot_ / "server" / "share" / "out" / "copy.xml"), "<a/>");
    Call("CopyFile", {"\\\\server\\share\\order.xml", "\\\\server\\share\\out\\copy.xml", true});
    EXPECT_EQ(ReadAll(uncRoot_ / "server" / "share" / "out" / "copy.xml"), "<b/>");

    // A local file copied onto a share, into a folder named with a final separator.
    WriteAll(site_.path() / "local file ä.xml", "<c/>");
    Call("CopyFile",
         {(site_.path() / "local file ä.xml").string(), "\\\\server\\share\\out\\", false});
    EXPECT_EQ(ReadAll(uncRoot_ / "server" / "share" / "out" / "local file ä.xml"), "<c/>");
}

TEST_F(QelFileFile, RefusesWhatCannotBeCopied) {
    Error vanished =
        Failure("CopyFile", {"\\\\server\\share\\gone.xml", "\\\\server\\share\\x.xml", true});
    EXPECT_EQ(vanished.number(), 53);
    EXPECT_NE(vanished.description().find("METHOD: QelFile.File.CopyFile caught:"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(uncRoot_ / "server" / "share" / "x.xml"));

    // ".." never leads out of the root of the shares.
    WriteAll(site_.path() / "secret.txt", "s");
    Error escape = Failure("CopyFile", {"\\\\server\\share\\..\\..\\..\\secret.txt",
                                        "\\\\server\\share\\y.txt", true});
    EXPECT_NE(escape.number(), 0);
    EXPECT_FALSE(fs::exists(uncRoot_ / "server" / "share" / "y.txt"));
}

TEST_F(QelFileFile, ExistenceTestReportsUnderItsOwnSource) {
    // Without a root for network paths the test cannot answer and says so.
    WriteAll(site_.path() / "config" / "SiteConfiguration.xml",
             "<Configuration><Section name=\"GLOBAL\"/></Configuration>");
    Error error = Failure("FileExist", {"\\\\server\\share\\a.xml"});
    EXPECT_NE(error.number(), 0);
    EXPECT_NE(error.description().find("METHOD: QelFile.file.FileExist caught:"),
              std::string::npos);
    // Local paths need no root.
    WriteAll(site_.path() / "here.txt", "x");
    EXPECT_TRUE(Call("FileExist", {(site_.path() / "here.txt").string()}).ToBool());
}

TEST_F(QelFileFile, CreatesOneFolderLevel) {
    Call("CreateFolder", {"\\\\server\\share\\new"});
    EXPECT_TRUE(fs::is_directory(uncRoot_ / "server" / "share" / "new"));
    EXPECT_NE(Failure("CreateFolder", {"\\\\server\\share\\new"}).number(), 0);
    EXPECT_NE(Failure("CreateFolder", {"\\\\server\\share\\a\\b"}).number(), 0);
    EXPECT_FALSE(fs::exists(uncRoot_ / "server" / "share" / "a"));
}

TEST_F(QelFileFile, WritesXmlAsUnicodeOrSingleByte) {
    const fs::path unicode = site_.path() / "u.xml";
    std::vector<Variant> args{"<a>é</a>", unicode.string(), true};
    EXPECT_EQ(file_->Invoke("WriteXMLFileToDiskAsciiOrUnicode", args).ToString(), unicode.string());
    EXPECT_EQ(ReadAll(unicode), std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18));

    const fs::path single = site_.path() / "s.xml";
    Call("WriteXMLFileToDiskAsciiOrUnicode", {"<a>é</a>", single.string(), false});
    EXPECT_EQ(ReadAll(single), "<a>\xE9</a>");

    // A blank name becomes a temporary name, handed back to the caller.
    std::vector<Variant> blank{"<t/>", ""};
    const std::string written = file_->Invoke("WriteXMLFileToDiskAsciiOrUnicode", blank).ToString();
    const std::string handedBack = blank[1].ToString();
    ASSERT_FALSE(handedBack.empty());
    EXPECT_EQ(fs::path(written), fs::temp_directory_path() / handedBack);
    EXPECT_EQ(ReadAll(written), std::string("\xFF\xFE<\0t\0/\0>\0", 10));
    fs::remove(written);

    Error error = Failure("WriteXMLFileToDiskAsciiOrUnicode",
                          {"<order/>", "/nonexistent-folder/x.xml", true});
    EXPECT_NE(error.number(), 0);
    EXPECT_NE(error.description().find(
                  "(File.WriteXMLFileToDiskAsciiOrUnicode<order, /nonexistent-folder/x.xml)"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrix
