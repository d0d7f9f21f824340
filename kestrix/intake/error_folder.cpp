// The error folder: files that failed processing are kept in a folder of the
// second they failed in, under names no other file of that folder holds.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/intake/error_folder.h"
#include "kestrix/foundation/file_handling.h"
#include "platform/base/strings.h"
#include "platform/services/file_paths.h"
#include "platform/text/code_page.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

/// The name with the counter: before the first "." ("a1.b.xml" from "a.b.xml"), or at the
/// end of a name without one.
std::string Numbered(const std::string& name, uint64_t counter) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return name + std::to_string(counter);
    return name.substr(0, dot) + std::to_string(counter) + name.substr(dot);
}

/// The file name as the error folder keeps it: a temporary name for a blank one, without a
/// leading "~".
std::string ErrorFileName(std::string name) {
    if (Trim(name).empty()) name = services::TempFileName();
    if (name.starts_with('~')) name.erase(0, 1);
    if (Trim(name).empty()) name = services::TempFileName();
    return name;
}

/// Tries the plain name, then the numbered names, until `claim` takes one; `claim` answers
/// false when the name is taken (and raises on any other failure). Two workers that write
/// the same name at the same moment each get a name of their own, since a name is claimed
/// by creating it, not by looking first.
template <typename Claim>
std::string ClaimFreeName(const std::string& dir, const std::string& name, Claim claim) {
    std::string candidate = services::JoinPath(dir, name);
    for (uint64_t counter = 1; !claim(candidate); ++counter)
        candidate = services::JoinPath(dir, Numbered(name, counter));
    return candidate;
}

}  // namespace

std::string error_folder::ErrorFolderRoot() { return LocalFilePath(GetParameter("XMLErrorPath")); }

std::string error_folder::CreateErrorDir() {
    try {
        std::string root = GetParameter("XMLErrorPath");
        FileHandling files;
        if (!files.FolderExists(root)) files.CreateFolderTree(root);
        const std::string now = DateTime::Now().Sortable();  // "yyyy-mm-dd hh:mm:ss"
        const std::string date = now.substr(0, 10);
        const std::string time =
            now.size() >= 19 ? ReplaceAll(now.substr(11, 8), ":", "-") : "00-00-00";
        // The folder lies inside the root, also when the parameter has no final separator.
        const std::string path =
            services::WithTrailingSeparator(LocalFilePath(root)) + date + "_" + time;
        std::error_code ec;
        if (!fs::create_directory(path, ec) && ec && !fs::is_directory(path))
            throw services::FileSystemError(ec, "Kestrix.Utility.CreateErrorDir", path);
        return path;
    } catch (...) {
        Reraise("Kestrix.Utility.CreateErrorDir");
    }
}

std::string error_folder::WriteXmlFileToErrorDir(const std::string& iFileContent,
                                            const std::string& iFileName) {
    try {
        const std::string dir = CreateErrorDir();
        const std::string name = ErrorFileName(iFileName);
        int fd = -1;
        const std::string path = ClaimFreeName(dir, name, [&](const std::string& candidate) {
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) return true;
            if (errno == EEXIST) return false;
            throw services::FileSystemError(std::error_code(errno, std::generic_category()),
                                            "Kestrix.Utility.WriteXmlFileToErrorDir", candidate);
        });
        const std::string bytes = text::Utf8ToUtf16LE(iFileContent, text::ByteOrderMark::Write);
        size_t written = 0;
        while (written < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                std::error_code ec(errno, std::generic_category());
                ::close(fd);
                throw services::FileSystemError(ec, "Kestrix.Utility.WriteXmlFileToErrorDir", path);
            }
            written += static_cast<size_t>(n);
        }
        if (::close(fd) != 0)
            throw services::FileSystemError(std::error_code(errno, std::generic_category()),
                                            "Kestrix.Utility.WriteXmlFileToErrorDir", path);
        return path;
    } catch (...) {
        Reraise("Kestrix.Utility.WriteXmlFileToErrorDir");
    }
}

std::string error_folder::MoveFileToErrorDir(const fs::path& iFile) {
    try {
        std::error_code ec;
        if (!fs::is_regular_file(iFile, ec))
            throw services::FileSystemError(
                std::make_error_code(std::errc::no_such_file_or_directory),
                "Kestrix.Utility.MoveFileToErrorDir", iFile.string());
        const std::string dir = CreateErrorDir();
        const std::string name = ErrorFileName(iFile.filename().string());
        const std::string path = ClaimFreeName(dir, name, [&](const std::string& candidate) {
            // A hard link claims the name only when it is free; the old name goes afterwards.
            if (::link(iFile.c_str(), candidate.c_str()) == 0) return true;
            if (errno == EEXIST) return false;
            if (errno != EXDEV && errno != EPERM)
                throw services::FileSystemError(std::error_code(errno, std::generic_category()),
                                                "Kestrix.Utility.MoveFileToErrorDir", candidate);
            // Another file system: copy without replacing anything.
            std::error_code copyError;
            if (fs::copy_file(iFile, candidate, fs::copy_options::none, copyError)) return true;
            if (copyError == std::errc::file_exists) return false;
            throw services::FileSystemError(copyError, "Kestrix.Utility.MoveFileToErrorDir",
                                            candidate);
        });
        fs::remove(iFile, ec);
        if (ec) {
            std::error_code ignored;
            fs::remove(path, ignored);
            throw services::FileSystemError(ec, "Kestrix.Utility.MoveFileToErrorDir",
                                            iFile.string());
        }
        return path;
    } catch (...) {
        Reraise("Kestrix.Utility.MoveFileToErrorDir");
    }
}

std::string error_folder::CopyFileToErrorDir(const fs::path& iFile) {
    try {
        std::error_code ec;
        if (!fs::is_regular_file(iFile, ec))
            throw services::FileSystemError(
                std::make_error_code(std::errc::no_such_file_or_directory),
                "Kestrix.Utility.CopyFileToErrorDir", iFile.string());
        const std::string dir = CreateErrorDir();
        const std::string name = ErrorFileName(iFile.filename().string());
        return ClaimFreeName(dir, name, [&](const std::string& candidate) {
            // The copy never replaces a file: a name taken meanwhile is passed over.
            std::error_code copyError;
            if (fs::copy_file(iFile, candidate, fs::copy_options::none, copyError)) return true;
            if (copyError == std::errc::file_exists) return false;
            throw services::FileSystemError(copyError, "Kestrix.Utility.CopyFileToErrorDir",
                                            candidate);
        });
    } catch (...) {
        Reraise("Kestrix.Utility.CopyFileToErrorDir");
    }
}

}  // namespace kestrix
