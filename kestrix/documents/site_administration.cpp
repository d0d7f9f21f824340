// SiteAdministration: document types, receive methods, sender and distribution lists and
// changes of type, kept so that a set-up can be stored again without doubling anything.
#include "kestrix/documents/site_administration.h"

#include <algorithm>

#include "kestrix/documents/receive_method.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "platform/base/strings.h"
#include "platform/db/recordset.h"
#include "platform/membership/store.h"

namespace kestrix {

namespace {

/// Stores `row` into `table`: added when `where` matches no row, changed when a column
/// differs from the stored one, else left alone.
Change PutRow(db::Connection& connection, std::string_view table, const std::string& where,
              const db::EditRow& row) {
    db::Recordset rs = connection.Query("SELECT * FROM " + std::string(table) + " WHERE " + where);
    if (rs.Eof()) {
        connection.Insert(table, row);
        return Change::Added;
    }
    for (const db::EditRow::Value& value : row.Values()) {
        const Variant& stored = rs.Field(value.column);
        bool same = stored.IsNull()
                        ? value.value.IsNull() || value.value.ToString().empty()
                        : !value.value.IsNull() && stored.ToString() == value.value.ToString();
        if (!same) {
            connection.Update(table, row, where);
            return Change::Changed;
        }
    }
    return Change::Unchanged;
}

/// A text column that reads as NULL when empty, so that "no style sheet" is stored as
/// nothing rather than as "".
Variant TextOrNull(const std::string& text) {
    return text.empty() ? Variant(Null{}) : Variant(text);
}

int16_t Flag(bool on) { return on ? int16_t{1} : int16_t{0}; }

/// " WHERE DOCUMENTTYPEID = type" for one type, "" for all.
std::string TypeFilter(const std::string& documentTypeId) {
    return documentTypeId.empty() ? std::string()
                                  : " WHERE DOCUMENTTYPEID = " + EncodeSqlText(documentTypeId);
}

}  // namespace

const char* ChangeName(Change change) {
    switch (change) {
        case Change::Added:
            return "added";
        case Change::Changed:
            return "changed";
        case Change::Unchanged:
            break;
    }
    return "unchanged";
}

SiteAdministration::SiteAdministration(membership::Directory directory)
    : directory_(std::move(directory)) {}

SiteAdministration::SiteAdministration()
    : directory_(membership::Directory::ForSite(getSiteConfigFile())) {}

void SiteAdministration::RequireDocumentType(const std::string& documentTypeId,
                                             const char* source) const {
    db::Connection connection = GetConnection();
    bool found = !connection
                      .Query("SELECT DOCUMENTTYPEID FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = " +
                             EncodeSqlText(documentTypeId))
                      .Eof();
    CloseConnection(connection);
    if (!found) {
        Raise(EnumerationErrors::MissingDocumentTypeID, source,
              "The document type '" + documentTypeId + "' does not exist.");
    }
}

int32_t SiteAdministration::PartnerOfUser(const std::string& userId, const char* source) const {
    db::Connection connection(directory_.connectionString());
    std::optional<membership::UserRecord> user = membership::FindUser(connection, userId);
    if (!user) {
        Raise(EnumerationErrors::MissingUserID, source,
              "The user '" + userId + "' does not exist.");
    }
    return user->businessPartnerId;
}

int32_t SiteAdministration::PartnerByName(const std::string& name) const {
    for (const membership::PartnerRecord& partner : directory_.BusinessPartners())
        if (partner.name == name) return partner.id;
    return 0;
}

Change SiteAdministration::PutPartner(const std::string& name, const std::vector<std::string>& codes0,
                                      const std::vector<std::string>& codes1, int32_t* id) {
    membership::Directory writer(directory_.connectionString());
    for (const membership::PartnerRecord& existing : directory_.BusinessPartners()) {
        if (existing.name != name) continue;
        if (id) *id = existing.id;
        bool changed = false;
        for (int16_t kind : {int16_t{0}, int16_t{1}}) {
            const auto& wanted = kind == 0 ? codes0 : codes1;
            const auto& has = kind == 0 ? existing.codes0 : existing.codes1;
            for (const std::string& code : wanted) {
                if (std::find(has.begin(), has.end(), code) != has.end()) continue;
                writer.AddPartnerCode(existing.id, kind, code);
                changed = true;
            }
        }
        return changed ? Change::Changed : Change::Unchanged;
    }
    const int32_t added = writer.AddBusinessPartner(name, codes0, codes1);
    if (id) *id = added;
    return Change::Added;
}

Change SiteAdministration::PutUser(const membership::UserRecord& user,
                                   const std::optional<std::string>& password, UserDetails details) {
    const char* source = "Kestrix.SiteAdministration.PutUser";
    membership::Directory writer(directory_.connectionString());
    std::optional<membership::UserRecord> existing;
    std::optional<std::string> hash;
    {
        db::Connection connection(directory_.connectionString());
        existing = membership::FindUser(connection, user.login);
        if (existing) hash = membership::FindPasswordHash(connection, user.login);
    }
    if (!existing) {
        writer.AddUser(user, password);
        return Change::Added;
    }
    if (existing->businessPartnerId != user.businessPartnerId) {
        Raise(EnumerationErrors::MissingBusinessPartnerID, source,
              "The user '" + user.login + "' exists already under business partner " +
                  std::to_string(existing->businessPartnerId) + ", not under " +
                  std::to_string(user.businessPartnerId) + ".");
    }
    bool changed = false;
    for (int32_t app : user.applications) {
        if (std::find(existing->applications.begin(), existing->applications.end(), app) !=
            existing->applications.end())
            continue;
        writer.GrantApplication(user.login, app);
        changed = true;
    }
    if (details == UserDetails::Keep) return changed ? Change::Changed : Change::Unchanged;
    if (user.email != existing->email || user.languageId != existing->languageId ||
        user.localeId != existing->localeId || user.firstName != existing->firstName ||
        user.secondName != existing->secondName || user.employeeNumber != existing->employeeNumber) {
        writer.UpdateUserDetails(user);
        changed = true;
    }
    if (password && !(hash && membership::VerifyPassword(*hash, *password))) {
        writer.SetPassword(user.login, *password);
        changed = true;
    }
    return changed ? Change::Changed : Change::Unchanged;
}

Change SiteAdministration::PutDocumentType(const DocumentTypeRecord& type) {
    const char* source = "Kestrix.SiteAdministration.PutDocumentType";
    if (type.id.empty() || Trim(type.id) != type.id || HasControlCharacter(type.id)) {
        Raise(EnumerationErrors::MissingDocumentTypeID, source,
              "A document type needs an identifier that neither begins nor ends with a blank "
              "and holds no control character.");
    }
    db::EditRow row;
    row.Set("DOCUMENTTYPEID", type.id);
    row.Set("DESCRIPTION", TextOrNull(type.description));
    row.Set("EXTDESCRIPTION", TextOrNull(type.extDescription));
    row.Set("ICONFILENAME", TextOrNull(type.iconFileName));
    row.Set("HTMLATTACHMENTXSL", TextOrNull(type.htmlAttachmentXsl));
    db::Connection connection = GetConnection();
    Change change =
        PutRow(connection, "DOCUMENTTYPE", "DOCUMENTTYPEID = " + EncodeSqlText(type.id), row);
    CloseConnection(connection);
    return change;
}

std::vector<DocumentTypeRecord> SiteAdministration::DocumentTypes() const {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT DOCUMENTTYPEID, DESCRIPTION, EXTDESCRIPTION, ICONFILENAME, HTMLATTACHMENTXSL "
        "FROM DOCUMENTTYPE ORDER BY DOCUMENTTYPEID");
    CloseConnection(connection);
    std::vector<DocumentTypeRecord> types;
    for (; !rs.Eof(); rs.MoveNext()) {
        types.push_back({rs.GetString("DOCUMENTTYPEID"), rs.GetString("DESCRIPTION"),
                         rs.GetString("EXTDESCRIPTION"), rs.GetString("ICONFILENAME"),
                         rs.GetString("HTMLATTACHMENTXSL")});
    }
    return types;
}

