#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kestrix/foundation/users.h"
#include "kestrix/web/web_session.h"
#include "platform/http/server.h"
#include "platform/membership/directory.h"
#include "tests/support/curl_client.h"
#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Contains;
using test::Curl;
using test::CurlAnswer;

/// An order of alice to the distribution list of orders (bob and carol).
const std::string kOrder =
    "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><USESDISTLIST>1</USESDISTLIST>"
    "<REF>A-1 &amp; &lt;more&gt;</REF></ORDER>";

/// `kestrix serve` of the calling thread's site on a free port, with the users' tokens.
class Service {
  public:
    Service() : serve_({"serve", "--listen", "127.0.0.1:0"}) {
        if (!serve_.WaitForOutput("serving", 20s)) return;
        std::smatch match;
        const std::string output = serve_.Output();
        if (std::regex_search(output, match, std::regex("listening on (http://[^ ]+)"))) base_ = match[1].str();
    }
    ~Service() {
        serve_.Signal(SIGTERM);
        serve_.WaitForExit(30s);
    }
    const std::string& base() const { return base_; }
    std::string Output() const { return serve_.Output(); }

    static std::string Token(const std::string& user) {
        const std::string out = test::RunKestrix({"user", "token", user}).out;
        return out.substr(0, out.find('\n'));
    }
    /// A request of the API with the user's token ("" for none).
    CurlAnswer Call(const std::string& token, const std::string& method, const std::string& path,
                    std::vector<std::string> more = {}) const {
        std::vector<std::string> arguments{"-X", method};
        // An action carries no body: its length is 0 (the listener asks every POST for one).
        if (method == "POST" && more.empty()) arguments.insert(arguments.end(), {"--data-binary", ""});
        if (!token.empty()) arguments.insert(arguments.end(), {"-H", "Authorization: Bearer " + token});
        arguments.insert(arguments.end(), more.begin(), more.end());
        arguments.push_back(base_ + path);
        return Curl(arguments);
    }
    /// The form post of a site's HTTP send method.
    CurlAnswer FormPost(const std::string& xml, const std::string& user, const std::string& password,
                        const std::string& docId) const {
        return Curl({"--data-urlencode", "xml=" + xml, "--data-urlencode", "USER=" + user, "--data-urlencode",
                     "PASSWORD=" + password, "--data-urlencode", "DocID=" + docId, base_ + "/api/v1/documents"});
    }

  private:
    test::BackgroundKestrix serve_;
    std::string base_;
};

/// The number in `"name":N` of a JSON text, or -1.
long JsonNumber(const std::string& json, const std::string& name) {
    std::smatch match;
    return std::regex_search(json, match, std::regex("\"" + name + "\":(-?\\d+)")) ? std::stol(match[1].str()) : -1;
}

/// The text of an element of an XML answer.
std::string Element(const std::string& xml, const std::string& name) {
    std::smatch match;
    return std::regex_search(xml, match, std::regex("<" + name + ">([^<]*)</" + name + ">")) ? match[1].str() : "";
}

class Api : public ::testing::TestWithParam<std::string> {};

