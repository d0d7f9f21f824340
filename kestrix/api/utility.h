#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/documents/qel_excel.h"
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
/// rooms calls those modules directly. Each method is documented where its work is done, in
/// the header its section names; only what the facade adds is said here.
class Utility : public Object {
public:
    // ---- conversions, long texts and server parameters (foundation/conversions.h) ------

    void SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName, db::EditRow& oRS);
    int32_t CheckLong(Variant& iVar);
    std::string CheckString(Variant& iVar);
    std::string GetQelServerParameter(std::string& i_sParamName);
    Variant Formats(const Variant& i_vSource, const Variant& i_vFormat);

    // ---- users of the membership directory (foundation/users.h) -----------------------

    /// The site's virtual identifier (site configuration, GLOBAL "IISVirtId"), read once per
    /// instance.
    std::string getIISVirtID();
    std::shared_ptr<membership::User> GetAUObject(std::string& iUserID);
    std::shared_ptr<membership::User> getAUOAddress(std::string iIISVirtID, std::string& iUserID);
    db::Recordset GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID);
    int32_t GetAUBusinessPartnerID(std::string& iUserID);
    std::string GetAUEmailAddress(std::string& iUserID);
    Variant CheckUserAuthorization(std::string& i_sUser, std::string& i_sPassword, std::string& i_sXml);
    int32_t GetApplicationID(const std::string& i_sApplicationName);
    bool UserAccessToApplicationAllowed(const std::string& i_sUser, const std::string& i_sApplicationName);

    // ---- publication errors (documents/publication_errors.h) ----------------------------

    bool CheckPublicationErrors(int32_t& iDocID);

    // ---- XSL patterns and recipients (documents/xsl_patterns.h, recipients_query.h) -----

    std::string ExecuteXSLPattern(const xml::XmlDocument& i_oXMLDoc, const std::string& i_sXslPattern);
    std::optional<std::vector<xml::XmlNode>> ExecuteXSLPatternReturnAllNodes(
        const xml::XmlDocument& iXMLDoc, const std::string& iXslPattern);
    std::string ConstructXslPattern(TagAttrXsl iTagAttrXsl, const std::string& iXslPattern);
    db::Recordset GetRecipientsFromPublicationTable(int32_t iDocID, const std::string& iDocTypeID,
                                                    bool iEmailFlag = false);

    // ---- routing tags and recipient resolution (rules/routing.h) -----------------------

    void GetSenderBPAndName(const std::string& iXMLStr, int32_t& oSenderBP, std::string& oSenderName);
    void GetSenderBPAndName(xml::XmlDocument& iDom, int32_t& oSenderBP, std::string& oSenderName);
    bool BPOfDocumentEqualsBPOfUser(const std::string& i_sUser, const std::string& i_sXml);
    std::string GetDocType(const std::string& iXMLStr, int32_t iBPID = 0);
    std::string GetDocType(xml::XmlDocument& iDom, int32_t iBPID);
    bool DocTypeFoundInTable(const std::string& iDocTypeID);
    std::string GetDefaultReceiver(const std::string& iXMLStr);
    std::string GetDefaultReceiver(const xml::XmlDocument& iDom);
    int32_t GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID = {},
                                                 const std::string& iXMLStr = {});
    int32_t GetRecipientsAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                                 xml::XmlDocument& iStandard);
    int32_t FillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID, int32_t iBPID = 0,
                                 const std::string& iUserID = {});
    bool ExecuteXslPatternAndFillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID,
                                                  xml::XmlDocument& iXMLDoc,
                                                  const std::string& iXslPattern);
    bool ClearTagsAndWriteDocToDB(int32_t& iDocID, xml::XmlDocument& iXMLDoc,
                                  const std::string& iXslPattern);
    void RemoveAllRoutingInfoFromDocument(int32_t& iDocID, xml::XmlDocument& iXMLDoc);
    bool CheckXslPattern(std::string& iXslPattern, TagAttrXsl iTagAttrXsl);
    int32_t GetPublicationStatus(int32_t& iDocID, const std::string& iRecipientID);
    int32_t GetForwardFlag(int32_t& iDocID, const std::string& iRecipientID);
    PUBLICATIONSTATUS ConvertPublicationStatusFromStringToEnum(const std::string& iStatus);
    std::string GetBusinessPartnerName(int32_t i_lBPID);
    std::string ConvertArrayToList(const Variant& iArray);

    // ---- files, folders (foundation/files.h) and the error folder (intake/error_folder.h)

    Variant WriteXMLFileToDisk(const std::string& i_sXMLStr, const std::string& i_sFileName = {});
    Variant WriteXMLFileToDiskAsciiOrUnicode(const std::string& i_sXMLStr, std::string& i_sFileName,
                                             bool i_bUnicode = true);
    void DeleteXMLFileFromDisk(const std::string& iFileName);
    bool FileExist(const std::string& iFileName);
    bool DirExistOnThisServer(const std::string& iDir);
    bool DirExist(const std::string& iDir);
    bool FileExistAlsoRemote(const std::string& iPath, const std::string& iFile);
    bool IsExcelInstalled();
    bool IsExcelInstalledWithErrRaise();
    std::string AddTempPathIfNoDriveFound(const std::string& i_sPath);
    std::string CreateErrorDir();
    std::string WriteXmlFileToErrorDir(const std::string& iFileContent, const std::string& iFileName = {});
    std::string MoveFileToErrorDir(const std::filesystem::path& iFile);

    // ---- mail (delivery/email.h) ------------------------------------------------------------

    void SendEmail(const std::string& iSender, const std::string& iReceiver,
                   const std::string& iSubject, const std::string& iBody,
                   const std::string& iHTMLFileName, const std::string& iXMLFileName);
    void SendEmailWithAttachments(const std::string& iSender, const std::string& iReceiver,
                                  const std::string& iSubject, const std::string& iBody,
                                  const std::string& iHTMLFileName, const std::string& iXMLFileName,
                                  const Variant& i_aAttachment);
    void SendEmailToAdministrator(const std::string& i_oFileName);
    bool CheckSentLog(const std::string& iDocTypeID, const std::string& iSenderID, int32_t iBPID,
                      int32_t iDocID = 0);

    // ---- notification mails (delivery/notifications.h) ------------------------------------

    std::string GetSubject(const std::string& iLanguageID, const std::string& iSubject,
                           const std::string& iDocTypeID, int32_t iSenderMode = 1);
    std::string GetDefaultBody(const std::string& iLanguageID, int32_t iDocID,
                               const std::string& iDocTypeID, const std::string& iBody = {});
    std::string GetBody(const std::string& iLanguageID, int32_t iDocID, const std::string& iDocTypeID,
                        int32_t iSenderMode, const std::string& iBody = {}, bool iCcFlag = false,
                        std::string iToRecipientList = {}, const std::string& iCcRecipientList = {});
    db::Recordset GetRecipientsFromPublicationTableByUsers(int32_t iDocID, const std::string& iDocTypeID,
                                                           bool iEmailFlag = false,
                                                           const Variant& iUserIDs = {});
    void SendEmailToSender(int32_t iDocID, const std::string& iSubject, const std::string& iBody,
                           bool iAddHtmlAttachment, const std::string& iToRecipientList,
                           const std::string& iCcRecipientList = {});
    void SendEmailToRecipients(int32_t iDocID, const std::string& iCcRecipientList,
                               const std::string& iSubject, const std::string& iBody = {},
                               bool iAddHtmlAttachment = false);
    void SendEmailToRecipientsEx(int32_t iDocID, const Variant& iUserIDs, const std::string& iCcRecipientList,
                                 const std::string& iSubject, const std::string& iBody,
                                 bool iAddHtmlAttachment, bool iSkipTo, bool iSkipCC = false,
                                 bool iUsePublicationUsersOnly = true);
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

    Variant getPagePath();
    std::string getKestrixPath();
    std::string getDocumentHyperlinkBySenderMode(int32_t iDocID, const std::string& iDocTypeID,
                                                 int32_t iSenderMode);
    std::string GetToRecipientList(int32_t iDocID, const std::string& iDocTypeID);
    std::string getReceiveUrl();

    // ---- posted forms and their escapes (web/form_text.h) ------------------------------

    bool RetrieveElementFromRequestFormCollection(const std::string& i_sRequestFormString,
                                                  const std::string& i_sPattern, Variant& o_sPatternValue);
    /// Decodes `iString` and hands the result back through it as well.
    std::string urlDecode(std::string& iString);
    std::string HTMLDecode(const Variant& i_sString);

    // ---- document types and transformations (documents/document_types.h) --------------

    std::string GetTransformXSLPath();
    std::string GetHTMLXSLPath();
    std::string getXSL(const std::string& iDocType);
    std::string GetDocumentTypeDescription(const std::string& iDocTypeID);
    std::string GetHtmlAttachmentXsl(const std::string& iDocTypeID);

    // ---- HTML rendering (delivery/html_rendering.h), style sheets (foundation/style_sheets.h)

    std::string transformXMLStringToHTML(const std::string& iXmlString, const std::string& iXSLURL);
    std::string transformXMLToHTMLCommon(const xml::XmlDocument& iDoc,
                                         const std::string& iXslFileName);
    std::string getHTMLAttachmentByUsingXML(const std::string& iDocID, const Variant& iDocType = {},
                                            const Variant& iXml = {});
    std::string getHTMLAttachment(int32_t iDocID);
    void DeleteHTMLAttachment(const std::string& iHTMLFile);
    bool CanAttachHTMLFile(const std::string& iDocType);

    // ---- plug-in method calls (foundation/method_call.h) -----------------------------------

    Variant GetClass(const std::string& iDllClassMethodString);
    Variant GetMethod(const std::string& iDllClassMethodString);
    bool CallMethod(const std::string& iDllClassMethodString, Variant& iArguments);
    bool CheckMethodCall(const std::string& iDllClassMethodString);
    std::string MakeStringFromArray(const Variant& iArray);
    /// documents/workbook_calls.h: a workbook handed to a plug-in as a file.
    bool CallMethodForExcel(const std::string& iDllClassMethodString, ExcelWorkBookPtr& i_oExcelWorkBook,
                            const std::string& i_sFilePathTemplate = {});

private:
    /// The site's virtual identifier, read once per instance.
    std::string virtualId_;
    /// The notifications of this instance, which keep the language of its messages.
    Notifications notifications_;
};

}  // namespace kestrix
