#include "platform/mail/mail.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/base/error.h"
#include "tests/peers/smtp_server.h"
#include "tests/support/backends.h"

namespace kestrix::mail {
namespace {

std::string WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

Message Sample(const test::TempDir& dir) {
    Message m;
    m.from = "Sender <sender@acme.test>";
    m.to = "ann@buyer.test; Bob <bob@buyer.test>";
    m.subject = "Bestellung 42 – Grüße";
    m.textBody = "Hello,\r\nthe document is ready.\r\n";
    m.attachments.push_back({WriteFile(dir.path() / "doc 42.html", "<p>Grüße</p>"), "utf-8"});
    m.attachments.push_back({WriteFile(dir.path() / "42.xml", "<ORDER id=\"42\"/>"), "utf-8"});
    return m;
}

TEST(MailAddresses, ListsAreSplitAndCheckedLiterally) {
    EXPECT_EQ(Addresses("a@x.test, B <b@y.test>;c@z.test ; "),
              (std::vector<std::string>{"a@x.test", "b@y.test", "c@z.test"}));
    EXPECT_THROW(Addresses("not an address"), Error);
    // Header injection through an address is refused.
    EXPECT_THROW(Addresses("a@x.test\r\nBcc: evil@x.test"), Error);
}

TEST(MailCompose, MessagesCarryUtf8TextAndNamedAttachments) {
    test::TempDir dir;
    std::string text = Compose(Sample(dir));
    EXPECT_NE(text.find("multipart/mixed"), std::string::npos);
    EXPECT_NE(text.find("sender@acme.test"), std::string::npos);
    EXPECT_NE(text.find("bob@buyer.test"), std::string::npos);
    EXPECT_NE(text.find("=?UTF-8?"), std::string::npos);  // the subject is encoded
    EXPECT_NE(text.find("charset=utf-8"), std::string::npos);
    EXPECT_NE(text.find("42.xml"), std::string::npos);
    EXPECT_NE(text.find("doc 42.html"), std::string::npos);
    Message missing = Sample(dir);
    missing.attachments.push_back({(dir.path() / "gone.xml").string(), ""});
    EXPECT_THROW(Compose(missing), Error);
}

// The value of one header line of a composed message.
std::string Header(const std::string& message, const std::string& name) {
    const std::string text = "\n" + message;
    const size_t at = text.find("\n" + name + ": ");
    if (at == std::string::npos) return {};
    const size_t start = at + name.size() + 3;
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

TEST(MailCompose, EveryMessageHasItsOwnIdentifierAndTheLocalDateWithItsOffset) {
    test::TempDir dir;
    Message m = Sample(dir);
    m.attachments.clear();
    const std::string first = Header(Compose(m), "Message-Id");
    const std::string second = Header(Compose(m), "Message-Id");
    EXPECT_EQ(first.front(), '<');
    EXPECT_NE(first.find("@kestrix.localhost>"), std::string::npos) << first;
    EXPECT_NE(first, second);

    // Composed in a zone two hours east of Greenwich, the date says so.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "EET-2", 1);
    tzset();
    const std::string date = Header(Compose(m), "Date");
    if (zone) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    EXPECT_NE(date.find("+0200"), std::string::npos) << date;
}

TEST(MailCompose, ABodyBeyondAsciiStaysUtf8AsItsCharsetSays) {
    test::TempDir dir;
    Message m = Sample(dir);
    m.attachments.clear();
    m.textBody = "Dokument 7 wurde ver\u00f6ffentlicht.\r\nGr\u00fc\u00dfe\r\n";
    std::string text = Compose(m);
    EXPECT_NE(text.find("charset=utf-8"), std::string::npos);
    // Transported in seven bits, and the bytes encoded are those of UTF-8, not of a
    // narrower character set.
    EXPECT_NE(text.find("ver=C3=B6ffentlicht"), std::string::npos) << text;
    EXPECT_NE(text.find("Gr=C3=BC=C3=9Fe"), std::string::npos) << text;
    EXPECT_EQ(text.find('\xf6'), std::string::npos);
    EXPECT_EQ(text.find("8bit"), std::string::npos);
}

TEST(MailPickup, EachMessageIsOneWholeFile) {
    test::TempDir dir;
    Settings settings;
    settings.pickupFolder = (dir.path() / "pickup").string();
    Message m = Sample(dir);
    m.bcc = "hidden@x.test";
    std::string first = Send(m, settings);
    std::string second = Send(m, settings);
    EXPECT_NE(first, second);
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(settings.pickupFolder)) {
        EXPECT_EQ(e.path().extension(), ".eml");
        ++files;
    }
    EXPECT_EQ(files, 2u);
    std::ifstream in(first);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "X-Envelope-Bcc: hidden@x.test\r");
}

/// Number of file descriptors the process has open.
size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(MailPickup, AWriteThatFailsMidwayLeavesNoFileAndNoDescriptor) {
    test::TempDir dir;
    Settings settings;
    settings.pickupFolder = (dir.path() / "pickup").string();
    Message m = Sample(dir);
    m.textBody = std::string(64 * 1024, 'x');
    const size_t descriptors = OpenDescriptors();
    {
        // Files of this process may grow to 4 KB only: the write stops partway.
        struct FileSizeLimit {
            rlimit saved{};
            void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
            FileSizeLimit() {
                getrlimit(RLIMIT_FSIZE, &saved);
                rlimit small = saved;
                small.rlim_cur = 4096;
                setrlimit(RLIMIT_FSIZE, &small);
            }
            ~FileSizeLimit() {
                setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, handler);
            }
        } limit;
        try {
            Send(m, settings);
            ADD_FAILURE() << "the write did not fail";
        } catch (const Error& e) {
            EXPECT_NE(e.description().find("Cannot write the message"), std::string::npos)
                << e.description();
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(settings.pickupFolder));
    EXPECT_EQ(OpenDescriptors(), descriptors);
    // The folder is usable again at once.
    EXPECT_TRUE(std::filesystem::exists(Send(m, settings)));
}

TEST(MailSmtp, ARealServerReceivesTheMessageForEveryRecipient) {
    test::TempDir dir;
    test::SmtpServer server;
    Settings settings;
    settings.mode = Settings::Mode::Smtp;
    settings.host = "127.0.0.1";
    settings.port = server.port();
    settings.timeoutSeconds = 10;
    Message m = Sample(dir);
    m.bcc = "hidden@x.test";
    EXPECT_EQ(Send(m, settings), "250");
    auto messages = server.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    const std::string& got = messages[0];
    EXPECT_NE(got.find("X-Mail-From: sender@acme.test"), std::string::npos);
    EXPECT_NE(got.find("X-Rcpt-To: ann@buyer.test"), std::string::npos);
    EXPECT_NE(got.find("X-Rcpt-To: bob@buyer.test"), std::string::npos);
    EXPECT_NE(got.find("X-Rcpt-To: hidden@x.test"), std::string::npos);
    // Bcc travels in the envelope only.
    EXPECT_EQ(got.find("Bcc:"), std::string::npos);
    EXPECT_NE(got.find("42.xml"), std::string::npos);
}

Settings SmtpTo(int port) {
    Settings settings;
    settings.mode = Settings::Mode::Smtp;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.timeoutSeconds = 2;
    return settings;
}

TEST(MailSmtp, ARefusalCarriesTheServersAnswer) {
    test::TempDir dir;
    test::SmtpServer refusing(test::SmtpServer::Mode::Refuse);
    try {
        Send(Sample(dir), SmtpTo(refusing.port()));
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("550"), std::string::npos) << e.description();
    }
}

TEST(MailSmtp, AServerThatStallsTimesOut) {
    test::TempDir dir;
    test::SmtpServer stalling(test::SmtpServer::Mode::Stall);
    EXPECT_THROW(Send(Sample(dir), SmtpTo(stalling.port())), Error);
}

TEST(MailSmtp, AServerThatIsDownIsAnError) {
    test::TempDir dir;
    EXPECT_THROW(Send(Sample(dir), SmtpTo(test::ClosedPort())), Error);
}

}  // namespace
}  // namespace kestrix::mail
