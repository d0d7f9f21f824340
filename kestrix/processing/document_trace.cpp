#include "kestrix/processing/document_trace.h"

#include <unistd.h>

#include <string>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "platform/base/error.h"
#include "platform/services/log.h"

namespace kestrix {

namespace {

constexpr const char* kSource = "Kestrix.Document";

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
