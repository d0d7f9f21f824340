#include "kestrix/foundation/xml.h"

#include <chrono>
#include <cmath>
#include <string>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/file_handling.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"

namespace kestrix {

namespace {

void ReportFailure(std::string_view source) { Reraise(source); }

std::string MapPath(std::string_view path) { return LocalFilePath(std::string(path)); }

/// Documents and style sheets fetched from addresses wait at most the seconds of the site
/// configuration's GLOBAL "XmlHttpTimeout"; without a readable positive value, the default.
xml::LoadOptions SiteFetchOptions() {
    xml::LoadOptions options;
    try {
        services::Configuration site;
        site.LoadFile(getSiteConfigFile());
        const std::string value = Trim(site.GetValue("GLOBAL", "XmlHttpTimeout").ToString());
        if (value.empty()) return options;
        const double seconds = std::stod(value);
        if (seconds > 0) options.timeout = std::chrono::milliseconds(std::lround(seconds * 1000));
    } catch (...) {
        // A site without the setting, or with one that is no number, keeps the default.
    }
    return options;
}

}  // namespace

XML::XML() : XmlUtility("Kestrix.XML.", xml::XmlUtilityHooks{&ReportFailure, &MapPath, &SiteFetchOptions}) {}

}  // namespace kestrix
