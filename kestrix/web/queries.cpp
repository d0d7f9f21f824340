// Queries: what refers to a document type before it is deleted.
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/web/collaboration.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix {

std::string Queries::CheckDocTypeReferences(const std::string& iDocTypeID, int32_t iLanguageID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT DISTINCT DOCUMENT.DOCUMENTTYPEID AS DO, RECEIVEMETHOD.DOCUMENTTYPEID AS R, "
            "TAGSCONFIG.DOCUMENTTYPEID AS T, SENDMETHOD.DOCUMENTTYPEID AS SM, "
            "XMLTEMPLATE.DOCUMENTTYPEID AS X, DOCTYPETODOCTYPE.DOCUMENTTYPEID AS DD, "
            "DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID AS DN, SENDERLIST.DOCUMENTTYPEID AS SL, "
            "DISTRIBUTIONLIST.DOCUMENTTYPEID AS DB, RULEHEADER.ASSIGNEDID AS A "
            "FROM DOCUMENTTYPE LEFT OUTER JOIN DOCUMENT ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN RECEIVEMETHOD ON RECEIVEMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN TAGSCONFIG ON TAGSCONFIG.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN SENDMETHOD ON SENDMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN XMLTEMPLATE ON XMLTEMPLATE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN DOCTYPETODOCTYPE ON (DOCTYPETODOCTYPE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "OR DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID) "
            "LEFT OUTER JOIN SENDERLIST ON SENDERLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN DISTRIBUTIONLIST ON DISTRIBUTIONLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "LEFT OUTER JOIN RULEHEADER ON RULEHEADER.ASSIGNEDID = DOCUMENTTYPE.DOCUMENTTYPEID "
            "WHERE DOCUMENTTYPE.DOCUMENTTYPEID = ?",
            {Variant(iDocTypeID)});
        if (rs.Eof()) return {};
        std::string list;
        auto add = [&](bool referred, std::string_view label) {
            if (referred) list += "\"" + TranslateLabel(label, iLanguageID) + "\",";
        };
        add(!rs.IsNull("DO"), "SLBSH1103");
        add(!rs.IsNull("DB"), "SLBSH5008");
        add(!rs.IsNull("SL"), "SLBSH5706");
        add(!rs.IsNull("SM"), "SLBSH5852");
        add(!rs.IsNull("A"), "SLBSH5605");
        add(!rs.IsNull("R"), "SLBSH5751");
        add(!rs.IsNull("T"), "SLBSH5453");
        add(!rs.IsNull("X"), "SLBSH5801");
        add(!rs.IsNull("DD") || !rs.IsNull("DN"), "SLBSH5903");
        if (list.empty()) return {};
        list.pop_back();
        return "Array(" + list + ")";
    } catch (...) {
        // A failure is never "nothing refers to it": the page would then delete the type.
        Reraise("Kestrix.Queries.CheckDocTypeReferences");
    }
}

Variant Queries::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "CheckDocTypeReferences") && (args.size() == 1 || args.size() == 2))
        return CheckDocTypeReferences(args[0].ToString(), args.size() == 2 ? args[1].ToLong() : 1033);
    return Object::Invoke(method, args);
}

}  // namespace kestrix
