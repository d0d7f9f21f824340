// Applying a site file: the partners, users, document types, receive methods, lists and
// changes of type of a site, stored so that applying the same file again changes nothing.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "kestrix/documents/site_administration.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"
#include "platform/xml/xml.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "Kestrix.SiteAdministration.ApplySiteFile";

/// The attributes an element must have and those it may have.
struct ElementRule {
    std::vector<std::string> required;
    std::vector<std::string> optional;
};

const std::map<std::string, ElementRule>& TopLevelRules() {
    static const std::map<std::string, ElementRule> rules{
        {"parameter", {{"name", "value"}, {}}},
        {"partner", {{"name"}, {"code0", "code1"}}},
        {"doctype", {{"id"}, {"description", "extdescription", "icon", "htmlxsl"}}},
        {"receive", {{"partner", "doctype", "xsl"}, {}}},
        {"sender", {{"doctype", "user"}, {"notification"}}},
        {"distribution", {{"doctype", "user"}, {"email", "html"}}},
        {"transform", {{"from", "to"}, {"xsl"}}},
    };
    return rules;
}

const ElementRule& UserRule() {
    static const ElementRule rule{
        {"login"},
        {"email", "password", "language", "locale", "first", "second", "employee", "apps"}};
    return rule;
}

[[noreturn]] void Refuse(const std::string& what) {
    Raise(EnumerationErrors::MissingInput, kSource, what);
}

/// Where an element stands, for messages: `<receive partner="..." doctype="...">`.
std::string Shown(const xml::XmlNode& element) {
    std::string text = "<" + element.Name();
    for (const auto& [name, value] : element.Attributes())
        text += " " + name + "=\"" + value + "\"";
    return text + ">";
}

void Check(const xml::XmlNode& element, const ElementRule& rule) {
    for (const std::string& name : rule.required)
        if (!element.Attribute(name))
            Refuse(Shown(element) + " needs the attribute '" + name + "'.");
    for (const auto& [name, value] : element.Attributes()) {
        bool known =
            std::find(rule.required.begin(), rule.required.end(), name) != rule.required.end() ||
            std::find(rule.optional.begin(), rule.optional.end(), name) != rule.optional.end();
        if (!known) Refuse(Shown(element) + " has an unknown attribute '" + name + "'.");
    }
}

bool Flag(const xml::XmlNode& element, std::string_view name);
int32_t Number(const xml::XmlNode& element, std::string_view name, int32_t fallback);

/// The values that must be flags or numbers, read once so that a bad one is found before
/// anything is stored.
void CheckValues(const xml::XmlNode& element) {
    for (const char* name : {"notification", "email", "html"})
        if (element.Name() != "user") Flag(element, name);
    for (const char* name : {"language", "locale"}) Number(element, name, 0);
}

/// The structure of the whole file, checked before anything is stored.
void CheckFile(const xml::XmlNode& root, const std::vector<SiteFileElement>& extra) {
    if (root.Name() != "site")
        Refuse("the root element must be <site>, not <" + root.Name() + ">.");
    for (const xml::XmlNode& element : root.ChildElements()) {
        auto added = std::find_if(extra.begin(), extra.end(), [&](const SiteFileElement& e) { return e.name == element.Name(); });
        if (added != extra.end()) {
            Check(element, ElementRule{added->required, added->optional});
            for (const xml::XmlNode& child : element.ChildElements())
                Refuse(Shown(child) + " cannot stand inside " + Shown(element) + ".");
            continue;
        }
        auto rule = TopLevelRules().find(element.Name());
        if (rule == TopLevelRules().end()) Refuse("unknown element " + Shown(element) + ".");
        Check(element, rule->second);
        CheckValues(element);
        for (const xml::XmlNode& child : element.ChildElements()) {
            if (element.Name() != "partner" || child.Name() != "user")
                Refuse(Shown(child) + " cannot stand inside " + Shown(element) + ".");
            Check(child, UserRule());
            CheckValues(child);
        }
    }
}

std::string Text(const xml::XmlNode& element, std::string_view name) {
    return element.Attribute(name).value_or("");
}

bool Flag(const xml::XmlNode& element, std::string_view name) {
    std::string value = ToLower(Trim(Text(element, name)));
    if (value.empty() || value == "0" || value == "false" || value == "no") return false;
    if (value == "1" || value == "true" || value == "yes") return true;
    Refuse(Shown(element) + ": '" + value + "' is not 0 or 1.");
}

int32_t Number(const xml::XmlNode& element, std::string_view name, int32_t fallback) {
    std::string value = Trim(Text(element, name));
    if (value.empty()) return fallback;
    try {
        size_t used = 0;
        int32_t number = std::stoi(value, &used);
        if (used == value.size()) return number;
    } catch (const std::exception&) {
    }
    Refuse(Shown(element) + ": '" + value + "' is not a number.");
}

