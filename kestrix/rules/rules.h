#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// "Kestrix.Rules": rules that steer two decisions by the content of a document, which of a
/// partner's send methods deliver it (send-method rules) and which document type an untagged
/// document gets (document-type rules).
///
/// A rule is a row of RULEHEADER with ordered condition lines in RULELINE; each line reads one
/// value of the document (by element name, attribute name or XSL pattern) and compares it
/// with the line's value. A rule that names a plug-in (METHODCALL) is decided by the
/// plug-in's answer instead.
///
/// Every method opens its own connection and closes it before it returns; failures are
/// raised on with the source "Kestrix.Rules.<method>". Arguments are passed by reference, as
/// the callers of the published interface expect.
class Rules : public Object {
  public:
    // ---- rule types, for script callers that cannot read enumerations ------------------

    /// 1, `RuleType::SENDMETHODRULE`.
    int16_t GetRuleType_SENDMETHODRULE();
    /// 2, `RuleType::DOCUMENTTYPERULE`.
    int16_t GetRuleType_DOCUMENTTYPERULE();
    /// 3, `RuleType::SENDERIDRULE`.
    int16_t GetRuleType_SENDERIDRULE();
    /// 4, `RuleType::RECIPIENTIDRULE`.
    int16_t GetRuleType_RECIPIENTIDRULE();

    // ---- storage ------------------------------------------------------------------------

    /// Adds a rule and answers its new RULEID. An unknown rule type is stored as 0, a logic
    /// other than exactly "AND" or "OR" as 0; `IMethodCall` is the plug-in address that
    /// decides the rule ("" for a rule decided by its lines).
    int32_t AddRule(std::string& iDescription, int16_t& iRuleType, std::string& iAssignedID,
                    std::string& IMethodCall, int32_t& iSequenceNumber, std::string& iRuleLogic,
                    int32_t& iOriginalID, bool& iEnabled);
    /// Rewrites the eight values of an existing rule, converted as by `AddRule`. An unknown
    /// RULEID changes nothing and is no error.
    void UpdateRule(int32_t& iRuleID, std::string& iDescription, int16_t& iRuleType,
                    std::string& iAssignedID, std::string& IMethodCall, int32_t& iSequenceNumber,
                    std::string& iRuleLogic, int32_t& iOriginalID, bool& iEnabled);
    /// Deletes a rule with its lines and its placeholder send-method rows (SENDMETHODID -1).
    /// A send-method rule that still selects a real send method is kept: the answer is then
    /// false. An unknown RULEID answers true.
    bool DeleteRule(int32_t& iRuleID);
    /// Adds a condition line to a rule and answers its new LINEID. Unknown field types,
    /// conditions and node kinds are stored as 0; the rule's existence is not checked.
    int32_t AddRuleLine(int32_t& iRuleID, int32_t& iFieldType, int32_t& iSequenceNumber,
                        int32_t& iTagAttrXsl, std::string& iXslPattern, int32_t& iCondition,
                        std::string& iRuleLineValue);
    /// Deletes every line of the rule (editing a rule means deleting its lines and adding the
    /// new ones).
    void DeleteRuleLines(int32_t& iRuleID);
    /// The rule's DESCRIPTION, or "" when there is no such rule.
    std::string GetRuleDescription(int32_t i_lruleid);
    /// True when a real send method (not a placeholder) carries a rule, restricted to the
    /// document type when it is not empty, to the partner and to the send method when they
    /// are not 0. Failures are raised with the source
    /// "Kestrix.Rules.ExistAttachedRulesForSendMethods".
    bool ExistRulesAttachedToSendMethods(const std::string& i_sDocumentTypeID = {},
                                         int32_t i_lBPID = 0, int32_t i_lSendMethodID = 0);

    // ---- evaluation ---------------------------------------------------------------------

    /// The RULEID of the first satisfied enabled rule attached to the partner's send methods
    /// for the document type (rules in ascending sequence), or -1 when none is satisfied: the
    /// caller then takes the partner's default send methods. Dates in the document are read
    /// in the locale of the document's sender; an unknown sender is an error.
    int32_t ExecuteSendMethodRuleSet(int32_t& iDocID, std::string& iDocTypeID,
                                     int32_t& iBusinessPartnerID);
    /// The ASSIGNEDID (a document type) of the first satisfied enabled document-type rule of
    /// the partner, or "". When nothing is satisfied and the partner is 0 or more, the rules
    /// for every partner (ORIGINALID -1) are tried on the same document.
    ///
    /// With iDocID 0 the given DOM is evaluated and dates are read in the system's default
    /// locale; otherwise the stored document is loaded into iXMLDoc and dates are read in its
    /// sender's locale when the sender can be found.
    std::string ExecuteDocumentTypeRuleSet(int32_t& iDocID, int32_t& iBPID,
                                           xml::XmlDocument& iXMLDoc);
    /// As above for a stored document, without a DOM of the caller's.
    std::string ExecuteDocumentTypeRuleSet(int32_t& iDocID, int32_t& iBPID);

