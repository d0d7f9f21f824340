#pragma once

#include <string>
#include <string_view>

namespace kestrix::net {

/// Escapes a text for the query part of an address: every byte of its UTF-8 form other than
/// the unreserved characters (letters, digits, "-", ".", "_", "~") becomes "%XX"
/// (upper-case hexadecimal); a blank becomes "%20".
std::string EscapeQueryValue(std::string_view text);

}  // namespace kestrix::net
