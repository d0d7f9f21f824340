#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/delivery/notifications.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"
#include "platform/xml/xml.h"

namespace kestrix::membership {
class User;
}

namespace kestrix {

/// "Kestrix.Utility": the public helper class of the library. It is a facade and does no work
/// of its own: each method forwards to the module of the room that owns the work
/// (conversions, users, files and style sheets in foundation/; XSL patterns, recipients,
/// document types and links in documents/; mail, notifications, renderings and plug-in
/// calls in delivery/; routing in rules/; the error folder in intake/). Code inside the
/// rooms calls those modules directly.
class Utility : public Object {
public:
    // ---- conversions, long texts and server parameters (foundation/conversions.h) ------

    /// Writes a long text into the column `iFieldName` of the row being edited, in chunks of
    /// 1,000,000 characters; empty content sets the empty text. On failure the column is
    /// set to the empty text and the error raised on.
    void SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName, db::EditRow& oRS);
    /// Null reads as 0; any other value as a 32-bit integer (halves to even); Overflow
    /// outside the 32-bit range.
    int32_t CheckLong(Variant& iVar);
    /// Null reads as ""; any other value as its text.
    std::string CheckString(Variant& iVar);
    /// The server parameter of that name; a failure is passed on unchanged.
    std::string GetQelServerParameter(std::string& i_sParamName);
    /// The value formatted with the format expression (see FormatExpression).
    Variant Formats(const Variant& i_vSource, const Variant& i_vFormat);

    // ---- users of the membership directory (foundation/users.h) -----------------------

