// Commands of the membership directory: business partners, users, applications.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/documents/site_administration.h"
#include "kestrix/foundation/general.h"
#include "platform/base/strings.h"
#include "platform/membership/directory.h"
#include "platform/membership/records.h"
#include "platform/services/configuration.h"

namespace kestrix::cli {

namespace {

std::vector<std::string> CodeList(const std::optional<std::string>& text) {
    std::vector<std::string> codes;
    if (!text) return codes;
    for (const std::string& c : Split(*text, ','))
        if (!Trim(c).empty()) codes.push_back(Trim(c));
    return codes;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ",") + Printable(i);
    return out;
}

int Partner(Args& args) {
    std::string verb = args.Word(1, "partner add|list");
    SiteAdministration site;
    if (verb == "add") {
        std::string name = args.Word(2, "partner name");
        auto codes0 = CodeList(args.Option("code0"));
        auto codes1 = CodeList(args.Option("code1"));
        args.Finish();
        int32_t id = 0;
        const Change change = site.PutPartner(name, codes0, codes1, &id);
        std::cout << "business partner " << id << " " << Printable(name) << ": " << ChangeName(change) << "\n";
        return exit_status::Done;
    }
    if (verb == "list") {
        args.Finish();
        for (const auto& p : site.directory().BusinessPartners())
            std::cout << p.id << "\t" << Printable(p.name) << "\tcode0=" << Joined(p.codes0)
                      << "\tcode1=" << Joined(p.codes1) << "\n";
        return exit_status::Done;
    }
    UnknownVerb(args, verb);
}

int32_t ApplicationId(const std::string& name) {
    services::Configuration configuration;
    configuration.LoadFile(GetQelConfigFile());
    return configuration.ApplicationId(name);
}

int User(Args& args) {
    std::string verb = args.Word(1, "user add|list|password|grant|token");
    SiteAdministration site;
    if (verb == "add") {
        // An existing user keeps what the options leave out.
        const std::string login = args.Word(2, "login");
        std::optional<membership::UserRecord> existing;
        {
            db::Connection connection(site.directory().connectionString());
            existing = membership::FindUser(connection, login);
        }
        membership::UserRecord user;
        if (existing) {
            user = *existing;
        } else {
            user.login = login;
            user.languageId = user.localeId = 1033;
        }
        user.businessPartnerId = args.Number("partner", user.businessPartnerId);
        user.email = args.Option("email", user.email);
        user.languageId = args.Number("language", user.languageId);
        user.localeId = args.Number("locale", user.localeId);
        user.firstName = args.Option("first", user.firstName);
        user.secondName = args.Option("second", user.secondName);
        user.employeeNumber = args.Option("employee", user.employeeNumber);
        auto password = args.Option("password");
        if (auto apps = args.Option("apps"))
            for (const std::string& app : CodeList(apps)) user.applications.push_back(ApplicationId(app));
        args.Finish();
        if (user.businessPartnerId == 0) throw UsageError("a new user needs --partner ID");
        const Change change = site.PutUser(user, password, SiteAdministration::UserDetails::Update);
        std::cout << "user " << Printable(user.login) << " (business partner " << user.businessPartnerId
                  << "): " << ChangeName(change) << "\n";
        return exit_status::Done;
    }
    if (verb == "list") {
        args.Finish();
        for (const auto& u : site.directory().Users())
            std::cout << Printable(u.login) << "\tpartner=" << u.businessPartnerId << "\t" << Printable(u.email)
                      << "\tlanguage=" << u.languageId << "\tlocale=" << u.localeId << "\t"
                      << Printable(u.firstName) << " " << Printable(u.secondName)
                      << "\temployee=" << Printable(u.employeeNumber) << "\n";
        return exit_status::Done;
    }
    if (verb == "password") {
        std::string login = args.Word(2, "login");
        std::string password = args.Word(3, "password");
        args.Finish();
        membership::Directory(site.directory()).SetPassword(login, password);
        std::cout << "password of " << Printable(login) << " set\n";
        return exit_status::Done;
    }
    if (verb == "grant") {
        std::string login = args.Word(2, "login");
        std::string app = args.Word(3, "application");
        args.Finish();
        membership::Directory(site.directory()).GrantApplication(login, ApplicationId(app));
        std::cout << Printable(login) << " may use " << Printable(app) << "\n";
        return exit_status::Done;
    }
    if (verb == "token") {
        std::string login = args.Word(2, "login");
        const bool revoke = args.Flag("revoke");
        args.Finish();
        membership::Directory directory(site.directory());
        if (revoke) {
            const int revoked = directory.RevokeTokens(login);
            std::cout << revoked << (revoked == 1 ? " token" : " tokens") << " of " << Printable(login) << " revoked\n";
            return exit_status::Done;
        }
        // Shown this once: only its hash is kept.
        std::cout << directory.IssueToken(login) << "\n";
        return exit_status::Done;
    }
    UnknownVerb(args, verb);
}

int App(Args& args) {
    std::string verb = args.Word(1, "app add|list");
    if (verb == "add") {
        std::string name = args.Word(2, "application name");
        args.Finish();
        int32_t id = services::Configuration::SetApplication(GetQelConfigFile(), name, std::nullopt);
        std::cout << "application " << id << " " << Printable(name) << "\n";
        return exit_status::Done;
    }
    if (verb == "list") {
        args.Finish();
        services::Configuration configuration;
        configuration.LoadFile(GetQelConfigFile());
        for (const auto& [name, id] : configuration.Applications())
            std::cout << id << "\t" << Printable(name) << "\n";
        return exit_status::Done;
    }
    UnknownVerb(args, verb);
}

}  // namespace

void AddMembershipCommands(Commands& commands) {
    commands["partner"] = {"partner add NAME [--code0 C1,C2] [--code1 S1] | partner list",
                           "business partners with their partner codes of kind 0 and 1; adding an\n"
                           "      existing partner adds the codes it lacks",
                           {}, Partner};
    commands["user"] = {
        "user add LOGIN --partner ID [--email E] [--language 1033] [--locale 1033] [--first F]\n"
        "           [--second S] [--employee N] [--password P] [--apps A,B] | user list |\n"
        "           user password LOGIN PASSWORD | user grant LOGIN APPLICATION |\n"
        "           user token LOGIN [--revoke]",
        "users of the membership directory; adding an existing user changes what the options\n"
        "      give and keeps the rest; a token (for the user's programs, sent as 'Authorization:\n"
        "      Bearer TOKEN') is shown once, and --revoke withdraws every token of the user",
        {"revoke"}, User};
    commands["app"] = {"app add NAME | app list", "applications users may be granted", {}, App};
}

}  // namespace kestrix::cli
