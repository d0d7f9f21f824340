#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/web/collaboration.h"
#include "kestrix/web/sql_queries.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

constexpr int kInbox = 1, kOutbox = 0, kErrorBox = 2;

/// Alice (Acme) sends orders; bob and carol (Bolt) receive them.
class DocumentLists : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { site_ = std::make_unique<test::TwoPartnerSite>(GetParam()); }
    void TearDown() override { site_.reset(); }

    static int32_t AddDoc(const std::string& type, const std::string& sender, int status,
                          int32_t parent = 0) {
        db::Connection connection = GetConnection();
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", type);
        row.Set("SENDER", sender);
        row.Set("STATUS", status);
        row.Set("SHOW", 1);
        if (parent != 0) row.Set("DOC_DOCUMENTID", parent);
        return static_cast<int32_t>(connection.Insert("DOCUMENT", row, "DOCUMENTID"));
    }
    static void Publish(int32_t doc, const std::string& user, int status = 0) {
        GetConnection().Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (?, ?, ?)",
                                {Variant(doc), Variant(user), Variant(status)});
    }
    static int32_t AddTag(const std::string& type) {
        db::EditRow row;
        row.Set("DOCUMENTTYPEID", type);
        row.Set("DESCRIPTION", "Order number");
        row.Set("SEQUENCENUMBER", 1);
        return static_cast<int32_t>(GetConnection().Insert("TAGSCONFIG", row, "TAGID"));
    }
    /// The documents a built query lists (the column of DOCUMENT.DOCUMENTID by its position).
    static std::set<int64_t> Run(const BoundSql& q, size_t idColumn = 3) {
        std::set<int64_t> ids;
        for (db::Recordset rs = GetConnection().Query(q.sql, q.params); !rs.Eof(); rs.MoveNext())
            ids.insert(rs.Field(idColumn).ToLong());
        return ids;
    }
    static std::set<int64_t> RunText(const std::string& sql, size_t idColumn = 3) {
        std::set<int64_t> ids;
        for (db::Recordset rs = GetConnection().Query(sql); !rs.Eof(); rs.MoveNext())
            ids.insert(rs.Field(idColumn).ToLong());
        return ids;
    }
    BoundSql List(int mode, const std::string& user, std::vector<DocListFilter> filters = {},
                  std::vector<int32_t> tags = {}, int32_t parent = 0, const std::string& type = "ORDER") {
        std::string errors;
        return queries_.BuildDocListQuery(mode, type, tags, filters, parent, user, errors);
    }
    /// The page's errors and the error of a list the page asked with a bad filter.
    struct Refusal {
        std::string errors;
        int32_t number = 0;
        std::string description;
    };
    Refusal Refused(int mode, std::vector<DocListFilter> filters, std::vector<int32_t> tags = {}) {
        Refusal r;
        try {
            queries_.BuildDocListQuery(mode, "ORDER", tags, filters, 0, "bob", r.errors);
            ADD_FAILURE() << "the list was built";
        } catch (const Error& e) {
            r.number = e.number();
            r.description = e.description();
        }
        return r;
    }

    std::unique_ptr<test::TwoPartnerSite> site_;
    SQLQueries queries_;
};

