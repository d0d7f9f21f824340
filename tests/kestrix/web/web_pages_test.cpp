#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/users.h"
#include "kestrix/web/box_pages.h"
#include "kestrix/web/web_routes.h"
#include "platform/base/dictionary.h"
#include "platform/http/server.h"
#include "platform/membership/directory.h"
#include "platform/membership/secrets.h"
#include "tests/support/curl_client.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

using test::Curl;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

/// What the server answered: status, headers as sent, body.
struct Answer {
    int status = 0;
    std::string headers;
    std::string body;

    std::string Header(const std::string& name) const {
        std::smatch m;
        return std::regex_search(headers, m, std::regex("(?:^|\\n)" + name + ": ([^\\r\\n]*)", std::regex::icase))
                   ? m[1].str()
                   : "";
    }
    /// The session id of the cookie this answer set, or "".
    std::string SessionId() const {
        std::smatch m;
        return std::regex_search(headers, m, std::regex("Set-Cookie: kestrix_session=([0-9a-f]{64});")) ? m[1].str() : "";
    }
    /// The number of document rows of the page's list.
    size_t Rows() const {
        size_t rows = 0;
        for (size_t at = body.find("<tr><td><a class=\"doc\""); at != std::string::npos;
             at = body.find("<tr><td><a class=\"doc\"", at + 1))
            ++rows;
        return rows;
    }
};

/// A browser with a cookie jar of its own, talking to the pages through curl.
class Browser {
  public:
    explicit Browser(std::string base, std::vector<std::string> extra = {})
        : base_(std::move(base)), extra_(std::move(extra)) {}

    Answer Get(const std::string& path) { return Send(path, {}); }
    Answer Post(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields) {
        std::vector<std::string> args;
        for (const auto& [name, value] : fields) args.insert(args.end(), {"--data-urlencode", name + "=" + value});
        return Send(path, args);
    }
    /// Shows the log-in page and posts it; answers the post's answer.
    Answer LogIn(const std::string& login, const std::string& password, const std::string& next = "/inbox") {
        const Answer form = Get("/login");
        return Post("/login", {{"login", login}, {"password", password}, {"next", next}, {"csrf", Token(form.body)}});
    }
    /// The CSRF token the page's forms carry.
    static std::string Token(const std::string& page) {
        std::smatch m;
        return std::regex_search(page, m, std::regex("name=\"csrf\" value=\"([0-9a-f]+)\"")) ? m[1].str() : "";
    }

  private:
    Answer Send(const std::string& path, std::vector<std::string> args) {
        const std::string headers = (dir_.path() / "headers").string();
        const std::string jar = (dir_.path() / "jar").string();
        args.insert(args.begin(), {"-b", jar, "-c", jar, "-D", headers});
        args.insert(args.end(), extra_.begin(), extra_.end());
        args.push_back(base_ + path);
        const test::CurlAnswer answer = Curl(args);
        return {answer.status, test::ReadAll(headers), answer.body};
    }

    std::string base_;
    std::vector<std::string> extra_;
    test::TempDir dir_;
};

/// A site whose users bob and carol may use the pages (alice may not), served on loopback.
class WebPages : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        site_ = std::make_unique<test::TwoPartnerSite>(GetParam());
        membership::Directory directory(site_->connectionString());
        for (const char* user : {"bob", "carol"}) directory.GrantApplication(user, users::GetApplicationID("Kestrix"));
        server_ = std::make_unique<http::Server>(http::ServerOptions{}, web::WebRoutes(web::BoxPages()));
    }
    void TearDown() override {
        server_.reset();
        site_.reset();
    }

    std::string Base() const { return server_->Address(); }
    static std::string Label(const std::string& code, const Dictionary& replacements = Dictionary()) {
        return web::EscapeHtml(TranslateLabel(code, 1033, replacements));
    }
    /// An order of `sender` made on `date`, published to `recipient` when one is given.
    static int32_t AddOrder(const std::string& sender, const std::string& recipient, const std::string& date,
                            int32_t parent = 0) {
        db::Connection connection = GetConnection();
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", "ORDER");
        row.Set("SENDER", sender);
        row.Set("STATUS", 1);
        row.Set("SHOW", 1);
        row.Set("CREATIONDATE", date);
        if (parent != 0) row.Set("DOC_DOCUMENTID", parent);
        const auto id = static_cast<int32_t>(connection.Insert("DOCUMENT", row, "DOCUMENTID"));
        if (!recipient.empty())
            connection.Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (?, ?, 0)",
                               {Variant(id), Variant(recipient)});
        return id;
    }

    std::unique_ptr<test::TwoPartnerSite> site_;
    std::unique_ptr<http::Server> server_;
};

