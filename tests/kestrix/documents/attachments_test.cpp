#include "kestrix/documents/attachments.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

class AttachmentsTest : public ::testing::TestWithParam<std::string> {
  protected:
    test::TestSite site_{GetParam()};
    Attachments attachments_;
    fs::path root_ = site_.root() / "attachments";

    /// A document of the sender, with its attachment folder; answers its identifier.
    int32_t AddDocument(const std::string& sender) {
        db::Connection connection(site_.connectionString());
        db::EditRow row;
        row.Set("SENDER", Variant(sender));
        row.Set("STATUS", Variant(0));
        auto id = static_cast<int32_t>(connection.Insert("DOCUMENT", row, "DOCUMENTID"));
        fs::create_directories(root_ / std::to_string(id));
        return id;
    }

    std::multiset<std::string> Rows(int32_t doc) {
        db::Connection connection(site_.connectionString());
        db::Recordset rs =
            connection.Query("SELECT ATTACHMENTFILENAME FROM ATTACHMENT WHERE DOCUMENTID = " +
                             db::Connection::EncodeNumber(doc));
        std::multiset<std::string> names;
        for (; !rs.Eof(); rs.MoveNext()) names.insert(rs.GetString("ATTACHMENTFILENAME"));
        return names;
    }
};

TEST_P(AttachmentsTest, RegistersNewFilesOnceAndDropsEmptyOnes) {
    int32_t doc = AddDocument("alice");
    const fs::path folder = root_ / std::to_string(doc);
    WriteAll(folder / "Lieferschein März 2024.pdf", "%PDF");
    WriteAll(folder / "order.xml", "<a/>");
    WriteAll(folder / "empty.txt", "");
    std::string path = folder.string();

    attachments_.ExamenFolderForNewFilesAndWriteThemToDB(doc, path);
    EXPECT_EQ(Rows(doc), (std::multiset<std::string>{"Lieferschein März 2024.pdf", "order.xml"}));
    EXPECT_FALSE(fs::exists(folder / "empty.txt"));

    // A second look registers only what is new.
    WriteAll(folder / "later.txt", "x");
    attachments_.ExamenFolderForNewFilesAndWriteThemToDB(doc, path);
    EXPECT_EQ(Rows(doc),
              (std::multiset<std::string>{"Lieferschein März 2024.pdf", "later.txt", "order.xml"}));

    // A document without a folder has nothing to register.
    int32_t other = doc + 1000;
    std::string missing = (root_ / std::to_string(other)).string();
    attachments_.ExamenFolderForNewFilesAndWriteThemToDB(other, missing);
    EXPECT_TRUE(Rows(other).empty());
}

TEST_P(AttachmentsTest, OnlyTheSenderSeesTheAttachments) {
    int32_t doc = AddDocument("alice");
    WriteAll(root_ / std::to_string(doc) / "a.txt", "x");
    std::string path = (root_ / std::to_string(doc)).string();
    attachments_.ExamenFolderForNewFilesAndWriteThemToDB(doc, path);

    std::string alice = "alice", bob = "bob", sly = "x' OR '1'='1";
    db::Recordset rs = attachments_.GetDocumentAttachmentsBySenderRS(alice, doc);
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetString("ATTACHMENTFILENAME"), "a.txt");
    EXPECT_GT(rs.GetInt("ATTACHMENTID"), 0);
    EXPECT_TRUE(attachments_.GetDocumentAttachmentsBySenderRS(bob, doc).Eof());
    EXPECT_TRUE(attachments_.GetDocumentAttachmentsBySenderRS(sly, doc).Eof());
}

TEST_P(AttachmentsTest, DeletesRowAndFileButNeverLeavesTheDocumentsFolder) {
    int32_t doc = AddDocument("alice");
    const fs::path folder = root_ / std::to_string(doc);
    WriteAll(folder / "a b.txt", "x");
    std::string path = folder.string();
    attachments_.ExamenFolderForNewFilesAndWriteThemToDB(doc, path);
    std::string alice = "alice";
    int32_t id = static_cast<int32_t>(
        attachments_.GetDocumentAttachmentsBySenderRS(alice, doc).GetInt("ATTACHMENTID"));

    WriteAll(site_.root() / "config" / "keep.txt", "secret");
    std::string root = root_.string(), escape = "../../config/keep.txt";
    EXPECT_THROW(attachments_.DeleteAttachment(doc, id, escape, root), Error);
    EXPECT_TRUE(fs::exists(site_.root() / "config" / "keep.txt"));
    std::string sideways = "..\\" + std::to_string(doc) + "x\\f.txt";
    EXPECT_THROW(attachments_.DeleteAttachment(doc, id, sideways, root), Error);
    EXPECT_EQ(Rows(doc).size(), 1u);

    std::string name = "a b.txt";
    attachments_.DeleteAttachment(doc, id, name, root);
    EXPECT_TRUE(Rows(doc).empty());
    EXPECT_FALSE(fs::exists(folder / "a b.txt"));
}

TEST_P(AttachmentsTest, ModeFollowsTheConfiguredFolder) {
    Variant virtualPath{"unchanged"}, folder{"unchanged"};
    const auto supported = static_cast<int32_t>(EAttachmentMode::Supported);
    const auto notSupported = static_cast<int32_t>(EAttachmentMode::NotSupported);

    // The site's own attachments folder exists.
    EXPECT_EQ(attachments_.AttachmentsMode(virtualPath, folder).ToLong(), supported);
    EXPECT_EQ(folder.ToString(), root_.string() + "/");
    EXPECT_EQ(virtualPath.ToString(), "attachments/");

    // Configured but missing.
    site_.SetParameter("AttachmentsFolder", (site_.root() / "no such folder").string());
    Variant v2{"unchanged"}, f2{"unchanged"};
    EXPECT_EQ(attachments_.AttachmentsMode(v2, f2).ToLong(), notSupported);
    EXPECT_EQ(f2.ToString(), "unchanged");

    // Not configured: the virtual path under the installation folder, as a web address.
    site_.SetParameter("AttachmentsFolder", "");
    site_.SetParameter("AttachmentsVirtualPath", "files");
    Variant v3, f3;
    EXPECT_EQ(attachments_.AttachmentsMode(v3, f3).ToLong(), notSupported);
    fs::create_directories(site_.root() / "files");
    EXPECT_EQ(attachments_.AttachmentsMode(v3, f3).ToLong(), supported);
    // A new site's application directory is the web application's name, not a folder.
    EXPECT_EQ(v3.ToString(), "http://localhost/kestrix/files/");
    EXPECT_EQ(fs::path(f3.ToString()), site_.root() / "files/");
}

INSTANTIATE_TEST_SUITE_P(Backends, AttachmentsTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
