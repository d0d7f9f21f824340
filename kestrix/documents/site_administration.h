#pragma once

#include <cstdint>
#include <optional>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/membership/directory.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// One document type (a row of DOCUMENTTYPE).
struct DocumentTypeRecord {
    std::string id;                 ///< DOCUMENTTYPEID
    std::string description;        ///< readable name
    std::string extDescription;     ///< longer explanation
    std::string iconFileName;       ///< icon shown in the document lists
    std::string htmlAttachmentXsl;  ///< style sheet (file name) rendering the type as HTML
};

/// One receive method: the style sheet of a partner's incoming documents of a type.
struct ReceiveMethodRecord {
    int32_t id = 0;
    int32_t businessPartnerId = 0;
    std::string documentTypeId;
    std::string xslFileName;
};

/// One row of a sender list: the user may publish the type.
struct SenderRecord {
    std::string documentTypeId;
    std::string userId;
    int32_t businessPartnerId = 0;  ///< the user's partner
    bool notification = false;      ///< a mail after each publication
};

/// One row of a distribution list: the user receives documents of the type.
struct RecipientRecord {
    std::string documentTypeId;
    std::string userId;
    int32_t businessPartnerId = 0;  ///< the user's partner
    bool email = false;             ///< notification mails
    bool htmlAttachment = false;    ///< the mail carries an HTML rendering
};

/// One permitted change of document type and the style sheet that makes it.
struct TransformationRecord {
    std::string documentTypeId;
    std::string newDocumentTypeId;
    std::string transformXslName;
};

/// What storing a record did.
enum class Change { Unchanged, Added, Changed };

/// The text of a change: "unchanged", "added", "changed".
const char* ChangeName(Change change);

/// Administration of what the exchange carries and who may send and receive it: document
/// types, receive methods, sender and distribution lists, and changes of type. Each `Put`
/// adds the record or brings an existing one (same key) up to date, and says which it did,
/// so that the same set-up can be stored again without doubling anything.
///
/// Users and partners are checked against the membership directory; the lists take a
/// user's partner from there. Failures raise `Error`.
class SiteAdministration {
  public:
    /// Works on the application's database and the given membership directory.
    explicit SiteAdministration(membership::Directory directory);
    /// Works on the current site's database and membership directory.
    SiteAdministration();

    const membership::Directory& directory() const { return directory_; }

    /// Key: the name. A new partner is added with its codes; an existing one gets the codes
    /// it lacks (it keeps the others). `id`, when given, receives the partner's identifier.
    Change PutPartner(const std::string& name, const std::vector<std::string>& codes0,
                      const std::vector<std::string>& codes1, int32_t* id = nullptr);

    /// What storing an existing user does with the details it brings.
    enum class UserDetails {
        Keep,   ///< the stored details and password stay; only missing applications are granted
        Update  ///< details that differ are written, a password given is set when it differs
    };
    /// Key: the login. A new user is added with its password and applications; an existing
    /// one must belong to the same partner, is granted the applications it lacks, and gets
    /// its details as `details` says.
    Change PutUser(const membership::UserRecord& user, const std::optional<std::string>& password,
                   UserDetails details);

    /// Key: the identifier, which must not be empty, begin or end with a blank, nor hold a
    /// control character.
    Change PutDocumentType(const DocumentTypeRecord& type);
    /// All document types, by identifier.
    std::vector<DocumentTypeRecord> DocumentTypes() const;

    /// Key: partner and type. The partner and the type must exist.
    Change PutReceiveMethod(int32_t businessPartnerId, const std::string& documentTypeId,
                            const std::string& xslFileName);
    /// All receive methods, by partner and type.
    std::vector<ReceiveMethodRecord> ReceiveMethods() const;

    /// Key: type and user. The type and the user must exist; the partner is the user's.
    Change PutSender(const std::string& documentTypeId, const std::string& userId,
                     bool notification);
    /// The sender list of one type ("" for all), by type and user.
    std::vector<SenderRecord> Senders(const std::string& documentTypeId = {}) const;

    /// Key: type and user. The type and the user must exist; the partner is the user's.
    Change PutRecipient(const std::string& documentTypeId, const std::string& userId, bool email,
                        bool htmlAttachment);
    /// The distribution list of one type ("" for all), by type and user.
    std::vector<RecipientRecord> Recipients(const std::string& documentTypeId = {}) const;

    /// Key: source and target type, both of which must exist and differ.
    Change PutTransformation(const TransformationRecord& transformation);
    /// All changes of type, by source and target.
    std::vector<TransformationRecord> Transformations() const;

    /// Key: the name. Sets a server parameter (table COLLABORATIONPARAMETER).
    Change PutParameter(const std::string& name, const std::string& value);

    /// The identifier of the partner named `name` (the first one, by identifier), or 0.
    int32_t PartnerByName(const std::string& name) const;

  private:
    /// The user's partner; MissingUserID when the user is unknown.
    int32_t PartnerOfUser(const std::string& userId, const char* source) const;
    /// MissingDocumentTypeID when the type has no row.
    void RequireDocumentType(const std::string& documentTypeId, const char* source) const;

    membership::Directory directory_;
};

/// What applying a site file did: one line per record added or changed.
struct SiteFileReport {
    std::vector<std::string> changes;
    int unchanged = 0;  ///< records that were already as the file says
};

/// The partners, users and document types that a site file may refer to: those of the site
/// and those the file itself adds.
struct SiteFileNames {
    std::set<std::string> partners;
    std::set<std::string> users;
    std::set<std::string> types;
};

/// An element that a room above adds to the site file.
struct SiteFileElement {
    std::string name;
    std::vector<std::string> required;
    std::vector<std::string> optional;
    /// Checks the element's values and references before anything is stored; raises with a
    /// message that names what is wrong.
    std::function<void(const xml::XmlNode& element, const SiteFileNames& known)> check;
    /// Stores the element in the file's transaction; answers what it was ("send method of
    /// Alder for ORDER") and what changed.
    std::function<std::pair<std::string, Change>(const xml::XmlNode& element, SiteAdministration& site)> apply;
};

/// Applies a site file: an XML document whose root "site" holds, in any order,
///
///     <parameter name="TransformXSLPath" value="..."/>
///     <partner name="..." code0="C1,C2" code1="S1">
///         <user login="..." email="..." password="..." language="1033" locale="1033"
///               first="..." second="..." employee="..." apps="Kestrix"/>
///     </partner>
///     <doctype id="ORDER" description="..." extdescription="..." icon="..." htmlxsl="..."/>
///     <receive partner="partner name" doctype="ORDER" xsl="..."/>
///     <sender doctype="ORDER" user="login" notification="1"/>
///     <distribution doctype="ORDER" user="login" email="1" html="0"/>
///     <transform from="ORDER" to="ORDERRESPONSE" xsl="..."/>
///
/// Partners are known by name and created when missing, with any code they lack; users are
/// created when missing (with their password and applications) and otherwise only granted
/// applications they lack. Everything else is stored with the `Put` methods, parameters as
/// server parameters. Applying the same file again changes nothing. Partners and users
/// come first, then parameters and document types, then the rest, whatever the order in
/// the file. A file that cannot be read, an unknown element or a missing attribute raises
/// before anything is stored.
///
/// Rooms above add elements of their own (`extra`, such as the send methods of deliveries):
/// each is checked with the others before anything is stored, and stored after the lists.
SiteFileReport ApplySiteFile(const std::string& path, SiteAdministration& site,
                             const std::vector<SiteFileElement>& extra = {});

}  // namespace kestrix
