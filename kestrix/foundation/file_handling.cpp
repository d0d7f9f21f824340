#include "kestrix/foundation/file_handling.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"
#include "platform/services/file_paths.h"
#include "platform/text/code_page.h"

namespace kestrix {

namespace fs = std::filesystem;
namespace fserr = services::fserr;

namespace {

constexpr const char* kWriteSource = "Kestrix.FileHandling.WriteFileToDisk";
/// Deeper paths than this are refused by CreateFolderTree.
constexpr int kMaxFolderLevels = 127;
/// Source files are appended in blocks of this many bytes.
constexpr size_t kBlockSize = 1024;

/// The label's text with one placeholder filled.
std::string Label(std::string_view code, std::string_view placeholder = {},
                  std::string_view value = {}) {
    if (placeholder.empty()) return TranslateLabel(code);
    Dictionary replacements;
    replacements.Add(std::string(placeholder), Variant(value));
    return TranslateLabel(code, 0, replacements);
}

std::string Parameter(const char* name) { return Trim(GetParameter(name)); }

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

/// The text as single-byte code page 1252; a text that code page cannot hold is written as
/// UTF-8 instead, so that no character is lost (the readers of these files detect UTF-8).
std::string SingleByte(std::string_view text) {
    text::Conversion converted = text::Utf8ToCp1252(text);
    return converted.lossless ? std::move(converted.bytes) : std::string(text);
}

}  // namespace

std::string TimeStampSuffix(const DateTime& moment) {
    // Sortable() is "yyyy-mm-dd hh:mm:ss".
    std::string sortable = moment.Sortable();
    if (sortable.size() == 10) sortable += " 00:00:00";
    std::string date = ReplaceAll(sortable.substr(0, 10), "-", ".");
    std::string time = ReplaceAll(sortable.substr(11, 8), ":", ".");
    return "_" + date + "_" + time;
}

std::string LocalFilePath(const std::string& path) { return services::NormalizeSeparators(path); }

Variant CallQelFile(std::string_view method, std::vector<Variant> args) {
    ObjectPtr file = CreateComponent("QelFile.File");
    return file->Invoke(method, args);
}

std::string FileHandling::GetFileExtension(const std::string& i_sFileName) {
    try {
        std::string name = fs::path(LocalFilePath(i_sFileName)).filename().string();
        size_t dot = name.rfind('.');
        return dot == std::string::npos ? std::string() : ToLower(name.substr(dot + 1));
    } catch (...) {
        Reraise("Kestrix.FileHandling.GetFileExtension");
    }
}

std::string FileHandling::GetFolderName(EFolderType i_nFolderType,
                                        const std::string& i_sFolderName) {
    try {
        switch (i_nFolderType) {
            case EFolderType::AsIs:
                return i_sFolderName;
            case EFolderType::UploadFolder:
                return Parameter("XmlUploadTempDir");
            case EFolderType::ErrorFolder:
                return Parameter("ErrorPath");
            case EFolderType::XmlPath1Folder:
                return Parameter("XMLPath1");
            case EFolderType::XmlPath2Folder:
                return Parameter("XMLPath2");
            case EFolderType::XmlErrorFolder:
                return Parameter("XMLErrorPath");
            case EFolderType::ObiFolder:
                return Parameter("ObiPath");
            // The operating system's own folder and its libraries.
            case EFolderType::WindowsFolder:
                return "/usr";
            case EFolderType::SystemFolder:
                return "/usr/lib";
            case EFolderType::TempFolder: {
                std::string folder = Parameter("TempFolder");
                return folder.empty() ? services::SystemTempFolder() : folder;
            }
            case EFolderType::WithTimeStamp:
                return i_sFolderName + TimeStampSuffix(DateTime::Now());
            case EFolderType::AttachmentsVirtualFolder:
                return Parameter("AttachmentsVirtualPath");
            case EFolderType::ExcelTempFolder: {
                std::string folder = Parameter("ExcelTempFolder");
                if (!folder.empty() && !FolderExists(folder)) CreateFolderTree(folder);
                return folder;
            }
        }
        return i_sFolderName.empty() ? std::string(".") : i_sFolderName;
    } catch (...) {
        Reraise("Kestrix.FileHandling.GetFolderName");
    }
}

std::string FileHandling::GetFileName(EFileType i_nFileType, const std::string& i_sFilePrefix,
                                      const std::string& i_sFileName,
                                      const std::string& i_sFileSuffix,
                                      const std::string& i_sFileExtension) {
    try {
        const std::string prefix = Trim(i_sFilePrefix), name = Trim(i_sFileName);
        const std::string suffix = Trim(i_sFileSuffix), extension = Trim(i_sFileExtension);
        switch (i_nFileType) {
            case EFileType::AsIs:
                return prefix + name + suffix + extension;
            case EFileType::TempFile:
                return prefix + services::TempFileName() + suffix + extension;
            case EFileType::WithTimeStamp:
                return prefix + name + TimeStampSuffix(DateTime::Now()) + suffix + extension;
            case EFileType::Backup:
                break;
        }
        return {};
    } catch (...) {
        Reraise("Kestrix.FileHandling.GetFileName");
    }
}

void FileHandling::WriteFileToDisk(const std::string& i_sDestFile,
                                   const std::string& i_sSourceString,
                                   const std::string& i_sSourceFile, bool i_bCreateFolders,
                                   bool i_bCreateFile, bool i_bOverwriteFile,
                                   EFileIOMode i_nIOMode) {
    const std::string source = kWriteSource;
    try {
        if (Trim(i_sDestFile).empty())
            Raise(EnumerationErrors::MissingParameter, source + "_DestFile", Label("SLBSH4566"));
        if (i_nIOMode == EFileIOMode::Reading)
            Raise(EnumerationErrors::WrongIOMode, source, Label("SLBSH4562"));
        const bool haveText = !Trim(i_sSourceString).empty();
        const bool haveFile = !Trim(i_sSourceFile).empty();
        if (haveText && haveFile)
            Raise(EnumerationErrors::NotPresent, source + "_SourceFile", Label("SLBSH4565"));

        const std::string dest = LocalFilePath(i_sDestFile);
        const std::string from = LocalFilePath(i_sSourceFile);
        std::error_code ec;
        if (haveFile && !fs::is_regular_file(from, ec))
            Raise(EnumerationErrors::NotPresent, source + "_SourceFile",
                  Label("SLBSH4561", "[%FILENAME%]", i_sSourceFile));
        const bool destExists = Exists(dest);
        if (!destExists && !i_bCreateFile)
            Raise(EnumerationErrors::NotPresent, source + "_DestFile",
                  Label("SLBSH4561", "[%FILENAME%]", i_sDestFile));
        if (destExists && !i_bOverwriteFile)
            Raise(EnumerationErrors::AlreadyPresent, source,
                  Label("SLBSH4563", "[%FILENAME%]", i_sDestFile));

        const std::string folder = fs::path(dest).parent_path().string();
        if (!folder.empty() && !fs::is_directory(folder, ec)) {
            if (!i_bCreateFolders)
                Raise(EnumerationErrors::NotPresent, source + "_DestFolder",
                      Label("SLBSH4564", "[%FOLDERNAME%]", folder));
            CreateFolderTree(folder);
        }

        const auto mode = std::ios::binary |
                          (i_nIOMode == EFileIOMode::Appending ? std::ios::app : std::ios::trunc);
        if (!haveFile) {
            std::ofstream out(dest, mode);
            if (!out)
                throw services::FileSystemError(std::error_code(errno, std::generic_category()),
                                                source, dest);
            const std::string bytes = SingleByte(i_sSourceString);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out)
                throw Error(fserr::PathFileAccessError, source,
                            "The file '" + dest + "' could not be written.");
        } else if (i_nIOMode == EFileIOMode::Appending) {
            std::ifstream in(from, std::ios::binary);
            std::ofstream out(dest, mode);
            if (!in)
                throw services::FileSystemError(std::error_code(errno, std::generic_category()),
                                                source, from);
            if (!out)
                throw services::FileSystemError(std::error_code(errno, std::generic_category()),
                                                source, dest);
            char block[kBlockSize];
            while (in.read(block, sizeof block) || in.gcount() > 0) out.write(block, in.gcount());
            out.close();
            if (!out)
                throw Error(fserr::PathFileAccessError, source,
                            "The file '" + dest + "' could not be written.");
        } else {
            fs::copy_file(
                from, dest,
                i_bOverwriteFile ? fs::copy_options::overwrite_existing : fs::copy_options::none,
                ec);
            if (ec) throw services::FileSystemError(ec, source, dest);
        }
    } catch (const Error& error) {
        // "File already exists" of the file system is reported as the library's own error.
        if (error.number() == fserr::FileAlreadyExists) {
            try {
                Raise(EnumerationErrors::AlreadyPresent, source,
                      Label("SLBSH4563", "[%FILENAME%]", i_sDestFile));
            } catch (...) {
                Reraise(source);
            }
        }
        Reraise(source);
    } catch (...) {
        Reraise(source);
    }
}

