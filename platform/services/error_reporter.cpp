#include "platform/services/error_reporter.h"

#include <unistd.h>

#include <exception>
#include <string>

#include "platform/base/error.h"
#include "platform/services/log.h"

namespace kestrix::services {

namespace {

std::string Described(std::string_view prefix, const Error& pending, std::optional<std::string_view> info) {
    std::string text(prefix);
    text += " caught: ";
    text += pending.description();
    text += "(";
    text += HexNumber(pending.number());
    text += ").";
    if (info) {
        text += " Additional information: ";
        text += *info;
    }
    return text;
}

/// Writes the text to stderr; what cannot be written is lost, nothing is raised.
void ToStderr(std::string_view text) noexcept {
    while (!text.empty()) {
        ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace

void LogError(std::string_view source, std::optional<std::string_view> info) noexcept {
    std::string entry;
    try {
        Error pending = CurrentError();
        entry = Described(source, pending, info);
        Log log;
        log.LogError(pending.source(), entry, 0, Variant{});
        return;
    } catch (...) {
        // The log refused the entry (or memory ran out building it): the entry and the
        // reason go to stderr, and the error being reported stays the caller's.
        try {
            ToStderr("kestrix: the log cannot be written (" + CurrentError().description() +
                     "); entry: " + entry + "\n");
        } catch (...) {
            ToStderr("kestrix: the log cannot be written; an entry was lost\n");
        }
    }
}

void RaiseError(std::string_view source, std::optional<std::string_view> info) {
    Error pending = CurrentError();
    if (pending.number() == 0) {
        std::string text;
        if (info) {
            text = " Additional information: ";
            text += *info;
        }
        LogError(source, text);
        return;
    }
    std::string wrapped = "\r\nMETHOD: " + Described(source, pending, info);
    LogError(source, wrapped);
    throw Error(pending.number(), pending.source(), std::move(wrapped), pending.helpFile(),
                pending.helpContext());
}

void Reraise(std::string_view source, std::optional<std::string_view> info) {
    RaiseError(source, info);
    // Only reached without an error being handled.
    throw Error(errnum::E_FAIL, std::string(source), "Reraise called without a pending error.");
}

}  // namespace kestrix::services
