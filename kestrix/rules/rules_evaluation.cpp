// Rules: evaluation of the send-method and document-type rule sets against one document.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "kestrix/foundation/method_call.h"
#include "kestrix/documents/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/method_call.h"
#include "kestrix/documents/xsl_patterns.h"
#include "kestrix/foundation/conversions.h"
#include "kestrix/foundation/users.h"
#include "kestrix/rules/rules.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/membership/user.h"
#include "platform/services/configuration.h"
#include "platform/text/locale_date.h"

namespace kestrix {

namespace {

/// The columns of the rule rows, as both rule-set queries name them.
int32_t LongField(const db::Recordset& rs, std::string_view name) {
    Variant value = rs.Field(name);
    return conversions::CheckLong(value);
}

std::string StringField(const db::Recordset& rs, std::string_view name) {
    Variant value = rs.Field(name);
    return conversions::CheckString(value);
}

/// The text as a number, or nothing when it is none.
std::optional<double> NumberOf(const std::string& text) {
    try {
        const double d = Variant(text).ToDouble();
        if (!std::isfinite(d)) return std::nullopt;
        return d;
    } catch (const Error&) {
        return std::nullopt;
    }
}

/// The date that year, month and day make, a month or day out of range rolling over into
/// the following (or preceding) months.
DateTime DateFromParts(int year, int month, int day) {
    using namespace std::chrono;
    const int months = year * 12 + (month - 1);
    const int y = months >= 0 ? months / 12 : -((-months + 11) / 12);
    const int m = months - y * 12 + 1;
    const local_days first{std::chrono::year{y} / std::chrono::month{static_cast<unsigned>(m)} / 1};
    return DateTime{local_seconds{first + days{day - 1}}};
}

/// Replaces every occurrence of `key` in `text`, ignoring case.
std::string ReplaceIgnoringCase(std::string text, std::string_view key, std::string_view value) {
    size_t at = 0;
    while ((at = IFind(text, key, at)) != std::string::npos) {
        text.replace(at, key.size(), value);
        at += value.size();
    }
    return text;
}

const char* const kSendMethodRuleSql =
    "SELECT DISTINCT RULEHEADER.DESCRIPTION, SENDMETHOD.SENDMETHODID, RULEHEADER.RULEID, "
    "RULEHEADER.RULETYPE, RULEHEADER.METHODCALL, RULEHEADER.SEQUENCENUMBER, "
    "RULEHEADER.RULELOGIC, RULELINE.LINEID , RULELINE.XSLPATTERN, RULELINE.CONDITION, "
    "RULELINE.VALUE, RULELINE.FIELDTYPE, RULELINE.SEQUENCENUMBER, RULELINE.TAGATTRXSL "
    "FROM SENDMETHOD "
    "LEFT OUTER JOIN RULEHEADER ON SENDMETHOD.RULEID = RULEHEADER.RULEID "
    "LEFT OUTER JOIN RULELINE ON RULEHEADER.RULEID = RULELINE.RULEID "
    "WHERE SENDMETHOD.DOCUMENTTYPEID = ";

const char* const kDocumentTypeRuleSql =
    "SELECT  ruleheader.ruleid, "
    "ruleheader.description, "
    "ruleheader.ruletype, "
    "ruleheader.assignedid, "
    "ruleheader.methodcall, "
    "ruleheader.sequencenumber, "
    "ruleheader.rulelogic, "
    "ruleline.lineid , "
    "ruleline.xslpattern, "
    "ruleline.condition, "
    "ruleline.value, "
    "ruleline.fieldtype, "
    "ruleline.sequencenumber, "
    "ruleline.tagattrxsl "
    "FROM ruleheader LEFT OUTER JOIN ruleline ON ruleheader.ruleid = ruleline.ruleid "
    "WHERE RULEHEADER.RULETYPE = 2 AND RULEHEADER.ORIGINALID = ";

}  // namespace

int32_t Rules::DefaultLocale() {
    std::string setting;
    try {
        services::Configuration site;
        site.LoadFile(getSiteConfigFile());
        setting = Trim(site.GetValue("GLOBAL", "SystemLocale").ToString());
    } catch (...) {
        // A site without a readable setting uses the machine's locale.
        setting.clear();
    }
    if (!setting.empty()) {
        if (std::optional<double> number = NumberOf(setting); number && *number > 0 && *number < 0x10000)
            return static_cast<int32_t>(*number);
        if (std::optional<int32_t> lcid = text::LcidFromName(setting)) return *lcid;
    }
    return text::SystemDefaultLcid();
}

// ---- the rule sets ---------------------------------------------------------------------

int32_t Rules::WalkRuleSet(db::Recordset& rs, const xml::XmlDocument& dom, int32_t& locale,
                           std::string* assignedId) {
    int32_t lastRule = 0;
    while (!rs.Eof()) {
        const int32_t ruleId = LongField(rs, "ruleid");
        if (ruleId == lastRule) {
            // A row of the rule already started (one that was decided before its last line).
            rs.MoveNext();
            continue;
        }
        lastRule = ruleId;
        const std::string assigned = assignedId ? StringField(rs, "assignedid") : std::string();
        // The rule consumes its own rows; on false the walk goes on at the current row.
        if (ExecuteRule(ruleId, dom, rs, locale)) {
            if (assignedId) *assignedId = assigned;
            return ruleId;
        }
    }
    return -1;
}

int32_t Rules::ExecuteSendMethodRuleSet(int32_t& iDocID, std::string& iDocTypeID,
                                        int32_t& iBusinessPartnerID) {
    try {
        DocumentStore document;
        xml::XmlDocument dom = document.GetXmlDomDocument(iDocID);
        std::string sender = document.GetSenderOfDocument(iDocID);
        int32_t locale = users::GetAUObject(sender)->LocaleID();

        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            std::string(kSendMethodRuleSql) + EncodeSqlText(iDocTypeID) + " AND " +
            "SENDMETHOD.BUSINESSPARTNERID = " + EncodeSqlNumber(iBusinessPartnerID) + " AND " +
            "RULEHEADER.ENABLED = 1 " + "ORDER BY RULEHEADER.SEQUENCENUMBER, RULELINE.SEQUENCENUMBER");
        // The rows are held by the recordset: plug-ins may take their time without a
        // connection kept open.
        CloseConnection(connection);
        return WalkRuleSet(rs, dom, locale, nullptr);
    } catch (...) {
        Reraise("Kestrix.Rules.ExecuteSendMethodRuleSet");
    }
}

