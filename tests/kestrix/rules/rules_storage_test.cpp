#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/rules/rules.h"
#include "platform/base/error.h"
#include "platform/xml/xml.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

TEST(RuleConversions, OnlyTheKnownValuesPassAndEverythingElseIsZero) {
    Rules rules;
    EXPECT_EQ(rules.GetRuleType_SENDMETHODRULE(), 1);
    EXPECT_EQ(rules.GetRuleType_DOCUMENTTYPERULE(), 2);
    EXPECT_EQ(rules.GetRuleType_SENDERIDRULE(), 3);
    EXPECT_EQ(rules.GetRuleType_RECIPIENTIDRULE(), 4);

    for (int32_t v = -1; v <= 12; ++v) {
        EXPECT_EQ(rules.ConvertRuleTypeEnum(v), v >= 1 && v <= 4 ? v : 0) << v;
        EXPECT_EQ(rules.ConvertFieldTypeEnum(v), v >= 1 && v <= 3 ? v : 0) << v;
        EXPECT_EQ(rules.ConvertTagAttrXslEnum(v), v >= 1 && v <= 3 ? v : 0) << v;
        EXPECT_EQ(rules.ConvertConditionEnum(v), v >= 1 && v <= 10 ? v : 0) << v;
    }
    EXPECT_EQ(rules.ConvertRuleLogicEnum("AND"), 1);
    EXPECT_EQ(rules.ConvertRuleLogicEnum("OR"), 2);
    for (const char* other : {"and", "Or", " AND", "OR ", "", "XOR"})
        EXPECT_EQ(rules.ConvertRuleLogicEnum(other), 0) << other;

    EXPECT_EQ(rules.ConvertFieldTypeString(1), "string");
    EXPECT_EQ(rules.ConvertFieldTypeString(2), "numeric");
    EXPECT_EQ(rules.ConvertFieldTypeString(3), "date");
    EXPECT_EQ(rules.ConvertFieldTypeString(4), "");
    EXPECT_EQ(rules.ConvertFieldTypeString(0), "");
    const char* symbols[] = {"", "=", ">", ">=", "<", "<=", "<>"};
    for (int32_t c = 0; c <= 6; ++c) EXPECT_EQ(rules.ConvertConditionString(c), symbols[c]) << c;
    EXPECT_EQ(rules.ConvertConditionString(11), "");
}

TEST(RuleConversions, ANodeKindWiderThanSixteenBitsOverflows) {
    Rules rules;
    try {
        rules.ConvertTagAttrXslEnum(65537);  // would be 1 if it were cut to 16 bits
        ADD_FAILURE() << "no overflow";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::Overflow);
        EXPECT_NE(e.description().find("Kestrix.Rules.ConvertTagAttrXslEnum"), std::string::npos);
    }
}

class RuleStorage : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { site_ = std::make_unique<test::TestSite>(GetParam()); }
    void TearDown() override { site_.reset(); }

    int32_t AddRule(std::string description, int16_t type, std::string logic, bool enabled = true,
                    std::string assigned = "ORDERS", std::string method = "", int32_t sequence = 10,
                    int32_t original = 5) {
        return rules_.AddRule(description, type, assigned, method, sequence, logic, original, enabled);
    }
    int32_t AddLine(int32_t rule, int32_t fieldType, int32_t sequence, int32_t kind, std::string pattern,
                    int32_t condition, std::string value) {
        return rules_.AddRuleLine(rule, fieldType, sequence, kind, pattern, condition, value);
    }
    void AddSendMethod(int32_t sendMethodId, int32_t partner, const std::string& type,
                       int32_t rule) {
        db::Connection connection = GetConnection();
        connection.Execute("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) VALUES (" +
                           std::to_string(sendMethodId) + ", " + std::to_string(partner) + ", " +
                           connection.EncodeText(type) + ", " + std::to_string(rule) + ")");
    }

    std::unique_ptr<test::TestSite> site_;
    Rules rules_;
};

