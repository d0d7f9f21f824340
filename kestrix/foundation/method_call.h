#pragma once

#include <string>
#include <string_view>

#include "platform/base/variant.h"

namespace kestrix::delivery {

/// A plug-in address split in its two parts: "Acme.Orders.Receive" is the class
/// "Acme.Orders" and the method "Receive".
struct PluginAddress {
    /// Everything before the second dot, or the whole address when it has none.
    std::string className;
    /// Everything after the second dot; "" when there is none or it ends the address.
    std::string method;
};

/// Splits a plug-in address at its second dot.
PluginAddress SplitPluginAddress(std::string_view address);

/// Creates the plug-in class of `address` by its registered name and calls it with `data`
/// (passed by reference, so the plug-in may change it), answering what the plug-in
/// answered, unconverted:
/// - with a method name, that method by name (one argument);
/// - without, `IMethodCall::MethodCall` when the class implements the interface, else the
///   method "IMethodCall_MethodCall" by name.
/// A failure (class unknown, method missing, wrong arguments, an error of the plug-in) is
/// reported as `plugin_calls::CallMethod` reports it: raised on with the source
/// "Kestrix.Utility.CallMethod" and the text "object <address> not found or method called
/// with wrong number/type of arguments".
///
/// `operation` names the interface's operation for an address without a method:
/// "MethodCall" (the document data) or "GetExcelWorkBook" (a workbook).
Variant CallPluginForAnswer(const std::string& address, Variant& data, std::string_view operation = "MethodCall");

}  // namespace kestrix::delivery

/// Plug-in calls by address, as rules and send methods make them.
namespace kestrix::plugin_calls {

/// The class part of a plug-in address: everything before its second dot (the whole
/// address when it has none): "Acme.Orders.Receive" gives "Acme.Orders".
Variant GetClass(const std::string& iDllClassMethodString);
/// The method part of a plug-in address: everything after its second dot; "" when there
/// is none or it ends the address.
Variant GetMethod(const std::string& iDllClassMethodString);
/// Creates the plug-in class of the address and calls it with the document data (by
/// reference): the named method by name, else `IMethodCall::MethodCall` (or
/// "IMethodCall_MethodCall" by name for a class without the interface). Answers the
/// plug-in's boolean. Any failure is raised on with the source
/// "Kestrix.Utility.CallMethod" and "object <address> not found or method called with
/// wrong number/type of arguments".
bool CallMethod(const std::string& iDllClassMethodString, Variant& iArguments);
/// True when the class part of the address can be created; failures answer false
/// without being reported.
bool CheckMethodCall(const std::string& iDllClassMethodString);
/// The elements of an array as texts joined by ", "; "" (after logging) for a value that
/// is no array.
std::string MakeStringFromArray(const Variant& iArray);

}  // namespace kestrix::plugin_calls