// Log-in admits the right password of a user who may use the pages and nobody else; the
// session cookie is the browser's only key (HttpOnly, same-site, only its hash is kept); a
// post needs the session's token; log-out and idleness end the session; `next` never
// leaves the site.
TEST_P(WebPages, LogInKeepsSessionsAndRefusesForeignPosts) {
    Browser browser(Base());
    // A page without a session sends to the log-in, remembering where the visitor wanted to go.
    Answer first = browser.Get("/inbox?type=ORDER&sender=a%20b");
    EXPECT_EQ(first.status, 303);
    EXPECT_EQ(first.Header("Location"), "/login?next=%2Finbox%3Fsender%3Da%2520b%26type%3DORDER");

    // A post of the log-in form without its form token is refused.
    Browser stranger(Base());
    EXPECT_EQ(stranger.Post("/login", {{"login", "bob"}, {"password", "pw-bob"}}).status, 403);
    // alice's password is right, but she may not use the pages; bob's password is wrong.
    for (const auto& [login, password] : {std::pair{"alice", "pw-alice"}, std::pair{"bob", "wrong"}}) {
        const Answer refused = browser.LogIn(login, password);
        EXPECT_EQ(refused.status, 200) << login;
        EXPECT_TRUE(Has(refused.body, "<p class=\"error\" role=\"alert\">" + Label("KXL0709"))) << refused.body;
        EXPECT_FALSE(Has(refused.headers, "kestrix_session=")) << refused.headers;
    }

    // The right password: a session cookie, and back to a page of this site only.
    const Answer in = browser.LogIn("bob", "pw-bob", "//evil.example/x");
    ASSERT_EQ(in.status, 303) << in.body;
    EXPECT_EQ(in.Header("Location"), "/inbox");
    std::smatch cookie;
    ASSERT_TRUE(std::regex_search(in.headers, cookie, std::regex("Set-Cookie: kestrix_session=([0-9a-f]{64});([^\\r\\n]*)")))
        << in.headers;
    const std::string sessionId = cookie[1].str(), flags = cookie[2].str();
    EXPECT_TRUE(Has(flags, "HttpOnly") && Has(flags, "SameSite=Strict") && Has(flags, "Path=/;")) << flags;
    EXPECT_FALSE(Has(flags, "Secure")) << flags;
    const auto kept = [&](const std::string& id) {
        return site_->Count("WEBSESSION", "SESSIONHASH = '" + membership::SecretHash(id) + "'");
    };
    EXPECT_EQ(kept(sessionId), 1);
    EXPECT_EQ(site_->Count("WEBSESSION", "SESSIONHASH = '" + sessionId + "'"), 0);
    EXPECT_EQ(Browser(Base()).LogIn("bob", "pw-bob", "/outbox?type=ORDER").Header("Location"), "/outbox?type=ORDER");

    const Answer inbox = browser.Get("/inbox");
    ASSERT_EQ(inbox.status, 200) << inbox.body;
    const std::string token = Browser::Token(inbox.body);
    ASSERT_EQ(token.size(), 64u) << inbox.body;

    // Posts without the token, with another one, or from a browser without the session: 403.
    EXPECT_EQ(browser.Post("/logout", {{"next", "/inbox"}}).status, 403);
    EXPECT_EQ(browser.Post("/logout", {{"csrf", std::string(64, 'a')}}).status, 403);
    EXPECT_EQ(stranger.Post("/logout", {{"csrf", token}}).status, 403);
    EXPECT_EQ(browser.Get("/inbox").status, 200);

    // Log-out with the token ends the session for good.
    const Answer out = browser.Post("/logout", {{"csrf", token}});
    EXPECT_EQ(out.status, 303);
    EXPECT_EQ(out.Header("Location"), "/login");
    EXPECT_EQ(kept(sessionId), 0);
    EXPECT_EQ(browser.Get("/inbox").status, 303);

    // A session left idle longer than the site allows has ended.
    const std::string again = browser.LogIn("bob", "pw-bob").SessionId();
    ASSERT_EQ(again.size(), 64u);
    EXPECT_EQ(browser.Get("/inbox").status, 200);
    site_->Exec("UPDATE WEBSESSION SET LASTSEEN = LASTSEEN - 1801");
    EXPECT_EQ(browser.Get("/inbox").status, 303);
    EXPECT_EQ(kept(again), 0);
    // So has one older than the site allows, however busy.
    const std::string third = browser.LogIn("bob", "pw-bob").SessionId();
    ASSERT_EQ(third.size(), 64u);
    site_->Exec("UPDATE WEBSESSION SET CREATED = CREATED - 43201");
    EXPECT_EQ(browser.Get("/inbox").status, 303);
    EXPECT_EQ(kept(third), 0);
}

