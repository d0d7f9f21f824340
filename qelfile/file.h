#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix::qelfile {

/// The site's root of network shares (site configuration, section GLOBAL, key "UncRoot").
/// Raises when the site configuration cannot be read or names no root.
std::string UncRoot();

/// A path as this library serves it: a network path "\\server\share\rest" becomes
/// <UncRoot>/server/share/rest, and "\" separators become "/".
std::string LocalPath(std::string_view path);

/// "QelFile.File": files and folders, on this server or on network shares.
class File : public Object {
  public:
    /// Writes the text into a file (overwriting it): UTF-16 with byte-order mark when
    /// `i_bUnicode` is true, else code page 1252. A blank name becomes a fresh temporary name,
    /// handed back through `i_sFileName`; a name without a drive lands in the temporary
    /// folder. Answers the full name written.
    Variant WriteXMLFileToDiskAsciiOrUnicode(std::string& i_sXMLStr, std::string& i_sFileName,
                                             bool& i_bUnicode);
    /// The path unchanged when it has a drive ("/..." or "X:"); else placed in the system's
    /// temporary folder. "" (after logging) when that fails.
    std::string AddTempPathIfNoDriveFound(const std::string& i_sPath);
    /// True when the folder exists.
    bool DirExist(const std::string& iDir);
    /// True when the file exists.
    bool FileExist(const std::string& iFile);
    /// Copies a file. A destination ending in a separator or naming a folder receives the file
    /// under its own name. An existing destination is an error unless `i_bOverwiteFiles`.
    void CopyFile(const std::string& i_sFromFile, const std::string& i_sToFile,
                  bool i_bOverwiteFiles);
    /// Folder and name joined with exactly one separator ("\" for a network path, else "/").
    std::string BuildPath(const std::string& i_sFilePath, const Variant& i_sName);
    /// Creates one folder; its parent must exist and the folder must not.
    void CreateFolder(const std::string& i_sFilePath);
    /// The file name without folder and extension.
    std::string GetBaseName(const std::string& i_sFilePath);
    /// The extension without the dot, case kept ("" when none).
    std::string GetExtensionName(const std::string& i_sFilePath);

    /// Late-bound calls of the operations above by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;
};

}  // namespace kestrix::qelfile
