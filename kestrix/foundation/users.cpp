// The users of the membership directory, as the rest of the library reads them.
#include <algorithm>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/users.h"
#include "kestrix/foundation/site_cache.h"
#include "platform/membership/members.h"
#include "platform/membership/user.h"
#include "platform/membership/validator.h"
#include "platform/services/configuration.h"

namespace kestrix {

namespace {

// A component created through the factory, of the class the caller expects; the factory
// logs a failed creation and the next use of the missing object fails here.
template <typename T>
std::shared_ptr<T> Expect(ObjectPtr object, std::string_view progId) {
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (!typed)
        throw Error(errnum::E_FAIL, std::string(progId),
                    "The component " + std::string(progId) + " is not available.");
    return typed;
}

}  // namespace

std::string users::getIISVirtID() {
    try {
        auto configuration =
            Expect<services::Configuration>(Qel_getComponent("Tavrel.Configuration"), "Tavrel.Configuration");
        configuration->LoadFile(getSiteConfigFile());
        return configuration->GetValue("GLOBAL", "IISVirtId").ToString();
    } catch (...) {
        Reraise("Kestrix.Utility.getIISVirtID");
    }
}

std::shared_ptr<membership::User> users::getAUOAddress(std::string /*iIISVirtID*/, std::string& iUserID) {
    try {
        auto user = CreateAs<membership::User>("Ulmara.User");
        auto configuration = CreateAs<services::Configuration>("Tavrel.Configuration");
        const std::string siteFile = getSiteConfigFile();
        configuration->LoadFile(siteFile);
        user->SetConfigFile(siteFile);
        user->Open(iUserID, GetMemScriptUser(), GetMemScriptCode());
        return user;
    } catch (...) {
        Reraise("Kestrix.Utility.GetAUOAddress");
    }
}

std::shared_ptr<membership::User> users::GetAUObject(std::string& iUserID) {
    try {
        // The user's record is kept by the thread while a site cache scope lives; each
        // caller gets a copy of its own.
        if (auto kept = std::static_pointer_cast<const membership::User>(FindSiteObject(SiteCacheKind::User, iUserID)))
            return std::make_shared<membership::User>(*kept);
        std::shared_ptr<membership::User> user = getAUOAddress(getIISVirtID(), iUserID);
        KeepSiteObject(SiteCacheKind::User, iUserID, std::make_shared<const membership::User>(*user));
        return user;
    } catch (...) {
        Reraise("Kestrix.Utility.GetAUObject");
    }
}

db::Recordset users::GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID) {
    try {
        if (iIISVirtID.empty()) iIISVirtID = getIISVirtID();
        auto members = Expect<membership::Members>(Qel_getComponent("Ulmara.Members"), "Ulmara.Members");
        auto configuration =
            Expect<services::Configuration>(Qel_getComponent("Tavrel.Configuration"), "Tavrel.Configuration");
        const std::string siteFile = getSiteConfigFile();
        configuration->LoadFile(siteFile);
        members->SetConfigFile(siteFile);
        members->Login(GetMemScriptUser(), GetMemScriptCode());
        return members->Search(Array{iCriteria}, "");
    } catch (...) {
        Reraise("Kestrix.Utility.GetAuoRSByCriteria");
    }
}

int32_t users::GetAUBusinessPartnerID(std::string& iUserID) {
    try {
        return GetAUObject(iUserID)->BusinessPartnerID();
    } catch (...) {
        Reraise("Kestrix.Utility.GetAUBusinessPartnerID");
    }
}

std::string users::GetAUEmailAddress(std::string& iUserID) {
    try {
        return GetAUObject(iUserID)->EmailAddress();
    } catch (...) {
        Reraise("Kestrix.Utility.GetAUEmailAddress");
    }
}

Variant users::CheckUserAuthorization(std::string& i_sUser, std::string& i_sPassword, std::string& /*i_sXml*/) {
    try {
        auto validator = Expect<membership::Validator>(Qel_getComponent("Ulmara.Validator"), "Ulmara.Validator");
        validator->SetConfigFile(getSiteConfigFile());
        return validator->Validate(i_sUser, i_sPassword);
    } catch (...) {
        Reraise("Kestrix.Utility.CheckUserAuthorization");
    }
}

int32_t users::GetApplicationID(const std::string& i_sApplicationName) {
    try {
        auto configuration =
            Expect<services::Configuration>(Qel_getComponent("Tavrel.Configuration"), "Tavrel.Configuration");
        configuration->LoadFile(GetQelConfigFile());
        return configuration->ApplicationId(i_sApplicationName);
    } catch (...) {
        Reraise("Kestrix.Utility.GetApplicID");
    }
}

bool users::UserAccessToApplicationAllowed(const std::string& i_sUser, const std::string& i_sApplicationName) {
    try {
        std::string user = i_sUser;
        return UserAccessToApplicationAllowed(*GetAUObject(user), i_sApplicationName);
    } catch (...) {
        Reraise("Kestrix.Utility.UserAccessToApplicationAllowed");
    }
}

bool users::UserAccessToApplicationAllowed(const membership::User& user, const std::string& i_sApplicationName) {
    try {
        const int32_t id = GetApplicationID(i_sApplicationName);
        const std::vector<int32_t> permitted = user.PermittedApplications();
        return std::find(permitted.begin(), permitted.end(), id) != permitted.end();
    } catch (...) {
        Reraise("Kestrix.Utility.UserAccessToApplicationAllowed");
    }
}

}  // namespace kestrix
