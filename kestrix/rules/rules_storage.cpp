// Rules: adding, changing and deleting rules and their lines, and the conversions between
// the stored numbers and their texts.
#include <limits>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/rules/rules.h"
#include "platform/base/error.h"

namespace kestrix {

namespace {

/// The eight header columns, in the order they are written.
db::EditRow HeaderRow(Rules& rules, const std::string& description, int16_t ruleType,
                      const std::string& assignedId, const std::string& methodCall,
                      int32_t sequenceNumber, const std::string& ruleLogic, int32_t originalId,
                      bool enabled) {
    const int32_t type = rules.ConvertRuleTypeEnum(ruleType);
    const int32_t logic = rules.ConvertRuleLogicEnum(ruleLogic);
    db::EditRow row;
    row.Set("DESCRIPTION", description);
    row.Set("RULETYPE", type);
    row.Set("ASSIGNEDID", assignedId);
    row.Set("METHODCALL", methodCall);
    row.Set("SEQUENCENUMBER", sequenceNumber);
    row.Set("RULELOGIC", logic);
    row.Set("ORIGINALID", originalId);
    row.Set("ENABLED", static_cast<int16_t>(enabled ? 1 : 0));
    return row;
}

}  // namespace

int16_t Rules::GetRuleType_SENDMETHODRULE() { return static_cast<int16_t>(RuleType::SENDMETHODRULE); }
int16_t Rules::GetRuleType_DOCUMENTTYPERULE() {
    return static_cast<int16_t>(RuleType::DOCUMENTTYPERULE);
}
int16_t Rules::GetRuleType_SENDERIDRULE() { return static_cast<int16_t>(RuleType::SENDERIDRULE); }
int16_t Rules::GetRuleType_RECIPIENTIDRULE() {
    return static_cast<int16_t>(RuleType::RECIPIENTIDRULE);
}

int32_t Rules::AddRule(std::string& iDescription, int16_t& iRuleType, std::string& iAssignedID,
                       std::string& IMethodCall, int32_t& iSequenceNumber, std::string& iRuleLogic,
                       int32_t& iOriginalID, bool& iEnabled) {
    try {
        db::EditRow row = HeaderRow(*this, iDescription, iRuleType, iAssignedID, IMethodCall,
                                    iSequenceNumber, iRuleLogic, iOriginalID, iEnabled);
        db::Connection connection = GetConnection();
        const int64_t id = connection.Insert("RULEHEADER", row, "RULEID");
        CloseConnection(connection);
        return KeyAsInt32(id, "RULEHEADER");
    } catch (...) {
        Reraise("Kestrix.Rules.AddRule");
    }
}

void Rules::UpdateRule(int32_t& iRuleID, std::string& iDescription, int16_t& iRuleType,
                       std::string& iAssignedID, std::string& IMethodCall, int32_t& iSequenceNumber,
                       std::string& iRuleLogic, int32_t& iOriginalID, bool& iEnabled) {
    try {
        db::EditRow values = HeaderRow(*this, iDescription, iRuleType, iAssignedID, IMethodCall,
                                       iSequenceNumber, iRuleLogic, iOriginalID, iEnabled);
        const std::string where = "RULEID = " + EncodeSqlNumber(iRuleID);
        db::Connection connection = GetConnection();
        if (connection.Edit("RULEHEADER", where)) connection.Update("RULEHEADER", values, where);
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.Rules.UpdateRule");
    }
}

bool Rules::DeleteRule(int32_t& iRuleID) {
    try {
        const std::string id = EncodeSqlNumber(iRuleID);
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT DISTINCT RULETYPE, SENDMETHOD.RULEID, SENDMETHOD.SENDMETHODID FROM RULEHEADER "
            "LEFT OUTER JOIN SENDMETHOD ON RULEHEADER.RULEID = SENDMETHOD.RULEID "
            "WHERE RULEHEADER.RULEID = " + id);
        // A send-method rule that still selects a real send method stays, and so does
        // everything that belongs to it: all rows are looked at before anything is deleted.
        bool sendMethodRule = false;
        for (; !rs.Eof(); rs.MoveNext()) {
            if (rs.Field(0).IsNull() || rs.Field(0).ToLong() != ToInt(RuleType::SENDMETHODRULE)) continue;
            sendMethodRule = true;
            if (!rs.Field(1).IsNull() && rs.Field(2).ToLong() != -1) {
                CloseConnection(connection);
                return false;
            }
        }
        if (sendMethodRule)
            connection.Execute("DELETE FROM SENDMETHOD WHERE (RULEID = " + id + ") AND SENDMETHODID = -1");
        connection.Execute("DELETE FROM RULELINE WHERE (RULEID = " + id + ")");
        connection.Execute("DELETE FROM RULEHEADER WHERE (RULEID = " + id + ")");
        CloseConnection(connection);
        return true;
    } catch (...) {
        Reraise("Kestrix.Rules.DeleteRule");
    }
}

