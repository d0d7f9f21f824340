#pragma once

#include <filesystem>
#include <string>

#include "tests/support/backends.h"

namespace kestrix::test {

/// A complete site in a temporary folder on a scratch database of one backend, made with
/// the same code as `kestrix init`. While it lives, the calling thread works on it
/// (KESTRIX_HOME points at it and the thread's caches are emptied); afterwards they are
/// emptied again.
class TestSite {
public:
    explicit TestSite(const std::string& backend);
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    const std::filesystem::path& root() const { return dir_.path(); }
    const std::string& connectionString() const { return database_.connectionString(); }
    const std::string& backend() const { return database_.backend(); }
    /// Sets (adds or changes) a server parameter.
    void SetParameter(const std::string& name, const std::string& value) const;
    /// The text of the site's log file ("" when nothing was logged).
    std::string LogText() const;

private:
    ScratchDatabase database_;
    TempDir dir_;
};

}  // namespace kestrix::test
