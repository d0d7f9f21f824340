#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/web/collaboration.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

/// Alice (Acme) sends an order to bob and carol (Bolt), who are on its distribution list.
class CollaborationActions : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        site_ = std::make_unique<test::TwoPartnerSite>(GetParam());
        doc_ = AddDoc("alice", 1);
        Publish(doc_, "bob");
        Publish(doc_, "carol");
    }
    void TearDown() override { site_.reset(); }

    static int32_t AddDoc(const std::string& sender, int status, int32_t parent = 0) {
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", "ORDER");
        row.Set("SENDER", sender);
        row.Set("STATUS", status);
        if (parent != 0) row.Set("DOC_DOCUMENTID", parent);
        return static_cast<int32_t>(GetConnection().Insert("DOCUMENT", row, "DOCUMENTID"));
    }
    static void Publish(int32_t doc, const std::string& user, int status = 0) {
        GetConnection().Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (?, ?, ?)",
                                {Variant(doc), Variant(user), Variant(status)});
    }
    static void SetRow(int32_t doc, const std::string& user, int status) {
        GetConnection().Execute("UPDATE PUBLICATION SET STATUS = ? WHERE DOCUMENTID = ? AND USERID = ?",
                                {Variant(status), Variant(doc), Variant(user)});
    }
    static int64_t DocStatus(int32_t doc) {
        return GetConnection().Query("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = ?", {Variant(doc)})
            .GetInt("STATUS");
    }

    std::unique_ptr<test::TwoPartnerSite> site_;
    Collaboration collaboration_;
    int32_t doc_ = 0;
};

TEST_P(CollaborationActions, ARequestedStatusKeepsTheStrongerStateOfTheRow) {
    struct Case {
        int current, requested, expected;
    };
    for (const Case c : {Case{1, 5, 1}, Case{5, 6, 6}, Case{6, 5, 5}, Case{5, 0, 5}, Case{4, 2, 7},
                         Case{3, 2, 2}, Case{2, 2, 2}, Case{6, 3, 9}, Case{0, 5, 5}, Case{7, 1, 1},
                         Case{8, 6, 8}, Case{1, 4, 4}}) {
        SetRow(doc_, "bob", c.current);
        collaboration_.SetPublicationStatus(doc_, "bob", c.requested);
        EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "bob"), c.expected)
            << c.current << " asked " << c.requested;
    }
    // Carol's row is never touched by bob's requests; a user without a row stays without.
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "carol"), 0);
    collaboration_.SetPublicationStatus(doc_, "dave", 1);
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "dave"), -1);
    // An error identifier is stored without touching the status.
    SetRow(doc_, "bob", 5);
    collaboration_.SetPublicationStatus(doc_, "bob", 1, 12);
    db::Recordset row = GetConnection().Query(
        "SELECT STATUS, PUBLICATIONERRORID FROM PUBLICATION WHERE DOCUMENTID = ? AND USERID = 'bob'",
        {Variant(doc_)});
    EXPECT_EQ(row.GetInt("STATUS"), 5);
    EXPECT_EQ(row.GetInt("PUBLICATIONERRORID"), 12);
    // A status that does not exist is refused, not stored.
    EXPECT_THROW(collaboration_.SetPublicationStatus(doc_, "bob", 42), Error);
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "bob"), 5);
}

TEST_P(CollaborationActions, AcceptingMovesTheDocumentAndIsOneUnitOfWork) {
    collaboration_.AcceptPublication(doc_, "bob");
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "bob"), 1);
    EXPECT_EQ(DocStatus(doc_), 3);  // partially accepted: carol has not
    // Someone without a publication changes nothing, and is told.
    EXPECT_THROW(collaboration_.AcceptPublication(doc_, "mallory"), Error);
    EXPECT_EQ(DocStatus(doc_), 3);

    // When the document cannot be changed, carol's acceptance is not kept either.
    site_->Exec("ALTER TABLE DOCUMENT RENAME TO DOCUMENT_AWAY");
    EXPECT_THROW(collaboration_.AcceptPublication(doc_, "carol"), Error);
    site_->Exec("ALTER TABLE DOCUMENT_AWAY RENAME TO DOCUMENT");
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "carol"), 0);
    EXPECT_EQ(DocStatus(doc_), 3);

    collaboration_.AcceptPublication(doc_, "carol");
    EXPECT_EQ(DocStatus(doc_), 2);
    // An accepted-and-deleted row still counts as accepted.
    collaboration_.deleteDocument2(doc_, "ORDER", 1, "bob", "");
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "bob"), 3);
    collaboration_.AcceptPublication(doc_, "carol");
    EXPECT_EQ(DocStatus(doc_), 2);
}

