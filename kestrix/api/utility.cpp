// Utility forwards every method to the module that owns the work.
#include "kestrix/api/utility.h"

#include "kestrix/documents/workbook_calls.h"
#include "kestrix/delivery/email.h"
#include "kestrix/delivery/html_rendering.h"
#include "kestrix/foundation/method_call.h"
#include "kestrix/delivery/notifications.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/documents/links.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/recipients_query.h"
#include "kestrix/documents/xsl_patterns.h"
#include "kestrix/foundation/conversions.h"
#include "kestrix/foundation/files.h"
#include "kestrix/foundation/style_sheets.h"
#include "kestrix/foundation/users.h"
#include "kestrix/intake/error_folder.h"
#include "kestrix/rules/routing.h"
#include "kestrix/web/form_text.h"

namespace kestrix {

void Utility::SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName,
                                 db::EditRow& oRS) {
    conversions::SetLongDBTextField(iFieldContent, iFieldName, oRS);
}

int32_t Utility::CheckLong(Variant& iVar) { return conversions::CheckLong(iVar); }

std::string Utility::CheckString(Variant& iVar) { return conversions::CheckString(iVar); }

std::string Utility::GetQelServerParameter(std::string& i_sParamName) {
    return conversions::GetQelServerParameter(i_sParamName);
}

Variant Utility::Formats(const Variant& i_vSource, const Variant& i_vFormat) {
    return conversions::Formats(i_vSource, i_vFormat);
}

std::string Utility::getIISVirtID() {
    if (virtualId_.empty()) virtualId_ = users::getIISVirtID();
    return virtualId_;
}

std::shared_ptr<membership::User> Utility::GetAUObject(std::string& iUserID) {
    return users::GetAUObject(iUserID);
}

std::shared_ptr<membership::User> Utility::getAUOAddress(std::string iIISVirtID,
                                                         std::string& iUserID) {
    return users::getAUOAddress(iIISVirtID, iUserID);
}

db::Recordset Utility::GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID) {
    return users::GetAuoRSByCriteria(iCriteria, iIISVirtID);
}

int32_t Utility::GetAUBusinessPartnerID(std::string& iUserID) {
    return users::GetAUBusinessPartnerID(iUserID);
}

std::string Utility::GetAUEmailAddress(std::string& iUserID) {
    return users::GetAUEmailAddress(iUserID);
}

Variant Utility::CheckUserAuthorization(std::string& i_sUser, std::string& i_sPassword, std::string& i_sXml) {
    return users::CheckUserAuthorization(i_sUser, i_sPassword, i_sXml);
}

int32_t Utility::GetApplicationID(const std::string& i_sApplicationName) {
    return users::GetApplicationID(i_sApplicationName);
}

bool Utility::UserAccessToApplicationAllowed(const std::string& i_sUser, const std::string& i_sApplicationName) {
    return users::UserAccessToApplicationAllowed(i_sUser, i_sApplicationName);
}

bool Utility::CheckPublicationErrors(int32_t& iDocID) {
    return publication_errors::CheckPublicationErrors(iDocID);
}

std::string Utility::ExecuteXSLPattern(const xml::XmlDocument& i_oXMLDoc,
                                       const std::string& i_sXslPattern) {
    return xsl_patterns::ExecuteXSLPattern(i_oXMLDoc, i_sXslPattern);
}

std::optional<std::vector<xml::XmlNode>> Utility::ExecuteXSLPatternReturnAllNodes(
    const xml::XmlDocument& iXMLDoc, const std::string& iXslPattern) {
    return xsl_patterns::ExecuteXSLPatternReturnAllNodes(iXMLDoc, iXslPattern);
}

std::string Utility::ConstructXslPattern(TagAttrXsl iTagAttrXsl, const std::string& iXslPattern) {
    return xsl_patterns::ConstructXslPattern(iTagAttrXsl, iXslPattern);
}

db::Recordset Utility::GetRecipientsFromPublicationTable(int32_t iDocID,
                                                         const std::string& iDocTypeID,
                                                         bool iEmailFlag) {
    return recipients::GetRecipientsFromPublicationTable(iDocID, iDocTypeID, iEmailFlag);
}

void Utility::GetSenderBPAndName(const std::string& iXMLStr, int32_t& oSenderBP,
                                 std::string& oSenderName) {
    routing::GetSenderBPAndName(iXMLStr, oSenderBP, oSenderName);
}

bool Utility::BPOfDocumentEqualsBPOfUser(const std::string& i_sUser, const std::string& i_sXml) {
    return routing::BPOfDocumentEqualsBPOfUser(i_sUser, i_sXml);
}

