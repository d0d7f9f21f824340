#include "kestrix/documents/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

ByteArray Bytes(std::string_view text) { return ByteArray(text.begin(), text.end()); }

std::string Text(const ByteArray& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Encode(std::string_view text) {
    ByteArray bytes = Bytes(text);
    return Base64().Base64Encode(bytes);
}

std::string Decode(std::string text) { return Text(Base64().Base64Decode(text)); }

/// Encoding written bit by bit, to check the codec against something that shares none of its
/// arithmetic: the bytes as a string of bits, six bits per character, "=" up to four.
std::string ReferenceEncode(const ByteArray& bytes) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bits;
    for (uint8_t b : bytes)
        for (int i = 7; i >= 0; --i) bits += (b >> i) & 1 ? '1' : '0';
    while (bits.size() % 6 != 0) bits += '0';
    std::string out;
    for (size_t i = 0; i < bits.size(); i += 6)
        out += alphabet[std::stoi(bits.substr(i, 6), nullptr, 2)];
    while (out.size() % 4 != 0) out += '=';
    return out;
}

std::string WithoutBreaks(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

/// Whether a text with its blanks already removed is well-formed Base64: whole groups of
/// four, alphabet characters only, "=" only in the last one or two places.
bool WellFormed(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return false;
    size_t padding = 0;
    if (text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        const char c = text[i];
        const bool inAlphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!inAlphabet) return false;
    }
    return true;
}

