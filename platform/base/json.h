#pragma once

#include <string>
#include <string_view>

namespace kestrix {

/// `text` as a JSON string, quotes included: quotes, backslashes and control characters
/// escaped, everything else (UTF-8 included) as it is.
std::string JsonString(std::string_view text);

}  // namespace kestrix