// A user's programs read his boxes and documents and act on them with his token; another
// user's document answers exactly as one that does not exist, on every route, and nothing
// answers without a token.
TEST_P(Api, ReadsAndActsOnlyOnTheUsersOwnDocuments) {
    test::TwoPartnerSite site(GetParam());
    site.AddUser("erin", site.acme());
    const Service service;
    ASSERT_FALSE(service.base().empty()) << service.Output();
    const std::string alice = Service::Token("alice"), bob = Service::Token("bob"), carol = Service::Token("carol"),
                      erin = Service::Token("erin");

    const CurlAnswer posted =
        service.Call(alice, "POST", "/api/v1/documents", {"-H", "Content-Type: application/xml", "--data-binary", kOrder});
    ASSERT_EQ(posted.status, 201) << posted.body << service.Output();
    const long id = JsonNumber(posted.body, "id");
    EXPECT_TRUE(Contains(posted.body, "\"type\":\"ORDER\"")) << posted.body;
    const std::string doc = "?id=" + std::to_string(id) + "&type=ORDER";

    // The inbox with and without filters; a filter that is no field of the box is refused.
    const std::string inbox = "/api/v1/documents?type=ORDER&box=inbox";
    EXPECT_EQ(JsonNumber(service.Call(bob, "GET", inbox).body, "id"), id);
    EXPECT_EQ(JsonNumber(service.Call(bob, "GET", inbox + "&filter=DOCUMENT.SENDER%20like&value=ali%25").body,
                         "id"),
              id);
    EXPECT_TRUE(Contains(service.Call(bob, "GET", inbox + "&filter=DOCUMENT.SENDER%20like&value=zed%25").body,
                         "\"documents\":[]"));
    const CurlAnswer badFilter = service.Call(bob, "GET", inbox + "&filter=DOCUMENT.XMLBODY%20like&value=x");
    EXPECT_EQ(badFilter.status, 400);
    EXPECT_TRUE(Contains(badFilter.body, "is not one of the fields")) << badFilter.body;
    const CurlAnswer badNumber = service.Call(bob, "GET", inbox + "&filter=DOCUMENT.DOCUMENTID%20%3D&value=0");
    EXPECT_EQ(badNumber.status, 400);
    EXPECT_TRUE(Contains(badNumber.body, "999999999")) << badNumber.body;

    // The document: the sender sees every recipient, a recipient his own row.
    const CurlAnswer seen = service.Call(alice, "GET", "/api/v1/document" + doc);
    ASSERT_EQ(seen.status, 200) << seen.body;
    EXPECT_TRUE(Contains(seen.body, "\"sender\":\"alice\"") && Contains(seen.body, "\"user\":\"bob\"") &&
                Contains(seen.body, "\"user\":\"carol\""))
        << seen.body;
    const CurlAnswer bobSees = service.Call(bob, "GET", "/api/v1/document" + doc);
    EXPECT_TRUE(Contains(bobSees.body, "\"user\":\"bob\"") && !Contains(bobSees.body, "\"user\":\"carol\""))
        << bobSees.body;
    EXPECT_EQ(service.Call(alice, "GET", "/api/v1/document/history" + doc).status, 200);
    EXPECT_EQ(service.Call(alice, "GET", "/api/v1/document?id=" + std::to_string(id) + "&type=INVOICE").status, 404);

    // Accept, reject, delete; the sender has no publication to accept.
    EXPECT_EQ(JsonNumber(service.Call(bob, "POST", "/api/v1/document/accept" + doc).body, "publicationStatus"), 1);
    EXPECT_EQ(site.Query("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(id)).GetInt("STATUS"),
              3);
    // The pages' session speaks for carol as well; a change needs the session's CSRF token.
    membership::Directory(site.connectionString()).GrantApplication("carol", users::GetApplicationID("Kestrix"));
    const std::string session = web::LogIn("carol", "pw-carol").sessionId;
    ASSERT_FALSE(session.empty());
    http::Request browser;
    browser.headers.emplace("Cookie", "kestrix_session=" + session);
    const std::string csrf = web::SessionVisitor(browser)->csrfToken;
    const std::vector<std::string> cookie{"-H", "Cookie: kestrix_session=" + session};
    EXPECT_EQ(service.Call("", "GET", "/api/v1/document" + doc, cookie).status, 200);
    EXPECT_EQ(service.Call("", "POST", "/api/v1/document/reject" + doc, {"-H", "Cookie: kestrix_session=" + session,
                                                                         "--data-binary", ""})
                  .status,
              401);
    EXPECT_EQ(JsonNumber(service
                             .Call("", "POST", "/api/v1/document/reject" + doc,
                                   {"-H", "Cookie: kestrix_session=" + session, "-H", "X-CSRF-Token: " + csrf,
                                    "--data-binary", ""})
                             .body,
                         "publicationStatus"),
              4);
    EXPECT_EQ(service.Call(alice, "POST", "/api/v1/document/accept" + doc).status, 409);
    EXPECT_EQ(service.Call(bob, "POST", "/api/v1/document/delete" + doc).status, 200);
    EXPECT_TRUE(Contains(service.Call(bob, "GET", inbox).body, "\"documents\":[]"));
    // Only the sender sends again.
    EXPECT_EQ(service.Call(carol, "POST", "/api/v1/errors/repush" + doc).status, 403);
    const CurlAnswer repushed = service.Call(alice, "POST", "/api/v1/errors/repush" + doc);
    EXPECT_EQ(repushed.status, 200) << repushed.body;

    // Another user's document and a missing one answer alike, on every route.
    const std::string missing = "?id=99999&type=ORDER";
    for (const auto& [method, path] : std::vector<std::pair<std::string, std::string>>{
             {"GET", "/api/v1/document"}, {"GET", "/api/v1/document/history"},
             {"POST", "/api/v1/document/accept"}, {"POST", "/api/v1/document/reject"},
             {"POST", "/api/v1/document/delete"}, {"POST", "/api/v1/errors/repush"}}) {
        const CurlAnswer foreign = service.Call(erin, method, path + doc);
        const CurlAnswer absent = service.Call(erin, method, path + missing);
        EXPECT_EQ(foreign.status, 404) << path << ": " << foreign.body;
        EXPECT_EQ(absent.status, 404) << path;
        EXPECT_EQ(std::regex_replace(foreign.body, std::regex("\\d+"), "N"),
                  std::regex_replace(absent.body, std::regex("\\d+"), "N"))
            << path;
        EXPECT_EQ(service.Call("", method, path + doc).status, 401) << path;
        EXPECT_EQ(service.Call("kx_" + std::string(64, '0'), method, path + doc).status, 401) << path;
    }
    EXPECT_EQ(site.Query("SELECT STATUS FROM PUBLICATION WHERE USERID = 'carol'").GetInt("STATUS"), 4);
}

// Documents posted over HTTP: by body with a token, or as the form post of a site's HTTP
// send method, answered in that sender's protocol; the same sender and DocID, posted again
// or twice at once, give one document.
TEST_P(Api, HttpIntakeStoresEachSendersDocumentOnce) {
    test::TwoPartnerSite site(GetParam());
    const Service service;
    ASSERT_FALSE(service.base().empty()) << service.Output();
    const std::string alice = Service::Token("alice"), bob = Service::Token("bob");
    const auto body = [&](const std::string& token, const std::string& xml) {
        return service.Call(token, "POST", "/api/v1/documents", {"-H", "Content-Type: text/xml", "--data-binary", xml});
    };

    // By body: refusals with the label's text and their status.
    const CurlAnswer notAllowed = body(bob, "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID></ORDER>");
    EXPECT_EQ(notAllowed.status, 403) << notAllowed.body;
    const CurlAnswer foreign = body(bob, kOrder);  // names alice of Acme as its sender
    EXPECT_EQ(foreign.status, 403);
    EXPECT_TRUE(Contains(foreign.body, "another business partner")) << foreign.body;
    EXPECT_EQ(body(alice, "<ORDER><unclosed></ORDER>").status, 400);
    EXPECT_EQ(service.Call(alice, "POST", "/api/v1/documents", {"-H", "Content-Type: image/png", "--data-binary", "x"})
                  .status,
              415);
    EXPECT_EQ(body("", kOrder).status, 401);
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 0);

    // The form post: the new document in XML, the same one for the same DocID. The document
    // is larger than a form the listener's library would take by itself.
    const std::string large = kOrder.substr(0, kOrder.size() - 8) + "<NOTE>" + std::string(30000, 'n') + "</NOTE></ORDER>";
    const CurlAnswer first = service.FormPost(large, "alice", "pw-alice", "A-77");
    ASSERT_EQ(first.status, 200) << first.body << service.Output();
    const std::string stored = Element(first.body, "DOCUMENTID");
    EXPECT_FALSE(stored.empty()) << first.body;
    EXPECT_EQ(Element(first.body, "ERROR_NUMBER"), "0");
    EXPECT_EQ(Element(service.FormPost(large, "alice", "pw-alice", "A-77").body, "DOCUMENTID"), stored);
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 1);
    EXPECT_EQ(site.Query("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " + stored).GetString("XMLBODY").find(
                  "A-1 &amp; &lt;more&gt;") != std::string::npos,
              true);

    // Refusals in the sender's protocol: status 200 with the error's number and text.
    const CurlAnswer badPassword = service.FormPost(kOrder, "alice", "wrong", "A-78");
    EXPECT_EQ(badPassword.status, 200);
    EXPECT_NE(Element(badPassword.body, "ERROR_NUMBER"), "0");
    EXPECT_NE(Element(badPassword.body, "ERROR_NUMBER"), "");
    EXPECT_TRUE(Contains(Element(badPassword.body, "ERROR_DESCRIPTION"), "password")) << badPassword.body;
    const CurlAnswer refused = service.FormPost("<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID></ORDER>", "bob", "pw-bob", "B-1");
    EXPECT_EQ(refused.status, 200);
    EXPECT_NE(Element(refused.body, "ERROR_NUMBER"), "0");
    EXPECT_FALSE(Element(refused.body, "ERROR_SOURCE").empty()) << refused.body;
    EXPECT_FALSE(Element(refused.body, "ERROR_DESCRIPTION").empty()) << refused.body;
    EXPECT_EQ(site.Count("HTTPINTAKE", "SENDER = 'bob'"), 0);  // refused: the key may come again

    // The same DocID twice at once: one document, both answers name it.
    std::vector<CurlAnswer> answers(4);
    std::vector<std::thread> posts;
    for (CurlAnswer& answer : answers)
        posts.emplace_back([&] { answer = service.FormPost(kOrder, "alice", "pw-alice", "A-99"); });
    for (std::thread& post : posts) post.join();
    for (const CurlAnswer& answer : answers) {
        EXPECT_EQ(Element(answer.body, "DOCUMENTID"), Element(answers[0].body, "DOCUMENTID")) << answer.body;
        EXPECT_EQ(Element(answer.body, "ERROR_NUMBER"), "0") << answer.body;
    }
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 2);
    EXPECT_EQ(site.Count("HTTPINTAKE"), 2);

    // Guessing a password by form posts locks the login as the log-in page does (five
    // failures): then even the right password is refused, and nothing is stored.
    for (int i = 0; i < 5; ++i) service.FormPost(kOrder, "alice", "guess-" + std::to_string(i), "A-10" + std::to_string(i));
    const CurlAnswer locked = service.FormPost(kOrder, "alice", "pw-alice", "A-200");
    EXPECT_NE(Element(locked.body, "ERROR_NUMBER"), "0") << locked.body;
    EXPECT_TRUE(Contains(Element(locked.body, "ERROR_DESCRIPTION"), "locked")) << locked.body;
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 2);
}

