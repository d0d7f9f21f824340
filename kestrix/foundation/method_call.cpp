// Plug-in method calls: splitting an address, creating the plug-in by name and calling it
// with the document data; the plug-in calls the rest of the library makes.
#include "kestrix/foundation/method_call.h"

#include <memory>
#include <span>

#include "kestrix/foundation/imethodcall.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/method_call.h"
#include "platform/base/error.h"

namespace kestrix {

namespace delivery {

namespace {

constexpr const char* kCallSource = "Kestrix.Utility.CallMethod";

std::string NotFoundMessage(const std::string& address) {
    return "object " + address + " not found or method called with wrong number/type of arguments";
}

}  // namespace

PluginAddress SplitPluginAddress(std::string_view address) {
    const size_t first = address.find('.');
    const size_t second = first == std::string_view::npos ? std::string_view::npos : address.find('.', first + 1);
    if (second == std::string_view::npos) return {std::string(address), {}};
    return {std::string(address.substr(0, second)), std::string(address.substr(second + 1))};
}

Variant CallPluginForAnswer(const std::string& address, Variant& data, std::string_view operation) {
    try {
        const PluginAddress parts = SplitPluginAddress(address);
        ObjectPtr object = CreateComponent(parts.className);
        if (!object) {
            throw Error(errnum::E_FAIL, kCallSource, "The class '" + parts.className + "' made no object.");
        }
        // The document data is the one argument, passed by reference.
        std::span<Variant> args(&data, 1);
        if (!parts.method.empty()) return object->Invoke(parts.method, args);
        if (auto plugin = std::dynamic_pointer_cast<IMethodCall>(object))
            return operation == "GetExcelWorkBook" ? plugin->GetExcelWorkBook(data) : plugin->MethodCall(data);
        return object->Invoke("IMethodCall_" + std::string(operation), args);
    } catch (...) {
        Reraise(kCallSource, NotFoundMessage(address));
    }
}

}  // namespace delivery

// ---- plug-in method calls ------------------------------------------------------------------

Variant plugin_calls::GetClass(const std::string& iDllClassMethodString) {
    try {
        return delivery::SplitPluginAddress(iDllClassMethodString).className;
    } catch (...) {
        RaiseError("Kestrix.Utility.GetClass");
        return std::string();
    }
}

Variant plugin_calls::GetMethod(const std::string& iDllClassMethodString) {
    try {
        return delivery::SplitPluginAddress(iDllClassMethodString).method;
    } catch (...) {
        RaiseError("Kestrix.Utility.GetMethod");
        return std::string();
    }
}

bool plugin_calls::CallMethod(const std::string& iDllClassMethodString, Variant& iArguments) {
    Variant answer = delivery::CallPluginForAnswer(iDllClassMethodString, iArguments);
    try {
        // A plug-in answers a boolean; a number or "True"/"False" is read as one, anything
        // else is a call with the wrong result type.
        return answer.ToBool();
    } catch (...) {
        Reraise(delivery::kCallSource, delivery::NotFoundMessage(iDllClassMethodString));
    }
}

bool plugin_calls::CheckMethodCall(const std::string& iDllClassMethodString) {
    try {
        return CreateComponent(delivery::SplitPluginAddress(iDllClassMethodString).className) != nullptr;
    } catch (...) {
        // Only the answer matters to the page that checks an address being entered.
        return false;
    }
}

std::string plugin_calls::MakeStringFromArray(const Variant& iArray) {
    try {
        std::string text;
        const Array& items = iArray.ToArray();
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) text += ", ";
            text += items[i].ToString();
        }
        return text;
    } catch (...) {
        LogError("Kestrix.Utility.MakeStringFromArray");
        return {};
    }
}

}  // namespace kestrix
