// PublishForwardDocument: a received document passed on as a new document.
#include "kestrix/intake/publish_forward_document.h"

#include <filesystem>
#include <vector>

#include "kestrix/documents/obi.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/users.h"
#include "kestrix/processing/document_processing.h"
#include "kestrix/rules/routing.h"
#include "platform/base/dictionary.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"
#include "platform/services/file_paths.h"
#include "platform/xml/xml.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr const char* kClass = "Kestrix.PublishForwardDocument";
constexpr const char* kMain2 = "Kestrix.PublishForwardDocument.Main2";

/// The stored document that is forwarded.
struct StoredDocument {
    std::string type, sender, body, defaultReceiver;
};

std::string Text(const Variant& value) { return value.IsNull() ? std::string() : value.ToString(); }

StoredDocument ReadStoredDocument(int32_t docId) {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "Select DOCUMENTTYPEID, SENDER, XMLBODY, DEFAULTRECEIVER from DOCUMENT where DOCUMENTID = ?",
        {Variant(docId)});
    CloseConnection(connection);
    if (rs.Eof())
        Raise(EnumerationErrors::DocumentIDNotInDatabase, kClass,
              "Document with documentID = " + std::to_string(docId) + " doesn't exist.");
    return {Text(rs.Field("DOCUMENTTYPEID")), Text(rs.Field("SENDER")), Text(rs.Field("XMLBODY")),
            Text(rs.Field("DEFAULTRECEIVER"))};
}

/// Gives the new document the attachment rows of the old one and a copy of its attachment
/// folder. A failure becomes a publication error of the new document.
void CopyAttachments(int32_t oldId, int32_t newId, const std::string& root) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            std::string("SELECT ATTACHMENTFILENAME ") + "FROM ATTACHMENT " + "WHERE DOCUMENTID = ?",
            {Variant(oldId)});
        std::vector<std::string> names;
        for (; !rs.Eof(); rs.MoveNext()) names.push_back(Text(rs.Field("ATTACHMENTFILENAME")));
        for (const std::string& name : names) {
            db::EditRow row;
            row.Set("DOCUMENTID", newId);
            row.Set("ATTACHMENTFILENAME", name);
            connection.Insert("ATTACHMENT", row);
        }
        CloseConnection(connection);

        const std::string from = services::JoinPath(LocalFilePath(root), std::to_string(oldId));
        std::error_code ec;
        if (!Trim(root).empty() && fs::is_directory(from, ec)) {
            const std::string to = services::JoinPath(LocalFilePath(root), std::to_string(newId));
            fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
            if (ec) throw services::FileSystemError(ec, std::string(kClass) + ".copyAttachmentFolder", to);
        }
    } catch (...) {
        const Error failure = CurrentError();
        try {
            LogPublicationError(newId, failure.number(),
                                failure.description() + "\r\n" + "Copy from document: '" +
                                    std::to_string(oldId) + "'" + "\r\n" + "Path : '" + root + "'",
                                std::string(kClass) + ".copyAttachments", "SLBSH1808");
        } catch (...) {
            LogError(std::string(kClass) + ".copyAttachments");
        }
    }
}

/// Marks the user's publication of the old document as forwarded. A failure becomes a
/// publication error of the new document.
void SetForwardFlagToForwarded(int32_t oldId, int32_t newId, const std::string& user) {
    constexpr const char* kSource = "KestrixPublishForwardDocument.SetForwardFlagToForw";
    try {
        db::Connection connection = GetConnection();
        connection.Execute(std::string("UPDATE PUBLICATION ") + "Set FORWARD = 1 " +
                               "WHERE (DOCUMENTID = ?) AND (USERID = ?)",
                           {Variant(oldId), Variant(user)});
        CloseConnection(connection);
    } catch (...) {
        const Error failure = CurrentError();
        try {
            LogPublicationError(newId, failure.number(), failure.description(), kSource, "SLBSH1814");
        } catch (...) {
            LogError(kSource);
        }
    }
}

}  // namespace

int32_t PublishForwardDocument::Main(int32_t, const std::string&, const std::string&) {
    RaiseError("Kestrix.PublishForwardDocument.Main", "Function 'Main' is deprecated: instead use 'Main2'");
    return -1;
}

int32_t PublishForwardDocument::Main2(int32_t iDocID, const std::string& iNewDocTypeID,
                                      const std::string& iUser, const std::string& iAttPath) {
    return Forward(iDocID, iNewDocTypeID, iUser, iUser, iAttPath, false);
}

int32_t PublishForwardDocument::ForwardTo(int32_t iDocID, const std::string& iNewDocTypeID,
                                          const std::string& iUser, const std::string& iRecipient,
                                          const std::string& iAttPath) {
    return Forward(iDocID, iNewDocTypeID, iUser, iRecipient, iAttPath, true);
}

