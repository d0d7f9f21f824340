#include "qelfile/error_reporter.h"

#include <array>

#include "platform/base/error.h"
#include "platform/base/variant.h"
#include "platform/component/component.h"
#include "platform/services/log.h"

namespace kestrix::qelfile {

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
    ObjectPtr object = component::CreateObject("Tavrel.Log");
    if (auto* log = dynamic_cast<services::Log*>(object.get())) {
        log->LogError(errorSource, message, 0, Variant{});
        return;
    }
    std::array<Variant, 4> args{Variant(errorSource), Variant(message), Variant(0), Variant{}};
    object->Invoke("LogError", args);
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
        if (info) text = " Additional information: " + std::string(*info);
        WriteLog(std::string(source), std::string(source) + text);
        return;
    }
    std::string wrapped = "\r\nMETHOD: " + Described(source, pending, info);
    WriteLog(pending.source(), wrapped);
    throw Error(pending.number(), pending.source(), std::move(wrapped), pending.helpFile(),
                pending.helpContext());
}

void Reraise(std::string_view source) {
    RaiseError(source);
    throw Error(errnum::E_FAIL, std::string(source), "Reraise called without a pending error.");
}

}  // namespace kestrix::qelfile
