#include "kestrix/rules/user_defined_fields.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/xml/xml.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

using Values = std::map<int64_t, std::string>;

class UserDefinedFieldsTest : public ::testing::TestWithParam<std::string> {
  protected:
    db::Connection Db() { return db::Connection(site_.connectionString()); }

    int32_t NewDocument(const std::string& type, const std::optional<std::string>& body) {
        db::Connection c = Db();
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", type);
        if (body)
            row.Set("XMLBODY", *body);
        else
            row.Set("XMLBODY", Null{});
        row.Set("ORIGINALXMLBODY", "<x/>");
        row.Set("STATUS", 1);
        return static_cast<int32_t>(c.Insert("DOCUMENT", row, "DOCUMENTID"));
    }

    int32_t NewField(const std::string& type, TagAttrXsl kind, const std::string& pattern) {
        return NewField(type, ToInt(kind), pattern);
    }
    int32_t NewField(const std::string& type, int kind, const std::string& pattern) {
        db::Connection c = Db();
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", type);
        row.Set("TAGATTRXSL", kind);
        row.Set("XSLPATTERN", pattern);
        row.Set("DESCRIPTION", pattern);
        return static_cast<int32_t>(c.Insert("TAGSCONFIG", row, "TAGID"));
    }

    /// The stored values of a document by field.
    Values ValuesOf(int32_t doc) {
        db::Connection c = Db();
        db::Recordset rs = c.Query("SELECT TAGID, TAGVALUE FROM TAGSVALUE WHERE DOCUMENTID = " +
                                   std::to_string(doc));
        Values values;
        for (; !rs.Eof(); rs.MoveNext()) {
            auto [it, fresh] = values.emplace(rs.GetInt("TAGID"), rs.GetString("TAGVALUE"));
            EXPECT_TRUE(fresh) << "two rows for field " << it->first << " of document " << doc;
        }
        return values;
    }

    /// Makes every insert of a value for that document fail.
    void RefuseValuesOf(int32_t doc) {
        db::Connection c = Db();
        const std::string id = std::to_string(doc);
        if (c.dialect() == db::Dialect::SQLite) {
            c.Execute(
                "CREATE TRIGGER REFUSE_VALUE BEFORE INSERT ON TAGSVALUE WHEN NEW.DOCUMENTID = " +
                id + " BEGIN SELECT RAISE(ABORT, 'value refused'); END");
        } else {
            c.Execute(
                "CREATE FUNCTION REFUSE_VALUE() RETURNS trigger AS $$ BEGIN IF NEW.DOCUMENTID = " +
                id +
                " THEN RAISE EXCEPTION 'value refused'; END IF; RETURN NEW; END $$ "
                "LANGUAGE plpgsql");
            c.Execute(
                "CREATE TRIGGER REFUSE_VALUE BEFORE INSERT ON TAGSVALUE FOR EACH ROW "
                "EXECUTE FUNCTION REFUSE_VALUE()");
        }
    }

    test::TestSite site_{GetParam()};
    UserDefinedFields fields_;
};

const char* const kOrder =
    "<ORDER number=\"A-17\"><BUYER>  O'Neil \"&amp;\" Sons  </BUYER>"
    "<LINE><ITEM>bolt</ITEM></LINE><LINE><ITEM>nut</ITEM></LINE></ORDER>";

TEST_P(UserDefinedFieldsTest, EveryFieldOfTheTypeStoresOneValueFromTheStoredBody) {
    const int32_t buyer = NewField("ORDER", TagAttrXsl::TAGVALUE, "BUYER");
    const int32_t number = NewField("ORDER", TagAttrXsl::ATTRVALUE, "number");
    const int32_t second = NewField("ORDER", TagAttrXsl::XSLPATTERN, "/ORDER/LINE[2]/ITEM");
    const int32_t missing = NewField("ORDER", TagAttrXsl::TAGVALUE, "NOTHERE");
    const int32_t broken = NewField("ORDER", TagAttrXsl::XSLPATTERN, "//LINE[[]");
    const int32_t unknownKind = NewField("ORDER", 0, "BUYER");
    const int32_t otherType = NewField("INVOICE", TagAttrXsl::TAGVALUE, "BUYER");
    int32_t doc = NewDocument("ORDER", kOrder);

    fields_.UpdateValuesInTagsValueTable(doc, "ORDER");

    Values values = ValuesOf(doc);
    EXPECT_EQ(values, (Values{{buyer, "O'Neil \"&\" Sons"},
                              {number, "A-17"},
                              {second, "nut"},
                              {missing, ""},
                              {broken, ""},
                              {unknownKind, ""}}));
    EXPECT_EQ(values.count(otherType), 0u);
}