Change SiteAdministration::PutReceiveMethod(int32_t businessPartnerId,
                                            const std::string& documentTypeId,
                                            const std::string& xslFileName) {
    const char* source = "Kestrix.SiteAdministration.PutReceiveMethod";
    bool partnerFound = false;
    for (const membership::PartnerRecord& partner : directory_.BusinessPartners())
        partnerFound = partnerFound || partner.id == businessPartnerId;
    if (!partnerFound) {
        Raise(EnumerationErrors::MissingBusinessPartnerID, source,
              "The business partner " + std::to_string(businessPartnerId) + " does not exist.");
    }
    RequireDocumentType(documentTypeId, source);
    if (Trim(xslFileName).empty()) {
        Raise(EnumerationErrors::MissingInput, source, "A receive method needs a style sheet.");
    }
    ReceiveMethod methods;
    int32_t id = methods.GetReceiveMethodID(businessPartnerId, documentTypeId);
    if (id != 0 && methods.GetXslFileName(businessPartnerId, documentTypeId) == xslFileName)
        return Change::Unchanged;
    methods.InsertReceiveMethod(businessPartnerId, documentTypeId, xslFileName);
    return id == 0 ? Change::Added : Change::Changed;
}

std::vector<ReceiveMethodRecord> SiteAdministration::ReceiveMethods() const {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT RECEIVEMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME FROM "
        "RECEIVEMETHOD ORDER BY BUSINESSPARTNERID, DOCUMENTTYPEID, RECEIVEMETHODID");
    CloseConnection(connection);
    std::vector<ReceiveMethodRecord> methods;
    for (; !rs.Eof(); rs.MoveNext()) {
        methods.push_back({static_cast<int32_t>(rs.GetInt("RECEIVEMETHODID")),
                           static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID")),
                           rs.GetString("DOCUMENTTYPEID"), rs.GetString("XSLFILENAME")});
    }
    return methods;
}

