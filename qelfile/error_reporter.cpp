#include "qelfile/error_reporter.h"

#include "platform/services/error_reporter.h"

namespace kestrix::qelfile {

// The library reports through the platform's error reporter, so that both libraries give
// failures one shape.

void LogError(std::string_view source, std::optional<std::string_view> info) noexcept {
    services::LogError(source, info);
}

void RaiseError(std::string_view source, std::optional<std::string_view> info) {
    services::RaiseError(source, info);
}

void Reraise(std::string_view source) { services::Reraise(source); }

}  // namespace kestrix::qelfile