    /// The site's virtual identifier (site configuration, GLOBAL "IISVirtId"), read once per
    /// instance.
    std::string getIISVirtID();
    /// The membership user object of the user.
    std::shared_ptr<membership::User> GetAUObject(std::string& iUserID);
    /// The membership user object of the user (the virtual identifier is not used).
    std::shared_ptr<membership::User> getAUOAddress(std::string iIISVirtID, std::string& iUserID);
    /// The membership users matching the criteria ("cn=<login>", "employeenumber=<n>"); an
    /// empty virtual identifier is filled in and handed back.
    db::Recordset GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID);
    /// The business partner of the user.
    int32_t GetAUBusinessPartnerID(std::string& iUserID);
    /// The e-mail address of the user.
    std::string GetAUEmailAddress(std::string& iUserID);

    // ---- publication errors (documents/publication_errors.h) ----------------------------

    /// True when the document has an open publication error.
    bool CheckPublicationErrors(int32_t& iDocID);

    // ---- XSL patterns and the recipients of a document (documents/) ---------------------

    /// The trimmed text of the first node the pattern selects; "" for an empty pattern, when
    /// nothing is selected and when the pattern is rejected.
    std::string ExecuteXSLPattern(const xml::XmlDocument& i_oXMLDoc, const std::string& i_sXslPattern);
    /// All nodes the pattern selects, in document order; nothing (nullopt) when the pattern
    /// is rejected.
    std::optional<std::vector<xml::XmlNode>> ExecuteXSLPatternReturnAllNodes(
        const xml::XmlDocument& iXMLDoc, const std::string& iXslPattern);
    /// The pattern for a tag name ("//name"), an attribute name ("//@name") or a pattern
    /// given as it is; "" for any other kind.
    std::string ConstructXslPattern(TagAttrXsl iTagAttrXsl, const std::string& iXslPattern);
    /// The recipients of a document of that type: EMAIL, HTMLATTACHMENTXSL, USERID and
    /// HTMLATTACHMENT of every publication whose user is on the type's distribution list and
    /// that is not deleted; with iEmailFlag only the users who want mail.
    db::Recordset GetRecipientsFromPublicationTable(int32_t iDocID, const std::string& iDocTypeID,
                                                    bool iEmailFlag = false);

    // ---- routing tags and recipient resolution (rules/routing.h) -----------------------

    /// The sending user and its business partner: the OBI sender, else the SENDER tag, else
    /// the CONTACT tag (as employee number, then as login). A user found in the directory
    /// gives its partner and login; a name that is not found is handed back with partner 0.
    /// A text that does not parse, or one without SENDER and CONTACT, raises (both outputs
    /// are then 0 and "").
    void GetSenderBPAndName(const std::string& iXMLStr, int32_t& oSenderBP, std::string& oSenderName);
    /// `GetSenderBPAndName` of a document already parsed.
    void GetSenderBPAndName(xml::XmlDocument& iDom, int32_t& oSenderBP, std::string& oSenderName);
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

    // ---- files, folders (foundation/files.h) and the error folder (intake/) -------------

    /// `WriteXMLFileToDiskAsciiOrUnicode` as UTF-16.
    Variant WriteXMLFileToDisk(const std::string& i_sXMLStr, const std::string& i_sFileName = {});
    /// Writes the text into a file, overwriting it: UTF-16 with byte-order mark when
    /// `i_bUnicode`, else code page 1252. A blank name becomes a fresh temporary name (handed
    /// back); a name without a drive lands in the temporary folder. Answers the name written.
    Variant WriteXMLFileToDiskAsciiOrUnicode(const std::string& i_sXMLStr, std::string& i_sFileName,
                                             bool i_bUnicode = true);
    /// Deletes the file; a blank name does nothing. A file that may not be deleted is only
    /// logged; other failures are raised.
    void DeleteXMLFileFromDisk(const std::string& iFileName);
    /// True when the file exists on this server.
    bool FileExist(const std::string& iFileName);
    /// True when the folder exists on this server.
    bool DirExistOnThisServer(const std::string& iDir);
    /// True when the folder exists; network paths are asked through "QelFile.File".
    bool DirExist(const std::string& iDir);
    /// True when the file `iFile` exists in the folder `iPath`; network paths are asked
    /// through "QelFile.File".
    bool FileExistAlsoRemote(const std::string& iPath, const std::string& iFile);
    /// True unless the site configuration switches the spreadsheet engine off (section
    /// GLOBAL, key "ExcelEnabled" = "0" or "false"). A configuration that cannot be read
    /// leaves it on.
    bool IsExcelInstalled();
    /// `IsExcelInstalled`, raising ExcelNotInstalled when it is false.
    bool IsExcelInstalledWithErrRaise();
    /// The path unchanged when it has a drive ("/..." or "X:"), else placed in the system's
    /// temporary folder.
    std::string AddTempPathIfNoDriveFound(const std::string& i_sPath);
    /// A folder of the present second under the error folder (server parameter
    /// "XMLErrorPath", created with its parents when missing), named
    /// "yyyy-mm-dd_hh-mm-ss"; created when missing. Answers its path.
    std::string CreateErrorDir();
    /// Writes the content as UTF-16 into a new file of a fresh error folder and answers its
    /// path. A blank name becomes a temporary name; a leading "~" is dropped; a name already
    /// taken gets a counter before its first "." (at its end when it has none).
    std::string WriteXmlFileToErrorDir(const std::string& iFileContent, const std::string& iFileName = {});
    /// Moves the file into a fresh error folder under a free name (as above) and answers its
    /// new path.
    std::string MoveFileToErrorDir(const std::filesystem::path& iFile);

    // ---- mail (delivery/) -----------------------------------------------------------------

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

    // ---- notification mails (delivery/) ---------------------------------------------------

    /// The subject of a notification: the given one, or "published"/"sent" with the type's
    /// description when it is empty (or is the "published" text in the sender's box).
    std::string GetSubject(const std::string& iLanguageID, const std::string& iSubject,
                           const std::string& iDocTypeID, int32_t iSenderMode = 1);
    /// The given body, or the default sentence naming the document and its type.
    std::string GetDefaultBody(const std::string& iLanguageID, int32_t iDocID,
                               const std::string& iDocTypeID, const std::string& iBody = {});
    /// The body of a notification: the text, the link to the document (not for copies), and
    /// for the sender the recipients, the copy list and the error-box link when the document
    /// has open publication errors.
    std::string GetBody(const std::string& iLanguageID, int32_t iDocID, const std::string& iDocTypeID,
                        int32_t iSenderMode, const std::string& iBody = {}, bool iCcFlag = false,
                        std::string iToRecipientList = {}, const std::string& iCcRecipientList = {});
    /// The recipients of a document limited to the given users (an array of logins; all when
    /// empty), without deleted publications.
    db::Recordset GetRecipientsFromPublicationTableByUsers(int32_t iDocID, const std::string& iDocTypeID,
                                                           bool iEmailFlag = false,
                                                           const Variant& iUserIDs = {});
    /// Tells the sender, when the sender list asks for it, in the sender's language.
    void SendEmailToSender(int32_t iDocID, const std::string& iSubject, const std::string& iBody,
                           bool iAddHtmlAttachment, const std::string& iToRecipientList,
                           const std::string& iCcRecipientList = {});
    /// SendEmailToRecipientsEx for every recipient of the publication table.
    void SendEmailToRecipients(int32_t iDocID, const std::string& iCcRecipientList,
                               const std::string& iSubject, const std::string& iBody = {},
                               bool iAddHtmlAttachment = false);
    /// Tells every recipient who wants mail, each in his language and with the HTML rendering
    /// where his distribution list asks for it, and the copy list; a recipient whose mail
    /// fails gets a publication error and the others still get theirs.
    void SendEmailToRecipientsEx(int32_t iDocID, const Variant& iUserIDs, const std::string& iCcRecipientList,
                                 const std::string& iSubject, const std::string& iBody,
                                 bool iAddHtmlAttachment, bool iSkipTo, bool iSkipCC = false,
                                 bool iUsePublicationUsersOnly = true);
    /// Mails a document as XML file with its HTML rendering, with a link to its page.
    void sendEmailByGettingHTMLAndXML(const std::string& iFrom, const std::string& iBcc,
                                      const std::string& iBody, const std::string& iSubject,
                                      const std::string& iDocID, const std::string& iDocType,
                                      const std::string& iXMLStr, const std::string& iCcList = {},
                                      bool iAddHtmlDocToCcList = false, int32_t iSenderMode = -1,
                                      int32_t iLanguageID = 1033);
    /// The language of this instance's messages, set by the first notification to a sender
    /// when not set before (0 = not set).
    int32_t PublisherLanguageID() const { return notifications_.PublisherLanguageID(); }

    // ---- links (documents/links.h) ----------------------------------------------------------

    /// "SiteLink" with a trailing "/".
    Variant getPagePath();
    /// "SiteLinkStartingPoint" without one trailing "/" or "\".
    std::string getKestrixPath();
    /// The address of a document's page for a box.
    std::string getDocumentHyperlinkBySenderMode(int32_t iDocID, const std::string& iDocTypeID,
                                                 int32_t iSenderMode);
    /// The e-mail addresses of the document's recipients, separated by ";" (a line break
    /// after the first).
    std::string GetToRecipientList(int32_t iDocID, const std::string& iDocTypeID);

    // ---- document types and transformations (documents/document_types.h) --------------

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

    // ---- HTML rendering (delivery/) and style sheets (foundation/style_sheets.h) ---------

    /// Applies the style sheet at the path or address to the XML text and returns the
    /// output. Style sheets on a network share ("\\server\share\...") go through
    /// "QelFile.XML", all others through the library's own `XML` class.
    std::string transformXMLStringToHTML(const std::string& iXmlString, const std::string& iXSLURL);
    /// As transformXMLStringToHTML, for the text of a parsed document.
    std::string transformXMLToHTMLCommon(const xml::XmlDocument& iDoc,
                                         const std::string& iXslFileName);
    /// Renders the document as HTML with its type's style sheet into the file
    /// "<document id>.html" of the temporary folder and answers the file's path. `iXml`, when
    /// given and not "", is rendered instead of the stored standard body. "" (and no file)
    /// for an unknown document, a blank identifier, and a type without a style sheet (a
    /// HTMLATTACHMENTXSL that is blank or does not name an ".xsl" file, in any case).
    /// `iDocType` is not consulted: the stored type decides. An identifier that is no whole
    /// number is refused.
    std::string getHTMLAttachmentByUsingXML(const std::string& iDocID, const Variant& iDocType = {},
                                            const Variant& iXml = {});
    /// `getHTMLAttachmentByUsingXML` of the stored document.
    std::string getHTMLAttachment(int32_t iDocID);
    /// Deletes a rendering made by getHTMLAttachment; a blank name does nothing.
    void DeleteHTMLAttachment(const std::string& iHTMLFile);
    /// True when the document type has an HTML style sheet that loads; a sheet that does not
    /// load is logged and answers false.
    bool CanAttachHTMLFile(const std::string& iDocType);

    // ---- plug-in method calls (delivery/) ------------------------------------------------

    /// The class part of a plug-in address: everything before its second dot (the whole
    /// address when it has none): "Acme.Orders.Receive" gives "Acme.Orders".
    Variant GetClass(const std::string& iDllClassMethodString);
    /// The method part of a plug-in address: everything after its second dot; "" when there
    /// is none or it ends the address.
    Variant GetMethod(const std::string& iDllClassMethodString);
    /// Creates the plug-in class of the address and calls it with the document data (by
    /// reference): the named method by name, else `IMethodCall::MethodCall` (or
    /// "IMethodCall_MethodCall" by name for a class without the interface). Answers the
    /// plug-in's boolean. Any failure is raised on with the source
    /// "Kestrix.Utility.CallMethod" and "object <address> not found or method called with
    /// wrong number/type of arguments".
    bool CallMethod(const std::string& iDllClassMethodString, Variant& iArguments);
    /// True when the class part of the address can be created; failures answer false
    /// without being reported.
    bool CheckMethodCall(const std::string& iDllClassMethodString);
    /// The elements of an array as texts joined by ", "; "" (after logging) for a value that
    /// is no array.
    std::string MakeStringFromArray(const Variant& iArray);

private:
    /// The site's virtual identifier, read once per instance.
    std::string virtualId_;
    /// The notifications of this instance, which keep the language of its messages.
    Notifications notifications_;
};

}  // namespace kestrix
