#include "platform/text/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/base/error.h"

namespace kestrix::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

/// One character read from UTF-8: its code point and the bytes it took. A malformed
/// sequence takes its longest well-formed prefix (at least one byte).
struct Utf8Char {
    char32_t codePoint = kReplacement;
    size_t length = 1;
    bool valid = false;
};

Utf8Char DecodeUtf8At(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) return {lead, 1, true};

    size_t need;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;       // overlong
        if (lead == 0xED) high = 0x9F;      // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;       // overlong
        if (lead == 0xF4) high = 0x8F;      // beyond U+10FFFF
    } else {
        return {};
    }
    for (size_t i = 1; i <= need; ++i) {
        if (i >= s.size()) return {kReplacement, i, false};
        const unsigned char c = b(i);
        const unsigned char lo = i == 1 ? low : 0x80;
        const unsigned char hi = i == 1 ? high : 0xBF;
        if (c < lo || c > hi) return {kReplacement, i, false};
        cp = (cp << 6) | (c & 0x3F);
    }
    return {cp, need + 1, true};
}

const char* IconvName(Encoding e) {
    switch (e) {
        case Encoding::Utf8: return "UTF-8";
        case Encoding::Windows1252: return "CP1252";
        case Encoding::Utf16LE: return "UTF-16LE";
        case Encoding::Utf16BE: return "UTF-16BE";
    }
    return "UTF-8";
}

/// An open iconv conversion, closed when it goes out of scope.
class Iconv {
public:
    Iconv(Encoding to, Encoding from) : cd_(iconv_open(IconvName(to), IconvName(from))) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw Error(errnum::E_FAIL, "Text.CodePage",
                        std::string("The conversion from ") + IconvName(from) + " to " +
                            IconvName(to) + " is not available: " + std::strerror(errno));
        }
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

/// Handles input iconv refused at the start of `rest` (never empty): appends what stands for
/// it to `out` and returns the number of bytes it consumed (at least one). Clears `lossless`
/// when it had to replace something.
using IllegalInput = std::function<size_t(std::string_view rest, std::string& out, bool& lossless)>;

Conversion Run(std::string_view input, Encoding to, Encoding from, const IllegalInput& onIllegal) {
    Iconv cd(to, from);
    Conversion result;
    result.bytes.reserve(input.size() * (to == Encoding::Utf8 ? 1 : 2) + 8);
    char buffer[8192];
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (true) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd.get(), inLeft ? &in : nullptr, &inLeft, &out, &outLeft);
        const int err = errno;
        result.bytes.append(buffer, out - buffer);
        if (rc != static_cast<size_t>(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (err == E2BIG) continue;
        if (err == EILSEQ || err == EINVAL) {
            const size_t used = onIllegal(std::string_view(in, inLeft), result.bytes,
                                          result.lossless);
            in += used;
            inLeft -= used;
            if (inLeft == 0) break;
            continue;
        }
        throw Error(errnum::E_FAIL, "Text.CodePage",
                    std::string("Text conversion failed: ") + std::strerror(err));
    }
    return result;
}

void AppendUtf16(std::string& out, char32_t cp, Encoding e) {
    const auto unit = [&](char16_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        if (e == Encoding::Utf16LE) {
            out.push_back(lo);
            out.push_back(hi);
        } else {
            out.push_back(hi);
            out.push_back(lo);
        }
    };
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
        unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        unit(static_cast<char16_t>(kReplacement));
    } else {
        unit(static_cast<char16_t>(cp));
    }
}

