#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"

namespace kestrix {

/// Reports the error being handled and raises it again, one call level up. Called from a
/// catch block with the source of the catching method ("Kestrix.Document.GetStatus").
///
/// The description becomes CR LF "METHOD: " source " caught: " old description "(" number
/// in hexadecimal ")." [" Additional information: " info]; number, the source of the
/// deepest failure, help file and help context travel unchanged. The new description is
/// logged first. Without an error being handled it only logs the information and returns.
void RaiseError(std::string_view source, std::optional<std::string_view> info = std::nullopt);

/// As RaiseError, for callers that know an error is being handled: never returns.
[[noreturn]] void Reraise(std::string_view source,
                          std::optional<std::string_view> info = std::nullopt);

/// Writes one log entry for the error being handled: source " caught: " description "("
/// number ")." [" Additional information: " info], logged under the failure's own source.
/// It never raises, so that it is safe in catch blocks, destructors and clean-up paths: an
/// entry the log cannot take goes to stderr instead.
void LogError(std::string_view source,
              std::optional<std::string_view> info = std::nullopt) noexcept;

/// The first line of a failure's description, without the "METHOD: ... caught: " prefixes of
/// the levels it was passed up through: the text its raiser meant for people.
std::string ShortReason(const std::string& description);

/// Raises a new error of the library's own codes.
[[noreturn]] void Raise(EnumerationErrors code, std::string source, std::string description);

}  // namespace kestrix
