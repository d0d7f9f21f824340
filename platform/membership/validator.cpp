#include "platform/membership/validator.h"

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/membership/records.h"
#include "platform/membership/store.h"

namespace kestrix::membership {

void Validator::SetConfigFile(const std::string& path) { configFile_ = path; }

Variant Validator::Validate(std::string& user, std::string& password) {
    std::string config = configFile_.empty() ? DefaultSiteConfigFile() : configFile_;
    std::optional<std::string> hash;
    {
        db::Connection connection(MembershipConnectionString(config));
        hash = FindPasswordHash(connection, user);
    }
    if (!hash || hash->empty()) {
        // Unknown users and users without a password take as long as a wrong password, so
        // that the answer's timing does not tell which logins exist.
        thread_local const std::string dummy = HashPassword("no user has this password");
        VerifyPassword(dummy, password);
        return Variant(false);
    }
    return Variant(VerifyPassword(*hash, password));
}

Variant Validator::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "SetConfigFile") && !args.empty()) {
        SetConfigFile(args[0].ToString());
        return {};
    }
    if (IEquals(method, "Validate") && args.size() >= 2) {
        std::string user = args[0].ToString();
        std::string password = args[1].ToString();
        return Validate(user, password);
    }
    if (IEquals(method, "SetConfigFile") || IEquals(method, "Validate")) {
        throw Error(450, "Ulmara.Validator." + std::string(method),
                    "Wrong number of arguments or invalid property assignment");
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix::membership
