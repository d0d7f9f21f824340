#include "kestrix/foundation/site_cache.h"

#include <gtest/gtest.h>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/db/statistics.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class SiteCache : public ::testing::TestWithParam<std::string> {
  protected:
    void Sql(const std::string& sql) const {
        db::Connection c(site_.connectionString());
        c.Execute(sql);
    }
    static int64_t Statements() { return db::ThreadStatementCounts().statements; }
    test::TestSite site_{GetParam()};
};

// A document's look-ups are answered from the thread's cache, and a change made behind the
// process's back, by plain SQL, is seen by the next document all the same.
TEST_P(SiteCache, ChangesBySqlAreSeenByTheNextScope) {
    site_.SetParameter("CacheProbe", "first");
    Sql("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES ('TEST0100', 1033, 'old text')");
    {
        SiteCacheScope document;
        EXPECT_EQ(GetParameter("CacheProbe"), "first");
        EXPECT_EQ(TranslateLabel("TEST0100"), "old text");
    }
    {
        SiteCacheScope document;
        const int64_t before = Statements();
        EXPECT_EQ(GetParameter("CacheProbe"), "first");
        EXPECT_EQ(Statements(), before) << "a kept parameter must not ask the database";
        EXPECT_EQ(TranslateLabel("TEST0100"), "old text");
        EXPECT_EQ(Statements(), before) << "a kept label must not ask the database";

        // A change inside a document is not seen before the next one.
        Sql("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'second' WHERE PARAMNAME = "
            "'CacheProbe'");
        Sql("UPDATE I18NTEXT SET TEXT = 'new text' WHERE LABEL = 'TEST0100'");
        EXPECT_EQ(GetParameter("CacheProbe"), "first");
    }
    {
        SiteCacheScope document;
        EXPECT_EQ(GetParameter("CacheProbe"), "second");
        EXPECT_EQ(TranslateLabel("TEST0100"), "new text");
        // A missing parameter still raises, also once its absence is kept.
        EXPECT_THROW(GetParameter("NoSuchParameter"), Error);
        EXPECT_THROW(GetParameter("NoSuchParameter"), Error);
    }
    // Outside a scope nothing kept is used.
    Sql("DELETE FROM I18NTEXT WHERE LABEL = 'TEST0100'");
    EXPECT_EQ(TranslateLabel("TEST0100"), "<font color='red'>Error TEST0100</font>");
}

INSTANTIATE_TEST_SUITE_P(Backends, SiteCache, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
