#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kestrix/api/document.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

// Bolt's users bob and carol receive Acme's orders; Bolt takes them by file path into a
// folder of the site, and by a second file-path method whose folder does not exist.
class PushEngine : public ::testing::TestWithParam<std::string> {
  protected:
    int32_t AddFilePath(const std::string& folder, bool autoPush, int32_t rule = -1) {
        TSendMethodProperties p;
        p.nProtocol = ESendMethodProtocol::FilePath;
        p.nFormat = ESendMethodFormat::XML;
        p.bAutoPush = autoPush;
        p.sAddress = folder;
        p.sFileName = "order";
        p.sFileExtension = "xml";
        p.nSuffix = ESendMethodSuffix::DocumentID;
        p.nFileFormat = ESendMethodFileFormat::ASCII;
        int32_t id = methods_.AddSendMethodProperties2(p);
        int32_t bp = site_.bolt();
        std::string type = "ORDER";
        methods_.AddSendMethod2(id, bp, type, rule);
        return id;
    }
    int32_t Order() {
        Document document;
        std::string type, recipient, outType, sender, defRecipient;
        int32_t docId = 0, bp = 0;
        int16_t status = 0;
        document.ProcessDocument(0, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
                                    "<LINE>Bolts</LINE></ORDER>",
                                 type, recipient, docId, bp, outType, sender, defRecipient, status);
        return docId;
    }
    int64_t History(int32_t docId, int status) {
        return site_.Count("SENDMETHODHISTORY WHERE DOCUMENTID = " + std::to_string(docId) +
                           " AND STATUS = " + std::to_string(status));
    }

    test::TwoPartnerSite site_{GetParam()};
    SendMethod methods_;
    PushDocUtils push_;
};

TEST_P(PushEngine, DeliversByEveryAutomaticMethodRecordsEachAttemptAndRepushesFromTheErrorBox) {
    const fs::path out = site_.root() / "out" / "bolt";
    fs::create_directories(out);
    const fs::path missing = site_.root() / "out" / "nowhere";
    AddFilePath(out.string(), true);
    const int32_t broken = AddFilePath(missing.string(), true);
    AddFilePath(out.string() + "/manual", false);  // not automatic: left alone by the automatic push

    int32_t docId = Order();
    ASSERT_GT(docId, 0);
    push_.PushDocumentToReceivers(docId, "ORDER");

    const fs::path delivered = out / ("order_" + std::to_string(docId) + ".xml");
    ASSERT_TRUE(fs::exists(delivered));
    EXPECT_FALSE(fs::exists(out / "manual"));
    EXPECT_EQ(History(docId, 1), 1);
    EXPECT_EQ(History(docId, 0), 1);
    EXPECT_EQ(site_.Count("DOCUMENT WHERE DOCUMENTID = " + std::to_string(docId) + " AND STATUS = 5"), 1);
    // The failed delivery is in the error box, named by its label and its send method.
    db::Recordset error = site_.Query(
        "SELECT E.PUBLICATIONERRORID, E.LABEL, E.DESCRIPTION FROM PUBLICATIONERRORS E, SENDMETHODHISTORY H WHERE "
        "H.PUBLICATIONERRORID = E.PUBLICATIONERRORID AND H.DOCUMENTID = " + std::to_string(docId));
    ASSERT_FALSE(error.Eof());
    EXPECT_EQ(error.GetString("LABEL"), "SLBSH0883");
    EXPECT_NE(error.GetString("DESCRIPTION").find(std::to_string(broken)), std::string::npos);
    const int32_t errorId = static_cast<int32_t>(error.GetInt("PUBLICATIONERRORID"));
    EXPECT_EQ(push_.GetSendMethodIDByPublicationErrorID(errorId), broken);
    EXPECT_TRUE(push_.CanPush(site_.bolt(), docId, "ORDER"));
    EXPECT_FALSE(push_.CanPush(site_.acme(), docId, "ORDER"));

    // Only the document's sender may push it again; a refusal touches no history.
    try {
        push_.RepushDocumentFromErrorBox("carol", docId, errorId);
        ADD_FAILURE() << "carol pushed alice's document";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::PushDocumentError));
    }
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY"), 2);
    // After the folder is made, the sender's re-push delivers and closes the old error.
    fs::create_directories(missing);
    push_.RepushDocumentFromErrorBox("alice", docId, errorId);
    EXPECT_TRUE(fs::exists(missing / ("order_" + std::to_string(docId) + ".xml")));
    EXPECT_EQ(History(docId, 1), 2);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + std::to_string(errorId) +
                          " AND CLOSED = 1"), 1);

    // One partner: every send method of its rule, automatic or not; a failure raises for
    // that method only, and the walk goes on.
    fs::remove_all(missing);
    fs::create_directories(out / "manual");
    EXPECT_TRUE(push_.PushDocumentToReceiver(site_.bolt(), docId, "ORDER"));
    EXPECT_TRUE(fs::exists(out / "manual" / ("order_" + std::to_string(docId) + ".xml")));
    EXPECT_EQ(History(docId, 1), 4);
    EXPECT_EQ(History(docId, 0), 2);
    try {
        push_.ExecuteSendMethod(site_.bolt(), docId, broken, -1);
        ADD_FAILURE() << "a delivery into a missing folder succeeded";
    } catch (const Error& e) {
        EXPECT_TRUE(push_.ErrorIsExecSendMethodError(Variant(e.number())));
    }
    EXPECT_FALSE(push_.PushDocumentToReceiver(site_.acme(), docId, "ORDER"));
}

INSTANTIATE_TEST_SUITE_P(Backends, PushEngine, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
