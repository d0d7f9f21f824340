#include "platform/services/error_reporter.h"

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

}  // namespace

void LogError(std::string_view source, std::optional<std::string_view> info) {
    Error pending = CurrentError();
    Log log;
    log.LogError(pending.source(), Described(source, pending, info), 0, Variant{});
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