std::string Utility::GetDocType(const std::string& iXMLStr, int32_t iBPID) {
    return routing::GetDocType(iXMLStr, iBPID);
}

bool Utility::DocTypeFoundInTable(const std::string& iDocTypeID) {
    return routing::DocTypeFoundInTable(iDocTypeID);
}

std::string Utility::GetDefaultReceiver(const std::string& iXMLStr) {
    return routing::GetDefaultReceiver(iXMLStr);
}

int32_t Utility::GetRecipientsAndFillPublicationTable(int32_t& iDocID,
                                                      const std::string& iDocTypeID,
                                                      const std::string& iXMLStr) {
    return routing::GetRecipientsAndFillPublicationTable(iDocID, iDocTypeID, iXMLStr);
}

int32_t Utility::FillPublicationTable(int32_t& iDocID, const std::string& iDocTypeID, int32_t iBPID,
                                      const std::string& iUserID) {
    return routing::FillPublicationTable(iDocID, iDocTypeID, iBPID, iUserID);
}

bool Utility::ExecuteXslPatternAndFillPublicationTable(int32_t& iDocID,
                                                       const std::string& iDocTypeID,
                                                       xml::XmlDocument& iXMLDoc,
                                                       const std::string& iXslPattern) {
    return routing::ExecuteXslPatternAndFillPublicationTable(iDocID, iDocTypeID, iXMLDoc,
                                                             iXslPattern);
}

bool Utility::ClearTagsAndWriteDocToDB(int32_t& iDocID, xml::XmlDocument& iXMLDoc,
                                       const std::string& iXslPattern) {
    return routing::ClearTagsAndWriteDocToDB(iDocID, iXMLDoc, iXslPattern);
}

void Utility::RemoveAllRoutingInfoFromDocument(int32_t& iDocID, xml::XmlDocument& iXMLDoc) {
    routing::RemoveAllRoutingInfoFromDocument(iDocID, iXMLDoc);
}

bool Utility::CheckXslPattern(std::string& iXslPattern, TagAttrXsl iTagAttrXsl) {
    return routing::CheckXslPattern(iXslPattern, iTagAttrXsl);
}

int32_t Utility::GetPublicationStatus(int32_t& iDocID, const std::string& iRecipientID) {
    return routing::GetPublicationStatus(iDocID, iRecipientID);
}

int32_t Utility::GetForwardFlag(int32_t& iDocID, const std::string& iRecipientID) {
    return routing::GetForwardFlag(iDocID, iRecipientID);
}

PUBLICATIONSTATUS Utility::ConvertPublicationStatusFromStringToEnum(const std::string& iStatus) {
    return routing::ConvertPublicationStatusFromStringToEnum(iStatus);
}

std::string Utility::GetBusinessPartnerName(int32_t i_lBPID) {
    return routing::GetBusinessPartnerName(i_lBPID);
}

std::string Utility::ConvertArrayToList(const Variant& iArray) {
    return routing::ConvertArrayToList(iArray);
}

Variant Utility::WriteXMLFileToDisk(const std::string& i_sXMLStr, const std::string& i_sFileName) {
    return files::WriteXMLFileToDisk(i_sXMLStr, i_sFileName);
}

Variant Utility::WriteXMLFileToDiskAsciiOrUnicode(const std::string& i_sXMLStr,
                                                  std::string& i_sFileName, bool i_bUnicode) {
    return files::WriteXMLFileToDiskAsciiOrUnicode(i_sXMLStr, i_sFileName, i_bUnicode);
}

void Utility::DeleteXMLFileFromDisk(const std::string& iFileName) {
    files::DeleteXMLFileFromDisk(iFileName);
}

bool Utility::FileExist(const std::string& iFileName) { return files::FileExist(iFileName); }

bool Utility::DirExistOnThisServer(const std::string& iDir) {
    return files::DirExistOnThisServer(iDir);
}

bool Utility::DirExist(const std::string& iDir) { return files::DirExist(iDir); }

bool Utility::FileExistAlsoRemote(const std::string& iPath, const std::string& iFile) {
    return files::FileExistAlsoRemote(iPath, iFile);
}

bool Utility::IsExcelInstalled() { return files::IsExcelInstalled(); }

bool Utility::IsExcelInstalledWithErrRaise() { return files::IsExcelInstalledWithErrRaise(); }

std::string Utility::AddTempPathIfNoDriveFound(const std::string& i_sPath) {
    return files::AddTempPathIfNoDriveFound(i_sPath);
}

