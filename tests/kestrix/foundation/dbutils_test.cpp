#include "kestrix/foundation/dbutils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "kestrix/api/utility.h"
#include "platform/services/configuration.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class Parameters : public ::testing::TestWithParam<std::string> {};

TEST_P(Parameters, PresentTrimmedAndAbsent) {
    test::TestSite site(GetParam());
    site.SetParameter("Spaced", "  value with blanks \t");
    EXPECT_EQ(GetParameter("Spaced"), "value with blanks");
    // A name holding a quote is a value like any other.
    site.SetParameter("It's", "quoted");
    EXPECT_EQ(GetParameter("It's"), "quoted");
    try {
        GetParameter("NoSuchParameter");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), -2147220994);
        EXPECT_EQ(e.source(), "Kestrix.DocumentImport");
        EXPECT_NE(e.description().find(
                      "METHOD: DBUtils.GetParameter caught: Couldn't get the parameter "
                      "'NoSuchParameter' from the database."),
                  std::string::npos);
    }
    Utility u;
    std::string name = "XMLErrorPath";
    EXPECT_EQ(u.GetQelServerParameter(name), (site.root() / "error").string());
}

TEST_P(Parameters, EncodersGiveLiteralsTheDatabaseReadsBack) {
    test::TestSite site(GetParam());
    db::Connection connection = GetConnection();
    for (std::string text : {"plain", "O'Brien", "back\\slash", "Grüße ✓", "line\r\nbreak", "'; DROP TABLE DOCUMENT; --"}) {
        db::Recordset rs = connection.Query("SELECT " + EncodeSqlText(text) + " AS V");
        EXPECT_EQ(rs.GetString("V"), text);
    }
    EXPECT_EQ(EncodeSqlNumber(-40000), "-40000");
    CloseConnection(connection);
    EXPECT_FALSE(connection.IsOpen());
    CloseConnection(connection);  // harmless a second time
}

INSTANTIATE_TEST_SUITE_P(Backends, Parameters, ::testing::ValuesIn(test::Backends()));

TEST(Connections, AnUnreachableDatabaseIsReportedByTheConnectionSource) {
    test::TestSite site("sqlite");
    services::Configuration::SetApplication(
        (site.root() / "config" / "QelServerConfiguration.xml").string(), "Kestrix",
        "postgresql://nobody@127.0.0.1:1/none?connect_timeout=2");
    ResetThreadCaches();
    try {
        GetConnection();
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("METHOD: DBUtils.GetConnection caught:"), std::string::npos);
    }
    try {
        GetConnectionWithODBCTimeoutIs(5);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("METHOD: DBUtils.GetConnectionWithODBCTimeoutIs caught:"),
                  std::string::npos);
    }
}

TEST(Connections, AMissingConfigurationIsLoggedAndTheOpenFails) {
    test::TestSite site("sqlite");
    std::filesystem::remove(site.root() / "config" / "QelServerConfiguration.xml");
    ResetThreadCaches();
    EXPECT_THROW(GetConnection(), Error);
    EXPECT_NE(site.LogText().find("Couldn't get the connection string from the Tavrel dll. Trying the "
                                  "default connectionstring."),
              std::string::npos);
}

TEST(Connections, AMalformedConfigurationIsLoggedAndTheOpenFails) {
    test::TestSite site("sqlite");
    std::ofstream(site.root() / "config" / "QelServerConfiguration.xml") << "<Configuration><Applic";
    ResetThreadCaches();
    EXPECT_THROW(GetConnection(), Error);
    EXPECT_NE(site.LogText().find("DBUtils.GetConnection caught:"), std::string::npos);
}

TEST(ConfigurationFiles, PathsComeFromTheInstalledProduct) {
    test::TestSite site("sqlite");
    EXPECT_EQ(GetQelConfigFile(), (site.root() / "config" / "QelServerConfiguration.xml").string());
    EXPECT_EQ(getSiteConfigFile(), (site.root() / "config" / "SiteConfiguration.xml").string());
    EXPECT_EQ(getInstallDir(), site.root().string());
    EXPECT_EQ(GetMemScriptUser(), "kestrix-service");
    EXPECT_FALSE(GetMemScriptCode().empty());
}

TEST(Components, AnUnknownClassIsLoggedAndAnsweredEmpty) {
    test::TestSite site("sqlite");
    EXPECT_EQ(Qel_getComponent("Nobody.Nothing"), nullptr);
    EXPECT_NE(site.LogText().find("Create instance of Nobody.Nothing failed."), std::string::npos);
    EXPECT_NE(Qel_getComponent("Kestrix.Utility"), nullptr);
    EXPECT_NE(dynamic_cast<Utility*>(Qel_getComponent("Kestrix.Utility").get()), nullptr);
}

}  // namespace
}  // namespace kestrix