TEST_P(DocumentLists, EachBoxListsOnlyTheUsersOwnDocumentsAndFiltersNarrowIt) {
    const int32_t both = AddDoc("ORDER", "alice", 1);
    Publish(both, "bob");
    Publish(both, "carol");
    const int32_t carolsOnly = AddDoc("ORDER", "alice", 1);
    Publish(carolsOnly, "carol");
    const int32_t unpublished = AddDoc("ORDER", "alice", 0);
    Publish(unpublished, "bob");
    const int32_t deleted = AddDoc("ORDER", "alice", 4);
    const int32_t invoice = AddDoc("INVOICE", "alice", 1);
    Publish(invoice, "bob");
    const int32_t child = AddDoc("ORDER", "bob", 1, both);
    const int32_t tag = AddTag("ORDER");
    GetConnection().Execute("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (?, ?, 'PO-77')",
                            {Variant(both), Variant(tag)});

    // Inbox: published to the user, of the type, no longer new.
    EXPECT_EQ(Run(List(kInbox, "bob")), (std::set<int64_t>{both}));
    EXPECT_EQ(Run(List(kInbox, "carol")), (std::set<int64_t>{both, carolsOnly}));
    EXPECT_EQ(Run(List(kInbox, "alice")), std::set<int64_t>{});
    // Outbox: sent by the user, not deleted.
    EXPECT_EQ(Run(List(kOutbox, "alice")), (std::set<int64_t>{both, carolsOnly, unpublished}));
    EXPECT_EQ(Run(List(kOutbox, "bob")), (std::set<int64_t>{child}));
    EXPECT_EQ(Run(List(kOutbox, "carol")), std::set<int64_t>{});
    // Sender mode 3 (upload) lists the outbox.
    EXPECT_EQ(List(3, "alice").sql, List(kOutbox, "alice").sql);

    // The tag column carries the field's value; the text form ends with the empty filter.
    {
        db::Recordset rs = GetConnection().Query(List(kInbox, "bob", {}, {tag}).sql,
                                                 List(kInbox, "bob", {}, {tag}).params);
        ASSERT_FALSE(rs.Eof());
        EXPECT_EQ(rs.GetString("T1"), "PO-77");
        Variant none = Array{}, query, errors;
        int32_t parent = 0;
        queries_.GetDocListQuery(kInbox, "ORDER", none, none, 0, none, none, 0, parent, "bob", query, errors);
        EXPECT_TRUE(query.ToString().ends_with(" AND (DOCUMENT.SHOW = 1)  ")) << query.ToString();
        EXPECT_EQ(RunText(query.ToString()), (std::set<int64_t>{both}));
    }

    // Filters narrow: a pattern (LIKE in any capitals), a document number, a status.
    EXPECT_EQ(Run(List(kInbox, "carol", {{"document.sender like", "ali%"}})), (std::set<int64_t>{both, carolsOnly}));
    EXPECT_EQ(Run(List(kInbox, "carol", {{"DOCUMENT.SENDER LIKE", "bo%"}})), std::set<int64_t>{});
    EXPECT_EQ(Run(List(kInbox, "carol", {{"DOCUMENT.DOCUMENTID = ", std::to_string(carolsOnly)}})),
              (std::set<int64_t>{carolsOnly}));
    EXPECT_EQ(Run(List(kInbox, "carol", {{"T1.TAGVALUE like", "PO-%"}}, {tag})), (std::set<int64_t>{both}));
    EXPECT_EQ(Run(List(kInbox, "carol", {{"PUBLICATION.STATUS =", "Accepted"}})), std::set<int64_t>{});
    GetConnection().Execute("UPDATE PUBLICATION SET STATUS = 1 WHERE DOCUMENTID = ? AND USERID = 'carol'",
                            {Variant(carolsOnly)});
    EXPECT_EQ(Run(List(kInbox, "carol", {{"PUBLICATION.STATUS =", "Accepted"}})), (std::set<int64_t>{carolsOnly}));
    EXPECT_EQ(Run(List(kOutbox, "alice", {{"DOCUMENT.STATUS <>", "New"}})), (std::set<int64_t>{both, carolsOnly}));
    // A value is a value: a quote in it neither breaks nor widens the list.
    EXPECT_EQ(Run(List(kInbox, "carol", {{"DOCUMENT.SENDER like", "x' OR '1'='1"}})), std::set<int64_t>{});
    EXPECT_EQ(Run(List(kInbox, "o'hara")), std::set<int64_t>{});

    // Children of a document: no publication or tag columns, an outer publication join, no
    // type condition; the child list of another user's document shows nothing of hers.
    const BoundSql children = List(kInbox, "bob", {}, {tag}, both);
    EXPECT_EQ(children.sql.find("PUBLICATION.USERID,"), std::string::npos);
    EXPECT_EQ(children.sql.find("T1"), std::string::npos);
    EXPECT_NE(children.sql.find("LEFT OUTER JOIN PUBLICATION ON"), std::string::npos);
    EXPECT_EQ(children.sql.find("DOCUMENT.DOCUMENTTYPEID="), std::string::npos);
    EXPECT_EQ(Run(children), (std::set<int64_t>{child}));
    EXPECT_EQ(Run(List(kOutbox, "bob", {}, {}, both)), (std::set<int64_t>{child}));
    Publish(child, "carol");
    EXPECT_EQ(Run(List(kInbox, "dave", {}, {}, both)), std::set<int64_t>{});
    (void)deleted;
}

