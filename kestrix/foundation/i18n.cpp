#include "kestrix/foundation/i18n.h"

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

// The stored text of the label, or nothing when the language has no row for it; kept by
// the thread while a site cache scope lives.
std::optional<std::string> LookUp(std::string_view code, int32_t language) {
    const int32_t locale = language == 0 ? 1033 : language;
    const std::string key = std::string(code) + '\x1f' + std::to_string(locale);
    return CachedSiteValue(SiteCacheKind::Label, key, [&]() -> std::optional<std::string> {
        db::Connection connection = GetConnection();
        db::Recordset rs =
            connection.Query("SELECT TEXT FROM I18NTEXT WHERE LABEL = ? AND LOCALEID = ?",
                             {Variant(std::string(code)), Variant(static_cast<long long>(locale))});
        if (rs.Eof()) return std::nullopt;
        return rs.GetString("TEXT");
    });
}

std::string Missing(std::string_view code) {
    return "<font color='red'>Error " + std::string(code) + "</font>";
}

}  // namespace

std::string ApplyReplacements(std::string text, int32_t language, const Dictionary& replacements) {
    for (const auto& [key, value] : replacements) {
        if (!Trim(key).starts_with("[%LABEL")) {
            text = ReplaceAll(text, key, value.IsNull() ? std::string() : value.ToString());
            continue;
        }
        std::string placeholder = value.IsNull() ? std::string() : value.ToString();
        std::string code = placeholder.size() > 4 ? placeholder.substr(2, placeholder.size() - 4)
                                                  : std::string();
        size_t at = IFind(text, key);
        if (at == std::string::npos) continue;
        text.replace(at, key.size(), TranslateLabel(code, language));
    }
    return text;
}

std::string TranslateLabel(std::string_view code) { return TranslateLabel(code, 0); }

std::string TranslateLabel(std::string_view code, int32_t language) {
    return LookUp(code, language).value_or(Missing(code));
}

std::string TranslateLabel(std::string_view code, int32_t language, const Dictionary& replacements) {
    std::optional<std::string> text = LookUp(code, language);
    if (!text) return Missing(code);
    return ApplyReplacements(std::move(*text), language, replacements);
}

std::string LabelOrCode(std::string_view code, int32_t language, const Dictionary& replacements) {
    try {
        return TranslateLabel(code, language, replacements);
    } catch (...) {
        return std::string(code);
    }
}

}  // namespace kestrix
