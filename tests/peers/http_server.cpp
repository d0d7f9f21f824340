#include "tests/peers/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrix::test {
namespace {

constexpr int kPollMs = 50;
constexpr size_t kMaxHeader = 64 * 1024;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Decode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

const char* Reason(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string ContentType(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (ext == ".xml" || ext == ".xsl" || ext == ".xslt") return "text/xml";
    if (ext == ".html" || ext == ".htm") return "text/html";
    if (ext == ".txt") return "text/plain";
    return "application/octet-stream";
}

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
    for (const auto& [k, v] : headers)
        if (EqualsNoCase(k, name)) return v;
    return std::nullopt;
}

HttpServer::HttpServer(std::string root) : root_(std::move(root)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        int err = errno;
        ::close(listenFd_);
        throw std::runtime_error(std::string("cannot listen on 127.0.0.1: ") + std::strerror(err));
    }
    port_ = ntohs(addr.sin_port);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("pipe2 failed");
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() { Stop(); }

std::string HttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void HttpServer::SetResponse(const std::string& path, HttpResponse response) {
    std::lock_guard lock(mutex_);
    responses_[path] = std::move(response);
}

void HttpServer::SetStatus(const std::string& path, int status) {
    HttpResponse r;
    r.status = status;
    r.body = std::to_string(status) + " " + Reason(status);
    SetResponse(path, std::move(r));
}

void HttpServer::SetHandler(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

void HttpServer::Stall(const std::string& path) {
    std::lock_guard lock(mutex_);
    stalled_.push_back(path);
}

std::vector<HttpRequest> HttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t HttpServer::RequestCount(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(requests_.begin(), requests_.end(),
                                             [&](const HttpRequest& r) { return r.path == path; }));
}

void HttpServer::Stop() {
    if (stopping_.exchange(true)) return;
    {
        std::lock_guard lock(mutex_);
        stopped_.notify_all();
    }
    char b = 1;
    [[maybe_unused]] auto n = ::write(wakeWrite_, &b, 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connections_);
    }
    for (std::thread& t : threads) t.join();
    ::close(listenFd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void HttpServer::AcceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (fds[1].revents & POLLIN) || stopping_) break;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] {
            Serve(fd);
            ::close(fd);
        });
    }
}

namespace {

/// Reads more bytes into `buffer`; false on end, error or stop.
bool ReadMore(int fd, std::string& buffer, const std::atomic<bool>& stopping) {
    char chunk[16384];
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, kPollMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) continue;
        ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(got));
        return true;
    }
    return false;
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

}  // namespace

bool HttpServer::ReadRequest(int fd, HttpRequest& request) {
    std::string buffer;
    size_t headerEnd;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > kMaxHeader || !ReadMore(fd, buffer, stopping_)) return false;
    }
    std::istringstream head(buffer.substr(0, headerEnd));
    std::string line;
    std::getline(head, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream first(line);
    std::string version;
    first >> request.method >> request.target >> version;
    if (request.method.empty() || request.target.empty()) return false;
    request.path = Decode(request.target.substr(0, request.target.find('?')));
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        request.headers.emplace_back(line.substr(0, colon), value);
    }
    std::string rest = buffer.substr(headerEnd + 4);
    if (auto expect = request.Header("Expect"); expect && EqualsNoCase(*expect, "100-continue"))
        SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");

    auto encoding = request.Header("Transfer-Encoding");
    if (encoding && EqualsNoCase(*encoding, "chunked")) {
        size_t pos = 0;
        for (;;) {
            size_t eol;
            while ((eol = rest.find("\r\n", pos)) == std::string::npos)
                if (!ReadMore(fd, rest, stopping_)) return false;
            size_t size = std::stoul(rest.substr(pos, eol - pos), nullptr, 16);
            pos = eol + 2;
            while (rest.size() < pos + size + 2)
                if (!ReadMore(fd, rest, stopping_)) return false;
            if (size == 0) break;  // trailers are not expected from the clients under test
            request.body.append(rest, pos, size);
            pos += size + 2;
        }
        return true;
    }
    size_t length = 0;
    if (auto cl = request.Header("Content-Length")) length = std::stoul(*cl);
    while (rest.size() < length)
        if (!ReadMore(fd, rest, stopping_)) return false;
    request.body = rest.substr(0, length);
    return true;
}

HttpResponse HttpServer::Answer(const HttpRequest& request, bool& stall) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        if (std::find(stalled_.begin(), stalled_.end(), request.path) != stalled_.end()) {
            stall = true;
            return {};
        }
        if (auto it = responses_.find(request.path); it != responses_.end()) return it->second;
        if (auto it = handlers_.find(request.path); it != handlers_.end())
            handler = it->second;
        else if (auto any = handlers_.find("*"); any != handlers_.end())
            handler = any->second;
    }
    if (handler) return handler(request);
    if (request.method != "GET" && request.method != "HEAD") return HttpResponse{};

    HttpResponse notFound;
    notFound.status = 404;
    notFound.body = "404 Not Found";
    if (root_.empty()) return notFound;
    std::filesystem::path relative = std::filesystem::path(request.path).relative_path();
    for (const auto& part : relative)
        if (part == "..") return notFound;
    std::filesystem::path file = std::filesystem::path(root_) / relative;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return notFound;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    HttpResponse ok;
    ok.body = content.str();
    ok.contentType = ContentType(file);
    return ok;
}

void HttpServer::Serve(int fd) {
    HttpRequest request;
    if (!ReadRequest(fd, request)) return;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    bool stall = false;
    HttpResponse response = Answer(request, stall);
    if (stall) {
        std::unique_lock lock(mutex_);
        stopped_.wait(lock, [this] { return stopping_.load(); });
        return;
    }
    std::string out =
        "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    out += "Connection: close\r\n";
    for (const auto& [k, v] : response.headers) out += k + ": " + v + "\r\n";
    out += "\r\n";
    if (request.method != "HEAD") out += response.body;
    SendAll(fd, out);
}

}  // namespace kestrix::test
