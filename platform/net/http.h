#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/transport.h"

namespace kestrix::net {

/// Everything a form post needs beside the address and the body.
struct HttpOptions {
    /// Used when the address names no port; 0 or below: 80 for http, 443 for https.
    int port = 0;
    /// Empty: direct. Otherwise the proxy ("host", "host:port", "http://host:port").
    std::string proxy;
    int proxyPort = 0;
    /// Certificates to trust instead of the system's (tests, private authorities).
    std::string caFile;
    /// Whether the server's certificate and name are checked. Off only for a partner who
    /// knowingly runs without a valid certificate.
    bool verifyPeer = true;
    /// Redirects followed (the form is posted again to the new place, https never to http);
    /// one more is a failure. 0: a redirect is returned as the answer.
    long maxRedirects = 5;
    /// Answers longer than this fail (a receiving page answers with a short text).
    size_t maxAnswerBytes = 16u << 20;
    Timeouts timeouts;
};

/// What the web page answered.
struct HttpAnswer {
    /// The status code of the last answer (after redirects).
    int status = 0;
    /// Its reason phrase ("Internal Server Error"); may be empty.
    std::string reason;
    std::string contentType;
    std::string body;
};

/// Posts `formBody` (already form-encoded, "xml=...&DocID=...") to an "http://" or
/// "https://" address with the header "Content-Type: application/x-www-form-urlencoded"
/// and returns the answer, whatever its status. A "user:password@" in the address is sent
/// as basic authentication. No connection, a time-out, a certificate that does not
/// verify, a redirect loop or a bad address raise `TransportError` naming host, port and
/// page and the step that failed (never the password).
HttpAnswer PostForm(std::string_view address, std::string_view formBody,
                    const HttpOptions& options);

/// Status codes that say "try again later": 408, 425, 429, 500, 502, 503, 504.
bool IsTransientStatus(int status);

/// Raises `TransportError` (`neterr::HttpStatus`) when the status is not 200: "Server
/// responded with:500 Internal Server Error", with the masked address. Transient as
/// `isTransient` says (a site may count other statuses as passing).
void RequireStatus200(const HttpAnswer& answer, std::string_view address,
                      const std::function<bool(int)>& isTransient = IsTransientStatus);

/// The error a receiving page reports in its answer.
struct ReceiverError {
    int32_t number = 0;
    std::string source;
    std::string description;
};

/// Reads the answer of a receiving page: when it is XML with an "ERROR_NUMBER" element
/// anywhere whose number is not 0, that number with the texts of "ERROR_SOURCE" and
/// "ERROR_DESCRIPTION" (missing ones read as ""). Nothing when the answer is no XML (which
/// counts as success), has no such element, or the number is 0. A number that is not
/// numeric reads as E_FAIL.
std::optional<ReceiverError> FindReceiverError(std::string_view answer);

}  // namespace kestrix::net