Change SiteAdministration::PutSender(const std::string& documentTypeId, const std::string& userId,
                                     bool notification) {
    const char* source = "Kestrix.SiteAdministration.PutSender";
    RequireDocumentType(documentTypeId, source);
    int32_t partner = PartnerOfUser(userId, source);
    db::EditRow row;
    row.Set("DOCUMENTTYPEID", documentTypeId);
    row.Set("USERID", userId);
    row.Set("NOTIFICATION", Flag(notification));
    row.Set("BUSINESSPARTNERID", partner);
    db::Connection connection = GetConnection();
    Change change = PutRow(connection, "SENDERLIST",
                           "DOCUMENTTYPEID = " + EncodeSqlText(documentTypeId) +
                               " AND USERID = " + EncodeSqlText(userId),
                           row);
    CloseConnection(connection);
    return change;
}

std::vector<SenderRecord> SiteAdministration::Senders(const std::string& documentTypeId) const {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID FROM SENDERLIST" +
        TypeFilter(documentTypeId) + " ORDER BY DOCUMENTTYPEID, USERID");
    CloseConnection(connection);
    std::vector<SenderRecord> senders;
    for (; !rs.Eof(); rs.MoveNext()) {
        senders.push_back({rs.GetString("DOCUMENTTYPEID"), rs.GetString("USERID"),
                           static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID")),
                           rs.GetInt("NOTIFICATION") != 0});
    }
    return senders;
}

