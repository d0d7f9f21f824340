#include "kestrix/web/document_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kestrix/api/document.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "kestrix/documents/attachments.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/web/collaboration.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

// Alice (Acme) sends orders to bob (Bolt); carol, bob's colleague, has no part in them.
class DocumentPages : public ::testing::TestWithParam<std::string> {
  protected:
    http::Response Call(const std::string& user, const std::string& method, const std::string& path,
                        std::multimap<std::string, std::string> fields,
                        std::vector<http::Request::File> files = {}) {
        http::Request request;
        request.method = method;
        request.path = path;
        (method == "GET" ? request.query : request.form) = std::move(fields);
        request.files = std::move(files);
        http::Response response;
        for (const web::Page& page : pages_)
            if (page.method == method && page.path == path) {
                page.handler(web::Visitor{user, 1033, "token"}, request, response);
                return response;
            }
        ADD_FAILURE() << "no page " << method << " " << path;
        return response;
    }
    static std::multimap<std::string, std::string> Ref(int32_t doc, std::string mode = "1") {
        return {{"DocID", std::to_string(doc)}, {"DocTypeID", "ORDER"}, {"SenderMode", mode}};
    }
    static int32_t Order(const std::string& extra, int32_t interactive = -1) {
        Document document;
        std::string type, recipient, outType, sender, defRecipient;
        int32_t docId = 0, bp = 0;
        int16_t status = 0;
        document.ProcessDocument(
            interactive,
            "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>" +
                extra + "</ORDER>",
            type, recipient, docId, bp, outType, sender, defRecipient, status);
        return docId;
    }
    static int64_t PublicationStatus(int32_t doc, const std::string& user) {
        return Collaboration().GetPublicationStatus(doc, user);
    }

    test::TwoPartnerSite site_{GetParam()};
    std::vector<web::Page> pages_ = web::DocumentPages();
};

