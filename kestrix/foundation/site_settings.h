#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/services/configuration.h"

namespace kestrix {

/// The site configuration (config/SiteConfiguration.xml), parsed. While a `SiteCacheScope`
/// lives it is parsed once and kept as long as the file keeps its time and size; outside one
/// it is read each time. Raises when the file cannot be read.
std::shared_ptr<const services::Configuration> SiteConfiguration();

/// A value of the site configuration, trimmed; "" when it is unset or the file cannot be
/// read.
std::string SiteSetting(std::string_view section, std::string_view key);

/// A whole number of the site configuration: nothing when the key is unset (or the file
/// cannot be read); raises when it holds anything but up to nine digits.
std::optional<int64_t> SiteSettingWholeNumber(std::string_view section, std::string_view key);

/// How long a claim whose owner is gone keeps others off what it claims (a file of the import
/// folder, an outbox item, the import mailbox): site configuration SERVICE "ClaimLease",
/// seconds, 600 when unset or not a number.
int64_t ClaimLeaseSeconds();

/// How long a unit of work waits for a database that another process holds locked: site
/// configuration GLOBAL "DatabaseBusyTimeout", seconds, 30 when unset.
int DatabaseBusyTimeoutMs();

}  // namespace kestrix
