#include "kestrix/foundation/site_cache.h"

#include <array>
#include <cstdint>
#include <unordered_map>

#include "kestrix/foundation/dbutils.h"
#include "platform/db/connection.h"

namespace kestrix {

namespace {

constexpr size_t kKinds = static_cast<size_t>(SiteCacheKind::Count);
/// Answers kept per kind; past this many the kind starts afresh (a flood of unknown codes
/// must not grow the cache for ever).
constexpr size_t kKeptPerKind = 4096;

struct ThreadSiteCache {
    int depth = 0;
    bool enabled = false;
    std::string connectionString;
    int64_t version = -1;
    std::array<std::unordered_map<std::string, std::optional<std::string>>, kKinds> values;
    std::array<std::unordered_map<std::string, std::shared_ptr<const void>>, kKinds> objects;

    void Forget() {
        for (auto& kind : values) kind.clear();
        for (auto& kind : objects) kind.clear();
    }
};

ThreadSiteCache& Cache() {
    thread_local ThreadSiteCache cache;
    return cache;
}

/// The site's change marker, or nothing when it cannot be read. Inside a transaction of a
/// server database a failed statement would spoil the transaction, so it is read under a
/// savepoint there.
std::optional<int64_t> ReadMarker(const std::string& connectionString) {
    try {
        auto read = [&] {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query("SELECT VERSION FROM SITEVERSION WHERE ID = 1");
            return rs.Eof() ? std::optional<int64_t>()
                            : std::optional<int64_t>(rs.GetInt("VERSION"));
        };
        if (db::DialectOf(connectionString) == db::Dialect::PostgreSQL &&
            db::InTransaction(connectionString)) {
            db::Transaction guard(connectionString);
            std::optional<int64_t> version = read();
            guard.Commit();
            return version;
        }
        return read();
    } catch (...) {
        return std::nullopt;
    }
}

bool Active() {
    const ThreadSiteCache& cache = Cache();
    return cache.depth > 0 && cache.enabled;
}

}  // namespace

SiteCacheScope::SiteCacheScope() {
    ThreadSiteCache& cache = Cache();
    if (cache.depth++ > 0) return;
    cache.enabled = false;
    try {
        const std::string connectionString = CurrentConnectionString();
        const std::optional<int64_t> version = ReadMarker(connectionString);
        if (!version || connectionString != cache.connectionString || *version != cache.version) {
            cache.Forget();
            cache.connectionString = connectionString;
            cache.version = version.value_or(-1);
        }
        cache.enabled = version.has_value();
    } catch (...) {
        cache.Forget();  // no site to read: nothing is kept
    }
}

SiteCacheScope::~SiteCacheScope() {
    ThreadSiteCache& cache = Cache();
    if (--cache.depth == 0) cache.enabled = false;
}

KeptSiteValue FindSiteValue(SiteCacheKind kind, std::string_view key) {
    if (!Active()) return std::nullopt;
    const auto& values = Cache().values[static_cast<size_t>(kind)];
    auto found = values.find(std::string(key));
    if (found == values.end()) return std::nullopt;
    return found->second;
}

void KeepSiteValue(SiteCacheKind kind, std::string_view key, std::optional<std::string> value) {
    if (!Active()) return;
    auto& values = Cache().values[static_cast<size_t>(kind)];
    if (values.size() >= kKeptPerKind) values.clear();
    values.insert_or_assign(std::string(key), std::move(value));
}

std::shared_ptr<const void> FindSiteObject(SiteCacheKind kind, std::string_view key) {
    if (!Active()) return nullptr;
    const auto& objects = Cache().objects[static_cast<size_t>(kind)];
    auto found = objects.find(std::string(key));
    return found == objects.end() ? nullptr : found->second;
}

void KeepSiteObject(SiteCacheKind kind, std::string_view key, std::shared_ptr<const void> object) {
    if (!Active() || !object) return;
    auto& objects = Cache().objects[static_cast<size_t>(kind)];
    if (objects.size() >= kKeptPerKind) objects.clear();
    objects.insert_or_assign(std::string(key), std::move(object));
}

void ClearSiteCaches() {
    ThreadSiteCache& cache = Cache();
    cache.Forget();
    cache.connectionString.clear();
    cache.version = -1;
}

}  // namespace kestrix
