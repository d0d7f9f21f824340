#include <gtest/gtest.h>

#include <string>

#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

using test::ProgramRun;
using test::RunKestrix;

class SiteCommands : public ::testing::TestWithParam<std::string> {};

TEST_P(SiteCommands, ASiteFileIsStoredWholeOrNotAtAll) {
    test::TwoPartnerSite site(GetParam());
    const std::string good =
        "<site><partner name='Oak' code0='OAK'><user login='olga' apps='Kestrix'/></partner>"
        "<doctype id='QUOTE'/><sender doctype='QUOTE' user='olga'/>";
    const auto file = site.root() / "site.xml";

    // A reference that nothing names is found before anything is stored.
    test::WriteAll(file, good + "<distribution doctype='QUOTE' user='nobody'/></site>");
    ProgramRun run = RunKestrix({"apply", file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(test::Contains(run.err, "nobody")) << run.err;
    EXPECT_EQ(site.Count("BUSINESSPARTNER", "NAME = 'Oak'"), 0);
    EXPECT_EQ(site.Count("DOCUMENTTYPE", "DOCUMENTTYPEID = 'QUOTE'"), 0);

    // A failure while storing (bob belongs to another partner) undoes the whole file.
    test::WriteAll(file, good + "<partner name='Pine'><user login='bob'/></partner></site>");
    run = RunKestrix({"apply", file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(site.Count("BUSINESSPARTNER", "NAME IN ('Oak', 'Pine')"), 0);
    EXPECT_EQ(site.Count("MEMBERUSER", "USERID = 'olga'"), 0);
    EXPECT_EQ(site.Count("SENDERLIST", "USERID = 'olga'"), 0);

    test::WriteAll(file, good + "</site>");
    run = RunKestrix({"apply", file.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(site.Count("SENDERLIST", "USERID = 'olga' AND DOCUMENTTYPEID = 'QUOTE'"), 1);
}

TEST_P(SiteCommands, AddingWhatExistsSaysWhetherItChanged) {
    test::TwoPartnerSite site(GetParam());
    EXPECT_TRUE(test::Contains(RunKestrix({"partner", "add", "Acme"}).out, ": unchanged"));
    ProgramRun run = RunKestrix({"partner", "add", "Acme", "--code0", "ACME-C,ACME-X"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(test::Contains(run.out, "business partner " + std::to_string(site.acme()) + " Acme: changed")) << run.out;
    EXPECT_EQ(site.Count("BUSINESSPARTNER", "NAME = 'Acme'"), 1);
    EXPECT_EQ(site.Count("BUSINESSPARTNERCODE", "CODE = 'ACME-X'"), 1);

    const std::string bolt = std::to_string(site.bolt());
    EXPECT_TRUE(test::Contains(RunKestrix({"user", "add", "bob", "--partner", bolt}).out, ": unchanged"));
    EXPECT_TRUE(test::Contains(RunKestrix({"user", "add", "bob", "--password", "pw-bob"}).out, ": unchanged"));
    run = RunKestrix({"user", "add", "bob", "--email", "bob@new.test"});
    EXPECT_TRUE(test::Contains(run.out, "user bob (business partner " + bolt + "): changed")) << run.out << run.err;
    EXPECT_EQ(site.Count("MEMBERUSER", "USERID = 'bob' AND EMAIL = 'bob@new.test' AND FIRSTNAME = 'bob'"), 1);
    // Another partner is refused, not a second user.
    EXPECT_EQ(RunKestrix({"user", "add", "bob", "--partner", std::to_string(site.acme())}).status, 1);
    EXPECT_EQ(site.Count("MEMBERUSER", "USERID = 'bob' AND BUSINESSPARTNERID = " + bolt), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, SiteCommands, ::testing::ValuesIn(test::Backends()));

TEST(SiteCommands, NamesWithControlCharactersAreRefusedAndNeverPrintedRaw) {
    test::TwoPartnerSite site("sqlite");
    EXPECT_EQ(RunKestrix({"app", "add", "bad\x01name"}).status, 1);
    EXPECT_EQ(RunKestrix({"partner", "add", "Red\x1b[31m"}).status, 1);
    EXPECT_EQ(RunKestrix({"app", "list"}).status, 0);  // the configuration is still whole

    // What came in another way is shown escaped.
    site.Exec("INSERT INTO BUSINESSPARTNER (NAME) VALUES ('Blink\x1b[5m')");
    const ProgramRun list = RunKestrix({"partner", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(test::Contains(list.out, "Blink\\x1b[5m")) << list.out;
    EXPECT_FALSE(test::Contains(list.out, "\x1b"));
}

TEST(SiteCommands, ParametersAreDescribedAndAnUnknownOneIsWarnedAbout) {
    test::TwoPartnerSite site("sqlite");
    ProgramRun run = RunKestrix({"param", "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(test::Contains(run.out, "MaxDocumentSize = 104857600\n    largest document")) << run.out;
    EXPECT_TRUE(test::Contains(run.out, "(default: 104857600)")) << run.out;

    run = RunKestrix({"param", "set", "MaxDocumentSise", "10"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(test::Contains(run.err, "warning") && test::Contains(run.err, "MaxDocumentSise")) << run.err;
    run = RunKestrix({"param", "set", "MaxDocumentSize", "10"});
    EXPECT_FALSE(test::Contains(run.err, "warning")) << run.err;
    EXPECT_TRUE(test::Contains(RunKestrix({"param", "list"}).out, "MaxDocumentSise = 10\n    (not read by Kestrix)"));
}

}  // namespace
}  // namespace kestrix
