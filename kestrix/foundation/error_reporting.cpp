#include "kestrix/foundation/error_reporting.h"

#include "platform/services/error_reporter.h"

namespace kestrix {

// The library reports through the platform's one error reporter, as libqelfile does.

void LogError(std::string_view source, std::optional<std::string_view> info) noexcept {
    services::LogError(source, info);
}

void RaiseError(std::string_view source, std::optional<std::string_view> info) {
    services::RaiseError(source, info);
}

void Reraise(std::string_view source, std::optional<std::string_view> info) { services::Reraise(source, info); }

void Raise(EnumerationErrors code, std::string source, std::string description) {
    throw Error(ErrNum(code), std::move(source), std::move(description));
}

}  // namespace kestrix
