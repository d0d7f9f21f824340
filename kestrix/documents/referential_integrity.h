#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/base/variant.h"

/// What the classes that answer the platform's referential-integrity questions share: the
/// look-up of a key among the names the platform hands over, the existence query and the
/// log entry of a failure (such answers never raise to the platform).
namespace kestrix::referential_integrity {

/// Whether `sql` (with `params` bound to its "?" placeholders) answers at least one row, on a
/// connection of its own. Raises what the database raises.
bool HasRow(const std::string& sql, std::span<const Variant> params = {});

/// Writes the error being handled to the platform log: its number, its description and its
/// source followed by `where`. Never raises; when even the log cannot be written there is
/// nowhere left to tell.
void LogToPlatform(std::string_view where) noexcept;

/// The value whose key name (at the same index) is `key`, ignoring case; nullptr when the
/// key is not among the names. A value missing at that index is a failure raised with
/// `source`.
const Variant* KeyValue(const Array& keyNames, const Array& keyValues, std::string_view key,
                        std::string_view source);

}  // namespace kestrix::referential_integrity