// Five failed log-ins lock the login, the right password included, for every service of the
// site; once the lock has run out the right password admits again. Over HTTPS the session
// cookie is Secure.
TEST_P(WebPages, RepeatedFailuresLockTheLogin) {
    Browser browser(Base());
    Dictionary minutes;
    minutes.Add("[%MINUTES%]", "15");
    const std::string locked = Label("KXL0710", minutes);
    for (int attempt = 1; attempt <= 5; ++attempt) {
        const Answer refused = browser.LogIn("carol", "wrong");
        EXPECT_EQ(Has(refused.body, locked), attempt == 5) << attempt << refused.body;
    }
    EXPECT_TRUE(Has(site_->LogText(), "a login is locked after repeated failed log-ins")) << site_->LogText();
    const Answer right = browser.LogIn("carol", "pw-carol");
    EXPECT_EQ(right.status, 200);
    EXPECT_TRUE(Has(right.body, locked)) << right.body;
    EXPECT_FALSE(Has(right.headers, "kestrix_session=")) << right.headers;
    // Another login is not locked with it.
    EXPECT_EQ(Browser(Base()).LogIn("bob", "pw-bob").status, 303);

    site_->Exec("UPDATE WEBLOGINFAILURE SET LOCKEDUNTIL = 1 WHERE LOGIN = 'carol'");
    EXPECT_EQ(browser.LogIn("carol", "pw-carol").status, 303);
    EXPECT_EQ(site_->Count("WEBLOGINFAILURE", "LOGIN = 'carol'"), 0);

    test::TempDir folder;
    std::string certificate, key;
    if (!test::MakeCertificate(folder.path().string(), certificate, key)) GTEST_SKIP() << "openssl is missing";
    http::ServerOptions tls;
    tls.tlsCertificate = certificate;
    tls.tlsKey = key;
    http::Server secure(tls, web::WebRoutes(web::BoxPages()));
    Browser overTls(secure.Address(), {"-k"});
    const Answer in = overTls.LogIn("bob", "pw-bob");
    ASSERT_EQ(in.status, 303) << in.body;
    EXPECT_TRUE(std::regex_search(in.headers, std::regex("Set-Cookie: kestrix_session=[0-9a-f]{64};[^\\r\\n]*; Secure")))
        << in.headers;
}

