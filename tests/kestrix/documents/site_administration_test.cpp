#include "kestrix/documents/site_administration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "kestrix/documents/distribution_list.h"
#include "kestrix/documents/receive_method.h"
#include "kestrix/documents/sender_list.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/membership/directory.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

class SiteAdministrationTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        anna_ = AddPartnerWithUser("Birchwood Retail", "anna");
        li_ = AddPartnerWithUser("Alder Components", "li");
        ASSERT_NE(anna_, li_);
        admin_.PutDocumentType({"ORDER", "Purchase order", "", "", "order.xsl"});
        admin_.PutDocumentType({"INVOICE", "Invoice", "", "", ""});
    }

    /// Adds a partner of that name with one user; answers the partner's identifier.
    int32_t AddPartnerWithUser(const std::string& partner, const std::string& login) {
        const int32_t id = membership::Directory(site_.connectionString()).AddBusinessPartner(partner);
        site_.AddUser(login, id);
        return id;
    }

    /// The message of the error `call` raises, or "no error".
    template <typename Call>
    static std::string Failure(Call call) {
        try {
            call();
        } catch (const Error& e) {
            return e.description();
        }
        return "no error";
    }

    test::TestSite site_{GetParam()};
    SiteAdministration admin_{membership::Directory(site_.connectionString())};
    int32_t anna_ = 0;
    int32_t li_ = 0;
};

TEST_P(SiteAdministrationTest, StoringARecordAgainChangesOnlyWhatDiffers) {
    EXPECT_EQ(admin_.PutDocumentType({"ORDER", "Purchase order", "", "", "order.xsl"}),
              Change::Unchanged);
    EXPECT_EQ(admin_.PutDocumentType({"ORDER", "Purchase order", "", "order.gif", "order.xsl"}),
              Change::Changed);
    auto types = admin_.DocumentTypes();
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[1].id, "ORDER");
    EXPECT_EQ(types[1].iconFileName, "order.gif");
    EXPECT_EQ(types[1].htmlAttachmentXsl, "order.xsl");
    EXPECT_EQ(types[0].htmlAttachmentXsl, "");
    {
        // No style sheet is stored as nothing, which the HTML rendering reads as "none".
        db::Connection c(site_.connectionString());
        EXPECT_TRUE(c.Query("SELECT HTMLATTACHMENTXSL FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = "
                            "'INVOICE'")
                        .IsNull("HTMLATTACHMENTXSL"));
    }

    EXPECT_EQ(admin_.PutReceiveMethod(anna_, "ORDER", "birch.xsl"), Change::Added);
    EXPECT_EQ(admin_.PutReceiveMethod(anna_, "ORDER", "birch.xsl"), Change::Unchanged);
    EXPECT_EQ(admin_.PutReceiveMethod(anna_, "ORDER", "birch-2.xsl"), Change::Changed);
    ASSERT_EQ(admin_.ReceiveMethods().size(), 1u);
    EXPECT_EQ(ReceiveMethod().GetXslFileName(anna_, "ORDER"), "birch-2.xsl");

    // The lists take the user's partner from the directory.
    EXPECT_EQ(admin_.PutSender("ORDER", "anna", true), Change::Added);
    EXPECT_EQ(admin_.PutSender("ORDER", "anna", true), Change::Unchanged);
    EXPECT_EQ(admin_.PutRecipient("ORDER", "li", true, false), Change::Added);
    EXPECT_EQ(admin_.PutRecipient("ORDER", "li", true, true), Change::Changed);
    EXPECT_EQ(admin_.PutRecipient("INVOICE", "anna", false, false), Change::Added);
    EXPECT_TRUE(SenderList().GetNotification("ORDER", "anna"));
    EXPECT_EQ(admin_.PutSender("ORDER", "anna", false), Change::Changed);
    EXPECT_FALSE(SenderList().GetNotification("ORDER", "anna"));
    EXPECT_TRUE(SenderList().CheckAuthorizationForSender("ORDER", "anna"));

    auto senders = admin_.Senders();
    ASSERT_EQ(senders.size(), 1u);
    EXPECT_EQ(senders[0].businessPartnerId, anna_);
    auto recipients = admin_.Recipients("ORDER");
    ASSERT_EQ(recipients.size(), 1u);
    EXPECT_EQ(recipients[0].userId, "li");
    EXPECT_EQ(recipients[0].businessPartnerId, li_);
    EXPECT_TRUE(recipients[0].email);
    EXPECT_TRUE(recipients[0].htmlAttachment);
    EXPECT_EQ(admin_.Recipients().size(), 2u);
    EXPECT_TRUE(DistributionList().BPFoundOnDBList("ORDER", li_));

    EXPECT_EQ(admin_.PutTransformation({"INVOICE", "ORDER", "i2o.xsl"}), Change::Added);
    EXPECT_EQ(admin_.PutTransformation({"INVOICE", "ORDER", "i2o.xsl"}), Change::Unchanged);
    EXPECT_EQ(admin_.PutTransformation({"INVOICE", "ORDER", "i2o-2.xsl"}), Change::Changed);
    EXPECT_EQ(admin_.PutTransformation({"ORDER", "INVOICE", "o2i.xsl"}), Change::Added);
    auto changes = admin_.Transformations();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].transformXslName, "i2o-2.xsl");
    EXPECT_EQ(changes[1].newDocumentTypeId, "INVOICE");
}

