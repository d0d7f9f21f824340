// kestrix sendmethod, push, repush, history: how documents reach the partners, and what
// became of each delivery.
#include <iostream>
#include <map>
#include <optional>

#include "apps/kestrix/cli.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "kestrix/documents/document.h"
#include "kestrix/documents/publication_errors.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/net/url.h"

namespace kestrix::cli {

namespace {

/// An option naming a word of a send method's enumerated field (see send_method_words).
std::optional<int32_t> ChoiceOption(const Args& args, const std::string& option, std::string_view field) {
    const std::optional<std::string> given = args.Option(option);
    if (!given) return std::nullopt;
    if (auto value = send_method_words::Value(field, *given)) return value;
    throw UsageError("option --" + option + ": '" + Printable(*given) + "' is none of " +
                     send_method_words::Words(field));
}

std::string ChoiceWord(int32_t value, std::string_view field) { return send_method_words::Word(field, value); }

/// The options of `sendmethod add` and `update` laid over a record: what is not given stays.
void ApplyOptions(const Args& args, TSendMethodProperties& p) {
    if (auto v = ChoiceOption(args, "protocol", "protocol")) p.nProtocol = static_cast<ESendMethodProtocol>(*v);
    if (auto v = ChoiceOption(args, "format", "format")) p.nFormat = static_cast<ESendMethodFormat>(*v);
    if (auto v = ChoiceOption(args, "write-mode", "writemode")) p.nWriteMode = static_cast<EWriteMode>(*v);
    if (auto v = ChoiceOption(args, "suffix", "suffix")) p.nSuffix = static_cast<ESendMethodSuffix>(*v);
    if (auto v = ChoiceOption(args, "file-format", "fileformat")) p.nFileFormat = static_cast<ESendMethodFileFormat>(*v);
    if (auto v = ChoiceOption(args, "transfer-type", "transfertype"))
        p.nFTPTransferType = static_cast<ESendMethodFTPTransferType>(*v);
    if (auto v = args.Option("address")) p.sAddress = *v;
    if (auto v = args.Option("user")) p.sUser = *v;
    if (auto v = args.Option("password")) p.sPassword = *v;
    if (auto v = args.Option("proxy")) p.sProxy = *v;
    if (auto v = args.Option("file-name")) p.sFileName = *v;
    if (auto v = args.Option("extension")) p.sFileExtension = *v;
    if (auto v = args.Option("template")) p.sExcelTemplate = *v;
    if (auto v = args.Option("xsl")) p.sXslFileName = *v;
    p.lPort = args.Number("port", p.lPort);
    p.lProxyPort = args.Number("proxy-port", p.lProxyPort);
    p.bAutoPush = args.Number("auto-push", p.bAutoPush ? 1 : 0) != 0;
}

const char* const kPropertyOptions =
    "[--format xml|obi|excel] [--address A] [--port N] [--user U] [--password P]\n"
    "           [--proxy HOST] [--proxy-port N] [--file-name N] [--suffix docid|none] [--extension E]\n"
    "           [--file-format ascii|unicode] [--write-mode append|create|update] [--template T]\n"
    "           [--transfer-type ascii|binary] [--xsl FILE] [--auto-push 0|1]";

/// Where a send method is assigned: partner, document type and rule of its first row.
struct Assignment {
    int32_t partner = 0;
    std::string type;
    int32_t rule = -1;
};

std::optional<Assignment> AssignmentOf(int32_t id) {
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID FROM SENDMETHOD WHERE SENDMETHODID = ?", {Variant(id)});
    if (rs.Eof()) return std::nullopt;
    return Assignment{static_cast<int32_t>(rs.GetInt("BUSINESSPARTNERID")), rs.GetString("DOCUMENTTYPEID"),
                      static_cast<int32_t>(rs.GetInt("RULEID", -1))};
}

int32_t SendMethodId(const Args& args) {
    const std::string given = args.Word(2, "send method number");
    try {
        size_t used = 0;
        const int id = std::stoi(given, &used);
        if (used == given.size() && id > 0 && AssignmentOf(id)) return id;
    } catch (const std::exception&) {
    }
    throw UsageError("'" + Printable(given) + "' is not a send method (see 'kestrix sendmethod list')");
}

void Show(int32_t id, const TSendMethodProperties& p) {
    const std::optional<Assignment> where = AssignmentOf(id);
    std::cout << "send method " << id << "\n";
    if (where)
        std::cout << "  partner:       " << where->partner << "\n  type:          " << Printable(where->type)
                  << "\n  rule:          " << (where->rule == -1 ? std::string("default") : std::to_string(where->rule))
                  << "\n";
    std::cout << "  protocol:      " << ChoiceWord(static_cast<int32_t>(p.nProtocol), "protocol") << "\n"
              << "  format:        " << ChoiceWord(static_cast<int32_t>(p.nFormat), "format") << "\n"
              << "  address:       " << Printable(net::MaskAddress(p.sAddress)) << "\n"
              << "  port:          " << p.lPort << "\n"
              << "  user:          " << Printable(p.sUser) << "\n"
              << "  password:      " << (p.sPassword.empty() ? "" : "********") << "\n"
              << "  proxy:         " << Printable(p.sProxy) << (p.sProxy.empty() ? "" : ":" + std::to_string(p.lProxyPort))
              << "\n"
              << "  file name:     " << Printable(p.sFileName) << "\n"
              << "  suffix:        " << ChoiceWord(static_cast<int32_t>(p.nSuffix), "suffix") << "\n"
              << "  extension:     " << Printable(p.sFileExtension) << "\n"
              << "  file format:   " << ChoiceWord(static_cast<int32_t>(p.nFileFormat), "fileformat") << "\n"
              << "  write mode:    " << ChoiceWord(static_cast<int32_t>(p.nWriteMode), "writemode") << "\n"
              << "  template:      " << Printable(p.sExcelTemplate) << "\n"
              << "  transfer type: " << ChoiceWord(static_cast<int32_t>(p.nFTPTransferType), "transfertype") << "\n"
              << "  style sheet:   " << Printable(p.sXslFileName) << "\n"
              << "  automatic:     " << (p.bAutoPush ? "yes" : "no") << "\n";
}

int SendMethodCommand(Args& args) {
    const std::string verb = args.Word(1, "verb (add, list, show, update or remove)");
    SendMethod methods;
    if (verb == "add") {
        int32_t partner = PartnerId(args.Word(2, "partner"));
        std::string type = args.Word(3, "document type");
        int32_t rule = args.Number("rule", -1);
        TSendMethodProperties p = NewSendMethodProperties();
        ApplyOptions(args, p);
        args.Finish();
        if (p.nProtocol == ESendMethodProtocol{}) throw UsageError("option --protocol is needed");
        int32_t id = methods.AddSendMethodProperties2(p);
        methods.AddSendMethod2(id, partner, type, rule);
        std::cout << "added send method " << id << "\n";
        return exit_status::Done;
    }
    if (verb == "list") {
        const std::optional<std::string> partner = args.OptionalWord(2);
        args.Finish();
        db::Connection connection = GetConnection();
        db::Recordset rs = partner ? connection.Query("SELECT SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID "
                                                      "FROM SENDMETHOD WHERE BUSINESSPARTNERID = ? ORDER BY SENDMETHODID",
                                                      {Variant(PartnerId(*partner))})
                                   : connection.Query("SELECT SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID "
                                                      "FROM SENDMETHOD ORDER BY SENDMETHODID");
        if (rs.Eof()) std::cout << "no send methods\n";
        for (; !rs.Eof(); rs.MoveNext()) {
            const int32_t id = static_cast<int32_t>(rs.GetInt("SENDMETHODID"));
            if (id == -1) continue;
            TSendMethodProperties p;
            methods.GetSendMethodProperties2(id, p);
            std::cout << id << "  partner " << rs.GetInt("BUSINESSPARTNERID") << "  " << Printable(rs.GetString("DOCUMENTTYPEID"))
                      << "  " << ChoiceWord(static_cast<int32_t>(p.nProtocol), "protocol") << " "
                      << ChoiceWord(static_cast<int32_t>(p.nFormat), "format") << "  "
                      << Printable(net::MaskAddress(p.sAddress)) << (p.bAutoPush ? "" : "  (not automatic)")
                      << (rs.GetInt("RULEID", -1) == -1 ? "" : "  rule " + std::to_string(rs.GetInt("RULEID"))) << "\n";
        }
        return exit_status::Done;
    }
    if (verb == "show") {
        const int32_t id = SendMethodId(args);
        args.Finish();
        TSendMethodProperties p;
        methods.GetSendMethodProperties2(id, p);
        Show(id, p);
        return exit_status::Done;
    }
    if (verb == "update") {
        const int32_t id = SendMethodId(args);
        TSendMethodProperties p;
        methods.GetSendMethodProperties2(id, p);
        p.sPassword = "********";  // kept unless a new one is given
        ApplyOptions(args, p);
        args.Finish();
        methods.UpdateSendMethodProperties2(id, p);
        std::cout << "changed send method " << id << "\n";
        return exit_status::Done;
    }
    if (verb == "remove") {
        const int32_t id = SendMethodId(args);
        args.Finish();
        const Assignment where = *AssignmentOf(id);
        methods.DeleteSendMethod2(std::to_string(id), where.partner, where.rule, where.type);
        std::cout << "removed send method " << id << "\n";
        return exit_status::Done;
    }
    UnknownVerb(args, verb);
}

int32_t DocumentNumber(const Args& args, size_t word) {
    const std::string given = args.Word(word, "document number");
    try {
        size_t used = 0;
        const int id = std::stoi(given, &used);
        if (used == given.size() && id > 0) return id;
    } catch (const std::exception&) {
    }
    throw UsageError("'" + Printable(given) + "' is not a document number");
}

/// The delivery history of one document, or of all, oldest first.
void PrintHistory(std::optional<int32_t> docId) {
    db::Connection connection = GetConnection();
    const std::string columns =
        "SELECT H.HISTORYID, H.SENDDATE, H.DOCUMENTID, H.SENDMETHODID, H.BUSINESSPARTNERID, H.STATUS, "
        "H.PUBLICATIONERRORID, E.DESCRIPTION, E.CLOSED FROM SENDMETHODHISTORY H LEFT OUTER JOIN PUBLICATIONERRORS E "
        "ON E.PUBLICATIONERRORID = H.PUBLICATIONERRORID AND H.PUBLICATIONERRORID <> 0 ";
    db::Recordset rs = docId ? connection.Query(columns + "WHERE H.DOCUMENTID = ? ORDER BY H.HISTORYID", {Variant(*docId)})
                             : connection.Query(columns + "ORDER BY H.HISTORYID");
    if (rs.Eof()) std::cout << "no deliveries\n";
    for (; !rs.Eof(); rs.MoveNext()) {
        const bool sent = rs.GetInt("STATUS", 0) == static_cast<int32_t>(SENDMETHODSTATUS::SENT);
        std::cout << Printable(rs.GetString("SENDDATE")) << "  document " << rs.GetInt("DOCUMENTID") << "  send method "
                  << rs.GetInt("SENDMETHODID") << "  partner " << rs.GetInt("BUSINESSPARTNERID") << "  "
                  << (sent ? "sent" : "not sent") << "\n";
        if (!sent && rs.GetInt("PUBLICATIONERRORID", 0) != 0)
            std::cout << "    error " << rs.GetInt("PUBLICATIONERRORID") << (rs.GetInt("CLOSED", 0) ? " (closed)" : "")
                      << ": " << Printable(ReplaceAll(Trim(rs.GetString("DESCRIPTION")), "\r\n", " / ")) << "\n";
    }
}

int Push(Args& args) {
    int32_t docId = DocumentNumber(args, 1);
    const std::optional<std::string> partner = args.Option("partner");
    args.Finish();
    DocumentStore store;
    const std::string type = store.GetDocumentTypeOfDocument(docId);
    if (type.empty()) throw UsageError("document " + std::to_string(docId) + " does not exist or has no type");
    PushDocUtils push;
    if (partner) {
        if (!push.PushDocumentToReceiver(PartnerId(*partner), docId, type)) {
            std::cout << "partner " << Printable(*partner) << " has no send method for " << Printable(type) << "\n";
            return exit_status::Failed;
        }
    } else {
        push.PushDocumentToReceivers(docId, type);
    }
    PrintHistory(docId);
    int32_t id = docId;
    return publication_errors::CheckPublicationErrors(id) ? exit_status::Failed : exit_status::Done;
}

int Repush(Args& args) {
    const std::string given = args.Word(1, "publication error number");
    const std::string user = args.Option("user").value_or("");
    args.Finish();
    if (user.empty()) throw UsageError("option --user is needed: only the document's sender may push it again");
    int32_t errorId = 0;
    try {
        size_t used = 0;
        errorId = std::stoi(given, &used);
        if (used != given.size()) errorId = 0;
    } catch (const std::exception&) {
    }
    PushDocUtils push;
    int32_t partner = 0, sendMethod = 0, docId = 0;
    std::string sender;
    if (errorId > 0) push.GetSendMethodInfoViaPublicationError(errorId, partner, sendMethod, docId, sender);
    if (docId == 0) throw UsageError("'" + Printable(given) + "' is not the publication error of a delivery");
    try {
        push.RepushDocumentFromErrorBox(user, docId, errorId);
        std::cout << "document " << docId << " delivered by send method " << sendMethod << "\n";
    } catch (const Error& e) {
        std::cout << "document " << docId << " not delivered: "
                  << Printable(ReplaceAll(Trim(e.description()), "\r\n", " / ")) << "\n";
        PrintHistory(docId);
        return exit_status::Failed;
    }
    PrintHistory(docId);
    return exit_status::Done;
}

int History(Args& args) {
    std::optional<int32_t> docId;
    if (args.OptionalWord(1)) docId = DocumentNumber(args, 1);
    args.Finish();
    PrintHistory(docId);
    return exit_status::Done;
}

}  // namespace

void AddDeliveryCommands(Commands& commands) {
    commands["sendmethod"] = {
        std::string("sendmethod add PARTNER TYPE --protocol email|fax|filepath|ftp|http|methodcall\n"
                    "           [--rule RULEID] ") +
            kPropertyOptions +
            "\n       sendmethod list [PARTNER] | sendmethod show ID | sendmethod update ID [options of add] |\n"
            "       sendmethod remove ID",
        "the send methods by which a partner receives a document type (PARTNER: id or name); a\n"
        "      password is never shown, and one left out of update is kept",
        {},
        SendMethodCommand};
    commands["push"] = {"push DOC [--partner P]",
                        "delivers a document now: to every partner of its recipients by their automatic\n"
                        "      send methods, or to one partner by all of its send methods; prints the history",
                        {},
                        Push};
    commands["repush"] = {"repush ERRORID --user LOGIN",
                          "pushes a failed delivery again from the error box, as the document's sender",
                          {},
                          Repush};
    commands["history"] = {"history [DOC]", "the delivery attempts of a document (or of all), with their errors",
                           {},
                           History};
}

}  // namespace kestrix::cli
