#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/program.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::RunKestrix;

constexpr const char* kOrder =
    "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><USESDISTLIST>1</USESDISTLIST>"
    "<LINE qty='2'>Bolts</LINE></ORDER>";

TEST(ProcessCommand, EveryFileIsReportedAndTheRunGoesOnPastOnesThatCannotBeRead) {
    test::TwoPartnerSite site("sqlite");
    const fs::path dir = site.root() / "temp";
    const fs::path missing = dir / "missing.xml", folder = dir / "folder.xml",
                   empty = dir / "empty.xml", order = dir / "order.xml";
    fs::create_directories(folder);
    std::ofstream(empty) << "  \r\n";
    std::ofstream(order) << kOrder;

    const test::ProgramRun run =
        RunKestrix({"process", missing.string(), folder.string(), empty.string(), order.string()});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find(missing.string() + "\n  refused:      Cannot read " +
                           missing.string() + ": No such file or directory"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(folder.string() + "\n  refused:      " + folder.string() +
                           " is a folder, not a document file."),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(empty.string() + "\n  refused:      " + empty.string() +
                           " is empty: it is not a document."),
              std::string::npos)
        << run.out;
    // The last file was still processed, and the run ends with its tally.
    EXPECT_NE(run.out.find(order.string() + "\n  document:     "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("recipients:   bob (new), carol (new)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("4 files: 1 processed, 3 refused, 0 with open publication errors; "),
              std::string::npos)
        << run.out;
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 1);

    // Nothing refused: the status is 0.
    EXPECT_EQ(RunKestrix({"process", order.string()}).status, 0);
}

TEST(ProcessCommand, ADocumentThatReachesNobodyIsStoredWithAWarning) {
    test::TwoPartnerSite site("sqlite");
    const fs::path nobody = site.root() / "nobody.xml", stranger = site.root() / "stranger.xml";
    test::WriteAll(nobody, "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID></ORDER>");
    test::WriteAll(stranger,
                   "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>zed</RECEIVER></ORDER>");

    const test::ProgramRun run = RunKestrix({"process", nobody.string(), stranger.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(nobody.string() + "\n  document:     1\n  type:         ORDER\n  sender:       alice "
                           "(business partner " + std::to_string(site.acme()) + ")\n  recipients:   (none)\n"
                           "  warning:      no recipient"),
              std::string::npos)
        << run.out;
    // The unknown receiver leaves an open publication error, which the tally counts.
    EXPECT_NE(run.out.find("2 files: 2 processed, 0 refused, 1 with open publication errors"), std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace kestrix
