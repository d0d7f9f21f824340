#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/services/configuration.h"
#include "tests/peers/smtp_server.h"
#include "tests/support/backends.h"
#include "tests/support/program.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::RunKestrix;

TEST(MailImportCommand, AFreshSiteReadsItsLocalMailFolderAndSaysWhatItSaved) {
    test::TempDir dir;
    const fs::path site = dir.path() / "site";
    ASSERT_EQ(RunKestrix({"init", site.string()}, {.withoutHome = true}).status, 0);
    // What a local mail server delivers for import@localhost, the default mailbox.
    test::WriteAll(site / "mail" / "import@localhost" / "new" / "1765000000.M1P1.mx",
                   "From: Ann <ann@acme.test>\r\nSubject: order\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                   "--b\r\nContent-Type: application/xml\r\nContent-Disposition: attachment; filename=\"order.xml\"\r\n\r\n"
                   "<ORDER/>\r\n--b--\r\n");

    test::ProgramRun run = RunKestrix({"--site", site.string(), "mail-import"}, {.withoutHome = true});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "saved " + (site / "import" / "in" / "order.xml").string() +
                                      "  (order.xml of message maildir:1765000000.M1P1.mx from ann@acme.test)\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "1 messages, 1 attachments saved, 1 messages deleted, 0 failures\n")) << run.out;
    EXPECT_EQ(test::ReadAll(site / "import" / "in" / "order.xml"), "<ORDER/>");

    // A mailbox that cannot be reached is the command's failure.
    const std::string config = (site / "config" / "SiteConfiguration.xml").string();
    services::Configuration::SetValue(config, "MAILIMPORT", "Protocol", "imap");
    services::Configuration::SetValue(config, "MAILIMPORT", "Server", "127.0.0.1");
    services::Configuration::SetValue(config, "MAILIMPORT", "Port", std::to_string(test::ClosedPort()));
    run = RunKestrix({"--site", site.string(), "mail-import"}, {.withoutHome = true});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(Contains(run.err, "the mailbox could not be read")) << run.err;
}

}  // namespace
}  // namespace kestrix
