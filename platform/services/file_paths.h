#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/base/error.h"

namespace kestrix::services {

/// Error numbers of the file system, kept as the business layer has always seen them.
namespace fserr {
/// The file named does not exist.
inline constexpr int32_t FileNotFound = 53;
/// The file to be created exists already.
inline constexpr int32_t FileAlreadyExists = 58;
/// The file or folder may not be touched (permissions, or in use).
inline constexpr int32_t PermissionDenied = 70;
/// The folder named does not exist.
inline constexpr int32_t PathNotFound = 76;
/// Any other failure of the file system.
inline constexpr int32_t PathFileAccessError = 75;
}  // namespace fserr

/// The path with every "\" turned into "/", the separator of this system.
std::string NormalizeSeparators(std::string_view path);

/// True for a network path, one that begins with "\\" ("\\server\share\rest").
bool IsNetworkPath(std::string_view path);

/// True when the path names its root: "/..." (or "\..." that is not a network path) or a
/// drive letter "X:". A bare name and a network path have none.
bool HasDrive(std::string_view path);

/// The network path "\\server\share\rest" as the local path <uncRoot>/server/share/rest.
/// Parts that are "." or ".." are refused (an error with PathNotFound), so that a network
/// path can never reach outside `uncRoot`. A path that is not a network path is only
/// normalised.
std::string MapNetworkPath(std::string_view path, std::string_view uncRoot);

/// Folder and name joined with exactly one separator ("/" of this system): a separator at
/// the end of `folder` or the start of `name` is not doubled. An empty folder gives the name.
std::string JoinPath(std::string_view folder, std::string_view name);

/// A path read from a site's settings: a relative one is taken inside the folder `site`, so
/// that a site copied elsewhere keeps working on its own files; an absolute path, a network
/// path, an address ("http://...") and "" are answered as they are.
std::string InSite(std::string_view path, std::string_view site);

/// The folder plus a separator, unless it already ends in "/" or "\".
std::string WithTrailingSeparator(std::string_view folder);

/// The system's temporary folder (TMPDIR, else /tmp), without a trailing separator.
std::string SystemTempFolder();

/// A fresh temporary file name without folder: "kx" + eight random letters and digits +
/// ".tmp". The file is not created.
std::string TempFileName();

/// The error of a failed file-system call: the number from `fserr` for the usual causes
/// (missing file or folder, exists, permission), PathFileAccessError otherwise; the
/// description is the system's message followed by the path in quotes.
Error FileSystemError(const std::error_code& code, std::string source, std::string_view path);

}  // namespace kestrix::services
