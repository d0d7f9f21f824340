#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix::membership {

/// The business partners of the directory ("Brenlow.BusinessPartner").
class BusinessPartner : public Object {
public:
    /// The site configuration file whose directory is used; the installed product's when
    /// never called (the usual case: callers create the object and ask at once).
    void SetConfigFile(const std::string& path);

    /// The name of partner `bpid`; NotFound for an unknown partner.
    std::string PartnerName(int32_t bpid);

    /// The identifier (as text) of the partner that code `code` of kind `kind` names: kind 0
    /// is the code documents carry in BUS-PART-C, kind 1 the code in BUS-PART-S. The code is
    /// matched exactly. NotFound when no partner has the code, InvalidArgument for another
    /// kind.
    std::string PartnerIdentifier(const std::string& code, int16_t kind);

    /// Late-bound "SetConfigFile", "PartnerName", "PartnerIdentifier".
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

private:
    std::string configFile_;
};

}  // namespace kestrix::membership
