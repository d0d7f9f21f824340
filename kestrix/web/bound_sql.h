#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/variant.h"

namespace kestrix {

/// An SQL text with "?" placeholders and the values bound to them, in the order of the
/// placeholders: what `db::Connection::Query(sql, params)` runs. The fixed fragments are the
/// only text; every value a caller supplies is bound.
struct BoundSql {
    std::string sql;
    std::vector<Variant> params;

    /// Appends a fixed fragment.
    BoundSql& Append(std::string_view text) {
        sql += text;
        return *this;
    }
    /// Appends a placeholder and binds the value to it.
    BoundSql& Bind(Variant value) {
        sql += '?';
        params.push_back(std::move(value));
        return *this;
    }
    /// Appends another statement part, its values after ours.
    BoundSql& Append(const BoundSql& part) {
        sql += part.sql;
        params.insert(params.end(), part.params.begin(), part.params.end());
        return *this;
    }
    /// The text with each placeholder replaced by the SQL literal of its value, encoded for
    /// the application's database (texts quoted, numbers as numbers, empty values as NULL):
    /// for callers that take a finished SQL text.
    std::string Inline() const;
};

}  // namespace kestrix
