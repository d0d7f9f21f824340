#include <gtest/gtest.h>

#include <filesystem>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/intake/publish_create_document.h"
#include "kestrix/intake/publish_forward_document.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

const std::string kOrder =
    "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><USESDISTLIST>1</USESDISTLIST>"
    "<LINE qty='2'>Bolts</LINE></ORDER>";

class PublishForwardDocumentTest : public ::testing::TestWithParam<std::string> {
  protected:
    PublishForwardDocumentTest() {
        // bob and carol may pass orders on.
        for (const char* user : {"bob", "carol"})
            site_.Exec(std::string("INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, "
                                   "BUSINESSPARTNERID) VALUES ('ORDER', '") +
                       user + "', 0, " + std::to_string(site_.bolt()) + ")");
    }

    int32_t Publish(const std::string& body = kOrder) {
        PublishCreateDocument publisher;
        return publisher.PublishXmlDocument(body, Variant(), true);
    }

    std::string Id(int32_t id) { return std::to_string(id); }

    test::TwoPartnerSite site_{GetParam()};
    fs::path attachments_ = site_.root() / "attachments";
    PublishForwardDocument forward_;
};

TEST_P(PublishForwardDocumentTest, ARecipientForwardsADocumentWithItsAttachments) {
    const int32_t old = Publish();
    ASSERT_GT(old, 0);
    site_.Exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + Id(old) + ", 'terms.pdf')");
    test::WriteAll(attachments_ / Id(old) / "terms.pdf", "%PDF terms");

    const int32_t copy = forward_.Main2(old, "", "bob", attachments_.string());
    ASSERT_GT(copy, old);
    EXPECT_EQ(site_.Count("DOCUMENT", "DOCUMENTID = " + Id(copy) + " AND DOCUMENTTYPEID = 'ORDER'"), 1);
    EXPECT_EQ(site_.Count("ATTACHMENT", "DOCUMENTID = " + Id(copy) + " AND ATTACHMENTFILENAME = 'terms.pdf'"), 1);
    EXPECT_EQ(test::ReadAll(attachments_ / Id(copy) / "terms.pdf"), "%PDF terms");
    EXPECT_EQ(site_.Count("PUBLICATION", "DOCUMENTID = " + Id(old) + " AND USERID = 'bob' AND FORWARD = 1"), 1);
    EXPECT_EQ(site_.Count("PUBLICATION", "DOCUMENTID = " + Id(old) + " AND USERID = 'carol' AND FORWARD = 1"), 0);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS", "DOCUMENTID = " + Id(copy)), 0);

    // A document without attachments or folder passes on without any publication error; a
    // forwarding user named to break out of the statement marks nothing.
    const int32_t plain = Publish();
    const int32_t again = forward_.Main2(plain, "", "carol", attachments_.string());
    EXPECT_GT(again, plain);
    EXPECT_EQ(site_.Count("PUBLICATIONERRORS", "DOCUMENTID = " + Id(again)), 0);
    EXPECT_FALSE(fs::exists(attachments_ / Id(again)));
    EXPECT_EQ(site_.Count("PUBLICATION", "DOCUMENTID = " + Id(plain) + " AND FORWARD = 1"), 1);

    // A change of type exists only once one is configured for the type.
    int32_t doc = old;
    EXPECT_FALSE(forward_.TransformExist(doc));
    site_.Exec("INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID) VALUES ('ORDER', 'INVOICE')");
    EXPECT_TRUE(forward_.TransformExist(doc));

    forward_.RemoveAllRecipientsForDocument(doc);
    EXPECT_EQ(site_.Count("PUBLICATION", "DOCUMENTID = " + Id(old)), 0);
    EXPECT_GT(site_.Count("PUBLICATION", "DOCUMENTID = " + Id(plain)), 0);
}

TEST_P(PublishForwardDocumentTest, WhatCannotBeForwardedIsRefusedBeforeAnythingIsWritten) {
    const int64_t before = site_.Count("DOCUMENT");
    Error unknown = test::RaisedBy<Error>([&] { forward_.Main2(987654, "", "bob", attachments_.string()); });
    EXPECT_EQ(unknown.number(), ErrNum(EnumerationErrors::DocumentIDNotInDatabase));
    EXPECT_NE(unknown.description().find("Document with documentID = 987654 doesn't exist."), std::string::npos);
    Dictionary reps;
    reps.Add("[%DOCTYPEID%]", Variant("987654"));
    EXPECT_NE(unknown.description().find(TranslateLabel("SLBSH4307", 0, reps)), std::string::npos)
        << unknown.description();

    site_.Exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, XMLBODY, STATUS) VALUES ('OBIPurchaseOrder', "
               "'alice', '<OBIPurchaseOrder><Envelope/></OBIPurchaseOrder>', 1)");
    db::Recordset rs = site_.Query("SELECT MAX(DOCUMENTID) AS ID FROM DOCUMENT");
    const int32_t obi = rs.Field("ID").ToLong();
    Error refused = test::RaisedBy<Error>([&] { forward_.Main2(obi, "", "bob", attachments_.string()); });
    EXPECT_EQ(refused.number(), ErrNum(EnumerationErrors::CannotLoadFile));
    EXPECT_NE(refused.description().find(TranslateLabel("SLBSH4303")), std::string::npos);
    EXPECT_EQ(site_.Count("DOCUMENT"), before + 1);

    // The old entry only says it is no longer used.
    EXPECT_EQ(forward_.Main(obi, "bob", attachments_.string()), -1);
    EXPECT_EQ(site_.Count("DOCUMENT"), before + 1);
    EXPECT_NE(site_.LogText().find("Function 'Main' is deprecated: instead use 'Main2'"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, PublishForwardDocumentTest, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
