#pragma once

#include <cstdint>
#include <string>

#include "platform/db/recordset.h"

/// The recipients of a stored document, read from its publication rows.
namespace kestrix::recipients {

/// The recipients of a document of that type: EMAIL, HTMLATTACHMENTXSL, USERID and
/// HTMLATTACHMENT of every publication whose user is on the type's distribution list and
/// that is not deleted; with iEmailFlag only the users who want mail.
db::Recordset GetRecipientsFromPublicationTable(int32_t iDocID, const std::string& iDocTypeID,
                                                bool iEmailFlag = false);

}  // namespace kestrix::recipients
