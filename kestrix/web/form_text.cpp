// A posted form read as one string, its escapes and HTML entities.
#include "kestrix/web/form_text.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/intake/error_folder.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/text/code_page.h"

namespace kestrix::form_text {

namespace {

bool HexDigits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size()) return false;
    for (size_t i = from; i < from + count; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

/// The escape at `at` ("%HH" or "%uHHHH"): its code and length. An escape that is no escape
/// raises.
std::pair<char32_t, size_t> urlCharDecode(const std::string& text, size_t at, bool& unicode) {
    unicode = at + 1 < text.size() && text[at + 1] == 'u' && HexDigits(text, at + 2, 4);
    const size_t length = unicode ? 6 : 3;
    if (!unicode && !HexDigits(text, at + 1, 2))
        throw Error(ErrNum(EnumerationErrors::InvalidParamValue), "Kestrix.Utility.urlCharDecode",
                    "This character '" + text.substr(at, 3) + "' couldn't be decoded.");
    return {static_cast<char32_t>(std::stoul(text.substr(at + (unicode ? 2 : 1), length - (unicode ? 2 : 1)),
                                             nullptr, 16)),
            length};
}

}  // namespace

std::string urlDecode(const std::string& iString) {
    try {
        if (iString.size() <= 1) return iString;
        std::string out;
        out.reserve(iString.size());
        // Consecutive "%u" escapes are gathered, so that a surrogate pair becomes one character.
        std::u16string units;
        const auto flush = [&] {
            if (!units.empty()) out += text::Utf16ToUtf8(units);
            units.clear();
        };
        for (size_t i = 0; i < iString.size();) {
            const char c = iString[i];
            if (c != '%') {
                flush();
                out += c == '+' ? ' ' : c;
                ++i;
                continue;
            }
            bool unicode = false;
            const auto [code, length] = urlCharDecode(iString, i, unicode);
            if (unicode) {
                units.push_back(static_cast<char16_t>(code));
            } else {
                flush();
                out += text::Cp1252ToUtf8(std::string(1, static_cast<char>(code)));
            }
            i += length;
        }
        flush();
        return out;
    } catch (...) {
        Reraise("Kestrix.Utility.urlDecode");
    }
}

std::string HTMLDecode(const Variant& i_sString) {
    try {
        std::string text = i_sString.ToString();
        const char* const entities[][2] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}};
        bool any = false;
        for (const auto& entity : entities) any = any || text.find(entity[0]) != std::string::npos;
        if (!any) return text;
        for (const auto& entity : entities) {
            const std::string_view name = entity[0];
            std::string replaced;
            size_t from = 0;
            for (size_t at; (at = IFind(text, name, from)) != std::string::npos; from = at + name.size())
                replaced.append(text, from, at - from).append(entity[1]);
            text = replaced.append(text, from);
        }
        return text;
    } catch (...) {
        Reraise("Kestrix.Utility.HTMLDecode");
    }
}

bool RetrieveElementFromRequestFormCollection(const std::string& i_sRequestFormString,
                                              const std::string& i_sPattern, Variant& o_sPatternValue) {
    constexpr const char* kSource = "RetrieveElementFromRequestFormCollection";
    try {
        o_sPatternValue = std::string();
        if (i_sPattern.empty()) return false;
        // Only where a field begins: "id=" is not found inside "DocID=".
        size_t at = 0;
        while ((at = IFind(i_sRequestFormString, i_sPattern, at)) != std::string::npos && at != 0 &&
               i_sRequestFormString[at - 1] != '&')
            ++at;
        if (at == std::string::npos) return false;
        std::string value = i_sRequestFormString.substr(at + i_sPattern.size());
        value.resize(std::min(value.size(), value.find('&')));
        const std::string decoded = urlDecode(value);
        o_sPatternValue = decoded;
        return !Trim(decoded).empty();
    } catch (...) {
        try {
            error_folder::WriteXmlFileToErrorDir(i_sRequestFormString);
        } catch (...) {
            LogError(kSource, "the form text could not be kept in the error folder");
        }
        Reraise(kSource);
    }
}

}  // namespace kestrix::form_text
