// An example plug-in library: one class, created by name through a site's components file
// and called late-bound.

#include <cstddef>
#include <memory>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/base/variant.h"
#include "platform/component/component.h"

namespace {

/// "KestrixTest.Echo": "Echo"(value) answers its argument; "Fail"(number, description)
/// raises that error, so that callers can see an error cross the library boundary.
class Echo : public kestrix::Object {
public:
    kestrix::Variant Invoke(std::string_view method, std::span<kestrix::Variant> args) override {
        if (kestrix::IEquals(method, "Echo") && args.size() == 1) return args[0];
        if (kestrix::IEquals(method, "Fail") && args.size() == 2) {
            throw kestrix::Error(args[0].ToLong(), "KestrixTest.Echo.Fail", args[1].ToString());
        }
        return Object::Invoke(method, args);
    }
};

kestrix::ObjectPtr MakeEcho() { return std::make_shared<Echo>(); }

constexpr kestrix::component::ClassEntry kClasses[] = {
    {"KestrixTest.Echo", &MakeEcho},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const kestrix::component::ClassEntry*
kestrix_component_classes(size_t* count) {
    *count = sizeof kClasses / sizeof kClasses[0];
    return kClasses;
}
