// Collaboration: the status changes of publications and documents, and the publication errors.
#include "kestrix/documents/document.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/web/collaboration.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"

namespace kestrix {

namespace {

bool IsDeleted(int32_t status) {
    return status == 2 || status == 3 || status == 7 || status == 8 || status == 9;
}

/// The status a row in `current` takes on the request: accepting and rejecting always apply,
/// new, viewed and downloaded only to a row that is new, viewed or downloaded (viewed and
/// downloaded replace each other); a deletion deletes the current state.
int32_t NextPublicationStatus(int32_t current, int32_t requested) {
    int32_t next = requested;
    if (current == 5 || current == 6) {
        if (requested == 0) next = current;
    } else if (current >= 1 && current <= 9) {
        if (requested == 0 || requested == 5 || requested == 6) next = current;
    }
    if (IsDeleted(requested)) {
        switch (current) {
            case 0: next = 2; break;
            case 1: next = 3; break;
            case 4: next = 7; break;
            case 5: next = 8; break;
            case 6: next = 9; break;
            default: next = requested; break;
        }
    }
    return next;
}

}  // namespace

int32_t Collaboration::GetPublicationStatus(int32_t iDocID, const std::string& iUserID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            " SELECT STATUS  FROM PUBLICATION WHERE DOCUMENTID = ? AND USERID = ?",
            {Variant(iDocID), Variant(iUserID)});
        if (rs.Eof()) return -1;
        return static_cast<int32_t>(rs.GetInt("STATUS", -1));
    } catch (...) {
        Reraise("Kestrix.Collaboration.GetPublicationStatus");
    }
}

int64_t Collaboration::ExecQuery(const BoundSql& statement) {
    try {
        db::Connection connection = GetConnection();
        return connection.Execute(statement.sql, statement.params);
    } catch (...) {
        Reraise("Kestrix.Collaboration.ExecQuery", statement.sql);
    }
}

int64_t Collaboration::ChangePublicationStatus(int32_t iDocID, const std::string& iUserID,
                                               int32_t iStatus) {
    if (iStatus < 0 || iStatus > 9)
        Raise(EnumerationErrors::InvalidParamValue, "Kestrix.Collaboration.SetPublicationStatus",
              "The publication status " + std::to_string(iStatus) + " is not known.");
    const int32_t current = GetPublicationStatus(iDocID, iUserID);
    const int32_t next = NextPublicationStatus(current, iStatus);
    if (next == current) return 0;
    BoundSql update;
    update.Append("UPDATE PUBLICATION SET STATUS = ").Bind(Variant(next))
        .Append(" WHERE (DOCUMENTID = ").Bind(Variant(iDocID))
        .Append(") AND (USERID = ").Bind(Variant(iUserID)).Append(")");
    return ExecQuery(update);
}

void Collaboration::SetPublicationStatus(int32_t iDocID, const std::string& iUserID,
                                         int32_t iStatus, int32_t iPublicationErrorID) {
    try {
        if (iPublicationErrorID != 0) {
            BoundSql update;
            update.Append("UPDATE PUBLICATION SET PUBLICATIONERRORID = ").Bind(Variant(iPublicationErrorID))
                .Append(" WHERE (DOCUMENTID = ").Bind(Variant(iDocID))
                .Append(") AND (USERID = ").Bind(Variant(iUserID)).Append(")");
            ExecQuery(update);
            return;
        }
        // The status is read and written in one unit of work, so that two requests of the
        // same row cannot both decide from the same old state.
        db::Transaction transaction(CurrentConnectionString());
        ChangePublicationStatus(iDocID, iUserID, iStatus);
        transaction.Commit();
    } catch (...) {
        Reraise("Kestrix.Collaboration.SetPublicationStatus");
    }
}

void Collaboration::SetPublicationStatusToAccepted(int32_t iDocID, const std::string& iUserID) {
    try {
        ChangePublicationStatus(iDocID, iUserID, 1);
    } catch (...) {
        Reraise("Kestrix.Collaboration.SetPublicationStatusToAccepted");
    }
}

int16_t Collaboration::CountAcceptedDocs(int32_t iDocID, const std::string& iUserID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            " SELECT COUNT(DOCUMENTID) AS NotAcceptedDocuments FROM   PUBLICATION"
            " WHERE  DOCUMENTID = ? AND    USERID <> ? AND    not STATUS IN (1,3)",
            {Variant(iDocID), Variant(iUserID)});
        return static_cast<int16_t>(rs.GetInt("NotAcceptedDocuments"));
    } catch (...) {
        Reraise("Collaboration.CountAcceptedDocs");
    }
}

void Collaboration::AcceptPublication(int32_t iDocID, const std::string& iUserID) {
    try {
        // The publication and the document change together or not at all.
        db::Transaction transaction(CurrentConnectionString());
        if (GetPublicationStatus(iDocID, iUserID) == -1)
            Raise(EnumerationErrors::InvalidParamValue, "Collaboration.AcceptDocument",
                  "The user " + iUserID + " holds no publication of document " +
                      std::to_string(iDocID) + ".");
        SetPublicationStatusToAccepted(iDocID, iUserID);
        const int16_t notAccepted = CountAcceptedDocs(iDocID, iUserID);
        int32_t doc = iDocID;
        DocumentStore().SetDocumentStatus(doc, notAccepted > 0
                                                   ? DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED
                                                   : DOCUMENTSTATUS::DOCUMENTACCEPTED);
        transaction.Commit();
    } catch (...) {
        Reraise("Collaboration.AcceptDocument");
    }
}

bool Collaboration::deleteDocument2(int32_t iDocID, const std::string& /*iDocTypeID*/,
                                    int32_t iSenderMode, const std::string& iUserName,
                                    const std::string& /*iPath*/, bool iIsChildDoc) {
    try {
        using M = SENDERMODE;
        const auto mode = static_cast<M>(iSenderMode);
        if (!iIsChildDoc && mode != M::SENDERMODE && mode != M::RECEIVERMODE &&
            mode != M::ERRORMODE && mode != M::CHANGEDOCTYPEMODE)
            return false;
        // The publication row and the document change together or not at all.
        db::Transaction transaction(CurrentConnectionString());
        DocumentStore store;
        int32_t doc = iDocID;
        const bool isSender = store.GetSenderOfDocument(doc) == iUserName;
        if (iIsChildDoc) {
            if (store.UserIsRecipientOfDoc(doc, iUserName)) ChangePublicationStatus(iDocID, iUserName, 2);
            if (isSender) store.SetDocumentStatus(doc, DOCUMENTSTATUS::DOCUMENTDELETED);
        } else if (mode == M::SENDERMODE) {
            // Only the sender removes a document from everyone's lists.
            if (!isSender) return false;
            store.SetDocumentStatus(doc, DOCUMENTSTATUS::DOCUMENTDELETED);
        } else {
            ChangePublicationStatus(iDocID, iUserName, 2);
        }
        transaction.Commit();
        return true;
    } catch (...) {
        Reraise("Kestrix.Collaboration.deleteDocument2");
    }
}

void Collaboration::ClosePublicationErrorsForOneCategory(int32_t i_lDocID,
                                                         const std::string& i_sCategory) {
    publication_errors::ClosePublicationErrorsForOneCategory(i_lDocID, i_sCategory);
}

void Collaboration::ClosePublicationErrors(int32_t iPublicationErrorID, int32_t iDocID) {
    publication_errors::ClosePublicationErrors(iPublicationErrorID, iDocID);
}

void Collaboration::DeletePublicationErrors(int32_t iDocID) {
    publication_errors::DeletePublicationErrors(iDocID);
}

}  // namespace kestrix
