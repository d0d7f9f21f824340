#include "kestrix/web/bound_sql.h"

#include "kestrix/foundation/dbutils.h"

namespace kestrix {

std::string BoundSql::Inline() const {
    std::string text;
    text.reserve(sql.size() + params.size() * 8);
    size_t next = 0;
    for (char c : sql) {
        if (c != '?' || next >= params.size()) {
            text += c;
            continue;
        }
        const Variant& value = params[next++];
        if (value.IsNull() || value.IsEmpty()) {
            text += "NULL";
        } else if (value.IsString()) {
            text += EncodeSqlText(value.ToString());
        } else {
            text += EncodeSqlNumber(value.ToLong());
        }
    }
    return text;
}

}  // namespace kestrix
