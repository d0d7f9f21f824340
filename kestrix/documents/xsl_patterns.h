#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/foundation/enums.h"
#include "platform/xml/xml.h"

/// XSL patterns evaluated on parsed documents.
namespace kestrix::xsl_patterns {

/// The trimmed text of the first node the pattern selects; "" for an empty pattern, when
/// nothing is selected and when the pattern is rejected.
std::string ExecuteXSLPattern(const xml::XmlDocument& i_oXMLDoc, const std::string& i_sXslPattern);
/// All nodes the pattern selects, in document order; nothing (nullopt) when the pattern
/// is rejected.
std::optional<std::vector<xml::XmlNode>> ExecuteXSLPatternReturnAllNodes(
    const xml::XmlDocument& iXMLDoc, const std::string& iXslPattern);
/// The pattern for a tag name ("//name"), an attribute name ("//@name") or a pattern
/// given as it is; "" for any other kind.
std::string ConstructXslPattern(TagAttrXsl iTagAttrXsl, const std::string& iXslPattern);

}  // namespace kestrix::xsl_patterns
