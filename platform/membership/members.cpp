#include "platform/membership/members.h"

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/membership/store.h"

namespace kestrix::membership {

namespace {

const Variant& Arg(std::span<Variant> args, size_t index, std::string_view method) {
    if (index >= args.size()) {
        throw Error(450, "Ulmara.Members." + std::string(method),
                    "Wrong number of arguments or invalid property assignment");
    }
    return args[index];
}

/// The WHERE condition of one criteria, the value always as an encoded literal.
std::string Condition(const db::Connection& connection, const std::string& criteria) {
    size_t eq = criteria.find('=');
    if (eq != std::string::npos) {
        std::string attribute = Trim(std::string_view(criteria).substr(0, eq));
        std::string_view value = std::string_view(criteria).substr(eq + 1);
        if (IEquals(attribute, "cn")) return "USERID = " + connection.EncodeText(value);
        if (IEquals(attribute, "employeenumber")) {
            return "EMPLOYEENUMBER = " + connection.EncodeText(value);
        }
    }
    throw Error(errnum::InvalidArgument, "Ulmara.Members.Search",
                "The search criteria '" + criteria +
                    "' is not understood; use cn=VALUE or employeenumber=VALUE.");
}

}  // namespace

void Members::SetConfigFile(const std::string& path) {
    configFile_ = path;
    loggedIn_ = false;
}

void Members::Login(const std::string& scriptUser, const std::string& scriptCode) {
    loggedIn_ = false;
    std::string config = configFile_.empty() ? DefaultSiteConfigFile() : configFile_;
    CheckScriptCredentials(config, scriptUser, scriptCode, "Ulmara.Members.Login");
    loggedIn_ = true;
}

db::Recordset Members::Search(const Array& criteria, std::string_view, const Variant&) {
    if (!loggedIn_) {
        throw Error(errnum::AccessDenied, "Ulmara.Members.Search",
                    "Log in with the script credentials before searching.");
    }
    std::string config = configFile_.empty() ? DefaultSiteConfigFile() : configFile_;
    db::Connection connection(MembershipConnectionString(config));
    std::string where;
    for (const Variant& item : criteria) {
        where += where.empty() ? " WHERE " : " AND ";
        where += Condition(connection, item.ToString());
    }
    return connection.Query(
        "SELECT USERID AS \"cn\", BUSINESSPARTNERID AS \"BusinessPartnerID\", EMAIL AS \"mail\", "
        "EMPLOYEENUMBER AS \"employeenumber\", FIRSTNAME AS \"givenName\", SECONDNAME AS \"sn\", "
        "LANGUAGEID AS \"preferredLanguage\", LOCALEID AS \"locale\" FROM MEMBERUSER" +
        where + " ORDER BY USERID");
}

Variant Members::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "SetConfigFile")) {
        SetConfigFile(Arg(args, 0, method).ToString());
        return {};
    }
    if (IEquals(method, "Login")) {
        Login(Arg(args, 0, method).ToString(), Arg(args, 1, method).ToString());
        return {};
    }
    if (IEquals(method, "Search")) {
        const Variant& criteria = Arg(args, 0, method);
        Array list = criteria.IsArray() ? criteria.ToArray() : Array{criteria};
        db::Recordset rs = Search(list);
        Array logins;
        for (; !rs.Eof(); rs.MoveNext()) logins.emplace_back(rs.GetString("cn"));
        return Variant(std::move(logins));
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix::membership