void FileHandling::CreateFolderTree(const std::string& i_sFilePath) {
    try {
        std::vector<fs::path> missing;
        fs::path current = fs::path(LocalFilePath(i_sFilePath));
        while (!current.empty() && current.filename().empty() && current != current.root_path())
            current = current.parent_path();  // a trailing separator names the same folder
        std::error_code ec;
        while (!current.empty() && !fs::exists(current, ec)) {
            if (static_cast<int>(missing.size()) >= kMaxFolderLevels)
                throw Error(fserr::PathNotFound, "Kestrix.FileHandling.CreateFolderTree",
                            "Too many missing folder levels: '" + i_sFilePath + "'");
            missing.push_back(current);
            fs::path parent = current.parent_path();
            if (parent == current) break;
            current = parent;
        }
        for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
            fs::create_directory(*level, ec);
            if (ec)
                throw services::FileSystemError(ec, "Kestrix.FileHandling.CreateFolderTree",
                                                level->string());
        }
    } catch (...) {
        Reraise("Kestrix.FileHandling.CreateFolderTree");
    }
}

std::vector<fs::path> FileHandling::GetFilesInFolder(const std::string& i_sFolder) {
    try {
        std::vector<fs::path> files;
        const std::string folder = LocalFilePath(i_sFolder);
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec)
            throw services::FileSystemError(ec, "Kestrix.FileHandling.GetFilesInFolder", folder);
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec)
                throw services::FileSystemError(ec, "Kestrix.FileHandling.GetFilesInFolder",
                                                folder);
            std::error_code kind;
            if (it->is_regular_file(kind)) files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        return files;
    } catch (...) {
        Reraise("Kestrix.FileHandling.GetFilesInFolder");
    }
}

