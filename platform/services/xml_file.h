#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix::services {

/// One element of a small XML file (configuration, component list), read whole into memory.
struct XmlElement {
    std::string name;
    /// Attributes in document order.
    std::vector<std::pair<std::string, std::string>> attributes;
    /// The element's own text (the text of its text and CDATA children, joined).
    std::string text;
    std::vector<XmlElement> children;

    /// The value of attribute `attribute` (name compared ignoring case), or nullptr.
    const std::string* Attribute(std::string_view attribute) const;
};

/// Reads an XML file from disk. Nothing is fetched from the network and no external entity
/// or DTD is loaded. A missing or malformed file raises `Error` (E_FAIL) whose description
/// names the path and the parser's reason with line and column; `source` is the error's
/// source.
XmlElement ReadXmlFile(const std::string& path, const char* source = "ReadXmlFile");

}  // namespace kestrix::services
