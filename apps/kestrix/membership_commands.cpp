// Commands of the membership directory: business partners, users, applications.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/foundation/general.h"
#include "platform/base/strings.h"
#include "platform/membership/directory.h"
#include "platform/services/configuration.h"

namespace kestrix::cli {

namespace {

membership::Directory SiteDirectory() { return membership::Directory::ForSite(getSiteConfigFile()); }

std::vector<std::string> CodeList(const std::optional<std::string>& text) {
    std::vector<std::string> codes;
    if (!text) return codes;
    for (const std::string& c : Split(*text, ','))
        if (!Trim(c).empty()) codes.push_back(Trim(c));
    return codes;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ",") + i;
    return out;
}

int Partner(Args& args) {
    std::string verb = args.word(1, "partner add|list");
    if (verb == "add") {
        std::string name = args.word(2, "partner name");
        auto codes0 = CodeList(args.option("code0"));
        auto codes1 = CodeList(args.option("code1"));
        args.finish();
        int32_t id = SiteDirectory().AddBusinessPartner(name, codes0, codes1);
        std::cout << "business partner " << id << " " << name << "\n";
        return 0;
    }
    if (verb == "list") {
        args.finish();
        for (const auto& p : SiteDirectory().BusinessPartners())
            std::cout << p.id << "\t" << p.name << "\tcode0=" << Joined(p.codes0)
                      << "\tcode1=" << Joined(p.codes1) << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'partner " + verb + "'");
}

int32_t ApplicationId(const std::string& name) {
    services::Configuration configuration;
    configuration.LoadFile(GetQelConfigFile());
    return configuration.ApplicationId(name);
}

int User(Args& args) {
    std::string verb = args.word(1, "user add|list|password|grant");
    if (verb == "add") {
        membership::UserRecord user;
        user.login = args.word(2, "login");
        user.businessPartnerId = std::stoi(args.option("partner").value_or("0"));
        user.email = args.option("email", "");
        user.languageId = std::stoi(args.option("language", "1033"));
        user.localeId = std::stoi(args.option("locale", "1033"));
        user.firstName = args.option("first", "");
        user.secondName = args.option("second", "");
        user.employeeNumber = args.option("employee", "");
        auto password = args.option("password");
        if (auto apps = args.option("apps"))
            for (const std::string& app : CodeList(apps)) user.applications.push_back(ApplicationId(app));
        args.finish();
        SiteDirectory().AddUser(user, password);
        std::cout << "user " << user.login << " (business partner " << user.businessPartnerId << ")\n";
        return 0;
    }
    if (verb == "list") {
        args.finish();
        for (const auto& u : SiteDirectory().Users())
            std::cout << u.login << "\tpartner=" << u.businessPartnerId << "\t" << u.email
                      << "\tlanguage=" << u.languageId << "\tlocale=" << u.localeId << "\t"
                      << u.firstName << " " << u.secondName << "\temployee=" << u.employeeNumber
                      << "\n";
        return 0;
    }
    if (verb == "password") {
        std::string login = args.word(2, "login");
        std::string password = args.word(3, "password");
        args.finish();
        SiteDirectory().SetPassword(login, password);
        std::cout << "password of " << login << " set\n";
        return 0;
    }
    if (verb == "grant") {
        std::string login = args.word(2, "login");
        std::string app = args.word(3, "application");
        args.finish();
        SiteDirectory().GrantApplication(login, ApplicationId(app));
        std::cout << login << " may use " << app << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'user " + verb + "'");
}

int App(Args& args) {
    std::string verb = args.word(1, "app add|list");
    if (verb == "add") {
        std::string name = args.word(2, "application name");
        args.finish();
        int32_t id = services::Configuration::SetApplication(GetQelConfigFile(), name, std::nullopt);
        std::cout << "application " << id << " " << name << "\n";
        return 0;
    }
    if (verb == "list") {
        args.finish();
        services::Configuration configuration;
        configuration.LoadFile(GetQelConfigFile());
        for (const auto& [name, id] : configuration.Applications()) std::cout << id << "\t" << name << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'app " + verb + "'");
}

}  // namespace

void AddMembershipCommands(std::map<std::string, Command>& commands) {
    commands["partner"] = {"partner add NAME [--code0 C1,C2] [--code1 S1] | partner list",
                           "business partners with their partner codes of kind 0 and 1", Partner};
    commands["user"] = {
        "user add LOGIN --partner ID [--email E] [--language 1033] [--locale 1033] [--first F]\n"
        "           [--second S] [--employee N] [--password P] [--apps A,B] | user list |\n"
        "           user password LOGIN PASSWORD | user grant LOGIN APPLICATION",
        "users of the membership directory", User};
    commands["app"] = {"app add NAME | app list", "applications users may be granted", App};
}

}  // namespace kestrix::cli
