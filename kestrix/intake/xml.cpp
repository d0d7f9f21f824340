#include "kestrix/intake/xml.h"

#include <chrono>
#include <cmath>
#include <string>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/intake/file_handling.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"

namespace kestrix {

namespace {

void Report(std::string_view source) { Reraise(source); }

std::string MapPath(std::string_view path) { return LocalFilePath(std::string(path)); }

/// Documents and style sheets fetched from addresses wait at most the seconds of the site
/// configuration's GLOBAL "XmlHttpTimeout"; without a readable positive value, the default.
xml::LoadOptions FetchOptions() {
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

XML::XML() : impl_("Kestrix.XML.", xml::XmlUtilityHooks{&Report, &MapPath, &FetchOptions}) {}

std::shared_ptr<xml::XmlDocument> XML::XmlStringToDomDocument(const std::string& i_sXmlString) {
    return impl_.XmlStringToDomDocument(i_sXmlString);
}

std::shared_ptr<xml::XmlDocument> XML::XmlFileToDomDocument(const std::string& i_sXmlFileName) {
    return impl_.XmlFileToDomDocument(i_sXmlFileName);
}

std::shared_ptr<xml::XmlDocument> XML::XslFileToDomDocument(const std::string& i_sXslFileName) {
    return impl_.XslFileToDomDocument(i_sXslFileName);
}

std::string XML::ApplyXslStyleSheetToXmlString(const std::string& i_sXmlString,
                                               const std::string& i_sXslFileOrUrl) {
    return impl_.ApplyXslStyleSheetToXmlString(i_sXmlString, i_sXslFileOrUrl);
}

std::string XML::ApplyXslStyleSheetToXmlDomDocument(std::shared_ptr<xml::XmlDocument>& i_oXmlDom,
                                                    std::string& i_sXslFileOrUrl) {
    return impl_.ApplyXslStyleSheetToXmlDomDocument(i_oXmlDom, i_sXslFileOrUrl);
}

Variant XML::Invoke(std::string_view method, std::span<Variant> args) {
    return impl_.Invoke(method, args);
}

}  // namespace kestrix
