#include "kestrix/foundation/site_settings.h"

#include <sys/stat.h>

#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"

namespace kestrix {

std::shared_ptr<const services::Configuration> SiteConfiguration() {
    const std::string file = getSiteConfigFile();
    auto load = [&] {
        auto configuration = std::make_shared<services::Configuration>();
        configuration->LoadFile(file);
        return std::shared_ptr<const services::Configuration>(std::move(configuration));
    };
    // The file's time and size are part of the key, so an edited file is read again.
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return load();
    const std::string key = file + "|" + std::to_string(status.st_mtim.tv_sec) + "." +
                            std::to_string(status.st_mtim.tv_nsec) + "|" + std::to_string(status.st_size);
    if (auto kept = FindSiteObject(SiteCacheKind::SiteConfiguration, key))
        return std::static_pointer_cast<const services::Configuration>(kept);
    std::shared_ptr<const services::Configuration> configuration = load();
    KeepSiteObject(SiteCacheKind::SiteConfiguration, key, configuration);
    return configuration;
}

std::string SiteSetting(std::string_view section, std::string_view key) {
    try {
        return Trim(SiteConfiguration()->GetValue(section, key).ToString());
    } catch (...) {
        return {};
    }
}

std::optional<int64_t> SiteSettingWholeNumber(std::string_view section, std::string_view key) {
    std::string text;
    try {
        text = Trim(SiteSetting(section, key));
    } catch (...) {
        return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    if (text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        throw Error(errnum::E_FAIL, "Kestrix.SiteSetting",
                    "The setting " + std::string(section) + " " + std::string(key) + " is not a whole number: '" +
                        text + "'.");
    return std::stoll(text);
}

int64_t ClaimLeaseSeconds() {
    try {
        return SiteSettingWholeNumber("SERVICE", "ClaimLease").value_or(600);
    } catch (...) {
        // A value that is no number reads as unset.
        return 600;
    }
}

int DatabaseBusyTimeoutMs() {
    try {
        const std::string value = SiteSetting("GLOBAL", "DatabaseBusyTimeout");
        if (!value.empty()) {
            const double seconds = std::stod(value);
            if (seconds >= 0) return static_cast<int>(seconds * 1000);
        }
    } catch (...) {
        // An unreadable configuration or a value that is no number reads as unset.
    }
    return db::kDefaultBusyTimeoutMs;
}

}  // namespace kestrix
