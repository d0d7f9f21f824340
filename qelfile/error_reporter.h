#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix::qelfile {

/// Reports the error being handled and raises it again, one call level up: the description
/// grows by CR LF "METHOD: " source " caught: " old description "(" number in hexadecimal
/// ")." [" Additional information: " info] and is logged through "Tavrel.Log" first. Number,
/// the source of the deepest failure and the help reference travel unchanged. Without an error
/// being handled it only logs the information and returns.
void RaiseError(std::string_view source, std::optional<std::string_view> info = std::nullopt);

/// As RaiseError from a catch block: never returns.
[[noreturn]] void Reraise(std::string_view source);

/// Writes one log entry for the error being handled, under the failure's own source. Never
/// raises: an entry the log cannot take goes to stderr.
void LogError(std::string_view source,
              std::optional<std::string_view> info = std::nullopt) noexcept;

}  // namespace kestrix::qelfile
