#include "platform/membership/business_partner.h"

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/membership/store.h"

namespace kestrix::membership {

namespace {

const Variant& Arg(std::span<Variant> args, size_t index, std::string_view method) {
    if (index >= args.size()) {
        throw Error(450, "Brenlow.BusinessPartner." + std::string(method),
                    "Wrong number of arguments or invalid property assignment");
    }
    return args[index];
}

}  // namespace

void BusinessPartner::SetConfigFile(const std::string& path) { configFile_ = path; }

std::string BusinessPartner::PartnerName(int32_t bpid) {
    std::string config = configFile_.empty() ? DefaultSiteConfigFile() : configFile_;
    db::Connection connection(MembershipConnectionString(config));
    db::Recordset rs = connection.Query(
        "SELECT NAME FROM BUSINESSPARTNER WHERE BUSINESSPARTNERID = " +
        db::Connection::EncodeNumber(bpid));
    if (rs.Eof()) {
        throw Error(errnum::NotFound, "Brenlow.BusinessPartner.PartnerName",
                    "The business partner " + std::to_string(bpid) + " does not exist.");
    }
    return rs.GetString("NAME");
}

std::string BusinessPartner::PartnerIdentifier(const std::string& code, int16_t kind) {
    if (kind != 0 && kind != 1) {
        throw Error(errnum::InvalidArgument, "Brenlow.BusinessPartner.PartnerIdentifier",
                    "The partner code kind " + std::to_string(kind) + " is not 0 or 1.");
    }
    std::string config = configFile_.empty() ? DefaultSiteConfigFile() : configFile_;
    db::Connection connection(MembershipConnectionString(config));
    db::Recordset rs = connection.Query(
        "SELECT BUSINESSPARTNERID FROM BUSINESSPARTNERCODE WHERE KIND = " +
        db::Connection::EncodeNumber(kind) + " AND CODE = " + connection.EncodeText(code));
    if (rs.Eof()) {
        throw Error(errnum::NotFound, "Brenlow.BusinessPartner.PartnerIdentifier",
                    "No business partner has the code '" + code + "' of kind " +
                        std::to_string(kind) + ".");
    }
    return std::to_string(rs.GetInt("BUSINESSPARTNERID"));
}

Variant BusinessPartner::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "SetConfigFile")) {
        SetConfigFile(Arg(args, 0, method).ToString());
        return {};
    }
    if (IEquals(method, "PartnerName")) {
        return Variant(PartnerName(Arg(args, 0, method).ToLong()));
    }
    if (IEquals(method, "PartnerIdentifier")) {
        return Variant(PartnerIdentifier(Arg(args, 0, method).ToString(),
                                         Arg(args, 1, method).ToInteger()));
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix::membership
