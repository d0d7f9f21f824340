#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/peers/http_server.h"

namespace {

/// Sends raw bytes to the server and returns everything it answers.
std::string Exchange(int port, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return {};
    }
    ::send(fd, request.data(), request.size(), 0);
    std::string answer;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) answer.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return answer;
}

}  // namespace

// The peer other rooms use for HTTP deliveries: it must record what clients post.
TEST(HttpPeer, RecordsPostedBodiesAndAnswersAsConfigured) {
    kestrix::test::HttpServer server;
    server.SetHandler("/echo", [](const kestrix::test::HttpRequest& r) {
        kestrix::test::HttpResponse resp;
        resp.status = 201;
        resp.body = "got " + r.body;
        return resp;
    });
    std::string plain = Exchange(server.port(),
                                 "POST /in?id=7 HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                 "text/xml\r\nContent-Length: 8\r\n\r\n<a>1</a>");
    EXPECT_TRUE(plain.starts_with("HTTP/1.1 200")) << plain;
    std::string chunked =
        Exchange(server.port(),
                 "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                 "3\r\n<b>\r\n5\r\n2</b>\r\n0\r\n\r\n");
    EXPECT_NE(chunked.find("HTTP/1.1 201"), std::string::npos) << chunked;
    EXPECT_NE(chunked.find("got <b>2</b>"), std::string::npos) << chunked;
    std::string missing = Exchange(server.port(), "GET /nothing.xml HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(missing.starts_with("HTTP/1.1 404")) << missing;

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/in?id=7");
    EXPECT_EQ(requests[0].path, "/in");
    EXPECT_EQ(requests[0].body, "<a>1</a>");
    EXPECT_EQ(requests[0].Header("content-type").value_or(""), "text/xml");
    EXPECT_EQ(requests[1].body, "<b>2</b>");
    EXPECT_EQ(server.RequestCount("/echo"), 1u);
}

TEST(HttpPeer, StopReleasesAStalledRequest) {
    auto server = std::make_unique<kestrix::test::HttpServer>();
    server->Stall("/slow");
    int port = server->port();
    std::string answer;
    std::thread client([&] { answer = Exchange(port, "GET /slow HTTP/1.1\r\nHost: x\r\n\r\n"); });
    while (server->RequestCount("/slow") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server.reset();  // must not hang on the stalled connection
    client.join();
    EXPECT_EQ(answer, "");
}
