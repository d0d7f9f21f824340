#pragma once

#include "platform/xml/xml_utility.h"

namespace kestrix {

/// "Kestrix.XML": documents from text, files and http addresses, and style sheets applied
/// to them; the same class as "QelFile.XML", with error sources beginning "Kestrix.XML.".
/// Network paths are not served here (see "QelFile.XML").
class XML : public xml::XmlUtility {
  public:
    XML();
};

}  // namespace kestrix
