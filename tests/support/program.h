#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrix::test {

/// What a run of the built command line program printed and how it ended.
struct ProgramRun {
    std::string out;  ///< standard output
    std::string err;  ///< standard error
    int status = -1;  ///< the exit status; -1 when it did not exit normally
};

/// How to run the program.
struct ProgramOptions {
    /// The working folder of the run ("" keeps the caller's).
    std::filesystem::path folder;
    /// Runs without KESTRIX_HOME, as a user who named no site.
    bool withoutHome = false;
};

/// Runs build/bin/kestrix with the arguments as they are (no shell in between), in the
/// environment of the caller (KESTRIX_HOME of the test's site).
ProgramRun RunKestrix(const std::vector<std::string>& arguments, const ProgramOptions& options = {});

/// True when `part` stands somewhere in `text`.
inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace kestrix::test
