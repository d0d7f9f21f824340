// The operations endpoints of kestrix serve: whether the site can work, and what it did.
#include "apps/kestrix/operations.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>

#include "kestrix/delivery/send_method.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/intake/document_import.h"
#include "kestrix/intake/error_folder.h"
#include "platform/db/connection.h"

namespace kestrix::cli {

namespace {

namespace fs = std::filesystem;

bool WritableFolder(const std::string& folder) {
    std::error_code ec;
    return !folder.empty() && fs::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

/// The checks in order, each "ok" or what fails. Only names of checks and of server
/// parameters go into the answer: never a path, a connection string or a failure's text.
void Health(const http::Request&, http::Response& response) {
    std::vector<std::pair<std::string, std::string>> checks;
    bool database = false;
    try {
        db::Connection connection = GetConnection();
        connection.Query("SELECT 1 AS ANSWER");
        database = true;
    } catch (...) {
    }
    checks.emplace_back("database", database ? "ok" : "does not answer");
    std::string imports = database ? "ok" : "not checked";
    std::string errors = database ? "ok" : "not checked";
    if (database) {
        try {
            const auto folders = ImportFolders();
            if (folders.empty()) imports = "no import folder is set";
            for (const auto& [parameter, folder] : folders)
                if (!WritableFolder(folder)) {
                    imports = parameter + " is missing or not writable";
                    break;
                }
        } catch (...) {
            imports = "the folder settings cannot be read";
        }
        try {
            if (!WritableFolder(error_folder::ErrorFolderRoot())) errors = "XMLErrorPath is missing or not writable";
        } catch (...) {
            errors = "the folder settings cannot be read";
        }
    }
    checks.emplace_back("import_folders", imports);
    checks.emplace_back("error_folder", errors);

    std::string failing;
    std::string body = "{\"checks\":{";
    for (size_t i = 0; i < checks.size(); ++i) {
        body += (i ? ",\"" : "\"") + checks[i].first + "\":\"" + checks[i].second + "\"";
        if (checks[i].second != "ok" && checks[i].second != "not checked" && failing.empty()) failing = checks[i].first;
    }
    body += "},\"status\":\"" + std::string(failing.empty() ? "ok" : "failing") + "\"";
    if (!failing.empty()) body += ",\"failing\":\"" + failing + "\"";
    body += "}\n";
    response.status = failing.empty() ? 200 : 503;
    response.contentType = "application/json";
    response.body = std::move(body);
}

/// Seconds since a stored "yyyy-mm-dd hh:mm:ss" (local time); 0 when it does not read.
double AgeSeconds(const std::string& sortable) {
    std::tm tm{};
    std::istringstream in(sortable);
    in >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S");
    if (in.fail()) return 0;
    tm.tm_isdst = -1;
    const std::time_t then = std::mktime(&tm);
    const double age = std::difftime(std::time(nullptr), then);
    return age > 0 ? age : 0;
}

/// What the database records for the whole site (every process that serves it): deliveries,
/// the outbox, the open publication errors.
void SiteMetrics(std::string& out) {
    db::Connection connection = GetConnection();

    // Deliveries are read from their history rather than counted here: the history is the one
    // record of every attempt, whichever process of the site made it, and it outlives a
    // restart of this one.
    std::map<std::pair<std::string, bool>, double> deliveries;
    for (db::Recordset rs = connection.Query(
             "SELECT P.PROTOCOL AS PROTOCOL, CASE WHEN H.PUBLICATIONERRORID = 0 THEN 1 ELSE 0 END AS SENT, "
             "COUNT(*) AS N FROM SENDMETHODHISTORY H LEFT JOIN SENDMETHODPROPERTY P ON P.SENDMETHODID = "
             "H.SENDMETHODID GROUP BY P.PROTOCOL, CASE WHEN H.PUBLICATIONERRORID = 0 THEN 1 ELSE 0 END");
         !rs.Eof(); rs.MoveNext()) {
        const std::string protocol =
            rs.IsNull("PROTOCOL") ? "unknown"
                                  : send_method_words::Word("protocol", static_cast<int32_t>(rs.GetInt("PROTOCOL")));
        deliveries[{protocol, rs.GetInt("SENT") == 1}] += static_cast<double>(rs.GetInt("N"));
    }
    for (const bool sent : {true, false}) {
        const std::string name = sent ? "kestrix_deliveries_sent_total" : "kestrix_deliveries_failed_total";
        metrics::WriteHeader(out, name,
                             sent ? "Delivery attempts that succeeded, by protocol (the site's delivery history)."
                                  : "Delivery attempts that failed, by protocol (the site's delivery history).",
                             "counter");
        for (const auto& [key, count] : deliveries)
            if (key.second == sent) metrics::WriteSample(out, name, {{"protocol", key.first}}, count);
    }

    db::Recordset outbox = connection.Query("SELECT COUNT(*) AS N FROM OUTBOX");
    metrics::WriteHeader(out, "kestrix_outbox_items", "Items waiting in the outbox.", "gauge");
    metrics::WriteSample(out, "kestrix_outbox_items", {}, static_cast<double>(outbox.GetInt("N")));

    db::Recordset oldest = connection.Query(
        "SELECT MIN(CREATIONDATE) AS OLDEST FROM PUBLICATIONERRORS WHERE CLOSED = ?", {Variant(int32_t{0})});
    metrics::WriteHeader(out, "kestrix_oldest_open_publication_error_age_seconds",
                         "Age of the oldest open publication error in seconds (0 when none is open).", "gauge");
    metrics::WriteSample(out, "kestrix_oldest_open_publication_error_age_seconds", {},
                         oldest.IsNull("OLDEST") ? 0 : AgeSeconds(oldest.GetString("OLDEST")));
}

}  // namespace

std::vector<http::Route> OperationsRoutes(metrics::Registry& registry) {
    std::vector<http::Route> routes;
    routes.push_back({"GET", "/healthz", Health});
    routes.push_back({"GET", "/metrics", [&registry](const http::Request&, http::Response& response) {
                          std::string out;
                          registry.Render(out);
                          // The process's own figures are worth a scrape also while the
                          // database does not answer.
                          std::string site;
                          bool up = true;
                          try {
                              SiteMetrics(site);
                          } catch (...) {
                              up = false;
                          }
                          if (up) out += site;
                          metrics::WriteHeader(out, "kestrix_site_metrics_up",
                                               "1 when the site's figures could be read from the database.", "gauge");
                          metrics::WriteSample(out, "kestrix_site_metrics_up", {}, up ? 1 : 0);
                          response.contentType = "text/plain; version=0.0.4; charset=utf-8";
                          response.body = std::move(out);
                      }});
    return routes;
}

}  // namespace kestrix::cli
