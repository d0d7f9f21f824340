#pragma once

#include <memory>
#include <span>
#include <string_view>

namespace kestrix {

class Variant;

/// The base of every class that can be created by its registered name. Besides its own
/// typed methods, an object may answer late-bound calls by method name; the arguments are
/// passed by reference so that a method can hand values back through them.
class Object {
public:
    virtual ~Object() = default;

    /// Calls the method `method` with `args`. The default answers error 438
    /// ("Object doesn't support this property or method").
    virtual Variant Invoke(std::string_view method, std::span<Variant> args);
};

using ObjectPtr = std::shared_ptr<Object>;

}  // namespace kestrix
