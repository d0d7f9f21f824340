#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <random>
#include <thread>

#include "kestrix/delivery/outbox.h"
#include "kestrix/api/document.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/membership/directory.h"
#include "platform/services/configuration.h"
#include "tests/peers/smtp_server.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

// The two-partner site: Acme (alice sends orders) and Bolt (bob and carol receive them).
class DocumentProcessing : public ::testing::TestWithParam<std::string> {
  protected:
    std::vector<std::string> Mails() {
        std::vector<std::string> mails;
        for (const auto& e : fs::directory_iterator(site_.root() / "out" / "mail")) {
            std::ifstream in(e.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            mails.push_back(text.str());
        }
        return mails;
    }

    static std::string Order(const std::string& extra = {}, const std::string& sender = "alice") {
        return "<ORDER><SENDER>" + sender + "</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID>" + extra +
               "<LINE qty='2'>Bolts</LINE></ORDER>";
    }

    struct Outcome {
        Variant result;
        int32_t docId = 0;
        int16_t status = 0;
        std::string type, sender;
        std::optional<Error> error;
    };

    Outcome Process(const std::string& body, int32_t interactive = 0, std::string originalType = {},
                    const Variant& attachments = {}, const std::string& origin = {}, int32_t reuse = 0) {
        Document document;
        document.SetOrigin(origin);
        Outcome o;
        o.docId = reuse;
        std::string defRecipient, oDefRecipient;
        int32_t bp = 0;
        try {
            o.result = document.ProcessDocumentWithAttachments(interactive, body, originalType, defRecipient, attachments,
                                                               o.docId, bp, o.type, o.sender, oDefRecipient, o.status);
        } catch (const Error& e) {
            o.error = e;
        }
        return o;
    }

    test::TwoPartnerSite site_{GetParam()};
};

TEST_P(DocumentProcessing, AnUnattendedOrderIsStoredTransformedPublishedAndAnnounced) {
    Outcome o = Process(Order("<RECEIVER>bob</RECEIVER>"));
    ASSERT_FALSE(o.error) << o.error->description();
    ASSERT_GT(o.docId, 0);
    EXPECT_EQ(o.result.ToLong(), o.docId);
    EXPECT_EQ(o.type, "ORDER");
    EXPECT_EQ(o.sender, "alice");
    EXPECT_NE(o.status, 0);

    Document document;
    std::string body = document.GetXmlDocument(o.docId);
    EXPECT_NE(body.find("standard=\"1\""), std::string::npos) << body;
    EXPECT_EQ(site_.Count("PUBLICATION WHERE DOCUMENTID = " + std::to_string(o.docId) +
                          " AND USERID = 'bob'"),
              1);
    EXPECT_EQ(site_.Count("PUBLICATION WHERE USERID = 'carol'"), 0);

    auto mails = Mails();
    ASSERT_EQ(mails.size(), 2u);  // bob, then alice as the sender
    std::string all = mails[0] + mails[1];
    EXPECT_NE(all.find("To: bob@bolt.test"), std::string::npos);
    EXPECT_NE(all.find("To: alice@acme.test"), std::string::npos);
    EXPECT_NE(all.find("DocID=" + std::to_string(o.docId)), std::string::npos);

    // One information entry tells what became of the document.
    const std::string log = site_.LogText();
    EXPECT_NE(log.find("info Kestrix.Document: processed document=" + std::to_string(o.docId) +
                       " type=ORDER sender=alice status=published recipients=bob ms="),
              std::string::npos)
        << log;
}

TEST_P(DocumentProcessing, MalformedAndEmptyBodies) {
    Outcome bad = Process("<ORDER><SENDER>alice</ORDER>");
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->number(), ErrNum(EnumerationErrors::ProcessDocumentError));
    EXPECT_EQ(bad.docId, 0);
    // Four lines: what happened, the reason, the line, the column.
    EXPECT_NE(bad.error->description().find(TranslateLabel("SLBSH1839")), std::string::npos);
    EXPECT_EQ(site_.Count("DOCUMENT"), 0);

