#include "platform/membership/user.h"

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/base/variant.h"
#include "platform/membership/store.h"

namespace kestrix::membership {

namespace {

const Variant& Arg(std::span<Variant> args, size_t index, std::string_view method) {
    if (index >= args.size()) {
        throw Error(450, "Ulmara.User." + std::string(method),
                    "Wrong number of arguments or invalid property assignment");
    }
    return args[index];
}

}  // namespace

void User::SetConfigFile(const std::string& path) { configFile_ = path; }

void User::Open(const std::string& userId, const std::string& scriptUser,
                const std::string& scriptCode) {
    user_.reset();
    std::string config = configFile_.empty() ? DefaultSiteConfigFile() : configFile_;
    CheckScriptCredentials(config, scriptUser, scriptCode, "Ulmara.User.Open");
    db::Connection connection(MembershipConnectionString(config));
    std::optional<UserRecord> found = FindUser(connection, userId);
    if (!found) {
        throw Error(errnum::NoSuchUser, "Ulmara.User.Open",
                    "The user '" + userId + "' does not exist.");
    }
    user_ = std::move(found);
}

const UserRecord& User::Current(const char* property) const {
    if (!user_) {
        throw Error(kestrix::errnum::E_FAIL, std::string("Ulmara.User.") + property,
                    "No user is open.");
    }
    return *user_;
}

const std::string& User::UserID() const { return Current("UserID").login; }
int32_t User::BusinessPartnerID() const { return Current("BusinessPartnerID").businessPartnerId; }
std::string User::EmailAddress() const { return Current("EmailAddress").email; }
int32_t User::LocaleID() const { return Current("LocaleID").localeId; }
std::string User::LanguageID() const { return std::to_string(Current("LanguageID").languageId); }
std::vector<int32_t> User::PermittedApplications() const {
    return Current("PermittedApplications").applications;
}
std::string User::FirstName() const { return Current("FirstName").firstName; }
std::string User::SecondName() const { return Current("SecondName").secondName; }

std::string User::DisplayName() const {
    const UserRecord& user = Current("DisplayName");
    std::string name = Trim(user.firstName + " " + user.secondName);
    return name.empty() ? user.login : name + " (" + user.login + ")";
}

Variant User::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "SetConfigFile")) {
        SetConfigFile(Arg(args, 0, method).ToString());
        return {};
    }
    if (IEquals(method, "Open")) {
        Open(Arg(args, 0, method).ToString(), Arg(args, 1, method).ToString(),
             Arg(args, 2, method).ToString());
        return {};
    }
    if (IEquals(method, "BusinessPartnerID")) return Variant(BusinessPartnerID());
    if (IEquals(method, "EmailAddress")) return Variant(EmailAddress());
    if (IEquals(method, "LocaleID")) return Variant(LocaleID());
    if (IEquals(method, "LanguageID")) return Variant(LanguageID());
    if (IEquals(method, "PermittedApplications")) {
        Array ids;
        for (int32_t id : PermittedApplications()) ids.emplace_back(id);
        return Variant(std::move(ids));
    }
    if (IEquals(method, "FirstName")) return Variant(FirstName());
    if (IEquals(method, "SecondName")) return Variant(SecondName());
    if (IEquals(method, "DisplayName")) return Variant(DisplayName());
    return Object::Invoke(method, args);
}

}  // namespace kestrix::membership
