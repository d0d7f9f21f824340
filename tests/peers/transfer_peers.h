#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/peers/peer_process.h"
#include "tests/support/backends.h"

namespace kestrix::test {

/// A self-signed certificate for 127.0.0.1 and localhost with its key, made by the openssl
/// command in a folder of its own and removed with it.
class TestCertificate {
  public:
    TestCertificate();
    const std::filesystem::path& certFile() const { return cert_; }
    const std::filesystem::path& keyFile() const { return key_; }

  private:
    TempDir dir_;
    std::filesystem::path cert_;
    std::filesystem::path key_;
};

/// A real FTP server on loopback whose one user ("deliver", password `kPassword`) has the
/// folder `root()` as home.
class FtpServer {
  public:
    static constexpr const char* kUser = "deliver";
    static constexpr const char* kPassword = "Secr3t-ftp-pw";

    enum class Tls { None, Explicit, Implicit };
    struct Options {
        Tls tls = Tls::None;
        /// Needed for TLS.
        const TestCertificate* certificate = nullptr;
        /// Uploads are read at this many bytes per second (0: at full speed).
        int throttle = 0;
        /// The server refuses to rename.
        bool refuseRename = false;
    };

    FtpServer() : FtpServer(Options{}) {}
    explicit FtpServer(const Options& options);

    int port() const { return process_->port(); }
    const std::filesystem::path& root() const { return root_.path(); }
    /// "<scheme>://127.0.0.1:<port><folder>".
    std::string Url(const std::string& scheme = "ftp", const std::string& folder = "/") const;
    /// One line a file stored so far: the transfer type ("a" or "i"), the data connection
    /// ("passive" or "active") and its path under `root()` as it was stored (before any
    /// rename), separated by blanks.
    std::vector<std::string> Stored() const;

  private:
    TempDir root_;
    TempDir work_;
    std::unique_ptr<PeerProcess> process_;
};

/// A real SFTP server on loopback: one user ("deliver", password `kPassword`, or the key
/// `clientKey()`), who sees `root()` as "/".
class SftpServer {
  public:
    static constexpr const char* kUser = "deliver";
    static constexpr const char* kPassword = "Secr3t-sftp-pw";

    /// With `refuseRename` the server refuses every rename.
    explicit SftpServer(bool refuseRename = false);

    int port() const { return process_->port(); }
    const std::filesystem::path& root() const { return root_.path(); }
    std::string Url(const std::string& folder = "/") const;
    /// Names the server's host key.
    std::filesystem::path knownHosts() const { return work_.path() / "known_hosts"; }
    /// Names another key for the same host and port.
    std::filesystem::path otherKnownHosts() const { return work_.path() / "other_known_hosts"; }
    std::filesystem::path clientKey() const { return work_.path() / "client_key"; }
    std::filesystem::path clientPublicKey() const { return work_.path() / "client_key.pub"; }

  private:
    TempDir root_;
    TempDir work_;
    std::unique_ptr<PeerProcess> process_;
};

/// A TLS front for a plain test server on loopback (an `HttpServer`, ...): https requests
/// to `port()` reach the server at `targetPort` decrypted.
class TlsFront {
  public:
    TlsFront(const TestCertificate& certificate, int targetPort);
    int port() const { return process_.port(); }
    /// "https://127.0.0.1:<port>" followed by `path`.
    std::string Url(const std::string& path = "/") const;

  private:
    PeerProcess process_;
};

}  // namespace kestrix::test

namespace kestrix::test {

/// Every regular file under `root`, as paths relative to it ("in/order.xml"), sorted: what a
/// partner polling the folder would find.
std::vector<std::string> FilesUnder(const std::filesystem::path& root);

}  // namespace kestrix::test