std::string FileHandling::GetFileContentAsString(const std::string& i_sFileName) {
    try {
        std::ifstream in(LocalFilePath(i_sFileName), std::ios::binary);
        std::ostringstream bytes;
        if (in) bytes << in.rdbuf();
        if (!in || in.bad())
            Raise(EnumerationErrors::CannotLoadFile, "Kestrix.FileHandling.GetFileContentAsString",
                  Label("SLBSH4560", "[%FILENAME%]", i_sFileName));
        return text::DecodeText(bytes.str());
    } catch (...) {
        Reraise("Kestrix.FileHandling.GetFileContentAsString");
    }
}

void FileHandling::DeleteFileFromDisk(const std::string& i_sFileName) {
    try {
        if (Trim(i_sFileName).empty()) return;
        const std::string path = LocalFilePath(i_sFileName);
        std::error_code ec;
        if (!fs::is_regular_file(path, ec))
            throw services::FileSystemError(
                std::make_error_code(std::errc::no_such_file_or_directory),
                "Kestrix.FileHandling.DeleteFileFromDisk", i_sFileName);
        if (!fs::remove(path, ec) || ec)
            throw services::FileSystemError(ec, "Kestrix.FileHandling.DeleteFileFromDisk",
                                            i_sFileName);
    } catch (...) {
        Reraise("Kestrix.FileHandling.DeleteFileFromDisk");
    }
}

