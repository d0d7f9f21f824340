#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kestrix::test {

/// The database backends the tests run on: "sqlite" always, and "postgresql" as well when
/// the environment variable KESTRIX_TEST_PG holds a connection string.
///
/// A test suite runs on every backend as a parameterised suite:
///
///     class MySuite : public ::testing::TestWithParam<std::string> {};
///     TEST_P(MySuite, DoesSomething) {
///         kestrix::test::ScratchDatabase db(GetParam());
///         kestrix::db::Connection conn(db.connectionString());
///         ...
///     }
///     INSTANTIATE_TEST_SUITE_P(Backends, MySuite,
///                              ::testing::ValuesIn(kestrix::test::Backends()));
std::vector<std::string> Backends();

/// The PostgreSQL connection string of KESTRIX_TEST_PG, or "" when it is not set.
std::string PostgresTestConnectionString();

/// A fresh, empty folder under the system's temporary folder, removed with everything in it
/// when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

/// A fresh, empty database of one backend, dropped when the object goes out of scope.
/// SQLite: a database file in a folder of its own. PostgreSQL: a schema of its own in the
/// database of KESTRIX_TEST_PG, selected by the connection string's search path.
/// The Kestrix tables are not created; call `ApplyKestrixSchema` for that.
class ScratchDatabase {
public:
    /// `backend` is "sqlite" or "postgresql" (one of `Backends()`).
    explicit ScratchDatabase(const std::string& backend);
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const std::string& connectionString() const { return connectionString_; }
    const std::string& backend() const { return backend_; }
    /// The PostgreSQL schema name ("" for SQLite).
    const std::string& schemaName() const { return schema_; }

private:
    std::string backend_;
    std::string connectionString_;
    std::string schema_;
    std::unique_ptr<TempDir> dir_;
};

/// Creates the Kestrix tables (data/schema/<dialect>/*.sql) in the scratch database.
void ApplyKestrixSchema(const ScratchDatabase& database);

}  // namespace kestrix::test
