#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/object.h"

namespace kestrix {

/// A byte array as the codec takes and returns it: the bytes in order, the first at index 0.
using ByteArray = std::vector<uint8_t>;

/// "Kestrix.Base64": converts between byte arrays and Base64 text (the MIME alphabet with "="
/// padding, broken into lines of 76 characters), and between strings and byte arrays.
///
/// The two lookup tables are filled on first use and kept in the object; an object is used
/// by one thread at a time.
class Base64 : public Object {
  public:
    /// The Base64 text of the bytes, in lines of 76 characters separated by CR LF (the last
    /// line without a break). An empty array fails with `MissingInput`.
    std::string Base64Encode(ByteArray& i_ayArrayIn);

    /// The bytes of a Base64 text. CR, LF, tab and space anywhere in the text are ignored.
    /// Fails with `MissingInput` when what is left is empty, is not a whole number of groups
    /// of four characters, holds a character outside the alphabet, or holds "=" anywhere but
    /// in the last one or two places.
    ByteArray Base64Decode(std::string& i_sBase64String);

    /// The string as 8-bit text in code page 1252; a string holding a character that code
    /// page cannot represent gives its 16-bit code units instead (UTF-16, little-endian,
    /// without a byte-order mark), so that nothing is lost.
    ByteArray UnicodeStringToByte(const std::string& i_sStringIn);

    /// The string of 8-bit text in code page 1252. Bytes that `UnicodeStringToByte` wrote as
    /// 16-bit code units are read back as such: bytes holding a zero byte that are exactly
    /// what `UnicodeStringToByte` gives for their UTF-16 reading. Code page 1252 text holds
    /// no zero bytes, so it is not mistaken for them; 16-bit text without a zero byte (no
    /// character below U+0100 nor one such as U+0100 or U+4E00) cannot be told apart from
    /// 8-bit text and is read as code page 1252.
    std::string ByteToUnicodeString(const ByteArray& i_ayArrayIn);

    /// The text without any carriage return, line feed, tab or space.
    std::string StripIllegalChars(const std::string& i_sStringIn);

    /// The text broken into lines of `i_lLineLength` characters joined by CR LF; the last
    /// line holds the rest and has no break. A text not longer than a line, or a line length
    /// of 0 or less, is returned unchanged.
    std::string InsertNewlineChars(const std::string& i_sStringIn, int32_t i_lLineLength);

  private:
    /// Fills the two lookup tables once.
    void Initialize();

    /// Value (0..63) to character.
    std::array<char, 64> toChar_{};
    /// Byte to value; -1 for a byte outside the alphabet (padding included).
    std::array<int8_t, 256> toValue_{};
    bool initialized_ = false;
};

}  // namespace kestrix
