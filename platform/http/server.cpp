#include "platform/http/server.h"

#include <httplib.h>

#include <strings.h>
#include <sys/socket.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace kestrix::http {

std::string Request::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    return {};
}

namespace {

std::string First(const std::multimap<std::string, std::string>& values, const std::string& name) {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
}

}  // namespace

std::string Request::Query(const std::string& name) const { return First(query, name); }

std::string Request::Form(const std::string& name) const { return First(form, name); }

void ParseListenAddress(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        throw std::invalid_argument("'" + text + "' is not HOST:PORT");
    std::string h = text.substr(0, colon);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    else if (h.find(':') != std::string::npos)
        throw std::invalid_argument("'" + text + "' is not HOST:PORT (write an IPv6 address in brackets)");
    const std::string p = text.substr(colon + 1);
    if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos || std::stoi(p) > 65535)
        throw std::invalid_argument("'" + text + "' has no port between 0 and 65535");
    host = h.empty() ? "0.0.0.0" : h;
    port = std::stoi(p);
}

struct Server::Impl {
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::once_flag stopped;
};

namespace {

Request ToRequest(const httplib::Request& in, bool secure) {
    Request out;
    out.method = in.method;
    out.path = in.path;
    // The library puts the fields of a url-encoded body among the query's; the query is read
    // from the address alone so that a page can tell a link from a posted form.
    const size_t question = in.target.find('?');
    if (question != std::string::npos) {
        httplib::Params query;
        httplib::detail::parse_query_text(in.target.substr(question + 1), query);
        out.query.insert(query.begin(), query.end());
    }
    out.headers.insert(in.headers.begin(), in.headers.end());
    out.body = in.body;
    out.remoteAddress = in.remote_addr;
    out.secure = secure;
    if (in.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
        httplib::Params form;
        httplib::detail::parse_query_text(in.body, form);
        out.form.insert(form.begin(), form.end());
    }
    for (const auto& [field, part] : in.files) {
        if (part.filename.empty()) out.form.emplace(field, part.content);
        else out.files.push_back({field, part.filename, part.content_type, part.content});
    }
    return out;
}

void FromResponse(const Response& in, httplib::Response& out) {
    out.status = in.status;
    for (const auto& [name, value] : in.headers) out.set_header(name, value);
    out.set_content(in.body, in.contentType);
}

void Answer(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

}  // namespace

Server::Server(ServerOptions options, std::vector<Route> routes) : impl_(std::make_unique<Impl>()) {
    host_ = options.host;
    if (options.tlsCertificate.empty() != options.tlsKey.empty())
        throw ListenError("HTTPS needs both a certificate and a key file");
    if (!options.tlsCertificate.empty()) {
        for (const std::string& file : {options.tlsCertificate, options.tlsKey})
            if (!std::filesystem::is_regular_file(file))
                throw ListenError("the file " + file + " for HTTPS does not exist");
        auto server = std::make_unique<httplib::SSLServer>(options.tlsCertificate.c_str(), options.tlsKey.c_str());
        if (!server->is_valid())
            throw ListenError("the certificate " + options.tlsCertificate + " or the key " + options.tlsKey +
                              " cannot be used for HTTPS");
        impl_->server = std::move(server);
        secure_ = true;
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *impl_->server;
    const size_t limit = options.maxBodyBytes;
    // A body above the limit is refused with 413 and skipped unkept. A client that asks first
    // ("Expect: 100-continue") is told to go on all the same: the library's early refusal
    // carries no length, so such a client would send its body anyway and then wait for the
    // connection to time out before it learns the answer.
    server.set_payload_max_length(limit);
    // Only address reuse: the library's default would also share the port with a second
    // server, which then never learns that the port is taken.
    server.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_read_timeout(options.readTimeoutSeconds, 0);
    server.set_write_timeout(options.readTimeoutSeconds, 0);
    server.set_keep_alive_timeout(5);
    // An answer goes out whole at once: its head and body are written apart, and a client on
    // a kept connection would otherwise wait for its delayed acknowledgement before the body.
    server.set_tcp_nodelay(true);

    auto table = std::make_shared<std::vector<Route>>(std::move(routes));
    server.set_pre_routing_handler([table, limit](const httplib::Request& req, httplib::Response& res) {
        // A body of unknown length could not be held to the limit before it is taken in.
        if (req.has_header("Transfer-Encoding")) {
            Answer(res, 411, "Length Required");
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        (void)limit;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const bool secure = secure_;
    auto dispatch = [table, secure](const httplib::Request& req, httplib::Response& res) {
        bool pathKnown = false;
        for (const Route& route : *table) {
            if (strcasecmp(route.path.c_str(), req.path.c_str()) != 0) continue;
            pathKnown = true;
            if (route.method != req.method && !(route.method == "GET" && req.method == "HEAD")) continue;
            try {
                Response answer;
                route.handler(ToRequest(req, secure), answer);
                FromResponse(answer, res);
            } catch (...) {
                Answer(res, 500, "Internal Server Error");
            }
            return;
        }
        if (pathKnown) Answer(res, 405, "Method Not Allowed");
        else Answer(res, 404, "Not Found");
    };
    // A body is taken in here rather than by the library, which refuses a url-encoded form
    // above 8 KB whatever the limit: a document posted as a form is far larger. The limit of
    // the options still holds (413 before the body is read).
    auto withBody = [dispatch](const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& content) {
        httplib::Request whole = req;
        bool read = false;
        if (req.is_multipart_form_data()) {
            httplib::MultipartFormData* part = nullptr;
            read = content(
                [&](const httplib::MultipartFormData& header) {
                    part = &whole.files.emplace(header.name, header)->second;
                    return true;
                },
                [&](const char* data, size_t n) {
                    if (part) part->content.append(data, n);
                    return true;
                });
        } else {
            read = content([&](const char* data, size_t n) {
                whole.body.append(data, n);
                return true;
            });
        }
        if (!read) {
            // The library has said why (413 for a body above the limit).
            const bool tooLarge = res.status == 413;
            return Answer(res, tooLarge ? 413 : 400, tooLarge ? "Payload Too Large" : "Bad Request");
        }
        dispatch(whole, res);
    };
    const std::string any = ".*";
    server.Get(any, dispatch);
    server.Post(any, httplib::Server::HandlerWithContentReader(withBody));
    server.Put(any, httplib::Server::HandlerWithContentReader(withBody));
    server.Patch(any, httplib::Server::HandlerWithContentReader(withBody));
    server.Delete(any, httplib::Server::Handler(dispatch));
    server.Options(any, dispatch);

    const std::string where = (options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host) +
                              ":" + std::to_string(options.port);
    if (options.port == 0) {
        port_ = server.bind_to_any_port(options.host);
        if (port_ < 0) throw ListenError("cannot listen on " + where + " (no free port, or an unknown host)");
    } else {
        if (!server.bind_to_port(options.host, options.port))
            throw ListenError("cannot listen on " + where +
                              " (the port is taken by another program, or the host is not an address of this machine)");
        port_ = options.port;
    }
    impl_->listener = std::thread([&server] { server.listen_after_bind(); });
    // The socket is bound already: a client that comes before the thread runs waits in the
    // backlog. Stop must not come before the loop started, or the loop would never end.
    for (int i = 0; i < 2000 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Server::~Server() { Stop(); }

void Server::Stop() noexcept {
    if (!impl_) return;
    try {
        std::call_once(impl_->stopped, [this] {
            impl_->server->stop();
            // The listening thread returns once the requests in hand are answered.
            if (impl_->listener.joinable()) impl_->listener.join();
        });
    } catch (...) {
    }
}

std::string Server::Address() const {
    const std::string host = host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
    return std::string(secure_ ? "https" : "http") + "://" + host + ":" + std::to_string(port_);
}

}  // namespace kestrix::http
