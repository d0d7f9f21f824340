#include "tests/support/site/test_site.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "platform/db/connection.h"

namespace kestrix::test {

TestSite::TestSite(const std::string& backend) : database_(backend) {
    SiteOptions options;
    options.database = database_.connectionString();
    InitSite(dir_.path().string(), options);
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

}  // namespace kestrix::test
