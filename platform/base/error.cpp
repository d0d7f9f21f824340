#include "platform/base/error.h"

#include <cstdio>

namespace kestrix {

Error CurrentError() {
    std::exception_ptr current = std::current_exception();
    if (!current) return Error(0, {}, {});
    try {
        std::rethrow_exception(current);
    } catch (const Error& e) {
        return e;
    } catch (const std::exception& e) {
        return Error(errnum::E_FAIL, {}, e.what());
    } catch (...) {
        return Error(errnum::E_FAIL, {}, "Unknown failure");
    }
}

std::string HexNumber(int32_t number) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<uint32_t>(number));
    return buf;
}

}  // namespace kestrix
