#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/object.h"
#include "platform/membership/records.h"

namespace kestrix::membership {

/// One user of the membership directory ("Ulmara.User"). Given the site configuration file
/// and opened with the site's script credentials, it answers the user's properties; it
/// holds a copy of them and no database connection.
class User : public Object {
public:
    /// The site configuration file whose directory is used; the installed product's when
    /// never called.
    void SetConfigFile(const std::string& path);

    /// Reads the user `userId` (the login, matched exactly). Raises AccessDenied when the
    /// script credentials do not match the site's, NoSuchUser for an unknown login.
    void Open(const std::string& userId, const std::string& scriptUser,
              const std::string& scriptCode);

    /// The properties of the open user; each raises an error while no user is open.
    const std::string& UserID() const;
    int32_t BusinessPartnerID() const;
    std::string EmailAddress() const;
    /// The locale number, 0 when none.
    int32_t LocaleID() const;
    /// The language number as text ("1033"), "0" when none.
    std::string LanguageID() const;
    /// Identifiers of the applications the user may use, ascending.
    std::vector<int32_t> PermittedApplications() const;
    std::string FirstName() const;
    std::string SecondName() const;
    /// The text naming the user in messages: first and second name and the login in
    /// parentheses ("Ann Smith (asmith)"), or the login alone when the user has no name.
    std::string DisplayName() const;

    /// Late-bound access to the same operations ("SetConfigFile", "Open",
    /// "BusinessPartnerID", "EmailAddress", "LocaleID", "LanguageID",
    /// "PermittedApplications", "FirstName", "SecondName", "DisplayName").
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

private:
    const UserRecord& Current(const char* property) const;

    std::string configFile_;
    std::optional<UserRecord> user_;
};

}  // namespace kestrix::membership
