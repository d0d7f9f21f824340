#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix::membership {
class User;
}

/// The users of the membership directory, as every room reads them.
namespace kestrix::users {

/// The site's virtual identifier (site configuration, GLOBAL "IISVirtId"), read on every call.
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

}  // namespace kestrix::users