/// The error a decoding raises, or nothing when it succeeds.
std::optional<Error> DecodeError(std::string text) {
    try {
        Base64().Base64Decode(text);
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Encoding and decoding without failures (no site needed).

TEST(Base64, EncodesTheKnownVectors) {
    EXPECT_EQ(Encode("abc"), "YWJj");
    EXPECT_EQ(Encode("ab"), "YWI=");
    EXPECT_EQ(Encode("a"), "YQ==");
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
    EXPECT_EQ(Encode(std::string(3, '\0')), "AAAA");

    EXPECT_EQ(Decode("YWJj"), "abc");
    EXPECT_EQ(Decode("YWI="), "ab");
    EXPECT_EQ(Decode("YQ=="), "a");
    EXPECT_EQ(Decode("+/+/"), std::string("\xFB\xFF\xBF", 3));
    EXPECT_EQ(Decode("AAAA"), std::string(3, '\0'));
}

TEST(Base64, EveryByteValueAndEveryLengthUpTo300RoundTrips) {
    Base64 codec;  // one object for all: its tables are built once and reused
    for (size_t length = 1; length <= 300; ++length) {
        ByteArray bytes(length);
        for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + length);
        const std::string encoded = codec.Base64Encode(bytes);
        const std::string flat = WithoutBreaks(encoded);
        ASSERT_EQ(flat, ReferenceEncode(bytes)) << "length " << length;
        ASSERT_EQ(flat.size(), (length + 2) / 3 * 4);
        std::string in = encoded;
        ASSERT_EQ(codec.Base64Decode(in), bytes) << "length " << length;
        EXPECT_EQ(in, encoded) << "the decoded text is left as it was";
    }
    ByteArray all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    std::string encoded = codec.Base64Encode(all);
    EXPECT_EQ(WithoutBreaks(encoded), ReferenceEncode(all));
    EXPECT_EQ(codec.Base64Decode(encoded), all);
}

TEST(Base64, EncodedTextIsBrokenIntoLinesOf76) {
    const std::string one = Encode(std::string(57, 'x'));
    EXPECT_EQ(one.size(), 76u);
    EXPECT_EQ(one.find('\r'), std::string::npos);

    const std::string two = Encode(std::string(58, 'x'));
    ASSERT_EQ(two.size(), 76u + 2 + 4);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
    EXPECT_EQ(two.substr(78), "eA==");

    // Exactly two full lines: one break between them and none at the end.
    const std::string full = Encode(std::string(114, 'x'));
    EXPECT_EQ(full.size(), 76u + 2 + 76);
    EXPECT_EQ(full.substr(76, 2), "\r\n");
    EXPECT_NE(full.back(), '\n');
}

TEST(Base64, InsertNewlineCharsBreaksByCharacters) {
    Base64 codec;
    EXPECT_EQ(codec.InsertNewlineChars("abcdefg", 3), "abc\r\ndef\r\ng");
    EXPECT_EQ(codec.InsertNewlineChars("abcdef", 3), "abc\r\ndef");
    EXPECT_EQ(codec.InsertNewlineChars("abcdefg", 1), "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng");
    // Not longer than a line, no line length, or a meaningless one: unchanged.
    EXPECT_EQ(codec.InsertNewlineChars("abc", 3), "abc");
    EXPECT_EQ(codec.InsertNewlineChars("abcdefg", 0), "abcdefg");
    EXPECT_EQ(codec.InsertNewlineChars("abcdefg", -2), "abcdefg");
    EXPECT_EQ(codec.InsertNewlineChars("", 5), "");
    // A character of several bytes is never cut.
    EXPECT_EQ(codec.InsertNewlineChars("äöüß€", 2), "äö\r\nüß\r\n€");
    EXPECT_EQ(codec.InsertNewlineChars("äöü", 3), "äöü");
}

TEST(Base64, DecodingIgnoresLineBreaksBlanksAndTabs) {
    EXPECT_EQ(Decode("YWJj\r\nYWI="), "abcab");
    EXPECT_EQ(Decode("YW\nJj"), "abc");
    EXPECT_EQ(Decode(" Y W J j "), "abc");
    EXPECT_EQ(Decode("\tYWJj\t\r\n"), "abc");
    EXPECT_EQ(Decode("YQ=\r\n="), "a");

    // A long text broken at another width than 76, and with blank-indented lines.
    ByteArray bytes(500);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    Base64 codec;
    std::string narrow = codec.InsertNewlineChars(ReferenceEncode(bytes), 10);
    EXPECT_EQ(codec.Base64Decode(narrow), bytes);
    std::string indented = "  " + codec.InsertNewlineChars(ReferenceEncode(bytes), 64);
    for (size_t pos = indented.find('\n'); pos != std::string::npos;
         pos = indented.find('\n', pos + 1))
        indented.insert(pos + 1, "\t  ");
    EXPECT_EQ(codec.Base64Decode(indented), bytes);

    EXPECT_EQ(codec.StripIllegalChars(" a\tb\r\nc\vd\fe"), "abc\vd\fe");
}

TEST(Base64, SeveralMegabytesRoundTrip) {
    ByteArray bytes(3 * 1024 * 1024 + 1);
    std::mt19937 random(7);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    Base64 codec;
    std::string encoded = codec.Base64Encode(bytes);
    const size_t flat = (bytes.size() + 2) / 3 * 4;
    const size_t lines = (flat + 75) / 76;
    ASSERT_EQ(encoded.size(), flat + (lines - 1) * 2);
    // Every line but the last is 76 characters long.
    size_t start = 0;
    for (size_t pos = encoded.find("\r\n"); pos != std::string::npos;
         start = pos + 2, pos = encoded.find("\r\n", start))
        ASSERT_EQ(pos - start, 76u);
    EXPECT_EQ(encoded.size() - start, flat - (lines - 1) * 76);
    EXPECT_EQ(codec.Base64Decode(encoded), bytes);
}

// ---------------------------------------------------------------------------------------
// Strings and bytes.

TEST(Base64, StringsInCodePage1252BecomeOneBytePerCharacter) {
    Base64 codec;
    EXPECT_EQ(codec.UnicodeStringToByte("abc"), Bytes("abc"));
    EXPECT_EQ(codec.UnicodeStringToByte("€äß"), Bytes("\x80\xE4\xDF"));
    EXPECT_EQ(codec.UnicodeStringToByte(""), ByteArray{});
    EXPECT_EQ(codec.ByteToUnicodeString(Bytes("\x80\xE4\xDF")), "€äß");
    EXPECT_EQ(codec.ByteToUnicodeString({}), "");

    // All 256 byte values read as code page 1252 and come back unchanged.
    ByteArray all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    const std::string text = codec.ByteToUnicodeString(all);
    EXPECT_EQ(codec.UnicodeStringToByte(text), all);
    // A zero byte in 8-bit text stays a character of its own.
    EXPECT_EQ(codec.ByteToUnicodeString(Bytes(std::string("a\0", 2))), std::string("a\0", 2));
}

TEST(Base64, StringsOutsideCodePage1252FallBackToUtf16) {
    Base64 codec;
    // Ł (U+0141) and ź (U+017A) have no place in code page 1252: every character becomes
    // its 16-bit code unit, low byte first, without a byte-order mark.
    EXPECT_EQ(codec.UnicodeStringToByte("Łódź"),
              Bytes(std::string("\x41\x01\xF3\x00\x64\x00\x7A\x01", 8)));
    // A character beyond the 16-bit range takes two units.
    EXPECT_EQ(codec.UnicodeStringToByte("a😀"), Bytes(std::string("a\0\x3D\xD8\x00\xDE", 6)));

    // What was written as 16-bit units is read back as such, so that the whole road of a
    // payload (text -> bytes -> Base64 -> bytes -> text) loses nothing.
    for (const std::string text : {"<order>Łódź, €5</order>", "Привет <b/>", "a😀", "Ā"}) {
        ByteArray bytes = codec.UnicodeStringToByte(text);
        std::string wire = codec.Base64Encode(bytes);
        EXPECT_EQ(codec.ByteToUnicodeString(codec.Base64Decode(wire)), text) << text;
    }
    // The same road in code page 1252.
    ByteArray bytes = codec.UnicodeStringToByte("<order>Müller €5</order>");
    std::string wire = codec.Base64Encode(bytes);
    EXPECT_EQ(codec.ByteToUnicodeString(codec.Base64Decode(wire)), "<order>Müller €5</order>");

    // 8-bit text whose zero bytes happen to sit where 16-bit text has them, but which
    // UnicodeStringToByte would not have written so, stays 8-bit text: "a\0" reads as "a"
    // in 16 bits, and "a" is code page 1252.
    EXPECT_EQ(codec.ByteToUnicodeString(Bytes(std::string("\x41\x00\x62\x00", 4))),
              std::string("A\0b\0", 4));
}

// ---------------------------------------------------------------------------------------
// On a site: failure texts are labels, and creation by name reads the class table.

class Base64OnSite : public ::testing::Test {
  protected:
    test::TestSite site_{"sqlite"};
};

TEST_F(Base64OnSite, EncodingNothingRaisesMissingInput) {
    ByteArray empty;
    try {
        Base64().Base64Encode(empty);
        FAIL() << "an empty array was encoded";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ErrNum(EnumerationErrors::MissingInput));
        EXPECT_EQ(e.source(), "Kestrix.Base64.Base64Encode");
        const std::string label = TranslateLabel("SLBSH4551");
        EXPECT_EQ(label.find("<font"), std::string::npos) << "the label is shipped";
        EXPECT_NE(e.description().find(label), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("METHOD: Kestrix.Base64.Base64Encode caught: "),
                  std::string::npos);
    }
    EXPECT_NE(site_.LogText().find("Kestrix.Base64.Base64Encode"), std::string::npos);
}

