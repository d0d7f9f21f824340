#include "kestrix/foundation/site.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class Sites : public ::testing::TestWithParam<std::string> {};

TEST_P(Sites, InitCreatesAWorkingSiteAndKeepsChangesWhenRunAgain) {
    test::ScratchDatabase database(GetParam());
    test::TempDir dir;
    SiteOptions options{database.connectionString()};
    EXPECT_EQ(InitSite(dir.path().string(), options), database.connectionString());
    for (const char* f : {"config/QelServerConfiguration.xml", "config/SiteConfiguration.xml",
                          "config/components.xml", "import/in", "error", "var/log"})
        EXPECT_TRUE(std::filesystem::exists(dir.path() / f)) << f;

    db::Connection connection(database.connectionString());
    db::Recordset labels = connection.Query("SELECT COUNT(*) AS N FROM I18NTEXT");
    int64_t labelRows = labels.GetInt("N");
    connection.Execute("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'changed' WHERE PARAMNAME = 'FaxServer'");
    connection.Execute("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'EDIDelimiter'");
    // A site of an earlier version: its outbox has no claim columns, the import claims no table.
    connection.Execute("ALTER TABLE OUTBOX DROP COLUMN CLAIMEDBY");
    connection.Execute("ALTER TABLE OUTBOX DROP COLUMN CLAIMEDUNTIL");
    connection.Execute("DROP TABLE IMPORTCLAIM");

    InitSite(dir.path().string());  // again, with the database the site already names
    EXPECT_NO_THROW(connection.Query("SELECT CLAIMEDBY, CLAIMEDUNTIL FROM OUTBOX"));
    EXPECT_NO_THROW(connection.Query("SELECT DONE FROM IMPORTCLAIM"));
    db::Recordset fax = connection.Query("SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'FaxServer'");
    EXPECT_EQ(fax.GetString("PARAMVALUE"), "changed");
    db::Recordset edi = connection.Query("SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'EDIDelimiter'");
    EXPECT_FALSE(edi.Eof());
    EXPECT_EQ(connection.Query("SELECT COUNT(*) AS N FROM I18NTEXT").GetInt("N"), labelRows);
}

INSTANTIATE_TEST_SUITE_P(Backends, Sites, ::testing::ValuesIn(test::Backends()));

TEST(Sites, AnUnreachableDatabaseLeavesNoConfigurationBehind) {
    test::TempDir dir;
    SiteOptions options{"postgresql://nobody@127.0.0.1:1/none?connect_timeout=2"};
    EXPECT_THROW(InitSite((dir.path() / "site").string(), options), Error);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "site" / "config" / "QelServerConfiguration.xml"));
    SiteOptions unknown{"oracle:somewhere"};
    EXPECT_THROW(InitSite((dir.path() / "other").string(), unknown), Error);
}

}  // namespace
}  // namespace kestrix
