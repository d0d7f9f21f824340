#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::text {

/// The encodings text arrives in or leaves in at the edges of the system. Inside, every
/// string is UTF-8.
enum class Encoding { Utf8, Windows1252, Utf16LE, Utf16BE };

/// Whether encoded UTF-16 starts with a byte-order mark.
enum class ByteOrderMark { Omit, Write };

/// The outcome of a conversion: the converted bytes and whether every character came through.
struct Conversion {
    std::string bytes;
    /// False when something was replaced: a character the target cannot hold ("?" in code
    /// page 1252, U+FFFD in UTF-8 and UTF-16) or a malformed sequence of the input.
    bool lossless = true;
};

/// What the first bytes of a file say about its encoding.
struct DetectedEncoding {
    Encoding encoding = Encoding::Utf8;
    /// Length of the byte-order mark at the start (0, 2 or 3); the text begins after it.
    size_t bomLength = 0;
};

/// The encoding of a file's bytes: a UTF-8 or a UTF-16 LE/BE byte-order mark decides; without
/// one the bytes are UTF-8 when they are well-formed UTF-8 (plain ASCII included), and code
/// page 1252 otherwise, since a single-byte file is the only other kind the system writes.
DetectedEncoding DetectEncoding(std::string_view bytes);

/// Converts UTF-8 text to `target`. Characters code page 1252 cannot hold become "?" and
/// clear `lossless`, so that a caller can fall back to UTF-16, which holds everything.
/// `bom` applies to the UTF-16 targets only.
Conversion FromUtf8(std::string_view utf8, Encoding target,
                    ByteOrderMark bom = ByteOrderMark::Omit);

/// Converts bytes in `source` to UTF-8. One leading byte-order mark of the source's own kind
/// is dropped (UTF-8 and UTF-16 sources). The five byte values code page 1252 leaves
/// undefined (81, 8D, 8F, 90, 9D) read as the control characters of the same number, as
/// the platform's own conversion does, so that any byte string survives a round trip.
Conversion ToUtf8(std::string_view bytes, Encoding source);

/// The bytes of a file as UTF-8: the encoding found by `DetectEncoding`, without its mark.
std::string DecodeText(std::string_view bytes);

/// UTF-8 to code page 1252 (see `FromUtf8`).
Conversion Utf8ToCp1252(std::string_view utf8);
/// Code page 1252 to UTF-8; always lossless.
std::string Cp1252ToUtf8(std::string_view bytes);
/// UTF-8 to UTF-16LE bytes, with or without the byte-order mark FF FE.
std::string Utf8ToUtf16LE(std::string_view utf8, ByteOrderMark bom = ByteOrderMark::Omit);
/// UTF-16LE bytes (a leading FF FE is dropped) to UTF-8; malformed units become U+FFFD.
std::string Utf16LEToUtf8(std::string_view bytes);

/// UTF-8 as 16-bit code units (for counting and cutting text by characters as the stored
/// formats count them); malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
/// 16-bit code units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

/// Appends the UTF-8 form of a code point; a surrogate or a value beyond U+10FFFF is
/// appended as U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

/// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
/// beyond U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

}  // namespace kestrix::text
