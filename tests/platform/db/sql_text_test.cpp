#include <gtest/gtest.h>

#include <string>

#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/services/sql_encoder.h"
#include "tests/support/backends.h"

namespace kestrix::db {
namespace {

/// The UTF-8 form of one code point.
std::string Utf8(char32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        s.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        s.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        s.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        s.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        s.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        s.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return s;
}

class EncoderRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(EncoderRoundTrip, EveryCharacterATextColumnHoldsSurvivesInsertAndSelect) {
    test::ScratchDatabase scratch(GetParam());
    Connection c(scratch.connectionString());
    c.Execute("CREATE TABLE T (ID INTEGER, V TEXT)");

    // Every code point U+0001..U+FFFF except the surrogates, in texts of 2048 characters, plus
    // astral characters and the texts that break naive quoting.
    std::vector<std::string> texts;
    std::string current;
    int inCurrent = 0;
    for (char32_t cp = 1; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        current += Utf8(cp);
        if (++inCurrent == 2048) {
            texts.push_back(std::move(current));
            current.clear();
            inCurrent = 0;
        }
    }
    texts.push_back(current);
    texts.push_back(Utf8(0x1F600) + Utf8(0x10FFFF) + Utf8(0x20000) + Utf8(0x1D11E));
    for (const char* tricky : {"'", "''", "\\", "\\'", "'\\", "O'Brien", "a\\'; DROP TABLE T; --",
                               "%_*?", "\r\n\t", "$1", "?", "?1", "$$", "E'x'", "'||'", ""})
        texts.emplace_back(tricky);

    for (size_t i = 0; i < texts.size(); ++i)
        c.Execute("INSERT INTO T (ID, V) VALUES (" + Connection::EncodeNumber(i) + ", " +
                  c.EncodeText(texts[i]) + ")");

