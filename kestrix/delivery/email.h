#pragma once

#include <cstdint>
#include <string>

#include "platform/base/variant.h"

/// Mail through the site's mail configuration.
namespace kestrix::email {

/// Sends one message through the site's mail configuration, with the HTML and XML files
/// attached (character set "utf-8") when named. An empty sender raises
/// MissingEmailSenderError, an empty receiver MissingEmailReceiverError.
void SendEmail(const std::string& iSender, const std::string& iReceiver,
               const std::string& iSubject, const std::string& iBody,
               const std::string& iHTMLFileName, const std::string& iXMLFileName);
/// As SendEmail, also attaching every path of row 0 of the attachment table.
void SendEmailWithAttachments(const std::string& iSender, const std::string& iReceiver,
                              const std::string& iSubject, const std::string& iBody,
                              const std::string& iHTMLFileName, const std::string& iXMLFileName,
                              const Variant& i_aAttachment);
/// Tells the administrator (server parameter "AdminEmailAddress") about a file that
/// failed; failures to send are ignored.
void SendEmailToAdministrator(const std::string& i_oFileName);
/// True when a delivery of that type to that partner, or of a document of that sender,
/// was logged (for the document when iDocID is not 0).
bool CheckSentLog(const std::string& iDocTypeID, const std::string& iSenderID, int32_t iBPID,
                  int32_t iDocID = 0);

}  // namespace kestrix::email
