#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/membership/records.h"

namespace kestrix::membership {

/// Administration of the membership directory, for the command line: business partners
/// with their codes, users, passwords and the applications a user may use. The
/// applications themselves are kept in the server configuration.
class Directory {
public:
    /// A directory in the database of `connectionString`.
    explicit Directory(std::string connectionString);

    /// The directory of the site whose site configuration is `siteConfigFile` (see
    /// `MembershipConnectionString`).
    static Directory ForSite(const std::string& siteConfigFile);

    const std::string& connectionString() const { return connectionString_; }

    /// Adds a partner with its codes of kind 0 and kind 1; returns its identifier. A code
    /// that another partner already has raises an error and adds nothing.
    int32_t AddBusinessPartner(const std::string& name, const std::vector<std::string>& codes0 = {},
                               const std::vector<std::string>& codes1 = {});
    /// Adds one code of kind `kind` (0 or 1) to partner `bpid`.
    void AddPartnerCode(int32_t bpid, int16_t kind, const std::string& code);
    /// All partners, by identifier.
    std::vector<PartnerRecord> BusinessPartners() const;

    /// Adds a user (its `applications` are granted as well). The partner must exist and the
    /// login must be new and not empty. Without a password the user cannot log in until
    /// `SetPassword`.
    void AddUser(const UserRecord& user, const std::optional<std::string>& password = {});
    /// Writes the user's details (e-mail, language, locale, names, employee number) as
    /// given; partner, password and applications stay. NoSuchUser when unknown.
    void UpdateUserDetails(const UserRecord& user);
    /// All users, by login.
    std::vector<UserRecord> Users() const;
    /// Replaces the user's password (stored only as a hash); NoSuchUser when unknown.
    void SetPassword(const std::string& login, const std::string& password);
    /// Lets the user use the application `applicationId`; granting twice changes nothing.
    void GrantApplication(const std::string& login, int32_t applicationId);

    /// A new API token of the user ("kx_" and 64 hexadecimal digits), answered once: only a
    /// hash of it is kept. NoSuchUser when unknown.
    std::string IssueToken(const std::string& login);
    /// The login of the user whose token this is, or nothing for a token that is unknown or
    /// revoked (or whose user is gone).
    std::optional<std::string> TokenUser(const std::string& token) const;
    /// Revokes every token of the user; answers how many were in force.
    int RevokeTokens(const std::string& login);

private:
    std::string connectionString_;
};

}  // namespace kestrix::membership
