// Commands that set up what a site exchanges: document types, receive methods, sender and
// distribution lists, changes of type, and whole site files.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>

#include "apps/kestrix/cli.h"
#include "kestrix/delivery/send_method_site.h"
#include "platform/db/session.h"
#include "kestrix/documents/distribution_list.h"
#include "kestrix/documents/receive_method.h"
#include "kestrix/documents/site_administration.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/site.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

namespace fs = std::filesystem;

void Report(const std::string& what, Change change) {
    std::cout << Printable(what) << ": " << ChangeName(change) << "\n";
}

/// A partner given by identifier or by name.
int32_t Partner(const SiteAdministration& site, const std::string& given) {
    if (const std::optional<int32_t> number = WholeNumber(given)) return *number;
    const int32_t id = site.PartnerByName(given);
    if (id == 0) throw std::runtime_error("there is no business partner named '" + Printable(given) + "'");
    return id;
}

int DocType(Args& args) {
    std::string verb = args.Word(1, "doctype add|list");
    SiteAdministration site;
    if (verb == "add") {
        DocumentTypeRecord type{args.Word(2, "document type"), "", "", "", ""};
        // Options left out keep what the type has.
        for (const DocumentTypeRecord& existing : site.DocumentTypes())
            if (existing.id == type.id) type = existing;
        if (auto v = args.Option("description")) type.description = *v;
        if (auto v = args.Option("extdescription")) type.extDescription = *v;
        if (auto v = args.Option("icon")) type.iconFileName = *v;
        if (auto v = args.Option("htmlxsl")) type.htmlAttachmentXsl = *v;
        args.Finish();
        Report("document type " + type.id, site.PutDocumentType(type));
        return 0;
    }
    if (verb == "list") {
        args.Finish();
        for (const DocumentTypeRecord& t : site.DocumentTypes())
            std::cout << Printable(t.id) << "\t" << Printable(t.description) << "\thtmlxsl="
                      << Printable(t.htmlAttachmentXsl) << "\ticon=" << Printable(t.iconFileName) << "\t"
                      << Printable(t.extDescription) << "\n";
        return 0;
    }
    UnknownVerb(args, verb);
}

int Receive(Args& args) {
    std::string verb = args.Word(1, "receive add|list|remove");
    SiteAdministration site;
    if (verb == "add") {
        std::string partner = args.Word(2, "business partner");
        std::string type = args.Word(3, "document type");
        std::string xsl = args.Word(4, "style sheet file name");
        args.Finish();
        Report("receive method of " + partner + " for " + type,
               site.PutReceiveMethod(Partner(site, partner), type, xsl));
        return 0;
    }
    if (verb == "list") {
        args.Finish();
        for (const ReceiveMethodRecord& m : site.ReceiveMethods())
            std::cout << m.id << "\tpartner=" << m.businessPartnerId << "\t" << Printable(m.documentTypeId)
                      << "\t" << Printable(m.xslFileName) << "\n";
        return 0;
    }
    if (verb == "remove") {
        std::string partner = args.Word(2, "business partner");
        std::string type = args.Word(3, "document type");
        args.Finish();
        ReceiveMethod methods;
        int32_t id = methods.GetReceiveMethodID(Partner(site, partner), type);
        if (id == 0) throw std::runtime_error("no receive method of " + partner + " for " + type);
        methods.DeleteReceiveMethod(id);
        std::cout << "receive method of " << partner << " for " << type << ": removed\n";
        return 0;
    }
    UnknownVerb(args, verb);
}

int Sender(Args& args) {
    std::string verb = args.Word(1, "sender add|list");
    SiteAdministration site;
    if (verb == "add") {
        std::string type = args.Word(2, "document type");
        std::string user = args.Word(3, "user");
        bool notify = args.Flag("notify");
        args.Finish();
        Report("sender " + user + " of " + type, site.PutSender(type, user, notify));
        return 0;
    }
    if (verb == "list") {
        std::string type = args.OptionalWord(2).value_or("");
        args.Finish();
        for (const SenderRecord& s : site.Senders(type))
            std::cout << Printable(s.documentTypeId) << "\t" << Printable(s.userId) << "\tpartner=" << s.businessPartnerId
                      << "\tnotify=" << (s.notification ? 1 : 0) << "\n";
        return 0;
    }
    UnknownVerb(args, verb);
}

int Distribution(Args& args) {
    std::string verb = args.Word(1, "distribution add|list|clear");
    SiteAdministration site;
    if (verb == "add") {
        std::string type = args.Word(2, "document type");
        std::string user = args.Word(3, "user");
        bool email = args.Flag("email");
        bool html = args.Flag("html");
        args.Finish();
        Report("recipient " + user + " of " + type, site.PutRecipient(type, user, email, html));
        return 0;
    }
    if (verb == "list") {
        std::string type = args.OptionalWord(2).value_or("");
        args.Finish();
        for (const RecipientRecord& r : site.Recipients(type))
            std::cout << Printable(r.documentTypeId) << "\t" << Printable(r.userId) << "\tpartner=" << r.businessPartnerId
                      << "\temail=" << (r.email ? 1 : 0) << "\thtml=" << (r.htmlAttachment ? 1 : 0)
                      << "\n";
        return 0;
    }
    if (verb == "clear") {
        std::string type = args.Word(2, "document type");
        args.Finish();
        DistributionList().RemoveBPsFromDBList(type);
        std::cout << "distribution list of " << type << ": cleared\n";
        return 0;
    }
    UnknownVerb(args, verb);
}

