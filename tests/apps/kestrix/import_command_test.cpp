#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/services/configuration.h"
#include "tests/support/backends.h"
#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::RunKestrix;

// What the kill test runs: the service of the site, importing on its own schedule with two
// workers until the kill stops it.
const std::vector<std::string> kImporter = {"serve", "--workers", "2"};

std::string Order(const std::string& ref) {
    return "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><REF>" + ref + "</REF></ORDER>";
}

/// Writes a file into the folder as a careful writer does: a hidden part file, then a rename.
void Deliver(const fs::path& folder, const std::string& name, const std::string& content) {
    const fs::path part = folder / ("." + name + ".part");
    std::ofstream(part, std::ios::binary) << content;
    fs::rename(part, folder / name);
}

/// Checks that every document of every file was stored exactly once, and that nothing is left
/// in the import folder, in the error folder or among the claims.
void ExpectEachStoredOnce(const test::TestSite& site, int files, int (*documentsOf)(int)) {
    int missing = 0, twice = 0;
    db::Recordset rs = site.Query("SELECT XMLBODY FROM DOCUMENT");
    std::map<std::string, int> seen;
    for (; !rs.Eof(); rs.MoveNext()) {
        const std::string body = rs.GetString("XMLBODY");
        const size_t at = body.find("<REF>");
        if (at != std::string::npos) ++seen[body.substr(at + 5, body.find("</REF>") - at - 5)];
    }
    for (int f = 0; f < files; ++f)
        for (int d = 0; d < documentsOf(f); ++d) {
            const int n = seen["F" + std::to_string(f) + "D" + std::to_string(d)];
            missing += n == 0;
            twice += n > 1;
        }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(twice, 0);
    EXPECT_TRUE(fs::is_empty(site.root() / "import" / "in"));
    std::error_code ec;
    EXPECT_TRUE(!fs::exists(site.root() / "error", ec) || fs::is_empty(site.root() / "error"));
    EXPECT_EQ(site.Count("IMPORTCLAIM"), 0);
}

std::string FileOf(int f, int documents) {
    std::string text;
    for (int d = 0; d < documents; ++d) text += Order("F" + std::to_string(f) + "D" + std::to_string(d)) + "\n";
    return text;
}