TEST_F(Base64OnSite, DamagedTextRaisesMissingInput) {
    const std::string label = TranslateLabel("SLBSH4550");
    ASSERT_EQ(label.find("<font"), std::string::npos) << "the label is shipped";
    const std::vector<std::string> damaged = {
        "",          // nothing
        " \r\n\t ",  // nothing but blanks
        "YWJjZ",     // five characters
        "YWJ",       // cut short
        "YWJjYW",    // cut short after a whole group
        "YW!j",      // a character outside the alphabet
        "YW-_",      // the characters of the URL alphabet
        "YW.j",
        "YW=j",      // padding inside the group
        "YQ==YQ==",  // padding inside the text
        "Y===",      // three padding characters
        "====",
        "YWJj=",                     // padding after a whole group
        "YW\xC3\xA4",                // ä: a character outside ASCII
        "YWJ\xC3\xA4",               // the same, and one character too many
        "YW\xC4\x80\xC4\x80",        // Ā, which code page 1252 cannot hold
        "\xE4\x85\x81\xE4\x85\x81",  // U+4141 twice: its 16-bit form reads "AAAA"
        std::string("YW\0j", 4),
    };
    for (const std::string& text : damaged) {
        std::optional<Error> e = DecodeError(text);
        ASSERT_TRUE(e.has_value()) << "decoded: " << text;
        EXPECT_EQ(e->number(), ErrNum(EnumerationErrors::MissingInput)) << text;
        EXPECT_EQ(e->source(), "Kestrix.Base64.Base64Decode") << text;
        EXPECT_NE(e->description().find(label), std::string::npos) << e->description();
        EXPECT_NE(e->description().find("METHOD: Kestrix.Base64.Base64Decode caught: "),
                  std::string::npos);
    }
}

