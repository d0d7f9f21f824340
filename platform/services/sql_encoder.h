#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/db/connection.h"

namespace kestrix::services {

/// The SQL literal encoder of one database dialect: every text becomes a complete, safe
/// literal of that dialect.
class SqlEncoder {
public:
    explicit SqlEncoder(db::Dialect dialect) : dialect_(dialect) {}
    /// A complete string literal that may follow "= " directly.
    std::string Text(std::string_view text) const { return db::EncodeSqlText(dialect_, text); }
    /// A literal usable after LIKE.
    std::string Like(std::string_view text) const { return db::EncodeSqlLike(dialect_, text); }
    /// A numeric literal.
    static std::string Number(int64_t number) { return db::Connection::EncodeNumber(number); }
    db::Dialect dialect() const { return dialect_; }

private:
    db::Dialect dialect_;
};

}  // namespace kestrix::services
