#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/connection.h"

namespace kestrix::membership {

/// One user of the directory (a row of MEMBERUSER with its applications).
struct UserRecord {
    std::string login;  ///< the user identifier ("cn")
    int32_t businessPartnerId = 0;
    std::string email;
    int32_t languageId = 0;  ///< 0 when none
    int32_t localeId = 0;    ///< 0 when none
    std::string firstName;
    std::string secondName;
    std::string employeeNumber;
    /// Application identifiers of the server configuration, ascending.
    std::vector<int32_t> applications;
};

/// One business partner with its codes of kind 0 (BUS-PART-C) and kind 1 (BUS-PART-S).
struct PartnerRecord {
    int32_t id = 0;
    std::string name;
    std::vector<std::string> codes0;
    std::vector<std::string> codes1;
};

/// The user whose login is exactly `login` (with applications), or nothing.
std::optional<UserRecord> FindUser(db::Connection& connection, std::string_view login);

/// The stored password hash of `login`: nothing for an unknown user, "" when none is set.
std::optional<std::string> FindPasswordHash(db::Connection& connection, std::string_view login);

}  // namespace kestrix::membership
