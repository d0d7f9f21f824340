#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kestrix/api/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/api/utility.h"
#include "kestrix/rules/rules.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/membership/directory.h"
#include "platform/xml/xml.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

constexpr int32_t kProcessDocumentError = -2147220980;

template <typename Call>
Error RaisedBy(Call&& call) {
    return test::RaisedBy<Error>(call);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct RecordedError {
    std::string label;
    std::string description;
    int32_t number;
    std::string source;
    std::string replacements;
};

// A site with two partners and their users; ORDER goes to alice and amy (Acme) and bob
// (Bolt); carl (Bolt) is on no list.
class Routing : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        site_ = std::make_unique<test::TestSite>(GetParam());
        membership::Directory directory(site_->connectionString());
        acme_ = directory.AddBusinessPartner("Acme Trading", {"AC-C"}, {"AC-S"});
        bolt_ = directory.AddBusinessPartner("Bolt Supplies", {"BO-C"}, {"BO-S"});
        AddUser(directory, "alice", acme_, "1001");
        AddUser(directory, "amy", acme_, "1002");
        AddUser(directory, "bob", bolt_, "2001");
        AddUser(directory, "carl", bolt_, "2002");
        db::Connection c(site_->connectionString());
        c.Execute(
            "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase "
            "order')");
        c.Execute(
            "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('INVOICE', 'Invoice')");
        for (auto [user, bp] : {std::pair{"alice", acme_}, {"amy", acme_}, {"bob", bolt_}})
            c.Execute(
                "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID) VALUES "
                "('ORDER', '" +
                std::string(user) + "', " + std::to_string(bp) + ")");
    }
    void TearDown() override { site_.reset(); }

    static void AddUser(membership::Directory& directory, const std::string& login, int32_t bp,
                        const std::string& employee) {
        membership::UserRecord user;
        user.login = login;
        user.businessPartnerId = bp;
        user.employeeNumber = employee;
        user.languageId = 1033;
        directory.AddUser(user);
    }
    int32_t StoreDocument(const std::string& body, const std::string& type = "ORDER") {
        Document doc;
        int32_t id = doc.StoreOriginalDocument(body);
        doc.UpdateDocument(id, type, "alice", "", DOCUMENTSTATUS::DOCUMENTNEW, true, -1);
        doc.UpdateDocumentWithXmlBody(id, body);
        return id;
    }
    std::vector<std::string> Recipients(int32_t doc) {
        db::Connection c(site_->connectionString());
        db::Recordset rs =
            c.Query("SELECT USERID, STATUS, FORWARD FROM PUBLICATION WHERE DOCUMENTID = " +
                    std::to_string(doc) + " ORDER BY USERID");
        std::vector<std::string> users;
        for (; !rs.Eof(); rs.MoveNext()) {
            EXPECT_EQ(rs.GetInt("STATUS"), 0);
            EXPECT_EQ(rs.GetInt("FORWARD"), 0);
            users.push_back(rs.GetString("USERID"));
        }
        return users;
    }
    std::vector<RecordedError> Errors(int32_t doc) {
        db::Connection c(site_->connectionString());
        db::Recordset rs = c.Query(
            "SELECT LABEL, DESCRIPTION, ERRORNUMBER, SOURCE, REPLACEMENTS FROM PUBLICATIONERRORS "
            "WHERE DOCUMENTID = " +
            std::to_string(doc) + " ORDER BY PUBLICATIONERRORID");
        std::vector<RecordedError> errors;
        for (; !rs.Eof(); rs.MoveNext())
            errors.push_back({rs.GetString("LABEL"), rs.GetString("DESCRIPTION"),
                              static_cast<int32_t>(rs.GetInt("ERRORNUMBER")),
                              rs.GetString("SOURCE"), rs.GetString("REPLACEMENTS")});
        return errors;
    }
    std::string StoredBody(int32_t doc) {
        Document document;
        return document.GetXmlDocument(doc);
    }
    int32_t Resolve(int32_t doc) { return utility_.GetRecipientsAndFillPublicationTable(doc); }

    std::unique_ptr<test::TestSite> site_;
    Utility utility_;
    int32_t acme_ = 0;
    int32_t bolt_ = 0;
};

using Users = std::vector<std::string>;

