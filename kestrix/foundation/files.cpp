// Files: writing XML files, deleting them, existence tests on this
// server and on network shares, the spreadsheet engine switch and the temporary-folder rule.
#include <filesystem>
#include <fstream>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/files.h"
#include "kestrix/foundation/file_handling.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"
#include "platform/services/file_paths.h"
#include "platform/text/code_page.h"
#include "kestrix/foundation/site_settings.h"

namespace kestrix {

namespace fs = std::filesystem;
namespace fserr = services::fserr;

Variant files::WriteXMLFileToDisk(const std::string& i_sXMLStr, const std::string& i_sFileName) {
    std::string name = i_sFileName;
    return WriteXMLFileToDiskAsciiOrUnicode(i_sXMLStr, name, true);
}

namespace {

/// Writes `bytes` to the file `fileName` (a temporary name when blank; the temporary folder
/// when it names no folder) and answers the name; failures are raised under `source`.
Variant WriteBytesToDisk(const std::string& bytes, std::string& fileName, const std::string& source,
                         std::string_view textForErrors) {
    try {
        if (Trim(fileName).empty()) fileName = services::TempFileName();
        const std::string name = files::AddTempPathIfNoDriveFound(fileName);
        const std::string path = LocalFilePath(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            throw services::FileSystemError(std::error_code(errno, std::generic_category()), source, path);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            throw Error(fserr::PathFileAccessError, source, "The file '" + path + "' could not be written.");
        return Variant(name);
    } catch (...) {
        // The text's first characters and the file name tell one failed write from another.
        Reraise(source + "(" + std::string(textForErrors.substr(0, 6)) + ", " + fileName + ")");
    }
}

}  // namespace

Variant files::WriteXMLFileToDiskAsciiOrUnicode(const std::string& i_sXMLStr,
                                                  std::string& i_sFileName, bool i_bUnicode) {
    const std::string bytes = i_bUnicode ? text::Utf8ToUtf16LE(i_sXMLStr, text::ByteOrderMark::Write)
                                         : text::Utf8ToCp1252(i_sXMLStr).bytes;
    return WriteBytesToDisk(bytes, i_sFileName, "Kestrix.Utility.WriteXMLFileToDiskAsciiOrUnicode", i_sXMLStr);
}

Variant files::WriteUtf8FileToDisk(const std::string& text, const std::string& fileName) {
    std::string name = fileName;
    return WriteBytesToDisk(text, name, "Kestrix.Utility.WriteUtf8FileToDisk", text);
}

void files::DeleteXMLFileFromDisk(const std::string& iFileName) {
    try {
        try {
            FileHandling().DeleteFileFromDisk(iFileName);
        } catch (const Error& error) {
            if (error.number() != fserr::PermissionDenied) throw;
            // A file that is in use or protected stays; the log says which.
            Dictionary replacements;
            replacements.Add("[%FILENAME%]", Variant(iFileName));
            LogError(
                "Kestrix.Utility.DeleteXMLFileFromDisk",
                LabelOrCode("SLBSH4567", 0, replacements) + "\r\n" + LabelOrCode("SLBSH0881", 0));
        }
    } catch (...) {
        Reraise("Kestrix.Utility.DeleteXMLFileFromDisk");
    }
}

bool files::FileExist(const std::string& iFileName) {
    try {
        std::error_code ec;
        return fs::is_regular_file(LocalFilePath(iFileName), ec);
    } catch (...) {
        Reraise("Kestrix.Utility.FileExist");
    }
}

bool files::DirExistOnThisServer(const std::string& iDir) {
    try {
        std::error_code ec;
        return fs::is_directory(LocalFilePath(iDir), ec);
    } catch (...) {
        Reraise("Kestrix.Utility.DirExistOnThisServer");
    }
}

bool files::DirExist(const std::string& iDir) {
    try {
        if (services::IsNetworkPath(iDir)) return CallQelFile("DirExist", {Variant(iDir)}).ToBool();
        std::error_code ec;
        return fs::is_directory(LocalFilePath(iDir), ec);
    } catch (...) {
        Reraise("Kestrix.Utility.DirExist");
    }
}

bool files::FileExistAlsoRemote(const std::string& iPath, const std::string& iFile) {
    try {
        if (services::IsNetworkPath(iPath)) {
            std::string path = iPath, file = iFile;
            if (!path.ends_with('\\') && !path.ends_with('/')) path += '\\';
            while (!file.empty() && (file.front() == '\\' || file.front() == '/')) file.erase(0, 1);
            return CallQelFile("FileExist", {Variant(path + file)}).ToBool();
        }
        std::error_code ec;
        return fs::is_regular_file(services::JoinPath(LocalFilePath(iPath), LocalFilePath(iFile)),
                                   ec);
    } catch (...) {
        Reraise("Kestrix.Utility.FileExistAlsoRemote");
    }
}

bool files::IsExcelInstalled() {
    // The workbook engine is part of the platform: without a readable switch it stays on.
    const std::string enabled = SiteSetting("GLOBAL", "ExcelEnabled");
    return !(enabled == "0" || IEquals(enabled, "false"));
}

bool files::IsExcelInstalledWithErrRaise() {
    try {
        if (!IsExcelInstalled())
            Raise(EnumerationErrors::ExcelNotInstalled,
                  "Kestrix.Utility.IsExcelInstalledWithErrRaise", TranslateLabel("SLBSH0040"));
        return true;
    } catch (...) {
        Reraise("Kestrix.Utility.IsExcelInstalledWithErrRaise");
    }
}

std::string files::AddTempPathIfNoDriveFound(const std::string& i_sPath) {
    try {
        if (services::HasDrive(i_sPath)) return i_sPath;
        return services::JoinPath(services::SystemTempFolder(),
                                  services::NormalizeSeparators(i_sPath));
    } catch (...) {
        Reraise("Kestrix.Utility.AddTempPathIfNoDriveFound");
    }
}

}  // namespace kestrix
