#include "platform/component/component.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/base/error.h"
#include "platform/base/variant.h"
#include "platform/membership/business_partner.h"
#include "platform/membership/members.h"
#include "platform/membership/user.h"
#include "platform/membership/validator.h"
#include "platform/services/configuration.h"
#include "platform/services/log.h"
#include "tests/support/backends.h"

namespace fs = std::filesystem;
using kestrix::Error;
using kestrix::Object;
using kestrix::ObjectPtr;
using kestrix::Variant;
using kestrix::component::ClassEntry;
using kestrix::component::CreateObject;

namespace {

constexpr int32_t kInvalidClassString = static_cast<int32_t>(0x800401F3u);

const fs::path kPlugin = fs::path(KESTRIX_BINARY_DIR) / "lib" / "libkestrix_test_plugin.so";

using kestrix::test::ScopedHome;

void WriteComponents(const fs::path& site, const std::string& entries) {
    fs::create_directories(site / "config");
    std::ofstream(site / "config" / "components.xml")
        << "<?xml version=\"1.0\"?>\n<Components>\n" << entries << "</Components>\n";
}

Error CreateError(std::string_view progId) {
    try {
        CreateObject(progId);
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "creating " << progId << " did not fail";
    return Error(0, {}, {});
}

/// A class of a caller's own table, named like a platform class to show which one wins.
class OwnLog : public Object {};
ObjectPtr MakeOwnLog() { return std::make_shared<OwnLog>(); }

}  // namespace

TEST(CreateObject, MakesThePlatformClassesByNameIgnoringCase) {
    EXPECT_NE(dynamic_cast<kestrix::services::Log*>(CreateObject("Tavrel.Log").get()), nullptr);
    EXPECT_NE(dynamic_cast<kestrix::services::Configuration*>(CreateObject("TAVREL.CONFIGURATION").get()),
              nullptr);
    EXPECT_NE(dynamic_cast<kestrix::membership::User*>(CreateObject("ulmara.user").get()), nullptr);
    EXPECT_NE(dynamic_cast<kestrix::membership::Members*>(CreateObject("Ulmara.Members").get()), nullptr);
    EXPECT_NE(dynamic_cast<kestrix::membership::Validator*>(CreateObject("Ulmara.Validator").get()),
              nullptr);
    EXPECT_NE(dynamic_cast<kestrix::membership::BusinessPartner*>(
                  CreateObject("Brenlow.BusinessPartner").get()),
              nullptr);
    // Every call makes a new object.
    EXPECT_NE(CreateObject("Tavrel.Log"), CreateObject("Tavrel.Log"));
}

TEST(CreateObject, TheCallersOwnTableComesFirst) {
    const ClassEntry own[] = {{"Tavrel.Log", &MakeOwnLog}, {"Acme.Own", &MakeOwnLog}};
    EXPECT_NE(dynamic_cast<OwnLog*>(CreateObject("Tavrel.Log", own).get()), nullptr);
    EXPECT_NE(dynamic_cast<OwnLog*>(CreateObject("acme.own", own).get()), nullptr);
    // Without the table the name is unknown again.
    EXPECT_EQ(CreateError("Acme.Own").number(), kInvalidClassString);
}

TEST(CreateObject, AnUnknownNameIsAnInvalidClassString) {
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    Error e = CreateError("Nobody.Knows");
    EXPECT_EQ(e.number(), kInvalidClassString);
    EXPECT_NE(e.description().find("Invalid class string"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("Nobody.Knows"), std::string::npos) << e.description();

    // Also when the site has a components file that does not name it.
    WriteComponents(site.path(), "<Component progId=\"Acme.Orders\" library=\"/nowhere/libacme.so\"/>\n");
    EXPECT_EQ(CreateError("Nobody.Knows").number(), kInvalidClassString);
}

TEST(CreateObject, LoadsPlugInsOfTheSiteComponentsFileAndCallsThemLateBound) {
    ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    // A relative library path is relative to the folder of the components file.
    fs::create_directories(site.path() / "config" / "plugins");
    fs::copy_file(kPlugin, site.path() / "config" / "plugins" / "libecho.so");
    WriteComponents(site.path(),
                    "<Component progId=\"KestrixTest.Echo\" library=\"plugins/libecho.so\"/>\n");

    ObjectPtr echo = CreateObject("kestrixtest.echo");
    ASSERT_NE(echo, nullptr);
    std::vector<Variant> args{Variant("hello")};
    EXPECT_EQ(echo->Invoke("Echo", args), Variant("hello"));
    std::vector<Variant> number{Variant(42)};
    EXPECT_EQ(echo->Invoke("echo", number).ToLong(), 42);

    // An error raised inside the plug-in reaches the caller with its number and text.
    std::vector<Variant> failure{Variant(-2147220980), Variant("plug-in failed")};
    try {
        echo->Invoke("Fail", failure);
        FAIL() << "the plug-in's error was lost";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), -2147220980);
        EXPECT_EQ(e.description(), "plug-in failed");
        EXPECT_EQ(e.source(), "KestrixTest.Echo.Fail");
    }
    // A method the plug-in does not have.
    try {
        echo->Invoke("Nothing", args);
        FAIL() << "an unknown method was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), kestrix::errnum::MethodNotSupported);
    }

