// Rules: the public operations by name, for callers that create the class by its name.
#include <memory>

#include "kestrix/rules/rules.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix {

Variant Rules::Invoke(std::string_view method, std::span<Variant> args) {
    const size_t n = args.size();
    auto is = [&](std::string_view name, size_t count) { return n == count && IEquals(method, name); };

    if (is("GetRuleType_SENDMETHODRULE", 0)) return GetRuleType_SENDMETHODRULE();
    if (is("GetRuleType_DOCUMENTTYPERULE", 0)) return GetRuleType_DOCUMENTTYPERULE();
    if (is("GetRuleType_SENDERIDRULE", 0)) return GetRuleType_SENDERIDRULE();
    if (is("GetRuleType_RECIPIENTIDRULE", 0)) return GetRuleType_RECIPIENTIDRULE();

    if (is("AddRule", 8) || is("UpdateRule", 9)) {
        const bool update = n == 9;
        const size_t at = update ? 1 : 0;
        std::string description = args[at].ToString();
        int16_t ruleType = args[at + 1].ToInteger();
        std::string assignedId = args[at + 2].ToString();
        std::string methodCall = args[at + 3].ToString();
        int32_t sequence = args[at + 4].ToLong();
        std::string logic = args[at + 5].ToString();
        int32_t originalId = args[at + 6].ToLong();
        bool enabled = args[at + 7].ToBool();
        if (!update) return AddRule(description, ruleType, assignedId, methodCall, sequence, logic, originalId, enabled);
        int32_t ruleId = args[0].ToLong();
        UpdateRule(ruleId, description, ruleType, assignedId, methodCall, sequence, logic, originalId, enabled);
        return Variant{};
    }
    if (is("DeleteRule", 1)) {
        int32_t ruleId = args[0].ToLong();
        return DeleteRule(ruleId);
    }
    if (is("AddRuleLine", 7)) {
        int32_t ruleId = args[0].ToLong();
        int32_t fieldType = args[1].ToLong();
        int32_t sequence = args[2].ToLong();
        int32_t kind = args[3].ToLong();
        std::string pattern = args[4].ToString();
        int32_t condition = args[5].ToLong();
        std::string value = args[6].ToString();
        return AddRuleLine(ruleId, fieldType, sequence, kind, pattern, condition, value);
    }
    if (is("DeleteRuleLines", 1)) {
        int32_t ruleId = args[0].ToLong();
        DeleteRuleLines(ruleId);
        return Variant{};
    }
    if (is("GetRuleDescription", 1)) return GetRuleDescription(args[0].ToLong());
    if (IEquals(method, "ExistRulesAttachedToSendMethods") && n <= 3) {
        return ExistRulesAttachedToSendMethods(n > 0 ? args[0].ToString() : std::string(),
                                               n > 1 ? args[1].ToLong() : 0, n > 2 ? args[2].ToLong() : 0);
    }
    if (is("ExecuteSendMethodRuleSet", 3)) {
        int32_t docId = args[0].ToLong();
        std::string type = args[1].ToString();
        int32_t partner = args[2].ToLong();
        return ExecuteSendMethodRuleSet(docId, type, partner);
    }
    if (IEquals(method, "ExecuteDocumentTypeRuleSet") && (n == 2 || n == 3)) {
        int32_t docId = args[0].ToLong();
        int32_t partner = args[1].ToLong();
        if (n == 2 || args[2].IsEmpty()) return ExecuteDocumentTypeRuleSet(docId, partner);
        auto dom = std::dynamic_pointer_cast<xml::XmlDocument>(args[2].ToObject());
        if (!dom) throw Error(errnum::TypeMismatch, "Kestrix.Rules.ExecuteDocumentTypeRuleSet", "Type mismatch");
        return ExecuteDocumentTypeRuleSet(docId, partner, *dom);
    }
    if (is("DateToXSLPatternString", 1)) return DateToXSLPatternString(args[0]);
    if (is("XSLPatternStringToDate", 1)) return XSLPatternStringToDate(args[0]);
    return Object::Invoke(method, args);
}

}  // namespace kestrix
