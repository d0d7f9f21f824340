// PublishByUpload: an uploaded document read back from its upload folder, and the clean-up of
// temporary documents and uploads of earlier days.
#include "kestrix/intake/publish_by_upload.h"

#include <filesystem>
#include <vector>

#include "kestrix/documents/obi.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"
#include "platform/services/file_paths.h"
#include "platform/xml/xml.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr const char* kClass = "Kestrix.PublishByUpload";
/// The condition every delete of this class carries: the document has no type yet. A pattern
/// without wildcards matches the empty text only, so "= ''" selects the same rows, and lets
/// the index on the type find them instead of a scan of every document ever stored.
constexpr const char* kWithoutType = "(DOCUMENTTYPEID IS NULL OR DOCUMENTTYPEID = '')";

std::string Source(std::string_view operation) {
    return std::string(kClass) + "." + std::string(operation);
}

/// The upload folder of a temporary document: <root>/<document identifier>.
std::string UploadFolder(const std::string& root, int32_t docId) {
    return services::JoinPath(LocalFilePath(root), std::to_string(docId));
}

/// Today's date as stored date-times begin ("yyyy-mm-dd"): every CREATIONDATE of an earlier
/// day sorts before it, every one of today after it.
std::string Today() { return DateTime::Now().Sortable().substr(0, 10); }

bool NonEmptyFile(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return !ec && size > 0;
}

/// Deletes a file of an upload folder; a file that is already gone is no failure.
void RemoveFile(const fs::path& file, const std::string& source) {
    std::error_code ec;
    fs::remove(file, ec);
    if (ec) throw services::FileSystemError(ec, source, file.string());
}

/// Deletes a folder with everything in it.
void RemoveFolder(const std::string& folder, const std::string& source) {
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (ec) throw services::FileSystemError(ec, source, folder);
}

}  // namespace

void PublishByUpload::DeleteAllOldTempXMLFiles(std::string& iPath) {
    try {
        // One cut-off for the whole run, so that the rows deleted are exactly those whose
        // errors and files were cleared, also across midnight.
        const std::string today = Today();
        std::vector<int32_t> old;
        {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query(std::string("SELECT DOCUMENTID FROM DOCUMENT ") +
                                                    "WHERE " + kWithoutType + " AND CREATIONDATE < ?",
                                                {Variant(today)});
            for (; !rs.Eof(); rs.MoveNext()) old.push_back(rs.Field("DOCUMENTID").ToLong());
            CloseConnection(connection);
        }
        for (int32_t docId : old) {
            publication_errors::DeletePublicationErrors(docId);
            DeleteOldTempFile(iPath, docId);
        }
        std::string cutoff = today;
        DeleteOldBlankDocumentsInDB(cutoff);
    } catch (...) {
        Reraise(Source("DeleteAllOldTempXMLFiles"));
    }
}

void PublishByUpload::DeleteTempDocumentInDB(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(std::string("DELETE FROM DOCUMENT ") + "WHERE documentid = ? AND " + kWithoutType,
                           {Variant(iDocID)});
        CloseConnection(connection);
    } catch (...) {
        Reraise(Source("DeleteTempDocumentInDB"));
    }
}

std::string PublishByUpload::ReadXMLFile(std::string& iXMLPath, int32_t& iDocID) {
    // The step reached, for the report of a failure.
    std::string step = "10";
    try {
        const std::string folder = UploadFolder(iXMLPath, iDocID);
        FileHandling files;
        if (!files.FolderExists(folder)) return {};
        step = "30";
        const std::vector<fs::path> list = files.GetFilesInFolder(folder);
        std::string result;
        bool found = false;
        for (const fs::path& file : list) {
            step = "40";
            if (!found && IEquals(files.GetFileExtension(file.string()), "xml") && NonEmptyFile(file)) {
                step = "50";
                xml::XmlDocument dom;
                step = "70";
                if (!dom.LoadFile(file.string())) {
                    const xml::ParseError& parse = dom.parseError();
                    throw Error(parse.errorCode, "DOMDocument",
                                "The Dom object couldn't parse the xml file. error:" + parse.reason);
                }
                step = "75";
                OBI obi;
                if (obi.GetObiDocumentInfo(dom, ""))
                    Raise(EnumerationErrors::CannotLoadFile, "Kestrix.PublishByUpLoad.ReadXmlFile",
                          TranslateLabel("SLBSH4250"));
                step = "80";
                result = dom.Xml();
                step = "90";
                RemoveFile(file, Source("ReadXMLFile"));
                found = true;
                step = "100";
            } else {
                step = "110";
                RemoveFile(file, Source("ReadXMLFile"));
            }
        }
        if (!found)
            Raise(EnumerationErrors::MissingXMLFile, kClass, "No XML file found");
        step = "120";
        RemoveFolder(folder, Source("ReadXMLFile"));
        return result;
    } catch (...) {
        Reraise(Source("ReadXMLFile") + " " + step);
    }
}

