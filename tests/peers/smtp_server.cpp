#include "tests/peers/smtp_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrix::test {

namespace {
constexpr const char* kScript = KESTRIX_TEST_PEERS_DIR "/smtp_sink.py";
}

SmtpServer::SmtpServer(Mode mode) {
    char pattern[] = "/tmp/kestrix-smtp-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make the SMTP server's folder");
    folder_ = pattern;
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("pipe failed");
    const char* modeName = mode == Mode::Accept ? "accept" : mode == Mode::Refuse ? "refuse" : "stall";
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[1]);
        close(fromChild[0]);
        execl("/usr/bin/python3", "python3", kScript, folder_.c_str(), modeName, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    stdinFd_ = toChild[1];
    FILE* out = fdopen(fromChild[0], "r");
    char line[128] = {0};
    if (!out || !fgets(line, sizeof line, out) || std::sscanf(line, "READY %d", &port_) != 1) {
        if (out) fclose(out);
        throw std::runtime_error("the SMTP server did not start (is python3-aiosmtpd installed?)");
    }
    fclose(out);
}

SmtpServer::~SmtpServer() {
    if (stdinFd_ >= 0) close(stdinFd_);
    if (pid_ > 0) {
        for (int i = 0; i < 50; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

std::vector<std::string> SmtpServer::Messages() const {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(folder_))
        if (e.path().extension() == ".eml") files.push_back(e.path());
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return std::stoi(a.stem().string()) < std::stoi(b.stem().string());
    });
    std::vector<std::string> messages;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        messages.push_back(text.str());
    }
    return messages;
}

std::vector<std::string> SmtpServer::WaitForMessages(size_t count, int seconds) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (true) {
        auto messages = Messages();
        if (messages.size() >= count || std::chrono::steady_clock::now() > deadline) return messages;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);
    close(fd);  // nothing listens there afterwards
    return port;
}

}  // namespace kestrix::test