TEST_P(DocumentLists, TheErrorBoxHoldsOpenErrorsOfOwnDocumentsAndFailedDeliveriesToOwnPartner) {
    const int32_t failed = AddDoc("ORDER", "alice", 1);
    const int32_t closed = AddDoc("ORDER", "alice", 1);
    db::Connection connection = GetConnection();
    connection.Execute("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, CLOSED, LABEL) VALUES (?, 0, 'SLBSH0008')",
                       {Variant(failed)});
    connection.Execute("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, CLOSED, LABEL) VALUES (?, 1, 'SLBSH0008')",
                       {Variant(closed)});
    const int32_t delivered = AddDoc("ORDER", "alice", 1);
    Publish(delivered, "bob");
    db::EditRow error;
    error.Set("DOCUMENTID", delivered);
    error.Set("CLOSED", 0);
    const int64_t errorId = connection.Insert("PUBLICATIONERRORS", error, "PUBLICATIONERRORID");
    connection.Execute("INSERT INTO SENDMETHODHISTORY (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTID, "
                       "DOCUMENTTYPEID, PUBLICATIONERRORID) VALUES (1, ?, ?, 'ORDER', ?)",
                       {Variant(site_->bolt()), Variant(delivered), Variant(errorId)});

    EXPECT_EQ(Run(List(kErrorBox, "alice"), 0), (std::set<int64_t>{failed, delivered}));
    EXPECT_EQ(Run(List(kErrorBox, "bob"), 0), (std::set<int64_t>{delivered}));
    EXPECT_EQ(Run(List(kErrorBox, "carol"), 0), std::set<int64_t>{});
    EXPECT_EQ(Run(List(kErrorBox, "alice", {{"DOCUMENT.DOCUMENTID =", std::to_string(failed)}}), 0),
              (std::set<int64_t>{failed}));
    // The type list of the error box agrees; the text form runs as well.
    Collaboration collaboration;
    db::Recordset types = connection.Query(collaboration.GetDocumentTypeListQueryStr2(2, "bob"));
    ASSERT_FALSE(types.Eof());
    EXPECT_EQ(types.GetString("DOCUMENTTYPEID"), "ORDER");
    EXPECT_TRUE(connection.Query(collaboration.GetDocumentTypeListQueryStr2(2, "carol")).Eof());
}

TEST_P(DocumentLists, BadFilterValuesGiveThePageItsMessageHintAndNote) {
    for (const std::string value : {"abc", "0", "1000000000"}) {
        const Refusal r = Refused(kInbox, {{"DOCUMENT.DOCUMENTID =", value}});
        EXPECT_EQ(r.number, ErrNum(EnumerationErrors::InvalidParamValue)) << value;
        EXPECT_EQ(r.errors,
                  "The filter value for Document number is not valid.|Enter a whole number from 1 to 999999999.|")
            << value;
    }
    const Refusal wildcard = Refused(kOutbox, {{"DOCUMENT.STATUS =", "NEW*"}});
    EXPECT_EQ(wildcard.number, ErrNum(EnumerationErrors::InvalidParamValue));
    EXPECT_TRUE(wildcard.errors.ends_with("|Wildcards (*) are not allowed in the status filter."))
        << wildcard.errors;
    EXPECT_TRUE(wildcard.errors.starts_with("The filter value for Status is not valid.|Enter one of these statuses: New,"))
        << wildcard.errors;
    const Refusal unknown = Refused(kInbox, {{"PUBLICATION.STATUS =", "Published"}});
    EXPECT_TRUE(unknown.errors.ends_with("Viewed, Downloaded.|")) << unknown.errors;
}

