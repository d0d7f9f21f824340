// The pages of `kestrix serve` as a person uses them: headless Chromium, driven by the Node
// scenario of tests/browser, on a site that this test sets up and checks afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "platform/membership/directory.h"
#include "platform/services/configuration.h"
#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Contains;

/// What the scenario needs on the machine, or why it cannot run.
struct Browser {
    std::string node;
    std::string chromium;
    std::string problem;  ///< "" when everything is there
};

std::string OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

Browser FindBrowser() {
    Browser browser;
    browser.node = OnPath("node");
    const char* chosen = std::getenv("KESTRIX_CHROMIUM");
    browser.chromium = chosen && *chosen ? chosen : OnPath("chromium");
    const fs::path driver = fs::path(KESTRIX_BROWSER_TESTS_DIR) / "node_modules" / "playwright-core" / "package.json";
    if (browser.node.empty())
        browser.problem = "node is not installed (scripts/bootstrap installs Debian's nodejs)";
    else if (browser.chromium.empty() || ::access(browser.chromium.c_str(), X_OK) != 0)
        browser.problem = "chromium is not installed (scripts/bootstrap installs it; KESTRIX_CHROMIUM names another)";
    else if (!fs::exists(driver))
        browser.problem = "the Node packages of tests/browser are not installed (scripts/bootstrap runs npm ci there)";
    return browser;
}

/// The address of the start line ("listening on http://127.0.0.1:PORT").
std::string ListeningAddress(const std::string& output) {
    std::smatch match;
    return std::regex_search(output, match, std::regex("listening on (https?://[^ \r\n]+)")) ? match[1].str() : "";
}

/// The link to a document in the mails sent to `address` (quoted-printable soft breaks and
/// "=3D" undone), or "".
std::string DocumentLinkMailedTo(const fs::path& mailFolder, const std::string& address) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(mailFolder, ec)) {
        std::string mail = test::ReadAll(entry.path());
        const size_t to = mail.starts_with("To:") ? 0 : mail.find("\nTo:");
        if (to == std::string::npos || !Contains(mail.substr(to, mail.find('\n', to + 1) - to), address)) continue;
        mail = std::regex_replace(mail, std::regex("=\r?\n"), "");
        mail = std::regex_replace(mail, std::regex("=3D", std::regex::icase), "=");
        std::smatch link;
        if (std::regex_search(mail, link, std::regex("https?://[^\\s\"<>]+\\?DocID=\\d+[^\\s\"<>]*")))
            return std::regex_replace(link[0].str(), std::regex("&amp;"), "&");
    }
    return {};
}

