#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix::membership {

/// Error numbers of the membership classes.
namespace errnum {
/// The login names no user of the directory.
inline constexpr int32_t NoSuchUser = static_cast<int32_t>(0x80070525u);
/// Script user or script code do not match the site's membership credentials, or a search
/// was attempted without logging in.
inline constexpr int32_t AccessDenied = static_cast<int32_t>(0x80070005u);
/// A business partner or partner code that the directory does not hold.
inline constexpr int32_t NotFound = static_cast<int32_t>(0x80070490u);
/// A search criteria or an argument the directory does not understand.
inline constexpr int32_t InvalidArgument = static_cast<int32_t>(0x80070057u);
}  // namespace errnum

/// The site configuration file of the installed product (<site>/config/SiteConfiguration.xml).
std::string DefaultSiteConfigFile();

/// The connection string of the database holding the directory of the site whose site
/// configuration is `siteConfigFile`: MEMBERSHIP/"ConnectionString" when set there, else
/// the connection string of the application "Kestrix" in the server configuration
/// (QelServerConfiguration.xml beside the site configuration when there is one, else the
/// installed product's).
std::string MembershipConnectionString(const std::string& siteConfigFile);

/// Compares the script credentials a caller presents with MEMBERSHIP/"MemScriptUser" (with
/// "," and "LDAPRoot" appended when that is set) and MEMBERSHIP/"MemScriptCode" of the site
/// configuration; raises AccessDenied with source `source` on a mismatch.
void CheckScriptCredentials(const std::string& siteConfigFile, std::string_view scriptUser,
                            std::string_view scriptCode, const std::string& source);

/// An argon2id hash of the password (interactive limits), in the self-describing text form
/// that `VerifyPassword` reads.
std::string HashPassword(std::string_view password);

/// True when `password` matches `hash`; false for a wrong password and for a hash that is
/// empty or unreadable.
bool VerifyPassword(std::string_view hash, std::string_view password);

}  // namespace kestrix::membership