TEST_P(Routing, PublicationRowsComeOnlyFromTheListAndNeverTwice) {
    int32_t doc = StoreDocument("<ORDER/>");
    EXPECT_EQ(utility_.FillPublicationTable(doc, "ORDER", 0, "carl"), 0);
    EXPECT_EQ(utility_.FillPublicationTable(doc, "ORDER", acme_, "bob"), 0);
    EXPECT_EQ(utility_.FillPublicationTable(doc, "ORDER", acme_), 2);
    EXPECT_EQ(utility_.FillPublicationTable(doc, "ORDER", 0, "alice"), 0);
    EXPECT_EQ(utility_.FillPublicationTable(doc, "INVOICE"), 0);
    // A user listed twice for the type (here under a second partner) still gets one row.
    db::Connection c(site_->connectionString());
    c.Execute(
        "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID) VALUES ('ORDER', "
        "'bob', " +
        std::to_string(acme_) + ")");
    EXPECT_EQ(utility_.FillPublicationTable(doc, "ORDER"), 1);
    EXPECT_EQ(Recipients(doc), (Users{"alice", "amy", "bob"}));
    // A quote in a user name is a value, not SQL.
    EXPECT_EQ(utility_.FillPublicationTable(doc, "ORDER", 0, "x' OR '1'='1"), 0);
}

TEST_P(Routing, TheWholeListIsUsedOnlyForUsesDistListOne) {
    const std::string body =
        "<ORDER><USESDISTLIST> 1 "
        "</USESDISTLIST><RECEIVER>carl</RECEIVER><BUSINESSPARTNER>x</BUSINESSPARTNER>"
        "<BUS-PART-C>AC-C</BUS-PART-C><BUS-PART-S>zz</BUS-PART-S><NOTE>keep</NOTE></ORDER>";
    int32_t doc = StoreDocument(body);
    EXPECT_EQ(Resolve(doc), 1);
    EXPECT_EQ(Recipients(doc), (Users{"alice", "amy", "bob"}));
    EXPECT_TRUE(Errors(doc).empty());
    xml::XmlDocument stored = xml::XmlDocument::FromText(StoredBody(doc));
    for (const char* tag :
         {"USESDISTLIST", "RECEIVER", "BUSINESSPARTNER", "BUS-PART-C", "BUS-PART-S"}) {
        xml::XPathResult nodes = stored.SelectNodes(std::string("//") + tag);
        ASSERT_EQ(nodes.nodes.size(), 1u) << tag;
        EXPECT_EQ(nodes.first().Text(), "") << tag;
    }
    EXPECT_EQ(stored.SelectSingleNode("//NOTE").first().Text(), "keep");

    // "true" is no request for the whole list: the receiver tag decides.
    int32_t other =
        StoreDocument("<ORDER><USESDISTLIST>true</USESDISTLIST><RECEIVER>amy</RECEIVER></ORDER>");
    EXPECT_EQ(Resolve(other), 1);
    EXPECT_EQ(Recipients(other), (Users{"amy"}));
    EXPECT_TRUE(Contains(StoredBody(other), "<USESDISTLIST>true</USESDISTLIST>"));
}

TEST_P(Routing, ReceiverTagsPublishOncePerUserAndRecordUnknownOnes) {
    int32_t doc = StoreDocument(
        "<ORDER><RECEIVER>bob</RECEIVER><RECEIVER> bob </RECEIVER><RECEIVER/></ORDER>");
    EXPECT_EQ(Resolve(doc), 1);
    EXPECT_EQ(Recipients(doc), (Users{"bob"}));
    EXPECT_TRUE(Errors(doc).empty());
    EXPECT_FALSE(Contains(StoredBody(doc), "bob"));

    int32_t lost =
        StoreDocument("<ORDER><RECEIVER>carl</RECEIVER><RECEIVER>nobody</RECEIVER></ORDER>");
    EXPECT_EQ(Resolve(lost), 0);
    EXPECT_TRUE(Recipients(lost).empty());
    std::vector<RecordedError> errors = Errors(lost);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].label, "SLBSH0008");
    EXPECT_EQ(errors[0].number, 0);
    EXPECT_EQ(errors[0].source, "Kestrix.Utility.ExecuteXslPatternAndFillPublicationTable");
    EXPECT_EQ(errors[0].description,
              "The user carl is not on the distribution list of the document type Purchase order.");
    EXPECT_TRUE(Contains(errors[0].replacements, "<REP name=\"[%USER_ID%]\">carl</REP>"))
        << errors[0].replacements;
    EXPECT_TRUE(Contains(errors[1].description, "The user nobody is not")) << errors[1].description;
    EXPECT_TRUE(utility_.CheckPublicationErrors(lost));
    EXPECT_FALSE(Contains(StoredBody(lost), "carl"));
}

