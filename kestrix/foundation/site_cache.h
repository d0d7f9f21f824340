#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

/// What the kept look-ups are of; each kind has its own keys.
enum class SiteCacheKind {
    Label,
    Parameter,
    DocumentType,
    Sender,
    SenderList,
    ReceiveMethod,
    User,
    FieldDefinitions,
    SendMethods,
    SiteConfiguration,
    Count  // the number of kinds
};

/// Look-ups that every document makes again (label texts, server parameters, document
/// types, the users that routing tags name) kept by the calling thread from one document to
/// the next. They are kept only while a `SiteCacheScope` lives on the thread; outside one,
/// every look-up asks the database.
///
/// The outermost scope reads the site's change marker, a counter that the database itself
/// raises on every change of those tables, and forgets every kept value when the counter
/// moved or the thread now works on another database. So a change made by any means, a
/// plain SQL statement included, is seen by the next document. A database without the
/// marker keeps nothing.
class SiteCacheScope {
  public:
    SiteCacheScope();
    ~SiteCacheScope();
    SiteCacheScope(const SiteCacheScope&) = delete;
    SiteCacheScope& operator=(const SiteCacheScope&) = delete;
};

/// A kept answer: nothing when the look-up was not kept (or no scope lives); else the
/// answer, itself nothing when the database had no row.
using KeptSiteValue = std::optional<std::optional<std::string>>;

/// The answer kept for `key`.
KeptSiteValue FindSiteValue(SiteCacheKind kind, std::string_view key);
/// Keeps the answer for `key` while the scope lives and the marker stands still; does
/// nothing outside a scope.
void KeepSiteValue(SiteCacheKind kind, std::string_view key, std::optional<std::string> value);
/// The object kept for `key` (a user's record, say), or null.
std::shared_ptr<const void> FindSiteObject(SiteCacheKind kind, std::string_view key);
/// Keeps `object` for `key` as `KeepSiteValue` keeps answers.
void KeepSiteObject(SiteCacheKind kind, std::string_view key, std::shared_ptr<const void> object);

/// Forgets every kept answer of the calling thread.
void ClearSiteCaches();

/// The kept answer for `key`, else the one `load` gives (kept for the next time).
template <typename Load>
std::optional<std::string> CachedSiteValue(SiteCacheKind kind, std::string_view key, Load&& load) {
    if (KeptSiteValue kept = FindSiteValue(kind, key)) return std::move(*kept);
    std::optional<std::string> value = load();
    KeepSiteValue(kind, key, value);
    return value;
}

}  // namespace kestrix
