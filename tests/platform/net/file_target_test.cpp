#include "platform/net/file_target.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/peers/transfer_peers.h"
#include "tests/support/backends.h"
#include "tests/support/net_checks.h"

namespace kestrix::net {
namespace {

using Files = std::vector<std::string>;

TEST(WriteFileInFolder, DeliversWholeFilesAndKeepsOrReplacesAnExistingOne) {
    test::TempDir dir;
    const std::string order = "<ORDER id=\"42\">\r\n  <LINE>Grüße</LINE>\r\n</ORDER>\r\n";
    WriteFileInFolder(dir.path(), "order_42.xml", order, ExistingFile::Keep);
    EXPECT_EQ(test::ReadAll(dir.path() / "order_42.xml"), order);

    // A part file left by a delivery that died is no obstacle; an existing target is kept.
    test::WriteAll(dir.path() / ".order_42.xml.part", "half");
    const auto e = test::ExpectTransportFailure(
        [&] { WriteFileInFolder(dir.path(), "order_42.xml", "<NEW/>", ExistingFile::Keep); }, false,
        {dir.path().string(), "order_42.xml", "already there"}, {});
    EXPECT_EQ(e.number(), neterr::TargetExists);
    EXPECT_EQ(test::ReadAll(dir.path() / "order_42.xml"), order);
    EXPECT_EQ(test::FilesUnder(dir.path()), Files{"order_42.xml"});

    WriteFileInFolder(dir.path(), "order_42.xml", "<NEW/>", ExistingFile::Replace);
    WriteFileInFolder(dir.path(), "empty.xml", "", ExistingFile::Keep);
    EXPECT_EQ(test::ReadAll(dir.path() / "order_42.xml"), "<NEW/>");
    EXPECT_EQ(test::FilesUnder(dir.path()), (Files{"empty.xml", "order_42.xml"}));

    test::ExpectTransportFailure(
        [&] { WriteFileInFolder(dir.path() / "missing", "a.xml", "x", ExistingFile::Keep); }, false,
        {(dir.path() / "missing").string(), "does not exist"}, {});
    test::ExpectTransportFailure(
        [&] { WriteFileInFolder(dir.path(), "../a.xml", "x", ExistingFile::Keep); }, false,
        {"not a plain file name"}, {});
    EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path() / "a.xml"));
}

/// Runs `body` in a child process with a mount namespace of its own, so that it may mount
/// a small file system; returns the child's report (one line a finding), or "SKIP ..." when
/// the machine allows no such namespace.
template <typename Body>
std::string InOwnMountNamespace(Body&& body) {
    int fds[2];
    if (pipe(fds) != 0) return "SKIP no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string report;
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            report = "SKIP no mount namespace here";
        } else {
            report = body();
        }
        [[maybe_unused]] auto n = write(fds[1], report.data(), report.size());
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return report;
}

std::string Describe(const char* what, const TransportError& e,
                     const std::filesystem::path& folder) {
    return std::string(what) + (e.transient() ? " transient " : " permanent ") +
           (e.description().find(folder.string()) != std::string::npos ? "names-folder " : "") +
           std::to_string(test::FilesUnder(folder).size()) + "-files: " + e.description() + "\n";
}

TEST(WriteFileInFolder, AFullOrReadOnlyFolderFailsWithoutLeavingAPartFile) {
    test::TempDir dir;
    const std::filesystem::path target = dir.path() / "share";
    std::filesystem::create_directory(target);
    std::string report = InOwnMountNamespace([&]() -> std::string {
        if (mount("tmpfs", target.c_str(), "tmpfs", 0, "size=16k") != 0) return "SKIP cannot mount";
        std::string out;
        try {
            WriteFileInFolder(target, "big.xml", std::string(64 * 1024, 'x'), ExistingFile::Keep);
            out += "full: delivered\n";
        } catch (const TransportError& e) {
            out += Describe("full:", e, target);
        }
        WriteFileInFolder(target, "small.xml", "<A/>", ExistingFile::Keep);
        if (mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return out + "SKIP ro";
        try {
            WriteFileInFolder(target, "late.xml", "<B/>", ExistingFile::Replace);
            out += "read-only: delivered\n";
        } catch (const TransportError& e) {
            out += Describe("read-only:", e, target);
        }
        return out;
    });
    if (report.rfind("SKIP", 0) == 0) GTEST_SKIP() << report;
    // The full folder keeps only what was there; the part file of the big one is gone.
    EXPECT_NE(report.find("full: transient names-folder 0-files: "), std::string::npos) << report;
    EXPECT_NE(report.find("is full"), std::string::npos) << report;
    EXPECT_NE(report.find("read-only: permanent names-folder 1-files: "), std::string::npos)
        << report;
    EXPECT_NE(report.find("read-only file system"), std::string::npos) << report;
}

}  // namespace
}  // namespace kestrix::net