TEST_P(Routing, BusinessPartnerTagsSelectThePartnersUsers) {
    int32_t doc = StoreDocument("<ORDER><BUSINESSPARTNER>" + std::to_string(acme_) +
                                "</BUSINESSPARTNER><BUS-PART-C>BO-C</BUS-PART-C></ORDER>");
    EXPECT_EQ(Resolve(doc), 1);
    // The partner codes are not looked at once BUSINESSPARTNER is set.
    EXPECT_EQ(Recipients(doc), (Users{"alice", "amy"}));
    EXPECT_TRUE(Contains(StoredBody(doc), "<BUS-PART-C>BO-C</BUS-PART-C>"));

    int32_t codes = StoreDocument(
        "<ORDER><BUSINESSPARTNER/><BUS-PART-C>BO-C</BUS-PART-C><BUS-PART-S>AC-S</BUS-PART-S></"
        "ORDER>");
    EXPECT_EQ(Resolve(codes), 1);
    EXPECT_EQ(Recipients(codes), (Users{"alice", "amy", "bob"}));
    EXPECT_TRUE(Errors(codes).empty());

    // A partner whose users all have their row already counts as found.
    int32_t again =
        StoreDocument("<ORDER><BUS-PART-S>BO-S</BUS-PART-S><BUS-PART-S>BO-S</BUS-PART-S></ORDER>");
    EXPECT_EQ(Resolve(again), 1);
    EXPECT_EQ(Recipients(again), (Users{"bob"}));
    EXPECT_TRUE(Errors(again).empty());
}

TEST_P(Routing, PartnerValuesThatNameNoPartnerLeavePublicationErrors) {
    // Not a number, beyond the 32-bit range, and 0, which must not open the whole list.
    for (const std::string value : {"12abc", "99999999999", "0"}) {
        int32_t doc =
            StoreDocument("<ORDER><BUSINESSPARTNER>" + value + "</BUSINESSPARTNER></ORDER>");
        EXPECT_EQ(Resolve(doc), 0) << value;
        EXPECT_TRUE(Recipients(doc).empty()) << value;
        std::vector<RecordedError> errors = Errors(doc);
        const size_t notFound = value == "0" ? 0 : 1;
        ASSERT_EQ(errors.size(), notFound + 1) << value;
        if (notFound) {
            EXPECT_EQ(errors[0].label, "SLBSH4475");
            EXPECT_EQ(errors[0].number, kProcessDocumentError);
            EXPECT_EQ(errors[0].source, "Kestrix.Utility.ExecuteXSLPatternAndFillPublicationTable");
            EXPECT_EQ(errors[0].description, "Document " + std::to_string(doc) +
                                                 ": the business partner " + value +
                                                 " is not a valid number.");
        }
        const RecordedError& last = errors.back();
        EXPECT_EQ(last.label, "SLBSH0008");
        EXPECT_EQ(last.number, 0);
        EXPECT_EQ(last.description, "No recipient was found for " + value + " (business partner " +
                                        value + ") in document " + std::to_string(doc) +
                                        " of the document type Purchase order.");
    }

    int32_t doc = StoreDocument(
        "<ORDER><BUS-PART-C>NO-SUCH</BUS-PART-C><BUS-PART-S>AC-C</BUS-PART-S></ORDER>");
    EXPECT_EQ(Resolve(doc), 0);
    std::vector<RecordedError> errors = Errors(doc);
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].label, "SLBSH4476");
    EXPECT_EQ(errors[0].description, "No business partner was found for the code NO-SUCH.");
    EXPECT_EQ(errors[0].number, kProcessDocumentError);
    EXPECT_EQ(errors[1].label, "SLBSH0008");
    // The directory's refusal travels with the not-found error.
    EXPECT_NE(errors[1].number, 0);
    // A code of kind 0 is no code of kind 1.
    EXPECT_EQ(errors[2].label, "SLBSH4476");
    EXPECT_TRUE(Contains(errors[2].description, "AC-C"));
    for (const RecordedError& e : errors)
        EXPECT_FALSE(Contains(e.description, "[%")) << e.description;
}

