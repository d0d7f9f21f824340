// PublishCreateDocument: a document held whole is published at once, or dropped into the
// import queue folder for the next folder import.
#include "kestrix/intake/publish_create_document.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "kestrix/documents/attachment_copies.h"
#include "kestrix/documents/obi.h"
#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/files.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/intake/error_folder.h"
#include "kestrix/processing/document_processing.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"
#include "platform/net/file_target.h"
#include "platform/net/transport.h"
#include "platform/xml/xml.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kClass = "PublishCreateDocument.";
/// Counters "-0" to "-98" are tried before a queue name counts as taken for good.
constexpr int kQueueNameTries = 99;

std::string Source(std::string_view operation) { return std::string(kClass) + std::string(operation); }

/// The bytes of a file; CannotLoadFile when it cannot be read.
std::string FileBytes(const std::string& path, std::string_view source) {
    std::ifstream in(LocalFilePath(path), std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    if (!in || in.bad()) {
        Dictionary replacements;
        replacements.Add("[%FILENAME%]", Variant(path));
        Raise(EnumerationErrors::CannotLoadFile, std::string(source),
              TranslateLabel("SLBSH4560", 0, replacements));
    }
    return bytes.str();
}

}  // namespace

int32_t PublishCreateDocument::Main(const std::string& i_sXMLStr, Variant& i_oAttachments) {
    try {
        return PublishXmlDocument(i_sXMLStr, i_oAttachments, true);
    } catch (...) {
        Reraise(Source("Main"));
    }
}

void PublishCreateDocument::SetPublisherLanguageID(const std::string& i_sLanguageID) {
    try {
        mPublisherLanguageID = Trim(i_sLanguageID).empty() ? 1033 : Variant(i_sLanguageID).ToLong();
    } catch (...) {
        // A language that cannot be read keeps the one set before; messages still get out.
        LogError(Source("SetPublisherLanguageID"), "'" + i_sLanguageID + "' is not a language");
    }
}

int32_t PublishCreateDocument::GetPublisherLanguageID() { return mPublisherLanguageID; }

int32_t PublishCreateDocument::PublishXmlDocument(const std::string& i_sXmlString,
                                                  const Variant& i_oAttachments,
                                                  bool i_bSynchronous) {
    try {
        if (i_bSynchronous) return PublishDocumentSync(i_sXmlString, i_oAttachments);
        if (!i_oAttachments.IsEmpty() && !i_oAttachments.IsNull())
            Raise(EnumerationErrors::AttachmentsSupported, Source("PublishXmlDocument"),
                  TranslateLabel("SLBSH4275", mPublisherLanguageID));
        PublishDocumentAsync("XML", ".xml", i_sXmlString, "");
        return 0;
    } catch (...) {
        Reraise(Source("PublishXmlDocument"));
    }
}

int32_t PublishCreateDocument::PublishExcelDocument(const std::string& i_sExcelFile,
                                                    const Variant& i_oAttachments,
                                                    bool i_bSynchronous) {
    const std::string source = Source("PublishExcelDocument");
    try {
        if (!files::IsExcelInstalled())
            Raise(EnumerationErrors::ExcelNotInstalled, source,
                  TranslateLabel("SLBSH0040", mPublisherLanguageID));
        if (!IsWorkbookDocumentName(i_sExcelFile)) {
            Dictionary replacements;
            replacements.Add("[%FILENAME%]", Variant(i_sExcelFile));
            Raise(EnumerationErrors::NotAnExcelFile, source,
                  TranslateLabel("SLBSH4560", mPublisherLanguageID, replacements));
        }
        if (i_bSynchronous) {
            xml::XmlDocument dom;
            QelExcel excel;
            excel.TransformExcelToXML(LocalFilePath(i_sExcelFile), dom);
            return PublishDocumentSync(dom.Xml(), i_oAttachments);
        }
        if (!i_oAttachments.IsEmpty() && !i_oAttachments.IsNull())
            Raise(EnumerationErrors::AttachmentsSupported, source,
                  TranslateLabel("SLBSH4275", mPublisherLanguageID));
        // The copy keeps the workbook's kind: the folder import opens it by its extension.
        FileHandling files;
        PublishDocumentAsync("QelExcel", "." + files.GetFileExtension(i_sExcelFile), "", i_sExcelFile);
        return 0;
    } catch (...) {
        Reraise(source);
    }
}

int32_t PublishCreateDocument::PublishObiDocument(const std::string& i_sObiObject,
                                                  bool i_bSynchronous) {
    try {
        OBI obi;
        ByteArray version, signature;
        EObiLanguage language = EObiLanguage::XML;
        std::string xml;
        obi.DeconstructObiObject(i_sObiObject, version, language, xml, signature);
        obi.CheckObiVersionSupported(version, language);
        if (i_bSynchronous) return PublishDocumentSync(xml, Variant());
        PublishDocumentAsync("OBI", ".xml", xml, "");
        return 0;
    } catch (...) {
        Reraise(Source("PublishObiDocument"));
    }
}