TEST_P(RuleStorage, AddingAndUpdatingARuleStoresTheConvertedValues) {
    const int32_t first = AddRule("Big orders", 1, "AND", true, "ORDERS", "Acme.Orders.Check", 20, 7);
    const int32_t second = AddRule("lower-case logic", 9, "and", false);
    EXPECT_GT(first, 0);
    EXPECT_NE(first, second);

    db::Recordset rs =
        site_->Query("SELECT * FROM RULEHEADER WHERE RULEID = " + std::to_string(first));
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetString("DESCRIPTION"), "Big orders");
    EXPECT_EQ(rs.GetInt("RULETYPE"), 1);
    EXPECT_EQ(rs.GetString("ASSIGNEDID"), "ORDERS");
    EXPECT_EQ(rs.GetString("METHODCALL"), "Acme.Orders.Check");
    EXPECT_EQ(rs.GetInt("SEQUENCENUMBER"), 20);
    EXPECT_EQ(rs.GetInt("RULELOGIC"), 1);
    EXPECT_EQ(rs.GetInt("ORIGINALID"), 7);
    EXPECT_EQ(rs.GetInt("ENABLED"), 1);

    rs = site_->Query("SELECT * FROM RULEHEADER WHERE RULEID = " + std::to_string(second));
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetInt("RULETYPE"), 0);
    EXPECT_EQ(rs.GetInt("RULELOGIC"), 0);
    EXPECT_EQ(rs.GetInt("ENABLED"), 0);

    // Update rewrites all eight values of that rule only.
    std::string description = "It's \"renamed\"";
    int16_t type = 2;
    std::string assigned = "INVOICE";
    std::string method;
    int32_t sequence = 5;
    std::string logic = "OR";
    int32_t original = -1;
    bool enabled = false;
    int32_t id = first;
    rules_.UpdateRule(id, description, type, assigned, method, sequence, logic, original, enabled);
    rs = site_->Query("SELECT * FROM RULEHEADER WHERE RULEID = " + std::to_string(first));
    EXPECT_EQ(rs.GetString("DESCRIPTION"), description);
    EXPECT_EQ(rs.GetInt("RULETYPE"), 2);
    EXPECT_EQ(rs.GetString("ASSIGNEDID"), "INVOICE");
    EXPECT_EQ(rs.GetString("METHODCALL"), "");
    EXPECT_EQ(rs.GetInt("SEQUENCENUMBER"), 5);
    EXPECT_EQ(rs.GetInt("RULELOGIC"), 2);
    EXPECT_EQ(rs.GetInt("ORIGINALID"), -1);
    EXPECT_EQ(rs.GetInt("ENABLED"), 0);
    EXPECT_EQ(rules_.GetRuleDescription(first), description);
    EXPECT_EQ(rules_.GetRuleDescription(second), "lower-case logic");

    // An unknown rule: nothing changes, nothing is raised, no row appears.
    int32_t unknown = first + second + 100;
    EXPECT_NO_THROW(
        rules_.UpdateRule(unknown, description, type, assigned, method, sequence, logic, original, enabled));
    EXPECT_EQ(site_->Count("RULEHEADER", "1 = 1"), 2);
    EXPECT_EQ(rules_.GetRuleDescription(unknown), "");
}