TEST_P(Routing, ManyReceiverTagsAndManyClearedNodes) {
    std::string body = "<ORDER>";
    for (int i = 0; i < 20000; ++i) body += "<RECEIVER>alice</RECEIVER>";
    body += "</ORDER>";
    int32_t doc = StoreDocument(body);
    EXPECT_EQ(Resolve(doc), 1);
    EXPECT_EQ(Recipients(doc), (Users{"alice"}));
    EXPECT_TRUE(Errors(doc).empty());
    EXPECT_FALSE(Contains(StoredBody(doc), "alice"));

    // More nodes than a 16-bit counter holds.
    std::string many = "<ORDER>";
    for (int i = 0; i < 40000; ++i) many += "<BUS-PART-C>X</BUS-PART-C>";
    many += "</ORDER>";
    int32_t big = StoreDocument(many);
    xml::XmlDocument dom = xml::XmlDocument::FromText(many);
    EXPECT_FALSE(utility_.ClearTagsAndWriteDocToDB(big, dom, "//BUS-PART-C"));
    EXPECT_FALSE(Contains(StoredBody(big), "<BUS-PART-C>X"));
    EXPECT_EQ(xml::XmlDocument::FromText(StoredBody(big)).SelectNodes("//BUS-PART-C").nodes.size(),
              40000u);
}

TEST_P(Routing, PatternsThatDoNotCompileAreRefused) {
    int32_t doc = StoreDocument("<ORDER><RECEIVER>bob</RECEIVER></ORDER>");
    xml::XmlDocument dom = xml::XmlDocument::FromText("<ORDER><RECEIVER>bob</RECEIVER></ORDER>");
    Error e = RaisedBy([&] { utility_.ClearTagsAndWriteDocToDB(doc, dom, "//RECEIVER[("); });
    EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::InvalidXSLPatternError));
    e = RaisedBy(
        [&] { utility_.ExecuteXslPatternAndFillPublicationTable(doc, "ORDER", dom, "//["); });
    EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::InvalidXSLPatternError));
    EXPECT_TRUE(
        Contains(e.description(), "Kestrix.Utility.ExecuteXslPatternAndFillPublicationTable"));
    EXPECT_TRUE(Recipients(doc).empty());
    EXPECT_TRUE(Contains(StoredBody(doc), "bob"));
}

TEST_P(Routing, ObiDocumentsGoToTheirReceiverOnly) {
    const std::string obi =
        "<OBIOrder><Envelope><Receiver><PartnerName>amy</PartnerName></Receiver></Envelope>"
        "<RECEIVER>bob</RECEIVER></OBIOrder>";
    int32_t doc = StoreDocument(obi);
    EXPECT_EQ(Resolve(doc), 1);
    EXPECT_EQ(Recipients(doc), (Users{"amy"}));
    EXPECT_TRUE(Contains(StoredBody(doc), "<RECEIVER>bob</RECEIVER>"));

    int32_t nobody = StoreDocument("<OBIOrder><Envelope/></OBIOrder>");
    EXPECT_EQ(Resolve(nobody), 0);
    EXPECT_TRUE(Recipients(nobody).empty());

    // Nothing happens without a type or a body.
    int32_t untyped = StoreDocument("<ORDER><USESDISTLIST>1</USESDISTLIST></ORDER>", "");
    EXPECT_EQ(Resolve(untyped), 0);
    EXPECT_TRUE(Recipients(untyped).empty());
}

TEST_P(Routing, TheSenderIsFoundByLoginOrEmployeeNumber) {
    auto sender = [&](const std::string& text, std::string name = {}) {
        int32_t bp = -1;
        utility_.GetSenderBPAndName(text, bp, name);
        return std::pair{bp, name};
    };
    EXPECT_EQ(sender("<ORDER><SENDER> bob </SENDER><CONTACT>1001</CONTACT></ORDER>"),
              std::pair(bolt_, std::string("bob")));
    EXPECT_EQ(sender("<ORDER><CONTACT>1002</CONTACT></ORDER>"),
              std::pair(acme_, std::string("amy")));
    EXPECT_EQ(sender("<ORDER><CONTACT>carl</CONTACT></ORDER>"),
              std::pair(bolt_, std::string("carl")));
    EXPECT_EQ(
        sender("<OBIOrder><Envelope><Sender><PartnerName>alice</PartnerName></Sender></Envelope>"
               "<SENDER>bob</SENDER></OBIOrder>"),
        std::pair(acme_, std::string("alice")));
    // A name the caller already holds is looked up instead of the tags.
    EXPECT_EQ(sender("<ORDER><SENDER>bob</SENDER></ORDER>", "amy"),
              std::pair(acme_, std::string("amy")));
    // A sender the directory does not know keeps its name and has no partner.
    EXPECT_EQ(sender("<ORDER><SENDER>ghost</SENDER></ORDER>"), std::pair(0, std::string("ghost")));
    // A user's partner sent the document, or another's did.
    EXPECT_TRUE(utility_.BPOfDocumentEqualsBPOfUser("carl", "<ORDER><SENDER>bob</SENDER></ORDER>"));
    EXPECT_FALSE(utility_.BPOfDocumentEqualsBPOfUser("amy", "<ORDER><SENDER>bob</SENDER></ORDER>"));

    int32_t bp = 0;
    std::string name;
    for (const std::string text : {"<ORDER><CONTACT/></ORDER>", "<ORDER><SENDER>bob</ORDER>"}) {
        bp = 7;
        name.clear();
        Error e = RaisedBy([&] { utility_.GetSenderBPAndName(text, bp, name); });
        EXPECT_EQ(bp, 0);
        EXPECT_EQ(name, "");
        EXPECT_NE(e.number(), 0);
        EXPECT_TRUE(Contains(e.description(), "Kestrix.Utility.GetSenderBPAndName"))
            << e.description();
        EXPECT_TRUE(
            Contains(e.description(), "The sender of the document was not found among the users."));
    }
}

