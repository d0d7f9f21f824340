#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix::membership {
class User;
}

namespace kestrix {

/// "Kestrix.Utility": the public helper class of the library. It is a thin facade: each
/// method forwards to the room that owns the work (conversions and parameters here, users
/// in web/, routing in documents/, mail in delivery/, files in intake/).
class Utility : public Object {
public:
    // ---- conversions, long texts and server parameters ----------------------------------

    /// Writes a long text into the column `iFieldName` of the row being edited, in chunks of
    /// 1,000,000 characters; empty content sets the empty text. On failure the column is
    /// set to the empty text and the error raised on.
    void SetLongDBTextField(std::string& iFieldContent, std::string& iFieldName, db::EditRow& oRS);
    /// Null reads as 0; any other value as a 32-bit integer (halves to even); Overflow
    /// outside the 32-bit range.
    int32_t CheckLong(Variant& iVar);
    /// Null reads as ""; any other value as its text.
    std::string CheckString(Variant& iVar);
    /// The server parameter of that name; a failure is passed on unchanged.
    std::string GetQelServerParameter(std::string& i_sParamName);
    /// The value formatted with the format expression (see FormatExpression).
    Variant Formats(const Variant& i_vSource, const Variant& i_vFormat);

    // ---- users of the membership directory ----------------------------------------------

    /// The site's virtual identifier (site configuration, GLOBAL "IISVirtId"), read once per
    /// instance.
    std::string getIISVirtID();
    /// The membership user object of the user.
    std::shared_ptr<membership::User> GetAUObject(std::string& iUserID);
    /// The membership user object of the user (the virtual identifier is not used).
    std::shared_ptr<membership::User> getAUOAddress(std::string iIISVirtID, std::string& iUserID);
    /// The membership users matching the criteria ("cn=<login>", "employeenumber=<n>"); an
    /// empty virtual identifier is filled in and handed back.
    db::Recordset GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID);
    /// The business partner of the user.
    int32_t GetAUBusinessPartnerID(std::string& iUserID);
    /// The e-mail address of the user.
    std::string GetAUEmailAddress(std::string& iUserID);

private:
    std::string virtualId_;
};

}  // namespace kestrix
