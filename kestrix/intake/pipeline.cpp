// Pipeline: the answer of the send-method configuration before the platform deletes a
// business partner or a document type.
#include "kestrix/intake/pipeline.h"

#include "kestrix/documents/referential_integrity.h"
#include "kestrix/foundation/dbutils.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

constexpr const char* kClass = "Kestrix.Pipeline";

}  // namespace

std::optional<bool> Pipeline::CheckExistenceUsingSQL(const std::string& sql, const Variant& value) {
    try {
        const Variant params[] = {value};
        return referential_integrity::HasRow(sql, params);
    } catch (...) {
        referential_integrity::LogToPlatform(" / Kestrix.Pipeline.CheckExistenceUsingSQL(" + sql +
                                             ") with '" + value.ToString() + "'");
        return std::nullopt;
    }
}

bool Pipeline::Exists(std::string_view origin, const Array& keyNames, const Array& keyValues) {
    try {
        const std::string kind = ToUpper(origin);
        std::optional<bool> found;
        if (kind == "BUSINESSPARTNER") {
            if (const Variant* partner = referential_integrity::KeyValue(keyNames, keyValues,
                                                                         "BUSINESSPARTNERID", kClass))
                found = CheckExistenceUsingSQL(
                    "SELECT BUSINESSPARTNERID FROM SENDMETHOD WHERE BUSINESSPARTNERID = ?",
                    Variant(partner->ToLong()));
            else
                return true;
        } else if (kind == "DOCUMENTTYPE") {
            if (const Variant* type = referential_integrity::KeyValue(keyNames, keyValues,
                                                                      "DOCUMENTTYPEID", kClass))
                found = CheckExistenceUsingSQL(
                    "SELECT DOCUMENTTYPEID FROM SENDMETHOD WHERE DOCUMENTTYPEID = ?",
                    Variant(type->ToString()));
            else
                return true;
        } else {
            return true;
        }
        // A reference that could not be checked is taken as one: the object stays.
        return !found || *found;
    } catch (...) {
        referential_integrity::LogToPlatform(" / Kestrix.Pipeline.IReferentialIntegrity_Exists()");
        return true;
    }
}

bool Pipeline::BeforeDelete(std::string_view, const Array&, const Array&) { return true; }

}  // namespace kestrix
