#pragma once
// A small embedded HTTP server: routes with handlers over request and response objects, a
// limit on request bodies, HTTPS when a certificate and key are given. The library behind it
// stays inside this room.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrix::http {

/// One request as a handler sees it.
struct Request {
    std::string method;  ///< "GET", "POST", ...
    std::string path;    ///< without the query
    std::multimap<std::string, std::string> query;
    /// Header names as the client wrote them; `Header` looks them up without regard to case.
    std::multimap<std::string, std::string> headers;
    std::string body;
    std::string remoteAddress;
    /// The fields of a posted form ("application/x-www-form-urlencoded" or
    /// "multipart/form-data"), decoded; the parts that carry a file are in `files`.
    std::multimap<std::string, std::string> form;
    /// One file part of a "multipart/form-data" post.
    struct File {
        std::string field;        ///< the form field's name
        std::string fileName;     ///< as the client named it (any folder part is the caller's to drop)
        std::string contentType;
        std::string content;
    };
    std::vector<File> files;
    /// True when the connection is HTTPS.
    bool secure = false;

    /// The first value of header `name` (any case), or "".
    std::string Header(const std::string& name) const;
    /// The first value of query parameter `name`, or "".
    std::string Query(const std::string& name) const;
    /// The first value of form field `name`, or "".
    std::string Form(const std::string& name) const;
};

/// The answer a handler fills in; 200 with an empty text body unless it says otherwise.
struct Response {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::multimap<std::string, std::string> headers;
};

using Handler = std::function<void(const Request&, Response&)>;

/// A handler for one method and one exact path ("/healthz"), compared without regard to
/// case (links that mails carry may have been retyped).
struct Route {
    std::string method;
    std::string path;
    Handler handler;
};

struct ServerOptions {
    /// The address to listen on ("127.0.0.1", "0.0.0.0", "::1", a host name).
    std::string host = "127.0.0.1";
    /// 0 takes a free port; `Server::Port` tells which.
    int port = 0;
    /// A request whose body is larger is refused with 413 before its body is taken in.
    size_t maxBodyBytes = 1024 * 1024;
    /// Both set: HTTPS with this certificate chain and private key (PEM files). Both empty:
    /// plain HTTP. One without the other is refused.
    std::string tlsCertificate;
    std::string tlsKey;
    /// How long a connection may stay silent while a request is read.
    int readTimeoutSeconds = 10;
};

/// The address could not be listened on (the port is taken, the host is unknown, the
/// certificate or key does not load).
struct ListenError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// "HOST:PORT" ("127.0.0.1:8080", "[::1]:0", ":8080" for every address) into its parts;
/// raises std::invalid_argument naming the text when it is not of that form.
void ParseListenAddress(const std::string& text, std::string& host, int& port);

/// Listens from construction on and serves the routes on threads of its own; a request for
/// no route answers 404 (405 when the path exists for another method), a handler that raises
/// answers 500 without the failure's text. `Stop` (or the destructor) takes no new
/// connection and lets the requests in hand finish.
class Server {
public:
    /// Raises ListenError when the address cannot be listened on.
    Server(ServerOptions options, std::vector<Route> routes);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// The port listened on (the free port chosen when the options asked for 0).
    int Port() const noexcept { return port_; }
    bool Secure() const noexcept { return secure_; }
    /// "http://127.0.0.1:8080" or "https://...".
    std::string Address() const;
    /// Idempotent; never raises.
    void Stop() noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string host_;
    int port_ = 0;
    bool secure_ = false;
};

}  // namespace kestrix::http
