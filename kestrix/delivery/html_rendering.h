#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/variant.h"

/// HTML renderings of stored documents with their type's style sheet.
namespace kestrix::html_rendering {

/// Renders the document as HTML with its type's style sheet into the file
/// "<document id>.html" of the temporary folder and answers the file's path. `iXml`, when
/// given and not "", is rendered instead of the stored standard body. "" (and no file)
/// for an unknown document, a blank identifier, and a type without a style sheet (a
/// HTMLATTACHMENTXSL that is blank or does not name an ".xsl" file, in any case).
/// `iDocType` is not consulted: the stored type decides. An identifier that is no whole
/// number is refused.
std::string getHTMLAttachmentByUsingXML(const std::string& iDocID, const Variant& iDocType = {},
                                        const Variant& iXml = {});
/// The document rendered as HTML with its type's style sheet, as a text; nothing for an
/// unknown document and a type without a style sheet. `xml`, when not "", is rendered
/// instead of the stored standard body.
std::optional<std::string> RenderHtml(int32_t docId, const std::string& xml = {});
/// `getHTMLAttachmentByUsingXML` of the stored document.
std::string getHTMLAttachment(int32_t iDocID);
/// Deletes a rendering made by getHTMLAttachment; a blank name does nothing.
void DeleteHTMLAttachment(const std::string& iHTMLFile);
/// True when the document type has an HTML style sheet that loads; a sheet that does not
/// load is logged and answers false.
bool CanAttachHTMLFile(const std::string& iDocType);

}  // namespace kestrix::html_rendering
