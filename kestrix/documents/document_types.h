#pragma once

#include <cstdint>
#include <string>

/// What a document type says about its style sheets and description.
namespace kestrix::document_types {

/// The server parameter "TransformXSLPath" ending in its separator: "/" for an address
/// (a value beginning "http" in any case), the folder separator otherwise. A value that
/// already ends in its separator is returned unchanged.
std::string GetTransformXSLPath();
/// The server parameter "HTMLXSLPath" (folder or address of the HTML style sheets)
/// ending in its separator, as GetTransformXSLPath.
std::string GetHTMLXSLPath();
/// The HTML style sheet of the document type: `GetHTMLXSLPath` followed by the trimmed
/// HTMLATTACHMENTXSL; "" when the type is unknown or has none (NULL).
std::string getXSL(const std::string& iDocType);
/// DESCRIPTION of the document type; "" when the type is unknown or has none.
std::string GetDocumentTypeDescription(const std::string& iDocTypeID);
/// HTMLATTACHMENTXSL of the document type as stored; "" for an unknown type or NULL.
std::string GetHtmlAttachmentXsl(const std::string& iDocTypeID);

}  // namespace kestrix::document_types
