#include "platform/http/server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/curl_client.h"

namespace kestrix::http {
namespace {

using namespace std::chrono_literals;
using test::Curl;

std::vector<Route> Routes() {
    return {
        {"GET", "/echo",
         [](const Request& request, Response& response) {
             const auto word = request.query.find("word");
             response.body = (word == request.query.end() ? "" : word->second) + "|" + request.Header("x-probe");
         }},
        {"POST", "/echo",
         [](const Request& request, Response& response) {
             response.contentType = "application/json";
             if (request.form.empty() && request.files.empty())
                 response.body = "{\"length\":" + std::to_string(request.body.size()) + "}";
             else
                 response.body = request.Form("a") + "|" + request.Query("a") + "|" +
                                 (request.files.empty() ? "" : request.files[0].fileName + "=" + request.files[0].content);

         }},
        {"GET", "/fails", [](const Request&, Response&) { throw std::runtime_error("password=hunter2"); }},
        {"GET", "/slow",
         [](const Request&, Response& response) {
             std::this_thread::sleep_for(600ms);
             response.status = 202;
             response.body = "finished";
         }},
    };
}

// Routes answer by method and path with the handler's status, type and body; an unknown path
// is 404, a known path with another method 405, a raising handler 500 without its text; a
// body above the limit is refused with 413 whether or not the client asks first; a taken port
// is refused with a reason; Stop lets a request in hand finish and then takes no connection.
TEST(HttpServer, ServesRoutesLimitsBodiesAndStopsAfterTheRequestsInHand) {
    ServerOptions options;
    options.maxBodyBytes = 1000;
    Server server(options, Routes());
    ASSERT_GT(server.Port(), 0);
    const std::string base = server.Address();
    EXPECT_EQ(base, "http://127.0.0.1:" + std::to_string(server.Port()));

    test::CurlAnswer echo = Curl({"-H", "X-Probe: seen", base + "/echo?word=a%20b"});
    EXPECT_EQ(echo.status, 200);
    EXPECT_EQ(echo.body, "a b|seen");
    test::CurlAnswer posted = Curl({"-H", "Content-Type: application/octet-stream", "--data-binary", std::string(1000, 'x'), base + "/echo"});
    EXPECT_EQ(posted.status, 200);
    EXPECT_EQ(posted.body, "{\"length\":1000}");
    // Posted fields are the form's, not the query's; a file part is apart from the fields.
    EXPECT_EQ(Curl({"--data", "a=1+%262", base + "/ECHO?a=q"}).body, "1 &2|q|");
    const std::string part = (std::filesystem::temp_directory_path() / "kestrix-http-part.xml").string();
    ASSERT_EQ(std::system(("printf '<x/>' > " + part).c_str()), 0);
    EXPECT_EQ(Curl({"-F", "a=3", "-F", "f=@" + part, base + "/echo"}).body, "3||kestrix-http-part.xml=<x/>");
    std::filesystem::remove(part);
    EXPECT_EQ(Curl({base + "/nowhere"}).status, 404);
    EXPECT_EQ(Curl({"-X", "DELETE", base + "/echo"}).status, 405);
    const test::CurlAnswer failed = Curl({base + "/fails"});
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body.find("hunter2"), std::string::npos) << failed.body;

    // One byte over, sent straight away; and a large body that the client offers first.
    EXPECT_EQ(Curl({"-H", "Expect:", "--data-binary", std::string(1001, 'x'), base + "/echo"}).status, 413);
    const std::string big = (std::filesystem::temp_directory_path() / "kestrix-http-big").string();
    ASSERT_EQ(std::system(("head -c 5000000 /dev/zero > " + big).c_str()), 0);
    EXPECT_EQ(Curl({"-H", "Expect: 100-continue", "--data-binary", "@" + big, base + "/echo"}).status, 413);
    std::filesystem::remove(big);
    // The server still answers after the refusals.
    EXPECT_EQ(Curl({base + "/echo?word=again"}).body, "again|");

    ServerOptions same = options;
    same.port = server.Port();
    try {
        Server second(same, Routes());
        ADD_FAILURE() << "a second server listened on a taken port";
    } catch (const ListenError& taken) {
        EXPECT_NE(std::string(taken.what()).find("taken"), std::string::npos) << taken.what();
    }

    auto slow = std::async(std::launch::async, [&] { return Curl({base + "/slow"}); });
    std::this_thread::sleep_for(200ms);
    const auto started = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 200ms);
    const test::CurlAnswer finished = slow.get();
    EXPECT_EQ(finished.status, 202);
    EXPECT_EQ(finished.body, "finished");
    EXPECT_EQ(Curl({"--max-time", "3", base + "/echo"}).status, 0);
    server.Stop();  // again: nothing happens
}

// With a certificate and key the server speaks HTTPS only; a certificate that does not load
// is refused before anything listens.
TEST(HttpServer, ServesHttpsWithTheConfiguredCertificate) {
    char folder[] = "/tmp/kestrix-tls-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    ServerOptions options;
    ASSERT_TRUE(test::MakeCertificate(folder, options.tlsCertificate, options.tlsKey));
    {
        Server server(options, Routes());
        EXPECT_TRUE(server.Secure());
        const std::string base = "https://localhost:" + std::to_string(server.Port());
        const test::CurlAnswer answer = Curl({"--cacert", options.tlsCertificate, base + "/echo?word=tls"});
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "tls|");
        EXPECT_EQ(Curl({"http://127.0.0.1:" + std::to_string(server.Port()) + "/echo"}).status, 0);
    }
    ServerOptions broken = options;
    broken.tlsKey = options.tlsCertificate;
    EXPECT_THROW(Server(broken, Routes()), ListenError);
    broken.tlsKey.clear();
    EXPECT_THROW(Server(broken, Routes()), ListenError);
    std::filesystem::remove_all(folder);

    std::string host;
    int port = -1;
    ParseListenAddress("[::1]:0", host, port);
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 0);
    EXPECT_THROW(ParseListenAddress("127.0.0.1:99999", host, port), std::invalid_argument);
    EXPECT_THROW(ParseListenAddress("localhost", host, port), std::invalid_argument);
}

}  // namespace
}  // namespace kestrix::http