void PublishCreateDocument::CopyAttachmentCollection(int32_t i_lDocID,
                                                     const Variant& i_oAttachments) {
    kestrix::CopyAttachmentCollection(i_lDocID, i_oAttachments, mPublisherLanguageID);
}

int32_t PublishCreateDocument::PublishDocumentSync(const std::string& i_sXml,
                                                   const Variant& i_oAttachments) {
    const std::string source = Source("PublishDocumentSync");
    int32_t docId = 0, senderBp = senderPartner_;
    int16_t status = 0;
    std::string originalType, originalRecipient, type, sender = senderName_, defaultRecipient;
    std::optional<Error> failure;
    try {
        processing_.ProcessDocumentWithAttachments(0, i_sXml, originalType, originalRecipient,
                                                  i_oAttachments, docId, senderBp, type, sender,
                                                  defaultRecipient, status, -1);
    } catch (...) {
        failure = CurrentError();
    }
    const bool complete = !Trim(type).empty() && !Trim(sender).empty() && senderBp != 0 && docId != 0;
    if (!failure && complete) return docId;

    const std::string cause = failure ? failure->description() : std::string();
    const std::string description =
        LabelOrCode("SLBSH0003", mPublisherLanguageID) + "\r\n" + cause;
    // The text is kept for the administrator; a folder that cannot take it must not hide why
    // the document was refused.
    try {
        error_folder::WriteXmlFileToErrorDir(i_sXml, docId != 0 ? std::to_string(docId) + ".xml"
                                                                 : std::string("Error.xml"));
    } catch (...) {
        LogError(source, "the refused document could not be kept in the error folder");
    }
    try {
        throw Error(ErrNum(EnumerationErrors::ProcessDocumentError),
                    failure ? failure->source() : source, cause,
                    failure ? failure->helpFile() : std::string(),
                    failure ? failure->helpContext() : 0);
    } catch (...) {
        Reraise(source, description);
    }
}

void PublishCreateDocument::PublishDocumentAsync(const std::string& i_sPrefix,
                                                 const std::string& i_sExtension,
                                                 const std::string& i_sSourceText,
                                                 const std::string& i_sSourceFile) {
    const std::string source = Source("PublishDocumentAsync");
    try {
        FileHandling files;
        const std::string folder = files.GetFolderName(EFolderType::XmlPath2Folder);
        // Without the parameter the file would land wherever the process happens to run,
        // where no import ever looks.
        if (Trim(folder).empty())
            Raise(EnumerationErrors::MissingParameter, source,
                  TranslateLabel("KXL0201", mPublisherLanguageID));
        if (!files.FolderExists(folder)) files.CreateFolderTree(folder);
        const std::string data =
            Trim(i_sSourceFile).empty() ? i_sSourceText : FileBytes(i_sSourceFile, source);

        for (int n = 0;; ++n) {
            const std::string name =
                files.GetFileName(EFileType::WithTimeStamp, i_sPrefix, "", "-" + std::to_string(n), i_sExtension);
            try {
                // Written as ".NAME.part" and renamed when whole: the folder import never
                // reads half a file, and a name already there is never replaced.
                net::WriteFileInFolder(LocalFilePath(folder), name, data, net::ExistingFile::Keep);
                lastQueuedFile_ = (fs::path(LocalFilePath(folder)) / name).string();
                return;
            } catch (const Error& e) {
                if (e.number() != net::neterr::TargetExists) throw;
                if (n + 1 >= kQueueNameTries) {
                    Dictionary replacements;
                    replacements.Add("[%FILENAME%]", Variant(name));
                    Raise(EnumerationErrors::AlreadyPresent, source,
                          TranslateLabel("SLBSH4563", mPublisherLanguageID, replacements));
                }
            }
        }
    } catch (...) {
        Reraise(source);
    }
}

Variant PublishCreateDocument::Invoke(std::string_view method, std::span<Variant> args) {
    const size_t n = args.size();
    if (IEquals(method, "Main") && n == 2) return Variant(Main(args[0].ToString(), args[1]));
    if (IEquals(method, "SetPublisherLanguageID") && n == 1) {
        SetPublisherLanguageID(args[0].ToString());
        return {};
    }
    if (IEquals(method, "GetPublisherLanguageID") && n == 0) return Variant(GetPublisherLanguageID());
    if (IEquals(method, "mPublisherLanguageID") && n == 0) return Variant(mPublisherLanguageID);
    if (IEquals(method, "PublishXmlDocument") && n == 3)
        return Variant(PublishXmlDocument(args[0].ToString(), args[1], args[2].ToBool()));
    if (IEquals(method, "PublishExcelDocument") && n == 3)
        return Variant(PublishExcelDocument(args[0].ToString(), args[1], args[2].ToBool()));
    if (IEquals(method, "PublishObiDocument") && n == 2)
        return Variant(PublishObiDocument(args[0].ToString(), args[1].ToBool()));
    if (IEquals(method, "CopyAttachmentCollection") && n == 2) {
        CopyAttachmentCollection(args[0].ToLong(), args[1]);
        return {};
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix
