#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kestrix/api/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/rules/rules.h"
#include "platform/base/error.h"
#include "platform/membership/directory.h"
#include "platform/services/configuration.h"
#include "platform/xml/xml.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

constexpr int32_t STR = ToInt(FieldType::STRINGFIELD);
constexpr int32_t NUM = ToInt(FieldType::NUMERICFIELD);
constexpr int32_t DATE = ToInt(FieldType::DATEFIELD);
constexpr int32_t TAG = ToInt(TagAttrXsl::TAGVALUE);
constexpr int32_t ATTR = ToInt(TagAttrXsl::ATTRVALUE);
constexpr int32_t XSL = ToInt(TagAttrXsl::XSLPATTERN);

using C = Condition;

const fs::path kPlugin = fs::path(KESTRIX_BINARY_DIR) / "lib" / "libkestrix_test_plugin.so";

template <typename Call>
Error RaisedBy(Call&& call) {
    return test::RaisedBy<Error>(call);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(RuleDates, APatternTextRollsOverLikeADateBuiltFromItsParts) {
    Rules rules;
    EXPECT_EQ(rules.XSLPatternStringToDate("2003-02-30").ToDate(), DateTime::FromParts(2003, 3, 2));
    EXPECT_EQ(rules.XSLPatternStringToDate("2003-13-01").ToDate(), DateTime::FromParts(2004, 1, 1));
    EXPECT_EQ(rules.XSLPatternStringToDate(" 2004-02-29 ").ToDate(), DateTime::FromParts(2004, 2, 29));
    // The separators are not looked at.
    EXPECT_EQ(rules.XSLPatternStringToDate("2003/05x31").ToDate(), DateTime::FromParts(2003, 5, 31));

    EXPECT_EQ(rules.DateToXSLPatternString(DateTime::FromParts(2003, 5, 31, 23, 59, 59)).ToString(), "2003-05-31");
    EXPECT_EQ(rules.DateToXSLPatternString(DateTime::FromParts(987, 1, 2)).ToString(), "0987-01-02");
    EXPECT_EQ(rules.DateToXSLPatternString(Variant("2003-06-01")).ToString(), "2003-06-01");
}

TEST(RuleDates, APartThatIsNoNumberIsATypeMismatch) {
    Rules rules;
    Error e = RaisedBy([&] { rules.XSLPatternStringToDate("2003-ab-01"); });
    EXPECT_EQ(e.number(), errnum::TypeMismatch);
    EXPECT_TRUE(Contains(e.description(), "Kestrix.Rules.XSLPatternStringToDate")) << e.description();
}

class RuleEvaluation : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
        site_ = std::make_unique<test::TestSite>(GetParam());
        std::ofstream(site_->root() / "config" / "components.xml")
            << "<?xml version=\"1.0\"?>\n<Components>\n"
            << "<Component progId=\"KestrixTest.Judge\" library=\"" << kPlugin.string() << "\"/>\n"
            << "<Component progId=\"KestrixTest.Receiver\" library=\"" << kPlugin.string() << "\"/>\n"
            << "</Components>\n";
        membership::Directory directory(site_->connectionString());
        partner_ = directory.AddBusinessPartner("Acme Trading");
        site_->AddUser("brit", partner_, "", 2057);  // writes 31/05/2003
        site_->AddUser("yank", partner_, "", 1033);  // writes 5/31/2003
        site_->AddUser("nolocale", partner_, "", 0);
    }
    void TearDown() override { site_.reset(); }

    int32_t StoreDocument(const std::string& body, const std::string& sender = "brit") {
        Document doc;
        const int32_t id = doc.StoreOriginalDocument(body);
        doc.UpdateDocument(id, "ORDERS", sender, "", DOCUMENTSTATUS::DOCUMENTPUBLISHED, true, -1);
        int32_t ref = id;
        doc.UpdateDocumentWithXmlBody(ref, body);
        return id;
    }
    int32_t AddRule(const std::string& description, int16_t type, const std::string& logic, int32_t sequence,
                    int32_t original = 0, const std::string& assigned = "", const std::string& method = "",
                    bool enabled = true) {
        std::string d = description, a = assigned, m = method, l = logic;
        int32_t s = sequence, o = original;
        bool e = enabled;
        return rules_.AddRule(d, type, a, m, s, l, o, e);
    }
    void AddLine(int32_t rule, int32_t sequence, int32_t fieldType, int32_t kind, const std::string& pattern,
                 Condition condition, const std::string& value) {
        std::string p = pattern, v = value;
        int32_t f = fieldType, s = sequence, k = kind, c = ToInt(condition);
        rules_.AddRuleLine(rule, f, s, k, p, c, v);
    }
    /// A send-method rule attached to the partner's send method `sendMethod` for ORDERS.
    int32_t AddSendMethodRule(const std::string& description, const std::string& logic, int32_t sequence,
                              int32_t sendMethod, const std::string& method = "", bool enabled = true) {
        const int32_t rule = AddRule(description, 1, logic, sequence, 0, "", method, enabled);
        db::Connection connection = GetConnection();
        connection.Execute("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) "
                           "VALUES (" + std::to_string(sendMethod) + ", " + std::to_string(partner_) +
                           ", 'ORDERS', " + std::to_string(rule) + ")");
        return rule;
    }
    int32_t SendMethodRuleFor(int32_t doc) {
        std::string type = "ORDERS";
        int32_t partner = partner_;
        return rules_.ExecuteSendMethodRuleSet(doc, type, partner);
    }
    std::string DocumentTypeFor(const std::string& body, int32_t partner) {
        xml::XmlDocument dom = xml::XmlDocument::FromText(body);
        int32_t none = 0;
        return rules_.ExecuteDocumentTypeRuleSet(none, partner, dom);
    }
    /// One line evaluated on a document.
    bool Line(const std::string& body, int32_t fieldType, const std::string& pattern, Condition condition,
              const std::string& value, int32_t locale = 1033) {
        xml::XmlDocument dom = xml::XmlDocument::FromText(body);
        return rules_.ExecuteRuleLine(pattern, ToInt(condition), value, fieldType, dom, locale);
    }

    std::unique_ptr<test::TestSite> site_;
    Rules rules_;
    int32_t partner_ = 0;
};

