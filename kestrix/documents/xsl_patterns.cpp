// Selecting routing tags and other values from a document by XSL pattern.
#include <optional>
#include <string>
#include <vector>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/documents/xsl_patterns.h"
#include "platform/base/strings.h"

namespace kestrix {

std::string xsl_patterns::ExecuteXSLPattern(const xml::XmlDocument& i_oXMLDoc,
                                       const std::string& i_sXslPattern) {
    try {
        if (i_sXslPattern.empty() || i_oXMLDoc.IsEmpty()) return {};
        // A pattern the parser rejects selects nothing, as does one that gives no nodes.
        xml::XPathResult result = i_oXMLDoc.SelectSingleNode(i_sXslPattern);
        if (!result.ok() || result.empty()) return {};
        return Trim(result.first().Text());
    } catch (...) {
        Reraise("Kestrix.Utility.ExecuteXSLPattern");
    }
}

std::optional<std::vector<xml::XmlNode>> xsl_patterns::ExecuteXSLPatternReturnAllNodes(
    const xml::XmlDocument& iXMLDoc, const std::string& iXslPattern) {
    try {
        if (iXMLDoc.IsEmpty()) return std::vector<xml::XmlNode>{};
        xml::XPathResult result = iXMLDoc.SelectNodes(iXslPattern);
        if (!result.ok()) return std::nullopt;
        return std::move(result.nodes);
    } catch (...) {
        Reraise("Kestrix.Utility.ExecuteXSLPatternReturnAllNodes");
    }
}

std::string xsl_patterns::ConstructXslPattern(TagAttrXsl iTagAttrXsl, const std::string& iXslPattern) {
    try {
        switch (iTagAttrXsl) {
            case TagAttrXsl::TAGVALUE:
                return "//" + iXslPattern;
            case TagAttrXsl::ATTRVALUE:
                return "//@" + iXslPattern;
            case TagAttrXsl::XSLPATTERN:
                return iXslPattern;
        }
        return {};
    } catch (...) {
        Reraise("Kestrix.Utility.ConstructXslPattern");
    }
}

}  // namespace kestrix