    // An empty body is stored as it is when a user publishes it interactively.
    Outcome empty = Process("", -1);
    ASSERT_FALSE(empty.error) << empty.error->description();
    EXPECT_GT(empty.docId, 0);
    Document document;
    EXPECT_EQ(document.GetOriginalXmlDocument(empty.docId), "");
}

TEST_P(DocumentProcessing, BlankAndVeryLargeBodies) {
    Outcome blank = Process("  \r\n\t ");
    ASSERT_TRUE(blank.error);
    EXPECT_EQ(blank.docId, 0);
    EXPECT_EQ(site_.Count("DOCUMENT"), 0);

    std::string lines;
    lines.reserve(10'500'000);
    while (lines.size() < 10'000'000) lines += "<LINE qty='1'>Hexagon bolt M8, zinc plated, Grüße</LINE>";
    Outcome large = Process(Order("<RECEIVER>bob</RECEIVER>" + lines));
    ASSERT_FALSE(large.error) << large.error->description();
    Document document;
    EXPECT_EQ(document.GetOriginalXmlDocument(large.docId).size(), Order("<RECEIVER>bob</RECEIVER>" + lines).size());
    EXPECT_EQ(site_.Count("PUBLICATION WHERE USERID = 'bob'"), 1);

    // Past the site's limit a document is refused before it is parsed, and nothing is stored.
    site_.SetParameter("MaxDocumentSize", "1000000");
    Outcome over = Process(Order("<RECEIVER>bob</RECEIVER>" + lines));
    ASSERT_TRUE(over.error);
    EXPECT_NE(over.error->description().find("at most 1000000 bytes"), std::string::npos) << over.error->description();
    EXPECT_EQ(site_.Count("DOCUMENT"), 1);
}

TEST_P(DocumentProcessing, AnUnknownSenderStopsUnattendedIntakeButNotAnInteractiveCall) {
    Outcome unattended = Process(Order("<RECEIVER>bob</RECEIVER>", "ghost"), 0);
    ASSERT_TRUE(unattended.error);
    EXPECT_NE(unattended.error->description().find(TranslateLabel("SLBSH1826")), std::string::npos);
    EXPECT_EQ(site_.Count("DOCUMENT"), 0);

    // The refusal is logged once where it was met, and once more as the document's entry.
    std::string log = site_.LogText();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find("info Kestrix.Document: refused document=0 sender=ghost reason=\"The sender"), std::string::npos) << log;

    Outcome interactive = Process(Order("<RECEIVER>bob</RECEIVER>", "ghost"), -1);
    ASSERT_TRUE(interactive.error);  // the unknown user may not publish orders
    EXPECT_EQ(interactive.error->description().find(TranslateLabel("SLBSH1826")), std::string::npos);
    EXPECT_EQ(interactive.error->description(),
              TranslateLabel("SLBSH1720", 0, [] {
                  Dictionary d;
                  d.Add("[%USER%]", "ghost");
                  d.Add("[%DOCTYPE%]", "Purchase order");
                  return d;
              }()));
}

TEST_P(DocumentProcessing, AnInteractiveCallNeverAnnounces) {
    Outcome o = Process(Order("<RECEIVER>bob</RECEIVER>"), -1);
    ASSERT_FALSE(o.error) << o.error->description();
    EXPECT_EQ(site_.Count("PUBLICATION"), 1);
    EXPECT_TRUE(Mails().empty());
}

TEST_P(DocumentProcessing, AHiddenDocumentIsNotAnnouncedAndItsFailureGoesToTheAdministrator) {
    Outcome shown = Process(Order("<QELSHOW>no</QELSHOW><RECEIVER>bob</RECEIVER>"));
    ASSERT_FALSE(shown.error) << shown.error->description();
    EXPECT_TRUE(Mails().empty());

    Outcome failed = Process(Order("<QELSHOW>false</QELSHOW>", "ghost"), 0, {}, {}, "in/order-17.xml");
    ASSERT_TRUE(failed.error);
    auto mails = Mails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].find("To: kestrix-admin@localhost"), std::string::npos);
    EXPECT_NE(mails[0].find("ghost"), std::string::npos);  // the document travels with it
    // Named as its road knows it, and by no document number: nothing of it was kept.
    EXPECT_NE(mails[0].find("Received as: in/order-17.xml"), std::string::npos) << mails[0];
    EXPECT_EQ(mails[0].find("Subject: Document "), std::string::npos) << mails[0];
}

