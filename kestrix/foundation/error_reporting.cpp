#include "kestrix/foundation/error_reporting.h"

#include "kestrix/foundation/general.h"
#include "platform/services/log.h"

namespace kestrix {

namespace {

std::string Described(std::string_view prefix, const Error& pending,
                      std::optional<std::string_view> info) {
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

void WriteLog(const std::string& errorSource, const std::string& message) {
    ObjectPtr object = CreateComponent("Tavrel.Log");
    auto* log = dynamic_cast<services::Log*>(object.get());
    if (!log) throw Error(errnum::E_FAIL, "General.LogError", "The log is not available.");
    log->LogError(errorSource, message, 0, Variant{});
}

}  // namespace

void LogError(std::string_view source, std::optional<std::string_view> info) {
    Error pending = CurrentError();
    WriteLog(pending.source(), Described(source, pending, info));
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

void Raise(EnumerationErrors code, std::string source, std::string description) {
    throw Error(ErrNum(code), std::move(source), std::move(description));
}

}  // namespace kestrix
