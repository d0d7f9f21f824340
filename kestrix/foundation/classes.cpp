// The classes of libkestrix by registered name. A web script or job creates a class by its
// name, calls one method and releases it.
#include <array>

#include "kestrix/foundation/general.h"
#include "kestrix/foundation/utility.h"

namespace kestrix {

/// Publishes the enumerations with the library; it has no methods.
class EnumsConstantsGlobalVars : public Object {};

namespace {

template <typename T>
ObjectPtr Make() {
    return std::make_shared<T>();
}

constexpr std::array kClasses{
    component::ClassEntry{"Kestrix.EnumsConstantsGlobalVars", &Make<EnumsConstantsGlobalVars>},
    component::ClassEntry{"Kestrix.Utility", &Make<Utility>},
};

}  // namespace

std::span<const component::ClassEntry> KestrixClasses() { return kClasses; }

}  // namespace kestrix
