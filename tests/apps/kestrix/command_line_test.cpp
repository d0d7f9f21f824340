#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ProgramRun;
using test::RunKestrix;

TEST(CommandLine, HelpVersionAndWrongUsageAnswerTheirOwnStatus) {
    test::TwoPartnerSite site("sqlite");
    for (const char* help : {"--help", "-h"}) {
        const ProgramRun run = RunKestrix({help});
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_TRUE(test::Contains(run.out, "usage: kestrix")) << run.out;
    }
    const ProgramRun version = RunKestrix({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("kestrix ")) << version.out;

    // Every command explains itself, whatever else stands on the line.
    for (const char* command : {"init", "param", "partner", "user", "app", "doctype", "receive", "sender",
                                "distribution", "transform", "apply", "process", "doc", "outbox"}) {
        const ProgramRun run = RunKestrix({command, "--help"});
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_TRUE(test::Contains(run.out, std::string("usage: kestrix [--site DIR] ") + command)) << run.out;
    }

    const ProgramRun none = RunKestrix({});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(test::Contains(none.err, "usage: kestrix")) << none.err;
    EXPECT_EQ(RunKestrix({"frobnicate"}).status, 2);
    EXPECT_EQ(RunKestrix({"partner", "list", "extra"}).status, 2);
    EXPECT_EQ(RunKestrix({"partner", "list", "--colour", "red"}).status, 2);
    EXPECT_EQ(RunKestrix({"partner", "rename"}).status, 2);
    const ProgramRun number = RunKestrix({"user", "add", "dave", "--partner", "two"});
    EXPECT_EQ(number.status, 2);
    EXPECT_TRUE(test::Contains(number.err, "--partner") && test::Contains(number.err, "'two'")) << number.err;
    EXPECT_EQ(site.Count("MEMBERUSER", "USERID = 'dave'"), 0);

    // A command that fails at its work answers 1.
    EXPECT_EQ(RunKestrix({"sender", "add", "ORDER", "nobody"}).status, 1);
}

TEST(CommandLine, TheSiteIsFoundWhereverSiteStandsAndAMissingOneIsLeftAlone) {
    test::TwoPartnerSite site("sqlite");
    const std::string folder = site.root().string();
    for (const std::vector<std::string>& line :
         {std::vector<std::string>{"--site", folder, "partner", "list"}, {"partner", "--site", folder, "list"},
          {"partner", "list", "--site=" + folder}}) {
        const ProgramRun run = RunKestrix(line, {.withoutHome = true});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(test::Contains(run.out, "\tAcme\t")) << run.out;
    }

    test::TempDir elsewhere;
    const fs::path missing = elsewhere.path() / "no-site";
    const ProgramRun run = RunKestrix({"--site", missing.string(), "doc", "list"});
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(test::Contains(run.err, "kestrix init")) << run.err;
    EXPECT_FALSE(fs::exists(missing));
    // No site named at all: the current folder, which is none, gets no log either.
    const ProgramRun here = RunKestrix({"partner", "list"}, {.folder = elsewhere.path(), .withoutHome = true});
    EXPECT_EQ(here.status, 3);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST(CommandLine, ANewSiteIsPrivateRelocatableAndNeverGetsAnEmptyDatabase) {
    test::TempDir dir;
    // A folder name that XML must escape.
    const fs::path original = dir.path() / "a&b<c";
    ASSERT_EQ(RunKestrix({"init", original.string()}).status, 0);
    for (const char* file : {"config/QelServerConfiguration.xml", "config/SiteConfiguration.xml", "var/kestrix.db"}) {
        struct stat st {};
        ASSERT_EQ(::stat((original / file).c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
    ASSERT_EQ(RunKestrix({"--site", original.string(), "partner", "add", "Oak"}).status, 0);

    // A copy works on its own database and folders.
    const fs::path copy = dir.path() / "copy";
    fs::copy(original, copy, fs::copy_options::recursive);
    ASSERT_EQ(RunKestrix({"--site", copy.string(), "partner", "add", "Elm"}).status, 0);
    EXPECT_FALSE(test::Contains(RunKestrix({"--site", original.string(), "partner", "list"}).out, "Elm"));
    EXPECT_TRUE(test::Contains(RunKestrix({"--site", copy.string(), "partner", "list"}).out, "Elm"));
    EXPECT_EQ(RunKestrix({"--site", copy.string(), "param", "get", "TransformXSLPath"}).out,
              (copy / "xsl").string() + "\n");

    // Without its database file a site cannot be used; the file is not made anew.
    fs::remove(copy / "var" / "kestrix.db");
    const ProgramRun run = RunKestrix({"--site", copy.string(), "partner", "list"});
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(test::Contains(run.err, "kestrix.db")) << run.err;
    EXPECT_FALSE(fs::exists(copy / "var" / "kestrix.db"));
}

}  // namespace
}  // namespace kestrix