TEST_P(CollaborationActions, DeletingRemovesTheDocumentOnlyFromTheUsersOwnBox) {
    EXPECT_FALSE(collaboration_.deleteDocument2(doc_, "ORDER", 3, "alice", ""));  // upload mode
    // Only the sender deletes a document for everyone.
    EXPECT_FALSE(collaboration_.deleteDocument2(doc_, "ORDER", 0, "bob", ""));
    EXPECT_EQ(DocStatus(doc_), 1);
    // A recipient deletes his own row: its deleted counterpart, and again stays deleted.
    SetRow(doc_, "bob", 4);
    EXPECT_TRUE(collaboration_.deleteDocument2(doc_, "ORDER", 1, "bob", ""));
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "bob"), 7);
    EXPECT_TRUE(collaboration_.deleteDocument2(doc_, "ORDER", 2, "bob", ""));
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "bob"), 2);
    EXPECT_EQ(collaboration_.GetPublicationStatus(doc_, "carol"), 0);
    EXPECT_EQ(DocStatus(doc_), 1);
    // The sender's deletion marks the document and leaves the rows.
    EXPECT_TRUE(collaboration_.deleteDocument2(doc_, "ORDER", 0, "alice", ""));
    EXPECT_EQ(DocStatus(doc_), 4);
    EXPECT_EQ(site_->Count("PUBLICATION", "DOCUMENTID = " + std::to_string(doc_)), 2);

    // A child: its recipient deletes his row, its sender the document.
    const int32_t child = AddDoc("bob", 1, doc_);
    Publish(child, "carol", 5);
    EXPECT_TRUE(collaboration_.deleteDocument2(child, "ORDER", 1, "carol", "", true));
    EXPECT_EQ(collaboration_.GetPublicationStatus(child, "carol"), 8);
    EXPECT_EQ(DocStatus(child), 1);
    EXPECT_TRUE(collaboration_.deleteDocument2(child, "ORDER", 1, "bob", "", true));
    EXPECT_EQ(DocStatus(child), 4);
}

TEST_P(CollaborationActions, DetailQueriesShowADocumentOnlyToItsSenderAndRecipients) {
    GetConnection().Execute("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (?, 'terms.pdf')",
                            {Variant(doc_)});
    auto rows = [](const BoundSql& q) {
        return GetConnection().Query(q.sql, q.params).RowCount();
    };
    EXPECT_GT(rows(collaboration_.DocumentDetailsQuery(0, doc_, "alice")), 0u);
    EXPECT_EQ(rows(collaboration_.DocumentDetailsQuery(0, doc_, "bob")), 0u);
    EXPECT_GT(rows(collaboration_.DocumentDetailsQuery(1, doc_, "bob")), 0u);
    EXPECT_EQ(rows(collaboration_.DocumentDetailsQuery(1, doc_, "alice")), 0u);
    EXPECT_GT(rows(collaboration_.DocumentDetailsQuery(2, doc_, "carol")), 0u);
    EXPECT_EQ(rows(collaboration_.DocumentDetailsQuery(2, doc_, "mallory")), 0u);
    EXPECT_EQ(collaboration_.GetDocumentDetails2(7, doc_, "alice"), "");
    EXPECT_EQ(rows(collaboration_.AddresseeStatusQuery(doc_, "alice")), 2u);
    EXPECT_EQ(rows(collaboration_.AddresseeStatusQuery(doc_, "bob")), 0u);
    EXPECT_EQ(rows(collaboration_.DocumentAttachmentsQuery(false, doc_, "bob")), 1u);
    EXPECT_EQ(rows(collaboration_.DocumentAttachmentsQuery(true, doc_, "mallory")), 0u);
    // The texts for callers by name run the same.
    db::Connection connection = GetConnection();
    EXPECT_EQ(connection.Query(collaboration_.GetAddresseeStatusQueryStr(doc_, "alice")).RowCount(), 2u);
    EXPECT_EQ(connection.Query(collaboration_.GetDocumentAttachmentsQueryStr(false, doc_, "o'hara")).RowCount(), 0u);
    EXPECT_EQ(connection.Query(collaboration_.GetDocumentTypeListQueryStr2(0, "alice")).GetString("DOCUMENTTYPEID"),
              "ORDER");
    EXPECT_EQ(connection.Query(collaboration_.GetDocumentTypeListQueryStr2(1, "bob")).RowCount(), 1u);
    collaboration_.deleteDocument2(doc_, "ORDER", 1, "bob", "");
    EXPECT_EQ(connection.Query(collaboration_.GetDocumentTypeListQueryStr2(1, "bob")).RowCount(), 0u);
}

TEST_P(CollaborationActions, ReferencesToADocumentTypeAreNamedBeforeItIsDeleted) {
    Queries queries;
    EXPECT_EQ(queries.CheckDocTypeReferences("INVOICE"), "");
    site_->Exec("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID) VALUES (1, 1, 'INVOICE')");
    EXPECT_EQ(queries.CheckDocTypeReferences("INVOICE"), "Array(\"Send methods\")");
    const std::string order = queries.CheckDocTypeReferences("ORDER");
    EXPECT_TRUE(order.starts_with("Array(\"Documents\",")) << order;
    EXPECT_EQ(queries.CheckDocTypeReferences("NOSUCHTYPE"), "");
    EXPECT_EQ(queries.CheckDocTypeReferences("x' OR '1'='1"), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, CollaborationActions, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
