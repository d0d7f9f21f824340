// The shared half of the referential-integrity answers: key look-up, existence query, log.
#include "kestrix/documents/referential_integrity.h"

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"
#include "platform/services/log.h"

namespace kestrix::referential_integrity {

bool HasRow(const std::string& sql, std::span<const Variant> params) {
    db::Connection connection = GetConnection();
    db::Recordset rs = params.empty() ? connection.Query(sql) : connection.Query(sql, params);
    CloseConnection(connection);
    return !rs.Eof();
}

void LogToPlatform(std::string_view where) noexcept {
    try {
        Error pending = CurrentError();
        auto log = CreateAs<services::Log>("Tavrel.Log");
        log->LogError(pending.source() + std::string(where), pending.description(),
                      pending.number());
    } catch (...) {
    }
}

const Variant* KeyValue(const Array& keyNames, const Array& keyValues, std::string_view key,
                        std::string_view source) {
    for (size_t i = 0; i < keyNames.size(); ++i) {
        if (!IEquals(keyNames[i].ToString(), key)) continue;
        if (i >= keyValues.size())
            throw Error(errnum::E_FAIL, std::string(source),
                        "No value is given for the key '" + std::string(key) + "'.");
        return &keyValues[i];
    }
    return nullptr;
}

}  // namespace kestrix::referential_integrity
