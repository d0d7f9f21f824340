#include "platform/services/configuration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/base/error.h"
#include "tests/support/backends.h"

namespace fs = std::filesystem;
using kestrix::Error;
using kestrix::Variant;
using kestrix::services::Configuration;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using kestrix::test::ScopedHome;

constexpr const char* kServerConfig = R"(<?xml version="1.0"?>
<Configuration>
  <Section name="GLOBAL">
    <Key name="ReceiveUrl">  http://example.test/receive  </Key>
    <Key name="Escaped">a &amp; b &lt; c</Key>
  </Section>
  <Section name="membership">
    <Key name="MemScriptUser">script</Key>
  </Section>
  <Applications>
    <Application name="Kestrix" id="1" connectionString="sqlite:/site/var/kestrix.db"/>
    <Application name="Portal" id="7"/>
  </Applications>
</Configuration>
)";

Error LoadError(const std::string& path) {
    Configuration config;
    try {
        config.LoadFile(path);
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "loading " << path << " did not fail";
    return Error(0, {}, {});
}

}  // namespace

TEST(Configuration, AnswersSectionsKeysAndApplicationsIgnoringCase) {
    kestrix::test::TempDir dir;
    fs::path file = dir.path() / "QelServerConfiguration.xml";
    WriteFile(file, kServerConfig);
    Configuration config;
    config.LoadFile(file.string());

    EXPECT_EQ(config.LoadedFile(), file.string());
    EXPECT_EQ(config.GetValue("global", "RECEIVEURL").ToString(), "http://example.test/receive");
    EXPECT_EQ(config.GetValue("GLOBAL", "Escaped").ToString(), "a & b < c");
    EXPECT_EQ(config.GetValue("MEMBERSHIP", "memscriptuser").ToString(), "script");
    EXPECT_TRUE(config.GetValue("GLOBAL", "Absent").IsEmpty());
    EXPECT_TRUE(config.GetValue("NOSECTION", "ReceiveUrl").IsEmpty());

    EXPECT_EQ(config.ConnectionString("kestrix"), "sqlite:/site/var/kestrix.db");
    EXPECT_EQ(config.ApplicationId("PORTAL"), 7);
    EXPECT_EQ(config.Applications(), (std::map<std::string, int32_t>{{"Kestrix", 1}, {"Portal", 7}}));
    // An application without a connection string, and one that does not exist.
    EXPECT_THROW(config.ConnectionString("Portal"), Error);
    EXPECT_THROW(config.ApplicationId("Nobody"), Error);
}

TEST(Configuration, MissingOrMalformedFileNamesPathAndReason) {
    kestrix::test::TempDir dir;
    fs::path missing = dir.path() / "nowhere" / "SiteConfiguration.xml";
    Error e = LoadError(missing.string());
    EXPECT_NE(e.number(), 0);
    EXPECT_NE(e.description().find(missing.string()), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("does not exist"), std::string::npos) << e.description();

    fs::path malformed = dir.path() / "broken.xml";
    WriteFile(malformed, "<Configuration>\n  <Section name=\"GLOBAL\">\n</Configuration>\n");
    e = LoadError(malformed.string());
    EXPECT_NE(e.description().find(malformed.string()), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("line 3"), std::string::npos) << e.description();

    // A failed load leaves the previously loaded file in place.
    fs::path good = dir.path() / "good.xml";
    WriteFile(good, kServerConfig);
    Configuration config;
    config.LoadFile(good.string());
    EXPECT_THROW(config.LoadFile(malformed.string()), Error);
    EXPECT_EQ(config.ApplicationId("Kestrix"), 1);
}

