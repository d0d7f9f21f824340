#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/services/configuration.h"
#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Contains;

class Serve : public ::testing::TestWithParam<std::string> {};

std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// The service works off the outbox on its schedule, passes over an item that a live worker
// elsewhere holds, takes back one whose owner on this host is gone, re-reads its
// configuration on SIGHUP and ends cleanly on SIGTERM; on SQLite a second service is refused.
TEST_P(Serve, WorksOffTheOutboxHonoursClaimsAndStopsCleanly) {
    test::TwoPartnerSite site(GetParam());
    site.SetParameter("AdminEmailAddress", "admin@site.test");
    services::Configuration::SetValue((site.root() / "config" / "SiteConfiguration.xml").string(), "SERVICE",
                                      "OutboxInterval", "1");
    auto addMail = [&](const std::string& subject, const std::string& claimedBy) {
        site.Exec("INSERT INTO OUTBOX (DOCUMENTID, KIND, TARGET, SUBJECT, BODY, ATTEMPTS, CREATIONDATE, CLAIMEDBY, "
                  "CLAIMEDUNTIL) VALUES (0, 'ADMIN_MAIL', '', '" + subject + "', 'text of " + subject +
                  "', 0, '2026-01-01 00:00:00', " + (claimedBy.empty() ? "NULL, NULL" : "'" + claimedBy +
                  "', '2999-01-01 00:00:00'") + ")");
    };
    addMail("free", "");
    addMail("owner-gone", HostName() + ":999999999:1");
    addMail("held-elsewhere", "elsewhere.example:4242:17");

    test::BackgroundKestrix serve({"serve", "--workers", "2"});
    ASSERT_TRUE(serve.WaitForOutput("serving", 15s)) << serve.Output();
    EXPECT_TRUE(Contains(serve.Output(), "outbox every 1 s")) << serve.Output();
    ASSERT_TRUE(test::WaitUntil([&] { return site.Count("OUTBOX") == 1; }, 20s)) << serve.Output();
    EXPECT_EQ(site.Query("SELECT SUBJECT FROM OUTBOX").GetString("SUBJECT"), "held-elsewhere");
    std::string mails;
    for (const auto& entry : fs::directory_iterator(site.root() / "out" / "mail"))
        mails += test::ReadAll(entry.path());
    EXPECT_TRUE(Contains(mails, "text of free"));
    EXPECT_TRUE(Contains(mails, "text of owner-gone"));
    EXPECT_FALSE(Contains(mails, "held-elsewhere"));

    if (GetParam() == "sqlite") {
        const test::ProgramRun second = test::RunKestrix({"serve"});
        EXPECT_EQ(second.status, 3);
        EXPECT_TRUE(Contains(second.err, "already serves this site")) << second.err;
    }
    EXPECT_EQ(test::RunKestrix({"serve", "--workers", "0"}).status, 2);

    services::Configuration::SetValue((site.root() / "config" / "SiteConfiguration.xml").string(), "SERVICE",
                                      "OutboxInterval", "2");
    serve.Signal(SIGHUP);
    EXPECT_TRUE(test::WaitUntil([&] { return Contains(site.LogText(), "outbox every 2 s"); }, 10s));
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.WaitForExit(30s), std::optional<int>(0)) << serve.Output();
    EXPECT_TRUE(Contains(serve.Output(), "kestrix serve: stopped")) << serve.Output();

    // A site whose database an earlier version made is told to be completed first: one
    // without the tables of the web sessions, completed by kestrix init, then one without
    // the outbox claims.
    site.Exec("DROP TABLE WEBLOGINFAILURE");
    EXPECT_EQ(test::RunKestrix({"serve"}).status, 3);
    ASSERT_EQ(test::RunKestrix({"init", site.root().string()}).status, 0);
    EXPECT_EQ(site.Count("WEBLOGINFAILURE"), 0);
    site.Exec("ALTER TABLE OUTBOX DROP COLUMN CLAIMEDUNTIL");
    const test::ProgramRun old = test::RunKestrix({"serve"});
    EXPECT_EQ(old.status, 3);
    EXPECT_TRUE(Contains(old.err, "complete it first with 'kestrix init")) << old.err;
}

INSTANTIATE_TEST_SUITE_P(Backends, Serve, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
