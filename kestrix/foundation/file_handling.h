#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "_yyyy.mm.dd_hh.mm.ss" (24-hour clock) of a moment: the stamp that folder and file names
/// of the kind `WithTimeStamp` carry.
std::string TimeStampSuffix(const DateTime& moment);

/// A path as the business layer serves it locally: "\" separators become "/". Network paths
/// ("\\server\share") are not served here but by "QelFile.File".
std::string LocalFilePath(const std::string& path);

/// Calls an operation of "QelFile.File", created by name for this one call, on network
/// paths. Raises what the library raises.
Variant CallQelFile(std::string_view method, std::vector<Variant> args);

/// "Kestrix.FileHandling": folders by kind, file names by kind, and writing, copying,
/// reading and deleting files. Paths beginning with "\\" (network shares) are copied and
/// tested through "QelFile.File"; all others are served by this server's file system.
class FileHandling : public Object {
  public:
    /// The extension of the file name in lower case, without the dot ("" when none).
    std::string GetFileExtension(const std::string& i_sFileName);
    /// The folder of a kind: a server parameter (trimmed), the system's temporary folder, the
    /// name with a time stamp, or the name itself. The Excel temporary folder is created
    /// when missing.
    std::string GetFolderName(EFolderType i_nFolderType, const std::string& i_sFolderName = {});
    /// The file name of a kind from its trimmed parts; "" for `Backup` and unknown kinds.
    std::string GetFileName(EFileType i_nFileType, const std::string& i_sFilePrefix,
                            const std::string& i_sFileName, const std::string& i_sFileSuffix,
                            const std::string& i_sFileExtension);
    /// Writes a text (single-byte) or the content of a source file to the destination, after
    /// checking the arguments, the files and the folder (see the errors raised:
    /// MissingParameter, WrongIOMode, NotPresent, AlreadyPresent).
    void WriteFileToDisk(const std::string& i_sDestFile, const std::string& i_sSourceString = {},
                         const std::string& i_sSourceFile = {}, bool i_bCreateFolders = false,
                         bool i_bCreateFile = true, bool i_bOverwriteFile = false,
                         EFileIOMode i_nIOMode = EFileIOMode::Appending);
    /// Creates every missing folder of the path, from the top down.
    void CreateFolderTree(const std::string& i_sFilePath);
    /// The files of the folder (not its sub-folders), sorted by name.
    std::vector<std::filesystem::path> GetFilesInFolder(const std::string& i_sFolder);
    /// The whole file as text (UTF-8, UTF-16 or code page 1252, as its bytes say);
    /// CannotLoadFile when it cannot be read.
    std::string GetFileContentAsString(const std::string& i_sFileName);
    /// Deletes the file; a blank name does nothing.
    void DeleteFileFromDisk(const std::string& i_sFileName);
    /// Copies a file; when either path is a network path the copy goes through "QelFile.File".
    void CopyFile(const std::string& i_sFromFile, const std::string& i_sToFile,
                  bool i_bOverwiteFiles);
    /// True when the folder exists (through "QelFile.File" for a network path); false for a
    /// blank name.
    bool FolderExists(const std::string& i_sFolderName);

    /// Late-bound calls of the operations by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;
};

}  // namespace kestrix
