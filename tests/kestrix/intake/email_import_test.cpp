#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kestrix/intake/email_import.h"
#include "platform/services/configuration.h"
#include "tests/peers/mail_store.h"
#include "tests/peers/smtp_server.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

std::string Base64(const std::string& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int s : {18, 12, 6, 0}) out += kAlphabet[(n >> s) & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        out += std::string{kAlphabet[(n >> 18) & 63], kAlphabet[(n >> 12) & 63]} + "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += std::string{kAlphabet[(n >> 18) & 63], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63]} + "=";
    }
    return out;
}

struct Part {
    std::string disposition;  ///< the Content-Disposition line's value
    std::string body;
};

/// A message with a text body and the parts given, each base64-encoded.
std::string Mail(const std::string& from, const std::vector<Part>& parts) {
    std::string m = "From: Sender <" + from + ">\r\nTo: import@localhost\r\nSubject: documents\r\n"
                    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"kx-b\"\r\n\r\n"
                    "--kx-b\r\nContent-Type: text/plain\r\n\r\nPlease find attached.\r\n";
    for (const Part& p : parts)
        m += "--kx-b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: " + p.disposition +
             "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(p.body) + "\r\n";
    return m + "--kx-b--\r\n";
}

Part File(const std::string& name, const std::string& body) { return {"attachment; filename=\"" + name + "\"", body}; }

/// The files of a folder by name, with their content.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(folder)) return files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file()) files[e.path().filename().string()] = test::ReadAll(e.path());
    return files;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

void Deliver(const fs::path& maildir, const std::string& name, const std::string& message) {
    test::WriteAll(maildir / "new" / name, message);
}

void UseRemote(const test::TestSite& site, const std::string& protocol, int port, const std::string& password) {
    const std::string file = (site.root() / "config" / "SiteConfiguration.xml").string();
    services::Configuration::SetValue(file, "MAILIMPORT", "Protocol", protocol);
    services::Configuration::SetValue(file, "MAILIMPORT", "Server", "127.0.0.1");
    services::Configuration::SetValue(file, "MAILIMPORT", "Port", std::to_string(port));
    services::Configuration::SetValue(file, "MAILIMPORT", "Login", test::MailStoreServer::kUser);
    services::Configuration::SetValue(file, "MAILIMPORT", "Password", password);
    services::Configuration::SetValue(file, "MAILIMPORT", "Timeout", "5");
}

class EMailImportRun : public ::testing::TestWithParam<std::string> {};

