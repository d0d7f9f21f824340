#pragma once
// A real HTTP client for the tests of servers of the system: the curl program.

#include <string>
#include <vector>

namespace kestrix::test {

struct CurlAnswer {
    int status = 0;  ///< 0 when no answer came (no connection, a failed handshake)
    std::string body;
};

/// Runs `curl -s` with `arguments` (an address among them) and answers the status and body.
CurlAnswer Curl(const std::vector<std::string>& arguments);

/// Makes a self-signed certificate and key for "localhost" and 127.0.0.1 in `folder` with
/// openssl; answers false when it could not.
bool MakeCertificate(const std::string& folder, std::string& certificate, std::string& key);

}  // namespace kestrix::test
