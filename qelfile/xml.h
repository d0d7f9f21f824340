#pragma once

#include "platform/xml/xml_utility.h"

namespace kestrix::qelfile {

/// "QelFile.XML": documents from text, files (network paths included) and http addresses,
/// and style sheets applied to them. Error sources begin with "QelFile.XML.".
class XML : public xml::XmlUtility {
  public:
    XML();
};

}  // namespace kestrix::qelfile
