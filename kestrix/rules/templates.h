#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.Template": the template a document type's web form starts from (table
/// XMLTEMPLATE, one row per type): the address of an XML template or the template text
/// itself, and the address of the style sheet that renders the form.
///
/// Every method opens its own connection and closes it before it returns; failures are
/// raised on with the source "Kestrix.Template.<method>".
class Template : public Object {
  public:
    /// The template of the type: its address when one is set (oURL becomes the 16-bit
    /// integer 1), else the template text (oURL 0); "" with oURL 0 when the type has none.
    std::string GetXmlTemplateDocument(const std::string& iDocTypeID, Variant& oURL);
    /// The address of the type's form style sheet; "" when there is none.
    std::string getXslUrl(const std::string& iDocType);
    /// Stores the template of the type: the type's row is changed when it has one, else a
    /// row is added. Answers the row's XMLTEMPLATEID.
    int32_t InsertTemplate(const std::string& iDocTypeID, const std::string& iXMLURL,
                           const std::string& iXMLTemplate, const std::string& iXSLURL);
    /// Rewrites the row of that identifier; an unknown identifier changes nothing.
    void UpdateTemplate(int32_t& iXmlTemplateID, const std::string& iDocTypeID,
                        const std::string& iXMLURL, const std::string& iXMLTemplate,
                        const std::string& iXSLURL);
    /// Removes the row of that identifier.
    void DeleteTemplate(int32_t& iXmlTemplateID);
    /// True when the type has a template row.
    bool checkTemplateByDocumentTypeID(const std::string& iDocTypeID);

  private:
    /// XMLTEMPLATEID of the type's row; 0 when it has none.
    int32_t GetTemplateID(const std::string& iDocTypeID);
};

}  // namespace kestrix
