#pragma once

#include <string_view>

#include "platform/base/variant.h"

namespace kestrix::services {

/// Asked by the platform before it deletes one of its own objects (a business partner, a
/// document type): the implementer says whether it still refers to the object and whether
/// the deletion may go on. `origin` names the kind of object (compared upper-case); key
/// names and key values are arrays of the same length.
class IReferentialIntegrity {
public:
    virtual ~IReferentialIntegrity() = default;
    virtual bool Exists(std::string_view origin, const Array& keyNames, const Array& keyValues) = 0;
    virtual bool BeforeDelete(std::string_view origin, const Array& keyNames,
                              const Array& keyValues) = 0;
};

}  // namespace kestrix::services