    // Another thread loads the library for itself and gets a working object too.
    Variant fromThread;
    std::thread([&] {
        ObjectPtr other = CreateObject("KestrixTest.Echo");
        std::vector<Variant> a{Variant("threaded")};
        fromThread = other->Invoke("Echo", a);
    }).join();
    EXPECT_EQ(fromThread, Variant("threaded"));
}

TEST(CreateObject, ABrokenPlugInEntryReportsTheLibraryAndTheReason) {
    ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    fs::path missing = site.path() / "libmissing.so";
    WriteComponents(site.path(),
                    "<Component progId=\"Acme.Missing\" library=\"" + missing.string() + "\"/>\n"
                    "<Component progId=\"Acme.NotInTable\" library=\"" + kPlugin.string() + "\"/>\n"
                    "<Component progId=\"Acme.NotALibrary\" library=\"components.xml\"/>\n");
    Error e = CreateError("Acme.Missing");
    EXPECT_NE(e.number(), kInvalidClassString);
    EXPECT_NE(e.description().find(missing.string()), std::string::npos) << e.description();

    // The library loads but does not have the class.
    e = CreateError("Acme.NotInTable");
    EXPECT_EQ(e.number(), kInvalidClassString);
    EXPECT_NE(e.description().find("Acme.NotInTable"), std::string::npos) << e.description();

    e = CreateError("Acme.NotALibrary");
    EXPECT_NE(e.description().find("components.xml"), std::string::npos) << e.description();

    // A malformed components file is reported with its path.
    std::ofstream(site.path() / "config" / "components.xml") << "<Components>";
    e = CreateError("Acme.Missing");
    EXPECT_NE(e.description().find("components.xml"), std::string::npos) << e.description();
}

TEST(CreateObject, ModuleFolderIsTheFolderOfThePlatformLibrary) {
    // The component code lives in the one shared platform library that this program links,
    // not in the program itself.
    const fs::path folder(kestrix::component::ModuleFolder());
    EXPECT_EQ(folder, fs::path(KESTRIX_BINARY_DIR) / "lib");
    EXPECT_NE(folder, fs::read_symlink("/proc/self/exe").parent_path());
    EXPECT_TRUE(fs::exists(folder / "libkestrix_platform.so")) << folder;
}

TEST(CreateObject, QelFileClassesComeFromLibQelFile) {
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    // libqelfile is found in the lib folder beside the program's bin folder.
    EXPECT_NE(CreateObject("QelFile.File"), nullptr);
    EXPECT_NE(CreateObject("qelfile.file"), nullptr);
    Error e = CreateError("QelFile.NoSuchClass");
    EXPECT_EQ(e.number(), kInvalidClassString) << e.description();
}
