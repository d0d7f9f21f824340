#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/peers/peer_process.h"
#include "tests/peers/transfer_peers.h"
#include "tests/support/backends.h"

namespace kestrix::test {

/// A real IMAP or POP3 server on loopback (Debian's dovecot, `mail_store_peer.py`) with a
/// configuration of its own, one user (`kUser`, `kPassword`) and a Maildir of its own. It
/// stops when the object goes out of scope.
class MailStoreServer {
  public:
    static constexpr const char* kUser = "import@mail.test";
    static constexpr const char* kPassword = "Imp0rt-pw";

    enum class Protocol { Imap, Pop3 };
    /// With a certificate the server offers STARTTLS (and still takes a plain login from
    /// loopback).
    explicit MailStoreServer(Protocol protocol, const TestCertificate* certificate = nullptr);

    int port() const { return process_->port(); }
    /// The user's Maildir: a message written into new/ is in the inbox.
    const std::filesystem::path& maildir() const { return maildir_; }
    /// Puts a message into the inbox, as a mail server delivers it.
    void Deliver(const std::string& message) const;
    /// The number of messages in the inbox.
    size_t Count() const;
    /// The server's log (logins with their method and whether TLS was used).
    std::string Log() const;

  private:
    TempDir work_;
    std::filesystem::path maildir_;
    std::unique_ptr<PeerProcess> process_;
};

}  // namespace kestrix::test