const char* const kOrder =
    "<ORDER type=\"rush\"><QTY>9</QTY><NAME>abc</NAME><BLANK>  </BLANK><DATE>31/05/2003</DATE>"
    "<A>1</A><B>2</B><C>3</C><OK>yes</OK><PARTY name=\"O'Brien\">O'Brien &amp; \"Sons\"</PARTY></ORDER>";

TEST_P(RuleEvaluation, TheTenConditionsCompareTextsByCodeNumbersByValueAndOccurrencesIgnoringCase) {
    struct Case {
        int32_t fieldType;
        const char* pattern;
        Condition condition;
        const char* value;
        bool expected;
    };
    const Case cases[] = {
        {NUM, "//QTY", C::GREATERTHAN, "10", false},  // 9 > 10 numerically: no
        {STR, "//QTY", C::GREATERTHAN, "10", true},   // "9" > "10" as texts: yes
        {NUM, "//QTY", C::LOWERTHAN, "10", true},
        {NUM, "//QTY", C::ISEXACTLY, "9.0", true},
        {NUM, "//QTY", C::GREATEREQUAL, "9", true},
        {NUM, "//QTY", C::LOWEREQUAL, "8.5", false},
        {NUM, "//QTY", C::ISNOT, "9", false},
        {NUM, "//QTY", C::ISEXACTLY, "nine", false},  // a value that is no number: missing
        {NUM, "//NAME", C::ISNOT, "1", false},        // a document value that is no number
        {STR, "//NAME", C::ISEXACTLY, "ABC", false},
        {STR, "//NAME", C::ISEXACTLY, "abc", true},
        {STR, "//NAME", C::ISNOT, "ABC", true},
        {STR, "//NAME", C::LOWERTHAN, "abd", true},
        {STR, "//NAME", C::LOWEREQUAL, "ab", false},
        {STR, "//NAME", C::GREATEREQUAL, "abc", true},
        {STR, "//NAME", C::CONTAINS, "B", true},
        {STR, "//NAME", C::NOTCONTAINS, "B", false},
        {STR, "//NAME", C::NOTCONTAINS, "x", true},
        {STR, "//NAME", C::PARTOF, "xxABCxx", true},
        {STR, "//NAME", C::PARTOF, "ab", false},
        {STR, "//NAME", C::NOTPARTOF, "ab", true},
        {STR, "//@type", C::ISEXACTLY, "rush", true},
        {STR, "//PARTY[@name=\"O'Brien\"]", C::ISEXACTLY, "O'Brien & \"Sons\"", true},
        {STR, "//PARTY", C::CONTAINS, "'brien & \"s", true},
        {STR, "//PARTY[", C::ISNOT, "x", false},  // a pattern that is refused selects nothing
        {4, "//NAME", C::ISEXACTLY, "abc", false},  // an unknown field type
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Line(kOrder, c.fieldType, c.pattern, c.condition, c.value), c.expected)
            << c.fieldType << " " << c.pattern << " " << ToInt(c.condition) << " " << c.value;
    }
}

