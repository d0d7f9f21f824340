#include "kestrix/documents/publication_errors.h"

#include <gtest/gtest.h>

#include "kestrix/api/document.h"
#include "kestrix/documents/label_replacements.h"
#include "kestrix/api/utility.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class PublicationErrors : public ::testing::TestWithParam<std::string> {
protected:
    int32_t NewDocument(const std::string& type) {
        db::Connection c(site_.connectionString());
        db::EditRow row;
        row.Set("CREATIONDATE", "2026-01-01 00:00:00");
        row.Set("ORIGINALXMLBODY", "<a/>");
        row.Set("STATUS", 0);
        if (!type.empty()) row.Set("DOCUMENTTYPEID", type);
        return static_cast<int32_t>(c.Insert("DOCUMENT", row, "DOCUMENTID"));
    }
    test::TestSite site_{GetParam()};
};

TEST_P(PublicationErrors, RecordedWithCutSourceAndReadBackInAnyLanguage) {
    int32_t doc = NewDocument("ORDER");
    std::optional<xml::XmlDocument> reps;
    Dictionary entries;
    entries.Add("[%DOCID%]", std::to_string(doc));
    entries.Add("[%RECEIVER%]", "a<b & \"c\"");
    FillReplacements(reps, entries);
    std::string source(300, 's');
    int32_t id = LogPublicationErrorWithReplacements(doc, -2147220980, "could not publish", source,
                                                     "SLBSH4478", &*reps);
    ASSERT_GT(id, 0);

    db::Connection c(site_.connectionString());
    db::Recordset rs = c.Query("SELECT * FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + std::to_string(id));
    EXPECT_EQ(rs.GetString("SOURCE"), std::string(255, 's'));
    EXPECT_EQ(rs.GetString("LABEL"), "SLBSH4478");
    EXPECT_EQ(rs.GetInt("CLOSED"), 0);
    EXPECT_EQ(rs.GetInt("ERRORNUMBER"), -2147220980);

    LabelReplacements lr;
    Dictionary back = lr.GetAllReplacementsFromTableForASP("PUBLICATIONERRORS", id);
    ASSERT_EQ(back.Count(), 2u);
    EXPECT_EQ(back.At(0).first, "[%DOCID%]");
    EXPECT_EQ(back.Item("[%RECEIVER%]").ToString(), "a<b & \"c\"");

    Utility u;
    EXPECT_TRUE(u.CheckPublicationErrors(doc));
    c.Execute("UPDATE PUBLICATIONERRORS SET CLOSED = 1");
    EXPECT_FALSE(u.CheckPublicationErrors(doc));
}

TEST_P(PublicationErrors, NothingIsRecordedForADocumentWithoutType) {
    int32_t doc = NewDocument("");
    EXPECT_EQ(LogPublicationError(doc, 1, "x", "y", ""), 0);
    EXPECT_EQ(LogPublicationError(987654, 1, "x", "y", ""), 0);
    db::Connection c(site_.connectionString());
    EXPECT_EQ(c.Query("SELECT COUNT(*) AS N FROM PUBLICATIONERRORS").GetInt("N"), 0);
}

TEST_P(PublicationErrors, ReplacementDocumentsAreRepairedBeforeFilling) {
    std::optional<xml::XmlDocument> wrongRoot = xml::XmlDocument::FromText("<OTHER><REP name='x'>1</REP></OTHER>");
    Dictionary entries;
    entries.Add("[%A%]", "1");
    FillReplacements(wrongRoot, entries);
    EXPECT_EQ(wrongRoot->DocumentElement().Name(), "REPS");
    EXPECT_EQ(wrongRoot->SelectNodes("//REP").nodes.size(), 1u);

    std::optional<xml::XmlDocument> missing;
    FillReplacements(missing, entries);
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->SelectNodes("//REP").nodes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, PublicationErrors, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