/// A folder for the screenshots and page texts of a failed run, kept after the test.
fs::path ArtifactsFolder(const std::string& backend) {
    const fs::path folder = fs::temp_directory_path() /
                            ("kestrix-browser-" + backend + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

class BrowserPages : public ::testing::TestWithParam<std::string> {};

// A recipient opens the document of a notification mail through the log-in page, sees it
// rendered without running the script it holds, accepts it and finds it in his inbox; he
// gets a 404 for another partner's document and a 403 for a post without CSRF token. The
// sender is refused a wrong password, finds the failed delivery in his error box, pushes it
// again once the send method is corrected, uploads a document, and logs out.
TEST_P(BrowserPages, RecipientAndSenderWorkThroughThePages) {
    const Browser browser = FindBrowser();
    if (!browser.problem.empty()) {
        const char* required = std::getenv("KESTRIX_REQUIRE_BROWSER");
        if (required && std::string(required) == "1") FAIL() << "the browser tests cannot run: " << browser.problem;
        GTEST_SKIP() << browser.problem;
    }

    test::TwoPartnerSite site(GetParam());
    const std::string config = (site.root() / "config" / "SiteConfiguration.xml").string();
    services::Configuration::SetValue(config, "SERVICE", "ImportInterval", "1");
    services::Configuration::SetValue(config, "SERVICE", "OutboxInterval", "1");
    // A third partner, whose user receives a document that bob must not see.
    const int32_t cedar = membership::Directory(site.connectionString()).AddBusinessPartner("Cedar", {"CEDAR-C"});
    site.AddUser("dave", cedar, "dave@cedar.test");
    site.Exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, HTMLATTACHMENT) "
              "VALUES ('ORDER', 'dave', " + std::to_string(cedar) + ", 1, 0)");
    for (const char* user : {"alice", "bob"})
        ASSERT_EQ(test::RunKestrix({"user", "grant", user, "Kestrix"}).status, 0) << user << " may use the pages";
    // Orders are rendered by a style sheet that copies the note as it stands: markup in a
    // document reaches the rendering.
    site.Exec("UPDATE DOCUMENTTYPE SET HTMLATTACHMENTXSL = 'order-html.xsl' WHERE DOCUMENTTYPEID = 'ORDER'");
    test::WriteAll(site.root() / "xsl" / "html" / "order-html.xsl",
                   "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                   "<xsl:output method='html'/><xsl:template match='/'><html><body>"
                   "<h1 id='order-ref'><xsl:value-of select='//REF'/></h1>"
                   "<div class='note'><xsl:copy-of select='//NOTE/node()'/></div>"
                   "</body></html></xsl:template></xsl:stylesheet>");
    // Bolt takes its orders as files, first into a folder that cannot be made (its parent
    // is a file: refused even to root).
    test::WriteAll(site.root() / "blocked", "a file, not a folder");
    const fs::path delivered = site.root() / "out" / "bolt";
    fs::create_directories(delivered);
    test::ProgramRun added = test::RunKestrix({"sendmethod", "add", "Bolt", "ORDER", "--protocol", "filepath",
                                               "--address", (site.root() / "blocked" / "bolt").string(),
                                               "--file-name", "order", "--suffix", "docid", "--auto-push", "1"});
    std::smatch number;
    ASSERT_TRUE(std::regex_search(added.out, number, std::regex("added send method (\\d+)"))) << added.out << added.err;
    const std::string sendMethod = number[1].str();

    test::BackgroundKestrix serve({"serve"});
    ASSERT_TRUE(serve.WaitForOutput("serving", 20s)) << serve.Output();
    const std::string base = ListeningAddress(serve.Output());
    ASSERT_FALSE(base.empty()) << serve.Output();
    site.SetParameter("SiteLink", base + "/");

    auto import = [&](const std::string& name, const std::string& xml) {
        const fs::path part = site.root() / "import" / "in" / ("." + name + ".part");
        test::WriteAll(part, xml);
        fs::rename(part, site.root() / "import" / "in" / name);
    };
    import("to-bob.xml",
           "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER><REF>PO-4711</REF>"
           "<NOTE>Deliver before noon<script>window.kxScriptRan = 1; alert('script ran')</script></NOTE></ORDER>");
    import("to-dave.xml",
           "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>dave</RECEIVER><REF>PO-CEDAR-7</REF>"
           "</ORDER>");
    auto documentWith = [&](const std::string& ref) -> int64_t {
        db::Recordset rs = site.Query("SELECT DOCUMENTID FROM DOCUMENT WHERE XMLBODY LIKE '%" + ref + "%'");
        return rs.Eof() ? 0 : rs.GetInt("DOCUMENTID");
    };
    std::string link;
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            link = DocumentLinkMailedTo(site.root() / "out" / "mail", "bob@bolt.test");
            return documentWith("PO-CEDAR-7") != 0 && !link.empty();
        },
        30s))
        << serve.Output() << site.LogText();
    const int64_t toBob = documentWith("PO-4711");
    const int64_t toDave = documentWith("PO-CEDAR-7");
    ASSERT_NE(toBob, 0);
    // What the pages will show: bob alone receives the first, dave alone the second, and the
    // first's delivery to Bolt failed into alice's error box.
    ASSERT_EQ(site.Count("PUBLICATION", "DOCUMENTID = " + std::to_string(toBob)), 1);
    ASSERT_EQ(site.Count("PUBLICATION", "DOCUMENTID = " + std::to_string(toDave) + " AND USERID = 'bob'"), 0);
    ASSERT_EQ(site.Count("PUBLICATIONERRORS", "DOCUMENTID = " + std::to_string(toBob) + " AND CLOSED = 0"), 1)
        << site.LogText();
    ASSERT_TRUE(link.starts_with(base + "/")) << "the mail links to " << link << ", the service is at " << base;
    ASSERT_TRUE(Contains(link, "DocID=" + std::to_string(toBob))) << link;

    const fs::path upload = site.root() / "upload-order.xml";
    test::WriteAll(upload, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER>"
                           "<REF>PO-UPLOAD-9</REF></ORDER>");
    const fs::path artifacts = ArtifactsFolder(GetParam());
    const test::ProgramRun run = test::RunProgram(
        browser.node, {(fs::path(KESTRIX_BROWSER_TESTS_DIR) / "pages_scenario.js").string()},
        {"KX_BASE=" + base, "KX_MAIL_LINK=" + link, "KX_CHROMIUM=" + browser.chromium,
         "KX_ARTIFACTS=" + artifacts.string(), "KX_PROGRAM=" + test::ProgramPath(),
         "KX_RECIPIENT=bob", "KX_RECIPIENT_PASSWORD=pw-bob", "KX_SENDER=alice", "KX_SENDER_PASSWORD=pw-alice",
         "KX_DOC=" + std::to_string(toBob), "KX_FOREIGN_DOC=" + std::to_string(toDave), "KX_FOREIGN_REF=PO-CEDAR-7",
         "KX_TYPE=ORDER", "KX_SEND_METHOD=" + sendMethod, "KX_DELIVERY_FOLDER=" + delivered.string(),
         "KX_UPLOAD_FILE=" + upload.string(), "KX_BUDGET_MS=60000"},
        75s);
    ASSERT_EQ(run.status, 0) << (run.timedOut ? "the scenario outlasted its time and was killed\n" : "")
                             << run.out << run.err << "\nscreenshots and page texts: " << artifacts.string()
                             << "\nthe service said:\n" << serve.Output();
    std::cout << run.out;

    // What the clicks did, as the database and the partner's folder see it.
    const std::string doc = std::to_string(toBob);
    EXPECT_EQ(site.Count("PUBLICATION", "DOCUMENTID = " + doc + " AND USERID = 'bob' AND STATUS = 1"), 1)
        << "bob's publication is accepted, and the post without CSRF token deleted nothing";
    EXPECT_EQ(site.Count("PUBLICATIONERRORS", "DOCUMENTID = " + doc + " AND CLOSED = 0"), 0);
    EXPECT_TRUE(fs::exists(delivered / ("order_" + doc + ".xml")));
    EXPECT_EQ(site.Count("SENDMETHODHISTORY", "DOCUMENTID = " + doc + " AND STATUS = 1"), 1);
    const int64_t uploaded = documentWith("PO-UPLOAD-9");
    EXPECT_NE(uploaded, 0) << "the uploaded document was not processed";
    if (uploaded != 0) {
        EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTID = " + std::to_string(uploaded) + " AND SENDER = 'alice'"), 1);
        EXPECT_EQ(site.Count("PUBLICATION", "DOCUMENTID = " + std::to_string(uploaded) + " AND USERID = 'bob'"), 1);
        EXPECT_TRUE(fs::exists(delivered / ("order_" + std::to_string(uploaded) + ".xml")));
    }
    if (!HasFailure()) fs::remove_all(artifacts);

    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.WaitForExit(30s), std::optional<int>(0)) << serve.Output();
}

INSTANTIATE_TEST_SUITE_P(Backends, BrowserPages, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