int32_t Rules::AddRuleLine(int32_t& iRuleID, int32_t& iFieldType, int32_t& iSequenceNumber,
                           int32_t& iTagAttrXsl, std::string& iXslPattern, int32_t& iCondition,
                           std::string& iRuleLineValue) {
    try {
        const int32_t fieldType = ConvertFieldTypeEnum(iFieldType);
        const int32_t condition = ConvertConditionEnum(iCondition);
        const int32_t tagAttrXsl = ConvertTagAttrXslEnum(iTagAttrXsl);
        db::EditRow row;
        row.Set("RULEID", iRuleID);
        row.Set("FIELDTYPE", fieldType);
        row.Set("SEQUENCENUMBER", iSequenceNumber);
        row.Set("TAGATTRXSL", tagAttrXsl);
        row.Set("XSLPATTERN", iXslPattern);
        row.Set("CONDITION", condition);
        row.Set("VALUE", iRuleLineValue);
        db::Connection connection = GetConnection();
        const int64_t id = connection.Insert("RULELINE", row, "LINEID");
        CloseConnection(connection);
        return KeyAsInt32(id, "RULELINE");
    } catch (...) {
        Reraise("Kestrix.Rules.AddRuleLine");
    }
}

void Rules::DeleteRuleLines(int32_t& iRuleID) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute("DELETE FROM RULELINE WHERE (RULEID = " + EncodeSqlNumber(iRuleID) + ")");
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.Rules.DeleteRuleLines");
    }
}

std::string Rules::GetRuleDescription(int32_t i_lruleid) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query("SELECT DESCRIPTION FROM RULEHEADER WHERE RULEID = " +
                                            EncodeSqlNumber(i_lruleid));
        CloseConnection(connection);
        return rs.Eof() ? std::string() : rs.GetString("DESCRIPTION");
    } catch (...) {
        Reraise("Kestrix.Rules.GetRuleDescription");
    }
}

bool Rules::ExistRulesAttachedToSendMethods(const std::string& i_sDocumentTypeID, int32_t i_lBPID,
                                            int32_t i_lSendMethodID) {
    try {
        std::string sql =
            "SELECT RULEID FROM SENDMETHOD WHERE NOT RULEID = -1 AND NOT RULEID = 0 AND NOT "
            "SENDMETHODID = -1 ";
        if (!i_sDocumentTypeID.empty()) sql += "AND DOCUMENTTYPEID = " + EncodeSqlText(i_sDocumentTypeID) + " ";
        if (i_lBPID != 0) sql += "AND BUSINESSPARTNERID = " + EncodeSqlNumber(i_lBPID) + " ";
        if (i_lSendMethodID != 0) sql += "AND SENDMETHODID = " + EncodeSqlNumber(i_lSendMethodID) + " ";
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(sql);
        CloseConnection(connection);
        return !rs.Eof();
    } catch (...) {
        Reraise("Kestrix.Rules.ExistAttachedRulesForSendMethods");
    }
}

// ---- conversions ---------------------------------------------------------------------------

int32_t Rules::ConvertRuleTypeEnum(int32_t iRuleType) {
    try {
        return iRuleType >= 1 && iRuleType <= 4 ? iRuleType : 0;
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertRuleTypeEnum");
    }
}

int32_t Rules::ConvertRuleLogicEnum(const std::string& iRuleLogic) {
    try {
        if (iRuleLogic == "AND") return ToInt(RuleLogic::ANDRULE);
        if (iRuleLogic == "OR") return ToInt(RuleLogic::ORRULE);
        return 0;
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertRuleLogicEnum");
    }
}

int32_t Rules::ConvertFieldTypeEnum(int32_t iFieldType) {
    try {
        return iFieldType >= 1 && iFieldType <= 3 ? iFieldType : 0;
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertFieldTypeEnum");
    }
}

int32_t Rules::ConvertTagAttrXslEnum(int32_t iTagAttrXsl) {
    try {
        // The kind is a 16-bit value: anything wider does not fit.
        const int16_t kind = Variant(iTagAttrXsl).ToInteger();
        return kind >= 1 && kind <= 3 ? kind : 0;
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertTagAttrXslEnum");
    }
}

int32_t Rules::ConvertConditionEnum(int32_t iCondition) {
    try {
        return iCondition >= 1 && iCondition <= 10 ? iCondition : 0;
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertConditionEnum");
    }
}

std::string Rules::ConvertFieldTypeString(int32_t iFieldType) {
    try {
        switch (iFieldType) {
            case 1: return "string";
            case 2: return "numeric";
            case 3: return "date";
            default: return {};
        }
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertFieldTypeString");
    }
}

std::string Rules::ConvertConditionString(int32_t iCondition) {
    try {
        switch (iCondition) {
            case 1: return "=";
            case 2: return ">";
            case 3: return ">=";
            case 4: return "<";
            case 5: return "<=";
            case 6: return "<>";
            case 7: return TranslateLabel("SLBSH5626");
            case 8: return TranslateLabel("SLBSH5627");
            case 9: return TranslateLabel("SLBSH5628");
            case 10: return TranslateLabel("SLBSH5629");
            default: return {};
        }
    } catch (...) {
        Reraise("Kestrix.Rules.ConvertConditionString");
    }
}

}  // namespace kestrix
