#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace kestrix::test {

/// Runs a script of the independent workbook side (tests/peers/SCRIPT, on openpyxl and
/// zipfile) as "SCRIPT COMMAND PATH" and returns what it printed; a failing run is a test
/// failure.
std::string RunWorkbookPeer(const std::string& script, const std::string& command, const std::filesystem::path& path);

/// The "key=value" lines of tests/peers/workbook_peer.py COMMAND PATH ("read": sheets and
/// cell values, "raw": the package's entries).
std::map<std::string, std::string> IndependentWorkbook(const std::string& command, const std::filesystem::path& path);

}  // namespace kestrix::test
