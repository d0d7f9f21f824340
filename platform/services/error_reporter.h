#pragma once

#include <optional>
#include <string_view>

namespace kestrix::services {

/// Writes one log entry for the error being handled: source " caught: " description "("
/// number in hexadecimal ")." [" Additional information: " info], logged under the
/// failure's own source through the platform log. A failure that RaiseError has passed up
/// was logged then, and is not logged again unless `info` adds something. It never raises:
/// it is called from catch blocks and clean-up paths, where a second failure would hide the
/// first or end the process. An entry that cannot be written to the log (unwritable folder,
/// full disk) goes to stderr together with the reason the log refused it.
void LogError(std::string_view source,
              std::optional<std::string_view> info = std::nullopt) noexcept;

/// Reports the error being handled and raises it again, one call level up. The description
/// becomes CR LF "METHOD: " source " caught: " old description "(" number ")."
/// [" Additional information: " info]; number, the source of the deepest failure, help file
/// and help context travel unchanged. The failure is logged once, the first time it is
/// passed up (and again at a level that adds information). Without an error being handled
/// it only logs the information and returns.
void RaiseError(std::string_view source, std::optional<std::string_view> info = std::nullopt);

/// As RaiseError, for callers that know an error is being handled: never returns.
[[noreturn]] void Reraise(std::string_view source, std::optional<std::string_view> info = std::nullopt);

}  // namespace kestrix::services
