#include "tests/support/workbook_peer.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kestrix::test {

std::string RunWorkbookPeer(const std::string& script, const std::string& command, const std::filesystem::path& path) {
    const std::filesystem::path file = std::filesystem::path(KESTRIX_TEST_PEERS_DIR) / script;
    const std::string line = "/usr/bin/python3 '" + file.string() + "' " + command + " '" + path.string() + "' 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << "is python3-openpyxl installed?\n" << out;
    return out;
}

std::map<std::string, std::string> IndependentWorkbook(const std::string& command, const std::filesystem::path& path) {
    const std::string out = RunWorkbookPeer("workbook_peer.py", command, path);
    std::map<std::string, std::string> lines;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string l = out.substr(pos, end - pos);
        const size_t eq = l.find('=');
        if (eq != std::string::npos) lines[l.substr(0, eq)] = l.substr(eq + 1);
        pos = end + 1;
    }
    return lines;
}

}  // namespace kestrix::test