/// The control characters 81, 8D, 8F, 90 and 9D, which code page 1252 leaves undefined and
/// maps one to one.
bool IsCp1252Hole(char32_t c) {
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

Conversion EncodeUtf8(std::string_view utf8, Encoding target) {
    if (target == Encoding::Utf8) {
        // Well-formed input passes unchanged; each malformed sequence becomes U+FFFD.
        Conversion r;
        r.bytes.reserve(utf8.size());
        for (size_t i = 0; i < utf8.size();) {
            const Utf8Char c = DecodeUtf8At(utf8.substr(i));
            if (c.valid) {
                r.bytes.append(utf8.substr(i, c.length));
            } else {
                AppendUtf8(r.bytes, kReplacement);
                r.lossless = false;
            }
            i += c.length;
        }
        return r;
    }
    return Run(utf8, target, Encoding::Utf8,
               [target](std::string_view rest, std::string& out, bool& lossless) -> size_t {
                   const Utf8Char c = DecodeUtf8At(rest);
                   if (target == Encoding::Windows1252) {
                       if (c.valid && IsCp1252Hole(c.codePoint)) {
                           out.push_back(static_cast<char>(c.codePoint));
                       } else {
                           out.push_back('?');
                           lossless = false;
                       }
                   } else {
                       AppendUtf16(out, c.valid ? c.codePoint : kReplacement, target);
                       if (!c.valid) lossless = false;
                   }
                   return c.length;
               });
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const Utf8Char c = DecodeUtf8At(bytes.substr(i));
        if (!c.valid) return false;
        i += c.length;
    }
    return true;
}

DetectedEncoding DetectEncoding(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) return {Encoding::Utf8, 3};
    if (bytes.starts_with(kUtf16LEBom)) return {Encoding::Utf16LE, 2};
    if (bytes.starts_with(kUtf16BEBom)) return {Encoding::Utf16BE, 2};
    if (IsValidUtf8(bytes)) return {Encoding::Utf8, 0};
    return {Encoding::Windows1252, 0};
}

Conversion FromUtf8(std::string_view utf8, Encoding target, ByteOrderMark bom) {
    Conversion r = EncodeUtf8(utf8, target);
    if (bom == ByteOrderMark::Write) {
        if (target == Encoding::Utf16LE) r.bytes.insert(0, kUtf16LEBom);
        if (target == Encoding::Utf16BE) r.bytes.insert(0, kUtf16BEBom);
    }
    return r;
}

Conversion ToUtf8(std::string_view bytes, Encoding source) {
    switch (source) {
        case Encoding::Utf8:
            if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
            return EncodeUtf8(bytes, Encoding::Utf8);
        case Encoding::Utf16LE:
            if (bytes.starts_with(kUtf16LEBom)) bytes.remove_prefix(kUtf16LEBom.size());
            break;
        case Encoding::Utf16BE:
            if (bytes.starts_with(kUtf16BEBom)) bytes.remove_prefix(kUtf16BEBom.size());
            break;
        case Encoding::Windows1252:
            break;
    }
    return Run(bytes, Encoding::Utf8, source,
               [source](std::string_view rest, std::string& out, bool& lossless) -> size_t {
                   if (source == Encoding::Windows1252) {
                       // Only the five undefined bytes are refused; they keep their value.
                       AppendUtf8(out, static_cast<unsigned char>(rest[0]));
                       return 1;
                   }
                   // UTF-16: an unpaired surrogate (one unit) or a dangling odd byte.
                   AppendUtf8(out, kReplacement);
                   lossless = false;
                   return rest.size() >= 2 ? 2 : rest.size();
               });
}

std::string DecodeText(std::string_view bytes) {
    const DetectedEncoding d = DetectEncoding(bytes);
    return ToUtf8(bytes, d.encoding).bytes;
}

Conversion Utf8ToCp1252(std::string_view utf8) {
    return FromUtf8(utf8, Encoding::Windows1252);
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    return ToUtf8(bytes, Encoding::Windows1252).bytes;
}

std::string Utf8ToUtf16LE(std::string_view utf8, ByteOrderMark bom) {
    return FromUtf8(utf8, Encoding::Utf16LE, bom).bytes;
}

std::string Utf16LEToUtf8(std::string_view bytes) {
    return ToUtf8(bytes, Encoding::Utf16LE).bytes;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    const std::string bytes = EncodeUtf8(utf8, Encoding::Utf16LE).bytes;
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return units;
}

std::string Utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
        }
    }
    return out;
}

}  // namespace kestrix::text
