#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/services/configuration.h"
#include "tests/support/curl_client.h"
#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Contains;
using test::Curl;

class ServeListen : public ::testing::TestWithParam<std::string> {};

/// The address of the start line ("listening on http://127.0.0.1:PORT").
std::string ListeningAddress(const std::string& output) {
    std::smatch match;
    return std::regex_search(output, match, std::regex("listening on (https?://[^ ]+)")) ? match[1].str() : "";
}

// The service answers /healthz while its site can work and names the failing check when it
// cannot, counts an imported document in /metrics next to the site's figures, refuses a body
// above the limit, refuses to start on a taken port and speaks HTTPS with a certificate.
TEST_P(ServeListen, AnswersHealthAndMetricsAndRefusesATakenPort) {
    test::TwoPartnerSite site(GetParam());
    const std::string config = (site.root() / "config" / "SiteConfiguration.xml").string();
    services::Configuration::SetValue(config, "SERVICE", "ImportInterval", "1");
    site.Exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, DESCRIPTION, CREATIONDATE, CLOSED) "
              "VALUES (0, 1, 'old', '2000-01-01 00:00:00', 0)");

    site.SetParameter("MaxDocumentSize", "500000");

    test::BackgroundKestrix serve({"serve", "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(serve.WaitForOutput("serving", 15s)) << serve.Output();
    const std::string base = ListeningAddress(serve.Output());
    ASSERT_FALSE(base.empty()) << serve.Output();

    test::CurlAnswer health = Curl({base + "/healthz"});
    EXPECT_EQ(health.status, 200) << health.body;
    EXPECT_TRUE(Contains(health.body, "\"status\":\"ok\"")) << health.body;
    EXPECT_FALSE(Contains(health.body, "sqlite:") || Contains(health.body, "postgres")) << health.body;
    // The pages: the log-in form, and a box only behind it.
    const test::CurlAnswer login = Curl({base + "/login?next=/outbox"});
    EXPECT_EQ(login.status, 200);
    EXPECT_TRUE(Contains(login.body, "<form id=\"login\" method=\"post\" action=\"/login\">")) << login.body;
    EXPECT_EQ(Curl({base + "/inbox"}).status, 303);

    std::ofstream(site.root() / "import" / "in" / ".order.xml.part")
        << "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><REF>M1</REF></ORDER>";
    fs::rename(site.root() / "import" / "in" / ".order.xml.part", site.root() / "import" / "in" / "order.xml");
    std::string metrics;
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            metrics = Curl({base + "/metrics"}).body;
            return Contains(metrics, "kestrix_documents_processed_total{type=\"ORDER\"} 1");
        },
        20s))
        << metrics << serve.Output();
    EXPECT_TRUE(Contains(metrics, "# TYPE kestrix_document_processing_seconds histogram"));
    EXPECT_TRUE(Contains(metrics, "kestrix_document_processing_seconds_count 1"));
    EXPECT_TRUE(Contains(metrics, "# TYPE kestrix_outbox_items gauge"));
    EXPECT_TRUE(Contains(metrics, "kestrix_site_metrics_up 1"));
    std::smatch age;
    ASSERT_TRUE(std::regex_search(metrics, age, std::regex("kestrix_oldest_open_publication_error_age_seconds (\\d+)")))
        << metrics;
    EXPECT_GT(std::stod(age[1].str()), 20.0 * 365 * 86400);

    // The JSON API: a user's programs list his own boxes with his token, and nobody else's.
    const std::string alice = test::RunKestrix({"user", "token", "alice"}).out;
    const std::string bob = test::RunKestrix({"user", "token", "bob"}).out;
    ASSERT_TRUE(alice.starts_with("kx_")) << alice;
    auto api = [&](const std::string& token, const std::string& query) {
        return Curl({"-H", "Authorization: Bearer " + token.substr(0, token.find('\n')), base + "/api/v1/documents" + query});
    };
    const test::CurlAnswer sent = api(alice, "?type=ORDER&box=outbox");
    EXPECT_EQ(sent.status, 200) << sent.body;
    EXPECT_TRUE(Contains(sent.body, "\"box\":\"outbox\"") && Contains(sent.body, "{\"id\":1,\"type\":\"ORDER\"")) << sent.body;
    EXPECT_TRUE(Contains(api(bob, "?type=ORDER&box=outbox").body, "\"documents\":[]"));
    for (const char* box : {"inbox", "errors"})
        for (const std::string* token : {&alice, &bob}) {
            const test::CurlAnswer listed = api(*token, std::string("?type=ORDER&box=") + box);
            EXPECT_EQ(listed.status, 200) << box << ": " << listed.body;
        }
    EXPECT_TRUE(Contains(api(alice, "?type=ORDER&box=outbox&page=2&size=1").body, "\"documents\":[]"));
    EXPECT_EQ(api(alice, "?type=ORDER&box=trash").status, 400);
    EXPECT_EQ(api(alice, "?box=outbox").status, 400);
    EXPECT_EQ(api(alice, "?type=ORDER&size=lots").status, 400);
    EXPECT_EQ(api(alice, "?type=ORDER%27%20OR%20%271%27%3D%271&box=outbox").body, "{\"box\":\"outbox\",\"type\":\"ORDER' OR '1'='1\",\"page\":1,\"size\":50,\"documents\":[]}");
    EXPECT_EQ(api("kx_" + std::string(64, '0'), "").status, 401);
    EXPECT_EQ(Curl({base + "/api/v1/documents"}).status, 401);
    test::RunKestrix({"user", "token", "alice", "--revoke"});
    EXPECT_EQ(api(alice, "?type=ORDER&box=outbox").status, 401);

    // A body over the limit (three times the largest document and a little: a document may
    // come form-encoded; 2 MB passed to curl as a file: too long for an argument).
    const fs::path big = site.root() / "big-body";
    std::ofstream(big, std::ios::binary) << std::string(2 * 1024 * 1024, 'x');
    EXPECT_EQ(Curl({"--data-binary", "@" + big.string(), base + "/healthz"}).status, 413);

    // A second service on the same port (--listen before the site lock on PostgreSQL, which
    // has none) is refused with a reason.
    const std::string port = base.substr(base.rfind(':') + 1);
    if (GetParam() != "sqlite") {
        const test::ProgramRun second = test::RunKestrix({"serve", "--listen", "127.0.0.1:" + port});
        EXPECT_EQ(second.status, 3);
        EXPECT_TRUE(Contains(second.err, "taken")) << second.err;
    }

    // The error folder goes: the health check names it. (Under a file, so that no job of the
    // running service can make the folder again before the check.)
    site.SetParameter("XMLErrorPath", (big / "errors").string());
    health = Curl({base + "/healthz"});
    EXPECT_EQ(health.status, 503) << health.body;
    EXPECT_TRUE(Contains(health.body, "\"failing\":\"error_folder\"")) << health.body;

    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.WaitForExit(30s), std::optional<int>(0)) << serve.Output();
    EXPECT_EQ(Curl({"--max-time", "3", base + "/healthz"}).status, 0);
}