std::string Utility::CreateErrorDir() { return error_folder::CreateErrorDir(); }

std::string Utility::WriteXmlFileToErrorDir(const std::string& iFileContent,
                                            const std::string& iFileName) {
    return error_folder::WriteXmlFileToErrorDir(iFileContent, iFileName);
}

std::string Utility::MoveFileToErrorDir(const std::filesystem::path& iFile) {
    return error_folder::MoveFileToErrorDir(iFile);
}

void Utility::SendEmail(const std::string& iSender, const std::string& iReceiver,
                        const std::string& iSubject, const std::string& iBody,
                        const std::string& iHTMLFileName, const std::string& iXMLFileName) {
    email::SendEmail(iSender, iReceiver, iSubject, iBody, iHTMLFileName, iXMLFileName);
}

void Utility::SendEmailWithAttachments(const std::string& iSender, const std::string& iReceiver,
                                       const std::string& iSubject, const std::string& iBody,
                                       const std::string& iHTMLFileName,
                                       const std::string& iXMLFileName,
                                       const Variant& i_aAttachment) {
    email::SendEmailWithAttachments(iSender, iReceiver, iSubject, iBody, iHTMLFileName,
                                    iXMLFileName, i_aAttachment);
}

void Utility::SendEmailToAdministrator(const std::string& i_oFileName) {
    email::SendEmailToAdministrator(i_oFileName);
}

bool Utility::CheckSentLog(const std::string& iDocTypeID, const std::string& iSenderID,
                           int32_t iBPID, int32_t iDocID) {
    return email::CheckSentLog(iDocTypeID, iSenderID, iBPID, iDocID);
}

std::string Utility::GetSubject(const std::string& iLanguageID, const std::string& iSubject,
                                const std::string& iDocTypeID, int32_t iSenderMode) {
    return notifications_.GetSubject(iLanguageID, iSubject, iDocTypeID, iSenderMode);
}

std::string Utility::GetDefaultBody(const std::string& iLanguageID, int32_t iDocID,
                                    const std::string& iDocTypeID, const std::string& iBody) {
    return notifications_.GetDefaultBody(iLanguageID, iDocID, iDocTypeID, iBody);
}

std::string Utility::GetBody(const std::string& iLanguageID, int32_t iDocID,
                             const std::string& iDocTypeID, int32_t iSenderMode,
                             const std::string& iBody, bool iCcFlag, std::string iToRecipientList,
                             const std::string& iCcRecipientList) {
    return notifications_.GetBody(iLanguageID, iDocID, iDocTypeID, iSenderMode, iBody, iCcFlag,
                                  iToRecipientList, iCcRecipientList);
}

db::Recordset Utility::GetRecipientsFromPublicationTableByUsers(int32_t iDocID,
                                                                const std::string& iDocTypeID,
                                                                bool iEmailFlag,
                                                                const Variant& iUserIDs) {
    return notifications_.GetRecipientsFromPublicationTableByUsers(iDocID, iDocTypeID, iEmailFlag,
                                                                   iUserIDs);
}

void Utility::SendEmailToSender(int32_t iDocID, const std::string& iSubject,
                                const std::string& iBody, bool iAddHtmlAttachment,
                                const std::string& iToRecipientList,
                                const std::string& iCcRecipientList) {
    notifications_.SendEmailToSender(iDocID, iSubject, iBody, iAddHtmlAttachment, iToRecipientList,
                                     iCcRecipientList);
}

void Utility::SendEmailToRecipients(int32_t iDocID, const std::string& iCcRecipientList,
                                    const std::string& iSubject, const std::string& iBody,
                                    bool iAddHtmlAttachment) {
    notifications_.SendEmailToRecipients(iDocID, iCcRecipientList, iSubject, iBody,
                                         iAddHtmlAttachment);
}

void Utility::SendEmailToRecipientsEx(int32_t iDocID, const Variant& iUserIDs,
                                      const std::string& iCcRecipientList,
                                      const std::string& iSubject, const std::string& iBody,
                                      bool iAddHtmlAttachment, bool iSkipTo, bool iSkipCC,
                                      bool iUsePublicationUsersOnly) {
    notifications_.SendEmailToRecipientsEx(iDocID, iUserIDs, iCcRecipientList, iSubject, iBody,
                                           iAddHtmlAttachment, iSkipTo, iSkipCC,
                                           iUsePublicationUsersOnly);
}

