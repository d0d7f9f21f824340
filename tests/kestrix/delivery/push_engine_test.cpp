#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "kestrix/api/document.h"
#include "kestrix/delivery/outbox.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "platform/text/code_page.h"
#include "tests/peers/http_server.h"
#include "tests/peers/transfer_peers.h"
#include "tests/support/site/test_site.h"
#include "tests/support/workbook_peer.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

// Bolt's users bob and carol receive Acme's orders; Bolt takes them by file path into a
// folder of the site, and by a second file-path method whose folder does not exist.
class PushEngine : public ::testing::TestWithParam<std::string> {
  protected:
    int32_t Add(TSendMethodProperties p) {
        int32_t id = methods_.AddSendMethodProperties2(p);
        int32_t bp = site_.bolt(), rule = -1;
        std::string type = "ORDER";
        methods_.AddSendMethod2(id, bp, type, rule);
        return id;
    }
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
    // Interactive by default, so that nothing is delivered before the test pushes it.
    int32_t Order(int32_t interactive = -1) {
        Document document;
        std::string type, recipient, outType, sender, defRecipient;
        int32_t docId = 0, bp = 0;
        int16_t status = 0;
        document.ProcessDocument(interactive, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
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

TEST_P(PushEngine, AProcessedDocumentIsDeliveredAfterItsCommitAndBeforeItsMails) {
    const fs::path out = site_.root() / "out" / "bolt";
    fs::create_directories(out);
    AddFilePath(out.string(), true);
    AddFilePath((site_.root() / "out" / "nowhere").string(), true);

    const int32_t docId = Order(0);
    ASSERT_GT(docId, 0);
    EXPECT_TRUE(fs::exists(out / ("order_" + std::to_string(docId) + ".xml")));
    EXPECT_EQ(History(docId, 1), 1);
    EXPECT_EQ(History(docId, 0), 1);  // the missing folder: in the error box, not tried again
    EXPECT_TRUE(outbox::List().empty());
    EXPECT_EQ(site_.Count("DOCUMENT WHERE DOCUMENTID = " + std::to_string(docId) + " AND STATUS = 5"), 1);
    // The mails went out after the deliveries, and say that something failed.
    size_t mails = 0;
    for (const auto& e : fs::directory_iterator(site_.root() / "out" / "mail")) mails += e.is_regular_file();
    EXPECT_EQ(mails, 2u);
}

TEST_P(PushEngine, AnObiDocumentWhoseDeliveryFailsEndsInItsLateExitAndStays) {
    // An OBI type for Bolt, whose only send method writes into a folder that is not there.
    site_.Exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('OBIORDER', 'Order object')");
    site_.Exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) VALUES "
               "('OBIORDER', 'alice', 1, " + std::to_string(site_.acme()) + ")");
    site_.Exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, HTMLATTACHMENT) "
               "VALUES ('OBIORDER', 'bob', " + std::to_string(site_.bolt()) + ", 1, 0)");
    TSendMethodProperties p = NewSendMethodProperties();
    p.nProtocol = ESendMethodProtocol::FilePath;
    p.sAddress = (site_.root() / "out" / "nowhere").string();
    int32_t id = methods_.AddSendMethodProperties2(p);
    int32_t bp = site_.bolt(), rule = -1;
    std::string type = "OBIORDER";
    methods_.AddSendMethod2(id, bp, type, rule);

    Document document;
    std::string originalType, recipient, outType, sender, defRecipient;
    int32_t docId = 0, senderBp = 0;
    int16_t status = 0;
    try {
        // A document of an OBI type that is not itself an OBI object (those are refused while
        // OBI is not enabled).
        document.ProcessDocument(0, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>OBIORDER</DOCTYPE-ID>"
                                    "<RECEIVER>bob</RECEIVER></ORDER>",
                                 originalType, recipient, docId, senderBp, outType, sender, defRecipient, status);
        ADD_FAILURE() << "an OBI document whose delivery failed was reported as processed";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::ProcessDocumentError));
        EXPECT_NE(e.description().find(TranslateLabel("SLBSH1809")), std::string::npos) << e.description();
    }
    EXPECT_EQ(docId, 0);
    // The document, its recipient and its failed delivery stay; nobody was told about it.
    const std::string stored = "DOCUMENTID = (SELECT MAX(DOCUMENTID) FROM DOCUMENT)";
    EXPECT_EQ(site_.Count("DOCUMENT WHERE DOCUMENTTYPEID = 'OBIORDER'"), 1);
    EXPECT_EQ(site_.Count("PUBLICATION WHERE " + stored), 1);
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY WHERE STATUS = 0 AND " + stored), 1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH1812' AND " + stored), 1);
    EXPECT_FALSE(fs::exists(site_.root() / "out" / "mail") && !fs::is_empty(site_.root() / "out" / "mail"));
}