TEST_P(RuleEvaluation, AnAbsentOrBlankValueIsFalseForEveryConditionEvenIsNot) {
    for (int32_t condition = 1; condition <= 10; ++condition) {
        for (const char* pattern : {"//MISSING", "//BLANK", ""}) {
            EXPECT_FALSE(Line(kOrder, STR, pattern, static_cast<Condition>(condition), "x"))
                << pattern << " " << condition;
        }
    }
    EXPECT_FALSE(Line(kOrder, NUM, "//MISSING", C::ISNOT, "1"));
}

TEST_P(RuleEvaluation, DateLinesReadTheDocumentInTheLocaleAndCompareTheIsoText) {
    EXPECT_TRUE(Line(kOrder, DATE, "//DATE", C::LOWERTHAN, "2003-06-01", 2057));
    EXPECT_TRUE(Line(kOrder, DATE, "//DATE", C::ISEXACTLY, "2003-05-31", 2057));
    EXPECT_FALSE(Line(kOrder, DATE, "//DATE", C::GREATERTHAN, "2003-06-01", 2057));
    // Month first: 31 is no month, so the text is no date.
    EXPECT_FALSE(Line(kOrder, DATE, "//DATE", C::LOWERTHAN, "2003-06-01", 1033));
    EXPECT_FALSE(Line(kOrder, DATE, "//DATE", C::ISNOT, "2003-06-01", 1033));
    // A blank line value is false before anything is read.
    EXPECT_FALSE(Line(kOrder, DATE, "//DATE", C::ISNOT, " ", 2057));
    EXPECT_FALSE(Line(kOrder, DATE, "//NAME", C::ISNOT, "2003-06-01", 2057));

    // Locale 0 takes the site's default and keeps it for the following lines.
    services::Configuration::SetValue((site_->root() / "config" / "SiteConfiguration.xml").string(), "GLOBAL",
                                      "SystemLocale", "en-GB");
    ResetThreadCaches();
    int32_t locale = 0;
    xml::XmlDocument dom = xml::XmlDocument::FromText(kOrder);
    EXPECT_TRUE(rules_.ExecuteRuleLine("//DATE", ToInt(C::ISEXACTLY), "2003-05-31", DATE, dom, locale));
    EXPECT_EQ(locale, 2057);
    // A string line leaves it alone.
    locale = 0;
    EXPECT_TRUE(rules_.ExecuteRuleLine("//NAME", ToInt(C::ISEXACTLY), "abc", STR, dom, locale));
    EXPECT_EQ(locale, 0);
}

TEST_P(RuleEvaluation, AnOccurrenceTestOnANumericLineIsAnErrorNamingTheComparison) {
    Error e = RaisedBy([&] { Line(kOrder, NUM, "//QTY", C::PARTOF, "10"); });
    EXPECT_TRUE(Contains(e.description(), "This condition cannot be used on this rule line.")) << e.description();
    EXPECT_TRUE(Contains(e.description(), "METHOD: Kestrix.Rules.ExecuteRuleLine caught: ")) << e.description();
    EXPECT_TRUE(Contains(e.description(), "Additional information: Error comparing numeric values: '9' is part of '10'"))
        << e.description();
    EXPECT_EQ(e.source(), "Kestrix.Rules.ExecuteRuleLineCondition");

    e = RaisedBy([&] { Line(kOrder, DATE, "//DATE", C::CONTAINS, "2003", 2057); });
    EXPECT_TRUE(Contains(e.description(), "Error comparing date values: '31/05/2003' contains '2003'"))
        << e.description();
    e = RaisedBy([&] { Line(kOrder, STR, "//NAME", static_cast<Condition>(0), "abc"); });
    EXPECT_TRUE(Contains(e.description(), "Error comparing string values: 'abc'  'abc'")) << e.description();
}

