// What became of a document, read back for the command line: its recipients and its
// publication errors.
#include "apps/kestrix/document_view.h"

#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

std::string OneLine(const std::string& text) { return ReplaceAll(ReplaceAll(Trim(text), "\r\n", " / "), "\n", " / "); }

}  // namespace

std::vector<PublicationView> Publications(db::Connection& connection, int32_t docId) {
    std::vector<PublicationView> rows;
    db::Recordset rs = connection.Query("SELECT USERID, STATUS FROM PUBLICATION WHERE DOCUMENTID = ? ORDER BY USERID",
                                        {Variant(docId)});
    for (; !rs.Eof(); rs.MoveNext())
        rows.push_back({rs.GetString("USERID"), static_cast<int32_t>(rs.GetInt("STATUS"))});
    return rows;
}

std::vector<PublicationErrorView> PublicationErrors(db::Connection& connection, int32_t docId, bool openOnly) {
    std::vector<PublicationErrorView> errors;
    db::Recordset rs = connection.Query(
        std::string("SELECT PUBLICATIONERRORID, LABEL, DESCRIPTION, CLOSED FROM PUBLICATIONERRORS "
                    "WHERE DOCUMENTID = ?") +
            (openOnly ? " AND CLOSED = 0" : "") + " ORDER BY PUBLICATIONERRORID",
        {Variant(docId)});
    for (; !rs.Eof(); rs.MoveNext()) {
        PublicationErrorView error;
        error.id = static_cast<int32_t>(rs.GetInt("PUBLICATIONERRORID"));
        error.label = rs.IsNull("LABEL") ? "" : Trim(rs.GetString("LABEL"));
        error.description = OneLine(rs.GetString("DESCRIPTION"));
        error.closed = rs.GetInt("CLOSED") != 0;
        errors.push_back(std::move(error));
    }
    for (PublicationErrorView& error : errors) {
        if (error.label.empty()) continue;
        Dictionary replacements;
        ReadReplacements(replacements, "PUBLICATIONERRORS", error.id);
        error.labelText = OneLine(LabelOrCode(error.label, 1033, replacements));
    }
    return errors;
}

std::string RecipientList(const std::vector<PublicationView>& publications) {
    std::string list;
    for (const PublicationView& p : publications)
        list += (list.empty() ? "" : ", ") + Printable(p.user) + " (" + PublicationStatusName(p.status) + ")";
    return list.empty() ? "(none)" : list;
}

std::string ErrorLine(const PublicationErrorView& error) {
    std::string line = "error " + std::to_string(error.id) + " ";
    if (error.label.empty()) return Printable(line + error.description);
    return Printable(line + "[" + error.label + "] " + error.labelText + " (" + error.description + ")");
}

}  // namespace kestrix::cli