void PublishByUpload::DeleteXMLFileAndDocument(std::string& iXMLTempPath, int32_t& iDocID) {
    try {
        deleteXMLFile(iXMLTempPath, iDocID);
        DeleteDocumentFromDB(iDocID);
    } catch (...) {
        Reraise(Source("DeleteXMLFileAndDocument"));
    }
}

std::string PublishByUpload::ReadExcelFile(std::string& i_sExcelPath, int32_t& i_lDocID) {
    const std::string source = Source("ReadExcelFile");
    // A workbook that cannot be read goes to the page as it was raised.
    bool unreadable = false;
    try {
        const std::string folder = UploadFolder(i_sExcelPath, i_lDocID);
        FileHandling files;
        if (!files.FolderExists(folder))
            Raise(EnumerationErrors::NotAnExcelFile, kClass,
                  "Additional information: " + TranslateLabel("SLBSH4226"));
        std::string result;
        bool found = false;
        for (const fs::path& file : files.GetFilesInFolder(folder)) {
            if (!found && IsWorkbookDocumentName(file.string()) && NonEmptyFile(file)) {
                try {
                    xml::XmlDocument dom;
                    QelExcel excel;
                    excel.TransformExcelToXML(file.string(), dom);
                    result = dom.Xml();
                } catch (...) {
                    // The page shows one plain reason; the log keeps the engine's.
                    LogError(source);
                    unreadable = true;
                    throw Error(ErrNum(EnumerationErrors::NotAnExcelFile), kClass,
                                "Additional information: " + TranslateLabel("SLBSH4525"));
                }
                RemoveFile(file, source);
                found = true;
            } else {
                RemoveFile(file, source);
            }
        }
        if (!found)
            Raise(EnumerationErrors::NotAnExcelFile, kClass,
                  "Additional information: " + TranslateLabel("SLBSH4225"));
        RemoveFolder(folder, source);
        return result;
    } catch (...) {
        if (unreadable) throw;
        Reraise(source);
    }
}

void PublishByUpload::DeleteOldTempFile(const std::string& root, int32_t docId) {
    const std::string source = Source("DeleteOldTempFile");
    std::string step = "1";
    try {
        const std::string folder = UploadFolder(root, docId);
        FileHandling files;
        step = "2";
        if (!files.FolderExists(folder)) return;
        step = "3";
        const std::vector<fs::path> list = files.GetFilesInFolder(folder);
        for (const fs::path& file : list) {
            step = "4";
            RemoveFile(file, source);
            step = "5";
        }
        step = "6";
    } catch (...) {
        Reraise(source + " " + step);
    }
}

void PublishByUpload::DeleteOldBlankDocumentsInDB(const std::string& cutoff) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(std::string("DELETE FROM DOCUMENT ") + "WHERE " + kWithoutType +
                               " AND CREATIONDATE < ?",
                           {Variant(cutoff)});
        CloseConnection(connection);
    } catch (...) {
        Reraise(Source("DeleteOldBlankDocumentsInDB"));
    }
}

void PublishByUpload::deleteXMLFile(const std::string& root, int32_t docId) {
    try {
        const std::string folder = UploadFolder(root, docId);
        FileHandling files;
        if (files.FolderExists(folder)) RemoveFolder(folder, Source("deleteXMLFile"));
    } catch (...) {
        Reraise(Source("deleteXMLFile"));
    }
}

void PublishByUpload::DeleteDocumentFromDB(int32_t docId) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(std::string("DELETE FROM DOCUMENT ") + "WHERE DOCUMENTID = ? AND " + kWithoutType,
                           {Variant(docId)});
        CloseConnection(connection);
    } catch (...) {
        Reraise(Source("DeleteDocumentFromDB"));
    }
}

Variant PublishByUpload::Invoke(std::string_view method, std::span<Variant> args) {
    const size_t n = args.size();
    auto text = [&](size_t i) { return args[i].ToString(); };
    if (IEquals(method, "DeleteAllOldTempXMLFiles") && n == 1) {
        std::string root = text(0);
        DeleteAllOldTempXMLFiles(root);
        return {};
    }
    if (IEquals(method, "DeleteTempDocumentInDB") && n == 1) {
        int32_t doc = args[0].ToLong();
        DeleteTempDocumentInDB(doc);
        return {};
    }
    if (IEquals(method, "ReadXMLFile") && n == 2) {
        std::string root = text(0);
        int32_t doc = args[1].ToLong();
        return Variant(ReadXMLFile(root, doc));
    }
    if (IEquals(method, "DeleteXMLFileAndDocument") && n == 2) {
        std::string root = text(0);
        int32_t doc = args[1].ToLong();
        DeleteXMLFileAndDocument(root, doc);
        return {};
    }
    if (IEquals(method, "ReadExcelFile") && n == 2) {
        std::string root = text(0);
        int32_t doc = args[1].ToLong();
        return Variant(ReadExcelFile(root, doc));
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix
