#include "platform/db/schema.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/base/error.h"
#include "tests/support/backends.h"

namespace kestrix::db {
namespace {

class SchemaTest : public ::testing::TestWithParam<std::string> {
protected:
    SchemaTest() : scratch_(GetParam()) { test::ApplyKestrixSchema(scratch_); }

    Connection Open() { return Connection(scratch_.connectionString()); }

    /// A small exchange: one type, a sender and a recipient on its distribution list, one
    /// document with a user-defined field, an attachment and a failed delivery.
    void Populate(Connection& c) {
        c.Execute("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, EXTDESCRIPTION, "
                  "ICONFILENAME, HTMLATTACHMENTXSL) VALUES ('ORDER', 'Order', 'Purchase order', "
                  "'order.gif', 'order.xsl')");
        c.Execute("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, "
                  "HTMLATTACHMENT) VALUES ('ORDER', 'bob', 7, 1, 1)");
        c.Execute("INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) "
                  "VALUES ('ORDER', 'alice', 1, 3)");
        EditRow doc;
        doc.Set("CREATIONDATE", "2024-05-01 10:00:00");
        doc.Set("ENTRANCEDATE", "2024-05-01 10:00:00");
        doc.Set("STATUS", -1);
        doc.AppendChunk("ORIGINALXMLBODY", "<ORDER><SENDER>alice</SENDER></ORDER>");
        docId_ = c.Insert("DOCUMENT", doc, "DOCUMENTID");
        std::optional<EditRow> row = c.Edit("DOCUMENT", "DOCUMENTID = " + Connection::EncodeNumber(docId_));
        ASSERT_TRUE(row.has_value());
        row->Set("DOCUMENTTYPEID", "ORDER");
        row->Set("SENDER", "alice");
        row->Set("STATUS", 1);
        row->Set("XMLBODY", "<ORDER/>");
        c.Update("DOCUMENT", *row, "DOCUMENTID = " + Connection::EncodeNumber(docId_));

        EditRow tag;
        tag.Set("DOCUMENTTYPEID", "ORDER");
        tag.Set("XSLPATTERN", "SENDER");
        tag.Set("TAGATTRXSL", 1);
        tag.Set("DESCRIPTION", "Sender");
        tag.Set("SEQUENCENUMBER", 1);
        tagId_ = c.Insert("TAGSCONFIG", tag, "TAGID");
        c.Execute("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (" + Id() + ", " +
                  Connection::EncodeNumber(tagId_) + ", 'alice')");
        c.Execute("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + Id() +
                  ", 'terms.pdf')");

        EditRow error;
        error.Set("DOCUMENTID", docId_);
        error.Set("ERRORNUMBER", -2147220990);
        error.Set("DESCRIPTION", "delivery failed");
        error.Set("SOURCE", "Kestrix.PushDocUtils.ExecuteSendMethod");
        error.Set("LABEL", "SLBSH4475");
        error.Set("CREATIONDATE", "2024-05-01 10:01:00");
        errorId_ = c.Insert("PUBLICATIONERRORS", error, "PUBLICATIONERRORID");
        c.Execute("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) "
                  "VALUES (11, 7, 'ORDER', -1)");
        EditRow history;
        history.Set("SENDMETHODID", 11);
        history.Set("BUSINESSPARTNERID", 7);
        history.Set("RULEID", -1);
        history.Set("DOCUMENTID", docId_);
        history.Set("DOCUMENTTYPEID", "ORDER");
        history.Set("PUBLICATIONERRORID", errorId_);
        history.Set("Status", 0);
        history.Set("SENDDATE", "2024-05-01 10:01:00");
        c.Insert("SENDMETHODHISTORY", history, "HISTORYID");
    }

    std::string Id() const { return Connection::EncodeNumber(docId_); }

