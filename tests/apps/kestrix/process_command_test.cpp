#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    std::string output;
    int status = -1;
};

/// Runs the command line program in the site of the calling thread (KESTRIX_HOME).
Outcome Kestrix(const std::string& arguments) {
    const std::string command =
        std::string(KESTRIX_BINARY_DIR) + "/bin/kestrix " + arguments + " 2>/dev/null";
    Outcome run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

TEST(ProcessCommand, EveryFileIsReportedAndTheRunGoesOnPastOnesThatCannotBeRead) {
    test::TwoPartnerSite site("sqlite");
    const fs::path dir = site.root() / "temp";
    const fs::path missing = dir / "missing.xml", folder = dir / "folder.xml",
                   empty = dir / "empty.xml", order = dir / "order.xml";
    fs::create_directories(folder);
    std::ofstream(empty) << "  \r\n";
    std::ofstream(order) << "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><LINE "
                            "qty='2'>Bolts</LINE></ORDER>";

    const Outcome run = Kestrix("process " + missing.string() + " " + folder.string() + " " +
                                empty.string() + " " + order.string());
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(missing.string() + "\n  refused:      Cannot read " +
                              missing.string() + ": No such file or directory"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(folder.string() + "\n  refused:      " + folder.string() +
                              " is a folder, not a document file."),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(empty.string() + "\n  refused:      " + empty.string() +
                              " is empty: it is not a document."),
              std::string::npos)
        << run.output;
    // The last file was still processed.
    EXPECT_NE(run.output.find(order.string() + "\n  document:     "), std::string::npos)
        << run.output;
    EXPECT_EQ(site.Count("DOCUMENT", "DOCUMENTTYPEID = 'ORDER'"), 1);

    // Nothing refused: the status is 0.
    EXPECT_EQ(Kestrix("process " + order.string()).status, 0);
}

}  // namespace
}  // namespace kestrix