int32_t PublishForwardDocument::Forward(int32_t iDocID, const std::string& iNewDocTypeID, const std::string& iUser,
                                        const std::string& iRecipient, const std::string& iAttPath,
                                        bool publishToRecipient) {
    // Which step failed decides the label the caller is shown.
    enum class Step { Reading, Partner, Processing, Other } step = Step::Reading;
    StoredDocument stored;
    int32_t senderBp = 0;
    try {
        stored = ReadStoredDocument(iDocID);
        {
            OBI obi;
            xml::XmlDocument dom;
            if (obi.GetObiDocumentInfo(dom, stored.body))
                Raise(EnumerationErrors::CannotLoadFile, kMain2, TranslateLabel("SLBSH4303"));
        }
        step = Step::Partner;
        std::string sender = stored.sender;
        senderBp = users::GetAUBusinessPartnerID(sender);

        step = Step::Processing;
        DocumentProcessing processing;
        std::string originalType = stored.type, recipient = iRecipient, senderName = iUser;
        std::string type = iNewDocTypeID, defaultRecipient;
        int32_t newId = 0;
        int16_t status = 0;
        processing.ProcessDocument(-1, stored.body, originalType, recipient, newId, senderBp, type,
                                   senderName, defaultRecipient, status, iDocID);
        if (publishToRecipient) {
            // Processing leaves a document of a changed type without recipients: the chosen
            // one gets his publication row here, and the document is published to him.
            DocumentStore store;
            const std::string newType = store.GetDocumentTypeOfDocument(newId);
            if (!newType.empty()) routing::FillPublicationTable(newId, newType, 0, iRecipient);
            if (store.UserIsRecipientOfDoc(newId, iRecipient))
                store.SetDocumentStatus(newId, DOCUMENTSTATUS::DOCUMENTPUBLISHED);
        }

        step = Step::Other;
        CopyAttachments(iDocID, newId, iAttPath);
        SetForwardFlagToForwarded(iDocID, newId, iUser);
        return newId;
    } catch (...) {
        Dictionary replacements;
        std::string label;
        switch (step) {
            case Step::Reading:
                label = "SLBSH4307";
                replacements.Add("[%DOCTYPEID%]", Variant(std::to_string(iDocID)));
                break;
            case Step::Partner:
                label = "SLBSH4306";
                replacements.Add("[%ID%]", Variant(stored.sender));
                replacements.Add("[%DOCTYPEID%]", Variant(stored.type));
                break;
            case Step::Processing:
                label = "SLBSH4305";
                replacements.Add("[%TYPE%]", Variant(stored.type));
                replacements.Add("[%BP%]", Variant(std::to_string(senderBp)));
                break;
            case Step::Other:
                label = "SLBSH4308";
                replacements.Add("[%DOCID%]", Variant(std::to_string(iDocID)));
                break;
        }
        Reraise(kMain2, LabelOrCode(label, 0, replacements));
    }
}

bool PublishForwardDocument::TransformExist(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(std::string("SELECT TABLEID FROM DOCUMENT, DOCTYPETODOCTYPE ") +
                                                "WHERE DOCUMENTID = ? AND " +
                                                "DOCUMENT.DOCUMENTTYPEID = DOCTYPETODOCTYPE.DOCUMENTTYPEID",
                                            {Variant(iDocID)});
        CloseConnection(connection);
        return !rs.Eof();
    } catch (...) {
        Reraise("Kestrix.PublishForwardDocument.TransformExist");
    }
}

void PublishForwardDocument::RemoveAllRecipientsForDocument(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM PUBLICATION WHERE DOCUMENTID = ?", {Variant(iDocID)});
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.PublishForwardDocument.RemoveAllRecipientsForDocument");
    }
}

Variant PublishForwardDocument::Invoke(std::string_view method, std::span<Variant> args) {
    const size_t n = args.size();
    if (IEquals(method, "Main") && n == 3)
        return Variant(Main(args[0].ToLong(), args[1].ToString(), args[2].ToString()));
    if (IEquals(method, "Main2") && n == 4)
        return Variant(Main2(args[0].ToLong(), args[1].ToString(), args[2].ToString(), args[3].ToString()));
    if (IEquals(method, "TransformExist") && n == 1) {
        int32_t doc = args[0].ToLong();
        return Variant(TransformExist(doc));
    }
    if (IEquals(method, "RemoveAllRecipientsForDocument") && n == 1) {
        int32_t doc = args[0].ToLong();
        RemoveAllRecipientsForDocument(doc);
        return {};
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix
