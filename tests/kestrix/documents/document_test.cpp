#include "kestrix/api/document.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/api/utility.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

using S = DOCUMENTSTATUS;

TEST(DocumentStatusTexts, OnlyTheListedWordsInThreeCapitalisationsAreKnown) {
    Document doc;
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("Accepted"), S::DOCUMENTACCEPTED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("ACCEPT"), S::DOCUMENTACCEPTED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("new"), S::DOCUMENTNEW);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("Publish"), S::DOCUMENTPUBLISHED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("PARTIALLY ACCEPTED"),
              S::DOCUMENTPARTIALLYACCEPTED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("partially accept"), S::DOCUMENTPARTIALLYACCEPTED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("Partially"), S::DOCUMENTPARTIALLYACCEPTED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("removed"), S::DOCUMENTDELETED);
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum("SENT"), S::DOCUMENTSENT);
    for (std::string text : {"aCCepted", "AccepteD", " New", "New ", "", "Partially accepted",
                             "partially  accepted", "Removing", "Unknown", "-1", "0"})
        EXPECT_EQ(doc.ConvertStatusFromStringToEnum(text), S::DOCUMENTUNKNOWNSTATUS) << text;

    for (int32_t known = 0; known <= 5; ++known)
        EXPECT_EQ(ToInt(doc.ConvertStatusFromIntToEnum(known)), known);
    for (int32_t other : {-2, -1, 6, 7, 100})
        EXPECT_EQ(doc.ConvertStatusFromIntToEnum(other), S::DOCUMENTUNKNOWNSTATUS) << other;
}

class DocumentStore : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { site_ = std::make_unique<test::TestSite>(GetParam()); }
    void TearDown() override { site_.reset(); }

    /// One column of a document's row.
    Variant Column(int32_t id, const std::string& column) {
        db::Recordset rs = site_->Query("SELECT " + column +
                                        " FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(id));
        if (rs.Eof()) return Variant{};
        return rs.Field(column);
    }
    /// A finished document as the pipeline leaves it.
    int32_t NewDocument(const std::string& type, const std::string& sender, S status,
                        const std::string& body = "<ORDER><NR>1</NR></ORDER>") {
        int32_t id = doc_.StoreOriginalDocument(body);
        doc_.UpdateDocument(id, type, sender, "", status, true, -1);
        doc_.UpdateDocumentWithXmlBody(id, body);
        return id;
    }

    std::unique_ptr<test::TestSite> site_;
    Document doc_;
};

TEST_P(DocumentStore, ALongBodyRoundTripsThroughTheNewRow) {
    // Multi-byte characters put chunk boundaries inside UTF-8 sequences.
    std::string body = "<DOC>";
    size_t characters = 5;
    const std::string pieces[] = {"a", "ä", "€", "<X/>", "z"};
    for (size_t i = 0; characters < 3'000'000 - 6; ++i) {
        const std::string& piece = pieces[i % 5];
        body += piece;
        characters += piece == "<X/>" ? 4 : 1;
    }
    body += "</DOC>";

    int32_t id = doc_.StoreOriginalDocument(body);
    EXPECT_GT(id, 0);
    EXPECT_EQ(doc_.GetOriginalXmlDocument(id), body);

    // A new row: unknown status, both dates set in the stored form, no type, no standard body.
    EXPECT_EQ(doc_.GetStatusOfDocument(id), S::DOCUMENTUNKNOWNSTATUS);
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(id), "");
    const std::string created = Column(id, "CREATIONDATE").ToString();
    EXPECT_EQ(created.size(), 19u);
    EXPECT_EQ(created, Column(id, "ENTRANCEDATE").ToString());
    EXPECT_TRUE(Column(id, "XMLBODY").IsNull());

    int32_t second = doc_.StoreOriginalDocument("<B/>");
    EXPECT_NE(second, id);
    EXPECT_EQ(doc_.GetOriginalXmlDocument(second), "<B/>");
}

TEST_P(DocumentStore, AMissingRowGivesNeutralAnswersAndChangesNothing) {
    int32_t missing = 987654;
    EXPECT_EQ(doc_.GetXmlDocument(missing), "");
    EXPECT_EQ(doc_.GetOriginalXmlDocument(missing), "");
    EXPECT_TRUE(doc_.GetXmlDomDocument(missing).IsEmpty());
    EXPECT_TRUE(doc_.GetTempXmlDomDocument(missing).IsEmpty());
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(missing), "");
    EXPECT_EQ(doc_.GetSenderOfDocument(missing), "");
    EXPECT_EQ(doc_.GetStatusOfDocument(missing), S::DOCUMENTUNKNOWNSTATUS);
    EXPECT_FALSE(doc_.GetShowFlag(missing));
    EXPECT_NO_THROW(doc_.UpdateDocument(missing, "T", "s", "r", S::DOCUMENTNEW, true, -1));
    EXPECT_NO_THROW(doc_.UpdateDocumentWithXmlBody(missing, "<A/>"));
    EXPECT_NO_THROW(doc_.SetDocumentStatus(missing, S::DOCUMENTDELETED));
    EXPECT_NO_THROW(doc_.CopyOriginalXMLtoTempXMLBody(missing));
    EXPECT_EQ(site_->Query("SELECT COUNT(*) AS N FROM DOCUMENT").GetInt("N"), 0);
}

TEST_P(DocumentStore, AKeyPastThe32BitRangeIsAnOverflowNotAnotherDocumentsNumber) {
    // PostgreSQL's key column is 32 bits wide itself; SQLite's rowid goes on to 64 bits.
    if (GetParam() != "sqlite") GTEST_SKIP() << "only SQLite hands out keys past 2^31";
    site_->Exec("INSERT INTO DOCUMENT (DOCUMENTID, STATUS) VALUES (2147483647, 0)");
    try {
        doc_.StoreOriginalDocument("<A/>");
        FAIL() << "the key 2147483648 was narrowed";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::Overflow);
        EXPECT_NE(e.description().find("the key 2147483648 of DOCUMENT"), std::string::npos)
            << e.description();
    }
    // A child read back with such a key is refused the same way.
    site_->Exec("UPDATE DOCUMENT SET DOC_DOCUMENTID = 7 WHERE DOCUMENTID = 2147483648");
    int32_t parent = 7;
    try {
        doc_.IsValidParentDoc(parent, "alice", SENDERMODE::SENDERMODE);
        FAIL() << "the child's key was narrowed";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::Overflow);
    }
}

TEST_P(DocumentStore, ANullBodyIsAnError) {
    int32_t id = doc_.StoreOriginalDocument("<A/>");
    try {
        doc_.GetXmlDocument(id);
        FAIL() << "a NULL standard body must not read as text";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 94);
        EXPECT_NE(e.description().find("METHOD: Kestrix.Document.GetXmlDocument caught:"),
                  std::string::npos);
    }
    EXPECT_THROW(doc_.GetXmlDomDocument(id), Error);
    EXPECT_THROW(doc_.GetTempXmlDomDocument(id), Error);
}

TEST_P(DocumentStore, ABodyThatIsNoXmlRaisesTheParserDetails) {
    int32_t id = doc_.StoreOriginalDocument("<A/>");
    doc_.UpdateDocumentWithXmlBody(id, "<ORDER>\n<NR>1</NR>\n<OPEN>\n</ORDER>");
    try {
        doc_.GetXmlDomDocument(id);
        FAIL() << "a broken body must not parse";
    } catch (const Error& e) {
        EXPECT_NE(e.number(), 0);
        EXPECT_EQ(e.source(), "Kestrix.Document.GetXMLDomDocument");
        EXPECT_EQ(e.description().rfind(
                      "\r\nMETHOD: Kestrix.Document.GetXmlDomDocument caught: DOM Error: ", 0),
                  0u)
            << e.description();
        EXPECT_GE(e.helpContext(), 3);
    }
    // The work copy is parsed under its own name.
    doc_.CopyOriginalXMLtoTempXMLBody(id);
    site_->Exec("UPDATE DOCUMENT SET TEMPXMLBODY = 'not xml at all' WHERE DOCUMENTID = " +
                std::to_string(id));
    try {
        doc_.GetTempXmlDomDocument(id);
        FAIL() << "a broken work copy must not parse";
    } catch (const Error& e) {
        EXPECT_EQ(e.source(), "Kestrix.Document.GetTempXmlDomDocument");
        EXPECT_NE(e.description().find("DOM Error: "), std::string::npos);
        EXPECT_EQ(e.helpContext(), 1);
    }
    // A sound body parses.
    doc_.UpdateDocumentWithXmlBody(id, "<ORDER><NR> 7 </NR></ORDER>");
    xml::XmlDocument dom = doc_.GetXmlDomDocument(id);
    ASSERT_FALSE(dom.IsEmpty());
    EXPECT_EQ(dom.DocumentElement().Name(), "ORDER");
}

TEST_P(DocumentStore, RewritingABodySetsItsDate) {
    int32_t id = doc_.StoreOriginalDocument("<A/>");
    site_->Exec(
        "UPDATE DOCUMENT SET CREATIONDATE = '2000-01-01 00:00:00', ENTRANCEDATE = "
        "'2000-01-01 00:00:00' WHERE DOCUMENTID = " +
        std::to_string(id));
    doc_.UpdateDocumentWithXmlBody(id, "<B/>");
    EXPECT_EQ(doc_.GetXmlDocument(id), "<B/>");
    EXPECT_GT(Column(id, "CREATIONDATE").ToString(), "2000-01-01 00:00:00");
    EXPECT_EQ(Column(id, "ENTRANCEDATE").ToString(), "2000-01-01 00:00:00");

    doc_.UpdateDocumentWithOriginalXmlBody(id, "<C/>");
    EXPECT_EQ(doc_.GetOriginalXmlDocument(id), "<C/>");
    EXPECT_GT(Column(id, "ENTRANCEDATE").ToString(), "2000-01-01 00:00:00");
    EXPECT_EQ(doc_.GetXmlDocument(id), "<B/>");
}

TEST_P(DocumentStore, CompletingTheRowKeepsATypeThatIsGivenBlank) {
    int32_t parent = NewDocument("ORDERS", "alice", S::DOCUMENTSENT);
    int32_t id = doc_.StoreOriginalDocument("<A/>");
    doc_.UpdateDocument(id, "INVOICE", " bob ", "carol", S::DOCUMENTNEW, false, parent);
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(id), "INVOICE");
    EXPECT_EQ(doc_.GetSenderOfDocument(id), "bob");
    EXPECT_EQ(doc_.GetStatusOfDocument(id), S::DOCUMENTNEW);
    EXPECT_FALSE(doc_.GetShowFlag(id));
    EXPECT_EQ(Column(id, "DEFAULTRECEIVER").ToString(), "carol");
    EXPECT_EQ(Column(id, "DOC_DOCUMENTID").ToLong(), parent);
    EXPECT_EQ(doc_.GetOriginalXmlDocument(id), "<A/>");

    doc_.UpdateDocument(id, "   ", "bob", "", S::DOCUMENTPUBLISHED, true, -1);
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(id), "INVOICE");
    EXPECT_EQ(Column(id, "DOC_DOCUMENTID").ToLong(), parent);
    EXPECT_TRUE(doc_.GetShowFlag(id));
    EXPECT_EQ(doc_.GetStatusOfDocument(id), S::DOCUMENTPUBLISHED);

    // A status outside the known ones reads as unknown.
    site_->Exec("UPDATE DOCUMENT SET STATUS = 9 WHERE DOCUMENTID = " + std::to_string(id));
    EXPECT_EQ(doc_.GetStatusOfDocument(id), S::DOCUMENTUNKNOWNSTATUS);

    EXPECT_FALSE(doc_.UpdateDocTableWithDocType(id, ""));
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(id), "INVOICE");
    EXPECT_TRUE(doc_.UpdateDocTableWithDocType(id, "O'DER"));
    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(id), "O'DER");
}