TEST_P(DocumentPages, AReceivedDocumentShowsItsSectionsEscapedAndNoOtherUserReachesItOrActsOnIt) {
    const int32_t doc = Order("<script>alert('x')</script><LINE>Bolts &amp; nuts</LINE>");
    ASSERT_GT(doc, 0);
    Variant virtualPath, folder;
    ASSERT_EQ(Attachments().AttachmentsMode(virtualPath, folder).ToLong(), 2);
    fs::create_directories(fs::path(folder.ToString()) / std::to_string(doc));
    std::ofstream(fs::path(folder.ToString()) / std::to_string(doc) / "terms.txt")
        << "pay in 30 days";
    std::ofstream(fs::path(folder.ToString()) / "secret.txt") << "not an attachment";
    site_.Exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" +
               std::to_string(doc) + ", 'terms.txt')");
    site_.Exec(
        "UPDATE DOCUMENTTYPE SET HTMLATTACHMENTXSL = 'order.xsl' WHERE DOCUMENTTYPEID = 'ORDER'");
    fs::create_directories(site_.root() / "xsl" / "html");
    std::ofstream(site_.root() / "xsl" / "html" / "order.xsl")
        << "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
           "<xsl:template match='/'><html><body><p class='line'><xsl:value-of "
           "select='//LINE'/></p></body></html>"
           "</xsl:template></xsl:stylesheet>";

    // Bob's page: every section, the document's markup shown as text, and bob has now viewed it.
    http::Response page = Call("bob", "GET", "/document", Ref(doc));
    ASSERT_EQ(page.status, 200);
    for (const char* section :
         {"routing", "publications", "errors", "history", "attachments", "rendering", "xml"})
        EXPECT_NE(page.body.find(std::string("<section id=\"") + section + "\""), std::string::npos)
            << section;
    EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    EXPECT_NE(page.body.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.body.find("class=\"attachment\" href=\"/document/attachment?DocID=" +
                             std::to_string(doc)),
              std::string::npos);
    EXPECT_NE(page.body.find("<iframe sandbox=\"\""), std::string::npos);
    EXPECT_EQ(PublicationStatus(doc, "bob"), 5);
    // The link of the notification mails opens the same page.
    EXPECT_EQ(Call("bob", "GET", "/kestrix/document.asp", Ref(doc)).body, page.body);

    // The attachment by its listed name only; the rendering sandboxed.
    auto attachment = [&](const std::string& user, const std::string& name) {
        auto fields = Ref(doc);
        fields.emplace("name", name);
        return Call(user, "GET", "/document/attachment", fields);
    };
    http::Response file = attachment("bob", "terms.txt");
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, "pay in 30 days");
    EXPECT_NE(file.headers.find("Content-Disposition")->second.find("attachment;"),
              std::string::npos);
    EXPECT_EQ(attachment("bob", "../secret.txt").status, 404);
    EXPECT_EQ(attachment("bob", "..\\secret.txt").status, 404);
    EXPECT_EQ(attachment("bob", "secret.txt").status, 404);
    http::Response html = Call("bob", "GET", "/document/html", Ref(doc));
    EXPECT_EQ(html.status, 200);
    EXPECT_NE(html.body.find("Bolts &amp; nuts"), std::string::npos);
    EXPECT_EQ(html.headers.find("Content-Security-Policy")->second, "sandbox");

    // Carol gets for bob's document exactly the page of a document that does not exist, and
    // none of her actions changes anything.
    const http::Response missing = Call("carol", "GET", "/document", Ref(doc + 1000));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(Call("carol", "GET", "/document", Ref(doc)).body, missing.body);
    EXPECT_EQ(attachment("carol", "terms.txt").status, 404);
    EXPECT_EQ(Call("carol", "GET", "/document/html", Ref(doc)).status, 404);
    for (const char* action :
         {"/document/accept", "/document/reject", "/document/delete", "/document/forward",
          "/errors/close", "/errors/delete", "/errors/repush"}) {
        auto fields = Ref(doc);
        fields.emplace("user", "carol");
        EXPECT_EQ(Call("carol", "POST", action, fields).status, 404) << action;
    }
    EXPECT_EQ(PublicationStatus(doc, "bob"), 6);  // downloaded, as bob left it
    EXPECT_EQ(PublicationStatus(doc, "carol"), -1);
    // The document page read with another type is not the document either.
    auto invoice = Ref(doc);
    invoice.find("DocTypeID")->second = "INVOICE";
    EXPECT_EQ(Call("bob", "GET", "/document", invoice).status, 404);

    // Bob accepts: his row and the document become accepted, and the page says so.
    http::Response accepted = Call("bob", "POST", "/document/accept", Ref(doc));
    EXPECT_EQ(accepted.status, 303);
    const std::string location = accepted.headers.find("Location")->second;
    EXPECT_NE(location.find("notice=KXL0843"), std::string::npos);
    EXPECT_EQ(PublicationStatus(doc, "bob"), 1);
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID = " + std::to_string(doc) + " AND STATUS = 2"),
              1);
    EXPECT_NE(
        Call("bob", "GET", "/document", {{"DocID", std::to_string(doc)}, {"notice", "KXL0843"}})
            .body.find("<p class=\"notice\""),
        std::string::npos);

    // Alice, the sender, cannot accept in bob's place: she is shown why.
    http::Response refused = Call("alice", "POST", "/document/accept", Ref(doc, "0"));
    EXPECT_EQ(refused.status, 422);
    EXPECT_NE(refused.body.find("<p class=\"error\""), std::string::npos);

    // Bob forwards it to carol, who is on the distribution list; not to alice, who is not.
    site_.Exec(
        "INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) VALUES "
        "('ORDER', "
        "'bob', 0, " +
        std::to_string(site_.bolt()) + ")");
    site_.Exec(
        "INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) VALUES (" +
        std::to_string(site_.bolt()) + ", 'ORDER', 'acme-order.xsl')");
    auto toAlice = Ref(doc);
    toAlice.emplace("user", "alice");
    EXPECT_EQ(Call("bob", "POST", "/document/forward", toAlice).status, 422);
    auto toCarol = Ref(doc);
    toCarol.emplace("user", "carol");
    EXPECT_EQ(Call("bob", "POST", "/document/forward", toCarol).status, 303);
    db::Recordset forwarded = site_.Query(
        "SELECT D.DOCUMENTID, D.SENDER, D.STATUS FROM DOCUMENT D INNER JOIN PUBLICATION P ON "
        "P.DOCUMENTID = "
        "D.DOCUMENTID WHERE P.USERID = 'carol' AND D.DOC_DOCUMENTID = " +
        std::to_string(doc));
    ASSERT_FALSE(forwarded.Eof());
    EXPECT_EQ(forwarded.GetString("SENDER"), "bob");
    EXPECT_EQ(forwarded.GetInt("STATUS"), 1);  // published to carol, so her inbox lists it
    EXPECT_EQ(
        site_.Count("ATTACHMENT", "DOCUMENTID = " + std::to_string(forwarded.GetInt("DOCUMENTID"))),
        1);

    // Bob deletes it from his inbox: his accepted row becomes accepted-and-deleted, the
    // document stays as the sender has it; he is sent back to the box he came from.
    http::Response deleted = Call("bob", "POST", "/document/delete", Ref(doc));
    EXPECT_EQ(deleted.status, 303) << deleted.body;
    EXPECT_EQ(deleted.headers.find("Location")->second.rfind("/inbox?", 0), 0u);
    EXPECT_EQ(PublicationStatus(doc, "bob"), static_cast<int>(PUBLICATIONSTATUS::PUBLICATIONACCDEL));
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID = " + std::to_string(doc) + " AND STATUS = 2"), 1);
}

TEST_P(DocumentPages,
       TheSenderSeesAFailedDeliveryWithoutTheSendMethodsPasswordAndRepushesItOnceCorrected) {
    const fs::path folder = site_.root() / "out" / "bolt";
    TSendMethodProperties p;
    p.nProtocol = ESendMethodProtocol::FilePath;
    p.nFormat = ESendMethodFormat::XML;
    p.bAutoPush = true;
    p.sAddress = folder.string();
    p.sUser = "bolt-in";
    p.sPassword = "Pw-never-shown-42";
    p.sFileName = "order";
    p.sFileExtension = "xml";
    p.nSuffix = ESendMethodSuffix::DocumentID;
    p.nFileFormat = ESendMethodFileFormat::ASCII;
    SendMethod methods;
    int32_t method = methods.AddSendMethodProperties2(p), bolt = site_.bolt(), rule = -1;
    std::string type = "ORDER";
    methods.AddSendMethod2(method, bolt, type, rule);

    int32_t doc = Order("<LINE>Washers</LINE>");
    PushDocUtils().PushDocumentToReceivers(doc, "ORDER");
    ASSERT_EQ(
        site_.Count("PUBLICATIONERRORS", "CLOSED = 0 AND DOCUMENTID = " + std::to_string(doc)), 1);

    http::Response page = Call("alice", "GET", "/document", Ref(doc, "2"));
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("action=\"/errors/repush\""), std::string::npos);
    EXPECT_EQ(page.body.find("Pw-never-shown-42"), std::string::npos);
    // The sender reads what the log says of his document; a recipient does not.
    EXPECT_NE(page.body.find("processed document=" + std::to_string(doc) + " type=ORDER"),
              std::string::npos);
    // Bob sees his partner's failed delivery, but may not push alice's document again.
    http::Response bobs = Call("bob", "GET", "/document", Ref(doc, "2"));
    EXPECT_NE(bobs.body.find("data-error="), std::string::npos);
    EXPECT_EQ(bobs.body.find("Pw-never-shown-42"), std::string::npos);
    EXPECT_EQ(bobs.body.find("class=\"log\""), std::string::npos);
    EXPECT_EQ(Call("bob", "POST", "/errors/repush", Ref(doc, "2")).status, 422);

    // While the folder is missing the delivery fails again, and the page tells why.
    http::Response again = Call("alice", "POST", "/errors/repush", Ref(doc, "2"));
    EXPECT_EQ(again.status, 422);
    EXPECT_NE(again.body.find("<p class=\"error\""), std::string::npos);
    EXPECT_EQ(again.body.find("Pw-never-shown-42"), std::string::npos);
    // Corrected, the re-push delivers and the error box is empty.
    fs::create_directories(folder);
    http::Response repushed = Call("alice", "POST", "/errors/repush", Ref(doc, "2"));
    EXPECT_EQ(repushed.status, 303);
    EXPECT_TRUE(fs::exists(folder / ("order_" + std::to_string(doc) + ".xml")));
    EXPECT_EQ(
        site_.Count("PUBLICATIONERRORS", "CLOSED = 0 AND DOCUMENTID = " + std::to_string(doc)), 0);
    EXPECT_EQ(Call("alice", "POST", "/errors/repush", Ref(doc, "2")).status,
              422);  // nothing left to send
}

