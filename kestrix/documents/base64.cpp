#include "kestrix/documents/base64.h"

#include <string_view>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "platform/text/code_page.h"

namespace kestrix {

namespace {

/// Encoded text is broken into lines of this many characters.
constexpr int32_t kLineLength = 76;

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string_view AsText(const ByteArray& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

ByteArray AsBytes(std::string_view text) { return ByteArray(text.begin(), text.end()); }

}  // namespace

void Base64::Initialize() {
    if (initialized_) return;
    toValue_.fill(-1);
    for (size_t value = 0; value < kAlphabet.size(); ++value) {
        toChar_[value] = kAlphabet[value];
        toValue_[static_cast<unsigned char>(kAlphabet[value])] = static_cast<int8_t>(value);
    }
    initialized_ = true;
}

std::string Base64::Base64Encode(ByteArray& i_ayArrayIn) {
    try {
        if (i_ayArrayIn.empty())
            Raise(EnumerationErrors::MissingInput, "Kestrix.Base64.Base64Encode",
                  TranslateLabel("SLBSH4551"));
        Initialize();

        const size_t n = i_ayArrayIn.size();
        const size_t full = n - n % 3;
        std::string out;
        out.reserve(full / 3 * 4 + (n % 3 > 0 ? 4 : 0));
        for (size_t i = 0; i < full; i += 3) {
            const uint32_t group = (uint32_t{i_ayArrayIn[i]} << 16) |
                                   (uint32_t{i_ayArrayIn[i + 1]} << 8) | i_ayArrayIn[i + 2];
            out += toChar_[(group >> 18) & 63];
            out += toChar_[(group >> 12) & 63];
            out += toChar_[(group >> 6) & 63];
            out += toChar_[group & 63];
        }
        if (n % 3 == 1) {
            const uint32_t group = uint32_t{i_ayArrayIn[full]} << 16;
            out += toChar_[(group >> 18) & 63];
            out += toChar_[(group >> 12) & 63];
            out += "==";
        } else if (n % 3 == 2) {
            const uint32_t group =
                (uint32_t{i_ayArrayIn[full]} << 16) | (uint32_t{i_ayArrayIn[full + 1]} << 8);
            out += toChar_[(group >> 18) & 63];
            out += toChar_[(group >> 12) & 63];
            out += toChar_[(group >> 6) & 63];
            out += '=';
        }
        return InsertNewlineChars(out, kLineLength);
    } catch (...) {
        Reraise("Kestrix.Base64.Base64Encode");
    }
}

ByteArray Base64::Base64Decode(std::string& i_sBase64String) {
    try {
        Initialize();
        // Base64 text is ASCII, so the text's own bytes are decoded: any other character is
        // outside the alphabet whatever its bytes. Its 8-bit or 16-bit form would not do, as
        // a character such as U+4141 has the 16-bit form "AA" and would pass for Base64.
        const std::string text = StripIllegalChars(i_sBase64String);
        const size_t length = text.size();
        if (length == 0 || length % 4 != 0)
            Raise(EnumerationErrors::MissingInput, "Kestrix.Base64.Base64Decode",
                  TranslateLabel("SLBSH4550"));

        size_t padding = 0;
        if (text[length - 1] == '=') padding = text[length - 2] == '=' ? 2 : 1;
        const size_t data = length - padding;

        // Every character before the padding must belong to the alphabet: a stray "=" or a
        // character of another alphabet means the text is damaged, and decoding it anyway
        // would hand back wrong bytes as if they were right.
        std::vector<uint8_t> values(data);
        for (size_t i = 0; i < data; ++i) {
            const int8_t value = toValue_[static_cast<unsigned char>(text[i])];
            if (value < 0)
                Raise(EnumerationErrors::MissingInput, "Kestrix.Base64.Base64Decode",
                      TranslateLabel("SLBSH4550"));
            values[i] = static_cast<uint8_t>(value);
        }

        ByteArray out;
        out.reserve(length / 4 * 3 - padding);
        const size_t whole = padding > 0 ? length - 4 : length;
        for (size_t i = 0; i < whole; i += 4) {
            const uint32_t group = (uint32_t{values[i]} << 18) | (uint32_t{values[i + 1]} << 12) |
                                   (uint32_t{values[i + 2]} << 6) | values[i + 3];
            out.push_back(static_cast<uint8_t>(group >> 16));
            out.push_back(static_cast<uint8_t>(group >> 8));
            out.push_back(static_cast<uint8_t>(group));
        }
        if (padding > 0) {
            // The last group: two characters give one byte, three give two.
            uint32_t group = (uint32_t{values[whole]} << 18) | (uint32_t{values[whole + 1]} << 12);
            if (padding == 1) group |= uint32_t{values[whole + 2]} << 6;
            out.push_back(static_cast<uint8_t>(group >> 16));
            if (padding == 1) out.push_back(static_cast<uint8_t>(group >> 8));
        }
        return out;
    } catch (...) {
        Reraise("Kestrix.Base64.Base64Decode");
    }
}

ByteArray Base64::UnicodeStringToByte(const std::string& i_sStringIn) {
    try {
        text::Conversion narrow = text::Utf8ToCp1252(i_sStringIn);
        if (narrow.lossless && text::Cp1252ToUtf8(narrow.bytes) == i_sStringIn)
            return AsBytes(narrow.bytes);
        return AsBytes(text::Utf8ToUtf16LE(i_sStringIn));
    } catch (...) {
        Reraise("Kestrix.Base64.UnicodeStringToByte");
    }
}

std::string Base64::ByteToUnicodeString(const ByteArray& i_ayArrayIn) {
    try {
        const std::string_view bytes = AsText(i_ayArrayIn);
        // 8-bit text holds no zero byte; the 16-bit units of most texts hold one (the high
        // byte of every character below U+0100). Only then is the 16-bit reading tried, and
        // only kept when it is exactly what UnicodeStringToByte writes for it.
        if (bytes.size() % 2 == 0 && bytes.find('\0') != std::string_view::npos) {
            std::string wide = text::Utf16LEToUtf8(bytes);
            if (UnicodeStringToByte(wide) == i_ayArrayIn) return wide;
        }
        return text::Cp1252ToUtf8(bytes);
    } catch (...) {
        Reraise("Kestrix.Base64.ByteToUnicodeString");
    }
}

std::string Base64::StripIllegalChars(const std::string& i_sStringIn) {
    try {
        std::string out;
        out.reserve(i_sStringIn.size());
        for (char c : i_sStringIn) {
            if (c != '\r' && c != '\n' && c != '\t' && c != ' ') out += c;
        }
        return out;
    } catch (...) {
        Reraise("Kestrix.Base64.StripIllegalChars");
    }
}

std::string Base64::InsertNewlineChars(const std::string& i_sStringIn, int32_t i_lLineLength) {
    try {
        // Lines are counted in characters, not bytes, so that a break never falls inside
        // the bytes of one character.
        const auto startsCharacter = [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        };
        size_t characters = 0;
        for (char c : i_sStringIn) characters += startsCharacter(c) ? 1 : 0;
        if (i_lLineLength <= 0 || characters <= static_cast<size_t>(i_lLineLength))
            return i_sStringIn;

        const size_t line = static_cast<size_t>(i_lLineLength);
        std::string out;
        out.reserve(i_sStringIn.size() + characters / line * 2);
        size_t inLine = 0;
        for (char c : i_sStringIn) {
            if (startsCharacter(c)) {
                if (inLine == line) {
                    out += "\r\n";
                    inLine = 0;
                }
                ++inLine;
            }
            out += c;
        }
        return out;
    } catch (...) {
        Reraise("Kestrix.Base64.InsertNewlineChars");
    }
}

}  // namespace kestrix