TEST(ImportCommand, TellsWhatBecameOfEachFile) {
    test::TwoPartnerSite site("sqlite");
    const fs::path in = site.root() / "import" / "in";
    std::ofstream(in / "good.xml") << Order("G1") << Order("G2");
    std::ofstream(in / "garbage.xml") << "no document";
    test::ProgramRun run = RunKestrix({"import"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find((in / "good.xml").string() + ": imported (2 stored, 0 refused)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find((in / "garbage.xml").string() + ": set aside (0 stored, 0 refused)\n  The file garbage.xml "
                                                           "does not contain valid XML."),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("2 files taken, 2 documents stored, 1 refused, 0 files wait for a later run"),
              std::string::npos)
        << run.out;
    // Nothing left to fail: status 0.
    std::ofstream(in / "more.xml") << Order("G3");
    run = RunKestrix({"import"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 3);
}

// An importer killed at random moments, again and again, while files keep arriving: after it
// is run once more to the end, every document of every file is stored exactly once.
TEST(ImportCommand, KilledAtRandomMomentsLosesNothingAndStoresNothingTwice) {
    test::TwoPartnerSite site("sqlite");
    // The claims of a killed run are taken back at once by the next one.
    services::Configuration::SetValue((site.root() / "config" / "SiteConfiguration.xml").string(), "SERVICE",
                                      "ClaimLease", "0");
    const fs::path in = site.root() / "import" / "in";
    // Most files are there from the start, so that every run has work; more arrive between
    // the runs.
    constexpr int kTrials = 12, kFilesAtStart = 500, kFilesPerTrial = 10;
    constexpr int kFiles = kFilesAtStart + kTrials * kFilesPerTrial;
    for (int f = 0; f < kFilesAtStart; ++f) Deliver(in, "order-" + std::to_string(f) + ".xml", FileOf(f, f % 3 + 1));
    std::mt19937 random(std::random_device{}());
    const auto started = std::chrono::steady_clock::now();
    int killed = 0;
    int64_t claimsLeft = 0, recordedLeft = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        for (int i = 0; i < kFilesPerTrial; ++i) {
            const int f = kFilesAtStart + trial * kFilesPerTrial + i;
            Deliver(in, "order-" + std::to_string(f) + ".xml", FileOf(f, f % 3 + 1));
        }
        // The kill strikes a random moment after the run has begun to store documents.
        const int64_t before = site.Count("DOCUMENT");
        test::BackgroundKestrix importer(kImporter);
        ASSERT_GT(importer.pid(), 0);
        test::WaitUntil([&] { return site.Count("DOCUMENT") > before; }, std::chrono::seconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 120)(random)));
        if (trial == 0) {
            // A stop request instead: the service finishes the files in hand, gives back
            // nothing half done and ends with status 0.
            importer.Signal(SIGTERM);
            EXPECT_EQ(importer.WaitForExit(std::chrono::seconds(30)), std::optional<int>(0)) << importer.Output();
            EXPECT_EQ(site.Count("IMPORTCLAIM"), 0);
            for (const auto& entry : fs::directory_iterator(in))
                EXPECT_NE(entry.path().filename().string().front(), '~') << entry.path();
            continue;
        }
        importer.Signal(SIGKILL);
        if (importer.WaitForExit(std::chrono::seconds(10)) == -1) ++killed;
        // Files claimed by a killed run, and documents it recorded as done.
        claimsLeft += site.Count("IMPORTCLAIM");
        recordedLeft += site.Count("IMPORTCLAIMDOCUMENT");
    }
    const int64_t storedBefore = site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'");
    // One pass to the end finishes what the killed runs left.
    const test::ProgramRun last = RunKestrix({"import"});
    EXPECT_EQ(last.status, 0) << last.out << last.err;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count() / 1000.0;
    std::cout << "[ figures  ] " << kTrials << " trials, " << killed << " runs killed, " << kFiles << " files in " << seconds << " s; the killed runs stored " << storedBefore
              << " documents and left " << claimsLeft << " claims (" << recordedLeft << " documents recorded)\n";
    // The kills must strike runs at work, and some between taking a file and finishing it.
    EXPECT_GE(killed, (kTrials - 1) / 2);
    EXPECT_GT(storedBefore, 0);
    EXPECT_GT(claimsLeft, 0);
    ExpectEachStoredOnce(site, kFiles, +[](int f) { return f % 3 + 1; });
}

// Two services of one server database and one import folder share out 2,000 files.
TEST(ImportCommand, TwoServicesOnOneFolderStoreEachDocumentOnce) {
    if (test::PostgresTestConnectionString().empty()) GTEST_SKIP() << "KESTRIX_TEST_PG is not set";
    test::TwoPartnerSite site("postgresql");
    services::Configuration::SetValue((site.root() / "config" / "SiteConfiguration.xml").string(), "SERVICE",
                                      "ImportInterval", "1");
    const fs::path in = site.root() / "import" / "in";
    constexpr int kFiles = 2000;
    for (int f = 0; f < kFiles; ++f) Deliver(in, "order-" + std::to_string(f) + ".xml", FileOf(f, f % 2 + 1));
    const int64_t documents = kFiles + kFiles / 2;
    test::BackgroundKestrix first({"serve"}), second({"serve"});
    EXPECT_TRUE(test::WaitUntil([&] { return site.Count("DOCUMENT") >= documents && fs::is_empty(in); },
                                std::chrono::seconds(300)))
        << site.Count("DOCUMENT") << " of " << documents;
    first.Signal(SIGTERM);
    second.Signal(SIGTERM);
    EXPECT_EQ(first.WaitForExit(std::chrono::seconds(60)), std::optional<int>(0)) << first.Output();
    EXPECT_EQ(second.WaitForExit(std::chrono::seconds(60)), std::optional<int>(0)) << second.Output();
    // Both took their share.
    const std::string log = site.LogText();
    EXPECT_NE(log.find("[" + std::to_string(first.pid()) + "] info Kestrix.Service: import:"), std::string::npos);
    EXPECT_NE(log.find("[" + std::to_string(second.pid()) + "] info Kestrix.Service: import:"), std::string::npos);
    ExpectEachStoredOnce(site, kFiles, +[](int f) { return f % 2 + 1; });
}

}  // namespace
}  // namespace kestrix
