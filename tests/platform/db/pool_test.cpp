#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "tests/support/backends.h"

namespace kestrix::db {
namespace {

/// The server process of the session a connection holds.
int64_t BackendPid(Connection& c) { return c.Query("SELECT pg_backend_pid() AS PID").GetInt("PID"); }

class PostgresPool : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::PostgresTestConnectionString().empty())
            GTEST_SKIP() << "KESTRIX_TEST_PG is not set";
        scratch_ = std::make_unique<test::ScratchDatabase>("postgresql");
    }
    std::unique_ptr<test::ScratchDatabase> scratch_;
};

TEST_F(PostgresPool, ClosedConnectionsReuseTheSameSessionOnOneThread) {
    int64_t first = 0;
    {
        Connection c(scratch_->connectionString());
        first = BackendPid(c);
    }
    Connection again(scratch_->connectionString());
    EXPECT_EQ(BackendPid(again), first);
    // A second connection opened while the first is in use gets a session of its own.
    Connection other(scratch_->connectionString());
    EXPECT_NE(BackendPid(other), first);
}

TEST_F(PostgresPool, NextCallerSurvivesASessionTheServerEnded) {
    int64_t pooledPid = 0;
    {
        Connection c(scratch_->connectionString());
        c.Execute("CREATE TABLE T (V INTEGER)");
        pooledPid = BackendPid(c);
    }
    {
        // Ended from a second session while the first lies idle in the pool.
        Connection killer(test::PostgresTestConnectionString());
        EXPECT_TRUE(killer
                        .Query("SELECT pg_terminate_backend(" + Connection::EncodeNumber(pooledPid) +
                               ") AS DONE")
                        .Field("DONE")
                        .ToBool());
    }
    // A read is run again on a new session; so is the start of a transaction. A write is
    // never repeated, since the server may have run it before the link broke.
    {
        Connection c(scratch_->connectionString());
        EXPECT_EQ(c.Query("SELECT COUNT(*) AS N FROM T").GetInt("N"), 0);
        EXPECT_NE(BackendPid(c), pooledPid);
        pooledPid = BackendPid(c);
    }
    {
        Connection killer(test::PostgresTestConnectionString());
        killer.Query("SELECT pg_terminate_backend(" + Connection::EncodeNumber(pooledPid) + ")");
    }
    Transaction work(scratch_->connectionString());
    Connection c(scratch_->connectionString());
    EXPECT_EQ(c.Execute("INSERT INTO T (V) VALUES (1)"), 1);
    EXPECT_NE(BackendPid(c), pooledPid);
    work.Commit();
    EXPECT_EQ(Connection(scratch_->connectionString()).Query("SELECT COUNT(*) AS N FROM T").GetInt("N"), 1);
}

TEST_F(PostgresPool, SessionEndedWhileInUseFailsThatCallOnlyAndIsNotPooled) {
    Connection c(scratch_->connectionString());
    const int64_t pid = BackendPid(c);
    {
        Connection killer(test::PostgresTestConnectionString());
        killer.Query("SELECT pg_terminate_backend(" + Connection::EncodeNumber(pid) + ")");
    }
    // Mid-use the statement may have reached the server: it is not repeated behind the
    // caller's back.
    EXPECT_THROW(c.Query("SELECT 1"), Error);
    c.Close();
    Connection next(scratch_->connectionString());
    EXPECT_EQ(next.Query("SELECT 1 AS ONE").GetInt("ONE"), 1);
}

TEST_F(PostgresPool, TransactionLeftOpenIsRolledBackBeforeReuse) {
    {
        Connection c(scratch_->connectionString());
        c.Execute("CREATE TABLE T (V INTEGER)");
        c.Execute("BEGIN");
        c.Execute("INSERT INTO T (V) VALUES (1)");
    }
    Connection c(scratch_->connectionString());
    EXPECT_EQ(c.Query("SELECT COUNT(*) AS N FROM T").GetInt("N"), 0);
}

TEST(SqlitePool, TwoConnectionsToOneFileWaitForEachOtherInsteadOfFailing) {
    test::ScratchDatabase scratch("sqlite");
    {
        Connection c(scratch.connectionString());
        c.Execute("CREATE TABLE T (V INTEGER)");
        EXPECT_EQ(c.Query("PRAGMA journal_mode").GetString("journal_mode"), "wal");
    }
    Connection holder(scratch.connectionString());
    holder.Execute("BEGIN IMMEDIATE");
    holder.Execute("INSERT INTO T (V) VALUES (1)");
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder.Execute("COMMIT");
    });
    Connection writer(scratch.connectionString());
    EXPECT_EQ(writer.Execute("INSERT INTO T (V) VALUES (2)"), 1);
    releaser.join();
    EXPECT_EQ(writer.Query("SELECT COUNT(*) AS N FROM T").GetInt("N"), 2);
}

TEST(SqlitePool, ADatabaseFileCreatedAnewIsNotServedByAnOldSession) {
    test::TempDir dir;
    const std::string cs = "sqlite:" + (dir.path() / "site.db").string();
    {
        Connection c(cs);
        c.Execute("CREATE TABLE OLD (V INTEGER)");
    }
    std::filesystem::remove(dir.path() / "site.db");
    std::filesystem::remove(dir.path() / "site.db-wal");
    std::filesystem::remove(dir.path() / "site.db-shm");
    Connection c(cs);
    EXPECT_THROW(c.Query("SELECT * FROM OLD"), Error);
    ClearThreadPool();
}

}  // namespace
}  // namespace kestrix::db
