#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

/// The error folder: folders of one second under the server parameter "XMLErrorPath" and the files
/// put there.
namespace kestrix::error_folder {

/// The error folder itself (server parameter "XMLErrorPath") as a local path.
std::string ErrorFolderRoot();
/// A folder of the present second under the error folder (server parameter
/// "XMLErrorPath", created with its parents when missing), named
/// "yyyy-mm-dd_hh-mm-ss"; created when missing. Answers its path.
std::string CreateErrorDir();
/// Writes the content as UTF-16 into a new file of a fresh error folder and answers its
/// path. A blank name becomes a temporary name; a leading "~" is dropped; a name already
/// taken gets a counter before its first "." (at its end when it has none).
std::string WriteXmlFileToErrorDir(const std::string& iFileContent,
                                   const std::string& iFileName = {});
/// Moves the file into a fresh error folder under a free name (as above) and answers its
/// new path.
std::string MoveFileToErrorDir(const std::filesystem::path& iFile);
/// Copies the file into a fresh error folder under a free name (as above) and answers the
/// copy's path; the file stays where it is.
std::string CopyFileToErrorDir(const std::filesystem::path& iFile);

}  // namespace kestrix::error_folder