void FileHandling::CopyFile(const std::string& i_sFromFile, const std::string& i_sToFile,
                            bool i_bOverwiteFiles) {
    try {
        if (services::IsNetworkPath(i_sFromFile) || services::IsNetworkPath(i_sToFile)) {
            CallQelFile("CopyFile",
                        {Variant(i_sFromFile), Variant(i_sToFile), Variant(i_bOverwiteFiles)});
            return;
        }
        const std::string from = LocalFilePath(i_sFromFile);
        std::string to = LocalFilePath(i_sToFile);
        std::error_code ec;
        if (!fs::is_regular_file(from, ec))
            throw services::FileSystemError(
                std::make_error_code(std::errc::no_such_file_or_directory),
                "Kestrix.FileHandling.CopyFile", i_sFromFile);
        if (to.ends_with('/') || fs::is_directory(to, ec))
            to = services::JoinPath(to, fs::path(from).filename().string());
        if (!i_bOverwiteFiles && fs::exists(to, ec))
            throw services::FileSystemError(std::make_error_code(std::errc::file_exists),
                                            "Kestrix.FileHandling.CopyFile", i_sToFile);
        fs::copy_file(
            from, to,
            i_bOverwiteFiles ? fs::copy_options::overwrite_existing : fs::copy_options::none, ec);
        if (ec) throw services::FileSystemError(ec, "Kestrix.FileHandling.CopyFile", i_sToFile);
    } catch (...) {
        Reraise("Kestrix.FileHandling.CopyFile");
    }
}

bool FileHandling::FolderExists(const std::string& i_sFolderName) {
    try {
        if (Trim(i_sFolderName).empty()) return false;
        if (services::IsNetworkPath(i_sFolderName))
            return CallQelFile("DirExist", {Variant(i_sFolderName)}).ToBool();
        std::error_code ec;
        return fs::is_directory(LocalFilePath(i_sFolderName), ec);
    } catch (...) {
        Reraise("Kestrix.FileHandling.FolderExists");
    }
}

Variant FileHandling::Invoke(std::string_view method, std::span<Variant> args) {
    auto text = [&](size_t i) { return i < args.size() ? args[i].ToString() : std::string(); };
    const size_t n = args.size();
    if (IEquals(method, "GetFileExtension") && n == 1) return GetFileExtension(text(0));
    if (IEquals(method, "GetFolderName") && (n == 1 || n == 2))
        return GetFolderName(static_cast<EFolderType>(args[0].ToLong()), text(1));
    if (IEquals(method, "GetFileName") && n == 5)
        return GetFileName(static_cast<EFileType>(args[0].ToLong()), text(1), text(2), text(3),
                           text(4));
    if (IEquals(method, "CreateFolderTree") && n == 1) {
        CreateFolderTree(text(0));
        return {};
    }
    if (IEquals(method, "GetFileContentAsString") && n == 1) return GetFileContentAsString(text(0));
    if (IEquals(method, "DeleteFileFromDisk") && n == 1) {
        DeleteFileFromDisk(text(0));
        return {};
    }
    if (IEquals(method, "CopyFile") && n == 3) {
        CopyFile(text(0), text(1), args[2].ToBool());
        return {};
    }
    if (IEquals(method, "FolderExists") && n == 1) return FolderExists(text(0));
    return Object::Invoke(method, args);
}

}  // namespace kestrix
