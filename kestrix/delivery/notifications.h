#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix {

/// Notification mails of a processed document: to its sender and its recipients, each in his
/// language.
class Notifications {
  public:
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
    std::string GetBody(const std::string& iLanguageID, int32_t iDocID,
                        const std::string& iDocTypeID, int32_t iSenderMode,
                        const std::string& iBody = {}, bool iCcFlag = false,
                        std::string iToRecipientList = {},
                        const std::string& iCcRecipientList = {});
    /// The recipients of a document limited to the given users (an array of logins; all when
    /// empty), without deleted publications.
    db::Recordset GetRecipientsFromPublicationTableByUsers(int32_t iDocID,
                                                           const std::string& iDocTypeID,
                                                           bool iEmailFlag = false,
                                                           const Variant& iUserIDs = {});
    /// Tells the sender, when the sender list asks for it, in the sender's language.
    void SendEmailToSender(int32_t iDocID, const std::string& iSubject, const std::string& iBody,
                           bool iAddHtmlAttachment, const std::string& iToRecipientList,
                           const std::string& iCcRecipientList = {});
    /// SendEmailToSender for the default subject and body, from the type and sender the
    /// caller already holds as they are stored, which are then not read again.
    void NotifySender(int32_t iDocID, const std::string& iDocTypeID, const std::string& iSender);
    /// SendEmailToRecipientsEx for every recipient of the publication table.
    void SendEmailToRecipients(int32_t iDocID, const std::string& iCcRecipientList,
                               const std::string& iSubject, const std::string& iBody = {},
                               bool iAddHtmlAttachment = false);
    /// Tells every recipient who wants mail, each in his language and with the HTML rendering
    /// where his distribution list asks for it, and the copy list; a recipient whose mail
    /// fails gets a publication error and the others still get theirs.
    void SendEmailToRecipientsEx(int32_t iDocID, const Variant& iUserIDs,
                                 const std::string& iCcRecipientList, const std::string& iSubject,
                                 const std::string& iBody, bool iAddHtmlAttachment, bool iSkipTo,
                                 bool iSkipCC = false, bool iUsePublicationUsersOnly = true);
    /// Mails a document as XML file with its HTML rendering, with a link to its page.
    void sendEmailByGettingHTMLAndXML(const std::string& iFrom, const std::string& iBcc,
                                      const std::string& iBody, const std::string& iSubject,
                                      const std::string& iDocID, const std::string& iDocType,
                                      const std::string& iXMLStr, const std::string& iCcList = {},
                                      bool iAddHtmlDocToCcList = false, int32_t iSenderMode = -1,
                                      int32_t iLanguageID = 1033);
    /// The language of these notifications, set by the first one to a sender when not set
    /// before (0 = not set).
    int32_t PublisherLanguageID() const { return publisherLanguage_; }

  private:
    void MailSender(int32_t docId, const std::string& type, const std::string& sender, const std::string& subject,
                    const std::string& body, const std::string& toRecipients, const std::string& ccRecipients);

    int32_t publisherLanguage_ = 0;
};

/// The HTML rendering of a document for its notifications: made on first need, removed with
/// the object.
class NotificationRendering {
  public:
    explicit NotificationRendering(int32_t docId) : docId_(docId) {}
    ~NotificationRendering();
    NotificationRendering(const NotificationRendering&) = delete;
    NotificationRendering& operator=(const NotificationRendering&) = delete;

    /// The rendering's file ("" when the document's type has no style sheet).
    const std::string& File();

  private:
    int32_t docId_;
    bool made_ = false;
    std::string file_;
};

/// Tells the recipients of one stored document about it, one recipient at a time, so that
/// each failure can be kept and tried again on its own. The HTML rendering is made once, on
/// first need, and removed with the object.
class RecipientNotifier {
  public:
    RecipientNotifier(Notifications& notifications, int32_t docId);
    /// As above, from the type and sender the caller holds as they are stored and the
    /// recipients who want mail as GetRecipientsFromPublicationTable answered them.
    RecipientNotifier(Notifications& notifications, int32_t docId, const std::string& docTypeId,
                      const std::string& sender, db::Recordset recipients);
    RecipientNotifier(const RecipientNotifier&) = delete;
    RecipientNotifier& operator=(const RecipientNotifier&) = delete;

    /// The users of the document's publications who want mail, in the order of the table.
    std::vector<std::string> Recipients() const;
    /// Mails the notification to one of them, in his language, with the rendering where his
    /// distribution list asks for it. Raises when the mail cannot be sent.
    void Send(const std::string& userId);
    /// The user's display name, or the login when the directory does not know him.
    std::string ReaderName(const std::string& userId) const;

  private:

    Notifications& notifications_;
    int32_t docId_;
    std::string type_;
    std::string from_;
    db::Recordset recipients_;
    NotificationRendering rendering_;
};

}  // namespace kestrix
