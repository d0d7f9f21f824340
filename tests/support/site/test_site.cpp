#include "tests/support/site/test_site.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "platform/db/connection.h"
#include "platform/services/configuration.h"
#include "platform/membership/directory.h"

namespace kestrix::test {

TestSite::TestSite(const std::string& backend) : database_(backend) {
    SiteOptions options;
    options.database = database_.connectionString();
    InitSite(dir_.path().string(), options);
    // A service of a test site listens on a free port, never on the fixed default.
    services::Configuration::SetValue((dir_.path() / "config" / "SiteConfiguration.xml").string(), "SERVICE",
                                      "Listen", "127.0.0.1:0");
    setenv("KESTRIX_HOME", dir_.path().c_str(), 1);
    ResetThreadCaches();
}

TestSite::~TestSite() {
    ResetThreadCaches();
    unsetenv("KESTRIX_HOME");
}

void TestSite::SetParameter(const std::string& name, const std::string& value) const {
    db::Connection connection(connectionString());
    db::EditRow row;
    row.Set("PARAMVALUE", value);
    std::string where = "PARAMNAME = " + connection.EncodeText(name);
    if (connection.Update("COLLABORATIONPARAMETER", row, where) == 0) {
        row.Set("PARAMNAME", name);
        connection.Insert("COLLABORATIONPARAMETER", row);
    }
}

std::string TestSite::LogText() const {
    std::ifstream in(dir_.path() / "var" / "log" / "kestrix.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int64_t TestSite::Exec(const std::string& sql) const {
    db::Connection connection(connectionString());
    return connection.Execute(sql);
}

db::Recordset TestSite::Query(const std::string& sql) const {
    db::Connection connection(connectionString());
    return connection.Query(sql);
}

int64_t TestSite::Count(const std::string& from, const std::string& where) const {
    std::string sql = "SELECT COUNT(*) AS N FROM " + from;
    if (!where.empty())
        sql += (from.find(" WHERE ") == std::string::npos ? " WHERE " : " AND ") + where;
    return Query(sql).GetInt("N");
}

void TestSite::AddUser(const std::string& login, int32_t partner, const std::string& email,
                       int32_t locale) const {
    membership::Directory directory(connectionString());
    membership::UserRecord user;
    user.login = login;
    user.businessPartnerId = partner;
    user.email = email;
    user.languageId = 1033;
    user.localeId = locale;
    user.firstName = login;
    user.secondName = "Tester";
    directory.AddUser(user, "pw-" + login);
}

TwoPartnerSite::TwoPartnerSite(const std::string& backend) : TestSite(backend) {
    membership::Directory directory(connectionString());
    acme_ = directory.AddBusinessPartner("Acme", {"ACME-C"}, {"ACME-S"});
    bolt_ = directory.AddBusinessPartner("Bolt", {"BOLT-C"}, {"BOLT-S"});
    AddUser("alice", acme_, "alice@acme.test");
    AddUser("bob", bolt_, "bob@bolt.test");
    AddUser("carol", bolt_, "carol@bolt.test");
    Exec(
        "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase "
        "order')");
    Exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('INVOICE', 'Invoice')");
    Exec(
        "INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) "
        "VALUES ('ORDER', 'alice', 1, " +
        std::to_string(acme_) + ")");
    for (const char* user : {"bob", "carol"})
        Exec(std::string(
                 "INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, "
                 "HTMLATTACHMENT) VALUES ('ORDER', '") +
             user + "', " + std::to_string(bolt_) + ", 1, 0)");
    Exec("INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) VALUES (" +
         std::to_string(acme_) + ", 'ORDER', 'acme-order.xsl')");
    std::ofstream(root() / "xsl" / "acme-order.xsl")
        << "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
           "<xsl:template match='/*'><xsl:copy><xsl:attribute name='standard'>1</xsl:attribute>"
           "<xsl:copy-of select='@*|node()'/></xsl:copy></xsl:template></xsl:stylesheet>";
}

std::filesystem::path TestSite::TestPluginLibrary() {
    return std::filesystem::path(KESTRIX_BINARY_DIR) / "lib" / "libkestrix_test_plugin.so";
}

void TestSite::RegisterTestPlugin() const {
    const std::string library = TestPluginLibrary().string();
    std::ofstream(root() / "config" / "components.xml")
        << "<?xml version=\"1.0\"?>\n<Components>\n"
        << "<Component progId=\"KestrixTest.Receiver\" library=\"" << library << "\"/>\n"
        << "<Component progId=\"KestrixTest.Judge\" library=\"" << library << "\"/>\n"
        << "</Components>\n";
}

}  // namespace kestrix::test
