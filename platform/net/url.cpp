#include "platform/net/url.h"

#include <algorithm>
#include <charconv>

#include "platform/base/strings.h"

namespace kestrix::net {

std::string EscapeQueryValue(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3 / 2);
    for (unsigned char c : text) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::optional<Address> ParseAddress(std::string_view text) {
    size_t sep = text.find("://");
    if (sep == std::string_view::npos || sep == 0) return std::nullopt;
    Address a;
    a.scheme = ToLower(text.substr(0, sep));
    for (char c : a.scheme)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))
            return std::nullopt;
    std::string_view rest = text.substr(sep + 3);
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) a.path = std::string(rest.substr(slash));
    // The last "@" ends the user part: a password may itself hold "@".
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        size_t colon = userInfo.find(':');
        a.user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos) a.password = std::string(userInfo.substr(colon + 1));
    }
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        a.host = std::string(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            portText = after.substr(1);
        }
    } else {
        size_t colon = authority.find(':');
        a.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    }
    if (a.host.empty()) return std::nullopt;
    if (!portText.empty()) {
        auto [end, ec] =
            std::from_chars(portText.data(), portText.data() + portText.size(), a.port);
        if (ec != std::errc() || end != portText.data() + portText.size() || a.port < 1 ||
            a.port > 65535)
            return std::nullopt;
    }
    return a;
}

std::string MaskAddress(std::string_view text) {
    // Rather too much masked than a password shown: without a scheme the text is taken as
    // beginning with its user part, and a password that holds "/" reaches to the last "@".
    size_t sep = text.find("://");
    size_t start = sep == std::string_view::npos ? 0 : sep + 3;
    size_t end = std::min(text.find('/', start), text.size());
    size_t at = text.substr(start, end - start).rfind('@');
    at = at != std::string_view::npos ? start + at : text.rfind('@');
    if (at == std::string_view::npos || at < start) return std::string(text);
    size_t colon = text.find(':', start);
    if (colon == std::string_view::npos || colon > at) return std::string(text);
    std::string out(text.substr(0, colon + 1));
    out += "***";
    out += text.substr(at);
    return out;
}

std::string HostAndPort(const Address& address, int port) {
    std::string host =
        address.host.find(':') != std::string::npos ? "[" + address.host + "]" : address.host;
    return host + ":" + std::to_string(port);
}

}  // namespace kestrix::net