TEST_P(DocumentPages, AnUploadOrATemplateIsPublishedInTheVisitorsNameOnlyAndWithinTheSizeLimit) {
    auto upload = [&](const std::string& user, const std::string& name,
                      const std::string& content) {
        return Call(user, "POST", "/upload", {}, {{"document", name, "text/xml", content}});
    };
    const std::string order =
        "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</"
        "RECEIVER><LINE>Nuts</LINE></ORDER>";
    const int64_t before = site_.Count("DOCUMENT");

    // A document naming another sender is refused before anything is stored.
    http::Response foreign = upload("bob", "order.xml", order);
    EXPECT_EQ(foreign.status, 422);
    EXPECT_NE(foreign.body.find("<p class=\"error\""), std::string::npos);
    EXPECT_EQ(site_.Count("DOCUMENT"), before);
    EXPECT_EQ(upload("alice", "order.txt", order).status, 422);

    // The folder part of the browser's name is dropped; the document goes to bob.
    http::Response published = upload("alice", "C:\\fakepath\\..\\order.XML", order);
    ASSERT_EQ(published.status, 303);
    EXPECT_NE(published.headers.find("Location")->second.find("notice=KXL0850"), std::string::npos);
    db::Recordset row =
        site_.Query("SELECT DOCUMENTID, SENDER FROM DOCUMENT WHERE DOCUMENTTYPEID = 'ORDER'");
    ASSERT_FALSE(row.Eof());
    EXPECT_EQ(row.GetString("SENDER"), "alice");
    EXPECT_EQ(PublicationStatus(static_cast<int32_t>(row.GetInt("DOCUMENTID")), "bob"), 0);
    // Nothing of the upload is left behind: no document without type, no upload folder.
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTTYPEID IS NULL"), 0);
    const fs::path uploads = site_.root() / "upload";
    EXPECT_TRUE(!fs::exists(uploads) || fs::is_empty(uploads));

    // From a template of a type alice may send, her name filled in as the sender; bob has no
    // template of his own.
    site_.Exec(
        "INSERT INTO XMLTEMPLATE (DOCUMENTTYPEID, XMLTEMPLATE) VALUES ('ORDER', "
        "'<ORDER><SENDER/><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER></ORDER>')");
    EXPECT_NE(Call("alice", "GET", "/create", {}).body.find("<option value=\"ORDER\">"),
              std::string::npos);
    EXPECT_EQ(Call("bob", "POST", "/create", {{"template", "ORDER"}}).status, 422);
    http::Response editor = Call("alice", "POST", "/create", {{"template", "ORDER"}});
    EXPECT_NE(editor.body.find("&lt;SENDER&gt;alice&lt;/SENDER&gt;"), std::string::npos);
    http::Response created = Call("alice", "POST", "/create",
                                  {{"template", "ORDER"},
                                   {"xml",
                                    "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER"
                                    "</DOCTYPE-ID><RECEIVER>bob</RECEIVER></ORDER>"}});
    EXPECT_EQ(created.status, 303);
    EXPECT_EQ(site_.Count("DOCUMENT", "SENDER = 'alice'"), 2);

    site_.SetParameter("MaxDocumentSize", "64");
    ResetConnectionCache();
    EXPECT_EQ(upload("alice", "order.xml", order).status, 413);
    EXPECT_EQ(site_.Count("DOCUMENT"), before + 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentPages, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
