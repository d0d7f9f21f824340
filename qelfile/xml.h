#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/xml/xml_utility.h"

namespace kestrix::qelfile {

/// "QelFile.XML": documents from text, files (network paths included) and http addresses,
/// and style sheets applied to them. Error sources begin with "QelFile.XML.".
class XML : public Object {
  public:
    XML();

    std::shared_ptr<xml::XmlDocument> XmlStringToDomDocument(const std::string& i_sXmlString);
    std::shared_ptr<xml::XmlDocument> XmlFileToDomDocument(const std::string& i_sXmlFileName);
    std::shared_ptr<xml::XmlDocument> XslFileToDomDocument(const std::string& i_sXslFileName);
    std::string ApplyXslStyleSheetToXmlString(const std::string& i_sXmlString,
                                              const std::string& i_sXslFileOrUrl);
    std::string ApplyXslStyleSheetToXmlDomDocument(std::shared_ptr<xml::XmlDocument>& i_oXmlDom,
                                                   std::string& i_sXslFileOrUrl);

    /// Late-bound calls of the five operations by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    xml::XmlUtility impl_;
};

}  // namespace kestrix::qelfile