TEST_P(EMailImportRun, TheLocalMaildirGivesUpItsDocumentsAndKeepsWhatIsNotDone) {
    test::TestSite site(GetParam());
    // The parameters of a fresh site name this mail folder; the import folder is taken
    // without a final separator to show that the name is joined, not appended.
    const fs::path maildir = site.root() / "mail" / "import@localhost";
    const fs::path in = site.root() / "import" / "in";
    site.SetParameter("XMLPath1", "import/in");
    std::vector<Part> ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back(File("line" + std::to_string(i) + std::vector<std::string>{".xml", ".xls", ".xlsx", ".xlsm", ".XLSM"}[i % 5],
                           "content " + std::to_string(i)));
    Deliver(maildir, "1000.A.host", Mail("ann@acme.test", {File("order.XML", "<ORDER/>"), File("scan.pdf", "%PDF"), File("a.xl", "x")}));
    Deliver(maildir, "1001.B.host:2,S", Mail("bob@acme.test", {File("scan.pdf", "%PDF-only")}));
    Deliver(maildir, "1002.C.host", "From: carl@acme.test\r\nSubject: hello\r\n\r\nNo attachment here.\r\n");
    Deliver(maildir, "1003.D.host", Mail("dora@acme.test", ten));
    Deliver(maildir, "1004.E.host",
            Mail("eve@acme.test", {File("../../escape.xml", "<UP/>"),
                                   {"attachment; filename*=utf-8''%C3%9Cbersicht.xml", "<U/>"}}));
    // Not a message at all, and a multipart whose closing boundary is missing.
    Deliver(maildir, "1005.F.host", std::string("\x00\x01\x02\xff\xfe binary", 13));
    Deliver(maildir, "1006.G.host",
            "From: gus@acme.test\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"cut\"\r\n\r\n"
            "--cut\r\nContent-Disposition: attachment; filename=\"cut.xml\"\r\n\r\n<CUT/>\r\n");
    // A message still being delivered is not looked at.
    test::WriteAll(maildir / "tmp" / "1007.H.host", Mail("hal@acme.test", {File("early.xml", "<E/>")}));

    EMailImport job;
    job.Run();
    const EMailImport::Tally& tally = job.LastRun();

    std::map<std::string, std::string> expected{
        {"order.XML", "<ORDER/>"}, {"escape.xml", "<UP/>"}, {"\xC3\x9C" "bersicht.xml", "<U/>"}, {"cut.xml", "<CUT/>\r\n"}};
    for (int i = 0; i < 10; ++i)
        expected["line" + std::to_string(i) + std::vector<std::string>{".xml", ".xls", ".xlsx", ".xlsm", ".XLSM"}[i % 5]] =
            "content " + std::to_string(i);
    EXPECT_EQ(FilesIn(in), expected);
    EXPECT_FALSE(fs::exists(site.root() / "escape.xml"));
    EXPECT_FALSE(fs::exists(site.root() / "import" / "escape.xml"));

    // Gone: the messages whose documents are all saved. Kept: the PDF, the plain text, the
    // unreadable one, the one in delivery.
    std::set<std::string> left;
    for (const char* sub : {"new", "cur", "tmp"})
        for (const auto& e : fs::directory_iterator(maildir / sub)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"1001.B.host:2,S", "1002.C.host", "1005.F.host", "1007.H.host"}));

    EXPECT_TRUE(tally.mailboxRead);
    EXPECT_EQ(tally.messagesSeen, 7);
    EXPECT_EQ(tally.attachmentsSaved, 14);
    EXPECT_EQ(tally.messagesDeleted, 4);
    EXPECT_EQ(tally.failures, 1);
    ASSERT_EQ(tally.saved.size(), 14u);
    EXPECT_EQ(tally.saved.front().sender, "ann@acme.test");
    EXPECT_EQ(tally.saved.front().message, "maildir:1000.A.host");
    EXPECT_EQ(tally.saved.front().path, (in / "order.XML").string());
    EXPECT_EQ(Occurrences(site.LogText(), "The messages of the import mailbox could not be processed."), 1u);
    // The records of deleted messages are forgotten with them; the kept ones are set aside.
    EXPECT_EQ(site.Count("MAILIMPORTSAVED", "ATTACHMENTINDEX <> -1"), 0);
    EXPECT_EQ(site.Count("MAILIMPORTSAVED", "ATTACHMENTINDEX = -1"), 3);

    // A second run finds nothing new, saves nothing twice and does not log the unreadable
    // message again; a kept message that someone removed is forgotten.
    fs::remove(maildir / "new" / "1002.C.host");
    EMailImport again;
    again.Run();
    EXPECT_EQ(again.LastRun().messagesSeen, 2);
    EXPECT_EQ(again.LastRun().attachmentsSaved, 0);
    EXPECT_EQ(again.LastRun().messagesDeleted, 0);
    EXPECT_EQ(again.LastRun().failures, 0);
    EXPECT_EQ(FilesIn(in).size(), expected.size());
    EXPECT_EQ(Occurrences(site.LogText(), "The messages of the import mailbox could not be processed."), 1u);
    EXPECT_EQ(site.Count("MAILIMPORTSAVED"), 2);
}

