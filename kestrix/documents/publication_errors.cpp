#include "kestrix/documents/publication_errors.h"

#include "kestrix/documents/document.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/conversions.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

// A table name goes into the statement as it is, so only plain identifiers are taken.
void RequireIdentifier(std::string_view table) {
    bool ok = !table.empty();
    for (char c : table)
        ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.');
    if (!ok)
        throw Error(errnum::E_FAIL, "Kestrix.General.ReadReplacements",
                    "'" + std::string(table) + "' is not a table name.");
}

}  // namespace

int32_t LogPublicationErrorWithReplacements(int32_t docId, int32_t errorNumber,
                                            std::string_view description, std::string_view source,
                                            std::string_view label,
                                            const xml::XmlDocument* replacements) {
    try {
        DocumentStore document;
        int32_t id = docId;
        if (document.GetDocumentTypeOfDocument(id).empty()) return 0;

        db::Connection connection = GetConnection();
        db::EditRow row;
        row.Set("DOCUMENTID", docId);
        row.Set("ERRORNUMBER", errorNumber);
        row.Set("DESCRIPTION", std::string(description));
        row.Set("SOURCE", Utf8Prefix(source, 255));
        if (!label.empty()) row.Set("LABEL", std::string(label));
        row.Set("CREATIONDATE", DateTime::Now().Sortable());
        row.Set("CLOSED", 0);
        if (replacements) {
            std::string text = replacements->Xml(), field = "REPLACEMENTS";
            conversions::SetLongDBTextField(text, field, row);
        }
        return KeyAsInt32(connection.Insert("PUBLICATIONERRORS", row, "PUBLICATIONERRORID"),
                          "PUBLICATIONERRORS");
    } catch (...) {
        Reraise("Kestrix.General.LogPublicationError");
    }
}

int32_t LogPublicationError(int32_t docId, int32_t errorNumber, std::string_view description,
                            std::string_view source, std::string_view label) {
    try {
        return LogPublicationErrorWithReplacements(docId, errorNumber, description, source, label);
    } catch (...) {
        Reraise("Kestrix.PublicationErrorHandlingLogPublicationError");
    }
}

xml::XmlDocument NewReplacementsDocument() {
    xml::XmlDocument document;
    document.CreateDocumentElement("REPS");
    return document;
}

void AddReplacement(xml::XmlDocument& replacements, std::string_view key, std::string_view value) {
    xml::XmlNode rep = replacements.DocumentElement().AppendElement("REP", value);
    rep.SetAttribute("name", key);
}

void FillReplacements(std::optional<xml::XmlDocument>& replacements, const Dictionary& entries) {
    if (!replacements || replacements->DocumentElement().isNull() ||
        Trim(replacements->DocumentElement().Name()) != "REPS")
        replacements = NewReplacementsDocument();
    for (const auto& [key, value] : entries)
        AddReplacement(*replacements, key, value.IsNull() ? std::string() : value.ToString());
}

void ReadReplacements(Dictionary& entries, std::string_view table, int32_t errorId) {
    RequireIdentifier(table);
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(" SELECT REPLACEMENTS FROM " + std::string(table) +
                                        " WHERE PUBLICATIONERRORID = " + EncodeSqlNumber(errorId));
    if (rs.Eof() || rs.IsNull("REPLACEMENTS")) return;
    std::string text = rs.GetString("REPLACEMENTS");
    if (Trim(text).empty()) return;
    xml::XmlDocument document = xml::XmlDocument::FromText(text);
    for (const xml::XmlNode& rep : document.SelectNodes("//REP").nodes)
        entries.SetItem(rep.Attribute("name").value_or(""), rep.Text());
}

}  // namespace kestrix

namespace kestrix {

bool publication_errors::CheckPublicationErrors(int32_t& iDocID) {
    try {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT PUBLICATIONERRORID FROM PUBLICATIONERRORS WHERE DOCUMENTID = ? AND CLOSED = 0",
            {Variant(iDocID)});
        return !rs.Eof();
    } catch (...) {
        Reraise("Kestrix.Utility.checkPublicationErrors", "DocumentID: '" + std::to_string(iDocID) + "'");
    }
}

}  // namespace kestrix