TEST_P(DocumentStore, StatusRulesKeepDeletedAndSentDocuments) {
    int32_t sent = NewDocument("T", "alice", S::DOCUMENTSENT);
    doc_.SetDocumentStatus(sent, S::DOCUMENTPUBLISHED);
    EXPECT_EQ(doc_.GetStatusOfDocument(sent), S::DOCUMENTSENT);
    doc_.SetDocumentStatus(sent, S::DOCUMENTACCEPTED);
    EXPECT_EQ(doc_.GetStatusOfDocument(sent), S::DOCUMENTACCEPTED);

    int32_t deleted = NewDocument("T", "alice", S::DOCUMENTDELETED);
    doc_.SetDocumentStatus(deleted, S::DOCUMENTACCEPTED);
    EXPECT_EQ(doc_.GetStatusOfDocument(deleted), S::DOCUMENTDELETED);
    doc_.SetDocumentStatus(deleted, S::DOCUMENTPUBLISHED);
    EXPECT_EQ(doc_.GetStatusOfDocument(deleted), S::DOCUMENTDELETED);
    doc_.SetDocumentStatus(deleted, S::DOCUMENTDELETED);
    EXPECT_EQ(doc_.GetStatusOfDocument(deleted), S::DOCUMENTDELETED);

    // A document of an unknown status may be set to anything.
    int32_t fresh = doc_.StoreOriginalDocument("<A/>");
    doc_.SetDocumentStatus(fresh, S::DOCUMENTSENT);
    EXPECT_EQ(doc_.GetStatusOfDocument(fresh), S::DOCUMENTSENT);
}

TEST_P(DocumentStore, PublishingANewDocumentClosesOnlyItsCannotPublishErrors) {
    int32_t id = NewDocument("T", "alice", S::DOCUMENTNEW);
    int32_t other = NewDocument("T", "alice", S::DOCUMENTNEW);
    auto error = [this](int32_t doc, const std::string& label) {
        site_->Exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, LABEL, CLOSED) VALUES (" +
                    std::to_string(doc) + ", '" + label + "', 0)");
    };
    for (const char* label : {"SLBSH0008", "SLBSH4475", "SLBSH4476", "SLBSH4477", "SLBSH4478",
                              "SLBSH4479", "SLBSH4480", "SLBSH4481", "SLBSH4482"})
        error(id, label);
    error(id, "SLBSH1817");  // a delivery failure is no routing failure
    error(other, "SLBSH0008");
    auto open = [this](int32_t doc) {
        return site_
            ->Query(
                "SELECT COUNT(*) AS N FROM PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID "
                "= " +
                std::to_string(doc))
            .GetInt("N");
    };

    // From unknown to published closes nothing.
    int32_t unknown = doc_.StoreOriginalDocument("<A/>");
    error(unknown, "SLBSH0008");
    doc_.SetDocumentStatus(unknown, S::DOCUMENTPUBLISHED);
    EXPECT_EQ(open(unknown), 1);

    doc_.SetDocumentStatus(id, S::DOCUMENTPUBLISHED);
    EXPECT_EQ(doc_.GetStatusOfDocument(id), S::DOCUMENTPUBLISHED);
    EXPECT_EQ(open(id), 1);
    EXPECT_EQ(site_
                  ->Query("SELECT LABEL FROM PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID = " +
                          std::to_string(id))
                  .GetString("LABEL"),
              "SLBSH1817");
    EXPECT_EQ(open(other), 1);
}

TEST_P(DocumentStore, DeletingANewDocumentRemovesItsPublications) {
    auto publish = [this](int32_t doc, const std::string& user) {
        site_->Exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (" +
                    std::to_string(doc) + ", '" + user + "', 0)");
    };
    auto rows = [this](int32_t doc) {
        return site_
            ->Query("SELECT COUNT(*) AS N FROM PUBLICATION WHERE DOCUMENTID = " +
                    std::to_string(doc))
            .GetInt("N");
    };
    int32_t fresh = NewDocument("T", "alice", S::DOCUMENTNEW);
    int32_t published = NewDocument("T", "alice", S::DOCUMENTPUBLISHED);
    publish(fresh, "bob");
    publish(fresh, "carol");
    publish(published, "bob");

    doc_.SetDocumentStatus(fresh, S::DOCUMENTDELETED);
    EXPECT_EQ(doc_.GetStatusOfDocument(fresh), S::DOCUMENTDELETED);
    EXPECT_EQ(rows(fresh), 0);
    doc_.SetDocumentStatus(published, S::DOCUMENTDELETED);
    EXPECT_EQ(rows(published), 1);

    // The two explicit removals touch only the document named.
    publish(fresh, "dave");
    doc_.deleteAllUsersFromPublicationList(Variant(std::to_string(published)));
    EXPECT_EQ(rows(published), 0);
    EXPECT_EQ(rows(fresh), 1);
    doc_.RemoveRecipientsForDocument(fresh);
    EXPECT_EQ(rows(fresh), 0);
}

TEST_P(DocumentStore, OnlyUnfinishedDocumentsAreRemovedAndNeverDocumentZero) {
    int32_t typed = NewDocument("T", "alice", S::DOCUMENTNEW);
    int32_t untyped = doc_.StoreOriginalDocument("<A/>");
    int32_t blank = doc_.StoreOriginalDocument("<A/>");
    site_->Exec("UPDATE DOCUMENT SET DOCUMENTTYPEID = '' WHERE DOCUMENTID = " +
                std::to_string(blank));
    site_->Exec("INSERT INTO DOCUMENT (DOCUMENTID, STATUS) VALUES (0, -1)");

    for (int32_t id : {typed, untyped, blank}) doc_.RemoveInvalidDocument(id);
    int32_t zero = 0;
    doc_.RemoveInvalidDocument(zero);

    EXPECT_EQ(doc_.GetDocumentTypeOfDocument(typed), "T");
    EXPECT_TRUE(Column(untyped, "STATUS").IsEmpty());
    EXPECT_TRUE(Column(blank, "STATUS").IsEmpty());
    EXPECT_FALSE(Column(0, "STATUS").IsEmpty());
}

TEST_P(DocumentStore, TheShowFlagFollowsTheQelshowTag) {
    auto show = [&](const std::string& body) {
        xml::XmlDocument dom = xml::XmlDocument::FromText(body);
        return doc_.GetShowFlagFromDoc(dom);
    };
    EXPECT_TRUE(show("<ORDER><NR>1</NR></ORDER>"));
    EXPECT_TRUE(show("<ORDER><HEAD><QELSHOW> true </QELSHOW></HEAD></ORDER>"));
    EXPECT_TRUE(show("<ORDER><QELSHOW>TRUE</QELSHOW></ORDER>"));
    EXPECT_TRUE(show("<ORDER><QELSHOW/></ORDER>"));
    EXPECT_TRUE(show("<ORDER><QELSHOW>  </QELSHOW></ORDER>"));
    EXPECT_FALSE(show("<ORDER><QELSHOW>yes</QELSHOW></ORDER>"));
    EXPECT_FALSE(show("<ORDER><QELSHOW>false</QELSHOW></ORDER>"));
    EXPECT_FALSE(show("<ORDER><QELSHOW>1</QELSHOW></ORDER>"));
    // Only the first tag counts.
    EXPECT_FALSE(show("<ORDER><QELSHOW>no</QELSHOW><QELSHOW>true</QELSHOW></ORDER>"));
}

TEST_P(DocumentStore, TheWorkCopyIsFilledOnceFromTheBestBody) {
    // No standard body: the work copy is the body as received, and stays so.
    int32_t id = doc_.StoreOriginalDocument("<RECEIVED/>");
    doc_.CopyOriginalXMLtoTempXMLBody(id);
    EXPECT_EQ(Column(id, "TEMPXMLBODY").ToString(), "<RECEIVED/>");
    doc_.UpdateDocumentWithOriginalXmlBody(id, "<RECEIVED2/>");
    doc_.UpdateDocumentWithXmlBody(id, "<STANDARD/>");
    doc_.CopyOriginalXMLtoTempXMLBody(id);
    EXPECT_EQ(Column(id, "TEMPXMLBODY").ToString(), "<RECEIVED/>");

    // Emptied, it is filled from the standard body.
    doc_.UpdateTempXMLBodyWithNULLInDocument(id);
    EXPECT_TRUE(Column(id, "TEMPXMLBODY").IsNull());
    doc_.CopyOriginalXMLtoTempXMLBody(id);
    EXPECT_EQ(Column(id, "TEMPXMLBODY").ToString(), "<STANDARD/>");
    EXPECT_EQ(doc_.GetTempXmlDomDocument(id).DocumentElement().Name(), "STANDARD");

    // An empty standard body counts as none.
    int32_t blank = doc_.StoreOriginalDocument("<RECEIVED/>");
    doc_.UpdateDocumentWithXmlBody(blank, "");
    site_->Exec("UPDATE DOCUMENT SET TEMPXMLBODY = '' WHERE DOCUMENTID = " + std::to_string(blank));
    doc_.CopyOriginalXMLtoTempXMLBody(blank);
    EXPECT_EQ(Column(blank, "TEMPXMLBODY").ToString(), "<RECEIVED/>");
}

TEST_P(DocumentStore, BodiesAreCopiedBetweenColumns) {
    int32_t id = doc_.StoreOriginalDocument("<RECEIVED/>");
    site_->Exec("UPDATE DOCUMENT SET CREATIONDATE = '2000-01-01 00:00:00' WHERE DOCUMENTID = " +
                std::to_string(id));
    doc_.CopyOriginalXMLtoXMLBody(id, false);
    EXPECT_EQ(doc_.GetXmlDocument(id), "<RECEIVED/>");
    EXPECT_TRUE(Column(id, "TEMPXMLBODY").IsNull());
    EXPECT_GT(Column(id, "CREATIONDATE").ToString(), "2000-01-01 00:00:00");

    doc_.UpdateDocumentWithXmlBody(id, "<STANDARD/>");
    doc_.CopyOriginalXMLtoXMLBody(id, true);
    EXPECT_EQ(doc_.GetXmlDocument(id), "<RECEIVED/>");
    EXPECT_EQ(Column(id, "TEMPXMLBODY").ToString(), "<RECEIVED/>");

    site_->Exec("UPDATE DOCUMENT SET TEMPXMLBODY = '<WORK/>' WHERE DOCUMENTID = " +
                std::to_string(id));
    doc_.CopyTempXMLtoXMLBody(id);
    EXPECT_EQ(doc_.GetXmlDocument(id), "<WORK/>");
    EXPECT_EQ(doc_.GetOriginalXmlDocument(id), "<RECEIVED/>");
}

/// A document of type T from alice; bob is on the type's list with a live publication,
/// carol has a publication but is not on the list, dave is on the list but deleted his.
class DocumentVisibility : public DocumentStore {
  protected:
    void SetUp() override {
        DocumentStore::SetUp();
        site_->Exec(
            "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES "
            "('T', 'Type', 'render.xsl')");
        site_->Exec(
            "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, EMAIL, HTMLATTACHMENT) VALUES "
            "('T', 'bob', 1, 1)");
        site_->Exec(
            "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, EMAIL, HTMLATTACHMENT) VALUES "
            "('T', 'dave', 1, 0)");
        site_->Exec(
            "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, EMAIL, HTMLATTACHMENT) VALUES "
            "('T', 'erin', 0, 0)");
        site_->Exec(
            "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, EMAIL, HTMLATTACHMENT) VALUES "
            "('U', 'carol', 1, 0)");
        id_ = NewDocument("T", "alice", S::DOCUMENTPUBLISHED);
        Publish(id_, "bob", 0);
        Publish(id_, "carol", 0);
        Publish(id_, "dave", 2);
        Publish(id_, "erin", 5);
    }
    void Publish(int32_t doc, const std::string& user, int status) {
        site_->Exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (" +
                    std::to_string(doc) + ", '" + user + "', " + std::to_string(status) + ")");
    }
    void SetStatus(int32_t doc, S status) {
        site_->Exec("UPDATE DOCUMENT SET STATUS = " + std::to_string(ToInt(status)) +
                    " WHERE DOCUMENTID = " + std::to_string(doc));
    }
    int32_t id_ = 0;
};

TEST_P(DocumentVisibility, RecipientsAreLiveListedPublicationsOfTheType) {
    Utility utility;
    db::Recordset all = utility.GetRecipientsFromPublicationTable(id_, "T");
    std::string users;
    for (; !all.Eof(); all.MoveNext()) {
        users += all.GetString("USERID") + ",";
        EXPECT_EQ(all.GetString("HTMLATTACHMENTXSL"), "render.xsl");
    }
    EXPECT_TRUE(users == "bob,erin," || users == "erin,bob,") << users;
    db::Recordset mail = utility.GetRecipientsFromPublicationTable(id_, "T", true);
    ASSERT_EQ(mail.RowCount(), 1u);
    EXPECT_EQ(mail.GetString("USERID"), "bob");
    EXPECT_EQ(mail.GetInt("HTMLATTACHMENT"), 1);
    EXPECT_EQ(utility.GetRecipientsFromPublicationTable(id_, "T' OR '1'='1").RowCount(), 0u);

    EXPECT_TRUE(doc_.UserIsRecipientOfDoc(id_, "bob"));
    EXPECT_TRUE(doc_.UserIsRecipientOfDoc(id_, "erin"));
    EXPECT_FALSE(doc_.UserIsRecipientOfDoc(id_, "carol"));
    EXPECT_FALSE(doc_.UserIsRecipientOfDoc(id_, "dave"));
    EXPECT_FALSE(doc_.UserIsRecipientOfDoc(id_, "Bob"));
    EXPECT_FALSE(doc_.UserIsRecipientOfDoc(id_, "alice"));

    // Without a type nobody is a recipient.
    site_->Exec("UPDATE DOCUMENT SET DOCUMENTTYPEID = NULL WHERE DOCUMENTID = " +
                std::to_string(id_));
    EXPECT_FALSE(doc_.UserIsRecipientOfDoc(id_, "bob"));
}