// One site delivers to another by its own HTTP send method: the receiving site stores the
// order and routes it to its own recipients; a refusal comes back as a failed delivery.
TEST_P(Api, OneSiteDeliversToAnotherByItsHttpSendMethod) {
    auto receiving = std::make_unique<test::TwoPartnerSite>(GetParam());
    const auto service = std::make_unique<Service>();
    ASSERT_FALSE(service->base().empty()) << service->Output();
    test::TwoPartnerSite sending(GetParam());
    // The routing tags are used up on the sending site: the send method's style sheet names
    // the recipients anew, as the receiving site's distribution list.
    std::ofstream(sending.root() / "xsl" / "to-bolt-site.xsl")
        << "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
           "<xsl:template match='/*'><xsl:copy><xsl:copy-of select='@*|node()[not(self::USESDISTLIST)]'/>"
           "<USESDISTLIST>1</USESDISTLIST></xsl:copy></xsl:template></xsl:stylesheet>";
    const test::ProgramRun added = test::RunKestrix(
        {"sendmethod", "add", "Bolt", "ORDER", "--protocol", "http", "--format", "xml", "--address",
         service->base() + "/api/v1/documents", "--user", "alice", "--password", "pw-alice", "--xsl", "to-bolt-site.xsl"});
    ASSERT_EQ(added.status, 0) << added.err << added.out;
    const fs::path file = sending.root() / "order.xml";
    std::ofstream(file) << kOrder;
    const test::ProgramRun processed = test::RunKestrix({"process", file.string()});
    ASSERT_EQ(processed.status, 0) << processed.err << processed.out;

    EXPECT_EQ(receiving->Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER' AND SENDER = 'alice'"), 1)
        << service->Output() << sending.LogText();
    EXPECT_EQ(receiving->Count("PUBLICATION", "USERID IN ('bob', 'carol')"), 2);
    EXPECT_EQ(sending.Count("SENDMETHODHISTORY", "STATUS = 1"), 1) << sending.LogText();
    EXPECT_EQ(sending.Count("PUBLICATIONERRORS", "CLOSED = 0"), 0);

    // The same delivery again (a push of the sender) gives no second document there.
    EXPECT_EQ(test::RunKestrix({"push", "1", "--partner", "Bolt"}).status, 0);
    EXPECT_EQ(receiving->Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 1);

    // A refusal of the receiving site (alice may no longer send orders there) comes back as a
    // failed delivery.
    receiving->Exec("DELETE FROM SENDERLIST");
    std::ofstream(file) << "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><USESDISTLIST>1</USESDISTLIST>"
                           "<REF>A-2</REF></ORDER>";
    EXPECT_EQ(test::RunKestrix({"process", file.string()}).status, 0);
    EXPECT_EQ(sending.Count("PUBLICATIONERRORS", "CLOSED = 0"), 1) << sending.LogText();
    EXPECT_EQ(receiving->Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, Api, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
