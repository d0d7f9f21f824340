#pragma once

#include <cstdint>
#include <string>

#include "platform/base/variant.h"

/// Links to the pages of the site and of a document, and the recipient list a mail names.
namespace kestrix::links {

/// The text escaped for the query part of an address, with every "=" as "%3D".
std::string URLEncode(const std::string& iStr);

/// "SiteLink" with a trailing "/".
Variant getPagePath();
/// "SiteLinkStartingPoint" without one trailing "/" or "\".
std::string getKestrixPath();
/// The address at which this site receives documents posted to it (server configuration,
/// GLOBAL "ReceiveUrl"; "" when unset).
std::string getReceiveUrl();
/// The address of a document's page for a box.
std::string getDocumentHyperlinkBySenderMode(int32_t iDocID, const std::string& iDocTypeID,
                                             int32_t iSenderMode);
/// The e-mail addresses of the document's recipients, separated by ";" (a line break
/// after the first).
std::string GetToRecipientList(int32_t iDocID, const std::string& iDocTypeID);

}  // namespace kestrix::links
