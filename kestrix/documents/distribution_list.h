#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/services/referential_integrity.h"

namespace kestrix {

/// "Kestrix.DistributionList": the recipients of each document type, with their business
/// partner and mail wishes (table DISTRIBUTIONLIST). It also answers the platform's
/// question, before it deletes a business partner, a user or a document type, whether the
/// exchange still refers to it.
///
/// Every method opens its own connection and closes it before it returns. The list methods
/// raise their failures on; the referential-integrity answers never raise (see `Exists`).
class DistributionList : public Object, public services::IReferentialIntegrity {
  public:
    /// True when the user is on the type's distribution list.
    /// Failures are raised on with the source "Kestrix.Utility.UserFoundOnDBList".
    bool UserFoundOnDBList(const std::string& iDocTypeID, const std::string& iUserID);
    /// True when a user of the partner is on the type's distribution list.
    /// Failures are raised on with the source "Kestrix.Utility.BPFoundOnDBList".
    bool BPFoundOnDBList(const std::string& iDocTypeID, int32_t iBPID);
    /// True when the type's distribution list has any recipient.
    bool AnyBPFoundOnDBList(const std::string& iDocTypeID);
    /// Removes the whole distribution list of the type.
    /// Failures are raised on with the source "Kestrix.DtributionList.RemoveBPsFromDBList".
    void RemoveBPsFromDBList(const std::string& iDocTypeID);

    /// True while the exchange still refers to the object about to be deleted. `origin`
    /// (compared upper-case) is "BUSINESSPARTNER" (key BUSINESSPARTNERID: distribution and
    /// sender lists, receive methods, send methods, the partner's document-type rules and the
    /// delivery history), "USER" (key USERID: distribution and sender lists, publications),
    /// "USER_DOCUMENTTYPE" (USERID and DOCUMENTTYPEID), "USER_BUSINESSPARTNER" (USERID and
    /// BUSINESSPARTNERID) or "DOCUMENTTYPE" (key DOCUMENTTYPEID), each of the last three
    /// looked up on the distribution lists; any other origin answers false. A key name is
    /// matched ignoring case; a missing key adds no condition, and an origin left without
    /// any condition answers false.
    ///
    /// Never raises: a failure (of the database, or a key value that is no number where a
    /// partner identifier is expected) is logged and answered true, so that an object whose
    /// references could not be checked is kept rather than deleted.
    bool Exists(std::string_view origin, const Array& keyNames, const Array& keyValues) override;
    /// Always true: nothing needs doing before the deletion.
    bool BeforeDelete(std::string_view origin, const Array& keyNames,
                      const Array& keyValues) override;

  private:
    /// Whether `sql` answers a row; nothing (after logging the failure with the statement)
    /// when it could not be run.
    std::optional<bool> CheckExistenceUsingSQL(const std::string& sql);
};

}  // namespace kestrix
