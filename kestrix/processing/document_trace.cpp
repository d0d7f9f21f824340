#include "kestrix/processing/document_trace.h"

#include <unistd.h>

#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "platform/base/error.h"
#include "platform/services/log.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "Kestrix.Document";

/// The first line of a failure's description, without the "METHOD: ... caught: " prefixes
/// of the levels it was passed up through and without its trailing error number, which the
/// log has seen already where the failure was met.
std::string ShortReason(const std::string& description) {
    std::string text = description;
    for (;;) {
        const size_t start = text.find_first_not_of("\r\n ");
        text.erase(0, start == std::string::npos ? text.size() : start);
        if (!text.starts_with("METHOD: ")) break;
        const size_t caught = text.find(" caught: ");
        if (caught == std::string::npos) break;
        text.erase(0, caught + 9);
    }
    const size_t eol = text.find_first_of("\r\n");
    if (eol != std::string::npos) text.erase(eol);
    return text;
}

}  // namespace

std::vector<std::string> PublicationRecipients(int32_t docId) {
    std::vector<std::string> users;
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT USERID FROM PUBLICATION WHERE DOCUMENTID = ? ORDER BY USERID", {Variant(docId)});
    for (; !rs.Eof(); rs.MoveNext()) users.push_back(rs.GetString("USERID"));
    return users;
}

void LogDocumentTrace(const DocumentTrace& trace) noexcept {
    try {
        services::LogFields fields;
        fields.emplace_back("document", std::to_string(trace.docId));
        if (!trace.origin.empty()) fields.emplace_back("from", trace.origin);
        if (!trace.type.empty()) fields.emplace_back("type", trace.type);
        if (!trace.sender.empty()) fields.emplace_back("sender", trace.sender);
        if (trace.refused) {
            fields.emplace_back("reason", ShortReason(trace.reason));
        } else {
            fields.emplace_back("status", DocumentStatusName(trace.status));
            std::string list;
            for (const std::string& user : trace.recipients) list += (list.empty() ? "" : ",") + user;
            fields.emplace_back("recipients", list.empty() ? "none" : list);
        }
        fields.emplace_back("ms", std::to_string(trace.duration.count() / 1000) + "." +
                                      std::to_string(trace.duration.count() / 100 % 10));
        services::Log log;
        log.LogInfo(kSource, trace.refused ? "refused" : "processed", fields);
    } catch (...) {
        try {
            const std::string text = "kestrix: the log cannot be written (" + CurrentError().description() +
                                     "); document " + std::to_string(trace.docId) + " " +
                                     (trace.refused ? "refused" : "processed") + "\n";
            (void)!::write(STDERR_FILENO, text.data(), text.size());
        } catch (...) {
        }
    }
}

}  // namespace kestrix
