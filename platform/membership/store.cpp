#include "platform/membership/store.h"

#include <sodium.h>

#include <filesystem>
#include <system_error>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"

namespace kestrix::membership {

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerConfigName = "QelServerConfiguration.xml";
constexpr const char* kSiteConfigName = "SiteConfiguration.xml";

void InitSodium() {
    if (sodium_init() < 0) {
        throw Error(kestrix::errnum::E_FAIL, "Ulmara.Membership",
                    "The password library cannot be initialised.");
    }
}

/// Equality that takes the same time wherever the texts differ.
bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string DefaultSiteConfigFile() {
    auto products = services::Configuration::InstalledProducts("QelServer");
    if (products.empty()) {
        throw Error(kestrix::errnum::E_FAIL, "Ulmara.Membership",
                    "The product QelServer is not installed.");
    }
    return (fs::path(products.back().siteConfigFolder) / kSiteConfigName).string();
}

std::string MembershipConnectionString(const std::string& siteConfigFile) {
    services::Configuration site;
    site.LoadFile(siteConfigFile);
    std::string own = Trim(site.GetValue("MEMBERSHIP", "ConnectionString").ToString());
    if (!own.empty()) return own;

    fs::path beside = fs::path(siteConfigFile).parent_path() / kServerConfigName;
    std::error_code ec;
    std::string serverFile;
    if (fs::exists(beside, ec)) {
        serverFile = beside.string();
    } else {
        auto products = services::Configuration::InstalledProducts("QelServer");
        if (products.empty()) {
            throw Error(kestrix::errnum::E_FAIL, "Ulmara.Membership",
                        "No database is configured for the membership directory of '" +
                            siteConfigFile + "'.");
        }
        serverFile = (fs::path(products.back().serverConfigFolder) / kServerConfigName).string();
    }
    services::Configuration server;
    server.LoadFile(serverFile);
    return server.ConnectionString("Kestrix");
}

void CheckScriptCredentials(const std::string& siteConfigFile, std::string_view scriptUser,
                            std::string_view scriptCode, const std::string& source) {
    services::Configuration site;
    site.LoadFile(siteConfigFile);
    std::string user = site.GetValue("MEMBERSHIP", "MemScriptUser").ToString();
    std::string root = site.GetValue("MEMBERSHIP", "LDAPRoot").ToString();
    if (!root.empty()) user += "," + root;
    std::string code = site.GetValue("MEMBERSHIP", "MemScriptCode").ToString();
    // Both comparisons always run, so the answer's timing tells nothing about which failed.
    bool userMatches = SameSecret(user, scriptUser);
    bool codeMatches = SameSecret(code, scriptCode);
    if (!userMatches || !codeMatches) {
        throw Error(errnum::AccessDenied, source,
                    "The membership script credentials are not valid for this site.");
    }
}

std::string HashPassword(std::string_view password) {
    InitSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        throw Error(kestrix::errnum::E_FAIL, "Ulmara.Membership",
                    "The password cannot be hashed (out of memory).");
    }
    return hash;
}

bool VerifyPassword(std::string_view hash, std::string_view password) {
    if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
    InitSodium();
    std::string stored(hash);  // crypto_pwhash_str_verify needs a terminated text
    return crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) == 0;
}

}  // namespace kestrix::membership
