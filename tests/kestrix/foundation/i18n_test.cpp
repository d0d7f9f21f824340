#include "kestrix/foundation/i18n.h"

#include <gtest/gtest.h>

#include "kestrix/documents/label_replacements.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class Labels : public ::testing::TestWithParam<std::string> {
protected:
    void Put(const std::string& code, int language, const std::string& text) {
        db::Connection c(site_.connectionString());
        c.Execute("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES (" + c.EncodeText(code) +
                  ", " + std::to_string(language) + ", " + c.EncodeText(text) + ")");
    }
    test::TestSite site_{GetParam()};
};

TEST_P(Labels, LanguagesAndMissingRows) {
    Put("TEST0001", 1033, "Hello");
    Put("TEST0001", 1031, "Hallo");
    EXPECT_EQ(TranslateLabel("TEST0001"), "Hello");
    EXPECT_EQ(TranslateLabel("TEST0001", 0), "Hello");
    EXPECT_EQ(TranslateLabel("TEST0001", 1031), "Hallo");
    // No row in French, although English has one.
    EXPECT_EQ(TranslateLabel("TEST0001", 1036), "<font color='red'>Error TEST0001</font>");
    // A code holding a quote or non-ASCII characters simply finds no row.
    EXPECT_EQ(TranslateLabel("X' OR '1'='1"), "<font color='red'>Error X' OR '1'='1</font>");
    EXPECT_EQ(TranslateLabel("ÄÖÜ"), "<font color='red'>Error ÄÖÜ</font>");
    // The shipped texts are loaded in both languages.
    EXPECT_NE(TranslateLabel("SLBSH4428").find("Error SLBSH4428"), 0u);
    EXPECT_EQ(TranslateLabel("SLBSH4428", 1031).find("<font"), std::string::npos);
}

TEST_P(Labels, PlaceholdersAreFilledInDictionaryOrder) {
    Put("TEST0002", 1033, "Document [%DOCID%] of [%SENDER%], again [%DOCID%]");
    Dictionary d;
    d.Add("[%DOCID%]", "42");
    d.Add("[%SENDER%]", "<b>&amp;</b>");
    EXPECT_EQ(TranslateLabel("TEST0002", 1033, d), "Document 42 of <b>&amp;</b>, again 42");

    // A value holding a later key is replaced again.
    Dictionary chained;
    chained.Add("[%DOCID%]", "[%SENDER%]");
    chained.Add("[%SENDER%]", "alice");
    EXPECT_EQ(TranslateLabel("TEST0002", 1033, chained), "Document alice of alice, again alice");

    // A missing label is not filled.
    EXPECT_EQ(TranslateLabel("TEST9999", 1033, d), "<font color='red'>Error TEST9999</font>");
}

TEST_P(Labels, LabelPlaceholdersAreTranslatedOnceAndOnlyTheFirstOccurrence) {
    Put("TEST0003", 1033, "Protocol [%label%] and [%LABEL%]");
    Put("TEST0003", 1031, "Protokoll [%LABEL%]");
    Put("TEST0004", 1033, "e-mail");
    Put("TEST0004", 1031, "E-Mail");
    Dictionary d;
    d.Add("[%LABEL%]", "[%TEST0004%]");
    EXPECT_EQ(TranslateLabel("TEST0003", 1033, d), "Protocol e-mail and [%LABEL%]");
    EXPECT_EQ(TranslateLabel("TEST0003", 1031, d), "Protokoll E-Mail");
}

TEST_P(Labels, LabelReplacementsForPagesTranslateWithAStoredList) {
    Put("TEST0005", 1031, "Dokument [%DOCID%]");
    LabelReplacements lr;
    Dictionary d;
    d.Add("[%DOCID%]", "7");
    EXPECT_EQ(lr.I18NCollByReplacementsForASP("TEST0005", 1031, d), "Dokument 7");
    // A table name that is not an identifier is refused, not run.
    try {
        lr.GetAllReplacementsFromTableForASP("PUBLICATIONERRORS; DROP TABLE DOCUMENT", 1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("Kestrix.LabelReplacements.GetAllReplacementsFromTableForASP"),
                  std::string::npos);
    }
    db::Connection c(site_.connectionString());
    EXPECT_NO_THROW(c.Query("SELECT COUNT(*) AS N FROM DOCUMENT"));
}

INSTANTIATE_TEST_SUITE_P(Backends, Labels, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
