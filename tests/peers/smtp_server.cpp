#include "tests/peers/smtp_server.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrix::test {

SmtpServer::SmtpServer(Mode mode) {
    char pattern[] = "/tmp/kestrix-smtp-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make the SMTP server's folder");
    folder_ = pattern;
    const char* modeName = mode == Mode::Accept ? "accept" : mode == Mode::Refuse ? "refuse" : "stall";
    try {
        process_ = std::make_unique<PeerProcess>(PeerScript("smtp_sink.py"),
                                                 std::vector<std::string>{folder_.string(), modeName},
                                                 "is python3-aiosmtpd installed?");
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        throw;
    }
}

SmtpServer::~SmtpServer() {
    process_.reset();
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
