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

/// The membership validator's answer to the credentials: true for a user of the directory
/// whose password this is, false otherwise. The third argument is not used.
Variant CheckUserAuthorization(std::string& i_sUser, std::string& i_sPassword, std::string& i_sXml);
/// The identifier of the application of that name in the server configuration; raises for
/// a name the configuration does not know.
int32_t GetApplicationID(const std::string& i_sApplicationName);
/// True when the user may use the application: its identifier is among the user's
/// permitted applications (false for a user without any). An unknown user raises.
bool UserAccessToApplicationAllowed(const std::string& i_sUser, const std::string& i_sApplicationName);
/// The same for a user object already opened.
bool UserAccessToApplicationAllowed(const membership::User& user, const std::string& i_sApplicationName);

}  // namespace kestrix::users
