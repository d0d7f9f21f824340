#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/backends.h"

namespace kestrix::test {

/// What a run of the built command line program printed and how it ended.
struct ProgramRun {
    std::string out;  ///< standard output
    std::string err;  ///< standard error
    int status = -1;  ///< the exit status; -1 when it did not exit normally
    bool timedOut = false;  ///< killed because it outlasted its time (RunProgram)
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

/// The path of the built command line program (build/bin/kestrix).
std::string ProgramPath();

/// Runs another program (`program` looked up on PATH when it names no folder) with the
/// arguments, in the caller's environment with the variables of `environment` ("NAME=value")
/// set on top. A run that outlasts `timeout` is killed, with every process it started
/// (status -1, `timedOut`); so are processes it left behind when it ends in time.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, std::chrono::milliseconds timeout);

/// The built program running in the background (`kestrix serve`, an import pass that a test
/// kills), its output (both streams) collected in a file. A process still running when the
/// object goes is killed.
class BackgroundKestrix {
public:
    explicit BackgroundKestrix(const std::vector<std::string>& arguments);
    ~BackgroundKestrix();
    BackgroundKestrix(const BackgroundKestrix&) = delete;
    BackgroundKestrix& operator=(const BackgroundKestrix&) = delete;

    pid_t pid() const { return pid_; }
    /// What it printed so far.
    std::string Output() const;
    /// True once `text` stands in its output, false when `timeout` passed first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
    void Signal(int signal) const;
    /// Its exit status once it ended (-1 when a signal ended it), nothing when it still runs
    /// after `timeout`.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

private:
    TempDir scratch_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

/// True once `condition` holds, checked every 50 ms; false when `timeout` passed first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

/// True when `part` stands somewhere in `text`.
inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace kestrix::test
