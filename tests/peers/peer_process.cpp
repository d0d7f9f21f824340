#include "tests/peers/peer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace kestrix::test {

std::string PeerScript(const std::string& name) {
    return std::string(KESTRIX_TEST_PEERS_DIR) + "/" + name;
}

PeerProcess::PeerProcess(const std::string& script, const std::vector<std::string>& args,
                         const std::string& hint) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argv{"python3", script};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        execv("/usr/bin/python3", raw.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    stdinFd_ = toChild[1];
    FILE* out = fdopen(fromChild[0], "r");
    char line[128] = {0};
    if (!out || !fgets(line, sizeof line, out) || std::sscanf(line, "READY %d", &port_) != 1) {
        if (out) fclose(out);
        Stop();
        throw std::runtime_error("the peer " + script + " did not start (" + hint + ")");
    }
    fclose(out);
}

PeerProcess::~PeerProcess() { Stop(); }

void PeerProcess::Stop() noexcept {
    if (stdinFd_ >= 0) close(stdinFd_);
    stdinFd_ = -1;
    if (pid_ <= 0) return;
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace kestrix::test
