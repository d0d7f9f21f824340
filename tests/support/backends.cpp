#include "tests/support/backends.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/db/schema.h"

namespace kestrix::test {

namespace {

/// A schema name no other test process or thread uses at the same time.
std::string UniqueSchemaName() {
    thread_local unsigned counter = 0;
    const auto thread = std::hash<std::thread::id>{}(std::this_thread::get_id()) % 100000;
    return "kxt_" + std::to_string(::getpid()) + "_" + std::to_string(thread) + "_" +
           std::to_string(++counter);
}

/// `base` with a libpq URI parameter that makes `schema` the only schema searched.
std::string WithSearchPath(const std::string& base, const std::string& schema) {
    const char separator = base.find('?') == std::string::npos ? '?' : '&';
    return base + separator + "options=-csearch_path%3D" + schema;
}

}  // namespace

std::string PostgresTestConnectionString() {
    const char* value = std::getenv("KESTRIX_TEST_PG");
    return value ? std::string(value) : std::string();
}

std::vector<std::string> Backends() {
    std::vector<std::string> backends{"sqlite"};
    if (!PostgresTestConnectionString().empty()) backends.push_back("postgresql");
    return backends;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScratchDatabase::ScratchDatabase(const std::string& backend) : backend_(backend) {
    if (backend == "sqlite") {
        dir_ = std::make_unique<TempDir>();
        connectionString_ = "sqlite:" + (dir_->path() / "scratch.db").string();
    } else if (backend == "postgresql") {
        const std::string base = PostgresTestConnectionString();
        if (base.empty())
            throw std::runtime_error("KESTRIX_TEST_PG is not set: no PostgreSQL database to test on");
        schema_ = UniqueSchemaName();
        {
            db::Connection admin(base);
            admin.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
            admin.Execute("CREATE SCHEMA " + schema_);
        }
        connectionString_ = WithSearchPath(base, schema_);
    } else {
        throw std::invalid_argument("unknown test backend '" + backend + "'");
    }
}

ScratchDatabase::~ScratchDatabase() {
    // Pooled sessions of this thread still point at the scratch database: close them first so
    // that neither the file nor the schema is held open.
    db::ClearThreadPool();
    if (!schema_.empty()) {
        try {
            db::Connection admin(PostgresTestConnectionString());
            admin.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
        } catch (...) {
            // A schema left behind costs nothing but space; never throw from a destructor.
        }
        db::ClearThreadPool();
    }
}

void ApplyKestrixSchema(const ScratchDatabase& database) {
    db::Connection connection(database.connectionString());
    db::ApplySchema(connection, std::filesystem::path(KESTRIX_DATA_DIR) / "schema");
}

ScopedHome::ScopedHome(const std::filesystem::path& home) {
    if (const char* old = std::getenv("KESTRIX_HOME")) old_ = old;
    setenv("KESTRIX_HOME", home.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    if (old_) setenv("KESTRIX_HOME", old_->c_str(), 1);
    else unsetenv("KESTRIX_HOME");
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace kestrix::test