// A port that another program holds stops the service at start; HTTPS with the configured
// certificate and key.
TEST_P(ServeListen, RefusesATakenPortAndServesHttps) {
    test::TwoPartnerSite site(GetParam());
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const test::ProgramRun taken =
        test::RunKestrix({"serve", "--listen", "127.0.0.1:" + std::to_string(ntohs(address.sin_port))});
    ::close(holder);
    EXPECT_EQ(taken.status, 3);
    EXPECT_TRUE(Contains(taken.err, "taken")) << taken.err;

    std::string certificate, key;
    ASSERT_TRUE(test::MakeCertificate(site.root().string(), certificate, key));
    const std::string config = (site.root() / "config" / "SiteConfiguration.xml").string();
    services::Configuration::SetValue(config, "SERVICE", "TlsCertificate", certificate);
    services::Configuration::SetValue(config, "SERVICE", "TlsKey", key);
    test::BackgroundKestrix serve({"serve"});
    ASSERT_TRUE(serve.WaitForOutput("serving", 15s)) << serve.Output();
    const std::string base = ListeningAddress(serve.Output());
    ASSERT_TRUE(base.starts_with("https://127.0.0.1:")) << serve.Output();
    const test::CurlAnswer health =
        Curl({"--cacert", certificate, "https://localhost:" + base.substr(base.rfind(':') + 1) + "/healthz"});
    EXPECT_EQ(health.status, 200) << health.body;
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.WaitForExit(30s), std::optional<int>(0)) << serve.Output();
}

INSTANTIATE_TEST_SUITE_P(Backends, ServeListen, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