TEST_F(Base64OnSite, TheClassIsCreatedByName) {
    auto codec = std::dynamic_pointer_cast<Base64>(CreateComponent("Kestrix.Base64"));
    ASSERT_NE(codec, nullptr);
    std::string text = "YWJj";
    EXPECT_EQ(codec->Base64Decode(text), Bytes("abc"));
}

// Random inputs with a fixed seed: every array round-trips and matches the bit-by-bit
// encoding; every text either decodes (and then was well-formed, and encodes back to itself
// up to the unused bits of its last character) or raises MissingInput. Nothing else may
// happen. The engine's raw output is used so that the sequence is the same everywhere.
TEST_F(Base64OnSite, RandomInputsRoundTripOrFailCleanly) {
    std::mt19937 random(20261208);
    const auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    const std::string pool =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
        "====\r\n\t -_.!*";
    Base64 codec;

    for (int round = 0; round < 1500; ++round) {
        ByteArray bytes(1 + below(200));
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        std::string encoded = codec.Base64Encode(bytes);
        ASSERT_EQ(WithoutBreaks(encoded), ReferenceEncode(bytes)) << "round " << round;
        ASSERT_EQ(codec.Base64Decode(encoded), bytes) << "round " << round;
    }

    int decoded = 0, refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        switch (below(3)) {
            case 0: {  // a valid encoding with a few characters changed, added or removed
                ByteArray bytes(1 + below(40));
                for (auto& b : bytes) b = static_cast<uint8_t>(random());
                text = codec.Base64Encode(bytes);
                for (uint32_t edits = below(3); edits > 0; --edits) {
                    const size_t at = below(static_cast<uint32_t>(text.size()) + 1);
                    const char c = pool[below(static_cast<uint32_t>(pool.size()))];
                    switch (below(3)) {
                        case 0:
                            if (at < text.size()) text[at] = c;
                            break;
                        case 1:
                            text.insert(at, 1, c);
                            break;
                        default:
                            if (at < text.size()) text.erase(at, 1);
                    }
                }
                break;
            }
            case 1:  // characters of the pool
                for (uint32_t n = below(24); n > 0; --n)
                    text += pool[below(static_cast<uint32_t>(pool.size()))];
                break;
            default:  // any bytes at all, valid UTF-8 or not
                for (uint32_t n = below(24); n > 0; --n) text += static_cast<char>(random());
        }

        std::string blankless;
        for (char c : text)
            if (c != '\r' && c != '\n' && c != '\t' && c != ' ') blankless += c;

        std::string in = text;
        try {
            const ByteArray out = codec.Base64Decode(in);
            ++decoded;
            ASSERT_TRUE(WellFormed(blankless)) << "decoded a damaged text: " << text;
            const size_t padding = blankless.size() - blankless.find_last_not_of('=') - 1;
            ASSERT_EQ(out.size(), blankless.size() / 4 * 3 - padding) << text;
            // Encoding the bytes again gives the text back, except for the bits of the last
            // character that no byte uses.
            const std::string again = ReferenceEncode(out);
            const size_t last = blankless.size() - padding - 1;
            ASSERT_EQ(again.substr(0, last), blankless.substr(0, last)) << text;
            ASSERT_EQ(again.substr(last + 1), blankless.substr(last + 1)) << text;
        } catch (const Error& e) {
            ++refused;
            ASSERT_EQ(e.number(), ErrNum(EnumerationErrors::MissingInput)) << text;
            ASSERT_FALSE(WellFormed(blankless)) << "refused a sound text: " << text;
        }
    }
    // Both outcomes were exercised.
    EXPECT_GT(decoded, 100);
    EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace kestrix