TEST_P(PushEngine, WorkbooksAreWrittenIntoAFolderInTheirWriteModeAndMailedAsFiles) {
    const fs::path out = site_.root() / "out" / "sheets";
    fs::create_directories(out);
    TSendMethodProperties file = NewSendMethodProperties();
    file.nProtocol = ESendMethodProtocol::FilePath;
    file.nFormat = ESendMethodFormat::Excel;
    file.sAddress = out.string();
    file.sFileName = "orders";
    file.nWriteMode = EWriteMode::Create;
    const int32_t fileId = Add(file);
    TSendMethodProperties mail = NewSendMethodProperties();
    mail.nProtocol = ESendMethodProtocol::Email;
    mail.nFormat = ESendMethodFormat::Excel;
    mail.sAddress = "sheets@bolt.test";
    Add(mail);

    auto order = [&](const std::string& number) {
        Document document;
        std::string type, recipient, outType, sender, defRecipient;
        int32_t docId = 0, bp = 0;
        int16_t status = 0;
        document.ProcessDocument(-1, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
                                     "<LINES QELWORKSHEET='Orders'><NR QELVALUEPOS='A1'>" + number + "</NR></LINES></ORDER>",
                                 type, recipient, docId, bp, outType, sender, defRecipient, status);
        push_.PushDocumentToReceivers(docId, "ORDER");
        return docId;
    };
    const int32_t first = order("A-100");
    const fs::path book = out / "orders.xlsx";
    ASSERT_TRUE(fs::exists(book)) << site_.LogText();
    std::map<std::string, std::string> read = test::IndependentWorkbook("read", book);
    EXPECT_EQ(read["Orders!A1"], "str:A-100");
    EXPECT_EQ(read.count("QelServer!A1"), 0u);
    EXPECT_EQ(History(first, 1), 2);
    // The mail carries the workbook as its file; no scratch copy stays behind.
    bool mailed = false;
    for (const auto& e : fs::directory_iterator(site_.root() / "out" / "mail")) {
        const std::string text = test::ReadAll(e.path());
        mailed = mailed || (text.find("To: sheets@bolt.test") != std::string::npos &&
                            text.find(std::to_string(first) + ".xlsx") != std::string::npos);
    }
    EXPECT_TRUE(mailed);
    const fs::path scratch = site_.root() / "temp" / "excel";
    EXPECT_TRUE(!fs::exists(scratch) || fs::is_empty(scratch));

    // Append: the next order goes below the last row of the same workbook.
    site_.Exec("UPDATE SENDMETHODPROPERTY SET WRITEMODE = 10 WHERE SENDMETHODID = " + std::to_string(fileId));
    order("A-101");
    read = test::IndependentWorkbook("read", book);
    EXPECT_EQ(read["Orders!A1"], "str:A-100");
    EXPECT_EQ(read["Orders!A2"], "str:A-101");
    // A plug-in gets the workbook as a file, which it may read and change.
    site_.RegisterTestPlugin();
    TSendMethodProperties plugIn = NewSendMethodProperties();
    plugIn.nProtocol = ESendMethodProtocol::MethodCall;
    plugIn.nFormat = ESendMethodFormat::Excel;
    plugIn.sAddress = "KestrixTest.Receiver";
    const int32_t plugInId = Add(plugIn);
    const int32_t second = order("A-200");
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY WHERE STATUS = 1 AND SENDMETHODID = " + std::to_string(plugInId) +
                          " AND DOCUMENTID = " + std::to_string(second)), 1);
    fs::path seen;
    for (const auto& e : fs::directory_iterator(scratch))
        if (e.path().string().ends_with(".seen.xlsx")) seen = e.path();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(test::IndependentWorkbook("read", seen)["Orders!A1"], "str:A-200");
    fs::remove(seen);
    EXPECT_TRUE(fs::is_empty(scratch));  // the scratch workbook itself is gone
    site_.Exec("DELETE FROM SENDMETHOD WHERE SENDMETHODID = " + std::to_string(plugInId));

    // Update of a workbook that is not there fails with the target untouched elsewhere.
    fs::remove(book);
    site_.Exec("UPDATE SENDMETHODPROPERTY SET WRITEMODE = 30 WHERE SENDMETHODID = " + std::to_string(fileId));
    const int32_t third = order("A-102");
    EXPECT_FALSE(fs::exists(book));
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY WHERE STATUS = 0 AND DOCUMENTID = " + std::to_string(third)), 1);
}

