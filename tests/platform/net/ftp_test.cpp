#include "platform/net/ftp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/peers/smtp_server.h"
#include "tests/peers/transfer_peers.h"
#include "tests/support/backends.h"
#include "tests/support/net_checks.h"

namespace kestrix::net {
namespace {

using namespace std::chrono_literals;
using test::FtpServer;
using Files = std::vector<std::string>;

FtpOptions Login(const std::string& password = FtpServer::kPassword) {
    FtpOptions o;
    o.user = FtpServer::kUser;
    o.password = password;
    o.timeouts.connect = 5s;
    o.timeouts.transfer = 10s;
    return o;
}

TEST(FtpPut, DeliversByTypeAndModeUnderATemporaryNameIntoTheFolderGiven) {
    FtpServer server;
    std::filesystem::create_directories(server.root() / "in" / "orders");
    const std::string text = "<ORDER>\r\n<LINE/>\r\n</ORDER>\r\n";

    FtpOptions binary = Login();
    FtpPut(server.Url("ftp", "/in/orders"), "order_42.xml", text, binary);
    EXPECT_EQ(test::ReadAll(server.root() / "in/orders/order_42.xml"), text);

    FtpOptions ascii = Login();
    ascii.transferType = FtpTransferType::Ascii;
    FtpPut(server.Url("ftp", "/in/orders/"), "order_43.xml", text, ascii);
    EXPECT_EQ(server.Stored(), (Files{"i passive in/orders/.order_42.xml.part",
                                      "a passive in/orders/.order_43.xml.part"}));

    // Active mode into the login folder, the credentials from the address, a local file.
    test::TempDir local;
    test::WriteAll(local.path() / "book.xls", std::string("\x00\x01\xff\r\n", 5));
    FtpOptions active;
    active.activeMode = true;
    active.activeAddress = "127.0.0.1";
    active.timeouts = binary.timeouts;
    std::string withUser = "ftp://" + std::string(FtpServer::kUser) + ":" + FtpServer::kPassword +
                           "@127.0.0.1:" + std::to_string(server.port()) + "/";
    FtpPutFile(withUser, "book.xls", local.path() / "book.xls", active);
    EXPECT_EQ(test::ReadAll(server.root() / "book.xls"), std::string("\x00\x01\xff\r\n", 5));
    EXPECT_EQ(server.Stored().back(), "i active .book.xls.part");

    EXPECT_EQ(test::FilesUnder(server.root()),
              (Files{"book.xls", "in/orders/order_42.xml", "in/orders/order_43.xml"}));
}

TEST(FtpPut, SpeaksTlsExplicitlyOrImplicitlyAndRefusesACertificateThatDoesNotVerify) {
    test::TestCertificate certificate;
    test::TestCertificate stranger;
    FtpServer explicitTls({FtpServer::Tls::Explicit, &certificate});
    FtpServer implicitTls({FtpServer::Tls::Implicit, &certificate});

    FtpOptions tls = Login();
    tls.explicitTls = true;
    tls.caFile = certificate.certFile().string();
    FtpPut(explicitTls.Url("ftp"), "a.xml", "<A/>", tls);
    EXPECT_EQ(test::ReadAll(explicitTls.root() / "a.xml"), "<A/>");
    FtpOptions implicit = Login();
    implicit.caFile = certificate.certFile().string();
    FtpPut(implicitTls.Url("ftps"), "b.xml", "<B/>", implicit);
    EXPECT_EQ(test::ReadAll(implicitTls.root() / "b.xml"), "<B/>");

    FtpOptions distrust = tls;
    distrust.caFile = stranger.certFile().string();
    test::ExpectTransportFailure(
        [&] { FtpPut(explicitTls.Url("ftp"), "c.xml", "<C/>", distrust); }, false,
        {"certificate", "127.0.0.1:" + std::to_string(explicitTls.port())}, FtpServer::kPassword);
    distrust.explicitTls = false;
    test::ExpectTransportFailure(
        [&] { FtpPut(implicitTls.Url("ftps"), "c.xml", "<C/>", distrust); }, false, {"certificate"},
        FtpServer::kPassword);
    // A server that insists on TLS does not get the password in plain text.
    test::ExpectTransportFailure([&] { FtpPut(explicitTls.Url("ftp"), "c.xml", "<C/>", Login()); },
                                 false, {"log in"}, FtpServer::kPassword);
    EXPECT_EQ(test::FilesUnder(explicitTls.root()), Files{"a.xml"});
    EXPECT_EQ(test::FilesUnder(implicitTls.root()), Files{"b.xml"});
}

TEST(FtpPut, FaultsNameWhatFailedLeaveNothingBehindAndTellTransientFromPermanent) {
    FtpServer server;
    FtpServer noRename({.refuseRename = true});
    const std::string where = "127.0.0.1:" + std::to_string(server.port());

    test::ExpectTransportFailure(
        [&] {
            FtpPut("ftp://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/in", "a.xml", "<A/>",
                   Login());
        },
        true, {"connect", "/in", "a.xml"}, FtpServer::kPassword);
    const std::string wrong = "Wr0ng-password";
    test::ExpectTransportFailure(
        [&] { FtpPut(server.Url("ftp", "/"), "a.xml", "<A/>", Login(wrong)); }, false,
        {"log in as 'deliver'", where}, wrong);
    std::string inAddress = "ftp://deliver:" + wrong + "@" + where + "/";
    test::ExpectTransportFailure([&] { FtpPut(inAddress, "a.xml", "<A/>", FtpOptions{}); }, false,
                                 {"log in"}, wrong);
    test::ExpectTransportFailure(
        [&] { FtpPut(server.Url("ftp", "/no/such"), "a.xml", "<A/>", Login()); }, false,
        {"change to the folder '/no/such'", where}, FtpServer::kPassword);
    for (const std::string& bad :
         std::vector<std::string>{where + "/in", "ftp:///in", "http://" + where + "/in",
                                  "ftp://" + where + "/in\r\nDELE x"}) {
        const auto e = test::ExpectTransportFailure([&] { FtpPut(bad, "a.xml", "<A/>", Login()); },
                                                    false, {"address"}, FtpServer::kPassword);
        EXPECT_EQ(e.number(), neterr::InvalidAddress);
    }
    test::ExpectTransportFailure([&] { FtpPut(noRename.Url("ftp"), "a.xml", "<A/>", Login()); },
                                 false, {"rename '.a.xml.part' to 'a.xml'"}, FtpServer::kPassword);
    EXPECT_EQ(test::FilesUnder(server.root()), Files{});
    EXPECT_EQ(test::FilesUnder(noRename.root()), Files{});

    // Without the temporary name the same server takes the file.
    FtpOptions direct = Login();
    direct.uploadUnderTemporaryName = false;
    FtpPut(noRename.Url("ftp"), "a.xml", "<A/>", direct);
    EXPECT_EQ(test::FilesUnder(noRename.root()), Files{"a.xml"});
}

TEST(FtpPut, ATimeOutInTheMiddleOfTheTransferLeavesNoFile) {
    FtpServer slow({.throttle = 4096});
    FtpOptions o = Login();
    o.timeouts.transfer = 1500ms;
    const auto started = std::chrono::steady_clock::now();
    test::ExpectTransportFailure(
        [&] { FtpPut(slow.Url("ftp"), "big.xml", std::string(256 * 1024, 'x'), o); }, true,
        {"in time", "big.xml"}, FtpServer::kPassword);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    // The server may still be busy with the bytes it received; the part file goes nonetheless.
    for (int i = 0; i < 50 && !test::FilesUnder(slow.root()).empty(); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(test::FilesUnder(slow.root()), Files{});
}

}  // namespace
}  // namespace kestrix::net
