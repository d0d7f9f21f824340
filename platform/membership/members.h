#pragma once

#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/recordset.h"

namespace kestrix::membership {

/// Search in the membership directory ("Ulmara.Members").
class Members : public Object {
public:
    /// The site configuration file whose directory is searched; the installed product's
    /// when never called.
    void SetConfigFile(const std::string& path);

    /// Checks the script credentials against the site's; raises AccessDenied on a mismatch.
    /// A search needs a successful log-in first.
    void Login(const std::string& scriptUser, const std::string& scriptCode);

    /// The users matching every criteria of `criteria` (all users for an empty array).
    /// A criteria is "cn=VALUE" (the login) or "employeenumber=VALUE"; the attribute name
    /// ignores case, VALUE is matched exactly as given, without wildcards. Any other
    /// criteria raises InvalidArgument. The columns are "cn", "BusinessPartnerID", "mail",
    /// "employeenumber", "givenName", "sn", "preferredLanguage" and "locale", ordered by
    /// "cn". `attributes` and `options` are accepted for the caller's call shape and not
    /// used.
    db::Recordset Search(const Array& criteria, std::string_view attributes = {},
                         const Variant& options = {});

    /// Late-bound "SetConfigFile", "Login", "Search"; a recordset is not a Variant, so the
    /// late-bound "Search" answers the logins found as an array.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

private:
    std::string configFile_;
    bool loggedIn_ = false;
};

}  // namespace kestrix::membership
