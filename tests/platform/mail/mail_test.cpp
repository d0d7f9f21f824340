#include "platform/mail/mail.h"
#include "platform/mail/mailbox.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <utility>

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

// What Python's e-mail package reads in a composed message (tests/peers/mail_reader.py):
// one "name: value" line per field, the value as a JSON string.
std::string ReadBack(const test::TempDir& dir, const std::string& text) {
    const std::filesystem::path file = dir.path() / "read.eml";
    WriteFile(file, text);
    const std::string command =
        "/usr/bin/python3 '" KESTRIX_TEST_PEERS_DIR "/mail_reader.py' '" + file.string() + "' 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << out;
    return out;
}

bool HasLine(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

// The longest line of the text, and the longest line of its header.
std::pair<size_t, size_t> LongestLines(const std::string& text) {
    size_t longest = 0, longestHeader = 0, start = 0;
    bool header = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        longest = std::max(longest, end - start);
        if (end == start) header = false;
        if (header) longestHeader = std::max(longestHeader, end - start);
        start = end + 1;
    }
    return {longest, longestHeader};
}

TEST(MailCompose, AnIndependentReaderSeesEveryFieldPartAndByteAsComposed) {
    test::TempDir dir;
    std::string binary;
    for (int i = 0; i < 600; ++i) binary += static_cast<char>(i * 7 % 256);
    Message m;
    m.from = "J\u00fcrgen Gro\u00df <juergen@acme.test>";
    m.to = "ann@buyer.test; Zo\u00eb M\u00fcller <zoe@buyer.test>";
    m.cc = "lager@buyer.test";
    // Long enough for several encoded words, with a character where one word would end.
    m.subject = "Bestellung 42 \u2013 \u00c4\u00d6\u00dc\u00e4\u00f6\u00fc\u00c4\u00d6\u00dc\u00e4\u00f6\u00fc\u00c4\u00d6"
                "\u00dc\u00e4\u00f6\u00fc\u00c4\u00d6\u00dc\u00e4\u00f6\u00fc Gr\u00fc\u00dfe aus M\u00fcnchen, l\u00e4nger als eine Zeile";
    // A line far longer than a mail line may be, lines beginning with "From " and ".", a
    // blank at a line's end and text beyond ASCII.
    const std::string longLine(1500, 'x');
    m.textBody = "Guten Tag,\r\n" + longLine + "\r\nFrom the desk of the buyer\r\n.\r\nSumme=42, Blank \r\nGr\u00fc\u00dfe\r\n";
    m.attachments.push_back({WriteFile(dir.path() / "\u00dcbersicht Nr. 42.bin", binary), "utf-8"});
    m.attachments.push_back({WriteFile(dir.path() / "42.xml", "<ORDER id=\"42\"/>"), ""});
    const std::string text = Compose(m);
    const std::string out = ReadBack(dir, text);
    EXPECT_TRUE(HasLine(out, "subject: \"" + m.subject + "\"")) << out;
    // Addresses travel without their display names, as they always did.
    EXPECT_TRUE(HasLine(out, "from: \"juergen@acme.test\"")) << out;
    EXPECT_TRUE(HasLine(out, "to: \"ann@buyer.test, zoe@buyer.test\"")) << out;
    EXPECT_TRUE(HasLine(out, "cc: \"lager@buyer.test\"")) << out;
    EXPECT_TRUE(HasLine(out, "bcc: null")) << out;
    EXPECT_TRUE(HasLine(out, "part: \"text/plain\"\ncharset: \"utf-8\"\nfilename: null\ntext: \"Guten Tag,\\n" +
                                 longLine + "\\nFrom the desk of the buyer\\n.\\nSumme=42, Blank \\nGr\u00fc\u00dfe\\n\""))
        << out;
    std::string hex;
    for (unsigned char c : binary) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    EXPECT_TRUE(HasLine(out, "part: \"application/octet-stream\"\ncharset: \"utf-8\"\nfilename: \"\u00dcbersicht Nr. "
                             "42.bin\"\nbytes: \"" + hex + "\""))
        << out;
    EXPECT_TRUE(HasLine(out, "part: \"application/octet-stream\"\ncharset: null\nfilename: \"42.xml\"\nbytes: \"" +
                             std::string("3c4f524445522069643d223432222f3e") + "\""))
        << out;
    EXPECT_TRUE(HasLine(out, "defects: []")) << out;
    EXPECT_TRUE(HasLine(out, "split words: []")) << out;
    // The mailbox import of a partner site reads the same sender and files.
    const ReceivedMessage received = ParseMessage(text);
    EXPECT_EQ(received.sender, "juergen@acme.test");
    ASSERT_EQ(received.attachments.size(), 2u);
    EXPECT_EQ(received.attachments[0].name, "\u00dcbersicht Nr. 42.bin");
    EXPECT_EQ(received.attachments[0].data, binary);
    EXPECT_EQ(received.attachments[1].name, "42.xml");
    EXPECT_EQ(received.attachments[1].data, "<ORDER id=\"42\"/>");
    // Every line fits a mail line, and every header line the usual width.
    EXPECT_LE(LongestLines(text).first, 998u);
    EXPECT_LE(LongestLines(text).second, 78u) << text;

    // A text in ASCII goes as it is, a line that looks like a boundary included, and ends
    // with a line break; one with a line beginning with "From " goes quoted-printable. A
    // subject cannot smuggle in a header of its own.
    Message plain;
    plain.from = "sender@acme.test";
    plain.to = "ann@buyer.test";
    plain.subject = "Order 42\r\nBcc: evil@x.test";
    plain.textBody = "Order 42 is ready.\r\n--=-\r\n.\r\n";
    EXPECT_EQ(Compose(plain).find("Content-Transfer-Encoding"), std::string::npos) << Compose(plain);
    plain.textBody += "From here on";
    const std::string plainText = Compose(plain);
    EXPECT_NE(plainText.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos) << plainText;
    EXPECT_EQ(plainText.find("\nBcc:"), std::string::npos) << plainText;
    const std::string plainOut = ReadBack(dir, plainText);
    EXPECT_TRUE(HasLine(plainOut, "bcc: null")) << plainOut;
    EXPECT_TRUE(HasLine(plainOut, "subject: \"Order 42\\r\\nBcc: evil@x.test\"")) << plainOut;
    EXPECT_TRUE(HasLine(plainOut, "text: \"Order 42 is ready.\\n--=-\\n.\\nFrom here on\\n\"")) << plainOut;
    EXPECT_TRUE(HasLine(plainOut, "defects: []")) << plainOut;

    // A text mostly beyond ASCII goes in base64 with its line breaks as they are.
    Message cyrillic = plain;
    cyrillic.subject = "\u0417\u0430\u043a\u0430\u0437 42";
    cyrillic.textBody = "\u0417\u0430\u043a\u0430\u0437 42 \u0433\u043e\u0442\u043e\u0432.\r\n";
    const std::string cyrillicText = Compose(cyrillic);
    EXPECT_NE(cyrillicText.find("Content-Transfer-Encoding: base64"), std::string::npos) << cyrillicText;
    const std::string cyrillicOut = ReadBack(dir, cyrillicText);
    EXPECT_TRUE(HasLine(cyrillicOut, "subject: \"\u0417\u0430\u043a\u0430\u0437 42\"")) << cyrillicOut;
    EXPECT_TRUE(HasLine(cyrillicOut, "text: \"\u0417\u0430\u043a\u0430\u0437 42 \u0433\u043e\u0442\u043e\u0432.\\r\\n\""))
        << cyrillicOut;
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