Change SiteAdministration::PutRecipient(const std::string& documentTypeId,
                                        const std::string& userId, bool email,
                                        bool htmlAttachment) {
    const char* source = "Kestrix.SiteAdministration.PutRecipient";
    RequireDocumentType(documentTypeId, source);
    int32_t partner = PartnerOfUser(userId, source);
    db::EditRow row;
    row.Set("DOCUMENTTYPEID", documentTypeId);
    row.Set("USERID", userId);
    row.Set("BUSINESSPARTNERID", partner);
    row.Set("EMAIL", Flag(email));
    row.Set("HTMLATTACHMENT", Flag(htmlAttachment));
    db::Connection connection = GetConnection();
    Change change = PutRow(connection, "DISTRIBUTIONLIST",
                           "DOCUMENTTYPEID = " + EncodeSqlText(documentTypeId) +
                               " AND USERID = " + EncodeSqlText(userId),
                           row);
    CloseConnection(connection);
    return change;
}

std::vector<RecipientRecord> SiteAdministration::Recipients(
    const std::string& documentTypeId) const {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, HTMLATTACHMENT FROM "
        "DISTRIBUTIONLIST" +
        TypeFilter(documentTypeId) + " ORDER BY DOCUMENTTYPEID, USERID");
    CloseConnection(connection);
    std::vector<RecipientRecord> recipients;
    for (; !rs.Eof(); rs.MoveNext()) {
        recipients.push_back({rs.GetString("DOCUMENTTYPEID"), rs.GetString("USERID"),
                              static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID")),
                              rs.GetInt("EMAIL") != 0, rs.GetInt("HTMLATTACHMENT") != 0});
    }
    return recipients;
}

Change SiteAdministration::PutTransformation(const TransformationRecord& transformation) {
    const char* source = "Kestrix.SiteAdministration.PutTransformation";
    RequireDocumentType(transformation.documentTypeId, source);
    RequireDocumentType(transformation.newDocumentTypeId, source);
    if (transformation.documentTypeId == transformation.newDocumentTypeId) {
        Raise(EnumerationErrors::MissingDocumentTypeID, source,
              "A change of type needs two different types.");
    }
    db::EditRow row;
    row.Set("DOCUMENTTYPEID", transformation.documentTypeId);
    row.Set("NEWDOCUMENTTYPEID", transformation.newDocumentTypeId);
    row.Set("TRANSFORMXSLNAME", TextOrNull(transformation.transformXslName));
    db::Connection connection = GetConnection();
    Change change =
        PutRow(connection, "DOCTYPETODOCTYPE",
               "DOCUMENTTYPEID = " + EncodeSqlText(transformation.documentTypeId) +
                   " AND NEWDOCUMENTTYPEID = " + EncodeSqlText(transformation.newDocumentTypeId),
               row);
    CloseConnection(connection);
    return change;
}

Change SiteAdministration::PutParameter(const std::string& name, const std::string& value) {
    if (name.empty()) {
        Raise(EnumerationErrors::MissingParameter, "Kestrix.SiteAdministration.PutParameter",
              "A server parameter needs a name.");
    }
    db::EditRow row;
    row.Set("PARAMNAME", name);
    row.Set("PARAMVALUE", value);
    db::Connection connection = GetConnection();
    Change change =
        PutRow(connection, "COLLABORATIONPARAMETER", "PARAMNAME = " + EncodeSqlText(name), row);
    CloseConnection(connection);
    return change;
}

std::vector<TransformationRecord> SiteAdministration::Transformations() const {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT DOCUMENTTYPEID, NEWDOCUMENTTYPEID, TRANSFORMXSLNAME FROM DOCTYPETODOCTYPE "
        "ORDER BY DOCUMENTTYPEID, NEWDOCUMENTTYPEID");
    CloseConnection(connection);
    std::vector<TransformationRecord> transformations;
    for (; !rs.Eof(); rs.MoveNext()) {
        transformations.push_back({rs.GetString("DOCUMENTTYPEID"),
                                   rs.GetString("NEWDOCUMENTTYPEID"),
                                   rs.GetString("TRANSFORMXSLNAME")});
    }
    return transformations;
}

}  // namespace kestrix
