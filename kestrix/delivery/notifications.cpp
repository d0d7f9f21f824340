// The notification mails that tell a document's sender and recipients that it was
// published, each in the reader's own language.
#include <utility>

#include "kestrix/foundation/users.h"
#include "kestrix/foundation/files.h"
#include "kestrix/documents/recipients_query.h"
#include "kestrix/documents/links.h"
#include "kestrix/documents/document_types.h"
#include "kestrix/delivery/email.h"
#include "kestrix/documents/document.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/sender_list.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/delivery/html_rendering.h"
#include "kestrix/delivery/notifications.h"
#include "platform/base/strings.h"
#include "platform/membership/user.h"

namespace kestrix {

NotificationRendering::~NotificationRendering() {
    try {
        if (!file_.empty()) html_rendering::DeleteHTMLAttachment(file_);
    } catch (...) {
        LogError("Kestrix.Utility.SendEmailToRecipients");
    }
}

const std::string& NotificationRendering::File() {
    if (!made_) {
        file_ = html_rendering::getHTMLAttachment(docId_);
        made_ = true;
    }
    return file_;
}

namespace {

constexpr const char* kCrLf = "\r\n";

/// The trimmed type and sender of a document, in one read; both "" when there is no row.
std::pair<std::string, std::string> TypeAndSender(int32_t docId) {
    db::Connection connection = GetConnection();
    const db::Recordset row =
        connection.Query("SELECT DOCUMENTTYPEID, SENDER FROM DOCUMENT WHERE DOCUMENTID = ?", {Variant(docId)});
    if (row.Eof()) return {};
    return {Trim(row.GetString("DOCUMENTTYPEID")), Trim(row.GetString("SENDER"))};
}

int32_t Language(const std::string& text) {
    try {
        return Trim(text).empty() ? 0 : Variant(text).ToLong();
    } catch (const Error&) {
        return 0;
    }
}

std::string Filled(std::string_view code, int32_t language, const char* key, const std::string& value) {
    Dictionary replacements;
    replacements.Add(key, value);
    return TranslateLabel(code, language, replacements);
}

/// Mails the notification of a document to the recipient of one row of its recipients
/// (USERID, HTMLATTACHMENT, HTMLATTACHMENTXSL), in his language. `language` and `readerName`
/// are filled as soon as they are known, for the report of a failure.
void MailRecipient(Notifications& notifications, int32_t docId, const std::string& type,
                   const std::string& from, const db::Recordset& row, const std::string& subjectText,
                   const std::string& bodyText, NotificationRendering& rendering, std::string& language,
                   std::string& readerName) {
    std::string userId = row.GetString("USERID");
    readerName = userId;
    auto user = users::GetAUObject(userId);
    language = user->LanguageID();
    readerName = user->DisplayName();
    const std::string subject =
        notifications.GetSubject(language, subjectText, type, ToInt(SENDERMODE::RECEIVERMODE));
    const std::string body =
        notifications.GetBody(language, docId, type, ToInt(SENDERMODE::RECEIVERMODE), bodyText, false, "", "");
    const Variant& wantsHtml = row.Field("HTMLATTACHMENT");
    std::string html;
    if (!wantsHtml.IsNull() && wantsHtml.ToBool() && !Trim(row.GetString("HTMLATTACHMENTXSL")).empty())
        html = rendering.File();
    email::SendEmail(from, user->EmailAddress(), subject, body, html, "");
}

}  // namespace

std::string Notifications::GetSubject(const std::string& iLanguageID, const std::string& iSubject,
                                const std::string& iDocTypeID, int32_t iSenderMode) {
    try {
        const int32_t language = Language(iLanguageID);
        const std::string description = document_types::GetDocumentTypeDescription(iDocTypeID);
        const std::string published = TranslateLabel("SLBSH1712", language);
        auto form = [&](std::string_view head) {
            return TranslateLabel(head, language) + ", " + TranslateLabel("SLBSH1907", language) +
                   " '" + description + "'";
        };
        const bool senderMode = iSenderMode == ToInt(SENDERMODE::SENDERMODE);
        if (iSubject == published && senderMode) return form("SLBSH5530");
        if (iSubject.empty()) return form(senderMode ? "SLBSH5530" : "SLBSH1712");
        return iSubject;
    } catch (...) {
        Reraise("Kestrix.Utility.GetSubject");
    }
}

std::string Notifications::GetDefaultBody(const std::string& iLanguageID, int32_t iDocID,
                                    const std::string& iDocTypeID, const std::string& iBody) {
    try {
        if (!iBody.empty()) return iBody;
        const int32_t language = Language(iLanguageID);
        return TranslateLabel("SLBSH1714", language) + " " + std::to_string(iDocID) + " (" +
               TranslateLabel("SLBSH1907", language) + " '" + document_types::GetDocumentTypeDescription(iDocTypeID) +
               "') " + TranslateLabel("SLBSH1713", language) + kCrLf + kCrLf;
    } catch (...) {
        Reraise("Kestrix.Utility.GetDefaultBody");
    }
}

std::string Notifications::GetBody(const std::string& iLanguageID, int32_t iDocID, const std::string& iDocTypeID,
                             int32_t iSenderMode, const std::string& iBody, bool iCcFlag,
                             std::string iToRecipientList, const std::string& iCcRecipientList) {
    try {
        const int32_t language = Language(iLanguageID);
        std::string text = iBody.empty() ? GetDefaultBody(iLanguageID, iDocID, iDocTypeID, "")
                                         : iBody + kCrLf + kCrLf;
        if (!iCcFlag) {
            std::string link = ReplaceAll(links::getDocumentHyperlinkBySenderMode(iDocID, iDocTypeID, iSenderMode), " ", "%20");
            text += Filled("SLBSH4485", language, "[%SITELINK%]", link) + kCrLf + kCrLf;
        }
        if (iSenderMode == ToInt(SENDERMODE::SENDERMODE)) {
            if (iToRecipientList.empty()) iToRecipientList = links::GetToRecipientList(iDocID, iDocTypeID);
            if (!iToRecipientList.empty())
                text += Filled("SLBSH4483", language, "[%TORECIPIENTS%]", iToRecipientList) + kCrLf;
            if (!iCcRecipientList.empty())
                text += Filled("SLBSH4484", language, "[%CCRECIPIENTS%]", iCcRecipientList) + kCrLf + kCrLf;
            else
                text += kCrLf;
            int32_t docId = iDocID;
            if (publication_errors::CheckPublicationErrors(docId)) {
                std::string errorLink = ReplaceAll(
                    links::getDocumentHyperlinkBySenderMode(iDocID, iDocTypeID, ToInt(SENDERMODE::ERRORMODE)), " ", "%20");
                text += TranslateLabel("SLBSH1715", language) + ". " +
                        Filled("SLBSH4486", language, "[%SITEERRORLINK%]", errorLink) + kCrLf;
            }
        }
        return text;
    } catch (...) {
        Reraise("Kestrix.Utility.GetBody");
    }
}

db::Recordset Notifications::GetRecipientsFromPublicationTableByUsers(int32_t iDocID, const std::string& iDocTypeID,
                                                                bool iEmailFlag, const Variant& iUserIDs) {
    try {
        std::string sql =
            "SELECT HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT "
            "FROM PUBLICATION INNER JOIN DISTRIBUTIONLIST ON PUBLICATION.USERID = "
            "DISTRIBUTIONLIST.USERID LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
            "DISTRIBUTIONLIST.DOCUMENTTYPEID WHERE (PUBLICATION.DOCUMENTID = " + EncodeSqlNumber(iDocID) + ") "
            "AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = " + EncodeSqlText(iDocTypeID) + ") ";
        sql += iEmailFlag ? "AND (DISTRIBUTIONLIST.EMAIL = 1) AND " : "AND ";
        sql += "(PUBLICATION.STATUS NOT IN (2,3,7,8,9) ) ";
        if (iUserIDs.IsArray() && !iUserIDs.ToArray().empty()) {
            std::string list;
            for (const Variant& id : iUserIDs.ToArray()) list += (list.empty() ? "" : ",") + EncodeSqlText(id.ToString());
            sql += "AND PUBLICATION.USERID IN (" + list + ")";
        }
        db::Connection connection = GetConnection();
        return connection.Query(sql);
    } catch (...) {
        Reraise("Kestrix.Utility.GetRecipientsFromPublicationTableByUsers");
    }
}

void Notifications::SendEmailToSender(int32_t iDocID, const std::string& iSubject, const std::string& iBody,
                                bool /*iAddHtmlAttachment*/, const std::string& iToRecipientList,
                                const std::string& iCcRecipientList) {
    try {
        const auto [type, sender] = TypeAndSender(iDocID);
        MailSender(iDocID, type, sender, iSubject, iBody, iToRecipientList, iCcRecipientList);
    } catch (...) {
        Reraise("Kestrix.Utility.SendEmailToSender");
    }
}

void Notifications::NotifySender(int32_t iDocID, const std::string& iDocTypeID, const std::string& iSender) {
    try {
        MailSender(iDocID, Trim(iDocTypeID), Trim(iSender), "", "", "", "");
    } catch (...) {
        Reraise("Kestrix.Utility.SendEmailToSender");
    }
}

void Notifications::MailSender(int32_t docId, const std::string& type, const std::string& sender,
                               const std::string& subjectText, const std::string& bodyText,
                               const std::string& toRecipients, const std::string& ccRecipients) {
    SenderList senders;
    if (!senders.GetNotification(type, sender)) return;
    std::string login = sender;
    auto user = users::GetAUObject(login);
    const std::string language = user->LanguageID();
    const std::string subject = GetSubject(language, subjectText, type, ToInt(SENDERMODE::SENDERMODE));
    const std::string body =
        GetBody(language, docId, type, ToInt(SENDERMODE::SENDERMODE), bodyText, false, toRecipients, ccRecipients);
    if (publisherLanguage_ == 0) publisherLanguage_ = Language(language);
    const std::string address = user->EmailAddress();
    email::SendEmail(address, address, subject, body, "", "");
}

void Notifications::SendEmailToRecipients(int32_t iDocID, const std::string& iCcRecipientList,
                                    const std::string& iSubject, const std::string& iBody,
                                    bool iAddHtmlAttachment) {
    try {
        SendEmailToRecipientsEx(iDocID, Variant{}, iCcRecipientList, iSubject, iBody, iAddHtmlAttachment,
                                false, false, true);
    } catch (...) {
        Reraise("Kestrix.Utility.SendEmailToRecipients");
    }
}

void Notifications::SendEmailToRecipientsEx(int32_t iDocID, const Variant& iUserIDs,
                                      const std::string& iCcRecipientList, const std::string& iSubject,
                                      const std::string& iBody, bool iAddHtmlAttachment, bool iSkipTo,
                                      bool iSkipCC, bool iUsePublicationUsersOnly) {
    try {
        if (iSkipTo && iSkipCC) return;
        auto [type, sender] = TypeAndSender(iDocID);
        auto senderUser = users::GetAUObject(sender);
        const std::string from = senderUser->EmailAddress();
        const std::string senderLanguage = senderUser->LanguageID();
        NotificationRendering rendering(iDocID);

        if (!iSkipTo) {
            db::Recordset recipients = iUsePublicationUsersOnly
                                           ? recipients::GetRecipientsFromPublicationTable(iDocID, type, true)
                                           : GetRecipientsFromPublicationTableByUsers(iDocID, type, true, iUserIDs);
            for (; !recipients.Eof(); recipients.MoveNext()) {
                std::string language;
                std::string readerName;
                try {
                    MailRecipient(*this, iDocID, type, from, recipients, iSubject, iBody, rendering, language,
                                  readerName);
                } catch (...) {
                    // One recipient's failure is recorded with the document; the others still
                    // get their mail. When even the record fails, the log keeps the failure.
                    try {
                        Error failure = CurrentError();
                        LogPublicationError(iDocID, failure.number(),
                                            failure.description() + kCrLf +
                                                LabelOrCode("SLBSH0001", Language(language)) +
                                                ": '" + readerName + "'",
                                            "Kestrix.Utility.SendEmailToRecipients", "SLBSH1817");
                    } catch (...) {
                        LogError("Kestrix.Utility.SendEmailToRecipients");
                    }
                }
            }
        }

        if (!iSkipCC && !iCcRecipientList.empty()) {
            std::string html;
            if (iAddHtmlAttachment && !document_types::GetHtmlAttachmentXsl(type).empty()) html = rendering.File();
            const std::string subject = GetSubject(senderLanguage, iSubject, type, ToInt(SENDERMODE::RECEIVERMODE));
            const std::string body =
                GetBody(senderLanguage, iDocID, type, ToInt(SENDERMODE::RECEIVERMODE), iBody, true, "", "");
            email::SendEmail(from, iCcRecipientList, subject, body, html, "");
        }
    } catch (...) {
        Reraise("Kestrix.Utility.SendEmailToRecipientsEx");
    }
}

void Notifications::sendEmailByGettingHTMLAndXML(const std::string& iFrom, const std::string& iBcc,
                                           const std::string& iBody, const std::string& iSubject,
                                           const std::string& iDocID, const std::string& iDocType,
                                           const std::string& iXMLStr, const std::string& iCcList,
                                           bool iAddHtmlDocToCcList, int32_t iSenderMode,
                                           int32_t iLanguageID) {
    std::string html, xmlFile;
    auto removeFiles = [&] {
        if (!html.empty()) html_rendering::DeleteHTMLAttachment(html);
        if (!xmlFile.empty()) files::DeleteXMLFileFromDisk(xmlFile);
    };
    try {
        if (!iDocID.empty()) html = html_rendering::getHTMLAttachmentByUsingXML(iDocID, Variant(iDocType), Variant(iXMLStr));
        if (!iXMLStr.empty()) xmlFile = files::WriteXMLFileToDisk(iXMLStr, iDocID + ".xml").ToString();
        std::string body = iBody;
        bool plain = iSenderMode == -1;
        if (iSenderMode == 0) {
            DocumentStore document;
            int32_t docId = Variant(iDocID).ToLong();
            plain = document.GetStatusOfDocument(docId) == DOCUMENTSTATUS::DOCUMENTNEW;
        }
        if (!plain) {
            int32_t mode = iSenderMode == 0 ? 1 : iSenderMode == 1 ? 0 : iSenderMode;
            std::string link = ReplaceAll(
                links::getDocumentHyperlinkBySenderMode(Variant(iDocID).ToLong(), iDocType, mode), " ", "%20");
            body += std::string(kCrLf) + kCrLf + TranslateLabel("SLBSH1717", iLanguageID) + ":" + kCrLf + link;
        }
        email::SendEmail(iFrom, iBcc, iSubject, body, html, xmlFile);
        if (!Trim(iCcList).empty())
            email::SendEmail(iFrom, iCcList, iSubject, iBody, iAddHtmlDocToCcList ? html : "", "");
        removeFiles();
    } catch (...) {
        try {
            removeFiles();
        } catch (...) {
            LogError("Kestrix.Utility.sendEmailByGettingHTMLAndXML");
        }
        Reraise("Kestrix.Utility.sendEmailByGettingHTMLAndXML");
    }
}

}  // namespace kestrix

