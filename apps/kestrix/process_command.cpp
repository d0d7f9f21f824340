// kestrix process: runs document files through processing and tells what became of each.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "apps/kestrix/cli.h"
#include "kestrix/api/document.h"
#include "kestrix/foundation/dbutils.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/text/code_page.h"

namespace kestrix::cli {

namespace {

/// The decoded text of a document file. A file that is missing, unreadable or a folder
/// raises with the reason; an empty file is refused as not a document.
std::string ReadDocument(const std::string& path) {
    namespace fs = std::filesystem;
    const char* source = "kestrix process";
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw Error(errnum::E_FAIL, source, path + " is a folder, not a document file.");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error(errnum::E_FAIL, source, "Cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        throw Error(errnum::E_FAIL, source, "Cannot read " + path + ": " + std::strerror(errno));
    std::string text = text::DecodeText(bytes.str());
    if (Trim(text).empty())
        throw Error(errnum::E_FAIL, source, path + " is empty: it is not a document.");
    return text;
}

void ShowRecipients(db::Connection& connection, int32_t docId) {
    db::Recordset rs = connection.Query("SELECT USERID, STATUS FROM PUBLICATION WHERE DOCUMENTID = ? ORDER BY USERID",
                                        {Variant(docId)});
    std::string list;
    for (; !rs.Eof(); rs.MoveNext()) list += (list.empty() ? "" : ", ") + rs.GetString("USERID");
    std::cout << "  recipients:   " << (list.empty() ? "(none)" : list) << "\n";
}

void ShowPublicationErrors(db::Connection& connection, int32_t docId) {
    db::Recordset rs = connection.Query(
        "SELECT PUBLICATIONERRORID, LABEL, DESCRIPTION FROM PUBLICATIONERRORS WHERE DOCUMENTID = ? AND CLOSED = 0 "
        "ORDER BY PUBLICATIONERRORID",
        {Variant(docId)});
    for (; !rs.Eof(); rs.MoveNext()) {
        const int32_t id = static_cast<int32_t>(rs.GetInt("PUBLICATIONERRORID"));
        std::string text = Trim(rs.GetString("DESCRIPTION"));
        std::cout << "  error " << id << " [" << rs.GetString("LABEL") << "]: " << ReplaceAll(text, "\r\n", " / ")
                  << "\n";
    }
}

int Process(Args& args) {
    const bool interactive = args.flag("interactive");
    std::string originalType = args.option("from-type", "");
    std::string recipient = args.option("recipient", "");
    args.finish();
    if (args.words().size() < 2) throw std::runtime_error("missing document file");
    int failures = 0;
    for (size_t i = 1; i < args.words().size(); ++i) {
        const std::string& file = args.words()[i];
        std::cout << file << "\n";
        Document document;
        int32_t docId = 0, senderBp = 0;
        int16_t status = 0;
        std::string type, sender, defaultReceiver, originalTypeArg = originalType, recipientArg = recipient;
        try {
            std::string body = ReadDocument(file);
            document.ProcessDocument(interactive ? -1 : 0, body, originalTypeArg, recipientArg, docId, senderBp,
                                     type, sender, defaultReceiver, status);
            std::cout << "  document:     " << docId << "\n  type:         " << type
                      << "\n  sender:       " << sender << " (business partner " << senderBp << ")\n";
            if (!defaultReceiver.empty()) std::cout << "  default to:   " << defaultReceiver << "\n";
            db::Connection connection = GetConnection();
            ShowRecipients(connection, docId);
            ShowPublicationErrors(connection, docId);
        } catch (...) {
            // Reported for this file; the run goes on with the others.
            ++failures;
            const Error e = CurrentError();
            std::cout << "  refused:      " << ReplaceAll(Trim(e.description()), "\r\n", "\n                ") << "\n";
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

void AddProcessCommand(std::map<std::string, Command>& commands) {
    commands["process"] = {
        "process FILE... [--interactive] [--from-type TYPE] [--recipient USER]",
        "runs document files through processing (unattended unless --interactive) and shows the\n"
        "      document, type, sender, recipients and publication errors, or why it was refused",
        Process};
}

}  // namespace kestrix::cli