std::string Rules::ExecuteDocumentTypeRuleSet(int32_t& iDocID, int32_t& iBPID) {
    xml::XmlDocument dom;
    return ExecuteDocumentTypeRuleSet(iDocID, iBPID, dom);
}

std::string Rules::ExecuteDocumentTypeRuleSet(int32_t& iDocID, int32_t& iBPID,
                                              xml::XmlDocument& iXMLDoc) {
    try {
        int32_t locale = 0;
        if (iDocID != 0) {
            DocumentStore document;
            iXMLDoc = document.GetXmlDomDocument(iDocID);
            try {
                std::string sender = document.GetSenderOfDocument(iDocID);
                locale = users::GetAUObject(sender)->LocaleID();
            } catch (...) {
                // Without the sender's locale dates are read in the default locale.
                locale = 0;
            }
        }

        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(std::string(kDocumentTypeRuleSql) + EncodeSqlNumber(iBPID) +
                                            " AND " +
                                            "RULEHEADER.ENABLED = 1 ORDER BY ruleheader.sequencenumber, "
                                            "ruleline.sequencenumber");
        CloseConnection(connection);

        std::string result;
        WalkRuleSet(rs, iXMLDoc, locale, &result);
        if (result.empty() && iBPID >= 0) {
            // Nothing of the partner's own: the rules for every partner decide.
            int32_t everyPartner = -1;
            return ExecuteDocumentTypeRuleSet(iDocID, everyPartner, iXMLDoc);
        }
        return result;
    } catch (...) {
        Reraise("Kestrix.Rules.ExecuteDocumentTypeRuleSet");
    }
}

