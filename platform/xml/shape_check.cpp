#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/xml/detail.h"

namespace kestrix::xml::detail {
namespace {

/// The document's bytes read as code units of `Width` bytes: one for UTF-8 and the other
/// ASCII-compatible encodings, two for UTF-16 in the byte order given. Only the ASCII range
/// matters to the scan; every other unit is ordinary content.
template <size_t Width, bool BigEndian>
class Units {
  public:
    /// The units of `data` from byte `start` on (after a byte order mark).
    Units(std::string_view data, size_t start)
        : data_(data.substr(start)), size_(data_.size() / Width) {}

    size_t size() const { return size_; }

    /// The unit at `i` (0 past the end).
    uint32_t operator[](size_t i) const {
        if (i >= size_) return 0;
        if constexpr (Width == 1) {
            return static_cast<unsigned char>(data_[i]);
        } else {
            const auto lo = static_cast<unsigned char>(data_[2 * i + (BigEndian ? 1 : 0)]);
            const auto hi = static_cast<unsigned char>(data_[2 * i + (BigEndian ? 0 : 1)]);
            return static_cast<uint32_t>(hi) << 8 | lo;
        }
    }

    /// The position of the next '<' from `i` on (size() when there is none); counts the
    /// line feeds before it into `lines`.
    size_t NextMarkup(size_t i, int32_t& lines) const {
        if constexpr (Width == 1) {
            const std::string_view rest = data_.substr(i);
            const size_t at = rest.find('<');
            const std::string_view text = rest.substr(0, at);
            lines += static_cast<int32_t>(std::count(text.begin(), text.end(), '\n'));
            return at == std::string_view::npos ? size_ : i + at;
        } else {
            for (; i < size_ && (*this)[i] != '<'; ++i)
                if ((*this)[i] == '\n') ++lines;
            return i;
        }
    }

    /// True when the ASCII text `s` stands at `i`.
    bool At(size_t i, std::string_view s) const {
        if constexpr (Width == 1) {
            return data_.substr(i).starts_with(s);
        } else {
            for (size_t k = 0; k < s.size(); ++k)
                if ((*this)[i + k] != static_cast<unsigned char>(s[k])) return false;
            return true;
        }
    }

  private:
    std::string_view data_;
    size_t size_;
};

/// One pass over the markup: counts lines, element depth and the attributes of each start
/// tag. Comments, CDATA sections, processing instructions and declarations are skipped.
template <class U>
class ShapeScan {
  public:
    explicit ShapeScan(U units) : u_(units) {}

    std::optional<ParseError> Run() {
        while (i_ < u_.size()) {
            if (u_[i_] != '<') {
                i_ = u_.NextMarkup(i_, line_);
                continue;
            }
            if (u_.At(i_, "<!--")) {
                SkipPast("-->");
            } else if (u_.At(i_, "<![CDATA[")) {
                SkipPast("]]>");
            } else if (u_.At(i_, "<?")) {
                SkipPast("?>");
            } else if (u_.At(i_, "<!")) {
                SkipDeclaration();
            } else if (u_.At(i_, "</")) {
                if (depth_ > 0) --depth_;
                SkipPast(">");
            } else if (auto refused = StartTag()) {
                return refused;
            }
        }
        return std::nullopt;
    }

  private:
    void Step() {
        if (u_[i_] == '\n') ++line_;
        ++i_;
    }

    void SkipPast(std::string_view end) {
        while (i_ < u_.size() && !u_.At(i_, end)) Step();
        i_ += end.size();
    }

    /// A declaration ("<!DOCTYPE", with its internal subset in brackets) up to its closing
    /// ">": quoted literals and comments inside may hold any character.
    void SkipDeclaration() {
        int brackets = 0;
        uint32_t quote = 0;
        i_ += 2;
        while (i_ < u_.size()) {
            const uint32_t c = u_[i_];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (u_.At(i_, "<!--")) {
                SkipPast("-->");
                continue;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                if (brackets > 0) --brackets;
            } else if (c == '>' && brackets == 0) {
                ++i_;
                return;
            }
            Step();
        }
    }

    /// A start tag: each "=" outside a quoted value introduces one attribute (namespace
    /// declarations included, which the parser handles the same way).
    std::optional<ParseError> StartTag() {
        const int32_t line = line_;
        std::string name;
        ++i_;
        for (; i_ < u_.size() && name.size() < 64; ++i_) {
            const uint32_t c = u_[i_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>') break;
            name += c < 0x80 ? static_cast<char>(c) : '?';
        }
        size_t attributes = 0;
        uint32_t quote = 0;
        uint32_t previous = 0;
        while (i_ < u_.size()) {
            const uint32_t c = u_[i_];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '=') {
                if (++attributes > kMaxAttributesPerElement)
                    return Refused(line,
                                   "The element '" + name + "' has more than " +
                                       std::to_string(kMaxAttributesPerElement) +
                                       " attributes: the limit of attributes per element is " +
                                       std::to_string(kMaxAttributesPerElement) + ".");
            } else if (c == '>') {
                ++i_;
                break;
            }
            previous = c;
            Step();
        }
        if (previous != '/' && ++depth_ > kMaxElementDepth)
            return Refused(line, "The elements are nested more than " +
                                     std::to_string(kMaxElementDepth) +
                                     " levels deep: the limit of nesting depth is " +
                                     std::to_string(kMaxElementDepth) + " levels.");
        return std::nullopt;
    }

    ParseError Refused(int32_t line, std::string reason) const {
        ParseError error;
        error.errorCode = errnum::ParseErrorBase + XML_ERR_INTERNAL_ERROR;
        error.reason = std::move(reason);
        error.line = line;
        return error;
    }

    U u_;
    size_t i_ = 0;
    int32_t line_ = 1;
    size_t depth_ = 0;
};

}  // namespace

std::optional<ParseError> CheckShape(std::string_view d) {
    auto byteAt = [&](size_t i) { return d.size() > i ? static_cast<unsigned char>(d[i]) : 0x100; };
    if (byteAt(0) == 0xFF && byteAt(1) == 0xFE) return ShapeScan(Units<2, false>(d, 2)).Run();
    if (byteAt(0) == 0xFE && byteAt(1) == 0xFF) return ShapeScan(Units<2, true>(d, 2)).Run();
    if (byteAt(0) == '<' && byteAt(1) == 0) return ShapeScan(Units<2, false>(d, 0)).Run();
    if (byteAt(0) == 0 && byteAt(1) == '<') return ShapeScan(Units<2, true>(d, 0)).Run();
    return ShapeScan(Units<1, false>(d, 0)).Run();
}

}  // namespace kestrix::xml::detail