TEST_P(UserDefinedFieldsTest, LongValuesKeepTheirFirstHundredCharactersWhole) {
    const int32_t plain = NewField("ORDER", TagAttrXsl::TAGVALUE, "PLAIN");
    const int32_t accented = NewField("ORDER", TagAttrXsl::TAGVALUE, "ACCENTED");
    const int32_t wide = NewField("ORDER", TagAttrXsl::TAGVALUE, "WIDE");
    const int32_t exact = NewField("ORDER", TagAttrXsl::TAGVALUE, "EXACT");
    // 150 ASCII characters; 98 + "ü€" puts a three-byte character at the cut; 99 + a
    // four-byte character, then more; exactly 100 characters of two bytes each.
    std::string accentedText = std::string(98, 'a') + "ü€ßxyz";
    std::string wideText = std::string(99, 'w') + "\xF0\x9F\x98\x80" + "tail";
    std::string exactText;
    for (int i = 0; i < 100; ++i) exactText += "é";
    int32_t doc =
        NewDocument("ORDER", "<ORDER><PLAIN>" + std::string(150, 'p') + "</PLAIN><ACCENTED>" +
                                 accentedText + "</ACCENTED><WIDE>" + wideText + "</WIDE><EXACT>" +
                                 exactText + "</EXACT></ORDER>");

    fields_.UpdateValuesInTagsValueTable(doc, "ORDER");

    Values values = ValuesOf(doc);
    EXPECT_EQ(values[plain], std::string(100, 'p'));
    EXPECT_EQ(values[accented], std::string(98, 'a') + "ü€");
    EXPECT_EQ(values[wide], std::string(99, 'w') + "\xF0\x9F\x98\x80");
    EXPECT_EQ(values[exact], exactText);
}

TEST_P(UserDefinedFieldsTest, FillingReplacesTheDocumentsValuesAndNothingElse) {
    const int32_t buyer = NewField("ORDER", TagAttrXsl::TAGVALUE, "BUYER");
    int32_t doc = NewDocument("ORDER", kOrder);
    int32_t neighbour = NewDocument("ORDER", kOrder);
    fields_.UpdateValuesInTagsValueTable(neighbour, "ORDER");

    xml::XmlDocument first = xml::XmlDocument::FromText("<ORDER><BUYER>first</BUYER></ORDER>");
    xml::XmlDocument second = xml::XmlDocument::FromText("<ORDER><BUYER>second</BUYER></ORDER>");
    EXPECT_TRUE(fields_.FillTagsValueTable(doc, "ORDER", first));
    {
        db::Connection c = Db();
        EXPECT_TRUE(fields_.FillTagsValueTable(doc, "ORDER", second, c));
    }
    EXPECT_EQ(ValuesOf(doc), (Values{{buyer, "second"}}));
    EXPECT_EQ(ValuesOf(neighbour), (Values{{buyer, "O'Neil \"&\" Sons"}}));

    // A document without content leaves the stored values as they are.
    EXPECT_TRUE(fields_.FillTagsValueTable(doc, "ORDER", xml::XmlDocument()));
    EXPECT_TRUE(fields_.FillTagsValueTable(doc, "ORDER", Variant()));
    EXPECT_EQ(ValuesOf(doc), (Values{{buyer, "second"}}));

    // The same through a variant holding the document.
    Variant held(ObjectPtr(std::make_shared<xml::XmlDocument>(
        xml::XmlDocument::FromText("<ORDER><BUYER>third</BUYER></ORDER>"))));
    EXPECT_TRUE(fields_.FillTagsValueTable(doc, "ORDER", held));
    EXPECT_EQ(ValuesOf(doc), (Values{{buyer, "third"}}));

    // A type without fields keeps no values for the document.
    EXPECT_TRUE(fields_.FillTagsValueTable(doc, "UNCONFIGURED", second));
    EXPECT_TRUE(ValuesOf(doc).empty());

    fields_.DeleteTagsForDocument(neighbour);
    EXPECT_EQ(site_.Count("TAGSVALUE", "1 = 1"), 0);
}