    /// The date as a "yyyy-MM-dd" text, the form in which date lines store their value.
    Variant DateToXSLPatternString(const Variant& i_vDate);
    /// The date a "yyyy-MM-dd" text denotes (the separators are not checked; a day or month
    /// out of range rolls over into the following months). A text of another length or with
    /// a part 0 raises with the text of label "SLBSH5698"; a part that is no number raises
    /// a type mismatch.
    Variant XSLPatternStringToDate(const Variant& i_vDate);

    // ---- conversions of the stored numbers (used by storage, evaluation and the pages) --

    /// 1 to 4 as they are, anything else 0.
    int32_t ConvertRuleTypeEnum(int32_t iRuleType);
    /// "AND" 1, "OR" 2 (exactly, case matters), anything else 0.
    int32_t ConvertRuleLogicEnum(const std::string& iRuleLogic);
    /// 1 to 3 as they are, anything else 0.
    int32_t ConvertFieldTypeEnum(int32_t iFieldType);
    /// 1 to 3 as they are, anything else 0; the value is narrowed to 16 bits first, so a
    /// value outside that range raises an overflow.
    int32_t ConvertTagAttrXslEnum(int32_t iTagAttrXsl);
    /// 1 to 10 as they are, anything else 0.
    int32_t ConvertConditionEnum(int32_t iCondition);
    /// "string", "numeric", "date"; "" for anything else.
    std::string ConvertFieldTypeString(int32_t iFieldType);
    /// "=", ">", ">=", "<", "<=", "<>", and for 7 to 10 the default-language texts of labels
    /// "SLBSH5626" to "SLBSH5629"; "" for anything else.
    std::string ConvertConditionString(int32_t iCondition);

    // ---- the steps of an evaluation (public for the rule-set walk and its tests) --------

    /// Evaluates the rule whose first row is the recordset's current row and moves the
    /// recordset past the rows it used: to the first row of the next rule or the end when the
    /// rule ran to its end; a rule decided early (an AND line false, an OR line true) leaves
    /// the recordset on the deciding row. `locale` is filled with the default locale at the
    /// first date line when it is 0.
    bool ExecuteRule(int32_t ruleId, const xml::XmlDocument& dom, db::Recordset& rs, int32_t& locale);
    /// One condition line: the document value that `pattern` selects compared with the line
    /// value. A missing or blank document value makes the line false.
    bool ExecuteRuleLine(const std::string& pattern, int32_t condition, const std::string& value,
                         int32_t fieldType, const xml::XmlDocument& dom, int32_t& locale);
    /// The comparison of a document value (left) with a line value: texts by character code,
    /// numbers numerically; the occurrence tests 7 to 10 ignore case and are for string lines
    /// only, so on other lines, and for an unknown condition, they raise with the text of
    /// label "SLBSH5699".
    bool ExecuteRuleLineCondition(const Variant& documentValue, const Variant& lineValue,
                                  int32_t fieldType, int32_t condition);

    /// The public operations by name, for callers that create the class by name: the
    /// rule-type getters, AddRule, UpdateRule, DeleteRule, AddRuleLine, DeleteRuleLines,
    /// GetRuleDescription, ExistRulesAttachedToSendMethods (0 to 3 arguments),
    /// ExecuteSendMethodRuleSet, ExecuteDocumentTypeRuleSet (2 arguments, or 3 with an XML
    /// document object that receives the loaded document), DateToXSLPatternString and
    /// XSLPatternStringToDate, with the arguments of the typed methods in their order.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

    /// The locale in which document dates are read when the sender has none: the site
    /// configuration's GLOBAL "SystemLocale" (a locale identifier or a name such as "de-DE")
    /// when set, else the machine's default locale (1033 when it has none).
    static int32_t DefaultLocale();

  private:
    /// Walks one ordered result set of rule rows and answers the RULEID of the first rule
    /// satisfied, or -1; `assignedId` receives that rule's ASSIGNEDID.
    int32_t WalkRuleSet(db::Recordset& rs, const xml::XmlDocument& dom, int32_t& locale,
                        std::string* assignedId);
};

}  // namespace kestrix
