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

    // Any other exception stays inside the plug-in and arrives as an unspecified failure.
    std::vector<Variant> panic{Variant("out of paper")};
    try {
        echo->Invoke("Panic", panic);
        FAIL() << "the plug-in's exception was lost";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), kestrix::errnum::E_FAIL);
        EXPECT_EQ(e.description(), "out of paper");
    }
    // Arguments are passed by reference: what the plug-in changes comes back, text and array.
    std::vector<Variant> pair{Variant("left"), Variant(kestrix::Array{Variant(1), Variant("two")})};
    EXPECT_TRUE(echo->Invoke("Swap", pair).IsEmpty());
    EXPECT_EQ(pair[1], Variant("left"));
    ASSERT_TRUE(pair[0].IsArray());
    EXPECT_EQ(pair[0].ToArray().at(1), Variant("two"));
    // An object cannot cross the entry.
    std::vector<Variant> object{Variant(echo)};
    EXPECT_THROW(echo->Invoke("Echo", object), Error);

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

/// True when the library file is mapped into this process.
bool Mapped(const fs::path& library) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(library.string()) != std::string::npos) return true;
    return false;
}

TEST(CreateObject, APlugInWithoutAKnownEntryIsRefusedAndUnloaded) {
    const fs::path built = kPlugin.parent_path();
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    fs::copy_file(built / "libkestrix_test_plugin_future.so", site.path() / "libfuture.so");
    fs::copy_file(built / "libkestrix_test_plugin_bare.so", site.path() / "libbare.so");
    WriteComponents(site.path(),
                    "<Component progId=\"Acme.Future\" library=\"../libfuture.so\"/>\n"
                    "<Component progId=\"Acme.Bare\" library=\"../libbare.so\"/>\n");
    Error e = CreateError("Acme.Future");
    EXPECT_NE(e.description().find("entry version 2; this host knows version 1"), std::string::npos)
        << e.description();
    e = CreateError("Acme.Bare");
    EXPECT_NE(e.description().find("libbare.so' is no plug-in: it exports no kestrix_plugin_entry"),
              std::string::npos)
        << e.description();
    EXPECT_FALSE(Mapped(fs::canonical(site.path() / "libfuture.so")));
    EXPECT_FALSE(Mapped(fs::canonical(site.path() / "libbare.so")));
}

TEST(CreateObject, TheComponentsFileIsReadAgainWhenItChanges) {
    ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
    kestrix::test::TempDir site;
    ScopedHome home(site.path());
    const fs::path file = site.path() / "config" / "components.xml";
    WriteComponents(site.path(), "<Component progId=\"Acme.OneMoreName\" library=\"" +
                                     kPlugin.string() + "\"/>\n");
    EXPECT_EQ(CreateError("Acme.OneMoreName").number(), kInvalidClassString);  // not in the library
    EXPECT_EQ(CreateError("KestrixTest.Echo").number(), kInvalidClassString);  // not registered

    // The same size and modification time, but another file (another inode): read again.
    const auto written = fs::last_write_time(file);
    std::ofstream(site.path() / "next.xml") << "<?xml version=\"1.0\"?>\n<Components>\n<Component "
                                               "progId=\"KestrixTest.Echo\" library=\""
                                            << kPlugin.string() << "\"/>\n</Components>\n";
    ASSERT_EQ(fs::file_size(site.path() / "next.xml"), fs::file_size(file));
    fs::last_write_time(site.path() / "next.xml", written);
    fs::rename(site.path() / "next.xml", file);
    EXPECT_NE(CreateObject("KestrixTest.Echo"), nullptr);
    EXPECT_TRUE(Mapped(fs::canonical(kPlugin)));

    // Removed: the name is unknown again.
    fs::remove(file);
    EXPECT_EQ(CreateError("KestrixTest.Echo").number(), kInvalidClassString);
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