TEST_P(RuleStorage, LinesKeepQuotedPatternsAndValuesAndAreDeletedPerRule) {
    const int32_t rule = AddRule("r", 1, "AND");
    const int32_t other = AddRule("o", 1, "AND");
    const std::string pattern = "//PARTY[@name=\"O'Brien\"]";
    const std::string value = "O'Brien'); DELETE FROM RULEHEADER; --";
    const int32_t line = AddLine(rule, 1, 10, 3, pattern, 9, value);
    AddLine(rule, 7, 20, 8, "NAME", 42, "x");  // unknown numbers are stored as 0
    AddLine(other, 2, 10, 1, "QTY", 2, "10");

    db::Recordset rs =
        site_->Query("SELECT * FROM RULELINE WHERE LINEID = " + std::to_string(line));
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetInt("RULEID"), rule);
    EXPECT_EQ(rs.GetInt("FIELDTYPE"), 1);
    EXPECT_EQ(rs.GetInt("SEQUENCENUMBER"), 10);
    EXPECT_EQ(rs.GetInt("TAGATTRXSL"), 3);
    EXPECT_EQ(rs.GetString("XSLPATTERN"), pattern);
    EXPECT_EQ(rs.GetInt("CONDITION"), 9);
    EXPECT_EQ(rs.GetString("VALUE"), value);
    rs = site_->Query("SELECT * FROM RULELINE WHERE RULEID = " + std::to_string(rule) +
                      " AND SEQUENCENUMBER = 20");
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.GetInt("FIELDTYPE"), 0);
    EXPECT_EQ(rs.GetInt("TAGATTRXSL"), 0);
    EXPECT_EQ(rs.GetInt("CONDITION"), 0);
    EXPECT_EQ(site_->Count("RULEHEADER", "1 = 1"), 2);

    int32_t id = rule;
    rules_.DeleteRuleLines(id);
    EXPECT_EQ(site_->Count("RULELINE", "RULEID = " + std::to_string(rule)), 0);
    EXPECT_EQ(site_->Count("RULELINE", "RULEID = " + std::to_string(other)), 1);
}

TEST_P(RuleStorage, ASendMethodRuleThatStillSelectsASendMethodIsNotDeleted) {
    const int32_t used = AddRule("used", 1, "AND");
    AddLine(used, 1, 10, 1, "NAME", 1, "x");
    AddSendMethod(7, 5, "ORDERS", used);
    AddSendMethod(-1, 5, "ORDERS", used);
    int32_t id = used;
    EXPECT_FALSE(rules_.DeleteRule(id));
    EXPECT_EQ(site_->Count("RULEHEADER", "RULEID = " + std::to_string(used)), 1);
    EXPECT_EQ(site_->Count("RULELINE", "RULEID = " + std::to_string(used)), 1);
    EXPECT_EQ(site_->Count("SENDMETHOD", "SENDMETHODID = 7"), 1);

    // Only placeholders: they go with the rule and its lines.
    const int32_t placeholderOnly = AddRule("placeholder", 1, "OR");
    AddLine(placeholderOnly, 1, 10, 1, "NAME", 1, "x");
    AddSendMethod(-1, 5, "ORDERS", placeholderOnly);
    AddSendMethod(-1, 6, "INVOICE", placeholderOnly);
    id = placeholderOnly;
    EXPECT_TRUE(rules_.DeleteRule(id));
    EXPECT_EQ(site_->Count("RULEHEADER", "RULEID = " + std::to_string(placeholderOnly)), 0);
    EXPECT_EQ(site_->Count("RULELINE", "RULEID = " + std::to_string(placeholderOnly)), 0);
    EXPECT_EQ(site_->Count("SENDMETHOD", "RULEID = " + std::to_string(placeholderOnly)), 0);
    EXPECT_EQ(site_->Count("SENDMETHOD", "RULEID = " + std::to_string(used)), 2);

    // A rule of another type is deleted without looking at the send methods.
    const int32_t docType = AddRule("doc type", 2, "AND");
    AddSendMethod(8, 5, "ORDERS", docType);
    id = docType;
    EXPECT_TRUE(rules_.DeleteRule(id));
    EXPECT_EQ(site_->Count("RULEHEADER", "RULEID = " + std::to_string(docType)), 0);

    // A send-method rule attached to nothing, and a rule that does not exist.
    const int32_t loose = AddRule("loose", 1, "AND");
    id = loose;
    EXPECT_TRUE(rules_.DeleteRule(id));
    EXPECT_EQ(site_->Count("RULEHEADER", "RULEID = " + std::to_string(loose)), 0);
    id = 99999;
    EXPECT_TRUE(rules_.DeleteRule(id));
    EXPECT_EQ(site_->Count("RULEHEADER", "1 = 1"), 1);
}

