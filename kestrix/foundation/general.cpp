#include "kestrix/foundation/general.h"

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/db/connection.h"
#include "platform/services/configuration.h"
#include "platform/xml/stylesheet_cache.h"

namespace kestrix {

namespace {

struct ThreadCaches {
    std::string serverConfigFile;
    std::string siteConfigFile;
    std::string memScriptUser;
    std::string memScriptCode;
};

ThreadCaches& Caches() {
    thread_local ThreadCaches caches;
    return caches;
}

// The last installation of the server product, as the configuration component lists them.
services::InstalledProduct LastInstallation() {
    auto configuration = CreateAs<services::Configuration>("Tavrel.Configuration");
    auto products = configuration->InstalledProducts("QelServer");
    if (products.empty())
        throw Error(errnum::E_FAIL, "Tavrel.Configuration", "The product QelServer is not installed.");
    return products.back();
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    if (folder.empty() || folder.back() == '/') return folder + std::string(name);
    return folder + "/" + std::string(name);
}

std::string SiteValue(std::string_view section, std::string_view key) {
    auto configuration = CreateAs<services::Configuration>("Tavrel.Configuration");
    configuration->LoadFile(getSiteConfigFile());
    return configuration->GetValue(section, key).ToString();
}

}  // namespace

ObjectPtr CreateComponent(std::string_view progId) {
    return component::CreateObject(progId, KestrixClasses());
}

ObjectPtr Qel_getComponent(std::string_view progId) {
    try {
        return CreateComponent(progId);
    } catch (...) {
        LogError("General.Qel_getComponent", "Create instance of " + std::string(progId) + " failed.");
        return nullptr;
    }
}

std::string GetQelConfigFile() {
    ThreadCaches& caches = Caches();
    if (caches.serverConfigFile.empty()) {
        try {
            caches.serverConfigFile =
                JoinPath(LastInstallation().serverConfigFolder, "QelServerConfiguration.xml");
        } catch (...) {
            LogError("General.GetQelConfigFile", "Getting the QelServer configuration file is failed.");
        }
    }
    return caches.serverConfigFile;
}

std::string getSiteConfigFile() {
    ThreadCaches& caches = Caches();
    if (caches.siteConfigFile.empty()) {
        try {
            caches.siteConfigFile =
                JoinPath(LastInstallation().siteConfigFolder, "SiteConfiguration.xml");
        } catch (...) {
            LogError("General.getSiteConfigFile", "Getting the site configuration file is failed.");
        }
    }
    return caches.siteConfigFile;
}

std::string getInstallDir() {
    try {
        return LastInstallation().installFolder;
    } catch (...) {
        LogError("General.getInstallDir",
                 "Can't Getting the install directory where QelServer is installed.");
        return {};
    }
}

std::string GetMemScriptUser() {
    ThreadCaches& caches = Caches();
    if (caches.memScriptUser.empty()) {
        std::string user = SiteValue("MEMBERSHIP", "MemScriptUser");
        std::string root = SiteValue("MEMBERSHIP", "LDAPRoot");
        if (!root.empty()) user += "," + root;
        caches.memScriptUser = user;
    }
    return caches.memScriptUser;
}

std::string GetMemScriptCode() {
    ThreadCaches& caches = Caches();
    if (caches.memScriptCode.empty()) caches.memScriptCode = SiteValue("MEMBERSHIP", "MemScriptCode");
    return caches.memScriptCode;
}

void ResetThreadCaches() {
    Caches() = ThreadCaches{};
    ClearSiteCaches();
    xml::ClearThreadStyleSheets();
    ResetConnectionCache();
    db::ClearThreadPool();
}

}  // namespace kestrix
