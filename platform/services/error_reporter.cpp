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

/// Whether the failure's description was made by RaiseError on its way up.
bool PassedUp(const Error& failure) { return failure.description().starts_with("\r\nMETHOD: "); }

/// Writes the text to stderr; what cannot be written is lost, nothing is raised.
void ToStderr(std::string_view text) noexcept {
    while (!text.empty()) {
        ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

/// Writes one error entry to the platform log, or, when the log refuses it, to stderr with
/// the reason.
void WriteEntry(std::string_view source, const std::string& entry) noexcept {
    try {
        Log log;
        log.LogError(source, entry, 0, Variant{});
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

}  // namespace

void LogError(std::string_view source, std::optional<std::string_view> info) noexcept {
    std::string entry;
    std::string pendingSource;
    try {
        Error pending = CurrentError();
        // A failure passed up by RaiseError was logged when it was first passed up.
        if (!info && PassedUp(pending)) return;
        entry = Described(source, pending, info);
        pendingSource = pending.source();
    } catch (...) {
        ToStderr("kestrix: an error could not be described for the log\n");
        return;
    }
    WriteEntry(pendingSource, entry);
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
    // A failure is logged once, where it is first passed up, with the words of the method
    // that met it; the levels above only add their names to the description they pass on
    // (and are logged when they add information of their own).
    if (!PassedUp(pending) || info) WriteEntry(pending.source(), wrapped);
    throw Error(pending.number(), pending.source(), std::move(wrapped), pending.helpFile(),
                pending.helpContext());
}

void Reraise(std::string_view source, std::optional<std::string_view> info) {
    RaiseError(source, info);
    // Only reached without an error being handled.
    throw Error(errnum::E_FAIL, std::string(source), "Reraise called without a pending error.");
}

}  // namespace kestrix::services