TEST_P(PushEngine, UnicodeFilesMailsAndPlugInsCarryTheConvertedDocument) {
    site_.RegisterTestPlugin();
    const fs::path out = site_.root() / "out" / "bolt";
    fs::create_directories(out);
    TSendMethodProperties unicode = NewSendMethodProperties();
    unicode.nProtocol = ESendMethodProtocol::FilePath;
    unicode.sAddress = out.string();
    unicode.nFileFormat = ESendMethodFileFormat::Unicode;
    Add(unicode);
    TSendMethodProperties mail = NewSendMethodProperties();
    mail.nProtocol = ESendMethodProtocol::Email;
    mail.sAddress = "orders@bolt.test";
    Add(mail);
    TSendMethodProperties plugIn = NewSendMethodProperties();
    plugIn.nProtocol = ESendMethodProtocol::MethodCall;
    plugIn.sAddress = "KestrixTest.Receiver";
    Add(plugIn);
    plugIn.sAddress = "KestrixTest.Nobody";
    const int32_t missing = Add(plugIn);

    int32_t docId = Order();
    push_.PushDocumentToReceivers(docId, "ORDER");
    Document document;
    const std::string standard = document.GetXmlDocument(docId);
    // The file holds the standard form as UTF-16 with its byte order mark.
    const std::string bytes = test::ReadAll(out / (std::to_string(docId) + ".xml"));
    EXPECT_EQ(bytes, text::Utf8ToUtf16LE(standard, text::ByteOrderMark::Write));
    // The mail goes from the sender to the send method's address with the document attached.
    std::string sent;
    for (const auto& e : fs::directory_iterator(site_.root() / "out" / "mail"))
        if (test::ReadAll(e.path()).find("To: orders@bolt.test") != std::string::npos) sent = test::ReadAll(e.path());
    ASSERT_FALSE(sent.empty());
    EXPECT_NE(sent.find("From: alice@acme.test"), std::string::npos);
    EXPECT_NE(sent.find(std::to_string(docId) + ".xml"), std::string::npos);
    EXPECT_EQ(History(docId, 1), 3);
    EXPECT_EQ(site_.Count("SENDMETHODHISTORY WHERE STATUS = 0 AND SENDMETHODID = " + std::to_string(missing)), 1);
}

