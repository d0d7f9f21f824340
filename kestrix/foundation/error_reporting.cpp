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

std::string ShortReason(const std::string& description) {
    std::string text = description;
    for (;;) {
        const size_t start = text.find_first_not_of("\r\n ");
        text.erase(0, start == std::string::npos ? text.size() : start);
        if (!text.starts_with("METHOD: ")) break;
        const size_t caught = text.find(" caught: ");
        if (caught == std::string::npos) break;
        text.erase(0, caught + 9);
    }
    const size_t eol = text.find_first_of("\r\n");
    if (eol != std::string::npos) text.erase(eol);
    return text;
}

}  // namespace kestrix
