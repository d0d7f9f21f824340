// SQL literal encoding and the mending of statement texts for each dialect.

#include <cctype>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/db/session.h"

namespace kestrix::db {

void RaiseNulInText(const char* source) {
    throw Error(errnum::E_FAIL, source,
                "The text holds a NUL character (code 0), which no text column can store.");
}

namespace {

/// `text` between single quotes with each quote doubled; `doubleBackslash` also doubles
/// each backslash (for a LIKE pattern whose escape character is the backslash).
std::string Quote(std::string_view text, bool doubleBackslash) {
    std::string out;
    out.reserve(text.size() + 2 + text.size() / 16);
    out.push_back('\'');
    for (char c : text) {
        if (c == '\0') RaiseNulInText("EncodeSqlText");
        if (c == '\'') out.push_back('\'');
        if (c == '\\' && doubleBackslash) out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

// ---- A small tokenizer: enough of SQL to know what lies inside literals and comments. ----

enum class TokenKind { Space, Word, Punct, Literal, Comment };

struct Token {
    TokenKind kind;
    std::string_view text;
    bool removed = false;
    /// A replacement text of the token's own (a numbered parameter placeholder).
    std::string owned = {};
};

bool IsWordChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '$' || c >= 0x80;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

std::vector<Token> Tokenize(std::string_view sql) {
    std::vector<Token> tokens;
    size_t i = 0;
    const size_t n = sql.size();
    while (i < n) {
        const size_t start = i;
        const char c = sql[i];
        TokenKind kind;
        if (IsSpace(c)) {
            while (i < n && IsSpace(sql[i])) ++i;
            kind = TokenKind::Space;
        } else if (c == '\'' || c == '"') {
            // A quoted text or identifier; a doubled quote stays inside it.
            ++i;
            while (i < n) {
                if (sql[i] == c) {
                    if (i + 1 < n && sql[i + 1] == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            kind = TokenKind::Literal;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') ++i;
            kind = TokenKind::Comment;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const size_t end = sql.find("*/", i + 2);
            i = end == std::string_view::npos ? n : end + 2;
            kind = TokenKind::Comment;
        } else if (IsWordChar(static_cast<unsigned char>(c))) {
            while (i < n && IsWordChar(static_cast<unsigned char>(sql[i]))) ++i;
            kind = TokenKind::Word;
        } else {
            ++i;
            kind = TokenKind::Punct;
        }
        tokens.push_back(Token{kind, sql.substr(start, i - start)});
    }
    return tokens;
}

bool IsSignificant(const Token& t) {
    return !t.removed && t.kind != TokenKind::Space && t.kind != TokenKind::Comment;
}

/// Index of the nearest significant token before `i`, or -1.
long PreviousSignificant(const std::vector<Token>& tokens, long i) {
    for (long k = i - 1; k >= 0; --k)
        if (IsSignificant(tokens[k])) return k;
    return -1;
}

/// Index of the nearest significant token after `i`, or -1.
long NextSignificant(const std::vector<Token>& tokens, long i) {
    for (long k = i + 1; k < static_cast<long>(tokens.size()); ++k)
        if (IsSignificant(tokens[k])) return k;
    return -1;
}

bool IsWord(const std::vector<Token>& tokens, long i, std::string_view word) {
    return i >= 0 && tokens[i].kind == TokenKind::Word && IEquals(tokens[i].text, word);
}

bool IsPunct(const std::vector<Token>& tokens, long i, char c) {
    return i >= 0 && tokens[i].kind == TokenKind::Punct && tokens[i].text[0] == c;
}

bool IsSetOperator(const std::vector<Token>& tokens, long i) {
    return IsWord(tokens, i, "UNION") || IsWord(tokens, i, "INTERSECT") ||
           IsWord(tokens, i, "EXCEPT");
}

/// Removes the parentheses around whole members of a compound SELECT
/// ("(SELECT ...) UNION (SELECT ...)"), which SQLite does not accept. A parenthesised
/// SELECT that is an operand (after IN, after FROM, in an expression) keeps them.
void UnwrapCompoundMembers(std::vector<Token>& tokens) {
    std::vector<long> open;
    for (long i = 0; i < static_cast<long>(tokens.size()); ++i) {
        if (tokens[i].kind != TokenKind::Punct) continue;
        if (tokens[i].text[0] == '(') {
            open.push_back(i);
        } else if (tokens[i].text[0] == ')' && !open.empty()) {
            const long first = open.back();
            open.pop_back();
            if (!IsWord(tokens, NextSignificant(tokens, first), "SELECT")) continue;
            const long before = PreviousSignificant(tokens, first);
            const long after = NextSignificant(tokens, i);
            const bool opensMember = before < 0 || IsPunct(tokens, before, '(') ||
                                     IsSetOperator(tokens, before) || IsWord(tokens, before, "ALL") ||
                                     IsWord(tokens, before, "DISTINCT");
            const bool closesMember = after < 0 || IsPunct(tokens, after, ')') ||
                                      IsPunct(tokens, after, ';') || IsSetOperator(tokens, after) ||
                                      IsWord(tokens, after, "ORDER") || IsWord(tokens, after, "LIMIT");
            const bool inCompound = IsSetOperator(tokens, after) ||
                                    IsSetOperator(tokens, before) ||
                                    (IsWord(tokens, before, "ALL") &&
                                     IsSetOperator(tokens, PreviousSignificant(tokens, before))) ||
                                    (IsWord(tokens, before, "DISTINCT") &&
                                     IsSetOperator(tokens, PreviousSignificant(tokens, before)));
            if (opensMember && closesMember && inCompound) {
                tokens[first].removed = true;
                tokens[i].removed = true;
            }
        }
    }
}

}  // namespace

std::string_view StatementVerb(std::string_view sql) {
    size_t start = 0;
    while (start < sql.size() && (IsSpace(sql[start]) || sql[start] == '(')) ++start;
    size_t end = start;
    while (end < sql.size() && std::isalpha(static_cast<unsigned char>(sql[end]))) ++end;
    return sql.substr(start, end - start);
}

std::string EncodeSqlText(Dialect, std::string_view text) { return Quote(text, false); }

std::string EncodeSqlLike(Dialect dialect, std::string_view text) {
    // "%" and "_" stay wildcards. PostgreSQL takes the backslash as the escape character of
    // a pattern, SQLite has none: doubling it there makes a backslash match itself on both.
    return Quote(text, dialect == Dialect::PostgreSQL);
}

std::string Connection::EncodeNumber(int64_t number) { return std::to_string(number); }

std::string AdaptSql(Dialect dialect, std::string_view sql) {
    std::vector<Token> tokens = Tokenize(sql);
    bool changed = false;
    for (long i = 0; i < static_cast<long>(tokens.size()); ++i) {
        Token& t = tokens[i];
        if (t.kind != TokenKind::Word) continue;
        // "dbo.TABLE" -> "TABLE" (but not the middle of "catalog.dbo.TABLE").
        if (IEquals(t.text, "dbo") && i + 1 < static_cast<long>(tokens.size()) &&
            IsPunct(tokens, i + 1, '.') && !(i > 0 && IsPunct(tokens, i - 1, '.'))) {
            t.removed = true;
            tokens[i + 1].removed = true;
            changed = true;
        }
        // LIKE compares ignoring case on SQLite; PostgreSQL does the same with ILIKE.
        if (dialect == Dialect::PostgreSQL && IEquals(t.text, "LIKE") &&
            !IsPunct(tokens, PreviousSignificant(tokens, i), '.')) {
            t.text = "ILIKE";
            changed = true;
        }
    }
    if (dialect == Dialect::SQLite) {
        UnwrapCompoundMembers(tokens);
        for (const auto& t : tokens) changed = changed || t.removed;
    } else {
        // "?" placeholders of bound values become "$1", "$2", ... in their order.
        int parameter = 0;
        for (auto& t : tokens) {
            if (t.kind != TokenKind::Punct || t.text != "?") continue;
            t.owned = "$" + std::to_string(++parameter);
            changed = true;
        }
    }
    if (!changed) return std::string(sql);

    std::string out;
    out.reserve(sql.size());
    for (const auto& t : tokens) {
        if (!t.owned.empty()) {
            out.append(t.owned);
        } else if (!t.removed) {
            out.append(t.text);
        } else if (t.text != "." && t.kind == TokenKind::Punct) {
            out.push_back(' ');  // a removed parenthesis still separates its neighbours
        }
    }
    return out;
}

}  // namespace kestrix::db