TEST_P(RuleEvaluation, TheFirstSatisfiedSendMethodRuleInSequenceWins) {
    const int32_t doc = StoreDocument(kOrder);
    EXPECT_EQ(SendMethodRuleFor(doc), -1);  // no rule at all

    const int32_t twenty = AddSendMethodRule("twenty", "AND", 20, 7);
    AddLine(twenty, 10, STR, TAG, "NAME", C::ISEXACTLY, "abc");
    const int32_t ten = AddSendMethodRule("ten", "AND", 10, 8);
    AddLine(ten, 10, NUM, TAG, "QTY", C::LOWERTHAN, "10");
    EXPECT_EQ(SendMethodRuleFor(doc), ten);

    // A disabled rule is never evaluated, and a false rule hands over to the next one.
    const int32_t five = AddSendMethodRule("five disabled", "AND", 5, 9, "", false);
    AddLine(five, 10, STR, TAG, "NAME", C::ISEXACTLY, "abc");
    const int32_t one = AddSendMethodRule("one false", "AND", 1, 10);
    AddLine(one, 10, STR, TAG, "NAME", C::ISEXACTLY, "ABC");
    EXPECT_EQ(SendMethodRuleFor(doc), ten);

    // Only the partner's own send methods for the type count.
    std::string type = "INVOICE";
    int32_t partner = partner_;
    int32_t id = doc;
    EXPECT_EQ(rules_.ExecuteSendMethodRuleSet(id, type, partner), -1);
    type = "ORDERS";
    partner = partner_ + 1;
    EXPECT_EQ(rules_.ExecuteSendMethodRuleSet(id, type, partner), -1);
}

TEST_P(RuleEvaluation, AndStopsAtTheFirstFalseLineOrAtTheFirstTrueLineAndOtherLogicReadsEveryLine) {
    const int32_t doc = StoreDocument(kOrder);
    // The third line would fail if it were evaluated.
    const int32_t andRule = AddSendMethodRule("and", "AND", 10, 7);
    AddLine(andRule, 10, STR, TAG, "NAME", C::ISEXACTLY, "abc");
    AddLine(andRule, 20, STR, TAG, "NAME", C::ISEXACTLY, "zzz");
    AddLine(andRule, 30, NUM, TAG, "QTY", C::PARTOF, "9");
    const int32_t orRule = AddSendMethodRule("or", "OR", 20, 8);
    AddLine(orRule, 10, STR, TAG, "NAME", C::CONTAINS, "B");
    AddLine(orRule, 20, NUM, TAG, "QTY", C::PARTOF, "9");
    EXPECT_EQ(SendMethodRuleFor(doc), orRule);
}

TEST_P(RuleEvaluation, ARuleWithUnknownLogicIsTrueWhenAnyLineIsButReadsThemAll) {
    const int32_t doc = StoreDocument(kOrder);
    const int32_t rule = AddSendMethodRule("lower-case and", "and", 10, 7);
    AddLine(rule, 10, STR, TAG, "NAME", C::ISEXACTLY, "zzz");
    AddLine(rule, 20, STR, TAG, "NAME", C::ISEXACTLY, "abc");
    AddLine(rule, 30, STR, TAG, "NAME", C::ISEXACTLY, "yyy");
    EXPECT_EQ(SendMethodRuleFor(doc), rule);

    // No early end: a failing line after a true one still ends the whole set with an error.
    AddLine(rule, 40, NUM, TAG, "QTY", C::CONTAINS, "9");
    Error e = RaisedBy([&] { SendMethodRuleFor(doc); });
    EXPECT_TRUE(Contains(e.description(), "METHOD: Kestrix.Rules.ExecuteRule caught: ")) << e.description();
    EXPECT_TRUE(Contains(e.description(), "METHOD: Kestrix.Rules.ExecuteSendMethodRuleSet caught: "))
        << e.description();
    EXPECT_TRUE(Contains(e.description(), "Error comparing numeric values: '9'")) << e.description();
}

TEST_P(RuleEvaluation, ARuleWithoutLinesIsNotSatisfied) {
    const int32_t doc = StoreDocument(kOrder);
    AddSendMethodRule("empty", "OR", 10, 7);
    const int32_t later = AddSendMethodRule("later", "OR", 20, 8);
    AddLine(later, 10, STR, ATTR, "type", C::ISEXACTLY, "rush");
    EXPECT_EQ(SendMethodRuleFor(doc), later);
}

