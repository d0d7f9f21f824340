#include "kestrix/documents/attachments.h"

#include <filesystem>
#include <set>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/file_handling.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"
#include "platform/services/file_paths.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

/// The text ends in a path separator ("/" appended when it ends in neither "/" nor "\").
std::string EndInSeparator(std::string text) {
    if (text.empty() || (text.back() != '/' && text.back() != '\\')) text += '/';
    return text;
}

/// True when `path`, resolved lexically, stays inside `folder`.
bool StaysInside(const fs::path& folder, const fs::path& path) {
    const fs::path base = folder.lexically_normal();
    const fs::path relative = path.lexically_normal().lexically_relative(base);
    if (relative.empty()) return false;
    const std::string first = relative.begin()->string();
    return first != ".." && first != "." && !relative.is_absolute();
}

}  // namespace

void Attachments::ExamenFolderForNewFilesAndWriteThemToDB(int32_t& iDocID,
                                                          std::string& iAbsolutePath) {
    try {
        FileHandling files;
        if (!files.FolderExists(iAbsolutePath)) return;
        db::Connection connection = GetConnection();
        std::set<std::string> known;
        db::Recordset rows =
            connection.Query("select attachmentfilename from attachment where DocumentID = " +
                             EncodeSqlNumber(iDocID));
        for (; !rows.Eof(); rows.MoveNext()) known.insert(rows.GetString("ATTACHMENTFILENAME"));
        for (const fs::path& file : files.GetFilesInFolder(iAbsolutePath)) {
            std::error_code ec;
            if (fs::file_size(file, ec) == 0 && !ec) {
                // An empty file is no attachment: it goes, and gets no row.
                fs::remove(file, ec);
                if (ec)
                    throw services::FileSystemError(
                        ec, "Kestrix.Attachments.ExamenFolderForNewFilesAndWriteThemToDB",
                        file.string());
                continue;
            }
            const std::string name = file.filename().string();
            if (known.contains(name)) continue;
            db::EditRow row;
            row.Set("DOCUMENTID", Variant(iDocID));
            row.Set("ATTACHMENTFILENAME", Variant(name));
            connection.Insert("ATTACHMENT", row, "ATTACHMENTID");
            known.insert(name);
        }
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.Attachments.ExamenFolderForNewFilesAndWriteThemToDB");
    }
}

db::Recordset Attachments::GetDocumentAttachmentsBySenderRS(std::string& iSender, int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT ATTACHMENT.ATTACHMENTFILENAME, ATTACHMENT.ATTACHMENTID "
            "FROM ATTACHMENT INNER JOIN DOCUMENT ON "
            "ATTACHMENT.DOCUMENTID = DOCUMENT.DOCUMENTID "
            "WHERE (DOCUMENT.SENDER = " +
            EncodeSqlText(iSender) +
            ") AND "
            "(DOCUMENT.DOCUMENTID = " +
            EncodeSqlNumber(iDocID) + ")");
        CloseConnection(connection);
        return rs;
    } catch (...) {
        Reraise("Kestrix.Attachments.GetDocumentAttachmentsBySenderRS");
    }
}

void Attachments::DeleteAttachment(int32_t& iDocID, int32_t& iAttID, std::string& iAttFile,
                                   std::string& iPath) {
    try {
        const fs::path folder = fs::path(LocalFilePath(iPath)) / std::to_string(iDocID);
        const fs::path file = folder / LocalFilePath(iAttFile);
        if (Trim(iAttFile).empty() || !StaysInside(folder, file)) {
            Raise(EnumerationErrors::InvalidParamValue, "Kestrix.Attachments.DeleteAttachment",
                  "The attachment file name '" + iAttFile +
                      "' leads out of the document's attachment folder.");
        }
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM ATTACHMENT WHERE ATTACHMENTID = " +
                           EncodeSqlNumber(iAttID));
        CloseConnection(connection);
        FileHandling().DeleteFileFromDisk(file.string());
    } catch (...) {
        Reraise("Kestrix.Attachments.DeleteAttachment");
    }
}

Variant Attachments::AttachmentsMode(Variant& o_sVirtualPath, Variant& o_sFolder) {
    try {
        std::string virtualPath, folder;
        {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query(
                "SELECT PARAMNAME, PARAMVALUE FROM COLLABORATIONPARAMETER WHERE (PARAMNAME = "
                "'AttachmentsVirtualPath') OR "
                "(PARAMNAME = 'AttachmentsFolder')");
            for (; !rs.Eof(); rs.MoveNext()) {
                if (IEquals(rs.GetString("PARAMNAME"), "AttachmentsVirtualPath"))
                    virtualPath = Trim(rs.GetString("PARAMVALUE"));
                else
                    folder = services::InSite(Trim(rs.GetString("PARAMVALUE")), getInstallDir());
            }
            CloseConnection(connection);
        }
        FileHandling files;
        if (!folder.empty()) {
            folder = EndInSeparator(folder);
            virtualPath = EndInSeparator(virtualPath);
            if (!files.FolderExists(folder))
                return Variant(static_cast<int32_t>(EAttachmentMode::NotSupported));
            o_sVirtualPath = Variant(virtualPath);
            o_sFolder = Variant(folder);
            return Variant(static_cast<int32_t>(EAttachmentMode::Supported));
        }
        if (virtualPath.empty() || virtualPath.back() != '/') virtualPath += '/';
        folder = services::JoinPath(getInstallDir(), virtualPath);
        if (!files.FolderExists(folder))
            return Variant(static_cast<int32_t>(EAttachmentMode::NotSupported));
        services::Configuration site;
        site.LoadFile(getSiteConfigFile());
        const std::string host = Trim(site.GetValue("GLOBAL", "NONSECUREHOSTNAME").ToString());
        std::string application = Trim(site.GetValue("GLOBAL", "APPLICATIONDIRECTORY").ToString());
        // The application directory is one part of the address: no separators at its ends.
        while (!application.empty() && (application.front() == '/' || application.front() == '\\'))
            application.erase(0, 1);
        while (!application.empty() && (application.back() == '/' || application.back() == '\\'))
            application.pop_back();
        o_sVirtualPath = Variant("http://" + host + "/" + application + "/" + virtualPath);
        o_sFolder = Variant(folder);
        return Variant(static_cast<int32_t>(EAttachmentMode::Supported));
    } catch (...) {
        Reraise("Kestrix.Attachments.AttachmentsMode");
    }
}

Variant Attachments::Invoke(std::string_view method, std::span<Variant> args) {
    const size_t n = args.size();
    if (IEquals(method, "ExamenFolderForNewFilesAndWriteThemToDB") && n == 2) {
        int32_t doc = args[0].ToLong();
        std::string path = args[1].ToString();
        ExamenFolderForNewFilesAndWriteThemToDB(doc, path);
        return {};
    }
    if (IEquals(method, "DeleteAttachment") && n == 4) {
        int32_t doc = args[0].ToLong(), att = args[1].ToLong();
        std::string file = args[2].ToString(), path = args[3].ToString();
        DeleteAttachment(doc, att, file, path);
        return {};
    }
    if (IEquals(method, "AttachmentsMode") && n == 2) return AttachmentsMode(args[0], args[1]);
    return Object::Invoke(method, args);
}

}  // namespace kestrix