TEST_P(DocumentProcessing, AChangeOfTypePublishesNothing) {
    site_.Exec(
        "INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID, TRANSFORMXSLNAME) VALUES "
        "('INVOICE', 'ORDER', 'acme-order.xsl')");
    Outcome o = Process(Order("<RECEIVER>bob</RECEIVER>"), 0, "INVOICE");
    ASSERT_FALSE(o.error) << o.error->description();
    EXPECT_EQ(site_.Count("PUBLICATION"), 0);
    EXPECT_TRUE(Mails().empty());
}

TEST_P(DocumentProcessing, FailuresOfFieldsRecipientsAndAttachmentsAreRecordedAndProcessingGoesOn) {
    site_.Exec(
        "INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, XSLPATTERN, TAGATTRXSL, DESCRIPTION, "
        "SEQUENCENUMBER) "
        "VALUES ('ORDER', 'LINE', 1, 'Line', 1)");
    if (GetParam() == "sqlite") {
        site_.Exec(
            "CREATE TRIGGER NO_TAGS BEFORE INSERT ON TAGSVALUE BEGIN SELECT RAISE(ABORT, 'tags "
            "refused'); END");
    } else {
        site_.Exec(
            "CREATE FUNCTION NO_TAGS() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'tags refused'; "
            "END $$ LANGUAGE plpgsql");
        site_.Exec(
            "CREATE TRIGGER NO_TAGS BEFORE INSERT ON TAGSVALUE FOR EACH ROW EXECUTE FUNCTION "
            "NO_TAGS()");
    }
    fs::path attachment = site_.root() / "temp" / "terms.pdf";
    std::ofstream(attachment) << "%PDF";
    Array files{Variant(attachment.string()), Variant((site_.root() / "temp" / "gone.pdf").string())};
    Outcome o = Process(Order("<RECEIVER>bob</RECEIVER><RECEIVER>nobody</RECEIVER>"), 0, {}, Variant(files));
    ASSERT_FALSE(o.error) << o.error->description();
    const std::string doc = std::to_string(o.docId);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH1828' AND DOCUMENTID = " + doc),
              1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH0008' AND DOCUMENTID = " + doc),
              1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH1816' AND DOCUMENTID = " + doc),
              1);
    EXPECT_EQ(site_.Count("ATTACHMENT WHERE DOCUMENTID = " + doc), 1);
    EXPECT_TRUE(fs::exists(site_.root() / "attachments" / doc / "terms.pdf"));
    EXPECT_EQ(site_.Count("PUBLICATION WHERE DOCUMENTID = " + doc), 1);
}

TEST_P(DocumentProcessing, TheStandardBodyIsStoredWithItsRoutingTagsEmptiedOrAsTheStyleSheetMadeItWhenRoutingFails) {
    // Routed: the tags that named recipients are stored empty, the document is published, and
    // the recipient that could not be resolved is recorded and closed with the publication.
    Outcome routed = Process(Order("<RECEIVER>bob</RECEIVER><RECEIVER>nobody</RECEIVER>"));
    ASSERT_FALSE(routed.error) << routed.error->description();
    const std::string doc = std::to_string(routed.docId);
    Document document;
    std::string body = document.GetXmlDocument(routed.docId);
    EXPECT_NE(body.find("standard=\"1\""), std::string::npos) << body;
    EXPECT_EQ(body.find(">bob<"), std::string::npos) << body;
    EXPECT_EQ(body.find(">nobody<"), std::string::npos) << body;
    EXPECT_EQ(document.GetStatusOfDocument(routed.docId), DOCUMENTSTATUS::DOCUMENTPUBLISHED);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH0008' AND CLOSED = 1 AND DOCUMENTID = " + doc), 1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID = " + doc), 0);

    // Failed: the step is undone, the body is the style sheet's output with its tags, the
    // status stays the caller's and the failure stays with the document.
    // (The step fails when the document cannot be moved on to its new status.)
    if (GetParam() == "sqlite") {
        site_.Exec("CREATE TRIGGER NO_STATUS BEFORE UPDATE OF STATUS ON DOCUMENT BEGIN SELECT RAISE(ABORT, 'refused'); "
                   "END");
    } else {
        site_.Exec(
            "CREATE FUNCTION NO_STATUS() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'refused'; END $$ "
            "LANGUAGE plpgsql");
        site_.Exec("CREATE TRIGGER NO_STATUS BEFORE UPDATE OF STATUS ON DOCUMENT FOR EACH ROW EXECUTE FUNCTION "
                   "NO_STATUS()");
    }
    const int64_t documents = site_.Count("DOCUMENT");
    Outcome failed = Process(Order("<RECEIVER>bob</RECEIVER>"));
    ASSERT_TRUE(failed.error);
    EXPECT_NE(failed.error->description().find(TranslateLabel("SLBSH1829")), std::string::npos)
        << failed.error->description();
    ASSERT_EQ(site_.Count("DOCUMENT"), documents + 1);
    int32_t kept = static_cast<int32_t>(site_.Query("SELECT MAX(DOCUMENTID) AS ID FROM DOCUMENT").GetInt("ID"));
    body = document.GetXmlDocument(kept);
    EXPECT_NE(body.find("standard=\"1\""), std::string::npos) << body;
    EXPECT_NE(body.find(">bob<"), std::string::npos) << body;
    EXPECT_EQ(document.GetStatusOfDocument(kept), DOCUMENTSTATUS::DOCUMENTNEW);
    EXPECT_EQ(site_.Count("PUBLICATION WHERE DOCUMENTID = " + std::to_string(kept)), 0);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH1812' AND DOCUMENTID = " + std::to_string(kept)), 1);
    EXPECT_EQ(Mails().size(), 2u);  // only the routed document's
}

TEST_P(DocumentProcessing, ARowHandedInIsReprocessedInPlaceWithItsFieldValuesReplaced) {
    site_.Exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, XSLPATTERN, TAGATTRXSL, DESCRIPTION, SEQUENCENUMBER) "
               "VALUES ('ORDER', 'LINE', 1, 'Line', 1)");
    Outcome first = Process(Order("<RECEIVER>bob</RECEIVER>"));
    ASSERT_FALSE(first.error) << first.error->description();
    const std::string doc = std::to_string(first.docId);
    ASSERT_EQ(site_.Count("TAGSVALUE WHERE DOCUMENTID = " + doc), 1);

    Outcome again = Process("<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>carol</RECEIVER>"
                            "<LINE qty='5'>Nuts</LINE></ORDER>",
                            0, {}, {}, {}, first.docId);
    ASSERT_FALSE(again.error) << again.error->description();
    EXPECT_EQ(again.docId, first.docId);
    EXPECT_EQ(site_.Count("DOCUMENT"), 1);
    EXPECT_EQ(site_.Count("TAGSVALUE WHERE DOCUMENTID = " + doc), 1);
    EXPECT_EQ(site_.Count("TAGSVALUE WHERE TAGVALUE = 'Nuts' AND DOCUMENTID = " + doc), 1);
    Document document;
    const std::string body = document.GetXmlDocument(first.docId);
    EXPECT_NE(body.find("Nuts"), std::string::npos) << body;
    EXPECT_EQ(body.find(">carol<"), std::string::npos) << body;  // its routing tag emptied
    EXPECT_EQ(site_.Count("PUBLICATION WHERE USERID = 'carol' AND DOCUMENTID = " + doc), 1);
}

TEST_P(DocumentProcessing, ExternalEntitiesAreNeverFetched) {
    fs::path secret = site_.root() / "secret.txt";
    std::ofstream(secret) << "TOP-SECRET";
    std::string body = "<!DOCTYPE ORDER [<!ENTITY leak SYSTEM \"file://" + secret.string() +
                       "\">]>" + Order("<NOTE>&leak;</NOTE><RECEIVER>bob</RECEIVER>");
    Outcome o = Process(body);
    if (!o.error) {
        Document document;
        EXPECT_EQ(document.GetXmlDocument(o.docId).find("TOP-SECRET"), std::string::npos);
    }
    for (const std::string& mail : Mails()) EXPECT_EQ(mail.find("TOP-SECRET"), std::string::npos);
}

