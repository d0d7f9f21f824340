#pragma once

#include <span>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/strings.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.IMethodCall": the interface of a delivery plug-in. A send method of protocol
/// MethodCall (and a rule that names a plug-in) hands the document to a class that a site
/// installs in a plug-in library; a class deriving from this one is called through these two
/// operations, any other class by method name (`Object::Invoke`).
///
/// The class is complete in this header so that a plug-in library can derive from it without
/// linking libkestrix; the library offers its classes through the C entry that
/// plugin_library.h writes, and the host calls them by name through that entry (a plug-in
/// object is never this class on the host's side). Created by its name it is the
/// do-nothing plug-in: both operations answer false.
class IMethodCall : public Object {
  public:
    /// Receives the document data (the XML or OBI text of a delivery, the array of values of
    /// a rule); the plug-in may change it. True when the plug-in took the document.
    virtual bool MethodCall(Variant& i_vDocumentData) {
        (void)i_vDocumentData;
        return false;
    }

    /// Receives the workbook of a delivery in spreadsheet form and may replace it.
    virtual bool GetExcelWorkBook(Variant& i_oExcelWorkBook) {
        (void)i_oExcelWorkBook;
        return false;
    }

    /// The two operations by name as well ("MethodCall", "GetExcelWorkBook", also with the
    /// prefix "IMethodCall_"), each with one argument passed by reference. A plug-in that
    /// answers methods of its own calls this for every name it does not know.
    Variant Invoke(std::string_view method, std::span<Variant> args) override {
        std::string_view name = method;
        if (IStartsWith(name, "IMethodCall_")) name.remove_prefix(12);
        if (args.size() == 1 && IEquals(name, "MethodCall")) return MethodCall(args[0]);
        if (args.size() == 1 && IEquals(name, "GetExcelWorkBook")) return GetExcelWorkBook(args[0]);
        return Object::Invoke(method, args);
    }
};

}  // namespace kestrix
