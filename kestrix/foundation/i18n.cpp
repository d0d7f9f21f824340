#include "kestrix/foundation/i18n.h"

#include "kestrix/foundation/dbutils.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

// The stored text of the label, or nothing when the language has no row for it.
std::optional<std::string> LookUp(std::string_view code, int32_t language) {
    db::Connection connection = GetConnection();
    std::string sql;
    if (language == 0) {
        sql = "SELECT I18NTEXT.TEXT " "FROM I18NTEXT " "WHERE LABEL = " + EncodeSqlText(code) +
              " AND LOCALEID = 1033";
    } else {
        sql = "SELECT TEXT " "FROM I18NTEXT " "WHERE LABEL = " + EncodeSqlText(code) +
              " AND LOCALEID = " + EncodeSqlNumber(language);
    }
    db::Recordset rs = connection.Query(sql);
    if (rs.Eof()) return std::nullopt;
    return rs.GetString("TEXT");
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