TEST_P(EMailImportRun, ASaveThatFailsKeepsTheMessageAndTheNextRunSavesOnlyTheRest) {
    test::TestSite site(GetParam());
    const fs::path maildir = site.root() / "mail" / "import@localhost";
    const fs::path in = site.root() / "import" / "in";
    Deliver(maildir, "2000.A.host", Mail("ann@acme.test", {File("first.xml", "<FIRST/>"), File("second.xml", "<SECOND/>")}));
    // The part file of the second attachment cannot be made: a folder holds its name.
    fs::create_directories(in / ".second.xml.part");

    EMailImport job;
    job.Run();
    EXPECT_EQ(job.LastRun().attachmentsSaved, 1);
    EXPECT_EQ(job.LastRun().failures, 1);
    EXPECT_EQ(job.LastRun().messagesDeleted, 0);
    EXPECT_TRUE(fs::exists(maildir / "new" / "2000.A.host"));
    EXPECT_EQ(FilesIn(in), (std::map<std::string, std::string>{{"first.xml", "<FIRST/>"}}));
    EXPECT_EQ(site.Count("MAILIMPORTSAVED", "MESSAGEID = 'maildir:2000.A.host' AND ATTACHMENTINDEX = 0"), 1);
    const std::string log = site.LogText();
    EXPECT_EQ(Occurrences(log, "The attachment second.xml of the message from ann@acme.test could not be saved."), 1u);
    EXPECT_EQ(Occurrences(log, "Target folder: " + in.string()), 1u);

    // While another run (here: of a service on another machine) reads the mailbox, this one
    // leaves it alone; once that run's claim is past its lease, this one takes the mailbox.
    site.Exec("INSERT INTO IMPORTCLAIM (FILEPATH, FOLDER, TOKEN, OWNER, CLAIMDATE, TOUCHED) VALUES "
              "('mailbox:import@localhost', 'mailbox', 't', 'elsewhere.example:7:7', '2026-01-01 00:00:00', " +
              std::to_string(std::time(nullptr)) + ")");
    fs::remove(in / ".second.xml.part");
    job.Run();
    EXPECT_TRUE(job.LastRun().heldElsewhere);
    EXPECT_EQ(job.LastRun().attachmentsSaved, 0);
    site.Exec("UPDATE IMPORTCLAIM SET TOUCHED = 0");
    job.Run();
    EXPECT_FALSE(job.LastRun().heldElsewhere);
    EXPECT_EQ(job.LastRun().attachmentsSaved, 1);
    EXPECT_EQ(job.LastRun().failures, 0);
    EXPECT_EQ(job.LastRun().messagesDeleted, 1);
    EXPECT_EQ(FilesIn(in), (std::map<std::string, std::string>{{"first.xml", "<FIRST/>"}, {"second.xml", "<SECOND/>"}}));
    EXPECT_FALSE(fs::exists(maildir / "new" / "2000.A.host"));
    EXPECT_EQ(site.Count("MAILIMPORTSAVED"), 0);
    EXPECT_EQ(site.Count("IMPORTCLAIM"), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, EMailImportRun, ::testing::ValuesIn(test::Backends()));

TEST(EMailImport, AFolderOfEmlFilesAndANameTakenTwice) {
    test::TestSite site("sqlite");
    site.SetParameter("EmailImportSMTPUserID", "drop");
    site.SetParameter("EmailImportLocalSMTPServer", "acme.test");
    const fs::path folder = site.root() / "mail" / "drop@acme.test";
    const fs::path in = site.root() / "import" / "in";
    test::WriteAll(folder / "1.eml", Mail("ann@acme.test", {File("invoice.v1.xml", "<ONE/>")}));
    test::WriteAll(folder / "2.EML", Mail("bob@acme.test", {File("invoice.v1.xml", "<TWO/>")}));
    test::WriteAll(folder / ".3.eml", Mail("eve@acme.test", {File("hidden.xml", "<H/>")}));
    test::WriteAll(folder / "notes.txt", Mail("eve@acme.test", {File("notes.xml", "<N/>")}));
    // A file of the folder import already there is never replaced.
    test::WriteAll(in / "invoice.v1.xml", "<ZERO/>");

    // A service that is stopping takes no message.
    EMailImport job;
    const std::atomic<bool> stopping{true};
    job.Run(stopping);
    EXPECT_TRUE(job.LastRun().mailboxRead);
    EXPECT_EQ(job.LastRun().messagesSeen, 0);
    EXPECT_EQ(FilesIn(folder).size(), 4u);

    job.Run();
    EXPECT_EQ(job.LastRun().attachmentsSaved, 2);
    EXPECT_EQ(job.LastRun().messagesDeleted, 2);
    const std::map<std::string, std::string> files = FilesIn(in);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.at("invoice.v1.xml"), "<ZERO/>");
    std::set<std::string> contents;
    for (const auto& [name, content] : files) {
        if (name == "invoice.v1.xml") continue;
        // The name up to its first ".", "_", a unique part, the extension.
        EXPECT_TRUE(name.starts_with("invoice_kx") && name.ends_with(".xml") && name.size() == 22u) << name;
        contents.insert(content);
    }
    EXPECT_EQ(contents, (std::set<std::string>{"<ONE/>", "<TWO/>"}));
    EXPECT_EQ(FilesIn(folder).size(), 2u);  // the hidden file and the text file stay
}

