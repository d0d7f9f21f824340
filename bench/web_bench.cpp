// Web benchmark: a site with N documents in bob's inbox (100,000 unless given), served by the
// listener of the service with its JSON API in this process. Prints the response time of the
// first page of the inbox without and with filters, and documents per second through the
// HTTP intake, by body with a token and as the form post of a site's HTTP send method.
//
//   web_bench [N] [--pg URL] [--backend sqlite|postgresql] [--intake M]
//
// The first documents go through processing; the rest are copies of their rows made by SQL.
// Timings are taken by the curl program (its own time of each request, without its start);
// each figure is the median of several requests. SQLite always runs; PostgreSQL when --pg or
// KESTRIX_BENCH_PG gives a connection string (a schema of its own, dropped afterwards).
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "bench/scratch.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "kestrix/processing/document_processing.h"
#include "kestrix/foundation/users.h"
#include "kestrix/web/api_routes.h"
#include "kestrix/web/box_pages.h"
#include "kestrix/web/web_routes.h"
#include "kestrix/web/web_session.h"
#include "platform/db/connection.h"
#include "platform/http/server.h"
#include "platform/membership/directory.h"

namespace fs = std::filesystem;
using namespace kestrix;

namespace {

struct Options {
    int documents = 100000;
    int intake = 300;  // documents posted by each intake road
    std::string pg;
    std::optional<std::string> only;
};

/// Order `n` of alice to bob, a few hundred bytes.
std::string Order(int n) {
    return "<ORDER><SENDER>alice</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><RECEIVER>bob</RECEIVER><ORDERNO>PO-" +
           std::to_string(100000 + n) +
           "</ORDERNO><LINE no='1' qty='3' price='9.50'><ITEM>ART-131</ITEM><TEXT>Hexagon bolt M8</TEXT></LINE>"
           "<LINE no='2' qty='5' price='2.25'><ITEM>ART-262</ITEM><TEXT>Washer M8</TEXT></LINE></ORDER>";
}

/// Alice (Acme) may send orders; bob (Bolt) receives them. Both have a password and a token.
std::string SetUpBusiness(const std::string& cs) {
    membership::Directory directory(cs);
    const int32_t acme = directory.AddBusinessPartner("Acme", {"ACME-C"}, {"ACME-S"});
    const int32_t bolt = directory.AddBusinessPartner("Bolt", {"BOLT-C"}, {"BOLT-S"});
    for (const auto& [login, partner] : {std::pair{"alice", acme}, std::pair{"bob", bolt}}) {
        membership::UserRecord user;
        user.login = login;
        user.businessPartnerId = partner;
        user.languageId = 1033;
        user.firstName = login;
        directory.AddUser(user, std::string("pw-") + login);
    }
    db::Connection connection(cs);
    connection.Execute("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase order')");
    connection.Execute("INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) VALUES "
                       "('ORDER', 'alice', 0, ?)",
                       {Variant(acme)});
    connection.Execute("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, HTMLATTACHMENT) "
                       "VALUES ('ORDER', 'bob', ?, 0, 0)",
                       {Variant(bolt)});
    return directory.IssueToken("alice") + "\n" + directory.IssueToken("bob");
}

/// Fills bob's inbox: `seed` orders processed, then copies of their rows until `count`.
void FillInbox(const std::string& cs, int count) {
    const int seed = std::min(count, 50);
    for (int n = 0; n < seed; ++n) {
        DocumentProcessing processing;
        std::string originalType, originalRecipient, type, sender, defaultRecipient;
        int32_t docId = 0, senderBp = 0;
        int16_t status = 0;
        processing.ProcessDocument(0, Order(n), originalType, originalRecipient, docId, senderBp, type, sender,
                                   defaultRecipient, status);
    }
    db::Connection connection(cs);
    const auto copies = [&](int rounds) {
        // Each round doubles what is there, up to the count.
        connection.Execute(
            "INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, XMLBODY, ORIGINALXMLBODY, DEFAULTRECEIVER, CREATIONDATE, "
            "ENTRANCEDATE, STATUS, SHOW) SELECT DOCUMENTTYPEID, SENDER, XMLBODY, ORIGINALXMLBODY, DEFAULTRECEIVER, "
            "CREATIONDATE, ENTRANCEDATE, STATUS, SHOW FROM DOCUMENT ORDER BY DOCUMENTID LIMIT ?",
            {Variant(rounds)});
    };
    for (int64_t have = seed; have < count;) {
        const int64_t add = std::min<int64_t>(have, count - have);
        const int64_t before = connection.Query("SELECT MAX(DOCUMENTID) AS N FROM DOCUMENT").GetInt("N");
        copies(static_cast<int>(add));
        connection.Execute("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) SELECT DOCUMENTID, 'bob', 0, 0 "
                           "FROM DOCUMENT WHERE DOCUMENTID > ?",
                           {Variant(before)});
        have += add;
    }
    if (connection.dialect() == db::Dialect::PostgreSQL) connection.Execute("ANALYZE");
}

/// Runs a shell command and answers what it printed.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

/// The median of curl's own time of `repeats` GET requests of `path`, in milliseconds; the
/// status of the last one in `status`, its body in `body`. `headers` as curl takes them
/// ("-H 'Cookie: ...'").
double TimeGet(const std::string& base, const std::string& path, const std::string& headers, int repeats,
               std::string& status, const fs::path& body) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const std::string out = Output("curl -s -o '" + body.string() + "' -w '%{http_code} %{time_total}' " +
                                       headers + " '" + base + path + "'");
        status = out.substr(0, out.find(' '));
        times.push_back(std::stod(out.substr(out.find(' ') + 1)) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

/// Posts the prepared requests of a curl configuration file one after the other on one
/// connection; answers documents per second.
double PostAll(const fs::path& config, int documents) {
    const auto start = std::chrono::steady_clock::now();
    Output("curl -s -o /dev/null -K '" + config.string() + "'");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return documents / seconds;
}

/// The routes the benchmark's listener answers: the JSON API and the pages of the boxes.
std::vector<http::Route> BenchRoutes() {
    std::vector<http::Route> routes = web::ApiRoutes();
    for (http::Route& route : web::WebRoutes(web::BoxPages())) routes.push_back(std::move(route));
    return routes;
}

bool RunBackend(const std::string& backend, const Options& options) {
    const bench::ScratchSite folder(backend, options.pg);
    const std::string& cs = folder.connectionString();
    const std::string tokens = SetUpBusiness(cs);
    const std::string alice = tokens.substr(0, tokens.find('\n')), bob = tokens.substr(tokens.find('\n') + 1);

    auto fillStart = std::chrono::steady_clock::now();
    FillInbox(cs, options.documents);
    const double fillSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - fillStart).count();

    http::ServerOptions listen;
    listen.maxBodyBytes = 3 * MaxDocumentSize();
    http::Server server(listen, BenchRoutes());
    const std::string base = server.Address();
    const std::string asBob = "-H 'Authorization: Bearer " + bob + "'";
    {
        db::Connection connection(cs);
        std::printf("%-10s %lld documents, %lld in bob's inbox (made in %.1f s)\n", backend.c_str(),
                    static_cast<long long>(connection.Query("SELECT COUNT(*) AS N FROM DOCUMENT").GetInt("N")),
                    static_cast<long long>(
                        connection.Query("SELECT COUNT(*) AS N FROM PUBLICATION WHERE USERID = 'bob'").GetInt("N")),
                    fillSeconds);
    }

    struct Listing {
        const char* label;
        std::string query;
    };
    const std::vector<Listing> listings{
        {"first page, no filter", ""},
        {"first page, sender like 'ali%'", "&filter=DOCUMENT.SENDER%20like&value=ali%25"},
        {"first page, document number =", "&filter=DOCUMENT.DOCUMENTID%20%3D&value=" + std::to_string(options.documents / 2)},
        {"first page, status = NEW", "&filter=PUBLICATION.STATUS%20%3D&value=NEW"},
    };
    // The inbox page of bob's session, the same lists as the page offers them.
    membership::Directory(cs).GrantApplication("bob", users::GetApplicationID("Kestrix"));
    const std::string asBobsBrowser = "-H 'Cookie: kestrix_session=" + web::LogIn("bob", "pw-bob").sessionId + "'";
    const std::vector<Listing> pages{
        {"first page, no filter", ""},
        {"first page, sender ali*", "&sender=ali*"},
        {"first page, document number", "&docid=" + std::to_string(options.documents / 2)},
        {"first page, status NEW", "&status=NEW"},
    };
    for (const Listing& page : pages) {
        std::string status;
        const double ms =
            TimeGet(base, "/inbox?type=ORDER" + page.query, asBobsBrowser, 5, status, folder.path() / "page.html");
        std::printf("%-10s GET /inbox %-43s %8.1f ms (status %s)\n", backend.c_str(), page.label, ms, status.c_str());
    }
    for (const Listing& listing : listings) {
        std::string status;
        const fs::path answer = folder.path() / "answer.json";
        const double ms =
            TimeGet(base, "/api/v1/documents?type=ORDER&box=inbox&size=50" + listing.query, asBob, 5, status, answer);
        std::ifstream in(answer);
        const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t rows = 0;
        for (size_t at = 0; (at = json.find("{\"id\":", at)) != std::string::npos; ++at) ++rows;
        std::printf("%-10s GET /api/v1/documents %-32s %8.1f ms (status %s, %zu rows)\n", backend.c_str(),
                    listing.label, ms, status.c_str(), rows);
    }

    // The intake: by body with alice's token, and as the form post of a sending site.
    const fs::path orders = folder.path() / "posted";
    fs::create_directories(orders);
    std::ofstream body(folder.path() / "body.curl"), form(folder.path() / "form.curl");
    for (int n = 0; n < options.intake; ++n) {
        const fs::path file = orders / ("order-" + std::to_string(n) + ".xml");
        std::ofstream(file) << Order(1000000 + n);
        if (n > 0) {
            body << "next\n";
            form << "next\n";
        }
        body << "url = \"" << base << "/api/v1/documents\"\nheader = \"Content-Type: text/xml\"\n"
             << "header = \"Authorization: Bearer " << alice << "\"\ndata-binary = \"@" << file.string() << "\"\n";
        form << "url = \"" << base << "/api/v1/documents\"\ndata-urlencode = \"xml@" << file.string() << "\"\n"
             << "data-urlencode = \"USER=alice\"\ndata-urlencode = \"PASSWORD=pw-alice\"\n"
             << "data-urlencode = \"DocID=F-" << n << "\"\n";
    }
    body.close();
    form.close();
    db::Connection connection(cs);
    const auto stored = [&] { return connection.Query("SELECT COUNT(*) AS N FROM DOCUMENT").GetInt("N"); };
    int64_t before = stored();
    const double bodyRate = PostAll(folder.path() / "body.curl", options.intake);
    const int64_t byBody = stored() - before;
    before = stored();
    const double formRate = PostAll(folder.path() / "form.curl", options.intake);
    const int64_t byForm = stored() - before;
    std::printf("%-10s POST /api/v1/documents by body         %8.1f documents/s (%lld of %d stored)\n",
                backend.c_str(), bodyRate, static_cast<long long>(byBody), options.intake);
    std::printf("%-10s POST /api/v1/documents as a form post  %8.1f documents/s (%lld of %d stored)\n",
                backend.c_str(), formRate, static_cast<long long>(byForm), options.intake);
    server.Stop();
    return byBody == options.intake && byForm == options.intake;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const char* pg = std::getenv("KESTRIX_BENCH_PG")) options.pg = pg;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pg" && i + 1 < argc) options.pg = argv[++i];
        else if (arg == "--backend" && i + 1 < argc) options.only = argv[++i];
        else if (arg == "--intake" && i + 1 < argc) options.intake = std::stoi(argv[++i]);
        else if (!arg.empty() && std::isdigit(static_cast<unsigned char>(arg[0]))) options.documents = std::stoi(arg);
        else {
            std::cerr << "usage: web_bench [N] [--pg URL] [--backend sqlite|postgresql] [--intake M]\n";
            return 2;
        }
    }
    std::vector<std::string> backends;
    for (const char* backend : {"sqlite", "postgresql"})
        if ((!options.only || *options.only == backend) && (std::string(backend) == "sqlite" || !options.pg.empty()))
            backends.push_back(backend);
    bool allStored = true;
    for (const std::string& backend : backends) {
        // Each backend in a child process of its own: its caches and sessions are its own.
        const pid_t child = ::fork();
        if (child == 0) {
            int code = 1;
            try {
                code = RunBackend(backend, options) ? 0 : 1;
            } catch (const std::exception& e) {
                std::cerr << backend << ": " << e.what() << "\n";
            }
            std::fflush(stdout);
            std::_Exit(code);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        allStored = allStored && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return allStored ? 0 : 1;
}
