#pragma once

#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix::membership {

/// Checks a user's credentials ("Ulmara.Validator").
class Validator : public Object {
public:
    /// The site configuration file whose directory is used; the installed product's when
    /// never called.
    void SetConfigFile(const std::string& path);

    /// True when `user` names a user of the directory whose password is `password`; false
    /// for an unknown user, a wrong password or a user without a password. A directory that
    /// cannot be reached raises an error. The arguments are left unchanged.
    Variant Validate(std::string& user, std::string& password);

    /// Late-bound "SetConfigFile", "Validate".
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

private:
    std::string configFile_;
};

}  // namespace kestrix::membership