namespace kestrix {

namespace {

/// The stored type and sender of a document, untrimmed; an error when there is no row.
std::pair<std::string, std::string> StoredTypeAndSender(int32_t docId) {
    db::Connection connection = GetConnection();
    const db::Recordset row =
        connection.Query("SELECT DOCUMENTTYPEID, SENDER FROM DOCUMENT WHERE DOCUMENTID = ?", {Variant(docId)});
    connection.Close();
    if (row.Eof())
        Raise(EnumerationErrors::DocumentIDNotInDatabase, "Kestrix.Utility.SendEmailToRecipients",
              "Document " + std::to_string(docId) + " is not in the database.");
    return {row.GetString("DOCUMENTTYPEID"), row.GetString("SENDER")};
}

}  // namespace

RecipientNotifier::RecipientNotifier(Notifications& notifications, int32_t docId)
    : notifications_(notifications), docId_(docId), rendering_(docId) {
    auto [type, sender] = StoredTypeAndSender(docId);
    type_ = std::move(type);
    from_ = users::GetAUObject(sender)->EmailAddress();
    recipients_ = recipients::GetRecipientsFromPublicationTable(docId, type_, true);
}

RecipientNotifier::RecipientNotifier(Notifications& notifications, int32_t docId, const std::string& docTypeId,
                                     const std::string& sender, db::Recordset recipients)
    : notifications_(notifications), docId_(docId), type_(docTypeId), recipients_(std::move(recipients)),
      rendering_(docId) {
    std::string login = sender;
    from_ = users::GetAUObject(login)->EmailAddress();
}

std::vector<std::string> RecipientNotifier::Recipients() const {
    db::Recordset rows = recipients_;
    std::vector<std::string> users;
    for (; !rows.Eof(); rows.MoveNext()) users.push_back(rows.GetString("USERID"));
    return users;
}

std::string RecipientNotifier::ReaderName(const std::string& userId) const {
    try {
        std::string id = userId;
        return users::GetAUObject(id)->DisplayName();
    } catch (...) {
        return userId;
    }
}

void RecipientNotifier::Send(const std::string& userId) {
    db::Recordset rows = recipients_;
    while (!rows.Eof() && rows.GetString("USERID") != userId) rows.MoveNext();
    if (rows.Eof())
        throw Error(ErrNum(EnumerationErrors::MissingEmailReceiverError), "Kestrix.Utility.SendEmailToRecipients",
                    "'" + userId + "' is no longer a recipient of document " + std::to_string(docId_) +
                        " who wants mail.");
    std::string language, readerName;
    MailRecipient(notifications_, docId_, type_, from_, rows, "", "", rendering_, language, readerName);
}

}  // namespace kestrix