TEST_P(DocumentProcessing, AMailServerThatRefusesLeavesTheMailsInTheOutboxUntilALaterRunSendsThem) {
    std::string file = (site_.root() / "config" / "SiteConfiguration.xml").string();
    test::SmtpServer refusing(test::SmtpServer::Mode::Refuse);
    services::Configuration::SetValue(file, "MAIL", "Mode", "smtp");
    services::Configuration::SetValue(file, "MAIL", "SmtpHost", "127.0.0.1");
    services::Configuration::SetValue(file, "MAIL", "SmtpPort", std::to_string(refusing.port()));
    services::Configuration::SetValue(file, "MAIL", "SmtpTimeout", "2");
    Outcome o = Process(Order("<RECEIVER>bob</RECEIVER>"));
    // Stored and published all the same: whoever retries would store it twice.
    ASSERT_FALSE(o.error) << o.error->description();
    const std::string doc = std::to_string(o.docId);
    EXPECT_EQ(site_.Count("PUBLICATION WHERE DOCUMENTID = " + doc), 1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE CLOSED = 0 AND LABEL = 'SLBSH1810' AND "
                    "SOURCE = 'Kestrix.Document.ProcessDocument' AND DOCUMENTID = " + doc), 1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE CLOSED = 0 AND LABEL = 'SLBSH1811' AND "
                    "DOCUMENTID = " + doc), 1);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE LABEL = 'SLBSH1812'"), 0);
    std::vector<outbox::Item> waiting = outbox::List();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].kind, outbox::kind::NotifySender);  // composed after the recipients'
    EXPECT_EQ(waiting[1].kind, outbox::kind::NotifyRecipient);
    EXPECT_EQ(waiting[1].target, "bob");
    EXPECT_EQ(waiting[1].attempts, 1);
    EXPECT_FALSE(waiting[1].nextAttempt.empty());

    // Not due yet: nothing is tried. Once the server answers, a run sends both and closes
    // their errors.
    EXPECT_EQ(outbox::WorkOffDue().done, 0);
    test::SmtpServer server;
    services::Configuration::SetValue(file, "MAIL", "SmtpPort", std::to_string(server.port()));
    outbox::Outcome run = outbox::WorkOffDue(true);
    EXPECT_EQ(run.done, 2);
    EXPECT_EQ(run.failed, 0);
    EXPECT_EQ(server.WaitForMessages(2).size(), 2u);
    EXPECT_TRUE(outbox::List().empty());
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID = " + doc), 0);
}

TEST_P(DocumentProcessing, ADatabaseLockedLongerThanTheBusyTimeoutLeavesTheDocumentAbsentWithTheBusyError) {
    services::Configuration::SetValue((site_.root() / "config" / "SiteConfiguration.xml").string(), "GLOBAL",
                                      "DatabaseBusyTimeout", "0.3");
    const std::string cs = site_.connectionString();
    std::promise<void> locked, release;
    std::thread holder([&] {
        db::Transaction other(cs);
        if (GetParam() != "sqlite") db::Connection(cs).Execute("LOCK TABLE DOCUMENT IN EXCLUSIVE MODE");
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    Outcome o = Process(Order("<RECEIVER>bob</RECEIVER>"));
    release.set_value();
    holder.join();
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->number(), errnum::DatabaseBusy) << o.error->description();
    EXPECT_EQ(o.docId, 0);
    EXPECT_EQ(site_.Count("DOCUMENT"), 0);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS"), 0);
    // Once the lock is gone the same document goes through.
    EXPECT_FALSE(Process(Order("<RECEIVER>bob</RECEIVER>")).error);
}

TEST_P(DocumentProcessing, AProcessKilledAtAnyMomentLeavesEveryDocumentWholeOrAbsent) {
    const std::string cs = site_.connectionString();
    std::mt19937 random(20261208);
    const auto budget = std::chrono::steady_clock::now() + std::chrono::seconds(50);
    int trials = 0;
    for (; trials < 25 && std::chrono::steady_clock::now() < budget; ++trials) {
        db::ClearThreadPool();  // the child opens sessions of its own
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 400; ++i) Process(Order("<RECEIVER>bob</RECEIVER><RECEIVER>carol</RECEIVER>"));
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 400)(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    }
    EXPECT_GE(trials, 20);
    // Whole: typed, completed, published to both recipients, its mails sent or waiting.
    EXPECT_GT(site_.Count("DOCUMENT"), 0);
    EXPECT_EQ(site_.Count("DOCUMENT WHERE DOCUMENTTYPEID IS NULL OR STATUS = -1 OR "
                    "(SELECT COUNT(*) FROM PUBLICATION P WHERE P.DOCUMENTID = DOCUMENT.DOCUMENTID) <> 2"), 0);
    EXPECT_EQ(site_.Count("OUTBOX WHERE DOCUMENTID NOT IN (SELECT DOCUMENTID FROM DOCUMENT)"), 0);
    if (GetParam() == "sqlite") {
        db::Connection c(cs);
        EXPECT_EQ(c.Query("PRAGMA integrity_check").Field(size_t{0}).ToString(), "ok");
    }
}