TEST_P(DocumentLists, NamesThatAreNoFieldOperatorOrTagOfTheListAreRefused) {
    const int32_t mine = AddDoc("ORDER", "alice", 1);
    Publish(mine, "carol");
    const int32_t invoiceTag = AddTag("INVOICE");
    for (const std::string name :
         {"DOCUMENT.SENDER = 'x' OR 1=1 --", "1=1) OR (1=1", "DOCUMENT.SENDER like '%' OR ''=",
          "PUBLICATION.USERID =", "DOCUMENT.STATUS =" /* a publication list */,
          "DOCUMENT.DOCUMENTID like", "DOCUMENT.SENDER =", "T1.TAGVALUE like" /* no tag column */,
          "DOCUMENT.SENDER; DELETE FROM DOCUMENT; --"}) {
        const Refusal r = Refused(kInbox, {{name, "1"}});
        EXPECT_EQ(r.number, ErrNum(EnumerationErrors::InvalidParamValue)) << name;
        EXPECT_NE(r.description.find("is not one of the fields of this list"), std::string::npos) << name;
        EXPECT_NE(r.errors.find(name), std::string::npos) << r.errors;
    }
    // A tag of another document type, and a tag identifier that is SQL.
    EXPECT_NE(Refused(kInbox, {}, {invoiceTag}).description.find("does not belong to this document type"),
              std::string::npos);
    Variant tags = Array{Variant(), Variant("1) AS T1 ON 1=1 LEFT JOIN (SELECT 1")}, none = Array{}, query, errors;
    int32_t parent = 0;
    EXPECT_THROW(queries_.GetDocListQuery(kInbox, "ORDER", tags, none, 1, none, none, 0, parent, "carol",
                                          query, errors),
                 Error);
    EXPECT_NE(errors.ToString().find("does not belong to this document type"), std::string::npos)
        << errors.ToString();
    EXPECT_EQ(query.ToString(), "");
    // The sort order of the document types.
    Collaboration collaboration;
    EXPECT_EQ(collaboration.getAllDocumentTypes("description DESC, DOCUMENTTYPEID").At(0).first, "ORDER");
    EXPECT_EQ(collaboration.getAllDocumentTypes("").Count(), 2u);
    for (const std::string order : {"DESCRIPTION; DELETE FROM DOCUMENT", "(SELECT 1)", "XMLBODY", "1"}) {
        try {
            collaboration.getAllDocumentTypes(order);
            ADD_FAILURE() << order;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::InvalidParamValue)) << order;
            EXPECT_NE(e.description().find("names no column of the document types"), std::string::npos);
        }
    }
    EXPECT_EQ(site_->Count("DOCUMENT"), 1);
}

TEST_P(DocumentLists, TheClassAnswersByItsRegisteredName) {
    const int32_t doc = AddDoc("ORDER", "alice", 1);
    Publish(doc, "bob");
    ObjectPtr object = CreateComponent("Kestrix.SQLQueries");
    ASSERT_NE(std::dynamic_pointer_cast<SQLQueries>(object), nullptr);
    std::vector<Variant> args{Variant(kInbox), Variant("ORDER"), Variant(Array{}), Variant(Array{}),
                              Variant(0), Variant(Array{Variant(), Variant("DOCUMENT.SENDER LIKE")}),
                              Variant(Array{Variant(), Variant("al%")}), Variant(1), Variant(0),
                              Variant("bob"), Variant(), Variant()};
    object->Invoke("GetDocListQuery", args);
    EXPECT_EQ(RunText(args[10].ToString()), (std::set<int64_t>{doc}));
    EXPECT_EQ(args[11].ToString(), "");
    EXPECT_NE(std::dynamic_pointer_cast<Queries>(CreateComponent("Kestrix.Queries")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Backends, DocumentLists, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
