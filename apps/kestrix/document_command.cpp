// kestrix doc: what became of the documents of a site, in words.
#include <iostream>

#include "apps/kestrix/cli.h"
#include "apps/kestrix/document_view.h"
#include "kestrix/delivery/outbox.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/strings.h"

namespace kestrix::cli {

namespace {

std::string Text(const db::Recordset& rs, const char* column) {
    return rs.IsNull(column) ? std::string() : Printable(rs.GetString(column));
}

int32_t DocumentId(const std::string& given) {
    const std::optional<int32_t> id = WholeNumber(given);
    if (!id || *id <= 0) throw UsageError("'" + Printable(given) + "' is not a document number");
    return *id;
}

/// A date "yyyy-mm-dd", or a date and time "yyyy-mm-dd hh:mm:ss", as dates are stored.
bool IsStoredDate(const std::string& text) {
    static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != 10 && text.size() != kShape.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
    }
    return true;
}

int Show(Args& args) {
    const int32_t id = DocumentId(args.Word(2, "document number"));
    args.Finish();
    db::Connection connection = GetConnection();
    db::Recordset doc = connection.Query(
        "SELECT DOCUMENTTYPEID, SENDER, DEFAULTRECEIVER, CREATIONDATE, ENTRANCEDATE, STATUS, SHOW, "
        "DOC_DOCUMENTID FROM DOCUMENT WHERE DOCUMENTID = ?",
        {Variant(id)});
    if (doc.Eof()) throw std::runtime_error("there is no document " + std::to_string(id));
    std::cout << "document " << id << "\n  type:         " << Text(doc, "DOCUMENTTYPEID")
              << "\n  sender:       " << Text(doc, "SENDER")
              << "\n  status:       " << DocumentStatusName(static_cast<int32_t>(doc.GetInt("STATUS")))
              << (doc.GetInt("SHOW") == 0 ? " (hidden)" : "") << "\n  created:      " << Text(doc, "CREATIONDATE")
              << "\n  received:     " << Text(doc, "ENTRANCEDATE") << "\n";
    if (!doc.IsNull("DEFAULTRECEIVER") && !Trim(doc.GetString("DEFAULTRECEIVER")).empty())
        std::cout << "  default to:   " << Text(doc, "DEFAULTRECEIVER") << "\n";
    if (!doc.IsNull("DOC_DOCUMENTID") && doc.GetInt("DOC_DOCUMENTID") != 0)
        std::cout << "  part of:      document " << doc.GetInt("DOC_DOCUMENTID") << "\n";

    const std::vector<PublicationView> publications = Publications(connection, id);
    std::cout << "recipients:" << (publications.empty() ? " none\n" : "\n");
    for (const PublicationView& p : publications)
        std::cout << "  " << Printable(p.user) << "  " << PublicationStatusName(p.status) << "\n";

    const std::vector<PublicationErrorView> errors = PublicationErrors(connection, id, false);
    std::cout << "publication errors:" << (errors.empty() ? " none\n" : "\n");
    for (const PublicationErrorView& error : errors)
        std::cout << "  " << (error.closed ? "closed " : "open   ") << ErrorLine(error) << "\n";

    std::vector<outbox::Item> mails;
    for (outbox::Item& item : outbox::List())
        if (item.docId == id) mails.push_back(std::move(item));
    std::cout << "mails waiting in the outbox:" << (mails.empty() ? " none\n" : "\n");
    for (const outbox::Item& item : mails) {
        std::cout << "  " << item.id << "  " << item.kind;
        if (!item.target.empty()) std::cout << " " << Printable(item.target);
        std::cout << "  attempts " << item.attempts;
        if (!item.nextAttempt.empty()) std::cout << "  next " << item.nextAttempt;
        if (!item.lastError.empty())
            std::cout << "  last error: " << Printable(ReplaceAll(Trim(item.lastError), "\r\n", " / "));
        std::cout << "\n";
    }

    db::Recordset history = connection.Query(
        "SELECT SENDDATE, SENDMETHODID, BUSINESSPARTNERID, STATUS, PUBLICATIONERRORID FROM SENDMETHODHISTORY "
        "WHERE DOCUMENTID = ? ORDER BY HISTORYID",
        {Variant(id)});
    std::cout << "delivery history:" << (history.Eof() ? " none\n" : "\n");
    for (; !history.Eof(); history.MoveNext()) {
        const bool sent = !history.IsNull("STATUS") &&
                          history.GetInt("STATUS") == static_cast<int32_t>(SENDMETHODSTATUS::SENT);
        std::cout << "  " << Text(history, "SENDDATE") << "  send method " << Text(history, "SENDMETHODID")
                  << "  business partner " << Text(history, "BUSINESSPARTNERID") << "  "
                  << (sent ? "sent" : "not sent");
        if (history.GetInt("PUBLICATIONERRORID") != 0)
            std::cout << "  (publication error " << history.GetInt("PUBLICATIONERRORID") << ")";
        std::cout << "\n";
    }
    return exit_status::Done;
}

int List(Args& args) {
    const std::optional<std::string> status = args.Option("status");
    const std::optional<std::string> sender = args.Option("sender");
    const std::optional<std::string> since = args.Option("since");
    args.Finish();
    std::string sql =
        "SELECT DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, CREATIONDATE FROM DOCUMENT WHERE 1 = 1";
    std::vector<Variant> values;
    if (status) {
        const std::optional<DOCUMENTSTATUS> wanted = DocumentStatusByName(*status);
        if (!wanted)
            throw UsageError("option --status: '" + Printable(*status) +
                             "' is no status (new, published, accepted, partially-accepted, deleted, sent, "
                             "unfinished)");
        sql += " AND STATUS = ?";
        values.emplace_back(static_cast<int32_t>(*wanted));
    }
    if (sender) {
        sql += " AND SENDER = ?";
        values.emplace_back(*sender);
    }
    if (since) {
        if (!IsStoredDate(*since))
            throw UsageError("option --since: '" + Printable(*since) + "' is not a date yyyy-mm-dd");
        sql += " AND CREATIONDATE >= ?";
        values.emplace_back(*since);
    }
    sql += " ORDER BY DOCUMENTID";
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(sql, values);
    if (rs.Eof()) std::cout << "no documents\n";
    for (; !rs.Eof(); rs.MoveNext())
        std::cout << rs.GetInt("DOCUMENTID") << "\t" << Text(rs, "DOCUMENTTYPEID") << "\t" << Text(rs, "SENDER")
                  << "\t" << DocumentStatusName(static_cast<int32_t>(rs.GetInt("STATUS"))) << "\t"
                  << Text(rs, "CREATIONDATE") << "\n";
    return exit_status::Done;
}

int Doc(Args& args) {
    const std::string verb = args.Word(1, "doc show|list");
    if (verb == "show") return Show(args);
    if (verb == "list") return List(args);
    UnknownVerb(args, verb);
}

}  // namespace

void AddDocumentCommand(Commands& commands) {
    commands["doc"] = {"doc show ID | doc list [--status S] [--sender USER] [--since yyyy-mm-dd]",
                       "what became of a document: type, sender, status, recipients, publication\n"
                       "      errors, mails waiting and deliveries; the documents of a status, a sender\n"
                       "      or since a date",
                       {}, Doc};
}

}  // namespace kestrix::cli