void Utility::sendEmailByGettingHTMLAndXML(const std::string& iFrom, const std::string& iBcc,
                                           const std::string& iBody, const std::string& iSubject,
                                           const std::string& iDocID, const std::string& iDocType,
                                           const std::string& iXMLStr, const std::string& iCcList,
                                           bool iAddHtmlDocToCcList, int32_t iSenderMode,
                                           int32_t iLanguageID) {
    notifications_.sendEmailByGettingHTMLAndXML(iFrom, iBcc, iBody, iSubject, iDocID, iDocType,
                                                iXMLStr, iCcList, iAddHtmlDocToCcList, iSenderMode,
                                                iLanguageID);
}

Variant Utility::getPagePath() { return links::getPagePath(); }

std::string Utility::getKestrixPath() { return links::getKestrixPath(); }

std::string Utility::getReceiveUrl() { return links::getReceiveUrl(); }

bool Utility::RetrieveElementFromRequestFormCollection(const std::string& i_sRequestFormString,
                                                       const std::string& i_sPattern, Variant& o_sPatternValue) {
    return form_text::RetrieveElementFromRequestFormCollection(i_sRequestFormString, i_sPattern, o_sPatternValue);
}

std::string Utility::urlDecode(std::string& iString) {
    iString = form_text::urlDecode(iString);
    return iString;
}

std::string Utility::HTMLDecode(const Variant& i_sString) { return form_text::HTMLDecode(i_sString); }

std::string Utility::getDocumentHyperlinkBySenderMode(int32_t iDocID, const std::string& iDocTypeID,
                                                      int32_t iSenderMode) {
    return links::getDocumentHyperlinkBySenderMode(iDocID, iDocTypeID, iSenderMode);
}

std::string Utility::GetToRecipientList(int32_t iDocID, const std::string& iDocTypeID) {
    return links::GetToRecipientList(iDocID, iDocTypeID);
}

std::string Utility::GetTransformXSLPath() { return document_types::GetTransformXSLPath(); }

std::string Utility::GetHTMLXSLPath() { return document_types::GetHTMLXSLPath(); }

std::string Utility::getXSL(const std::string& iDocType) {
    return document_types::getXSL(iDocType);
}

std::string Utility::GetDocumentTypeDescription(const std::string& iDocTypeID) {
    return document_types::GetDocumentTypeDescription(iDocTypeID);
}

std::string Utility::GetHtmlAttachmentXsl(const std::string& iDocTypeID) {
    return document_types::GetHtmlAttachmentXsl(iDocTypeID);
}

std::string Utility::transformXMLStringToHTML(const std::string& iXmlString,
                                              const std::string& iXSLURL) {
    return style_sheets::transformXMLStringToHTML(iXmlString, iXSLURL);
}

std::string Utility::transformXMLToHTMLCommon(const xml::XmlDocument& iDoc,
                                              const std::string& iXslFileName) {
    return style_sheets::transformXMLToHTMLCommon(iDoc, iXslFileName);
}

std::string Utility::getHTMLAttachmentByUsingXML(const std::string& iDocID, const Variant& iDocType,
                                                 const Variant& iXml) {
    return html_rendering::getHTMLAttachmentByUsingXML(iDocID, iDocType, iXml);
}

std::string Utility::getHTMLAttachment(int32_t iDocID) {
    return html_rendering::getHTMLAttachment(iDocID);
}

void Utility::DeleteHTMLAttachment(const std::string& iHTMLFile) {
    html_rendering::DeleteHTMLAttachment(iHTMLFile);
}

bool Utility::CanAttachHTMLFile(const std::string& iDocType) {
    return html_rendering::CanAttachHTMLFile(iDocType);
}

Variant Utility::GetClass(const std::string& iDllClassMethodString) {
    return plugin_calls::GetClass(iDllClassMethodString);
}

Variant Utility::GetMethod(const std::string& iDllClassMethodString) {
    return plugin_calls::GetMethod(iDllClassMethodString);
}

bool Utility::CallMethodForExcel(const std::string& iDllClassMethodString, ExcelWorkBookPtr& i_oExcelWorkBook,
                                 const std::string& i_sFilePathTemplate) {
    return workbook_calls::CallMethodForExcel(iDllClassMethodString, i_oExcelWorkBook, i_sFilePathTemplate);
}

bool Utility::CallMethod(const std::string& iDllClassMethodString, Variant& iArguments) {
    return plugin_calls::CallMethod(iDllClassMethodString, iArguments);
}

bool Utility::CheckMethodCall(const std::string& iDllClassMethodString) {
    return plugin_calls::CheckMethodCall(iDllClassMethodString);
}

std::string Utility::MakeStringFromArray(const Variant& iArray) {
    return plugin_calls::MakeStringFromArray(iArray);
}

}  // namespace kestrix