    Recordset rs = c.Query("SELECT ID, V FROM T ORDER BY ID");
    ASSERT_EQ(rs.RowCount(), texts.size());
    for (size_t i = 0; !rs.Eof(); rs.MoveNext(), ++i) {
        ASSERT_EQ(rs.GetInt("ID"), static_cast<int64_t>(i));
        EXPECT_TRUE(rs.GetString("V") == texts[i]) << "text " << i << " changed";
        // The literal also finds the row it wrote.
        Recordset found = c.Query("SELECT COUNT(*) AS N FROM T WHERE V = " + c.EncodeText(texts[i]));
        EXPECT_EQ(found.GetInt("N"), 1) << "text " << i;
    }
}

TEST_P(EncoderRoundTrip, LikeLiteralKeepsWildcardsAndMatchesQuotesAndBackslashesLiterally) {
    test::ScratchDatabase scratch(GetParam());
    Connection c(scratch.connectionString());
    c.Execute("CREATE TABLE T (V TEXT)");
    for (const char* v : {"C:\\in\\a'b.xml", "C:\\in\\ab.xml", "C:/in/a'b.xml", "x_y", "xzy"})
        c.Execute("INSERT INTO T (V) VALUES (" + c.EncodeText(v) + ")");
    auto count = [&](const std::string& pattern) {
        return c.Query("SELECT COUNT(*) AS N FROM T WHERE V LIKE " + c.EncodeLike(pattern))
            .GetInt("N");
    };
    EXPECT_EQ(count("C:\\in\\a'b%"), 1);
    EXPECT_EQ(count("C:\\in\\%"), 2);
    EXPECT_EQ(count("%'%"), 2);
    EXPECT_EQ(count("x_y"), 2);  // "_" is the caller's wildcard
    EXPECT_EQ(count("%"), 5);
}

INSTANTIATE_TEST_SUITE_P(Backends, EncoderRoundTrip, ::testing::ValuesIn(test::Backends()));

TEST(SqlEncoder, LiteralsAreCompleteAndRefuseNul) {
    for (Dialect d : {Dialect::SQLite, Dialect::PostgreSQL}) {
        EXPECT_EQ(EncodeSqlText(d, "it's"), "'it''s'");
        EXPECT_EQ(EncodeSqlText(d, ""), "''");
        EXPECT_EQ(EncodeSqlText(d, "a\\b"), "'a\\b'");
        EXPECT_THROW(EncodeSqlText(d, std::string("a\0b", 3)), Error);
        EXPECT_THROW(EncodeSqlLike(d, std::string("\0", 1)), Error);
    }
    EXPECT_EQ(services::SqlEncoder(Dialect::PostgreSQL).Like("50%'s"), "'50%''s'");
    EXPECT_EQ(services::SqlEncoder::Number(-42), "-42");
    EXPECT_EQ(Connection::EncodeNumber(2147483647), "2147483647");
}

TEST(AdaptSql, DropsSchemaPrefixesOutsideLiteralsOnly) {
    for (Dialect d : {Dialect::SQLite, Dialect::PostgreSQL}) {
        EXPECT_EQ(AdaptSql(d, " DELETE FROM dbo.PUBLICATION  WHERE DOCUMENTID = 5"),
                  " DELETE FROM PUBLICATION  WHERE DOCUMENTID = 5");
        EXPECT_EQ(AdaptSql(d, "SELECT * FROM DBO.DOCUMENT D JOIN Dbo.ATTACHMENT A ON 1=1"),
                  "SELECT * FROM DOCUMENT D JOIN ATTACHMENT A ON 1=1");
        EXPECT_EQ(AdaptSql(d, "SELECT 'dbo.X' AS \"dbo.Y\" FROM T -- dbo.Z\n"),
                  "SELECT 'dbo.X' AS \"dbo.Y\" FROM T -- dbo.Z\n");
        EXPECT_EQ(AdaptSql(d, "SELECT 'it''s dbo.X' FROM T"), "SELECT 'it''s dbo.X' FROM T");
        EXPECT_EQ(AdaptSql(d, "SELECT MYDBO.X, dbox.Y FROM T"), "SELECT MYDBO.X, dbox.Y FROM T");
    }
}

TEST(AdaptSql, UnwrapsWholeUnionMembersForSqliteOnly) {
    const std::string sql = " ( SELECT A FROM T WHERE B IN (SELECT C FROM U) ) UNION ( SELECT A "
                            "FROM V WHERE N = '(SELECT x) UNION (SELECT y)' )";
    const std::string adapted = AdaptSql(Dialect::SQLite, sql);
    EXPECT_EQ(adapted, "   SELECT A FROM T WHERE B IN (SELECT C FROM U)   UNION   SELECT A FROM "
                       "V WHERE N = '(SELECT x) UNION (SELECT y)'  ");
    EXPECT_EQ(AdaptSql(Dialect::PostgreSQL, sql), sql);

    // Subqueries that are operands keep their parentheses even beside a UNION.
    EXPECT_EQ(AdaptSql(Dialect::SQLite, "SELECT A FROM T WHERE A IN (SELECT B FROM U) UNION "
                                        "SELECT A FROM V"),
              "SELECT A FROM T WHERE A IN (SELECT B FROM U) UNION SELECT A FROM V");
    EXPECT_EQ(AdaptSql(Dialect::SQLite, "SELECT * FROM ((SELECT A FROM T) UNION ALL (SELECT A "
                                        "FROM U)) AS X"),
              "SELECT * FROM ( SELECT A FROM T  UNION ALL  SELECT A FROM U ) AS X");
}

TEST(AdaptSql, LikeIgnoresCaseOnPostgres) {
    EXPECT_EQ(AdaptSql(Dialect::PostgreSQL, "SELECT * FROM T WHERE A NOT LIKE 'x' AND B like "
                                            "'LIKE'"),
              "SELECT * FROM T WHERE A NOT ILIKE 'x' AND B ILIKE 'LIKE'");
    EXPECT_EQ(AdaptSql(Dialect::SQLite, "SELECT * FROM T WHERE A LIKE 'x'"),
              "SELECT * FROM T WHERE A LIKE 'x'");
}

}  // namespace
}  // namespace kestrix::db