TEST_P(DocumentVisibility, SenderAndRecipientsSeeADocumentByItsStatus) {
    const auto mode = SENDERMODE::RECEIVERMODE;
    EXPECT_TRUE(doc_.IsValidChildDoc(id_, "alice", mode));
    EXPECT_TRUE(doc_.IsValidChildDoc(id_, "bob", SENDERMODE::SENDERMODE));
    EXPECT_FALSE(doc_.IsValidChildDoc(id_, "carol", mode));
    EXPECT_FALSE(doc_.IsValidChildDoc(id_, "ALICE", mode));

    // A new document is not yet the recipients'.
    SetStatus(id_, S::DOCUMENTNEW);
    EXPECT_TRUE(doc_.IsValidChildDoc(id_, "alice", mode));
    EXPECT_FALSE(doc_.IsValidChildDoc(id_, "bob", mode));

    // A deleted one is the sender's no more, unless the sender is also a recipient.
    SetStatus(id_, S::DOCUMENTDELETED);
    EXPECT_FALSE(doc_.IsValidChildDoc(id_, "alice", mode));
    EXPECT_TRUE(doc_.IsValidChildDoc(id_, "bob", mode));
    site_->Exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID) VALUES ('T', 'alice')");
    Publish(id_, "alice", 1);
    EXPECT_TRUE(doc_.IsValidChildDoc(id_, "alice", mode));

    // Without a type, not even the sender.
    SetStatus(id_, S::DOCUMENTPUBLISHED);
    site_->Exec("UPDATE DOCUMENT SET DOCUMENTTYPEID = '' WHERE DOCUMENTID = " +
                std::to_string(id_));
    EXPECT_FALSE(doc_.IsValidChildDoc(id_, "alice", mode));
}

TEST_P(DocumentVisibility, AParentIsSeenThroughAnyOfItsForwardedDocuments) {
    int32_t parent = NewDocument("P", "zoe", S::DOCUMENTSENT);
    const auto mode = SENDERMODE::RECEIVERMODE;
    EXPECT_FALSE(doc_.IsValidParentDoc(parent, "bob", mode));  // nothing forwarded yet

    int32_t hidden = NewDocument("T", "xavier", S::DOCUMENTNEW);
    doc_.UpdateDocument(hidden, "T", "xavier", "", S::DOCUMENTNEW, true, parent);
    Publish(hidden, "bob", 0);
    EXPECT_FALSE(doc_.IsValidParentDoc(parent, "bob", mode));
    EXPECT_TRUE(doc_.IsValidParentDoc(parent, "xavier", mode));

    doc_.UpdateDocument(id_, "T", "alice", "", S::DOCUMENTPUBLISHED, true, parent);
    EXPECT_TRUE(doc_.IsValidParentDoc(parent, "bob", mode));
    EXPECT_TRUE(doc_.IsValidParentDoc(parent, "alice", mode));
    EXPECT_FALSE(doc_.IsValidParentDoc(parent, "carol", mode));
    EXPECT_FALSE(doc_.IsValidParentDoc(parent, "zoe", mode));  // the parent's own sender
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentStore, ::testing::ValuesIn(test::Backends()));
INSTANTIATE_TEST_SUITE_P(Backends, DocumentVisibility, ::testing::ValuesIn(test::Backends()));

TEST(DocumentClass, IsCreatedByItsRegisteredName) {
    EXPECT_NE(std::dynamic_pointer_cast<Document>(CreateComponent("Kestrix.Document")), nullptr);
}

}  // namespace
}  // namespace kestrix
