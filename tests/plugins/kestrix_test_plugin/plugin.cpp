// An example plug-in library: classes created by name through a site's components file,
// called late-bound or through the delivery interface, behind the C entry of the helper.

#include <fstream>
#include <iterator>
#include <cstddef>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "kestrix/foundation/imethodcall.h"
#include "kestrix/foundation/plugin_library.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/base/variant.h"

namespace {

/// "KestrixTest.Echo": "Echo"(value) answers its argument; "Fail"(number, description)
/// raises that error, so that callers can see an error cross the library boundary;
/// "Panic"(text) throws an exception of the standard library with that text; "Swap"(a, b)
/// exchanges its two arguments and answers nothing.
class Echo : public kestrix::Object {
public:
    kestrix::Variant Invoke(std::string_view method, std::span<kestrix::Variant> args) override {
        if (kestrix::IEquals(method, "Echo") && args.size() == 1) return args[0];
        if (kestrix::IEquals(method, "Fail") && args.size() == 2) {
            throw kestrix::Error(args[0].ToLong(), "KestrixTest.Echo.Fail", args[1].ToString());
        }
        if (kestrix::IEquals(method, "Panic") && args.size() == 1)
            throw std::runtime_error(args[0].ToString());
        if (kestrix::IEquals(method, "Swap") && args.size() == 2) {
            std::swap(args[0], args[1]);
            return {};
        }
        return Object::Invoke(method, args);
    }
};

/// The values a delivery or a rule hands over: the elements of an array, or the one value.
std::vector<kestrix::Variant> Items(const kestrix::Variant& data) {
    if (data.IsArray()) return data.ToArray();
    return {data};
}

/// "KestrixTest.Receiver": a delivery plug-in implementing the interface. MethodCall takes
/// a text (marking it "received: " so that the caller sees the change) and answers true; an
/// array it answers true when no element is blank. "Stamp"(data), called by name, marks the
/// data "stamped: " and answers true. GetExcelWorkBook takes the path of a workbook file and
/// keeps a copy of it beside it ("<path>.seen.xlsx"), answering true when it is a zip package.
class Receiver : public kestrix::IMethodCall {
public:
    bool GetExcelWorkBook(kestrix::Variant& workbook) override {
        const std::string path = workbook.ToString();
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.rfind("PK\x03\x04", 0) != 0) return false;
        std::ofstream(path + ".seen.xlsx", std::ios::binary) << bytes;
        return true;
    }
    bool MethodCall(kestrix::Variant& data) override {
        if (data.IsArray()) {
            for (const kestrix::Variant& item : data.ToArray())
                if (kestrix::Trim(item.ToString()).empty()) return false;
            return !data.ToArray().empty();
        }
        data = "received: " + data.ToString();
        return true;
    }
    kestrix::Variant Invoke(std::string_view method, std::span<kestrix::Variant> args) override {
        if (kestrix::IEquals(method, "Stamp") && args.size() == 1) {
            args[0] = "stamped: " + args[0].ToString();
            return true;
        }
        return IMethodCall::Invoke(method, args);
    }
};

/// "KestrixTest.Judge": a plug-in without the interface, answering by method name only.
/// - "IMethodCall_MethodCall"(data): true when the data (or its first element) is "yes";
/// - "Ascending"(values): true when the values are numbers in strictly ascending order;
/// - "Maybe"(data): answers the text "maybe", which is no boolean;
/// - "Count"(data): answers the number of values, a number rather than a boolean;
/// - "Explode"(data): raises an error of its own.
class Judge : public kestrix::Object {
public:
    kestrix::Variant Invoke(std::string_view method, std::span<kestrix::Variant> args) override {
        if (args.size() == 1) {
            const std::vector<kestrix::Variant> items = Items(args[0]);
            if (kestrix::IEquals(method, "IMethodCall_MethodCall"))
                return !items.empty() && items.front().ToString() == "yes";
            if (kestrix::IEquals(method, "Ascending")) {
                if (items.empty()) return false;
                for (size_t i = 1; i < items.size(); ++i)
                    if (!(items[i - 1].ToDouble() < items[i].ToDouble())) return false;
                return true;
            }
            if (kestrix::IEquals(method, "Maybe")) return "maybe";
            if (kestrix::IEquals(method, "Count")) return static_cast<int>(items.size());
            if (kestrix::IEquals(method, "Explode"))
                throw kestrix::Error(1234, "KestrixTest.Judge.Explode", "The judge refuses.");
        }
        return Object::Invoke(method, args);
    }
};

kestrix::ObjectPtr MakeEcho() { return std::make_shared<Echo>(); }
kestrix::ObjectPtr MakeReceiver() { return std::make_shared<Receiver>(); }
kestrix::ObjectPtr MakeJudge() { return std::make_shared<Judge>(); }

constexpr kestrix::plugin::PluginClass kClasses[] = {
    {"KestrixTest.Echo", &MakeEcho},
    {"KestrixTest.Receiver", &MakeReceiver},
    {"KestrixTest.Judge", &MakeJudge},
};

}  // namespace

KESTRIX_PLUGIN_CLASSES(kClasses)
