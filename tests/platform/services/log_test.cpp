#include "platform/services/log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/error.h"
#include "tests/support/backends.h"

namespace fs = std::filesystem;
using kestrix::Variant;
using kestrix::services::Log;

namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(Log, AnEntryIsOneLineEvenWhenTheMessageHoldsLineBreaks) {
    kestrix::test::TempDir dir;
    Log log((dir.path() / "var" / "log").string());
    EXPECT_EQ(log.file(), (dir.path() / "var" / "log" / "kestrix.log").string());

    log.LogError("Kestrix.Document.Open", "\r\nMETHOD: A caught: x\r\nMETHOD: B caught: y\nlast\rend");
    log.LogError("Second.Source", "plain", 42, Variant("extra\r\ninfo"));

    std::vector<std::string> lines = Lines(log.file());
    ASSERT_EQ(lines.size(), 2u);
    const std::string& first = lines[0];
    EXPECT_EQ(first.find('\r'), std::string::npos);
    EXPECT_NE(first.find("Kestrix.Document.Open: "), std::string::npos) << first;
    EXPECT_NE(first.find("Kestrix.Document.Open: METHOD: A caught: x | METHOD: B caught: y | last | end"),
              std::string::npos)
        << first;
    // The line starts with the sortable local time.
    ASSERT_GE(first.size(), 19u);
    EXPECT_EQ(first[4], '-');
    EXPECT_EQ(first[10], ' ');
    EXPECT_EQ(first[13], ':');

    EXPECT_NE(lines[1].find("Second.Source: plain"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("42"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("extra | info"), std::string::npos) << lines[1];
}

TEST(Log, InformationEntriesCarryFieldsAndJsonLinesAreValid) {
    kestrix::test::TempDir dir;
    Log log(dir.path().string());
    log.LogInfo("Kestrix.Document", "processed", {{"document", "7"}, {"file", "in box/a \"b\".xml"}});
    ::setenv("KESTRIX_LOG_FORMAT", "json", 1);
    log.LogInfo("Kestrix.Document", "refused", {{"document", "0"}, {"reason", "line1\r\nline2\x01"}});
    log.LogError("S", "\r\nMETHOD: A caught: x(1).", 5);
    ::unsetenv("KESTRIX_LOG_FORMAT");

    std::vector<std::string> lines = Lines(log.file());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("info Kestrix.Document: processed document=7 file=\"in box/a \\\"b\\\".xml\""),
              std::string::npos)
        << lines[0];
    // Each JSON line is one object that a strict parser reads back with every field.
    for (size_t i = 1; i < lines.size(); ++i) {
        kestrix::test::TempDir scratch;
        const std::string path = (scratch.path() / "line.json").string();
        std::ofstream(path) << lines[i];
        const std::string check = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                                  "assert d[\"level\"] in (\"info\",\"error\") and d[\"pid\"] > 0' " + path;
        EXPECT_EQ(std::system(check.c_str()), 0) << lines[i];
    }
    EXPECT_NE(lines[1].find("\"reason\":\"line1\\r\\nline2\\u0001\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"message\":\"METHOD: A caught: x(1).\",\"code\":\"5\""), std::string::npos)
        << lines[2];
}

TEST(Log, ProcessesAppendingToOneFileKeepEveryLineWhole) {
    kestrix::test::TempDir dir;
    const std::string folder = dir.path().string();
    constexpr int kProcesses = 4;
    constexpr int kEntries = 200;
    const std::string payload(300, 'x');
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Log log(folder);
            for (int i = 0; i < kEntries; ++i) {
                log.LogError("P" + std::to_string(p), payload + "#" + std::to_string(i) + "#");
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<std::string> lines = Lines((dir.path() / "kestrix.log").string());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kProcesses * kEntries));
    for (const std::string& line : lines) {
        // Every line holds exactly one whole entry.
        ASSERT_NE(line.find(": " + payload + "#"), std::string::npos) << line;
        ASSERT_EQ(line.find(payload), line.rfind(payload)) << line;
        ASSERT_EQ(line.back(), '#') << line;
    }
}

TEST(Log, LateBoundCallWritesUnderTheSiteHome) {
    kestrix::test::TempDir site;
    setenv("KESTRIX_HOME", site.path().c_str(), 1);
    Log log;
    unsetenv("KESTRIX_HOME");
    EXPECT_EQ(log.file(), (site.path() / "var" / "log" / "kestrix.log").string());
    std::vector<Variant> args{Variant("Src"), Variant("msg"), Variant(0), Variant()};
    log.Invoke("LogError", args);
    std::vector<std::string> lines = Lines(log.file());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(lines[0].find("] ") + 2), "Src: msg");

    std::vector<Variant> one{Variant("Src")};
    EXPECT_THROW(log.Invoke("LogError", one), kestrix::Error);
}

TEST(Log, AnUnwritableFolderRaisesAnError) {
    kestrix::test::TempDir dir;
    fs::path blocker = dir.path() / "file";
    std::ofstream(blocker) << "not a folder";
    Log log((blocker / "log").string());
    EXPECT_THROW(log.LogError("S", "m"), kestrix::Error);
}