TEST_P(RuleEvaluation, SendMethodDatesAreReadInTheSendersLocale) {
    const int32_t rule = AddSendMethodRule("before June", "AND", 10, 7);
    AddLine(rule, 10, DATE, TAG, "DATE", C::LOWERTHAN, "2003-06-01");
    EXPECT_EQ(SendMethodRuleFor(StoreDocument(kOrder, "brit")), rule);
    EXPECT_EQ(SendMethodRuleFor(StoreDocument(kOrder, "yank")), -1);  // 31/05/2003 is no US date
    const std::string us = "<ORDER><DATE>5/31/2003</DATE></ORDER>";
    EXPECT_EQ(SendMethodRuleFor(StoreDocument(us, "yank")), rule);
    // A sender without a locale reads in the default locale (1033 unless the site says otherwise).
    services::Configuration::SetValue((site_->root() / "config" / "SiteConfiguration.xml").string(), "GLOBAL",
                                      "SystemLocale", "1033");
    ResetThreadCaches();
    EXPECT_EQ(SendMethodRuleFor(StoreDocument(us, "nolocale")), rule);

    // A sender the directory does not know is an error of the send-method set.
    Error e = RaisedBy([&] { SendMethodRuleFor(StoreDocument(us, "ghost")); });
    EXPECT_TRUE(Contains(e.description(), "METHOD: Kestrix.Rules.ExecuteSendMethodRuleSet caught: "))
        << e.description();
}

TEST_P(RuleEvaluation, DocumentTypeRulesFallBackToTheRulesForEveryPartner) {
    const int32_t own = AddRule("own", 2, "AND", 10, 5, "INVOICE");
    AddLine(own, 10, STR, TAG, "NAME", C::ISEXACTLY, "nothing like it");
    const int32_t every = AddRule("every partner", 2, "AND", 20, -1, "ORDERS");
    AddLine(every, 10, NUM, TAG, "QTY", C::ISEXACTLY, "9");
    // Rules of another type or another partner do not take part.
    const int32_t sendRule = AddRule("send", 1, "AND", 1, 5, "WRONG");
    AddLine(sendRule, 10, NUM, TAG, "QTY", C::ISEXACTLY, "9");
    const int32_t other = AddRule("other partner", 2, "AND", 1, 6, "OTHER");
    AddLine(other, 10, NUM, TAG, "QTY", C::ISEXACTLY, "9");

    EXPECT_EQ(DocumentTypeFor(kOrder, 5), "ORDERS");
    EXPECT_EQ(DocumentTypeFor(kOrder, 6), "OTHER");
    EXPECT_EQ(DocumentTypeFor("<ORDER><QTY>8</QTY></ORDER>", 5), "");
    EXPECT_EQ(DocumentTypeFor(kOrder, -1), "ORDERS");

    // The partner's own satisfied rule comes first.
    const int32_t ownTrue = AddRule("own true", 2, "OR", 30, 5, "DESADV");
    AddLine(ownTrue, 10, STR, TAG, "NAME", C::ISEXACTLY, "abc");
    EXPECT_EQ(DocumentTypeFor(kOrder, 5), "DESADV");

    // Below -1 nothing falls back.
    const int32_t minusTwo = AddRule("minus two", 2, "OR", 10, -2, "NEVER");
    AddLine(minusTwo, 10, STR, TAG, "NAME", C::ISEXACTLY, "zzz");
    EXPECT_EQ(DocumentTypeFor(kOrder, -2), "");
}

TEST_P(RuleEvaluation, AStoredDocumentIsLoadedIntoTheCallersDom) {
    const int32_t rule = AddRule("brit dates", 2, "AND", 10, 5, "ORDERS");
    AddLine(rule, 10, DATE, TAG, "DATE", C::ISEXACTLY, "2003-05-31");
    services::Configuration::SetValue((site_->root() / "config" / "SiteConfiguration.xml").string(), "GLOBAL",
                                      "SystemLocale", "1033");
    int32_t doc = StoreDocument(kOrder, "brit");
    int32_t partner = 5;
    xml::XmlDocument dom;
    EXPECT_EQ(rules_.ExecuteDocumentTypeRuleSet(doc, partner, dom), "ORDERS");
    EXPECT_TRUE(Contains(dom.Xml(), "<QTY>9</QTY>"));
    // An unknown sender only costs the locale: the default one cannot read 31/05/2003.
    int32_t unknownSender = StoreDocument(kOrder, "ghost");
    EXPECT_EQ(rules_.ExecuteDocumentTypeRuleSet(unknownSender, partner), "");
}

