#include "platform/net/ftp.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/base/strings.h"
#include "platform/net/curl_easy.h"
#include "platform/net/url.h"

namespace kestrix::net {

namespace {

constexpr const char* kSource = "Net.FtpPut";

enum class Kind { Ftp, Ftps, Sftp };

/// Where an upload goes, taken apart once.
struct Target {
    Kind kind = Kind::Ftp;
    Address address;
    int port = 0;
    /// "/in/orders" without a trailing "/"; empty for the login folder.
    std::string folder;
    std::string user;
    std::string password;

    std::string where() const { return HostAndPort(address, port); }
    std::string folderText() const { return folder.empty() ? "(login folder)" : folder; }
    /// The path of a file of the folder as the quote commands name it: from the root, or
    /// relative to the login folder, where the server starts.
    std::string PathOf(std::string_view name) const {
        return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
    }
    /// The address of the folder (ending in "/") for the transfer library, no credentials.
    std::string FolderUrl() const {
        std::string url = address.scheme + "://" + where();
        if (kind == Kind::Sftp) {
            if (folder.empty()) return url + "/~/";
            for (const std::string& part : Split(folder.substr(1), '/'))
                url += "/" + EscapeQueryValue(part);
            return url + "/";
        }
        url += "/";
        // "%2F" first: one "CWD /in/orders" from the root, as the folder is written.
        if (!folder.empty()) {
            url += "%2F";
            std::vector<std::string> parts = Split(folder.substr(1), '/');
            for (size_t i = 0; i < parts.size(); ++i)
                url += (i ? "/" : "") + EscapeQueryValue(parts[i]);
            url += "/";
        }
        return url;
    }
};

[[noreturn]] void InvalidAddress(std::string_view address, const std::string& why) {
    throw TransportError(neterr::InvalidAddress, kSource,
                         "The FTP address '" + MaskAddress(address) + "' " + why + ".", false);
}

Target Resolve(std::string_view text, std::string_view fileName, const FtpOptions& options) {
    std::optional<Address> parsed = ParseAddress(Trim(text));
    if (!parsed) InvalidAddress(text, "needs a scheme (ftp://, ftps://, sftp://) and a host");
    Target t;
    t.address = std::move(*parsed);
    if (t.address.scheme == "ftp") {
        t.kind = Kind::Ftp;
    } else if (t.address.scheme == "ftps") {
        t.kind = Kind::Ftps;
    } else if (t.address.scheme == "sftp") {
        t.kind = Kind::Sftp;
    } else {
        InvalidAddress(
            text, "has the scheme '" + t.address.scheme + "'; only ftp, ftps and sftp are known");
    }
    int defaultPort = t.kind == Kind::Ftp ? 21 : t.kind == Kind::Ftps ? 990 : 22;
    t.port = t.address.port > 0 ? t.address.port : options.port > 0 ? options.port : defaultPort;
    t.folder = t.address.path;
    while (!t.folder.empty() && t.folder.back() == '/') t.folder.pop_back();
    if (!options.user.empty()) {
        t.user = options.user;
        t.password = options.password;
    } else {
        t.user = t.address.user;
        t.password = t.address.password;
    }
    std::string name(fileName);
    // A control character would end a command line and begin another one.
    auto hasControl = [](std::string_view s) {
        return std::any_of(s.begin(), s.end(),
                           [](unsigned char c) { return c < 0x20 || c == 0x7f; });
    };
    if (hasControl(t.folder)) InvalidAddress(text, "names a folder with control characters");
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == ".." ||
        hasControl(name)) {
        throw TransportError(
            neterr::InvalidSetting, kSource,
            "Cannot upload to " + t.where() + ": '" + name + "' is not a plain file name.", false);
    }
    if (t.kind == Kind::Sftp && Trim(options.knownHostsFile).empty()) {
        throw TransportError(
            neterr::InvalidSetting, kSource,
            "Cannot upload to " + t.where() +
                " by SFTP without a known-hosts file to check the server's key against.",
            false);
    }
    return t;
}

/// The bytes to upload, handed to the library piece by piece.
class Source {
  public:
    virtual ~Source() = default;
    virtual size_t Read(char* buffer, size_t size) = 0;
    virtual curl_off_t Size() const = 0;
    /// True once the library asked for bytes: the store has begun.
    bool started = false;

    static size_t Callback(char* buffer, size_t size, size_t count, void* self) {
        auto* source = static_cast<Source*>(self);
        source->started = true;
        return source->Read(buffer, size * count);
    }
};

class MemorySource : public Source {
  public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    size_t Read(char* buffer, size_t size) override {
        size_t n = std::min(size, data_.size());
        std::copy_n(data_.data(), n, buffer);
        data_.remove_prefix(n);
        return n;
    }
    curl_off_t Size() const override { return static_cast<curl_off_t>(data_.size()); }

