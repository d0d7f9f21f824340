#include "platform/net/file_target.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/net/transport.h"

namespace kestrix::net {

namespace {

constexpr const char* kSource = "Net.WriteFileInFolder";

/// A file descriptor, closed when the owner goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const noexcept { return fd_; }
    /// Closes now and reports the close's own failure (a delayed write error).
    int Close() noexcept {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

/// The part file: removed when the owner goes, unless the delivery was completed.
class PartFile {
  public:
    PartFile(int dirFd, std::string name) : dirFd_(dirFd), name_(std::move(name)) {}
    ~PartFile() {
        if (!done_) ::unlinkat(dirFd_, name_.c_str(), 0);
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    void Done() noexcept { done_ = true; }

  private:
    int dirFd_;
    std::string name_;
    bool done_ = false;
};

[[noreturn]] void Fail(int err, const std::string& what, const std::filesystem::path& folder) {
    std::string why;
    bool transient = false;
    switch (err) {
        case ENOENT:
            why = what == "open the target" ? "the folder does not exist" : std::strerror(err);
            break;
        case ENOTDIR:
            why = "the path is not a folder";
            break;
        case EROFS:
            why = "the folder is on a read-only file system";
            break;
        case EACCES:
        case EPERM:
            why = "the folder is not writable for this process";
            break;
        case ENOSPC:
        case EDQUOT:
            why = "the folder is full (no space left or quota reached)";
            transient = true;
            break;
        case EEXIST:
            why = "a file of that name is already there and is not replaced";
            break;
        case EIO:
        case EINTR:
        case EAGAIN:
            why = std::strerror(err);
            transient = true;
            break;
        default:
            why = std::strerror(err);
            break;
    }
    int32_t number = err == EEXIST ? neterr::TargetExists : neterr::FileErrorBase + err;
    throw TransportError(
        number, kSource,
        "Cannot " + what + " in the folder '" + folder.string() + "': " + why + ".", transient);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

void WriteFileInFolder(const std::filesystem::path& folder, std::string_view name,
                       std::string_view data, ExistingFile existing) {
    std::string target(name);
    if (target.empty() || target == "." || target == ".." ||
        target.find('/') != std::string::npos || target.find('\0') != std::string::npos) {
        throw TransportError(neterr::InvalidSetting, kSource,
                             "Cannot deliver into the folder '" + folder.string() +
                                 "': the file name '" + target + "' is not a plain file name.",
                             false);
    }
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) Fail(errno, "open the target", folder);

    const std::string part = "." + target + ".part";
    int fd = ::openat(dir.get(), part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        // Left by a delivery that died before it could clean up: nobody reads part files.
        ::unlinkat(dir.get(), part.c_str(), 0);
        fd = ::openat(dir.get(), part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    }
    if (fd < 0) Fail(errno, "create '" + part + "'", folder);
    UniqueFd file(fd);
    PartFile guard(dir.get(), part);

    if (!WriteAll(file.get(), data)) Fail(errno, "write '" + part + "'", folder);
    if (::fsync(file.get()) != 0) Fail(errno, "flush '" + part + "' to disk", folder);
    if (file.Close() != 0) Fail(errno, "close '" + part + "'", folder);

    if (existing == ExistingFile::Replace) {
        if (::renameat(dir.get(), part.c_str(), dir.get(), target.c_str()) != 0)
            Fail(errno, "move '" + part + "' to '" + target + "'", folder);
    } else if (::renameat2(dir.get(), part.c_str(), dir.get(), target.c_str(), RENAME_NOREPLACE) !=
               0) {
        int err = errno;
        if (err != EINVAL && err != ENOSYS)
            Fail(err, "move '" + part + "' to '" + target + "'", folder);
        // A file system without the no-replace rename: a hard link refuses an existing name
        // just the same; the part name is removed afterwards.
        if (::linkat(dir.get(), part.c_str(), dir.get(), target.c_str(), 0) != 0)
            Fail(errno, "link '" + part + "' as '" + target + "'", folder);
        ::unlinkat(dir.get(), part.c_str(), 0);
    }
    guard.Done();
    // The new name is durable only once the folder itself is on disk.
    ::fsync(dir.get());
}

}  // namespace kestrix::net