TEST(EMailImport, ConfigurationAndMailboxFailuresAreLoggedAndNeverRaised) {
    test::TestSite site("sqlite");
    const fs::path maildir = site.root() / "mail" / "import@localhost";
    Deliver(maildir, "3000.A.host", Mail("ann@acme.test", {File("order.xml", "<ORDER/>")}));

    // A blank user stops the run before the mailbox is opened, with one entry naming it.
    site.SetParameter("EmailImportSMTPUserID", "  ");
    EMailImport job;
    EXPECT_NO_THROW(job.Run());
    EXPECT_FALSE(job.LastRun().mailboxRead);
    EXPECT_EQ(job.LastRun().failures, 1);
    EXPECT_EQ(Occurrences(site.LogText(), "The server parameter EmailImportSMTPUserID is empty."), 1u);
    EXPECT_TRUE(fs::exists(maildir / "new" / "3000.A.host"));

    // A mailbox without a mail folder, a server that does not answer, a login refused.
    site.SetParameter("EmailImportSMTPUserID", "nobody-here");
    EXPECT_NO_THROW(job.Run());
    EXPECT_FALSE(job.LastRun().mailboxRead);
    EXPECT_EQ(Occurrences(site.LogText(), "Could not log on to the import mailbox."), 1u);

    UseRemote(site, "imap", test::ClosedPort(), "whatever");
    EXPECT_NO_THROW(job.Run());
    EXPECT_FALSE(job.LastRun().mailboxRead);
    EXPECT_EQ(Occurrences(site.LogText(), "Could not log on to the import mailbox."), 2u);

    test::MailStoreServer server(test::MailStoreServer::Protocol::Imap);
    server.Deliver(Mail("ann@acme.test", {File("order.xml", "<ORDER/>")}));
    UseRemote(site, "imap", server.port(), "wrong-password");
    EXPECT_NO_THROW(job.Run());
    EXPECT_FALSE(job.LastRun().mailboxRead);
    EXPECT_EQ(job.LastRun().failures, 1);
    const std::string log = site.LogText();
    EXPECT_EQ(Occurrences(log, "Could not log on to the import mailbox."), 3u);
    EXPECT_NE(log.find("refused the login"), std::string::npos);
    EXPECT_EQ(log.find("wrong-password"), std::string::npos);
    EXPECT_EQ(server.Count(), 1u);
    EXPECT_TRUE(FilesIn(site.root() / "import" / "in").empty());
}

