#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/services/referential_integrity.h"

namespace kestrix {

/// "Kestrix.Pipeline": answers the platform's question, before it deletes a business partner
/// or a document type, whether the send-method configuration (table SENDMETHOD) still refers
/// to it. It has no methods of its own.
class Pipeline : public Object, public services::IReferentialIntegrity {
  public:
    /// True while a send method still refers to the object about to be deleted. `origin`
    /// (compared upper-case) is "BUSINESSPARTNER" (key BUSINESSPARTNERID) or "DOCUMENTTYPE"
    /// (key DOCUMENTTYPEID); a key name is matched ignoring case. Any other origin, and an
    /// origin whose key is not among the names, answers true: this class has nothing to say
    /// about it, and the other answers decide.
    ///
    /// Never raises: a failure (of the database, or a partner identifier that is no number)
    /// is logged and answered true, so that an object whose references could not be checked
    /// is kept rather than deleted.
    bool Exists(std::string_view origin, const Array& keyNames, const Array& keyValues) override;
    /// Always true: nothing needs doing before the deletion.
    bool BeforeDelete(std::string_view origin, const Array& keyNames,
                      const Array& keyValues) override;

  private:
    /// Whether the query answers a row; nothing (after logging the failure with the
    /// statement) when it could not be run.
    std::optional<bool> CheckExistenceUsingSQL(const std::string& sql, const Variant& value);
};

}  // namespace kestrix