TEST_P(SiteAdministrationTest, RecordsThatPointNowhereAreRefused) {
    EXPECT_NE(Failure([&] { admin_.PutDocumentType({" ORDER", "", "", "", ""}); }), "no error");
    EXPECT_NE(Failure([&] { admin_.PutDocumentType({"", "", "", "", ""}); }), "no error");
    EXPECT_NE(Failure([&] {
                  admin_.PutReceiveMethod(anna_ + li_ + 1, "ORDER", "x.xsl");
              }).find("does not exist"),
              std::string::npos);
    EXPECT_NE(Failure([&] {
                  admin_.PutReceiveMethod(anna_, "DESADV", "x.xsl");
              }).find("'DESADV' does not exist"),
              std::string::npos);
    EXPECT_NE(Failure([&] { admin_.PutReceiveMethod(anna_, "ORDER", " "); }), "no error");
    EXPECT_NE(Failure([&] {
                  admin_.PutSender("ORDER", "nobody", false);
              }).find("'nobody' does not exist"),
              std::string::npos);
    EXPECT_NE(Failure([&] { admin_.PutRecipient("DESADV", "anna", true, true); }), "no error");
    EXPECT_NE(Failure([&] { admin_.PutTransformation({"ORDER", "ORDER", "x.xsl"}); }), "no error");
    EXPECT_NE(Failure([&] { admin_.PutTransformation({"ORDER", "DESADV", "x.xsl"}); }), "no error");
    EXPECT_TRUE(admin_.ReceiveMethods().empty());
    EXPECT_TRUE(admin_.Senders().empty());
    EXPECT_TRUE(admin_.Recipients().empty());
    EXPECT_TRUE(admin_.Transformations().empty());
    EXPECT_EQ(admin_.DocumentTypes().size(), 2u);
}

/// Every row of the tables a site file writes, as one text.
std::string Snapshot(const std::string& connectionString) {
    db::Connection c(connectionString);
    std::string out;
    for (const char* sql : {
             "SELECT * FROM DOCUMENTTYPE ORDER BY DOCUMENTTYPEID",
             "SELECT * FROM RECEIVEMETHOD ORDER BY RECEIVEMETHODID",
             "SELECT * FROM SENDERLIST ORDER BY DOCUMENTTYPEID, USERID",
             "SELECT * FROM DISTRIBUTIONLIST ORDER BY DOCUMENTTYPEID, USERID",
             "SELECT * FROM DOCTYPETODOCTYPE ORDER BY TABLEID",
             "SELECT * FROM COLLABORATIONPARAMETER ORDER BY PARAMNAME",
             "SELECT * FROM BUSINESSPARTNER ORDER BY BUSINESSPARTNERID",
             "SELECT * FROM BUSINESSPARTNERCODE ORDER BY KIND, CODE",
             "SELECT * FROM MEMBERUSER ORDER BY USERID",
             "SELECT * FROM MEMBERUSERAPPLICATION ORDER BY USERID, APPLICATIONID",
         }) {
        out += std::string(sql) + "\n";
        for (db::Recordset rs = c.Query(sql); !rs.Eof(); rs.MoveNext()) {
            for (size_t i = 0; i < rs.FieldCount(); ++i)
                out += (rs.Field(i).IsNull() ? "NULL" : rs.Field(i).ToString()) + "|";
            out += "\n";
        }
    }
    return out;
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST_P(SiteAdministrationTest, TheDemoSiteFileAppliedTwiceChangesNothingTheSecondTime) {
    const std::string demo = std::string(KESTRIX_DATA_DIR) + "/demo/site.xml";
    SiteFileReport first = ApplySiteFile(demo, admin_);
    EXPECT_FALSE(first.changes.empty());
    const std::string after = Snapshot(site_.connectionString());

    SiteFileReport second = ApplySiteFile(demo, admin_);
    EXPECT_TRUE(second.changes.empty()) << second.changes.front();
    EXPECT_EQ(second.unchanged, static_cast<int>(first.changes.size()) + first.unchanged);
    EXPECT_EQ(Snapshot(site_.connectionString()), after);

    // What the file says is what the exchange then does.
    int32_t birchwood = admin_.PartnerByName("Birchwood Retail");
    ASSERT_NE(birchwood, 0);
    EXPECT_EQ(ReceiveMethod().GetXslFileName(birchwood, "ORDER"), "birchwood-order.xsl");
    EXPECT_TRUE(SenderList().CheckAuthorizationForSender("ORDER", "tom.reed"));
    EXPECT_FALSE(SenderList().GetNotification("ORDER", "tom.reed"));
    EXPECT_TRUE(SenderList().GetNotification("ORDER", "anna.berg"));
    EXPECT_TRUE(DistributionList().UserFoundOnDBList("ORDER", "max.cole"));
    EXPECT_TRUE(DistributionList().BPFoundOnDBList("INVOICE", birchwood));
    membership::Directory directory(site_.connectionString());
    int found = 0;
    for (const auto& user : directory.Users()) {
        if (user.login != "sara.holm") continue;
        ++found;
        EXPECT_EQ(user.languageId, 1031);
        EXPECT_EQ(user.applications.size(), 1u);
    }
    EXPECT_EQ(found, 1);
}

TEST_P(SiteAdministrationTest, AFileBringsAnExistingSiteUpToDate) {
    const auto file = site_.root() / "site.xml";
    WriteFile(file,
              "<site>"
              "<transform from='ORDER' to='INVOICE' xsl='o2i.xsl'/>"
              "<distribution doctype='ORDER' user='li' email='yes'/>"
              "<partner name='Birchwood Retail' code0='BWR'/>"
              "<parameter name='TransformXSLPath' value='/srv/xsl'/>"
              "</site>");
    SiteFileReport first = ApplySiteFile(file.string(), admin_);
    // The existing partner gained a code; the existing document types were not touched.
    EXPECT_EQ(first.changes.size(), 4u);
    EXPECT_EQ(first.unchanged, 0);
    membership::Directory directory(site_.connectionString());
    for (const auto& partner : directory.BusinessPartners()) {
        if (partner.id == anna_) {
            EXPECT_EQ(partner.codes0, std::vector<std::string>{"BWR"});
        }
    }
    EXPECT_TRUE(DistributionList().UserFoundOnDBList("ORDER", "li"));
    EXPECT_EQ(ApplySiteFile(file.string(), admin_).unchanged, 4);

    // A user who already belongs to another partner is not moved silently.
    WriteFile(file, "<site><partner name='Alder Components'><user login='anna'/></partner></site>");
    EXPECT_NE(Failure([&] {
                  ApplySiteFile(file.string(), admin_);
              }).find("exists already under business partner"),
              std::string::npos);
}

TEST_P(SiteAdministrationTest, AMalformedFileStoresNothing) {
    const auto file = site_.root() / "bad.xml";
    const std::string before = Snapshot(site_.connectionString());
    struct Case {
        const char* text;
        const char* message;
    };
    for (const Case& c : {
             Case{"<site><doctype id='DESADV'/><partner name='P'><user login='x'/>", ""},
             Case{"<sites/>", "root element must be <site>"},
             Case{"<site><doctype id='DESADV'/><doctyp id='X'/></site>", "unknown element <doctyp"},
             Case{"<site><doctype id='DESADV'/><receive partner='P' doctype='DESADV'/></site>",
                  "needs the attribute 'xsl'"},
             Case{"<site><doctype id='DESADV' descripton='typo'/></site>",
                  "unknown attribute 'descripton'"},
             Case{"<site><doctype id='DESADV'><user login='x'/></doctype></site>",
                  "cannot stand inside"},
             Case{"<site><doctype id='DESADV'/><sender doctype='DESADV' user='anna' "
                  "notification='maybe'/></site>",
                  "is not 0 or 1"},
             Case{"<site><partner name='New'><user login='new' language='en'/></partner></site>",
                  "is not a number"},
         }) {
        WriteFile(file, c.text);
        std::string message = Failure([&] { ApplySiteFile(file.string(), admin_); });
        EXPECT_NE(message, "no error") << c.text;
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
    EXPECT_EQ(Snapshot(site_.connectionString()), before);
}

INSTANTIATE_TEST_SUITE_P(Backends, SiteAdministrationTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
