#pragma once

// The scratch places a benchmark's site lives in: a temporary folder, a PostgreSQL schema.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "platform/db/connection.h"

namespace kestrix::bench {

/// A temporary folder (under TMPDIR) removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

/// A PostgreSQL schema of the benchmark's own, dropped when it goes.
class ScratchSchema {
public:
    explicit ScratchSchema(std::string base) : base_(std::move(base)) {
        name_ = "kxbench_" + std::to_string(::getpid());
        db::Connection admin(base_);
        admin.Execute("DROP SCHEMA IF EXISTS " + name_ + " CASCADE");
        admin.Execute("CREATE SCHEMA " + name_);
    }
    ~ScratchSchema() {
        db::ClearThreadPool();
        try {
            db::Connection admin(base_);
            admin.Execute("DROP SCHEMA IF EXISTS " + name_ + " CASCADE");
        } catch (const std::exception& e) {
            std::cerr << "could not drop schema " << name_ << ": " << e.what() << "\n";
        }
        db::ClearThreadPool();
    }
    ScratchSchema(const ScratchSchema&) = delete;
    ScratchSchema& operator=(const ScratchSchema&) = delete;
    /// The base connection string with this schema as the only one searched.
    std::string ConnectionString() const {
        const char separator = base_.find('?') == std::string::npos ? '?' : '&';
        return base_ + separator + "options=-csearch_path%3D" + name_;
    }

private:
    std::string base_;
    std::string name_;
};

/// A new site (`kestrix init`) in a scratch folder, on SQLite or, for "postgresql", in a
/// scratch schema of `pg`; the process works on it from now on.
class ScratchSite {
public:
    ScratchSite(const std::string& backend, const std::string& pg) {
        SiteOptions options;
        if (backend == "postgresql") {
            schema_.emplace(pg);
            options.database = schema_->ConnectionString();
        }
        connectionString_ = InitSite(folder_.path().string(), options);
        setenv("KESTRIX_HOME", folder_.path().c_str(), 1);
        ResetThreadCaches();
    }
    const std::filesystem::path& path() const { return folder_.path(); }
    const std::string& connectionString() const { return connectionString_; }

private:
    ScratchFolder folder_;
    std::optional<ScratchSchema> schema_;
    std::string connectionString_;
};

}  // namespace kestrix::bench