// The boxes list the visitor's own documents only, a page of 25 at a time, sorted and
// filtered as asked; texts of documents show as text; whatever the address holds in a
// filter, sort or page parameter is a value or is refused in the page, never SQL.
TEST_P(WebPages, BoxesListOwnDocumentsAndTakeNoSqlFromTheAddress) {
    std::vector<int32_t> bobs;
    for (int i = 0; i < 27; ++i) bobs.push_back(AddOrder("alice", "bob", "2026-01-" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + " 10:00:00"));
    const int32_t script = AddOrder("<script>alert(1)</script>", "bob", "2026-02-01 10:00:00");
    const int32_t carols = AddOrder("alice", "carol", "2026-02-02 10:00:00");
    const int32_t child = AddOrder("bob", "", "2026-02-03 10:00:00", bobs[0]);
    const int32_t carolsChild = AddOrder("alice", "", "2026-02-03 11:00:00", carols);
    site_->Exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, DESCRIPTION, SEQUENCENUMBER) VALUES ('ORDER', 'PO <no>', 1)");
    site_->Exec("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) SELECT " + std::to_string(bobs[3]) +
                ", TAGID, 'PO-\"77\"' FROM TAGSCONFIG");
    site_->Exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, DESCRIPTION, CREATIONDATE, CLOSED) VALUES (" +
                std::to_string(child) + ", 1, 'failed', '2026-02-03 10:00:00', 0)");
    const int64_t documents = site_->Count("DOCUMENT");
    const auto link = [](int32_t id, int mode) {
        return "href=\"/document?DocID=" + std::to_string(id) + "&amp;DocTypeID=ORDER&amp;SenderMode=" +
               std::to_string(mode) + "\"";
    };

    Browser bob(Base());
    ASSERT_EQ(bob.LogIn("bob", "pw-bob").status, 303);
    // Newest first: the script sender's order, then bob's from the newest; carol's never.
    const Answer first = bob.Get("/inbox");
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(first.Rows(), 25u);
    EXPECT_TRUE(Has(first.body, link(script, 1)));
    EXPECT_TRUE(Has(first.body, "&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_FALSE(Has(first.body, "<script>"));
    EXPECT_TRUE(Has(first.body, "<th><a class=\"sort\" href=\"/inbox?type=ORDER&amp;sort=t1&amp;dir=asc\">PO &lt;no&gt;</a>"))
        << first.body;
    EXPECT_TRUE(Has(first.body, "<a class=\"next\" href=\"/inbox?type=ORDER&amp;page=2\">"));
    EXPECT_FALSE(Has(first.body, "class=\"prev\""));
    EXPECT_FALSE(Has(first.body, link(carols, 1)));
    const Answer second = bob.Get("/inbox?type=ORDER&page=2");
    EXPECT_EQ(second.Rows(), 3u);
    EXPECT_TRUE(Has(second.body, link(bobs[0], 1)));
    EXPECT_TRUE(Has(second.body, "class=\"children\""));
    EXPECT_TRUE(Has(second.body, "<a class=\"prev\""));
    EXPECT_FALSE(Has(second.body, "class=\"next\""));
    // Sorted by the user-defined field, and filtered by it (the quote is a value).
    const Answer byField = bob.Get("/inbox?type=ORDER&sort=t1&dir=desc");
    EXPECT_LT(byField.body.find(link(bobs[3], 1)), byField.body.find(link(bobs[4], 1)));
    EXPECT_TRUE(Has(byField.body, "PO-&quot;77&quot;"));
    EXPECT_EQ(bob.Get("/inbox?type=ORDER&t1=PO-%2277*").Rows(), 1u);
    EXPECT_EQ(bob.Get("/inbox?sender=ali*&docid=" + std::to_string(bobs[5])).Rows(), 1u);

    // SQL in every parameter: a value that matches nothing, or a filter error in the page.
    for (const std::string query :
         {"sender=%27%20OR%20%271%27%3D%271", "t1=%25%27%3B%20DELETE%20FROM%20DOCUMENT%3B--",
          "type=ORDER%27%20OR%20%271%27%3D%271", "status=New%27%3B%20DROP%20TABLE%20DOCUMENT%3B--"}) {
        const Answer answer = bob.Get("/inbox?" + query);
        EXPECT_EQ(answer.status, 200) << query << answer.body;
        EXPECT_EQ(answer.Rows(), 0u) << query;
    }
    Dictionary range;
    range.Add("[%MIN%]", "1");
    range.Add("[%MAX%]", "999999999");
    const Answer badNumber = bob.Get("/inbox?docid=1%3B%20DROP%20TABLE%20DOCUMENT");
    EXPECT_EQ(badNumber.status, 200);
    EXPECT_TRUE(Has(badNumber.body, "<p class=\"hint\">" + Label("SLBSH1126", range) + "</p>")) << badNumber.body;
    EXPECT_TRUE(Has(badNumber.body, "value=\"1; DROP TABLE DOCUMENT\"")) << badNumber.body;
    const Answer wildcard = bob.Get("/inbox?status=New*");
    EXPECT_TRUE(Has(wildcard.body, Label("SLBSH1124"))) << wildcard.body;
    for (const std::string query : {"sort=DOCUMENTID%3B%20DROP%20TABLE%20DOCUMENT&dir=asc%3B--",
                                     "sort=t9&page=-1%20OR%201%3D1", "page=99999999999"}) {
        const Answer answer = bob.Get("/inbox?" + query);
        EXPECT_EQ(answer.status, 200) << query << answer.body;
        EXPECT_EQ(answer.Rows(), 25u) << query;
    }
    EXPECT_EQ(site_->Count("DOCUMENT"), documents);

    // Children of a parent in bob's inbox; carol's parent is nobody's business of his.
    const Answer children = bob.Get("/children?DocID=" + std::to_string(bobs[0]) + "&DocTypeID=ORDER&SenderMode=1");
    EXPECT_EQ(children.status, 200) << children.body;
    EXPECT_TRUE(Has(children.body, link(child, 1)));
    EXPECT_EQ(children.Rows(), 1u);
    const Answer foreign = bob.Get("/children?DocID=" + std::to_string(carols) + "&DocTypeID=ORDER&SenderMode=1");
    EXPECT_EQ(foreign.status, 404);
    EXPECT_FALSE(Has(foreign.body, link(carolsChild, 1)));

    // The outbox holds bob's child; the error box his failed one with its actions; carol's
    // outbox is empty, said in words.
    EXPECT_TRUE(Has(bob.Get("/outbox").body, link(child, 0)));
    const Answer errors = bob.Get("/errors");
    EXPECT_EQ(errors.Rows(), 1u) << errors.body;
    EXPECT_TRUE(Has(errors.body, link(child, 2)));
    EXPECT_TRUE(Has(errors.body, "<form method=\"post\" action=\"/errors/repush\">"));
    EXPECT_TRUE(Has(errors.body, "name=\"csrf\" value=\"" + Browser::Token(errors.body) + "\""));
    Browser carol(Base());
    ASSERT_EQ(carol.LogIn("carol", "pw-carol").status, 303);
    const Answer empty = carol.Get("/outbox");
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(Has(empty.body, Label("KXL0724"))) << empty.body;
    // carol reads German: the page and its filter errors.
    site_->Exec("UPDATE MEMBERUSER SET LANGUAGEID = 1031 WHERE USERID = 'carol'");
    const Answer german = carol.Get("/inbox?docid=0");
    EXPECT_TRUE(Has(german.body, "<html lang=\"de\">"));
    EXPECT_TRUE(Has(german.body, web::EscapeHtml(TranslateLabel("SLBSH1126", 1031, range)))) << german.body;
}

INSTANTIATE_TEST_SUITE_P(Backends, WebPages, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
