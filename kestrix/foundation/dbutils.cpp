#include "kestrix/foundation/dbutils.h"

#include <limits>
#include <optional>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"
#include "platform/services/file_paths.h"

namespace kestrix {

namespace {

struct ConnectionCache {
    std::string connectionString;
    std::optional<services::SqlEncoder> encoder;
};

ConnectionCache& Cache() {
    thread_local ConnectionCache cache;
    return cache;
}

void LoadConnectionString() {
    ConnectionCache& cache = Cache();
    if (!cache.connectionString.empty()) return;
    try {
        auto configuration = CreateAs<services::Configuration>("Tavrel.Configuration");
        configuration->LoadFile(GetQelConfigFile());
        cache.connectionString = configuration->ConnectionString("Kestrix");
    } catch (...) {
        LogError("DBUtils.GetConnection",
                 "Couldn't get the connection string from the Tavrel dll. Trying the default "
                 "connectionstring.");
    }
}

db::Connection Open(int32_t commandTimeout) {
    if (Trim(Cache().connectionString).empty()) LoadConnectionString();
    return db::Connection(Cache().connectionString, commandTimeout);
}

}  // namespace

std::string CurrentConnectionString() {
    if (Trim(Cache().connectionString).empty()) LoadConnectionString();
    return Cache().connectionString;
}

void ResetConnectionCache() { Cache() = ConnectionCache{}; }

db::Connection GetConnection() {
    try {
        return Open(0);
    } catch (...) {
        Reraise("DBUtils.GetConnection");
    }
}

db::Connection GetConnectionWithODBCTimeoutIs(int32_t commandTimeout) {
    try {
        return Open(commandTimeout);
    } catch (...) {
        Reraise("DBUtils.GetConnectionWithODBCTimeoutIs");
    }
}

int32_t KeyAsInt32(int64_t key, std::string_view table) {
    if (key < std::numeric_limits<int32_t>::min() || key > std::numeric_limits<int32_t>::max())
        throw Error(errnum::Overflow, "DBUtils.KeyAsInt32",
                    "Overflow: the key " + std::to_string(key) + " of " + std::string(table) +
                        " does not fit in a 32-bit number.");
    return static_cast<int32_t>(key);
}

void CloseConnection(db::Connection& connection) {
    if (connection.IsOpen()) connection.Close();
}

std::string GetParameter(std::string_view name) {
    try {
        std::optional<std::string> value =
            CachedSiteValue(SiteCacheKind::Parameter, name, [&]() -> std::optional<std::string> {
                db::Connection connection = GetConnection();
                db::Recordset rs = connection.Query(
                    "SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = ?",
                    {Variant(std::string(name))});
                if (rs.Eof()) return std::nullopt;
                return Trim(rs.GetString("PARAMVALUE"));
            });
        if (!value)
            Raise(EnumerationErrors::MissingParameter, "Kestrix.DocumentImport",
                  "Couldn't get the parameter '" + std::string(name) + "' from the database.");
        // A folder of the site is stored relative to it, so that a copied site keeps to its
        // own folders; a value stored as an absolute path is used as it is.
        if (const ParameterInfo* known = FindKnownParameter(name); known && known->isFolder)
            return services::InSite(*value, services::SiteHome());
        return std::move(*value);
    } catch (...) {
        Reraise("DBUtils.GetParameter");
    }
}

uint64_t MaxDocumentSize() {
    constexpr uint64_t kDefault = 100ull * 1024 * 1024;
    try {
        const long long n = std::stoll(GetParameter("MaxDocumentSize"));
        if (n > 0) return static_cast<uint64_t>(n);
    } catch (...) {
    }
    return kDefault;
}

const services::SqlEncoder& GetSqlEncoder() {
    ConnectionCache& cache = Cache();
    if (!cache.encoder) cache.encoder.emplace(db::DialectOf(CurrentConnectionString()));
    return *cache.encoder;
}

std::string EncodeSqlText(std::string_view text) { return GetSqlEncoder().Text(text); }
std::string EncodeSqlLike(std::string_view text) { return GetSqlEncoder().Like(text); }
std::string EncodeSqlNumber(int64_t number) { return services::SqlEncoder::Number(number); }

bool DatabaseAnswers() noexcept {
    try {
        db::Connection connection = GetConnection();
        connection.Query("SELECT 1 AS N");
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kestrix
