#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/peers/peer_process.h"

namespace kestrix::test {

/// A real SMTP server on 127.0.0.1 for the tests (Debian's python3-aiosmtpd), storing every
/// accepted message in a folder of its own. It stops when the object goes out of scope.
class SmtpServer {
public:
    enum class Mode { Accept, Refuse, Stall };
    explicit SmtpServer(Mode mode = Mode::Accept);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    int port() const { return process_->port(); }
    /// The messages received so far, oldest first, each with "X-Mail-From:" and
    /// "X-Rcpt-To:" lines before the message itself.
    std::vector<std::string> Messages() const;
    /// Waits up to `seconds` until at least `count` messages arrived; returns them.
    std::vector<std::string> WaitForMessages(size_t count, int seconds = 10) const;

private:
    std::filesystem::path folder_;
    std::unique_ptr<PeerProcess> process_;
};

/// A loopback port on which nothing listens.
int ClosedPort();

}  // namespace kestrix::test
