#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrix::test {

/// A peer of the tests that runs as a child process (a Python script with Debian's
/// libraries): started with its arguments, ready once it printed "READY <port>", stopped
/// when its standard input closes (and killed when it does not stop in time) as the object
/// goes out of scope.
class PeerProcess {
  public:
    /// Runs `/usr/bin/python3 script args...`; `hint` tells what to install when it does not
    /// start (it ends up in the exception's text).
    PeerProcess(const std::string& script, const std::vector<std::string>& args,
                const std::string& hint);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    int port() const { return port_; }

  private:
    void Stop() noexcept;

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int port_ = 0;
};

/// The path of a script of tests/peers.
std::string PeerScript(const std::string& name);

}  // namespace kestrix::test