// What the processing keeps from one document to the next (label texts, type descriptions,
// the sender list, the compiled style sheet) follows changes made by plain SQL and by
// rewriting the sheet's file, from the very next document on.
TEST_P(DocumentProcessing, ChangesToTheSiteReachTheNextDocument) {
    Outcome first = Process(Order("<RECEIVER>bob</RECEIVER>", "ghost"), -1);
    ASSERT_TRUE(first.error);
    Outcome stored = Process(Order("<RECEIVER>bob</RECEIVER>"));
    ASSERT_FALSE(stored.error) << stored.error->description();
    Document document;
    EXPECT_NE(document.GetXmlDocument(stored.docId).find("standard=\"1\""), std::string::npos);

    site_.Exec("UPDATE I18NTEXT SET TEXT = 'Refused: [%USER%] / [%DOCTYPE%]' WHERE LABEL = 'SLBSH1720' "
        "AND LOCALEID = 1033");
    site_.Exec("UPDATE DOCUMENTTYPE SET DESCRIPTION = 'Order form' WHERE DOCUMENTTYPEID = 'ORDER'");
    Outcome refused = Process(Order("<RECEIVER>bob</RECEIVER>", "ghost"), -1);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->description(), "Refused: ghost / Order form");

    // A user's new address and a rewritten style sheet count from the next document on.
    site_.Exec("UPDATE MEMBERUSER SET EMAIL = 'alice@new.test' WHERE USERID = 'alice'");
    std::ofstream(site_.root() / "xsl" / "acme-order.xsl", std::ios::trunc)
        << "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
           "<xsl:template match='/*'><xsl:copy><xsl:attribute name='standard'>2</xsl:attribute>"
           "<xsl:copy-of select='@*|node()'/></xsl:copy></xsl:template></xsl:stylesheet>";
    Outcome restyled = Process(Order("<RECEIVER>bob</RECEIVER>"));
    ASSERT_FALSE(restyled.error) << restyled.error->description();
    EXPECT_NE(document.GetXmlDocument(restyled.docId).find("standard=\"2\""), std::string::npos);
    bool newAddress = false;
    for (const std::string& mail : Mails()) newAddress = newAddress || mail.find("To: alice@new.test") != std::string::npos;
    EXPECT_TRUE(newAddress);

    // A field defined now is filled from the next document on.
    site_.Exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, XSLPATTERN, TAGATTRXSL, DESCRIPTION, SEQUENCENUMBER) "
               "VALUES ('ORDER', 'LINE', 1, 'Line', 1)");
    Outcome fielded = Process(Order("<RECEIVER>bob</RECEIVER>"));
    ASSERT_FALSE(fielded.error) << fielded.error->description();
    EXPECT_EQ(site_.Count("TAGSVALUE WHERE DOCUMENTID = " + std::to_string(fielded.docId)), 1);

    // Taken off the sender list, alice may no longer send orders.
    site_.Exec("DELETE FROM SENDERLIST WHERE USERID = 'alice'");
    Outcome withdrawn = Process(Order("<RECEIVER>bob</RECEIVER>"), -1);
    ASSERT_TRUE(withdrawn.error);
    EXPECT_EQ(withdrawn.error->description(), "Refused: alice Tester / Order form");
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentProcessing, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
