// Commands that set up what a site exchanges: document types, receive methods, sender and
// distribution lists, changes of type, and whole site files.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "kestrix/documents/distribution_list.h"
#include "kestrix/documents/receive_method.h"
#include "kestrix/documents/site_administration.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

void Report(const std::string& what, Change change) {
    std::cout << what << ": " << ChangeName(change) << "\n";
}

/// A partner given by identifier or by name.
int32_t Partner(const SiteAdministration& site, const std::string& given) {
    if (!given.empty() && given.find_first_not_of("0123456789") == std::string::npos)
        return std::stoi(given);
    int32_t id = site.PartnerByName(given);
    if (id == 0) throw std::runtime_error("there is no business partner named '" + given + "'");
    return id;
}

int DocType(Args& args) {
    std::string verb = args.word(1, "doctype add|list");
    SiteAdministration site;
    if (verb == "add") {
        DocumentTypeRecord type{args.word(2, "document type"), "", "", "", ""};
        // Options left out keep what the type has.
        for (const DocumentTypeRecord& existing : site.DocumentTypes())
            if (existing.id == type.id) type = existing;
        if (auto v = args.option("description")) type.description = *v;
        if (auto v = args.option("extdescription")) type.extDescription = *v;
        if (auto v = args.option("icon")) type.iconFileName = *v;
        if (auto v = args.option("htmlxsl")) type.htmlAttachmentXsl = *v;
        args.finish();
        Report("document type " + type.id, site.PutDocumentType(type));
        return 0;
    }
    if (verb == "list") {
        args.finish();
        for (const DocumentTypeRecord& t : site.DocumentTypes())
            std::cout << t.id << "\t" << t.description << "\thtmlxsl=" << t.htmlAttachmentXsl
                      << "\ticon=" << t.iconFileName << "\t" << t.extDescription << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'doctype " + verb + "'");
}

int Receive(Args& args) {
    std::string verb = args.word(1, "receive add|list|remove");
    SiteAdministration site;
    if (verb == "add") {
        std::string partner = args.word(2, "business partner");
        std::string type = args.word(3, "document type");
        std::string xsl = args.word(4, "style sheet file name");
        args.finish();
        Report("receive method of " + partner + " for " + type,
               site.PutReceiveMethod(Partner(site, partner), type, xsl));
        return 0;
    }
    if (verb == "list") {
        args.finish();
        for (const ReceiveMethodRecord& m : site.ReceiveMethods())
            std::cout << m.id << "\tpartner=" << m.businessPartnerId << "\t" << m.documentTypeId
                      << "\t" << m.xslFileName << "\n";
        return 0;
    }
    if (verb == "remove") {
        std::string partner = args.word(2, "business partner");
        std::string type = args.word(3, "document type");
        args.finish();
        ReceiveMethod methods;
        int32_t id = methods.GetReceiveMethodID(Partner(site, partner), type);
        if (id == 0) throw std::runtime_error("no receive method of " + partner + " for " + type);
        methods.DeleteReceiveMethod(id);
        std::cout << "receive method of " << partner << " for " << type << ": removed\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'receive " + verb + "'");
}

int Sender(Args& args) {
    std::string verb = args.word(1, "sender add|list");
    SiteAdministration site;
    if (verb == "add") {
        std::string type = args.word(2, "document type");
        std::string user = args.word(3, "user");
        bool notify = args.flag("notify");
        args.finish();
        Report("sender " + user + " of " + type, site.PutSender(type, user, notify));
        return 0;
    }
    if (verb == "list") {
        std::string type = args.words().size() > 2 ? args.word(2, "document type") : "";
        args.finish();
        for (const SenderRecord& s : site.Senders(type))
            std::cout << s.documentTypeId << "\t" << s.userId << "\tpartner=" << s.businessPartnerId
                      << "\tnotify=" << (s.notification ? 1 : 0) << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'sender " + verb + "'");
}

int Distribution(Args& args) {
    std::string verb = args.word(1, "distribution add|list|clear");
    SiteAdministration site;
    if (verb == "add") {
        std::string type = args.word(2, "document type");
        std::string user = args.word(3, "user");
        bool email = args.flag("email");
        bool html = args.flag("html");
        args.finish();
        Report("recipient " + user + " of " + type, site.PutRecipient(type, user, email, html));
        return 0;
    }
    if (verb == "list") {
        std::string type = args.words().size() > 2 ? args.word(2, "document type") : "";
        args.finish();
        for (const RecipientRecord& r : site.Recipients(type))
            std::cout << r.documentTypeId << "\t" << r.userId << "\tpartner=" << r.businessPartnerId
                      << "\temail=" << (r.email ? 1 : 0) << "\thtml=" << (r.htmlAttachment ? 1 : 0)
                      << "\n";
        return 0;
    }
    if (verb == "clear") {
        std::string type = args.word(2, "document type");
        args.finish();
        DistributionList().RemoveBPsFromDBList(type);
        std::cout << "distribution list of " << type << ": cleared\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'distribution " + verb + "'");
}

int Transform(Args& args) {
    std::string verb = args.word(1, "transform add|list");
    SiteAdministration site;
    if (verb == "add") {
        TransformationRecord change{args.word(2, "source type"), args.word(3, "target type"),
                                    args.word(4, "style sheet file name")};
        args.finish();
        Report("change of type " + change.documentTypeId + " -> " + change.newDocumentTypeId,
               site.PutTransformation(change));
        return 0;
    }
    if (verb == "list") {
        args.finish();
        for (const TransformationRecord& t : site.Transformations())
            std::cout << t.documentTypeId << "\t" << t.newDocumentTypeId << "\t"
                      << t.transformXslName << "\n";
        return 0;
    }
    throw std::runtime_error("unknown verb 'transform " + verb + "'");
}

int Apply(Args& args) {
    std::string file = args.word(1, "site file");
    args.finish();
    SiteAdministration site;
    SiteFileReport report = ApplySiteFile(file, site);
    for (const std::string& line : report.changes) std::cout << line << "\n";
    std::cout << report.changes.size() << " changed, " << report.unchanged
              << " already as the file says\n";
    return 0;
}

}  // namespace

void AddSiteCommands(std::map<std::string, Command>& commands) {
    commands["doctype"] = {
        "doctype add ID [--description D] [--extdescription E] [--icon FILE] [--htmlxsl FILE]\n"
        "           | doctype list",
        "document types (options left out keep their value)", DocType};
    commands["receive"] = {
        "receive add PARTNER TYPE XSL | receive list | receive remove PARTNER TYPE",
        "the style sheet that brings a partner's documents of a type into the standard form\n"
        "      (PARTNER is an identifier or a name)",
        Receive};
    commands["sender"] = {"sender add TYPE USER [--notify] | sender list [TYPE]",
                          "who may publish a document type, and who wants a mail afterwards",
                          Sender};
    commands["distribution"] = {
        "distribution add TYPE USER [--email] [--html] | distribution list [TYPE]\n"
        "           | distribution clear TYPE",
        "who receives a document type, with notification mails and an HTML rendering",
        Distribution};
    commands["transform"] = {"transform add FROM TO XSL | transform list",
                             "permitted changes of document type and their style sheets",
                             Transform};
    commands["apply"] = {"apply FILE",
                         "apply a site file (partners, users, types, lists ...); applying it "
                         "again changes nothing",
                         Apply};
}

}  // namespace kestrix::cli
