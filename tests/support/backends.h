#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

/// The bytes of a file ("" when it cannot be read).
std::string ReadAll(const std::filesystem::path& path);
/// Writes the bytes into a file (replacing it), making its folder first when missing.
void WriteAll(const std::filesystem::path& path, const std::string& bytes);

/// Sets KESTRIX_HOME for the life of the object and puts the previous value back.
class ScopedHome {
public:
    explicit ScopedHome(const std::filesystem::path& home);
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

private:
    std::optional<std::string> old_;
};

/// The error a call raises; a call that does not raise fails the test (and answers an
/// error numbered 0).
template <typename E, typename Call>
E RaisedBy(Call&& call) {
    try {
        call();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "the call did not raise";
    return E(0, {}, {});
}

/// Creates the Kestrix tables (data/schema/<dialect>/*.sql) in the scratch database.
void ApplyKestrixSchema(const ScratchDatabase& database);

}  // namespace kestrix::test