std::vector<std::string> List(const xml::XmlNode& element, std::string_view name) {
    std::vector<std::string> items;
    for (const std::string& item : Split(Text(element, name), ','))
        if (!Trim(item).empty()) items.push_back(Trim(item));
    return items;
}

/// Applies the file's records in an order that lets each one find what it refers to.
class SiteFile {
  public:
    SiteFile(SiteAdministration& site, SiteFileReport& report) : site_(site), report_(report) {}

    void Apply(const xml::XmlNode& root) {
        for (const xml::XmlNode& partner : Elements(root, "partner")) Partner(partner);
        for (const xml::XmlNode& e : Elements(root, "parameter"))
            Note("parameter " + Text(e, "name"),
                 site_.PutParameter(Text(e, "name"), Text(e, "value")));
        for (const xml::XmlNode& e : Elements(root, "doctype")) {
            DocumentTypeRecord type{Text(e, "id"), Text(e, "description"),
                                    Text(e, "extdescription"), Text(e, "icon"), Text(e, "htmlxsl")};
            Note("document type " + type.id, site_.PutDocumentType(type));
        }
        for (const xml::XmlNode& e : Elements(root, "transform")) {
            TransformationRecord change{Text(e, "from"), Text(e, "to"), Text(e, "xsl")};
            Note("change of type " + change.documentTypeId + " -> " + change.newDocumentTypeId,
                 site_.PutTransformation(change));
        }
        for (const xml::XmlNode& e : Elements(root, "receive")) {
            int32_t partner = PartnerId(Text(e, "partner"), e);
            Note("receive method of " + Text(e, "partner") + " for " + Text(e, "doctype"),
                 site_.PutReceiveMethod(partner, Text(e, "doctype"), Text(e, "xsl")));
        }
        for (const xml::XmlNode& e : Elements(root, "sender")) {
            Note("sender " + Text(e, "user") + " of " + Text(e, "doctype"),
                 site_.PutSender(Text(e, "doctype"), Text(e, "user"), Flag(e, "notification")));
        }
        for (const xml::XmlNode& e : Elements(root, "distribution")) {
            Note("recipient " + Text(e, "user") + " of " + Text(e, "doctype"),
                 site_.PutRecipient(Text(e, "doctype"), Text(e, "user"), Flag(e, "email"),
                                    Flag(e, "html")));
        }
    }

    void Note(const std::string& what, Change change) {
        if (change == Change::Unchanged) {
            ++report_.unchanged;
        } else {
            report_.changes.push_back(what + ": " + ChangeName(change));
        }
    }

  private:
    static std::vector<xml::XmlNode> Elements(const xml::XmlNode& parent, std::string_view name) {
        std::vector<xml::XmlNode> found;
        for (const xml::XmlNode& element : parent.ChildElements())
            if (element.Name() == name) found.push_back(element);
        return found;
    }

    int32_t PartnerId(const std::string& name, const xml::XmlNode& element) {
        int32_t id = site_.PartnerByName(name);
        if (id == 0)
            Raise(EnumerationErrors::MissingBusinessPartnerID, kSource,
                  Shown(element) + ": there is no business partner named '" + name + "'.");
        return id;
    }

    void Partner(const xml::XmlNode& element) {
        const std::string name = Text(element, "name");
        int32_t id = 0;
        Note("business partner " + name,
             site_.PutPartner(name, List(element, "code0"), List(element, "code1"), &id));
        for (const xml::XmlNode& user : Elements(element, "user")) User(user, id);
    }

    void User(const xml::XmlNode& element, int32_t partnerId) {
        membership::UserRecord wanted;
        wanted.login = Text(element, "login");
        wanted.businessPartnerId = partnerId;
        wanted.email = Text(element, "email");
        wanted.languageId = Number(element, "language", 1033);
        wanted.localeId = Number(element, "locale", 1033);
        wanted.firstName = Text(element, "first");
        wanted.secondName = Text(element, "second");
        wanted.employeeNumber = Text(element, "employee");
        for (const std::string& app : List(element, "apps"))
            wanted.applications.push_back(ApplicationId(app));
        // An existing user keeps its details and password; only missing applications are
        // granted, so that a second run finds nothing to do.
        Note("user " + wanted.login,
             site_.PutUser(wanted, element.Attribute("password"), SiteAdministration::UserDetails::Keep));
    }

    int32_t ApplicationId(const std::string& name) {
        if (!configuration_) {
            configuration_ = std::make_unique<services::Configuration>();
            configuration_->LoadFile(GetQelConfigFile());
        }
        return configuration_->ApplicationId(name);
    }