int Transform(Args& args) {
    std::string verb = args.Word(1, "transform add|list");
    SiteAdministration site;
    if (verb == "add") {
        TransformationRecord change{args.Word(2, "source type"), args.Word(3, "target type"),
                                    args.Word(4, "style sheet file name")};
        args.Finish();
        Report("change of type " + change.documentTypeId + " -> " + change.newDocumentTypeId,
               site.PutTransformation(change));
        return 0;
    }
    if (verb == "list") {
        args.Finish();
        for (const TransformationRecord& t : site.Transformations())
            std::cout << Printable(t.documentTypeId) << "\t" << Printable(t.newDocumentTypeId) << "\t"
                      << Printable(t.transformXslName) << "\n";
        return 0;
    }
    UnknownVerb(args, verb);
}

int Apply(Args& args) {
    std::string file = args.Word(1, "site file");
    args.Finish();
    SiteAdministration site;
    SiteFileReport report = ApplySiteFile(file, site, {SendMethodSiteElement()});
    for (const std::string& line : report.changes) std::cout << Printable(line) << "\n";
    std::cout << report.changes.size() << " changed, " << report.unchanged
              << " already as the file says\n";
    return 0;
}

int Init(Args& args) {
    // The folder is DIR, else the site named by --site or KESTRIX_HOME.
    std::optional<std::string> folder = args.OptionalWord(1);
    SiteOptions options;
    options.database = args.Option("database", "");
    args.Finish();
    if (!folder) {
        const char* home = std::getenv("KESTRIX_HOME");
        if (!home || !*home) throw UsageError("missing site folder");
        folder = home;
    }
    const std::string connection = InitSite(*folder, options);
    std::cout << "Site ready in " << Printable(fs::absolute(*folder).lexically_normal().string())
              << "\n  database: " << Printable(db::RedactConnectionString(connection)) << "\n";
    return exit_status::Done;
}

int Param(Args& args) {
    const std::string verb = args.Word(1, "param list|get|set");
    if (verb == "list") {
        args.Finish();
        std::map<std::string, std::string> stored;
        {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query("SELECT PARAMNAME, PARAMVALUE FROM COLLABORATIONPARAMETER");
            for (; !rs.Eof(); rs.MoveNext()) stored[rs.GetString("PARAMNAME")] = rs.GetString("PARAMVALUE");
        }
        for (const ParameterInfo& known : KnownParameters()) {
            auto value = stored.find(std::string(known.name));
            std::cout << known.name << " = "
                      << (value == stored.end() ? "(not set)" : Printable(value->second)) << "\n    "
                      << known.description << " (default: " << known.defaultValue << ")\n";
            if (value != stored.end()) stored.erase(value);
        }
        for (const auto& [name, value] : stored)
            std::cout << Printable(name) << " = " << Printable(value) << "\n    (not read by Kestrix)\n";
        return exit_status::Done;
    }
    if (verb == "get") {
        const std::string name = args.Word(2, "parameter name");
        args.Finish();
        std::cout << Printable(GetParameter(name)) << "\n";
        return exit_status::Done;
    }
    if (verb == "set") {
        const std::string name = args.Word(2, "parameter name");
        const std::string value = args.Word(3, "parameter value");
        args.Finish();
        if (!FindKnownParameter(name))
            std::cerr << "kestrix param: warning: Kestrix reads no parameter named '" << Printable(name)
                      << "' (see 'kestrix param list'); it is stored all the same\n";
        Report("parameter " + name, SiteAdministration().PutParameter(name, value));
        return exit_status::Done;
    }
    UnknownVerb(args, verb);
}

}  // namespace

int32_t PartnerId(const std::string& given) { return Partner(SiteAdministration(), given); }

void AddSiteCommands(Commands& commands) {
    commands["doctype"] = {
        "doctype add ID [--description D] [--extdescription E] [--icon FILE] [--htmlxsl FILE]\n"
        "           | doctype list",
        "document types (options left out keep their value)", {}, DocType};
    commands["receive"] = {
        "receive add PARTNER TYPE XSL | receive list | receive remove PARTNER TYPE",
        "the style sheet that brings a partner's documents of a type into the standard form\n"
        "      (PARTNER is an identifier or a name)",
        {}, Receive};
    commands["sender"] = {"sender add TYPE USER [--notify] | sender list [TYPE]",
                          "who may publish a document type, and who wants a mail afterwards",
                          {"notify"}, Sender};
    commands["distribution"] = {
        "distribution add TYPE USER [--email] [--html] | distribution list [TYPE]\n"
        "           | distribution clear TYPE",
        "who receives a document type, with notification mails and an HTML rendering",
        {"email", "html"}, Distribution};
    commands["transform"] = {"transform add FROM TO XSL | transform list",
                             "permitted changes of document type and their style sheets", {},
                             Transform};
    commands["apply"] = {"apply FILE",
                         "apply a site file (partners, users, types, lists ...): all of it or, when\n"
                         "      anything in it is wrong, nothing; applying it again changes nothing",
                         {}, Apply};
}

void AddSiteSetupCommands(Commands& commands) {
    commands["init"] = {"init DIR [--database URL]",
                        "create (or complete) a site: folders, configuration, schema, labels, parameters",
                        {}, Init};
    commands["param"] = {"param list | param get NAME | param set NAME VALUE",
                         "the server parameters: what each is for, its default and its value", {}, Param};
}

}  // namespace kestrix::cli
