#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace kestrix::test {

/// One request as the server received it.
struct HttpRequest {
    std::string method;
    /// The request target as sent ("/a/b.xml?x=1").
    std::string target;
    /// The target without its query, percent escapes decoded ("/a/b.xml").
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    /// The body (a chunked body arrives here decoded).
    std::string body;

    /// The first header of this name, ignoring case.
    std::optional<std::string> Header(std::string_view name) const;
};

/// An answer the server gives.
struct HttpResponse {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    /// Further headers ("Location", ...).
    std::vector<std::pair<std::string, std::string>> headers;
};

/// A small HTTP/1.1 server on 127.0.0.1 for tests: it listens on a free port from
/// construction on, serves the files of a folder, can be told to answer one path with a
/// given response or handler, or to stall (accept and never answer, for time-out tests),
/// and records every request with its body. One connection per request. The destructor
/// stops it and waits for every connection thread.
class HttpServer {
  public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    /// Serves the files under `root` (nothing when empty): GET of a missing file is 404; any
    /// other method on a path without configured answer is 200 with an empty body.
    explicit HttpServer(std::string root = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const noexcept { return port_; }
    /// "http://127.0.0.1:<port>" followed by `path` (which should begin with "/").
    std::string Url(std::string_view path = "/") const;

    /// Answers `path` with `response` from now on.
    void SetResponse(const std::string& path, HttpResponse response);
    /// Answers `path` with this status and a short body.
    void SetStatus(const std::string& path, int status);
    /// Calls `handler` for `path` ("*": every path without another configured answer).
    void SetHandler(const std::string& path, Handler handler);
    /// Requests for `path` are read and recorded but never answered until the server stops.
    void Stall(const std::string& path);

    /// Every request received so far, in arrival order.
    std::vector<HttpRequest> Requests() const;
    /// How many requests asked for `path`.
    size_t RequestCount(std::string_view path) const;

    /// Stops listening, releases stalled requests and joins every thread. Idempotent.
    void Stop();

  private:
    void AcceptLoop();
    void Serve(int fd);
    HttpResponse Answer(const HttpRequest& request, bool& stall);
    bool ReadRequest(int fd, HttpRequest& request);

    std::string root_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    std::map<std::string, HttpResponse> responses_;
    std::map<std::string, Handler> handlers_;
    std::vector<std::string> stalled_;
    std::vector<HttpRequest> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

}  // namespace kestrix::test