// ---- one rule, one line ------------------------------------------------------------------

bool Rules::ExecuteRule(int32_t ruleId, const xml::XmlDocument& dom, db::Recordset& rs, int32_t& locale) {
    try {
        const std::string methodCall = Trim(StringField(rs, "methodcall"));
        const std::string description = StringField(rs, "description");

        if (!methodCall.empty()) {
            // A plug-in decides: it receives the values the rule's lines select, in order.
            Array arguments;
            while (!rs.Eof() && LongField(rs, "ruleid") == ruleId) {
                const auto kind = static_cast<TagAttrXsl>(ConvertTagAttrXslEnum(LongField(rs, "tagattrxsl")));
                const std::string pattern = xsl_patterns::ConstructXslPattern(kind, StringField(rs, "xslpattern"));
                arguments.emplace_back(xsl_patterns::ExecuteXSLPattern(dom, pattern));
                rs.MoveNext();
            }
            Variant data(std::move(arguments));
            Variant answer = delivery::CallPluginForAnswer(methodCall, data);
            if (answer.IsBool()) return std::get<bool>(answer.value());
            // No error is pending here: this only logs, and the rule is not satisfied.
            RaiseError("Kestrix.Rules.ExecuteRule",
                       "Method '" + methodCall + "' " + "with arguments '" + plugin_calls::MakeStringFromArray(data) +
                           "' did not return true or false while executing rule '" + description +
                           "' with id = " + std::to_string(ruleId));
            return false;
        }

        bool anyLineTrue = false;
        while (!rs.Eof() && LongField(rs, "ruleid") == ruleId) {
            const auto kind = static_cast<TagAttrXsl>(ConvertTagAttrXslEnum(LongField(rs, "tagattrxsl")));
            const std::string pattern = xsl_patterns::ConstructXslPattern(kind, StringField(rs, "xslpattern"));
            const int32_t condition = ConvertConditionEnum(LongField(rs, "condition"));
            const std::string value = StringField(rs, "value");
            const int32_t fieldType = ConvertFieldTypeEnum(LongField(rs, "fieldtype"));
            const bool line = ExecuteRuleLine(pattern, condition, value, fieldType, dom, locale);

            const std::string logic = Trim(StringField(rs, "rulelogic"));
            if (line) {
                if (logic == "2") return true;  // OR: one true line decides
                anyLineTrue = true;
            } else if (logic == "1") {
                return false;  // AND: one false line decides
            }
            rs.MoveNext();
        }
        return anyLineTrue;
    } catch (...) {
        Reraise("Kestrix.Rules.ExecuteRule");
    }
}

bool Rules::ExecuteRuleLine(const std::string& pattern, int32_t condition, const std::string& value,
                            int32_t fieldType, const xml::XmlDocument& dom, int32_t& locale) {
    std::string documentValue;
    try {
        documentValue = xsl_patterns::ExecuteXSLPattern(dom, pattern);
        if (Trim(documentValue).empty()) return false;

        Variant left;
        Variant right;
        switch (fieldType) {
            case ToInt(FieldType::STRINGFIELD):
                left = documentValue;
                right = value;
                break;
            case ToInt(FieldType::NUMERICFIELD): {
                const std::optional<double> d = NumberOf(documentValue);
                const std::optional<double> v = NumberOf(value);
                if (!d || !v) return false;
                left = *d;
                right = *v;
                break;
            }
            case ToInt(FieldType::DATEFIELD): {
                if (Trim(value).empty()) return false;
                if (locale == 0) locale = DefaultLocale();
                const std::optional<DateTime> date = text::ParseLocaleDate(documentValue, locale);
                if (!date) return false;
                left = DateToXSLPatternString(*date);
                right = value;
                break;
            }
            default:
                return false;
        }
        return ExecuteRuleLineCondition(left, right, fieldType, condition);
    } catch (...) {
        std::string typeText;
        std::string conditionText;
        try {
            typeText = ConvertFieldTypeString(fieldType);
            conditionText = ConvertConditionString(condition);
        } catch (...) {
            // The comparison's own failure is the one to report.
        }
        Reraise("Kestrix.Rules.ExecuteRuleLine", "Error comparing " + typeText + " values: '" + documentValue +
                                                     "' " + conditionText + " '" + value + "'");
    }
}

