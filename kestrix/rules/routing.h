#pragma once

#include <cstdint>
#include <string>

#include "kestrix/foundation/enums.h"
#include "platform/base/variant.h"
#include "platform/xml/xml.h"

/// Routing: the sender, type and default receiver a document names, and the publication rows
/// written from its routing tags.
namespace kestrix::routing {

/// The sending user and its business partner: the OBI sender, else the SENDER tag, else
/// the CONTACT tag (as employee number, then as login). A user found in the directory
/// gives its partner and login; a name that is not found is handed back with partner 0.
/// A text that does not parse, or one without SENDER and CONTACT, raises (both outputs
/// are then 0 and "").
void GetSenderBPAndName(const std::string& iXMLStr, int32_t& oSenderBP, std::string& oSenderName);
/// `GetSenderBPAndName` of a document already parsed.
void GetSenderBPAndName(xml::XmlDocument& iDom, int32_t& oSenderBP, std::string& oSenderName);
/// True when the document's sender (`GetSenderBPAndName`) belongs to the user's business
/// partner. A document without a sender, or a user the directory does not know, raises.
bool BPOfDocumentEqualsBPOfUser(const std::string& i_sUser, const std::string& i_sXml);
/// The document type: the OBI type, else the DOCTYPE-ID tag, else the first document-type
/// rule of the partner that matches. A type that is not in DOCUMENTTYPE gives "".
std::string GetDocType(const std::string& iXMLStr, int32_t iBPID = 0);
/// `GetDocType` of a document already parsed; the tree is left as it is (the type rules
/// read a copy).
std::string GetDocType(xml::XmlDocument& iDom, int32_t iBPID);
/// True when DOCUMENTTYPE has a row for the type.
bool DocTypeFoundInTable(const std::string& iDocTypeID);
/// The RECEIVER tag when the REQUISITIONER tag is set; "" otherwise.
std::string GetDefaultReceiver(const std::string& iXMLStr);
/// `GetDefaultReceiver` of a document already parsed.
std::string GetDefaultReceiver(const xml::XmlDocument& iDom);
/// Writes the publication rows of a stored document from its routing tags (the whole
/// distribution list, the OBI receiver, or the RECEIVER and business-partner tags).
/// A missing type or body is read from the document. Answers 1 when at least one
/// recipient was found, else 0; recipients that cannot be resolved are recorded as
/// publication errors.
int32_t GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID = {},
                                             const std::string& iXMLStr = {});
/// As above, from the standard body the caller holds parsed (it is not read again; the
/// routing tags emptied for a distribution list are emptied in this tree too).
int32_t GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                             xml::XmlDocument& iStandard);
/// What the routing of a held tree did, for a caller that stores the body itself.
struct RoutingOutcome {
    bool bodyChanged = false;     ///< routing tags were emptied in the tree
    bool errorsRecorded = false;  ///< a recipient could not be resolved and was recorded
};
/// As above, but the body is not stored: the tree holds the emptied tags, `outcome` says
/// whether it changed, and the caller writes it.
int32_t GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                             xml::XmlDocument& iStandard, RoutingOutcome& outcome);
/// Inserts a new publication row for every user on the type's distribution list
/// (restricted to the partner when it is not 0 and to the user when it is not "") who
/// has none for the document yet. Answers the number of rows inserted.
int32_t FillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID, int32_t iBPID = 0,
                             const std::string& iUserID = {});
/// Publishes to the recipient named by every non-empty node of one routing pattern
/// ("//RECEIVER", "//BUSINESSPARTNER", "//BUS-PART-C", "//BUS-PART-S"), records a
/// publication error for every one that cannot be resolved, empties the nodes used and
/// stores the body. True when any recipient was found. A pattern that does not compile
/// raises InvalidXSLPatternError.
bool ExecuteXslPatternAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                              xml::XmlDocument& iXMLDoc,
                                              const std::string& iXslPattern);
/// Empties every node the pattern selects and, when there was one, stores the DOM as the
/// document's body. Always answers false. A pattern that does not compile raises
/// InvalidXSLPatternError.
bool ClearTagsAndWriteDocToDB(int32_t& iDocID, xml::XmlDocument& iXMLDoc,
                              const std::string& iXslPattern);
/// Empties the five recipient tags (USESDISTLIST, RECEIVER, BUSINESSPARTNER, BUS-PART-C,
/// BUS-PART-S) in the DOM and the stored body.
void RemoveAllRoutingInfoFromDocument(int32_t& iDocID, xml::XmlDocument& iXMLDoc);
/// Whether a user may enter the pattern as a tag name, attribute name or XSL pattern of
/// that kind. The pattern is trimmed in place.
bool CheckXslPattern(std::string& iXslPattern, TagAttrXsl iTagAttrXsl);
/// STATUS of the user's publication of the document; -1 when there is none.
int32_t GetPublicationStatus(int32_t& iDocID, const std::string& iRecipientID);
/// FORWARD of the user's publication of the document; -1 when there is none.
int32_t GetForwardFlag(int32_t& iDocID, const std::string& iRecipientID);
/// The publication status a text names ("New", "accepted", "REJECT", "DownLoad", ...):
/// only the listed spellings; anything else is PUBLICATIONUNKNOWNSTATUS.
PUBLICATIONSTATUS ConvertPublicationStatusFromStringToEnum(const std::string& iStatus);
/// The business partner's name; "" when it cannot be found.
std::string GetBusinessPartnerName(int32_t i_lBPID);
/// The elements of an array joined by ", "; "" for a value that is no array.
std::string ConvertArrayToList(const Variant& iArray);

}  // namespace kestrix::routing