TEST(Configuration, NeverReadsExternalOrExpandsDeclaredEntities) {
    kestrix::test::TempDir dir;
    fs::path secret = dir.path() / "secret.txt";
    WriteFile(secret, "TOPSECRET");
    fs::path external = dir.path() / "external.xml";
    WriteFile(external, "<?xml version=\"1.0\"?>\n<!DOCTYPE Configuration [<!ENTITY s SYSTEM \"file://" +
                            secret.string() +
                            "\">]>\n<Configuration><Section name=\"A\"><Key name=\"K\">&s;</Key>"
                            "</Section></Configuration>\n");
    Error e = LoadError(external.string());
    EXPECT_EQ(e.description().find("TOPSECRET"), std::string::npos);
    EXPECT_NE(e.description().find("entity"), std::string::npos) << e.description();

    fs::path laughs = dir.path() / "laughs.xml";
    WriteFile(laughs,
              "<?xml version=\"1.0\"?>\n<!DOCTYPE C [<!ENTITY a \"aaaaaaaaaa\">"
              "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n<C><Section name=\"A\">"
              "<Key name=\"K\">&b;</Key></Section></C>\n");
    e = LoadError(laughs.string());
    EXPECT_NE(e.description().find(laughs.string()), std::string::npos) << e.description();
}

TEST(Configuration, SetValueCreatesAndReplacesAndKeepsTheRest) {
    kestrix::test::TempDir dir;
    fs::path file = dir.path() / "config" / "SiteConfiguration.xml";
    Configuration::SetValue(file.string(), "GLOBAL", "AttachmentsRoot", "/data/att");
    Configuration::SetValue(file.string(), "MEMBERSHIP", "MemScriptCode", "x&y<z>\"'");
    Configuration::SetValue(file.string(), "global", "ATTACHMENTSROOT", "/data/other");

    Configuration config;
    config.LoadFile(file.string());
    EXPECT_EQ(config.GetValue("GLOBAL", "AttachmentsRoot").ToString(), "/data/other");
    EXPECT_EQ(config.GetValue("MEMBERSHIP", "MemScriptCode").ToString(), "x&y<z>\"'");
    // The key was replaced, not added a second time.
    std::string text = ReadFile(file);
    EXPECT_EQ(text.find("AttachmentsRoot"), text.rfind("AttachmentsRoot")) << text;

    // Applications and other sections survive a change of one value.
    fs::path server = dir.path() / "config" / "QelServerConfiguration.xml";
    WriteFile(server, kServerConfig);
    Configuration::SetValue(server.string(), "GLOBAL", "ReceiveUrl", "http://new.test/");
    config.LoadFile(server.string());
    EXPECT_EQ(config.GetValue("GLOBAL", "ReceiveUrl").ToString(), "http://new.test/");
    EXPECT_EQ(config.GetValue("GLOBAL", "Escaped").ToString(), "a & b < c");
    EXPECT_EQ(config.ConnectionString("Kestrix"), "sqlite:/site/var/kestrix.db");

    // Nothing but the two files is left in the folder (no temporary files).
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path() / "config")) ++entries;
    EXPECT_EQ(entries, 2);

    // A malformed file is not overwritten.
    fs::path broken = dir.path() / "broken.xml";
    WriteFile(broken, "<Configuration>");
    EXPECT_THROW(Configuration::SetValue(broken.string(), "A", "B", "C"), Error);
    EXPECT_EQ(ReadFile(broken), "<Configuration>");
}

TEST(Configuration, SetApplicationNumbersNewApplicationsAndKeepsExistingIds) {
    kestrix::test::TempDir dir;
    fs::path file = dir.path() / "QelServerConfiguration.xml";
    EXPECT_EQ(Configuration::SetApplication(file.string(), "Kestrix", std::string("sqlite:/a.db")), 1);
    EXPECT_EQ(Configuration::SetApplication(file.string(), "Portal", std::nullopt), 2);
    EXPECT_EQ(Configuration::SetApplication(file.string(), "kestrix",
                                            std::string("postgresql://db.test/k")),
              1);
    EXPECT_EQ(Configuration::SetApplication(file.string(), "Portal", std::nullopt), 2);

    Configuration config;
    config.LoadFile(file.string());
    EXPECT_EQ(config.ConnectionString("Kestrix"), "postgresql://db.test/k");
    EXPECT_EQ(config.ApplicationId("Portal"), 2);
    EXPECT_EQ(config.Applications().size(), 2u);

    // Numbering continues after the highest id in the file, not after the count.
    WriteFile(file, kServerConfig);
    EXPECT_EQ(Configuration::SetApplication(file.string(), "Reports", std::nullopt), 8);
}

TEST(Configuration, InstalledProductsAndRootFolderComeFromTheSiteHome) {
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    EXPECT_EQ(kestrix::services::SiteHome(), site.path().string());

    auto products = Configuration::InstalledProducts("QelServer");
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0].serverConfigFolder, (site.path() / "config").string());
    EXPECT_EQ(products[0].siteConfigFolder, (site.path() / "config").string());
    EXPECT_EQ(products[0].installFolder, site.path().string());
    EXPECT_TRUE(Configuration::InstalledProducts("OtherProduct").empty());

    EXPECT_EQ(Configuration::RootFolder(), site.path().string());
    fs::path siteConfig = site.path() / "config" / "SiteConfiguration.xml";
    Configuration::SetValue(siteConfig.string(), "GLOBAL", "IISVirtId", "3");
    EXPECT_EQ(Configuration::RootFolder(), site.path().string());
    Configuration::SetValue(siteConfig.string(), "GLOBAL", "AttachmentsRoot", "/srv/files");
    EXPECT_EQ(Configuration::RootFolder(), "/srv/files");
}

TEST(Configuration, AnswersLateBoundCalls) {
    kestrix::test::TempDir dir;
    fs::path file = dir.path() / "QelServerConfiguration.xml";
    WriteFile(file, kServerConfig);
    Configuration config;
    std::vector<Variant> args{Variant(file.string())};
    config.Invoke("LoadFile", args);
    std::vector<Variant> query{Variant("GLOBAL"), Variant("ReceiveUrl")};
    EXPECT_EQ(config.Invoke("GetValue", query).ToString(), "http://example.test/receive");
    std::vector<Variant> app{Variant("Kestrix")};
    EXPECT_EQ(config.Invoke("ConnectionString", app).ToString(), "sqlite:/site/var/kestrix.db");
    EXPECT_EQ(config.Invoke("ApplicationId", app).ToLong(), 1);
    try {
        config.Invoke("NoSuchMethod", app);
        FAIL() << "an unknown method was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), kestrix::errnum::MethodNotSupported);
    }
    std::vector<Variant> tooFew{Variant("GLOBAL")};
    EXPECT_THROW(config.Invoke("GetValue", tooFew), Error);
}

TEST(Configuration, AFileChangedSinceItWasLastReadIsReadAgain) {
    kestrix::test::TempDir dir;
    fs::path file = dir.path() / "SiteConfiguration.xml";
    auto site = [](const std::string& value) {
        return "<Configuration><Section name=\"GLOBAL\"><Key name=\"Mode\">" + value +
               "</Key></Section></Configuration>";
    };
    auto mode = [&] {
        Configuration config;
        config.LoadFile(file.string());
        return config.GetValue("GLOBAL", "Mode").ToString();
    };

    // Written and rewritten in place within moments, with the same length.
    WriteFile(file, site("aaa"));
    EXPECT_EQ(mode(), "aaa");
    WriteFile(file, site("bbb"));
    EXPECT_EQ(mode(), "bbb");

    // A file that has been read while it was unchanged for a while, then written in place.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(mode(), "bbb");
    EXPECT_EQ(mode(), "bbb");
    WriteFile(file, site("ccc"));
    EXPECT_EQ(mode(), "ccc");

    // Replaced by another file, then removed.
    Configuration::SetValue(file.string(), "GLOBAL", "Mode", "ddd");
    EXPECT_EQ(mode(), "ddd");
    fs::remove(file);
    EXPECT_THROW(mode(), Error);
    WriteFile(file, "<Configuration><Section name=\"GLOBAL\">");
    EXPECT_THROW(mode(), Error);
}
