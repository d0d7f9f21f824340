// Closing publication errors, one or a category of a document, and removing those of a document.
#include "kestrix/documents/publication_errors.h"

#include <array>
#include <string_view>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"

namespace kestrix {

namespace {

/// The labels of the publication errors a document gets when one of its routing tags names
/// a recipient that cannot be found or resolved; they are closed once the document is
/// published.
constexpr std::array<std::string_view, 9> kCannotPublishLabels{
    "SLBSH0008", "SLBSH4475", "SLBSH4476", "SLBSH4477", "SLBSH4478",
    "SLBSH4479", "SLBSH4480", "SLBSH4481", "SLBSH4482",
};

/// Executes one statement on a connection of its own; failures are reported with the
/// statement.
void ExecQuery(const std::string& sql) {
    try {
        db::Connection connection = GetConnection();
        connection.Execute(sql);
        CloseConnection(connection);
    } catch (...) {
        Reraise("Kestrix.Collaboration.ExecQuery", sql);
    }
}

}  // namespace

void publication_errors::ClosePublicationErrorsForOneCategory(int32_t i_lDocID,
                                                               const std::string& i_sCategory) {
    constexpr std::string_view kSource =
        "Kestrix.Collaboration.ClosePublicationErrorsForOneCategory";
    try {
        if (i_sCategory != "CannotPublish")
            Raise(EnumerationErrors::InvalidParamValue, std::string(kSource),
                  "Not supported Category : " + i_sCategory);
        // The document is bound, so the text is the same for every document.
        std::string sql = " UPDATE PUBLICATIONERRORS SET CLOSED = 1 WHERE DOCUMENTID = ? AND ( LABEL = ";
        for (size_t i = 0; i < kCannotPublishLabels.size(); ++i) {
            if (i > 0) sql += std::string(" OR ") + "       LABEL = ";
            sql += EncodeSqlText(kCannotPublishLabels[i]);
        }
        sql += ")";
        try {
            db::Connection connection = GetConnection();
            connection.Execute(sql, {Variant(i_lDocID)});
        } catch (...) {
            Reraise("Kestrix.Collaboration.ExecQuery", sql);
        }
    } catch (...) {
        Reraise(kSource);
    }
}

void publication_errors::ClosePublicationErrors(int32_t iPublicationErrorID, int32_t iDocID) {
    try {
        std::string sql = std::string("UPDATE PUBLICATIONERRORS ") + "SET CLOSED = 1 " +
                          "WHERE PUBLICATIONERRORID = " + EncodeSqlNumber(iPublicationErrorID);
        if (iDocID != 0) sql += std::string(" ") + "AND DOCUMENTID = " + EncodeSqlNumber(iDocID);
        ExecQuery(sql);
    } catch (...) {
        Reraise("Kestrix.Collaboration.ClosePublicationErrors");
    }
}

void publication_errors::DeletePublicationErrors(int32_t iDocID) {
    constexpr const char* kSql = "DELETE FROM PUBLICATIONERRORS WHERE DOCUMENTID = ?";
    try {
        try {
            db::Connection connection = GetConnection();
            connection.Execute(kSql, {Variant(iDocID)});
            CloseConnection(connection);
        } catch (...) {
            Reraise("Kestrix.Collaboration.ExecQuery", kSql);
        }
    } catch (...) {
        Reraise("Kestrix.Collaboration.DeletePublicationErrors");
    }
}

}  // namespace kestrix