TEST_P(PushEngine, OutboxDeliveriesByFtpAndHttpRetryWhatMayPassAndKeepWhatWillNot) {
    test::FtpServer ftp;
    test::HttpServer web;
    int calls = 0;
    web.SetHandler("/receive", [&](const test::HttpRequest&) {
        test::HttpResponse answer;
        if (++calls == 1) answer.status = 503;  // busy: try again later
        else answer.body = "<ANSWER><ERROR_NUMBER>0</ERROR_NUMBER></ANSWER>";
        return answer;
    });
    web.SetResponse("/refuse", {200, "<R><ERROR_NUMBER>42</ERROR_NUMBER><ERROR_SOURCE>buyer</ERROR_SOURCE>"
                                     "<ERROR_DESCRIPTION>No such buyer.</ERROR_DESCRIPTION></R>", "text/xml", {}});

    TSendMethodProperties byFtp;
    byFtp.nProtocol = ESendMethodProtocol::Ftp;
    byFtp.nFormat = ESendMethodFormat::XML;
    byFtp.bAutoPush = true;
    byFtp.sAddress = ftp.Url("ftp", "/");
    byFtp.sUser = test::FtpServer::kUser;
    byFtp.sPassword = test::FtpServer::kPassword;
    byFtp.sFileExtension = "xml";
    byFtp.nFTPTransferType = ESendMethodFTPTransferType::Binary;
    const int32_t ftpId = Add(byFtp);
    TSendMethodProperties byHttp;
    byHttp.nProtocol = ESendMethodProtocol::Http;
    byHttp.nFormat = ESendMethodFormat::XML;
    byHttp.bAutoPush = true;
    byHttp.sAddress = web.Url("/receive");
    const int32_t httpId = Add(byHttp);
    byHttp.sAddress = web.Url("/refuse");
    const int32_t refusedId = Add(byHttp);

    int32_t docId = Order();
    std::vector<int64_t> items;
    for (int32_t method : {ftpId, httpId, refusedId})
        items.push_back(outbox::Add(docId, outbox::kind::Deliver, outbox::DeliveryTarget(site_.bolt(), method, -1)));
    outbox::Outcome first = outbox::WorkOff(items);
    EXPECT_EQ(first.done, 1);
    EXPECT_EQ(first.failed, 2);
    EXPECT_TRUE(fs::exists(ftp.root() / (std::to_string(docId) + ".xml")));
    // The busy page waits for its next attempt with its error open; the refusing page will
    // refuse again, so its item is gone and its error stays in the error box.
    std::vector<outbox::Item> waiting = outbox::List();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].attempts, 1);
    EXPECT_NE(waiting[0].lastError.find("503"), std::string::npos) << waiting[0].lastError;
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE CLOSED = 0 AND DESCRIPTION LIKE '%No such buyer.%'"), 1);
    EXPECT_EQ(History(docId, 0), 2);

    outbox::Outcome second = outbox::WorkOffDue(true);
    EXPECT_EQ(second.done, 1);
    EXPECT_TRUE(outbox::List().empty());
    EXPECT_EQ(History(docId, 1), 2);
    // Only the refusal stays open: the busy page's error was closed when it took the document.
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID = " + std::to_string(docId)), 1);
    std::vector<test::HttpRequest> posts;
    for (const test::HttpRequest& request : web.Requests())
        if (request.path == "/receive") posts.push_back(request);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].body.rfind("xml=%3C", 0), 0u) << posts[1].body;
    EXPECT_NE(posts[1].body.find("&DocID=" + std::to_string(docId)), std::string::npos);
    // A delivery the history shows as made is not made again.
    outbox::WorkOff(std::vector<int64_t>{
        outbox::Add(docId, outbox::kind::Deliver, outbox::DeliveryTarget(site_.bolt(), httpId, -1))});
    EXPECT_EQ(web.RequestCount("/receive"), 2u);
}

INSTANTIATE_TEST_SUITE_P(Backends, PushEngine, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
