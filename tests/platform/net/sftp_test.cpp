#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/net/ftp.h"
#include "tests/peers/transfer_peers.h"
#include "tests/support/backends.h"
#include "tests/support/net_checks.h"

namespace kestrix::net {
namespace {

using namespace std::chrono_literals;
using test::SftpServer;
using Files = std::vector<std::string>;

FtpOptions Login(const SftpServer& server, const std::string& password = SftpServer::kPassword) {
    FtpOptions o;
    o.user = SftpServer::kUser;
    o.password = password;
    o.knownHostsFile = server.knownHosts().string();
    o.timeouts.connect = 5s;
    o.timeouts.transfer = 10s;
    return o;
}

TEST(SftpPut, DeliversWithPasswordOrKeyOnceTheHostKeyIsKnown) {
    SftpServer server;
    std::filesystem::create_directories(server.root() / "in");
    const std::string text = "<ORDER>\r\n</ORDER>\r\n";
    FtpPut(server.Url("/in"), "order_42.xml", text, Login(server));
    EXPECT_EQ(test::ReadAll(server.root() / "in/order_42.xml"), text);

    FtpOptions key = Login(server, "");
    key.privateKeyFile = server.clientKey().string();
    key.publicKeyFile = server.clientPublicKey().string();
    FtpPut(server.Url("/"), "home.xml", "<H/>", key);
    EXPECT_EQ(test::ReadAll(server.root() / "home.xml"), "<H/>");
    EXPECT_EQ(test::FilesUnder(server.root()), (Files{"home.xml", "in/order_42.xml"}));
}

TEST(SftpPut, RefusesAnUnknownOrChangedHostKeyAndABadLoginLeavingNothing) {
    SftpServer server;
    const std::string where = "127.0.0.1:" + std::to_string(server.port());

    FtpOptions changed = Login(server);
    changed.knownHostsFile = server.otherKnownHosts().string();
    test::ExpectTransportFailure([&] { FtpPut(server.Url("/"), "a.xml", "<A/>", changed); }, false,
                                 {"host key differs", where}, SftpServer::kPassword);
    test::TempDir empty;
    test::WriteAll(empty.path() / "known_hosts", "");
    FtpOptions unknown = Login(server);
    unknown.knownHostsFile = (empty.path() / "known_hosts").string();
    test::ExpectTransportFailure([&] { FtpPut(server.Url("/"), "a.xml", "<A/>", unknown); }, false,
                                 {"host key is not in"}, SftpServer::kPassword);
    FtpOptions none = Login(server);
    none.knownHostsFile.clear();
    EXPECT_EQ(test::ExpectTransportFailure([&] { FtpPut(server.Url("/"), "a.xml", "<A/>", none); },
                                           false, {"known-hosts"}, SftpServer::kPassword)
                  .number(),
              neterr::InvalidSetting);

    const std::string wrong = "Wr0ng-password";
    test::ExpectTransportFailure(
        [&] { FtpPut(server.Url("/"), "a.xml", "<A/>", Login(server, wrong)); }, false,
        {"log in", where}, wrong);
    test::ExpectTransportFailure(
        [&] { FtpPut(server.Url("/no/such"), "a.xml", "<A/>", Login(server)); }, false,
        {"/no/such", where}, SftpServer::kPassword);
    EXPECT_EQ(test::FilesUnder(server.root()), Files{});

    // A refused rename: the part file is taken away again, from the login folder too.
    SftpServer noRename(true);
    std::filesystem::create_directories(noRename.root() / "in");
    for (const char* folder : {"/", "/in"}) {
        test::ExpectTransportFailure(
            [&] { FtpPut(noRename.Url(folder), "a.xml", "<A/>", Login(noRename)); }, false,
            {"rename '.a.xml.part' to 'a.xml'"}, SftpServer::kPassword);
    }
    EXPECT_EQ(test::FilesUnder(noRename.root()), Files{});
}

}  // namespace
}  // namespace kestrix::net