bool Rules::ExecuteRuleLineCondition(const Variant& documentValue, const Variant& lineValue,
                                     int32_t fieldType, int32_t condition) {
    try {
        const bool stringLine = fieldType == ToInt(FieldType::STRINGFIELD);
        int order = 0;  // D compared with V: -1, 0, 1
        if (condition >= 1 && condition <= 6) {
            if (documentValue.IsString() && lineValue.IsString()) {
                const int c = std::get<std::string>(documentValue.value())
                                  .compare(std::get<std::string>(lineValue.value()));
                order = c < 0 ? -1 : (c > 0 ? 1 : 0);
            } else {
                const double d = documentValue.ToDouble();
                const double v = lineValue.ToDouble();
                order = d < v ? -1 : (d > v ? 1 : 0);
            }
        }
        switch (condition) {
            case ToInt(Condition::ISEXACTLY): return order == 0;
            case ToInt(Condition::GREATERTHAN): return order > 0;
            case ToInt(Condition::GREATEREQUAL): return order >= 0;
            case ToInt(Condition::LOWERTHAN): return order < 0;
            case ToInt(Condition::LOWEREQUAL): return order <= 0;
            case ToInt(Condition::ISNOT): return order != 0;
            default: break;
        }
        if (stringLine && condition >= 7 && condition <= 10) {
            const std::string d = documentValue.ToString();
            const std::string v = lineValue.ToString();
            switch (condition) {
                case ToInt(Condition::PARTOF): return IFind(v, d) != std::string::npos;
                case ToInt(Condition::NOTPARTOF): return IFind(v, d) == std::string::npos;
                case ToInt(Condition::CONTAINS): return IFind(d, v) != std::string::npos;
                default: return IFind(d, v) == std::string::npos;
            }
        }
        throw Error(errnum::E_FAIL, "Kestrix.Rules.ExecuteRuleLineCondition", TranslateLabel("SLBSH5699"));
    } catch (...) {
        Reraise("Kestrix.Rules.ExecuteRuleLineCondition");
    }
}

// ---- dates in rule lines -----------------------------------------------------------------

Variant Rules::DateToXSLPatternString(const Variant& i_vDate) {
    try {
        using namespace std::chrono;
        const year_month_day ymd{floor<days>(i_vDate.ToDate().time)};
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
        return std::string(text);
    } catch (...) {
        Reraise("Kestrix.Rules.DateToXSLPatternString");
    }
}

Variant Rules::XSLPatternStringToDate(const Variant& i_vDate) {
    constexpr const char* kSource = "Kestrix.Rules.XSLPatternStringToDate";
    try {
        const std::string given = i_vDate.ToString();
        const std::string text = Trim(given);
        if (text.size() == 10) {
            const int year = Variant(text.substr(0, 4)).ToInteger();
            const int month = Variant(text.substr(5, 2)).ToInteger();
            const int day = Variant(text.substr(8, 2)).ToInteger();
            if (year != 0 && month != 0 && day != 0) return DateFromParts(year, month, day);
        }
        throw Error(errnum::E_FAIL, kSource, ReplaceIgnoringCase(TranslateLabel("SLBSH5698"), "[%DATE%]", given));
    } catch (...) {
        Reraise(kSource);
    }
}

}  // namespace kestrix
