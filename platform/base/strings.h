#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

/// The text without blanks (space, tab, CR, LF) at either end.
std::string Trim(std::string_view s);
/// ASCII upper and lower case; other bytes are kept as they are.
std::string ToUpper(std::string_view s);
std::string ToLower(std::string_view s);
/// Equality ignoring ASCII case.
bool IEquals(std::string_view a, std::string_view b);
/// Position of `needle` in `hay` from `from` on, ignoring ASCII case; npos when absent.
size_t IFind(std::string_view hay, std::string_view needle, size_t from = 0);
bool IStartsWith(std::string_view s, std::string_view prefix);
/// Every occurrence of `from` replaced by `to`, scanning left to right without rescanning.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
/// The number of bytes that the first `count` characters of the UTF-8 text take from byte
/// `from` on (fewer when the text ends first); a multi-byte character is never split.
size_t Utf8Bytes(std::string_view text, size_t from, size_t count);
/// The first `count` characters of a UTF-8 text.
std::string Utf8Prefix(std::string_view text, size_t count);
/// The whole text read as a decimal whole number of 32 bits (a sign allowed, nothing else
/// around it); nothing for an empty text, any other character or a number out of range.
std::optional<int32_t> WholeNumber(std::string_view text);
/// The parts of `s` between the separators (an empty text gives one empty part).
std::vector<std::string> Split(std::string_view s, char sep);
/// True when the text holds a control character (below 0x20, or DEL): what a name must not
/// contain, because it breaks the files and terminals the name is written to.
bool HasControlCharacter(std::string_view s);
/// The text with every control character shown as "\xHH" (line breaks and tabs included),
/// so that printing it can never move a terminal's cursor or change its colours.
std::string Printable(std::string_view s);
/// The text with "&", "<", ">" and '"' written as XML entities, and line breaks and tabs as
/// character references, so that it stands as it is in a text or a double-quoted attribute
/// value of XML written by hand.
std::string XmlEscape(std::string_view s);

}  // namespace kestrix