    test::ScratchDatabase scratch_;
    int64_t docId_ = 0, tagId_ = 0, errorId_ = 0;
};

TEST_P(SchemaTest, StartsEmptyAndTheMainScriptRunsAgainOnAnExistingDatabase) {
    Connection c = Open();
    const auto script = std::filesystem::path(KESTRIX_DATA_DIR) / "schema" /
                        SchemaFolderName(c.dialect()) / "10-kestrix.sql";
    std::ifstream in(script);
    ASSERT_TRUE(in) << script;
    std::ostringstream text;
    text << in.rdbuf();
    c.ExecuteScript(text.str());
    for (const char* table :
         {"DOCUMENT", "PUBLICATION", "PUBLICATIONERRORS", "DOCUMENTTYPE", "DOCTYPETODOCTYPE",
          "RECEIVEMETHOD", "SENDERLIST", "DISTRIBUTIONLIST", "COLLABORATIONPARAMETER", "I18NTEXT",
          "RULEHEADER", "RULELINE", "TAGSVALUE", "TAGSCONFIG", "XMLTEMPLATE", "SENDMETHOD",
          "SENDMETHODPROPERTY", "SENDMETHODHISTORY", "ATTACHMENT"})
        EXPECT_EQ(c.Query(std::string("SELECT COUNT(*) AS N FROM ") + table).GetInt("N"), 0) << table;
}

TEST_P(SchemaTest, MissingFolderIsAClearError) {
    Connection c = Open();
    EXPECT_THROW(ApplySchema(c, std::filesystem::path(KESTRIX_DATA_DIR) / "no-such-folder"), Error);
}

TEST_P(SchemaTest, NewRowsTakeTheDefaultsTheReadersExpect) {
    Connection c = Open();
    Populate(c);
    // A new document starts shown; an error starts open; a publication starts new.
    Recordset doc = c.Query("SELECT STATUS, SHOW, DOC_DOCUMENTID FROM DOCUMENT WHERE DOCUMENTID = " + Id());
    EXPECT_EQ(doc.GetInt("STATUS"), 1);
    EXPECT_EQ(doc.GetInt("SHOW"), 1);
    EXPECT_TRUE(doc.IsNull("DOC_DOCUMENTID"));
    EXPECT_EQ(c.Query("SELECT PUBLICATIONERRORID FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + Id() +
                      " AND CLOSED = 0")
                  .GetInt("PUBLICATIONERRORID"),
              errorId_);
}

TEST_P(SchemaTest, PublicationAndDeliveryStatementsRun) {
    Connection c = Open();
    Populate(c);
    // Recipients from the distribution list, at most one row per user.
    const std::string fill = "INSERT INTO PUBLICATION SELECT " + Id() +
                             ", DISTRIBUTIONLIST.USERID, 0, 0, NULL FROM DISTRIBUTIONLIST WHERE "
                             "DISTRIBUTIONLIST.DOCUMENTTYPEID = 'ORDER'  AND BUSINESSPARTNERID = 7 "
                             "AND DISTRIBUTIONLIST.USERID NOT IN (SELECT PUBLICATION.USERID FROM "
                             "PUBLICATION WHERE PUBLICATION.USERID = DISTRIBUTIONLIST.USERID AND "
                             "DOCUMENTID = " + Id() + ")";
    EXPECT_EQ(c.Execute(fill), 1);
    EXPECT_EQ(c.Execute(fill), 0);
    EXPECT_EQ(c.Execute("UPDATE PUBLICATION SET PUBLICATIONERRORID = " +
                        Connection::EncodeNumber(errorId_) + " WHERE (DOCUMENTID = " + Id() +
                        ") AND (USERID = 'bob')"),
              1);

    Recordset push = c.Query(
        " SELECT DISTINCT s.DOCUMENTTYPEID,s.BUSINESSPARTNERID,s.SENDMETHODID,s.RULEID FROM "
        "PUBLICATION AS p,DISTRIBUTIONLIST AS d,SENDMETHOD AS s WHERE     p.DOCUMENTID = " + Id() +
        " AND p.USERID = d.USERID AND d.DOCUMENTTYPEID = s.DOCUMENTTYPEID AND d.BUSINESSPARTNERID = "
        "s.BUSINESSPARTNERID ORDER BY s.DOCUMENTTYPEID, s.BUSINESSPARTNERID, s.RULEID");
    ASSERT_EQ(push.RowCount(), 1u);
    EXPECT_EQ(push.GetInt("SENDMETHODID"), 11);

    Recordset mail = c.Query(
        "SELECT EMAIL, HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT "
        "FROM PUBLICATION INNER JOIN DISTRIBUTIONLIST ON PUBLICATION.USERID = "
        "DISTRIBUTIONLIST.USERID LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
        "DISTRIBUTIONLIST.DOCUMENTTYPEID WHERE (PUBLICATION.DOCUMENTID = " + Id() + ") "
        "AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = 'ORDER') AND (DISTRIBUTIONLIST.EMAIL = 1) AND "
        "(PUBLICATION.STATUS NOT IN (2,3,7,8,9) )");
    ASSERT_EQ(mail.RowCount(), 1u);
    EXPECT_EQ(mail.GetString("HTMLATTACHMENTXSL"), "order.xsl");

    Recordset resend = c.Query(
        " SELECT SMH.DOCUMENTID AS DID,  SMH.SENDMETHODID as SID,  SMH.BUSINESSPARTNERID AS BPID,  "
        "D.SENDER as SENDER  FROM   SENDMETHODHISTORY SMH,  DOCUMENT D  WHERE  "
        "SMH.PUBLICATIONERRORID = " + Connection::EncodeNumber(errorId_) +
        " AND    D.DOCUMENTID = SMH.DOCUMENTID");
    ASSERT_FALSE(resend.Eof());
    EXPECT_EQ(resend.GetInt("SID"), 11);
    EXPECT_EQ(resend.GetString("SENDER"), "alice");

    EXPECT_EQ(c.Query("SELECT SENDMETHODHISTORY.HISTORYID FROM SENDMETHODHISTORY LEFT OUTER JOIN "
                      "DOCUMENT ON SENDMETHODHISTORY.DOCUMENTID = DOCUMENT.DOCUMENTID WHERE "
                      "((SENDMETHODHISTORY.DOCUMENTTYPEID = 'ORDER' AND BUSINESSPARTNERID = 7) OR "
                      "(DOCUMENT.SENDER = 'alice')) AND (SENDMETHODHISTORY.DOCUMENTID = " + Id() + ")")
                  .RowCount(),
              1u);
    EXPECT_EQ(c.Query("SELECT USERID FROM DISTRIBUTIONLIST WHERE USERID = 'bob'AND DOCUMENTTYPEID = "
                      "'ORDER'")
                  .RowCount(),
              1u);
    EXPECT_EQ(c.Query("SELECT TABLEID FROM DOCUMENT, DOCTYPETODOCTYPE WHERE DOCUMENTID = " + Id() +
                      " AND DOCUMENT.DOCUMENTTYPEID = DOCTYPETODOCTYPE.DOCUMENTTYPEID")
                  .RowCount(),
              0u);
    EXPECT_EQ(c.Query("SELECT TEMPXMLBODY, XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " + Id() +
                      " AND (TEMPXMLBODY LIKE '' OR TEMPXMLBODY IS NULL) AND NOT (XMLBODY LIKE '' "
                      "OR XMLBODY IS NULL)")
                  .RowCount(),
              1u);
}

TEST_P(SchemaTest, DocumentListQueriesRun) {
    Connection c = Open();
    Populate(c);
    c.Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (" + Id() +
              ", 'bob', 0, 0)");
    const std::string tag = Connection::EncodeNumber(tagId_);
    const std::string tagSelect = ", T1.TAGVALUE AS T1";
    const std::string tagFrom = " LEFT OUTER JOIN ( SELECT TAGVALUE, DOCUMENTID FROM   TAGSVALUE "
                                "WHERE  TAGID = " + tag + ") AS T1 ON DOCUMENT.DOCUMENTID = T1.DOCUMENTID ";
    const std::string inbox =
        "SELECT DISTINCT DOCUMENT.STATUS AS DSTATUS, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER, "
        "DOCUMENT.DOCUMENTID, DOCUMENT.DOCUMENTTYPEID, CHILDS.DOC_DOCUMENTID AS CHILDID, NR, "
        "PUBLICATION.DOCUMENTID, PUBLICATION.USERID, PUBLICATION.STATUS, PUBLICATION.FORWARD" +
        tagSelect +
        " FROM DOCUMENT INNER JOIN PUBLICATION ON PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID "
        "LEFT OUTER JOIN DOCUMENT AS CHILDS  ON DOCUMENT.DOCUMENTID = CHILDS.DOC_DOCUMENTID LEFT "
        "OUTER JOIN ( SELECT  COUNT(ATTACHMENTID) AS NR, DOCUMENTID  FROM    ATTACHMENT GROUP BY "
        "DOCUMENTID) AS A ON DOCUMENT.DOCUMENTID = A.DOCUMENTID " +
        tagFrom +
        " WHERE PUBLICATION.USERID = 'bob' AND   DOCUMENT.DOCUMENTTYPEID= 'ORDER' AND   "
        "PUBLICATION.STATUS NOT IN (2,3,7,8,9) AND   DOCUMENT.STATUS <> 0 AND (NOT "
        "DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL) AND "
        "(DOCUMENT.SHOW = 1)  AND ( DOCUMENT.SENDER LIKE " + c.EncodeLike("AL%") + " )  "
        "ORDER BY DOCUMENT.CREATIONDATE DESC";
    Recordset rs = c.Query(inbox);
    ASSERT_EQ(rs.RowCount(), 1u);
    EXPECT_EQ(rs.GetInt("NR"), 1);
    EXPECT_EQ(rs.GetString("T1"), "alice");
    EXPECT_TRUE(rs.IsNull("CHILDID"));

    const std::string select = " SELECT DISTINCT  DOCUMENT.DOCUMENTID, DOCUMENT.CREATIONDATE, "
                               "DOCUMENT.SENDER, DOCUMENT.DOCUMENTTYPEID" + tagSelect;
    const std::string errorBox =
        " ( " + select +
        " FROM    PUBLICATIONERRORS PE  INNER JOIN DOCUMENT ON DOCUMENT.DOCUMENTID = PE.DOCUMENTID "
        "INNER JOIN DOCUMENTTYPE ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID" +
        tagFrom +
        " WHERE PE.CLOSED = 0 AND   DOCUMENT.SENDER = 'alice' AND   DOCUMENT.DOCUMENTTYPEID = "
        "'ORDER' AND (NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL) "
        " ) UNION ( " + select +
        " FROM   SENDMETHODHISTORY SMH INNER JOIN PUBLICATIONERRORS PE ON SMH.PUBLICATIONERRORID "
        "= PE.PUBLICATIONERRORID INNER JOIN DOCUMENT ON SMH.DOCUMENTID = DOCUMENT.DOCUMENTID "
        "INNER JOIN DOCUMENTTYPE ON SMH.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID INNER JOIN "
        "PUBLICATION P ON DOCUMENT.DOCUMENTID = P.DOCUMENTID" +
        tagFrom +
        " WHERE  SMH.PUBLICATIONERRORID > 0 AND    SMH.BUSINESSPARTNERID = 7 AND    P.USERID = "
        "'bob' AND    P.STATUS NOT IN (2,3,7,8,9)  AND   DOCUMENT.DOCUMENTTYPEID = 'ORDER' AND "
        "(NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL) AND "
        "(DOCUMENT.SHOW = 1)   )";
    EXPECT_EQ(c.Query(errorBox).RowCount(), 1u);

    Recordset details = c.Query(
        "SELECT DOCUMENT.SENDER, DOCUMENT.CREATIONDATE, PUBLICATION.STATUS, PUBLICATION.FORWARD, "
        "DOCUMENTTYPE.DESCRIPTION, TAGSVALUE.TAGVALUE, TAGSCONFIG.DESCRIPTION AS TAGDESCRIPTION "
        "FROM DOCUMENT INNER JOIN DOCUMENTTYPE ON DOCUMENT.DOCUMENTTYPEID = "
        "DOCUMENTTYPE.DOCUMENTTYPEID INNER JOIN PUBLICATION ON PUBLICATION.DOCUMENTID = "
        "DOCUMENT.DOCUMENTID LEFT OUTER JOIN TAGSVALUE ON DOCUMENT.DOCUMENTID = "
        "TAGSVALUE.DOCUMENTID LEFT OUTER JOIN TAGSCONFIG ON TAGSVALUE.TAGID = TAGSCONFIG.TAGID "
        "WHERE (PUBLICATION.USERID = 'bob') AND (DOCUMENT.DOCUMENTID = " + Id() +
        ") AND DOCUMENT.STATUS <> 0 ORDER BY TAGSCONFIG.SEQUENCENUMBER");
    ASSERT_EQ(details.RowCount(), 1u);
    EXPECT_EQ(details.GetString("TAGDESCRIPTION"), "Sender");

    Recordset refs = c.Query(
        "SELECT DISTINCT DOCUMENT.DOCUMENTTYPEID AS DO, RECEIVEMETHOD.DOCUMENTTYPEID AS R, "
        "TAGSCONFIG.DOCUMENTTYPEID AS T, SENDMETHOD.DOCUMENTTYPEID AS SM, "
        "XMLTEMPLATE.DOCUMENTTYPEID AS X, DOCTYPETODOCTYPE.DOCUMENTTYPEID AS DD, "
        "DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID AS DN, SENDERLIST.DOCUMENTTYPEID AS SL, "
        "DISTRIBUTIONLIST.DOCUMENTTYPEID AS DB, RULEHEADER.ASSIGNEDID AS A FROM DOCUMENTTYPE LEFT "
        "OUTER JOIN DOCUMENT ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID LEFT OUTER "
        "JOIN RECEIVEMETHOD ON RECEIVEMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID LEFT "
        "OUTER JOIN TAGSCONFIG ON TAGSCONFIG.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID LEFT "
        "OUTER JOIN SENDMETHOD ON SENDMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID LEFT "
        "OUTER JOIN XMLTEMPLATE ON XMLTEMPLATE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID LEFT "
        "OUTER JOIN DOCTYPETODOCTYPE ON (DOCTYPETODOCTYPE.DOCUMENTTYPEID = "
        "DOCUMENTTYPE.DOCUMENTTYPEID OR DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID = "
        "DOCUMENTTYPE.DOCUMENTTYPEID) LEFT OUTER JOIN SENDERLIST ON SENDERLIST.DOCUMENTTYPEID = "
        "DOCUMENTTYPE.DOCUMENTTYPEID LEFT OUTER JOIN DISTRIBUTIONLIST ON "
        "DISTRIBUTIONLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID LEFT OUTER JOIN RULEHEADER "
        "ON RULEHEADER.ASSIGNEDID = DOCUMENTTYPE.DOCUMENTTYPEID WHERE DOCUMENTTYPE.DOCUMENTTYPEID = "
        "'ORDER'");
    ASSERT_FALSE(refs.Eof());
    EXPECT_EQ(refs.GetString("DO"), "ORDER");
    EXPECT_TRUE(refs.IsNull("R"));
    EXPECT_EQ(refs.GetString("SM"), "ORDER");
}

TEST_P(SchemaTest, RuleLabelAndParameterStatementsRun) {
    Connection c = Open();
    EditRow rule;
    for (auto [column, value] : std::initializer_list<std::pair<const char*, Variant>>{
             {"DESCRIPTION", "big orders"}, {"RULETYPE", 1}, {"ASSIGNEDID", ""}, {"METHODCALL", ""},
             {"SEQUENCENUMBER", 1}, {"RULELOGIC", 1}, {"ORIGINALID", -1}, {"ENABLED", 1}})
        rule.Set(column, value);
    const int64_t ruleId = c.Insert("RULEHEADER", rule, "RULEID");
    EditRow line;
    for (auto [column, value] : std::initializer_list<std::pair<const char*, Variant>>{
             {"RULEID", ruleId}, {"FIELDTYPE", 2}, {"SEQUENCENUMBER", 1}, {"TAGATTRXSL", 1},
             {"XSLPATTERN", "TOTAL"}, {"CONDITION", 2}, {"VALUE", "1000"}})
        line.Set(column, value);
    EXPECT_GT(c.Insert("RULELINE", line, "LINEID"), 0);
    EXPECT_EQ(c.Query("SELECT RULEID FROM SENDMETHOD WHERE NOT RULEID = -1 AND NOT RULEID = 0 AND "
                      "NOT SENDMETHODID = -1 ")
                  .RowCount(),
              0u);
    EXPECT_EQ(c.Query("Select * From RULEHEADER WHERE RULEID = " + Connection::EncodeNumber(ruleId))
                  .GetString("description"),
              "big orders");

    c.Execute("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES ('SLBSH0001', 1033, 'Hello')");
    EXPECT_EQ(c.Query("SELECT I18NTEXT.TEXT FROM I18NTEXT WHERE LABEL = 'SLBSH0001' AND LOCALEID = "
                      "1033")
                  .GetString("TEXT"),
              "Hello");
    c.Execute("INSERT INTO COLLABORATIONPARAMETER (PARAMNAME, PARAMVALUE) VALUES "
              "('AttachmentsFolder', ' /srv/att ')");
    EXPECT_EQ(c.Query("SELECT PARAMNAME, PARAMVALUE FROM COLLABORATIONPARAMETER WHERE (PARAMNAME = "
                      "'AttachmentsVirtualPath') OR (PARAMNAME = 'AttachmentsFolder')")
                  .RowCount(),
              1u);

    EditRow method;
    method.Set("AUTOPUSH", 1);
    method.Set("PROTOCOL", 40);
    method.Set("PORT", -1);
    method.Set("PASSWORD", "pw");
    const int64_t methodId = c.Insert("SENDMETHODPROPERTY", method, "SENDMETHODID");
    Recordset props = c.Query("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID = " +
                              Connection::EncodeNumber(methodId));
    EXPECT_EQ(props.GetInt("PORT"), -1);
    EXPECT_TRUE(props.IsNull("PROXYPORT"));
    EXPECT_TRUE(props.Field("AUTOPUSH").ToBool());

    EditRow tmpl;
    tmpl.Set("DOCUMENTTYPEID", "ORDER");
    tmpl.Set("XMLTEMPLATEURL", Null{});
    tmpl.Set("XSLURL", "form.xsl");
    EXPECT_GT(c.Insert("XMLTEMPLATE", tmpl, "XMLTEMPLATEID"), 0);
    EditRow receive;
    receive.Set("DOCUMENTTYPEID", "ORDER");
    receive.Set("BUSINESSPARTNERID", 7);
    receive.Set("XSLFILENAME", "in.xsl");
    EXPECT_GT(c.Insert("RECEIVEMETHOD", receive, "RECEIVEMETHODID"), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, SchemaTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix::db