TEST_P(Routing, TheTypeComesFromTheTagTheObiRootOrTheRules) {
    EXPECT_EQ(utility_.GetDocType("<X><DOCTYPE-ID> INVOICE </DOCTYPE-ID></X>"), "INVOICE");
    EXPECT_EQ(utility_.GetDocType("<OBIOrder><DOCTYPE-ID>INVOICE</DOCTYPE-ID></OBIOrder>"),
              "OBIOrder");
    EXPECT_EQ(utility_.GetDocType("<X><DOCTYPE-ID>UNKNOWN</DOCTYPE-ID></X>"), "");

    Rules rules;
    auto addRule = [&](const std::string& assigned, int32_t partner) {
        std::string d = "rule", a = assigned, m, l = "AND", p = "KIND", v = "order";
        int16_t type = ToInt(RuleType::DOCUMENTTYPERULE);
        int32_t s = 10, o = partner, f = ToInt(FieldType::STRINGFIELD),
                k = ToInt(TagAttrXsl::TAGVALUE);
        int32_t c = ToInt(Condition::ISEXACTLY);
        bool e = true;
        int32_t rule = rules.AddRule(d, type, a, m, s, l, o, e);
        rules.AddRuleLine(rule, f, s, k, p, c, v);
    };
    addRule("ORDER", bolt_);
    addRule("GHOSTTYPE", acme_);
    EXPECT_EQ(
        utility_.GetDocType("<X><DOCTYPE-ID>UNKNOWN</DOCTYPE-ID><KIND>order</KIND></X>", bolt_),
        "ORDER");
    // A rule naming a type that is not in the table gives no type.
    EXPECT_EQ(utility_.GetDocType("<X><KIND>order</KIND></X>", acme_), "");
    EXPECT_TRUE(utility_.DocTypeFoundInTable("ORDER"));
    EXPECT_FALSE(utility_.DocTypeFoundInTable("order"));
    EXPECT_NE(RaisedBy([&] { utility_.GetDocType("<X>"); }).number(), 0);
}

TEST_P(Routing, EachBodyAnswersForItselfWhenBodiesAlternate) {
    const std::string first =
        "<ORDER><SENDER>bob</SENDER><DOCTYPE-ID>INVOICE</DOCTYPE-ID><REQUISITIONER>r</REQUISITIONER>"
        "<RECEIVER>amy</RECEIVER></ORDER>";
    // Differs only in its tags' values, and is as long.
    const std::string second =
        "<ORDER><SENDER>amy</SENDER><DOCTYPE-ID>UNKNOWN</DOCTYPE-ID><REQUISITIONER>r</REQUISITIONER>"
        "<RECEIVER>bob</RECEIVER></ORDER>";
    ASSERT_EQ(first.size(), second.size());
    for (int round = 0; round < 2; ++round) {
        for (const std::string* text : {&first, &second, &first}) {
            const std::string& body = *text;
            const bool isFirst = text == &first;
            int32_t bp = -1;
            std::string name;
            utility_.GetSenderBPAndName(body, bp, name);
            EXPECT_EQ(name, isFirst ? "bob" : "amy");
            EXPECT_EQ(bp, isFirst ? bolt_ : acme_);
            EXPECT_EQ(utility_.GetDocType(body), isFirst ? "INVOICE" : "");
            EXPECT_EQ(utility_.GetDefaultReceiver(body), isFirst ? "amy" : "bob");
        }
        // A body the parser refuses fails also right after a good one.
        EXPECT_NE(RaisedBy([&] { utility_.GetDocType(first.substr(0, first.size() - 1)); }).number(), 0);
    }
}

TEST_P(Routing, DefaultReceiverAndPublicationLookUps) {
    EXPECT_EQ(utility_.GetDefaultReceiver(
                  "<O><REQUISITIONER>r</REQUISITIONER><RECEIVER> amy </RECEIVER></O>"),
              "amy");
    EXPECT_EQ(utility_.GetDefaultReceiver("<O><RECEIVER>amy</RECEIVER></O>"), "");
    EXPECT_EQ(utility_.GetDefaultReceiver(
                  "<O><REQUISITIONER> </REQUISITIONER><RECEIVER>amy</RECEIVER></O>"),
              "");

    int32_t doc = StoreDocument("<ORDER/>");
    utility_.FillPublicationTable(doc, "ORDER", 0, "amy");
    db::Connection c(site_->connectionString());
    c.Execute("UPDATE PUBLICATION SET STATUS = 5, FORWARD = 1 WHERE DOCUMENTID = " +
              std::to_string(doc));
    EXPECT_EQ(utility_.GetPublicationStatus(doc, "amy"), 5);
    EXPECT_EQ(utility_.GetForwardFlag(doc, "amy"), 1);
    EXPECT_EQ(utility_.GetPublicationStatus(doc, "bob"), -1);
    EXPECT_EQ(utility_.GetForwardFlag(doc, "bob"), -1);

    EXPECT_EQ(utility_.GetBusinessPartnerName(bolt_), "Bolt Supplies");
    EXPECT_EQ(utility_.GetBusinessPartnerName(987654), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, Routing, ::testing::ValuesIn(test::Backends()));

TEST(RoutingPatterns, TagAndAttributeNamesRefuseSpecialCharactersAndNumbers) {
    Utility u;
    std::string p = "  ORDER-NO  ";
    EXPECT_TRUE(u.CheckXslPattern(p, TagAttrXsl::TAGVALUE));
    EXPECT_EQ(p, "ORDER-NO");
    for (std::string bad :
         {"A B", "a/b", "a.b", "a@b", "a[1]", "1abc", "12", "x=y", "a\\b", "q'"}) {
        std::string tag = bad, attr = bad;
        EXPECT_FALSE(u.CheckXslPattern(tag, TagAttrXsl::TAGVALUE)) << bad;
        EXPECT_FALSE(u.CheckXslPattern(attr, TagAttrXsl::ATTRVALUE)) << bad;
    }
    std::string attr = "_id";
    EXPECT_TRUE(u.CheckXslPattern(attr, TagAttrXsl::ATTRVALUE));
}

TEST(RoutingPatterns, FullPatternsRefuseBlanksRootsAndNumbers) {
    Utility u;
    for (std::string good : {"//ORDER/@id", "/a/b[1]", " //x "})
        EXPECT_TRUE(u.CheckXslPattern(good, TagAttrXsl::XSLPATTERN));
    for (std::string bad : {"// a", "//", "\\\\", "\\", "/", "3.5", "9abc"})
        EXPECT_FALSE(u.CheckXslPattern(bad, TagAttrXsl::XSLPATTERN)) << bad;
    std::string any = "any thing";
    EXPECT_TRUE(u.CheckXslPattern(any, static_cast<TagAttrXsl>(7)));
}

TEST(RoutingConversions, PublicationStatusTextsAndArrays) {
    Utility u;
    using enum PUBLICATIONSTATUS;
    EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum("NEW"), PUBLICATIONNEW);
    EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum("accept"), PUBLICATIONACC);
    EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum("Rejected"), PUBLICATIONREJECTED);
    EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum("VIEW"), PUBLICATIONVIEWED);
    EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum("DownLoad"), PUBLICATIONDOWNLOADED);
    for (const char* other : {"nEw", "Accept ", "", "deleted", "DOWNLOADed"})
        EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum(other), PUBLICATIONUNKNOWNSTATUS)
            << other;

    EXPECT_EQ(u.ConvertArrayToList(Array{Variant("a"), Variant(2), Variant("")}), "a, 2, ");
    EXPECT_EQ(u.ConvertArrayToList(Array{}), "");
    EXPECT_EQ(u.ConvertArrayToList(Variant("a, b")), "");
}

}  // namespace
}  // namespace kestrix
