#pragma once

#include <cstdint>
#include <string>

#include "platform/base/variant.h"

/// Files and folders: XML files written and deleted, existence checks (network paths through the
/// file class created by name), the spreadsheet switch.
namespace kestrix::files {

/// `WriteXMLFileToDiskAsciiOrUnicode` as UTF-16.
Variant WriteXMLFileToDisk(const std::string& i_sXMLStr, const std::string& i_sFileName = {});
/// As `WriteXMLFileToDisk`, with the text written as UTF-8, as it stands (no byte order
/// mark): for files that travel labelled as UTF-8, such as the HTML rendering of a mail.
Variant WriteUtf8FileToDisk(const std::string& text, const std::string& fileName = {});
/// Writes the text into a file, overwriting it: UTF-16 with byte-order mark when
/// `i_bUnicode`, else code page 1252. A blank name becomes a fresh temporary name (handed
/// back); a name without a drive lands in the temporary folder. Answers the name written.
Variant WriteXMLFileToDiskAsciiOrUnicode(const std::string& i_sXMLStr, std::string& i_sFileName,
                                         bool i_bUnicode = true);
/// Deletes the file; a blank name does nothing. A file that may not be deleted is only
/// logged; other failures are raised.
void DeleteXMLFileFromDisk(const std::string& iFileName);
/// True when the file exists on this server.
bool FileExist(const std::string& iFileName);
/// True when the folder exists on this server.
bool DirExistOnThisServer(const std::string& iDir);
/// True when the folder exists; network paths are asked through "QelFile.File".
bool DirExist(const std::string& iDir);
/// True when the file `iFile` exists in the folder `iPath`; network paths are asked
/// through "QelFile.File".
bool FileExistAlsoRemote(const std::string& iPath, const std::string& iFile);
/// True unless the site configuration switches the spreadsheet engine off (section
/// GLOBAL, key "ExcelEnabled" = "0" or "false"). A configuration that cannot be read
/// leaves it on.
bool IsExcelInstalled();
/// `IsExcelInstalled`, raising ExcelNotInstalled when it is false.
bool IsExcelInstalledWithErrRaise();
/// The path unchanged when it has a drive ("/..." or "X:"), else placed in the system's
/// temporary folder.
std::string AddTempPathIfNoDriveFound(const std::string& i_sPath);

}  // namespace kestrix::files
