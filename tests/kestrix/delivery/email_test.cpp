#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kestrix/foundation/enums.h"
#include "kestrix/api/utility.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/services/configuration.h"
#include "tests/peers/smtp_server.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

std::vector<std::string> PickedUp(const test::TestSite& site) {
    std::vector<std::string> mails;
    for (const auto& e : std::filesystem::directory_iterator(site.root() / "out" / "mail")) {
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        mails.push_back(text.str());
    }
    return mails;
}

void UseSmtp(const test::TestSite& site, int port) {
    std::string file = (site.root() / "config" / "SiteConfiguration.xml").string();
    services::Configuration::SetValue(file, "MAIL", "Mode", "smtp");
    services::Configuration::SetValue(file, "MAIL", "SmtpHost", "127.0.0.1");
    services::Configuration::SetValue(file, "MAIL", "SmtpPort", std::to_string(port));
    services::Configuration::SetValue(file, "MAIL", "SmtpTimeout", "3");
}

TEST(UtilitySendEmail, MissingSenderOrReceiverAreTheirOwnErrors) {
    test::TestSite site("sqlite");
    Utility u;
    try {
        u.SendEmail("", "b@x.test", "s", "b", "", "");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::MissingEmailSenderError));
        EXPECT_EQ(e.source(), "Utility");
        EXPECT_NE(e.description().find("The Sender is missing."), std::string::npos);
    }
    try {
        u.SendEmailWithAttachments("a@x.test", "", "s", "b", "", "", Variant{});
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::MissingEmailReceiverError));
        EXPECT_NE(e.description().find("The Receiver is" + std::string(60, ' ') + "missing."),
                  std::string::npos);
    }
}

TEST(UtilitySendEmail, ThePickupFolderIsTheEmbeddedDefault) {
    test::TestSite site("sqlite");
    Utility u;
    std::filesystem::path extra = site.root() / "temp" / "extra.txt";
    std::ofstream(extra) << "extra";
    std::filesystem::path xml = site.root() / "temp" / "7.xml";
    std::ofstream(xml) << "<ORDER/>";
    u.SendEmailWithAttachments("a@x.test", "b@y.test", "Subject", "Body", "", xml.string(),
                               Variant{Array{Variant{Array{extra.string()}}}});
    auto mails = PickedUp(site);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].find("extra.txt"), std::string::npos);
    EXPECT_NE(mails[0].find("7.xml"), std::string::npos);
}

TEST(UtilitySendEmail, SmtpRefusalsAreRaisedAndTheAdministratorMailIsSent) {
    test::TestSite site("sqlite");
    Utility u;
    {
        test::SmtpServer server;
        UseSmtp(site, server.port());
        u.SendEmailToAdministrator("/site/error/2026-12-08_10-00-00/order.xml");
        auto messages = server.WaitForMessages(1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("X-Rcpt-To: kestrix-admin@localhost"), std::string::npos);
        EXPECT_NE(messages[0].find("order.xml"), std::string::npos);
    }
    test::SmtpServer refusing(test::SmtpServer::Mode::Refuse);
    UseSmtp(site, refusing.port());
    EXPECT_THROW(u.SendEmail("a@x.test", "b@y.test", "s", "b", "", ""), Error);
    // The administrator's mail never stops its caller.
    EXPECT_NO_THROW(u.SendEmailToAdministrator("file.xml"));
}

class WebHelpers : public ::testing::TestWithParam<std::string> {};

TEST_P(WebHelpers, LinksAreBuiltFromTheSiteParameters) {
    test::TestSite site(GetParam());
    site.SetParameter("SiteLink", "https://exchange.test/app");
    site.SetParameter("SiteLinkStartingPoint", "pages/doc.asp/");
    Utility u;
    EXPECT_EQ(u.getPagePath().ToString(), "https://exchange.test/app/");
    EXPECT_EQ(u.getKestrixPath(), "pages/doc.asp");
    EXPECT_EQ(u.getDocumentHyperlinkBySenderMode(42, " ORDER RESPONSE=1 ", 1),
              "https://exchange.test/app/pages/doc.asp?DocID=42&DocTypeID=ORDER%20RESPONSE%3D1&SenderMode=1");
    site.SetParameter("SiteLink", "https://exchange.test/");
    site.SetParameter("SiteLinkStartingPoint", "doc\\");
    EXPECT_EQ(u.getPagePath().ToString(), "https://exchange.test/");
    EXPECT_EQ(u.getKestrixPath(), "doc");
}

TEST_P(WebHelpers, TheSentLogIsCheckedByTypeAndPartnerOrBySender) {
    test::TestSite site(GetParam());
    db::Connection c(site.connectionString());
    db::EditRow doc;
    doc.Set("SENDER", "alice");
    doc.Set("DOCUMENTTYPEID", "ORDER");
    int64_t id = c.Insert("DOCUMENT", doc, "DOCUMENTID");
    db::EditRow history;
    history.Set("DOCUMENTID", id);
    history.Set("DOCUMENTTYPEID", "ORDER");
    history.Set("BUSINESSPARTNERID", 7);
    c.Insert("SENDMETHODHISTORY", history, "HISTORYID");
    Utility u;
    EXPECT_TRUE(u.CheckSentLog("ORDER", "nobody", 7));
    EXPECT_TRUE(u.CheckSentLog("INVOICE", "alice", 9));
    EXPECT_FALSE(u.CheckSentLog("INVOICE", "bob", 7));
    EXPECT_FALSE(u.CheckSentLog("ORDER", "nobody", 7, static_cast<int32_t>(id) + 1));
    EXPECT_TRUE(u.CheckSentLog("O'RDER", "alice", 7, static_cast<int32_t>(id)));
}

INSTANTIATE_TEST_SUITE_P(Backends, WebHelpers, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