TEST_P(RuleEvaluation, APlugInRuleReceivesTheSelectedValuesInLineOrder) {
    const int32_t doc = StoreDocument(kOrder);
    const int32_t descending = AddSendMethodRule("descending", "AND", 10, 7, "KestrixTest.Judge.Ascending");
    AddLine(descending, 10, STR, TAG, "C", C::ISEXACTLY, "");
    AddLine(descending, 20, STR, TAG, "A", C::ISEXACTLY, "");
    const int32_t ascending = AddSendMethodRule("ascending", "AND", 20, 8, "KestrixTest.Judge.Ascending");
    // Added out of order: the sequence numbers decide.
    AddLine(ascending, 30, STR, XSL, "/ORDER/C", C::ISEXACTLY, "");
    AddLine(ascending, 10, STR, TAG, "A", C::ISEXACTLY, "");
    AddLine(ascending, 20, NUM, TAG, "B", C::PARTOF, "");  // condition and type play no part
    EXPECT_EQ(SendMethodRuleFor(doc), ascending);

    // Through the interface, without a method: a blank value makes the plug-in say no.
    const int32_t viaInterface = AddRule("interface", 2, "AND", 10, 5, "INVOICE", "KestrixTest.Receiver");
    AddLine(viaInterface, 10, STR, TAG, "NAME", C::ISEXACTLY, "");
    AddLine(viaInterface, 20, STR, TAG, "MISSING", C::ISEXACTLY, "");
    // A class without the interface is asked by name ("yes" is its answer true).
    const int32_t byName = AddRule("by name", 2, "AND", 20, 5, "ORDERS", "KestrixTest.Judge");
    AddLine(byName, 10, STR, TAG, "OK", C::ISEXACTLY, "");
    EXPECT_EQ(DocumentTypeFor(kOrder, 5), "ORDERS");
}

TEST_P(RuleEvaluation, APlugInAnswerThatIsNoBooleanIsLoggedAndTheRuleIsNotSatisfied) {
    const int32_t doc = StoreDocument(kOrder);
    const int32_t maybe = AddSendMethodRule("undecided", "AND", 10, 7, "KestrixTest.Judge.Maybe");
    AddLine(maybe, 10, STR, TAG, "C", C::ISEXACTLY, "");
    AddLine(maybe, 20, STR, TAG, "A", C::ISEXACTLY, "");
    const int32_t next = AddSendMethodRule("next", "AND", 20, 8);
    AddLine(next, 10, STR, TAG, "NAME", C::ISEXACTLY, "abc");
    EXPECT_EQ(SendMethodRuleFor(doc), next);
    const std::string log = site_->LogText();
    EXPECT_TRUE(Contains(log, "Kestrix.Rules.ExecuteRule")) << log;
    EXPECT_TRUE(Contains(log, "Method 'KestrixTest.Judge.Maybe' with arguments '3, 1' did not return true or "
                              "false while executing rule 'undecided' with id = " +
                                  std::to_string(maybe)))
        << log;
}

TEST_P(RuleEvaluation, AnUnregisteredOrFailingPlugInEndsTheRuleSetWithAnError) {
    const int32_t doc = StoreDocument(kOrder);
    const int32_t rule = AddSendMethodRule("missing", "AND", 10, 7, "Acme.Missing.Decide");
    AddLine(rule, 10, STR, TAG, "NAME", C::ISEXACTLY, "");
    Error e = RaisedBy([&] { SendMethodRuleFor(doc); });
    EXPECT_TRUE(Contains(e.description(),
                         "object Acme.Missing.Decide not found or method called with wrong number/type of arguments"))
        << e.description();
    EXPECT_TRUE(Contains(e.description(), "METHOD: Kestrix.Rules.ExecuteRule caught: ")) << e.description();

    const int32_t typeRule = AddRule("explodes", 2, "AND", 10, -1, "ORDERS", "KestrixTest.Judge.Explode");
    AddLine(typeRule, 10, STR, TAG, "NAME", C::ISEXACTLY, "");
    e = RaisedBy([&] { DocumentTypeFor(kOrder, 5); });
    EXPECT_EQ(e.number(), 1234);
    EXPECT_TRUE(Contains(e.description(), "METHOD: Kestrix.Rules.ExecuteDocumentTypeRuleSet caught: "))
        << e.description();
}

TEST_P(RuleEvaluation, ADatePatternTextOfAnotherLengthOrWithAZeroPartIsRefused) {
    for (const char* text : {"2003-2-3", "0000-05-31", "2003-00-31", "2003-05-00", "", "2003-05-31T10"}) {
        Error e = RaisedBy([&] { rules_.XSLPatternStringToDate(text); });
        EXPECT_TRUE(Contains(e.description(), std::string(text) + " is not a valid date; use the form yyyy-MM-dd."))
            << text << ": " << e.description();
        EXPECT_EQ(e.source(), "Kestrix.Rules.XSLPatternStringToDate");
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, RuleEvaluation, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
