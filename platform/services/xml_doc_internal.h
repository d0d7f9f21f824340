#pragma once

// Used only inside platform/services: the parsed libxml2 document behind the configuration
// reader and writer.

#include <libxml/tree.h>

#include <memory>
#include <string>

namespace kestrix::services::detail {

struct XmlDocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDocHandle = std::unique_ptr<xmlDoc, XmlDocDeleter>;

/// Parses the file without network access, DTD loading or entity substitution. A missing or
/// malformed file raises `Error` naming `path` and the parser's reason.
XmlDocHandle ParseXmlFile(const std::string& path, const char* source);

}  // namespace kestrix::services::detail
