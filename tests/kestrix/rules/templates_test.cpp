#include "kestrix/rules/templates.h"

#include <gtest/gtest.h>

#include <string>

#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class TemplateTest : public ::testing::TestWithParam<std::string> {
  protected:
    db::Connection Db() { return db::Connection(site_.connectionString()); }

    int64_t Rows(const std::string& type) {
        db::Connection c = Db();
        return c
            .Query("SELECT COUNT(*) AS N FROM XMLTEMPLATE WHERE DOCUMENTTYPEID = " +
                   c.EncodeText(type))
            .GetInt("N");
    }

    test::TestSite site_{GetParam()};
    Template template_;
};

TEST_P(TemplateTest, AnAddressWinsOverTheTemplateText) {
    template_.InsertTemplate("ORDER", "http://forms/order.xml", "<ORDER/>",
                             "http://forms/order.xsl");
    template_.InsertTemplate("INVOICE", "", "<INVOICE kind='plain'/>", "");
    {
        db::Connection c = Db();
        c.Execute("INSERT INTO XMLTEMPLATE (DOCUMENTTYPEID) VALUES ('BARE')");
    }

    Variant isUrl = "stale";
    EXPECT_EQ(template_.GetXmlTemplateDocument("ORDER", isUrl), "http://forms/order.xml");
    ASSERT_TRUE(isUrl.IsInteger());
    EXPECT_EQ(isUrl.ToInteger(), 1);

    EXPECT_EQ(template_.GetXmlTemplateDocument("INVOICE", isUrl), "<INVOICE kind='plain'/>");
    ASSERT_TRUE(isUrl.IsInteger());
    EXPECT_EQ(isUrl.ToInteger(), 0);

    for (const char* type : {"BARE", "UNKNOWN"}) {
        isUrl = "stale";
        EXPECT_EQ(template_.GetXmlTemplateDocument(type, isUrl), "") << type;
        ASSERT_TRUE(isUrl.IsInteger()) << type;
        EXPECT_EQ(isUrl.ToInteger(), 0) << type;
    }

    EXPECT_EQ(template_.getXslUrl("ORDER"), "http://forms/order.xsl");
    EXPECT_EQ(template_.getXslUrl("INVOICE"), "");
    EXPECT_EQ(template_.getXslUrl("BARE"), "");
    EXPECT_EQ(template_.getXslUrl("UNKNOWN"), "");
}

TEST_P(TemplateTest, ATypeKeepsOneRowThatLaterCallsChange) {
    const std::string type = "O'Brien \"quoted\" -- type";
    const std::string text = "<FORM note=\"it's\">" + std::string(1'500'000, 'x') + "</FORM>";
    int32_t id = template_.InsertTemplate(type, "", "<FORM/>", "first.xsl");
    ASSERT_GT(id, 0);
    EXPECT_TRUE(template_.checkTemplateByDocumentTypeID(type));
    EXPECT_FALSE(template_.checkTemplateByDocumentTypeID("O'Brien"));

    EXPECT_EQ(template_.InsertTemplate(type, "", text, "second.xsl"), id);
    EXPECT_EQ(Rows(type), 1);
    Variant isUrl;
    EXPECT_EQ(template_.GetXmlTemplateDocument(type, isUrl), text);
    EXPECT_EQ(template_.getXslUrl(type), "second.xsl");

    int32_t other = template_.InsertTemplate("INVOICE", "inv.xml", "", "inv.xsl");
    EXPECT_NE(other, id);

    // UpdateTemplate may move a row to another type; an unknown identifier changes nothing.
    template_.UpdateTemplate(id, "RENAMED", "renamed.xml", "", "renamed.xsl");
    EXPECT_FALSE(template_.checkTemplateByDocumentTypeID(type));
    EXPECT_EQ(template_.GetXmlTemplateDocument("RENAMED", isUrl), "renamed.xml");
    int32_t unknown = other + id + 100;
    template_.UpdateTemplate(unknown, "INVOICE", "changed.xml", "", "changed.xsl");
    EXPECT_EQ(template_.getXslUrl("INVOICE"), "inv.xsl");
    EXPECT_EQ(template_.GetXmlTemplateDocument("INVOICE", isUrl), "inv.xml");

    template_.DeleteTemplate(id);
    EXPECT_FALSE(template_.checkTemplateByDocumentTypeID("RENAMED"));
    EXPECT_TRUE(template_.checkTemplateByDocumentTypeID("INVOICE"));
    EXPECT_EQ(template_.getXslUrl("RENAMED"), "");
}

TEST_P(TemplateTest, FailuresNameTheMethodAndTheStyleSheetFailureTheType) {
    {
        db::Connection c = Db();
        c.Execute("ALTER TABLE XMLTEMPLATE RENAME TO XMLTEMPLATE_AWAY");
    }
    const std::string label = TranslateLabel("SLBSH4450");
    ASSERT_NE(label.find("[%DOCTYPE%]"), std::string::npos) << "the label is shipped";
    std::string expected = label;
    expected.replace(expected.find("[%DOCTYPE%]"), 11, "ORDER");
    try {
        template_.getXslUrl("ORDER");
        FAIL() << "a missing table was not reported";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("METHOD: Kestrix.Template.getXslUrl caught: "),
                  std::string::npos);
        EXPECT_NE(e.description().find("Additional information: " + expected), std::string::npos)
            << e.description();
    }

    try {
        template_.InsertTemplate("ORDER", "", "<ORDER/>", "");
        FAIL() << "a missing table was not reported";
    } catch (const Error& e) {
        size_t inner = e.description().find("METHOD: Kestrix.Template.GetTemplateID caught: ");
        size_t outer = e.description().find("METHOD: Kestrix.Template.InsertTemplate caught: ");
        ASSERT_NE(inner, std::string::npos) << e.description();
        ASSERT_NE(outer, std::string::npos) << e.description();
        EXPECT_LT(outer, inner) << "the outer level wraps the inner one";
    }

    Variant isUrl = "stale";
    EXPECT_THROW(template_.GetXmlTemplateDocument("ORDER", isUrl), Error);
    EXPECT_EQ(isUrl.ToInteger(), 0);
    EXPECT_THROW(template_.checkTemplateByDocumentTypeID("ORDER"), Error);
    int32_t id = 1;
    EXPECT_THROW(template_.DeleteTemplate(id), Error);
    EXPECT_NE(site_.LogText().find("Kestrix.Template.DeleteTemplate"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, TemplateTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
