#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix::net {

/// Escapes a text for the query part of an address: every byte of its UTF-8 form other than
/// the unreserved characters (letters, digits, "-", ".", "_", "~") becomes "%XX"
/// (upper-case hexadecimal); a blank becomes "%20".
std::string EscapeQueryValue(std::string_view text);

/// The parts of an address "scheme://[user[:password]@]host[:port][/path]". The path is
/// kept as written (no escapes decoded), beginning with "/" when present.
struct Address {
    /// Lower case ("ftp", "https").
    std::string scheme;
    std::string user;
    std::string password;
    /// Without the brackets of an IPv6 literal.
    std::string host;
    /// 0 when the address names none.
    int port = 0;
    std::string path;
};

/// Splits an address; nothing when it has no "scheme://", no host, or a port that is not a
/// number from 1 to 65535. The scheme is matched ignoring case.
std::optional<Address> ParseAddress(std::string_view text);

/// The address with the password of its "user:password@" part replaced by "***", safe for
/// messages and logs. Text that is no address comes back unchanged.
std::string MaskAddress(std::string_view text);

/// "host:port", with brackets around an IPv6 literal.
std::string HostAndPort(const Address& address, int port);

}  // namespace kestrix::net