    SiteAdministration& site_;
    SiteFileReport& report_;
    std::unique_ptr<services::Configuration> configuration_;
};

/// Whatever the records of a file refer to (partners, users, document types, applications)
/// must be in the file or on the site already; checked before anything is stored, so that a
/// bad reference late in the file is reported as such and not as a half-applied file.
void CheckReferences(const xml::XmlNode& root, const SiteAdministration& site,
                     const std::vector<SiteFileElement>& extra) {
    SiteFileNames known;
    std::set<std::string>& partners = known.partners;
    std::set<std::string>& users = known.users;
    std::set<std::string>& types = known.types;
    for (const membership::PartnerRecord& p : site.directory().BusinessPartners()) partners.insert(p.name);
    for (const membership::UserRecord& u : site.directory().Users()) users.insert(u.login);
    for (const DocumentTypeRecord& t : site.DocumentTypes()) types.insert(t.id);
    std::unique_ptr<services::Configuration> configuration;
    for (const xml::XmlNode& element : root.ChildElements()) {
        if (element.Name() == "partner") {
            partners.insert(Text(element, "name"));
            for (const xml::XmlNode& user : element.ChildElements()) {
                users.insert(Text(user, "login"));
                for (const std::string& app : List(user, "apps")) {
                    if (!configuration) {
                        configuration = std::make_unique<services::Configuration>();
                        configuration->LoadFile(GetQelConfigFile());
                    }
                    const std::map<std::string, int32_t> apps = configuration->Applications();
                    if (std::none_of(apps.begin(), apps.end(), [&](const auto& known) { return IEquals(known.first, app); }))
                        Raise(EnumerationErrors::MissingInput, kSource,
                              Shown(user) + ": there is no application '" + app + "'.");
                }
            }
        } else if (element.Name() == "doctype") {
            types.insert(Text(element, "id"));
        }
    }
    auto require = [](const std::set<std::string>& known, const std::string& name, const xml::XmlNode& element,
                      EnumerationErrors error, const char* what) {
        if (!known.count(name))
            Raise(error, kSource, Shown(element) + ": there is no " + what + " '" + name + "'.");
    };
    for (const xml::XmlNode& e : root.ChildElements()) {
        const std::string& name = e.Name();
        if (name == "receive") {
            require(partners, Text(e, "partner"), e, EnumerationErrors::MissingBusinessPartnerID, "business partner");
            require(types, Text(e, "doctype"), e, EnumerationErrors::MissingDocumentTypeID, "document type");
        } else if (name == "sender" || name == "distribution") {
            require(types, Text(e, "doctype"), e, EnumerationErrors::MissingDocumentTypeID, "document type");
            require(users, Text(e, "user"), e, EnumerationErrors::MissingUserID, "user");
        } else if (name == "transform") {
            require(types, Text(e, "from"), e, EnumerationErrors::MissingDocumentTypeID, "document type");
            require(types, Text(e, "to"), e, EnumerationErrors::MissingDocumentTypeID, "document type");
        }
        for (const SiteFileElement& added : extra)
            if (added.name == name && added.check) added.check(e, known);
    }
}

}  // namespace

SiteFileReport ApplySiteFile(const std::string& path, SiteAdministration& site,
                             const std::vector<SiteFileElement>& extra) {
    try {
        xml::XmlDocument document;
        if (!document.LoadFile(path)) throw document.parseError().ToError(kSource);
        xml::XmlNode root = document.DocumentElement();
        CheckFile(root, extra);
        CheckReferences(root, site, extra);
        // All of the file or nothing: one transaction on the site's database, and one on the
        // membership directory's when that is another.
        const std::string& directoryDatabase = site.directory().connectionString();
        db::Transaction transaction(CurrentConnectionString());
        std::optional<db::Transaction> directoryTransaction;
        if (directoryDatabase != CurrentConnectionString()) directoryTransaction.emplace(directoryDatabase);
        SiteFileReport report;
        SiteFile file(site, report);
        file.Apply(root);
        for (const SiteFileElement& added : extra)
            for (const xml::XmlNode& element : root.ChildElements())
                if (element.Name() == added.name) {
                    const auto [what, change] = added.apply(element, site);
                    file.Note(what, change);
                }
        if (directoryTransaction) directoryTransaction->Commit();
        transaction.Commit();
        return report;
    } catch (const Error& e) {
        // The file's name leads, so that a message on the command line says which file.
        throw Error(e.number(), e.source().empty() ? kSource : e.source(),
                    "Site file '" + path + "': " + e.description(), e.helpFile(), e.helpContext());
    }
}

}  // namespace kestrix
