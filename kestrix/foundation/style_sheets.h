#pragma once

#include <cstdint>
#include <string>

#include "platform/xml/xml.h"

/// Style sheets applied to XML texts and parsed documents.
namespace kestrix::style_sheets {

/// Applies the style sheet at the path or address to the XML text and returns the
/// output. Style sheets on a network share ("\\server\share\...") go through
/// "QelFile.XML", all others through the library's own `XML` class.
std::string transformXMLStringToHTML(const std::string& iXmlString, const std::string& iXSLURL);
/// As transformXMLStringToHTML, for the text of a parsed document.
std::string transformXMLToHTMLCommon(const xml::XmlDocument& iDoc, const std::string& iXslFileName);

}  // namespace kestrix::style_sheets