  private:
    std::string_view data_;
};

class FileSource : public Source {
  public:
    explicit FileSource(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "rb")) {
        std::error_code ec;
        size_ = static_cast<curl_off_t>(std::filesystem::file_size(path, ec));
        if (!file_ || ec) {
            throw TransportError(neterr::InvalidSetting, kSource,
                                 "Cannot read the local file '" + path.string() + "' to upload it.",
                                 false);
        }
    }
    size_t Read(char* buffer, size_t size) override {
        size_t n = std::fread(buffer, 1, size, file_.get());
        return std::ferror(file_.get()) ? CURL_READFUNC_ABORT : n;
    }
    curl_off_t Size() const override { return size_; }

  private:
    struct Close {
        void operator()(FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<FILE, Close> file_;
    curl_off_t size_ = 0;
};

/// What the host key check found, for the message.
struct HostKeyCheck {
    bool called = false;
    curl_khmatch match = CURLKHMATCH_OK;

    static int Callback(CURL*, const curl_khkey*, const curl_khkey*, curl_khmatch match,
                        void* self) {
        auto* check = static_cast<HostKeyCheck*>(self);
        check->called = true;
        check->match = match;
        return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
    }
};

/// The settings of connecting and logging in, shared by the upload and the clean-up.
void Connect(detail::CurlEasy& curl, const Target& t, const FtpOptions& options,
             HostKeyCheck& keyCheck) {
    const char* protocols = t.kind == Kind::Sftp ? "sftp" : t.kind == Kind::Ftps ? "ftps" : "ftp";
    curl.Set(CURLOPT_PROTOCOLS_STR, protocols);
    curl.ApplyTimeouts(options.timeouts);
    // The data connection of a passive transfer is otherwise often started only when the
    // wait between the address families (200 ms) runs out: one delivery would take that
    // long for nothing.
    curl.Set(CURLOPT_HAPPY_EYEBALLS_TIMEOUT_MS, 1L);
    curl.ApplyProxy(options.proxy, options.proxyPort);
    if (!Trim(options.proxy).empty()) curl.Set(CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (!t.user.empty()) curl.Set(CURLOPT_USERNAME, t.user.c_str());
    if (t.kind == Kind::Sftp) {
        if (!options.privateKeyFile.empty()) {
            curl.Set(CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PUBLICKEY));
            curl.Set(CURLOPT_SSH_PRIVATE_KEYFILE, options.privateKeyFile.c_str());
            // Empty: the library derives the public half from the private key.
            curl.Set(CURLOPT_SSH_PUBLIC_KEYFILE, options.publicKeyFile.c_str());
            if (!t.password.empty()) curl.Set(CURLOPT_KEYPASSWD, t.password.c_str());
        } else {
            curl.Set(CURLOPT_SSH_AUTH_TYPES,
                     static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
            curl.Set(CURLOPT_PASSWORD, t.password.c_str());
        }
        curl.Set(CURLOPT_SSH_KNOWNHOSTS, options.knownHostsFile.c_str());
        curl.Set(CURLOPT_SSH_KEYFUNCTION, &HostKeyCheck::Callback);
        curl.Set(CURLOPT_SSH_KEYDATA, static_cast<void*>(&keyCheck));
        return;
    }
    if (!t.user.empty()) curl.Set(CURLOPT_PASSWORD, t.password.c_str());
    curl.Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl.Set(CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE));
    if (options.activeMode)
        curl.Set(CURLOPT_FTPPORT,
                 options.activeAddress.empty() ? "-" : options.activeAddress.c_str());
    if (t.kind == Kind::Ftps || options.explicitTls) {
        curl.Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl.Set(CURLOPT_SSL_VERIFYPEER, 1L);
        curl.Set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options.caFile.empty()) curl.Set(CURLOPT_CAINFO, options.caFile.c_str());
    }
}

/// Removes the part file after a failed store or rename, when the server still answers.
/// Best effort: its own failure changes nothing of the error being reported.
void RemovePartFile(const Target& t, const std::string& part, const FtpOptions& options) noexcept {
    try {
        detail::CurlEasy curl;
        HostKeyCheck keyCheck;
        FtpOptions quick = options;
        quick.timeouts.transfer =
            std::min(options.timeouts.transfer, std::chrono::milliseconds(10000));
        Connect(curl, t, quick, keyCheck);
        detail::CurlList commands;
        commands.Append(t.kind == Kind::Sftp ? "rm \"" + t.PathOf(part) + "\""
                                             : "DELE " + t.PathOf(part));
        std::string url =
            t.address.scheme + "://" + t.where() + (t.kind == Kind::Sftp ? "/~/" : "/");
        curl.Set(CURLOPT_URL, url.c_str());
        curl.Set(CURLOPT_NOBODY, 1L);
        curl.Set(CURLOPT_QUOTE, commands.get());
        curl_easy_perform(curl.get());
    } catch (...) {
    }
}

std::string StepOf(CURLcode rc, const Target& t, const std::string& name, const std::string& part,
                   const Source& source, const HostKeyCheck& keyCheck, const FtpOptions& options) {
    if (rc == CURLE_PEER_FAILED_VERIFICATION && t.kind == Kind::Sftp) {
        if (keyCheck.called && keyCheck.match == CURLKHMATCH_MISMATCH)
            return "verify the server: its host key differs from the one in '" +
                   options.knownHostsFile + "'";
        return "verify the server: its host key is not in '" + options.knownHostsFile + "'";
    }
    if (std::string step = detail::ConnectionStep(rc, options.proxy); !step.empty()) return step;
    switch (rc) {
        case CURLE_LOGIN_DENIED:
        case CURLE_AUTH_ERROR:
            return "log in as '" + t.user + "'";
        case CURLE_SSH:
            return source.started ? "store '" + part + "'"
                                  : "log in as '" + t.user + "' or open the folder";
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_FTP_COULDNT_SET_TYPE:
            if (t.kind == Kind::Sftp) return "open the folder '" + t.folderText() + "' for writing";
            return "change to the folder '" + t.folderText() + "'";
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_DISK_FULL:
            return "store '" + part + "'";
        case CURLE_QUOTE_ERROR:
            return "rename '" + part + "' to '" + name + "'";
        case CURLE_OPERATION_TIMEDOUT:
            return source.started ? "finish storing '" + part + "' in time"
                                  : "connect and log in in time";
        default:
            return source.started ? "store '" + part + "'" : "start the upload";
    }
}

void Upload(std::string_view address, std::string_view fileName, Source& source,
            const FtpOptions& options) {
    Target t = Resolve(address, fileName, options);
    const std::string name(fileName);
    const std::string part = options.uploadUnderTemporaryName ? "." + name + ".part" : name;

    detail::CurlEasy curl;
    HostKeyCheck keyCheck;
    Connect(curl, t, options, keyCheck);
    const std::string url = t.FolderUrl() + EscapeQueryValue(part);
    curl.Set(CURLOPT_URL, url.c_str());
    curl.Set(CURLOPT_UPLOAD, 1L);
    curl.Set(CURLOPT_READFUNCTION, &Source::Callback);
    curl.Set(CURLOPT_READDATA, static_cast<void*>(&source));
    curl.Set(CURLOPT_INFILESIZE_LARGE, source.Size());
    if (t.kind != Kind::Sftp)
        curl.Set(CURLOPT_TRANSFERTEXT, options.transferType == FtpTransferType::Ascii ? 1L : 0L);
    detail::CurlList rename;
    if (options.uploadUnderTemporaryName) {
        if (t.kind == Kind::Sftp) {
            rename.Append("rename \"" + t.PathOf(part) + "\" \"" + t.PathOf(name) + "\"");
        } else {
            rename.Append("RNFR " + t.PathOf(part));
            rename.Append("RNTO " + t.PathOf(name));
        }
        curl.Set(CURLOPT_POSTQUOTE, rename.get());
    }

    CURLcode rc = curl_easy_perform(curl.get());
    if (rc == CURLE_OK) return;

    long reply = curl.ResponseCode();
    bool transient = detail::IsTransientCode(rc);
    // An FTP reply of the 400s says "not now", one of the 500s "not like this".
    if (t.kind != Kind::Sftp && reply >= 400 && reply < 500 && rc != CURLE_PEER_FAILED_VERIFICATION)
        transient = true;
    if (t.kind != Kind::Sftp && reply >= 500 && reply < 600 && rc != CURLE_OPERATION_TIMEDOUT)
        transient = false;
    std::string step = StepOf(rc, t, name, part, source, keyCheck, options);
    std::string reason = detail::Scrub(curl.Reason(rc), t.password);
    std::string message = "Cannot " + step + " at " + t.address.scheme + "://" + t.where() +
                          " (folder " + t.folderText() + ", file '" + name + "'): " + reason;
    if (t.kind != Kind::Sftp && reply > 0) message += " (last reply " + std::to_string(reply) + ")";
    message += ".";
    if (options.uploadUnderTemporaryName && (source.started || rc == CURLE_QUOTE_ERROR))
        RemovePartFile(t, part, options);
    throw TransportError(neterr::TransferErrorBase + rc, kSource, message, transient);
}

}  // namespace

void FtpPut(std::string_view address, std::string_view fileName, std::string_view data,
            const FtpOptions& options) {
    MemorySource source(data);
    Upload(address, fileName, source, options);
}

void FtpPutFile(std::string_view address, std::string_view fileName,
                const std::filesystem::path& localFile, const FtpOptions& options) {
    FileSource source(localFile);
    Upload(address, fileName, source, options);
}

}  // namespace kestrix::net