TEST_P(UserDefinedFieldsTest, AValueThatIsNoDocumentIsATypeMismatch) {
    NewField("ORDER", TagAttrXsl::TAGVALUE, "BUYER");
    int32_t doc = NewDocument("ORDER", kOrder);
    try {
        fields_.FillTagsValueTable(doc, "ORDER", Variant("<ORDER/>"));
        FAIL() << "a text was taken for a document";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::TypeMismatch);
        EXPECT_NE(
            e.description().find("METHOD: Kestrix.UserDefinedFields.FillTagsValueTable caught: "),
            std::string::npos);
    }
    EXPECT_EQ(site_.Count("TAGSVALUE", "1 = 1"), 0);
}

TEST_P(UserDefinedFieldsTest, AFieldIsRecomputedForEveryDocumentOfItsType) {
    const int32_t buyer = NewField("ORDER", TagAttrXsl::TAGVALUE, "BUYER");
    const int32_t number = NewField("ORDER", TagAttrXsl::ATTRVALUE, "number");
    std::vector<int32_t> docs;
    for (int i = 0; i < 10; ++i) {
        std::string body = "<ORDER number=\"" + std::to_string(i) + "\"><BUYER>buyer " +
                           std::to_string(i) + "</BUYER></ORDER>";
        if (i == 4) body = "<ORDER><BUYER>never closed</ORDER>";
        docs.push_back(NewDocument("ORDER", body));
    }
    int32_t withoutBody = NewDocument("ORDER", std::nullopt);
    int32_t invoice = NewDocument("INVOICE", "<ORDER><BUYER>invoice</BUYER></ORDER>");
    // Stale rows of the field are replaced; the other field's rows stay.
    {
        db::Connection c = Db();
        c.Execute("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (" +
                  std::to_string(docs[4]) + ", " + std::to_string(buyer) + ", 'stale')");
        c.Execute("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (" +
                  std::to_string(docs[0]) + ", " + std::to_string(number) + ", 'kept')");
    }

    int32_t tag = buyer;
    EXPECT_TRUE(fields_.UpdateTagsValueTable("ORDER", tag).IsEmpty());

    EXPECT_EQ(site_.Count("TAGSVALUE", "TAGID = " + std::to_string(buyer)), 9);
    for (int i = 0; i < 10; ++i) {
        Values values = ValuesOf(docs[i]);
        if (i == 4) {
            EXPECT_EQ(values.count(buyer), 0u) << "the body that does not parse gets no value";
        } else {
            EXPECT_EQ(values[buyer], "buyer " + std::to_string(i));
        }
    }
    EXPECT_TRUE(ValuesOf(withoutBody).empty());
    EXPECT_TRUE(ValuesOf(invoice).empty());
    EXPECT_EQ(ValuesOf(docs[0])[number], "kept");
    EXPECT_EQ(site_.LogText().find("Unable to update user-defined fields"), std::string::npos);

    // A field the type does not define only loses its rows.
    tag = NewField("INVOICE", TagAttrXsl::TAGVALUE, "BUYER");
    {
        db::Connection c = Db();
        c.Execute("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (" +
                  std::to_string(docs[1]) + ", " + std::to_string(tag) + ", 'stale')");
    }
    fields_.UpdateTagsValueTable("ORDER", tag);
    EXPECT_EQ(site_.Count("TAGSVALUE", "TAGID = " + std::to_string(tag)), 0);
}