TEST(EMailImport, AnImapInboxIsEmptiedOnlyOfWhatIsSaved) {
    test::TestSite site("sqlite");
    test::MailStoreServer server(test::MailStoreServer::Protocol::Imap);
    UseRemote(site, "imap", server.port(), test::MailStoreServer::kPassword);
    const fs::path in = site.root() / "import" / "in";
    server.Deliver(Mail("ann@acme.test", {File("order.xml", "<ORDER/>"), File("notes.pdf", "%PDF")}));
    server.Deliver(Mail("bob@acme.test", {File("scan.pdf", "%PDF")}));
    server.Deliver(Mail("carl@acme.test", {File("one.xlsx", "PK-one"), File("two.xml", "<TWO/>")}));
    fs::create_directories(in / ".two.xml.part");

    EMailImport job;
    job.Run();
    EXPECT_TRUE(job.LastRun().mailboxRead);
    EXPECT_EQ(job.LastRun().messagesSeen, 3);
    EXPECT_EQ(job.LastRun().attachmentsSaved, 2);
    EXPECT_EQ(job.LastRun().messagesDeleted, 1);
    EXPECT_EQ(job.LastRun().failures, 1);
    EXPECT_EQ(server.Count(), 2u);
    ASSERT_FALSE(job.LastRun().saved.empty());
    EXPECT_EQ(job.LastRun().saved.front().sender, "ann@acme.test");

    fs::remove(in / ".two.xml.part");
    job.Run();
    EXPECT_EQ(job.LastRun().messagesSeen, 2);
    EXPECT_EQ(job.LastRun().attachmentsSaved, 1);
    EXPECT_EQ(job.LastRun().messagesDeleted, 1);
    EXPECT_EQ(server.Count(), 1u);
    EXPECT_EQ(FilesIn(in), (std::map<std::string, std::string>{
                               {"order.xml", "<ORDER/>"}, {"one.xlsx", "PK-one"}, {"two.xml", "<TWO/>"}}));
    // What is left: the PDF's message, set aside.
    EXPECT_EQ(site.Count("MAILIMPORTSAVED"), 1);
    EXPECT_EQ(site.Count("MAILIMPORTSAVED", "ATTACHMENTINDEX = -1"), 1);
}

TEST(EMailImport, StartTlsIsUsedAndTheServerCertificateMustVerify) {
    test::TestSite site("sqlite");
    test::TestCertificate certificate;
    test::MailStoreServer server(test::MailStoreServer::Protocol::Imap, &certificate);
    server.Deliver(Mail("ann@acme.test", {File("order.xml", "<ORDER/>")}));
    UseRemote(site, "imap", server.port(), test::MailStoreServer::kPassword);
    const std::string file = (site.root() / "config" / "SiteConfiguration.xml").string();

    // STARTTLS with a certificate that the system does not trust: refused by the client.
    services::Configuration::SetValue(file, "MAILIMPORT", "Tls", "starttls");
    EMailImport job;
    job.Run();
    EXPECT_FALSE(job.LastRun().mailboxRead);
    EXPECT_EQ(server.Count(), 1u);

    services::Configuration::SetValue(file, "MAILIMPORT", "CaFile", certificate.certFile().string());
    job.Run();
    EXPECT_TRUE(job.LastRun().mailboxRead);
    EXPECT_EQ(job.LastRun().attachmentsSaved, 1);
    EXPECT_EQ(job.LastRun().messagesDeleted, 1);
    EXPECT_EQ(server.Count(), 0u);
    EXPECT_EQ(Occurrences(site.LogText(), "Could not log on to the import mailbox."), 1u);
    // The login went over TLS.
    EXPECT_NE(server.Log().find("method=PLAIN, rip=127.0.0.1, lip=127.0.0.1, mpid="), std::string::npos);
    EXPECT_NE(server.Log().find(", TLS, session="), std::string::npos) << server.Log();
}

TEST(EMailImport, APop3MailboxIsReadAndEmptiedToo) {
    test::TestSite site("sqlite");
    test::MailStoreServer server(test::MailStoreServer::Protocol::Pop3);
    UseRemote(site, "pop3", server.port(), test::MailStoreServer::kPassword);
    // A line beginning with "." travels dot-stuffed and must come back as it was.
    server.Deliver(Mail("ann@acme.test", {File("order.xml", "<ORDER>\r\n.hidden\r\n</ORDER>")}));
    server.Deliver(Mail("bob@acme.test", {File("scan.pdf", "%PDF")}));

    EMailImport job;
    job.Run();
    EXPECT_EQ(job.LastRun().messagesSeen, 2);
    EXPECT_EQ(job.LastRun().messagesDeleted, 1);
    EXPECT_EQ(job.LastRun().failures, 0);
    EXPECT_EQ(FilesIn(site.root() / "import" / "in"),
              (std::map<std::string, std::string>{{"order.xml", "<ORDER>\r\n.hidden\r\n</ORDER>"}}));
    EXPECT_EQ(server.Count(), 1u);
}

}  // namespace
}  // namespace kestrix
