#include "platform/net/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/net/url.h"
#include "tests/peers/http_server.h"
#include "tests/peers/smtp_server.h"
#include "tests/peers/transfer_peers.h"
#include "tests/support/net_checks.h"

namespace kestrix::net {
namespace {

using namespace std::chrono_literals;

HttpOptions Quick() {
    HttpOptions o;
    o.timeouts.connect = 3s;
    o.timeouts.transfer = 5s;
    return o;
}

test::HttpResponse Answer(int status, std::string body) {
    test::HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

TEST(PostForm, PostsTheFormOverHttpAndHttpsAndFollowsARedirect) {
    test::HttpServer page;
    page.SetResponse("/receive", Answer(200, "OK, thank you"));
    const std::string body = "xml=" + EscapeQueryValue("<A b=\"1\"/>") + "&DocID=42";

    HttpAnswer plain = PostForm(page.Url("/receive"), body, Quick());
    EXPECT_EQ(plain.status, 200);
    EXPECT_EQ(plain.body, "OK, thank you");
    EXPECT_FALSE(FindReceiverError(plain.body));
    ASSERT_EQ(page.Requests().size(), 1u);
    const test::HttpRequest request = page.Requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(request.Header("Content-Type").value_or(""), "application/x-www-form-urlencoded");

    // Moved: the form is posted again at the new place.
    test::HttpResponse moved = Answer(302, "");
    moved.headers.emplace_back("Location", "/receive");
    page.SetResponse("/old", moved);
    EXPECT_EQ(PostForm(page.Url("/old"), body, Quick()).body, "OK, thank you");
    EXPECT_EQ(page.Requests().back().method, "POST");
    EXPECT_EQ(page.Requests().back().body, body);

    test::TestCertificate certificate;
    test::TlsFront secure(certificate, page.port());
    HttpOptions trusted = Quick();
    trusted.caFile = certificate.certFile().string();
    HttpAnswer overTls = PostForm(secure.Url("/receive"), body, trusted);
    EXPECT_EQ(overTls.status, 200);
    EXPECT_EQ(page.RequestCount("/receive"), 3u);

    // A proxy gets the whole address and answers for the page.
    test::HttpServer proxy;
    proxy.SetHandler(
        "*", [](const test::HttpRequest& r) { return Answer(200, "via proxy " + r.target); });
    HttpOptions proxied = Quick();
    proxied.proxy = "127.0.0.1";
    proxied.proxyPort = proxy.port();
    EXPECT_EQ(PostForm("http://partner.invalid/in", body, proxied).body,
              "via proxy http://partner.invalid/in");
}

TEST(PostForm, AnswersAndFaultsAreToldApart) {
    test::HttpServer page;
    page.SetResponse("/refuse",
                     Answer(200,
                            "<?xml version=\"1.0\"?><R><ERROR_NUMBER>-2147220991</ERROR_NUMBER>"
                            "<ERROR_SOURCE>Partner.Receive</ERROR_SOURCE>"
                            "<ERROR_DESCRIPTION>Unknown buyer</ERROR_DESCRIPTION></R>"));
    page.SetResponse("/fine", Answer(200, "<R><ERROR_NUMBER>0</ERROR_NUMBER></R>"));
    page.SetStatus("/broken", 500);
    page.SetStatus("/gone", 404);
    test::HttpResponse loop = Answer(302, "");
    loop.headers.emplace_back("Location", "/loop");
    page.SetResponse("/loop", loop);
    page.Stall("/stall");

    // The receiver's own error comes in a 200 answer; the transport returns it as it came.
    HttpAnswer refused = PostForm(page.Url("/refuse"), "xml=x", Quick());
    EXPECT_EQ(refused.status, 200);
    auto error = FindReceiverError(refused.body);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number, -2147220991);
    EXPECT_EQ(error->source, "Partner.Receive");
    EXPECT_EQ(error->description, "Unknown buyer");
    EXPECT_FALSE(FindReceiverError(PostForm(page.Url("/fine"), "xml=x", Quick()).body));

    HttpAnswer broken = PostForm(page.Url("/broken"), "xml=x", Quick());
    EXPECT_EQ(broken.status, 500);
    EXPECT_EQ(broken.reason, "Internal Server Error");
    test::ExpectTransportFailure([&] { RequireStatus200(broken, page.Url("/broken")); }, true,
                                 {"Server responded with:500 Internal Server Error", "/broken"},
                                 {});
    const HttpAnswer gone = PostForm(page.Url("/gone"), "x", Quick());
    test::ExpectTransportFailure([&] { RequireStatus200(gone, "/gone"); }, false, {"404"}, {});
    // A site that counts its partner's 404 as passing.
    test::ExpectTransportFailure(
        [&] { RequireStatus200(gone, "/gone", [](int status) { return status == 404; }); }, true,
        {"404"}, {});

    test::ExpectTransportFailure([&] { PostForm(page.Url("/loop"), "xml=x", Quick()); }, false,
                                 {"redirect", "page /loop"}, {});
    HttpOptions impatient = Quick();
    impatient.timeouts.transfer = 700ms;
    test::ExpectTransportFailure([&] { PostForm(page.Url("/stall"), "xml=x", impatient); }, true,
                                 {"in time", "127.0.0.1:" + std::to_string(page.port())}, {});
    const std::string secret = "Secr3t-http-pw";
    test::ExpectTransportFailure(
        [&] {
            PostForm("http://buyer:" + secret + "@127.0.0.1:" + std::to_string(test::ClosedPort()) +
                         "/in",
                     "x", Quick());
        },
        true, {"connect", "buyer:***@"}, secret);
    for (const std::string& bad :
         std::vector<std::string>{"127.0.0.1/in", "http:///in", "ftp://127.0.0.1/in",
                                  "http://buyer:" + secret + "@/in"}) {
        const auto e = test::ExpectTransportFailure([&] { PostForm(bad, "x", Quick()); }, false,
                                                    {"address"}, secret);
        EXPECT_EQ(e.number(), neterr::InvalidAddress);
    }

    test::TestCertificate certificate;
    test::TestCertificate stranger;
    test::TlsFront secure(certificate, page.port());
    test::ExpectTransportFailure([&] { PostForm(secure.Url("/fine"), "x", Quick()); }, false,
                                 {"certificate"}, {});
    HttpOptions wrongCa = Quick();
    wrongCa.caFile = stranger.certFile().string();
    test::ExpectTransportFailure([&] { PostForm(secure.Url("/fine"), "x", wrongCa); }, false,
                                 {"certificate"}, {});
    EXPECT_EQ(page.RequestCount("/fine"), 1u);
}

}  // namespace
}  // namespace kestrix::net