TEST_P(UserDefinedFieldsTest, ATypeWithManyDocumentsIsRecomputedCompletely) {
    const int32_t buyer = NewField("ORDER", TagAttrXsl::TAGVALUE, "BUYER");
    const int documents = 450;
    {
        db::Connection c = Db();
        std::string sql = "INSERT INTO DOCUMENT (DOCUMENTTYPEID, XMLBODY, STATUS) VALUES ";
        for (int i = 0; i < documents; ++i) {
            if (i) sql += ", ";
            sql += "('ORDER', '<ORDER><BUYER>b" + std::to_string(i) + "</BUYER></ORDER>', 1)";
        }
        c.Execute(sql);
    }
    fields_.AddTagsValueTable("ORDER", buyer);

    db::Connection c = Db();
    EXPECT_EQ(site_.Count("TAGSVALUE", "TAGID = " + std::to_string(buyer)), documents);
    db::Recordset mismatched = c.Query(
        "SELECT COUNT(*) AS N FROM TAGSVALUE V JOIN DOCUMENT D ON D.DOCUMENTID = V.DOCUMENTID "
        "WHERE D.XMLBODY <> '<ORDER><BUYER>' || V.TAGVALUE || '</BUYER></ORDER>'");
    EXPECT_EQ(mismatched.GetInt("N"), 0);
    EXPECT_EQ(c.Query("SELECT COUNT(DISTINCT DOCUMENTID) AS N FROM TAGSVALUE").GetInt("N"),
              documents);
}

TEST_P(UserDefinedFieldsTest, AValueThatCannotBeStoredIsLoggedAndTheOthersAreWritten) {
    const int32_t buyer = NewField("ORDER", TagAttrXsl::TAGVALUE, "BUYER");
    int32_t first = NewDocument("ORDER", kOrder);
    int32_t refused = NewDocument("ORDER", kOrder);
    int32_t last = NewDocument("ORDER", kOrder);
    RefuseValuesOf(refused);

    fields_.AddTagsValueTable("ORDER", buyer);

    EXPECT_EQ(ValuesOf(first).size(), 1u);
    EXPECT_TRUE(ValuesOf(refused).empty());
    EXPECT_EQ(ValuesOf(last).size(), 1u);
    const std::string log = site_.LogText();
    EXPECT_NE(log.find("Kestrix.Utility.AddTagsValueTable caught: "), std::string::npos) << log;
    EXPECT_NE(log.find("Unable to update user-defined fields for xml document with id '" +
                       std::to_string(refused) + " and type 'ORDER'"),
              std::string::npos)
        << log;

    // Filling that one document is a failure its caller sees, one level wrapping the next.
    try {
        fields_.UpdateValuesInTagsValueTable(refused, "ORDER");
        FAIL() << "a value that was refused was reported as stored";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("value refused"), std::string::npos) << e.description();
        size_t fill = e.description().find("METHOD: Kestrix.UserDefinedFields.FillTagsValueTable");
        size_t update =
            e.description().find("METHOD: Kestrix.UserDefinedFields.UpdateValuesInTagsValueTable");
        ASSERT_NE(fill, std::string::npos) << e.description();
        ASSERT_NE(update, std::string::npos) << e.description();
        EXPECT_LT(update, fill) << "the outer level wraps the inner one";
    }
}

TEST_P(UserDefinedFieldsTest, FailuresOutsideTheDocumentsNameTheTypeTheFieldAndThePattern) {
    const int32_t buyer = NewField("O'RDER", TagAttrXsl::TAGVALUE, "BUYER");
    NewDocument("O'RDER", kOrder);
    {
        db::Connection c = Db();
        c.Execute("ALTER TABLE DOCUMENT RENAME TO DOCUMENT_AWAY");
    }
    try {
        fields_.AddTagsValueTable("O'RDER", buyer);
        FAIL() << "a missing table was not reported";
    } catch (const Error& e) {
        EXPECT_NE(
            e.description().find("METHOD: Kestrix.UserDefinedFields.AddTagsValueTable caught: "),
            std::string::npos);
        EXPECT_NE(
            e.description().find("Additional information: Document Type ID: 'O'RDER', Tag ID: '" +
                                 std::to_string(buyer) + "', XSL pattern: '//BUYER'"),
            std::string::npos)
            << e.description();
    }
    int32_t tag = buyer;
    try {
        fields_.UpdateTagsValueTable("O'RDER", tag);
        FAIL() << "a missing table was not reported";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("Additional information: Doc. Type ID: 'O'RDER' Tag ID: '" +
                                       std::to_string(buyer) + "'"),
                  std::string::npos)
            << e.description();
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, UserDefinedFieldsTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