TEST_P(RuleStorage, AttachedRulesCountOnlyRealSendMethodsWithARule) {
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods());
    AddSendMethod(7, 5, "ORDERS", -1);   // the partner's default send method
    AddSendMethod(8, 5, "ORDERS", 0);    // no rule either
    AddSendMethod(-1, 5, "ORDERS", 3);   // a placeholder
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods());

    AddSendMethod(9, 6, "INVOICE", 4);
    EXPECT_TRUE(rules_.ExistRulesAttachedToSendMethods());
    EXPECT_TRUE(rules_.ExistRulesAttachedToSendMethods("INVOICE"));
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods("ORDERS"));
    EXPECT_TRUE(rules_.ExistRulesAttachedToSendMethods("", 6));
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods("", 5));
    EXPECT_TRUE(rules_.ExistRulesAttachedToSendMethods("INVOICE", 6, 9));
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods("INVOICE", 6, 7));
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods("", 0, 8));
    // A type text is a value, never a piece of the statement.
    EXPECT_FALSE(rules_.ExistRulesAttachedToSendMethods("X' OR '1'='1"));
    EXPECT_EQ(site_->Count("SENDMETHOD", "1 = 1"), 4);
}

TEST_P(RuleStorage, TheOccurrenceConditionsAreNamedByTheirLabels) {
    EXPECT_EQ(rules_.ConvertConditionString(7), "is part of");
    EXPECT_EQ(rules_.ConvertConditionString(8), "is not part of");
    EXPECT_EQ(rules_.ConvertConditionString(9), "contains");
    EXPECT_EQ(rules_.ConvertConditionString(10), "does not contain");
}

TEST_P(RuleStorage, AFailureIsRaisedWithTheOperationsSource) {
    site_->Exec("DROP TABLE SENDMETHOD");
    try {
        rules_.ExistRulesAttachedToSendMethods();
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("METHOD: Kestrix.Rules.ExistAttachedRulesForSendMethods caught: "),
                  std::string::npos)
            << e.description();
    }
    int32_t id = AddRule("r", 1, "AND");
    try {
        rules_.DeleteRule(id);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("METHOD: Kestrix.Rules.DeleteRule caught: "), std::string::npos);
    }
    EXPECT_EQ(site_->Count("RULEHEADER", "RULEID = " + std::to_string(id)), 1);
}

TEST_P(RuleStorage, ACallerByNameReachesTheSameOperations) {
    ObjectPtr rules = CreateComponent("Kestrix.Rules");
    auto call = [&](std::string_view method, Array args) { return rules->Invoke(method, args); };
    EXPECT_EQ(call("GetRuleType_DOCUMENTTYPERULE", {}).ToLong(), 2);
    const int32_t rule =
        call("AddRule", {Variant("by name"), Variant(2), Variant("ORDERS"), Variant(""), Variant(10), Variant("AND"),
                         Variant(5), Variant(true)})
            .ToLong();
    EXPECT_GT(call("AddRuleLine", {Variant(rule), Variant(1), Variant(10), Variant(1), Variant("NAME"), Variant(1),
                                   Variant("abc")})
                  .ToLong(),
              0);
    EXPECT_EQ(call("GetRuleDescription", {Variant(rule)}).ToString(), "by name");

    auto dom = std::make_shared<xml::XmlDocument>();
    ASSERT_TRUE(dom->LoadXml("<ORDER><NAME>abc</NAME></ORDER>"));
    EXPECT_EQ(call("ExecuteDocumentTypeRuleSet", {Variant(0), Variant(5), Variant(ObjectPtr(dom))}).ToString(),
              "ORDERS");
    EXPECT_FALSE(call("ExistRulesAttachedToSendMethods", {}).ToBool());
    EXPECT_EQ(call("DateToXSLPatternString", {Variant(DateTime::FromParts(2003, 5, 31))}).ToString(), "2003-05-31");
    EXPECT_TRUE(call("DeleteRule", {Variant(rule)}).ToBool());
    EXPECT_EQ(call("GetRuleDescription", {Variant(rule)}).ToString(), "");
    try {
        call("AddRule", {Variant("too few")});
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::MethodNotSupported);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, RuleStorage, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
