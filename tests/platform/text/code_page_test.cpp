#include "platform/text/code_page.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestrix::text;
using namespace std::string_literals;

TEST(CodePage, Cp1252HoldsWesternTextBothWays) {
    const std::string utf8 = "Gr\u00FC\u00DFe \u20AC100 \u2013 \u201Cquoted\u201D \u0160";
    const Conversion c = Utf8ToCp1252(utf8);
    EXPECT_TRUE(c.lossless);
    EXPECT_EQ(c.bytes, "Gr\xFC\xDF" "e \x80" "100 \x96 \x93quoted\x94 \x8A");
    EXPECT_EQ(Cp1252ToUtf8(c.bytes), utf8);
}

TEST(CodePage, CharactersCp1252CannotHoldBecomeOneQuestionMarkEachAndReportLoss) {
    // Two-, three- and four-byte characters outside the code page.
    const Conversion c = Utf8ToCp1252("a\u0434b\u65E5\u672Cc\U0001F600d");
    EXPECT_FALSE(c.lossless);
    EXPECT_EQ(c.bytes, "a?b??c?d");

    // A literal question mark is not a loss.
    EXPECT_TRUE(Utf8ToCp1252("why?").lossless);
}

TEST(CodePage, EveryByteOfCp1252SurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    // The undefined byte 81 reads as the control character U+0081.
    EXPECT_NE(utf8.find("\xC2\x81"), std::string::npos);
    const Conversion back = Utf8ToCp1252(utf8);
    EXPECT_TRUE(back.lossless);
    EXPECT_EQ(back.bytes, all);
}

TEST(CodePage, MalformedUtf8IsReplacedAndReportedAsLoss) {
    // A truncated sequence, an overlong slash, an encoded surrogate, a stray continuation.
    const Conversion c = Utf8ToCp1252("a\xC3(b \xC0\xAF \xED\xA0\x80 \x80!");
    EXPECT_FALSE(c.lossless);
    EXPECT_EQ(c.bytes, "a?(b ?? ??? ?!");

    const Conversion u16 = FromUtf8("x\xFFy", Encoding::Utf16LE);
    EXPECT_FALSE(u16.lossless);
    EXPECT_EQ(u16.bytes, "x\0\xFD\xFFy\0"s);

    const Conversion same = ToUtf8("ok\xE2\x82", Encoding::Utf8);  // cut in the middle
    EXPECT_FALSE(same.lossless);
    EXPECT_EQ(same.bytes, "ok\uFFFD");
}

TEST(CodePage, Utf16LittleEndianWithAndWithoutMark) {
    const std::string utf8 = "A\u20AC\U0001F600";
    const std::string plain = "A\0\xAC\x20\x3D\xD8\x00\xDE"s;
    EXPECT_EQ(Utf8ToUtf16LE(utf8), plain);
    EXPECT_EQ(Utf8ToUtf16LE(utf8, ByteOrderMark::Write), "\xFF\xFE"s + plain);
    EXPECT_EQ(Utf16LEToUtf8(plain), utf8);
    EXPECT_EQ(Utf16LEToUtf8("\xFF\xFE"s + plain), utf8);  // the mark is not part of the text

    const Conversion be = FromUtf8(utf8, Encoding::Utf16BE, ByteOrderMark::Write);
    EXPECT_EQ(be.bytes, "\xFE\xFF\0A\x20\xAC\xD8\x3D\xDE\x00"s);
    EXPECT_EQ(ToUtf8(be.bytes, Encoding::Utf16BE).bytes, utf8);

    // NUL characters are text like any other.
    const std::string withNul = "a\0b"s;
    EXPECT_EQ(Utf16LEToUtf8(Utf8ToUtf16LE(withNul)), withNul);
}

TEST(CodePage, MalformedUtf16BecomesReplacementCharacters) {
    // An unpaired high surrogate before "A", then a dangling odd byte.
    const Conversion c = ToUtf8("\x00\xD8" "A\0" "B\0" "\x43"s, Encoding::Utf16LE);
    EXPECT_FALSE(c.lossless);
    EXPECT_EQ(c.bytes, "\uFFFDAB\uFFFD");

    // A lone low surrogate at the end.
    EXPECT_EQ(Utf16LEToUtf8("Z\0\x00\xDC"s), "Z\uFFFD");
}

TEST(CodePage, LongTextsConvertCompletely) {
    std::string utf8;
    for (int i = 0; i < 20000; ++i) utf8 += "\u00E9\u20AC-x";
    const Conversion cp = Utf8ToCp1252(utf8);
    EXPECT_TRUE(cp.lossless);
    EXPECT_EQ(cp.bytes.size(), 20000u * 4);
    EXPECT_EQ(Cp1252ToUtf8(cp.bytes), utf8);

    const std::string u16 = Utf8ToUtf16LE(utf8);
    EXPECT_EQ(u16.size(), 20000u * 8);
    EXPECT_EQ(Utf16LEToUtf8(u16), utf8);
}

TEST(CodePage, EncodingIsDetectedFromTheFirstBytes) {
    struct Case {
        std::string bytes;
        Encoding encoding;
        size_t bomLength;
        std::string text;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF<a>\xC3\xA9</a>", Encoding::Utf8, 3, "<a>\u00E9</a>"},
        {"\xFF\xFE<\0a\0>\0"s, Encoding::Utf16LE, 2, "<a>"},
        {"\xFE\xFF\0<\0a\0>"s, Encoding::Utf16BE, 2, "<a>"},
        {"<a>plain</a>", Encoding::Utf8, 0, "<a>plain</a>"},
        {"<a>\xC3\xA9</a>", Encoding::Utf8, 0, "<a>\u00E9</a>"},
        {"<a>Gr\xFC\xDF" "e</a>", Encoding::Windows1252, 0, "<a>Gr\u00FC\u00DFe</a>"},
        {"", Encoding::Utf8, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const DetectedEncoding d = DetectEncoding(c.bytes);
        EXPECT_EQ(d.encoding, c.encoding);
        EXPECT_EQ(d.bomLength, c.bomLength);
        EXPECT_EQ(DecodeText(c.bytes), c.text);
    }
}

TEST(CodePage, SixteenBitCodeUnits) {
    const std::u16string units = Utf8ToUtf16("a\u00E9\U0001F600");
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[1], u'\u00E9');
    EXPECT_EQ(units[2], 0xD83D);
    EXPECT_EQ(units[3], 0xDE00);
    EXPECT_EQ(Utf16ToUtf8(units), "a\u00E9\U0001F600");

    // A surrogate without its partner, in the middle and at the end.
    EXPECT_EQ(Utf16ToUtf8(u"x\xDC00y\xD800"), "x\uFFFDy\uFFFD");

    std::string out;
    AppendUtf8(out, 0x110000);
    AppendUtf8(out, U'\u00FF');
    EXPECT_EQ(out, "\uFFFD\u00FF");
}

TEST(CodePage, Utf8Validation) {
    EXPECT_TRUE(IsValidUtf8("plain \u00E9 \u20AC \U0010FFFF"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong NUL
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong slash
    EXPECT_FALSE(IsValidUtf8("\xED\xB0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\xFE"));
}
