#include "kestrix/documents/attachment_copies.h"

#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/file_handling.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "PublishCreateDocument.CopyAttachments";

Variant CallFile(Object& file, std::string_view method, std::vector<Variant> args) {
    return file.Invoke(method, args);
}

}  // namespace

void CopyAttachmentCollection(int32_t docId, const Variant& attachments, int32_t languageId) {
    if (!attachments.IsArray() || attachments.ToArray().empty()) return;
    try {
        ObjectPtr file = Qel_getComponent("QelFile.File");
        if (!file) throw Error(errnum::E_FAIL, kSource, "QelFile.File is not available.");
        FileHandling files;
        std::string path = ReplaceAll(files.GetFolderName(EFolderType::AttachmentsVirtualFolder, ""), "/", "\\");
        path = Trim(path);
        std::string folder = CallFile(*file, "BuildPath", {services::Configuration::RootFolder(), path}).ToString();
        folder = CallFile(*file, "BuildPath", {folder, std::to_string(docId)}).ToString();
        CallFile(*file, "CreateFolder", {folder});

        db::Connection connection = GetConnection();
        for (const Variant& entry : attachments.ToArray()) {
            const std::string source = entry.IsNull() ? std::string() : entry.ToString();
            try {
                const std::string name = CallFile(*file, "GetBaseName", {source}).ToString() + "." +
                                         CallFile(*file, "GetExtensionName", {source}).ToString();
                files.CopyFile(source, CallFile(*file, "BuildPath", {folder, name}).ToString(), true);
                db::EditRow row;
                row.Set("DOCUMENTID", docId);
                row.Set("ATTACHMENTFILENAME", name);
                connection.Insert("ATTACHMENT", row);
            } catch (...) {
                // One attachment's failure is recorded with the document and the others are
                // still copied; when even the record fails, the log keeps the failure.
                try {
                    Error failure = CurrentError();
                    LogPublicationError(docId, failure.number(),
                                        failure.description() + "\r\n" +
                                            LabelOrCode("SLBSH0002", languageId) + ": '" +
                                            source + "'",
                                        kSource, "SLBSH1816");
                } catch (...) {
                    LogError(kSource);
                }
            }
        }
    } catch (...) {
        Error failure = CurrentError();
        try {
            LogPublicationError(docId, failure.number(), failure.description(), kSource, "SLBSH1808");
        } catch (...) {
            LogError(kSource);
        }
        LogError(kSource);
    }
}

}  // namespace kestrix
