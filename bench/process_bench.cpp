// Processing benchmark: N generated orders through Document::ProcessDocument, unattended, on
// one thread, on a fresh site per backend. Prints documents per second and peak memory.
//
//   process_bench [N] [--pg URL] [--backend sqlite|postgresql] [--fresh]
//                 [--plain DIR [--big FILE]]
//
// --plain DIR runs the plain route instead: the fixed workload of DIR (orders.py,
// add-routing.py, site.xml, order-standard.xsl there; N orders, 2000 unless given), each
// parsed, identified, authorized, stored, transformed and published to one recipient
// without mail. With --big FILE the one document of FILE goes that route instead, and a
// bare parse and transform of it with the same style sheet runs beside, for the peak memory.
//
// SQLite always runs; PostgreSQL runs when a connection string is given by --pg or by
// KESTRIX_BENCH_PG (the site gets a schema of its own, dropped afterwards). Each backend runs
// in a child process of its own so that its peak memory is its own. The site stands still for
// a moment before the clock starts, as a running site's files do; --fresh starts at once.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kestrix/api/document.h"
#include "kestrix/documents/site_administration.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site.h"
#include "bench/scratch.h"
#include "bench/usage.h"
#include "platform/base/process_heap.h"
#include "platform/base/error.h"
#include "platform/db/connection.h"
#include "platform/db/statistics.h"
#include "platform/membership/directory.h"
#include "platform/xml/statistics.h"
#include "platform/xml/xml.h"

namespace fs = std::filesystem;
using namespace kestrix;

namespace {

struct Options {
    int count = 1000;
    std::string pg;
    std::optional<std::string> only;  // run one backend only
    bool freshSite = false;           // start at once, while the site's files are new
    std::string plain;                // the folder of the plain route's workload, if chosen
    std::string big;                  // one large document for the plain route, if chosen
    int workers = 1;                  // threads that share the documents
};

using bench::CpuSeconds;
using bench::PeakRssKb;

void Sql(const std::string& connectionString, const std::string& sql) {
    db::Connection connection(connectionString);
    connection.Execute(sql);
}

int64_t Count(const std::string& connectionString, const std::string& sql) {
    db::Connection connection(connectionString);
    return connection.Query(sql).GetInt("N");
}

void AddUser(membership::Directory& directory, const std::string& login, int32_t bp) {
    membership::UserRecord user;
    user.login = login;
    user.businessPartnerId = bp;
    user.email = login + "@example.test";
    user.languageId = 1033;
    user.localeId = 1033;
    user.firstName = login;
    user.secondName = "Bench";
    // No password: processing never logs anyone in, and hashing one would set the peak memory.
    directory.AddUser(user);
}

// The site's business: Acme's alice sends orders to three users of Bolt; the orders pass
// Acme's receive-method style sheet and carry two user-defined fields.
void SetUpBusiness(const fs::path& site, const std::string& cs) {
    membership::Directory directory(cs);
    const int32_t acme = directory.AddBusinessPartner("Acme", {"ACME-C"}, {"ACME-S"});
    const int32_t bolt = directory.AddBusinessPartner("Bolt", {"BOLT-C"}, {"BOLT-S"});
    AddUser(directory, "alice", acme);
    for (const char* user : {"bob", "carol", "dave"}) AddUser(directory, user, bolt);

    Sql(cs, "INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase order')");
    Sql(cs, "INSERT INTO SENDERLIST (DOCUMENTTYPEID, USERID, NOTIFICATION, BUSINESSPARTNERID) VALUES ('ORDER', "
            "'alice', 1, " + std::to_string(acme) + ")");
    for (const char* user : {"bob", "carol", "dave"})
        Sql(cs, std::string("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, USERID, BUSINESSPARTNERID, EMAIL, "
                            "HTMLATTACHMENT) VALUES ('ORDER', '") + user + "', " + std::to_string(bolt) + ", 1, 0)");
    Sql(cs, "INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) VALUES (" +
                std::to_string(acme) + ", 'ORDER', 'acme-order.xsl')");
    Sql(cs, "INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, XSLPATTERN, TAGATTRXSL, DESCRIPTION, SEQUENCENUMBER) "
            "VALUES ('ORDER', 'ORDERNO', 1, 'Order number', 1)");
    Sql(cs, "INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, XSLPATTERN, TAGATTRXSL, DESCRIPTION, SEQUENCENUMBER) "
            "VALUES ('ORDER', 'currency', 2, 'Currency', 2)");

    std::ofstream(site / "xsl" / "acme-order.xsl")
        << "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>\n"
           "  <xsl:template match='/*'>\n"
           "    <xsl:copy><xsl:attribute name='standard'>1</xsl:attribute>"
           "<xsl:apply-templates select='@*|node()'/></xsl:copy>\n"
           "  </xsl:template>\n"
           "  <xsl:template match='LINE'>\n"
           "    <LINE amount='{@qty * @price}'><xsl:apply-templates select='@*|node()'/></LINE>\n"
           "  </xsl:template>\n"
           "  <xsl:template match='@*|node()'><xsl:copy><xsl:apply-templates select='@*|node()'/>"
           "</xsl:copy></xsl:template>\n"
           "</xsl:stylesheet>\n";
}

// Order number `n`: routing tags for three recipients and some thirty lines, a few kilobytes.
std::string Order(int n) {
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ORDER currency=\"EUR\">\n"
                       "  <SENDER>alice</SENDER>\n  <DOCTYPE-ID>ORDER</DOCTYPE-ID>\n"
                       "  <RECEIVER>bob</RECEIVER>\n  <RECEIVER>carol</RECEIVER>\n  <RECEIVER>dave</RECEIVER>\n"
                       "  <ORDERNO>PO-" + std::to_string(100000 + n) + "</ORDERNO>\n"
                       "  <DELIVERY><NAME>Bolt Warehouse</NAME><STREET>Quay 7</STREET><CITY>Harbourtown</CITY></DELIVERY>\n";
    for (int line = 1; line <= 30; ++line)
        body += "  <LINE no=\"" + std::to_string(line) + "\" qty=\"" + std::to_string((n + line) % 17 + 1) +
                "\" price=\"" + std::to_string(line * 3 + n % 11) + ".50\"><ITEM>ART-" + std::to_string(line * 131) +
                "</ITEM><TEXT>Hexagon bolt M" + std::to_string(line % 12 + 4) + ", zinc plated</TEXT></LINE>\n";
    body += "</ORDER>\n";
    return body;
}

// Runs a command of the shell; raises when it fails.
void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The plain route's site and orders from the workload folder; the bodies in name order.
std::vector<std::string> SetUpPlainRoute(const fs::path& site, const fs::path& workload,
                                         int count) {
    SiteAdministration administration;
    ApplySiteFile((workload / "site.xml").string(), administration);
    const fs::path sheets = GetParameter("TransformXSLPath");
    fs::create_directories(sheets);
    fs::copy_file(workload / "order-standard.xsl", sheets / "order-standard.xsl",
                  fs::copy_options::overwrite_existing);
    const fs::path orders = site / "orders", routed = site / "routed";
    Shell("python3 '" + (workload / "orders.py").string() + "' " + std::to_string(count) + " '" +
          orders.string() + "' > /dev/null");
    Shell("python3 '" + (workload / "add-routing.py").string() + "' '" + orders.string() + "' '" +
          routed.string() + "' > /dev/null");
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(routed)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> bodies;
    for (const fs::path& file : files) bodies.push_back(ReadWhole(file));
    return bodies;
}

// Sets up a site on `backend` and processes `count` orders; prints one line of figures.
// Returns false when a document failed.
bool RunBackend(const std::string& backend, const Options& options) {
    const bench::ScratchSite folder(backend, options.pg);
    const std::string& cs = folder.connectionString();
    std::vector<std::string> bodies;
    if (!options.plain.empty()) {
        bodies =
            SetUpPlainRoute(folder.path(), options.plain, options.big.empty() ? options.count : 1);
        if (!options.big.empty()) bodies = {ReadWhole(options.big)};
    } else {
        SetUpBusiness(folder.path(), cs);
        bodies.reserve(options.count);
        for (int n = 0; n < options.count; ++n) bodies.push_back(Order(n));
    }
    size_t bytes = 0;
    for (const std::string& body : bodies) bytes += body.size();

    // A running site's configuration files are long unchanged; those of a site made a moment
    // ago are read afresh on every call until they have stood still for a second or two.
    // The figures are those of a running site.
    if (!options.freshSite) std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    const long rssBefore = PeakRssKb();
    const double cpuBefore = CpuSeconds();
    // The documents are dealt out to the workers in turn; each worker is a thread with its
    // own sessions and caches, as a service's worker threads are.
    std::atomic<int> failures{0};
    std::mutex countsLock;
    db::StatementCounts statements;
    xml::ParseCounts parses;
    auto work = [&](size_t first) {
        db::ResetThreadStatementCounts();
        xml::ResetThreadParseCounts();
        for (size_t i = first; i < bodies.size(); i += static_cast<size_t>(options.workers)) {
            Document document;
            std::string originalType, originalRecipient, type, sender, defRecipient;
            int32_t docId = 0, bp = 0;
            int16_t status = 0;
            try {
                document.ProcessDocument(0, bodies[i], originalType, originalRecipient, docId, bp, type, sender,
                                         defRecipient, status);
            } catch (const Error& e) {
                if (failures++ == 0) std::cerr << backend << ": first failure: " << e.description() << "\n";
            }
        }
        const db::StatementCounts mine = db::ThreadStatementCounts();
        const xml::ParseCounts myParses = xml::ThreadParseCounts();
        std::lock_guard<std::mutex> guard(countsLock);
        statements.statements += mine.statements;
        statements.preparations += mine.preparations;
        statements.commits += mine.commits;
        parses.documents += myParses.documents;
        parses.styleSheets += myParses.styleSheets;
    };
    const auto start = std::chrono::steady_clock::now();
    if (options.workers <= 1) {
        work(0);
    } else {
        std::vector<std::thread> threads;
        for (int w = 0; w < options.workers; ++w) threads.emplace_back(work, static_cast<size_t>(w));
        for (std::thread& t : threads) t.join();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rssAfter = PeakRssKb();
    const double cpu = CpuSeconds() - cpuBefore;
    const double documents = bodies.empty() ? 1.0 : static_cast<double>(bodies.size());

    const int64_t publications = Count(cs, "SELECT COUNT(*) AS N FROM PUBLICATION");
    const int64_t tags = Count(cs, "SELECT COUNT(*) AS N FROM TAGSVALUE");
    size_t mails = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path() / "out" / "mail")) ++mails;

    std::printf(
        "%-10s  %6d docs (%zu bytes avg)  %7.2f s  %7.1f docs/s  (cpu %.2f s, %.1f docs per cpu-s) "
        " "
        "peak RSS %ld KB (+%ld KB while processing)  failures %d  publications %lld  field values "
        "%lld  "
        "mails %zu\n"
        "%-10s  per document: %.1f statements (%.1f prepared), %.2f commits, %.2f parses, "
        "%.3f style sheets compiled\n",
        backend.c_str(), static_cast<int>(bodies.size()),
        bodies.empty() ? 0 : bytes / bodies.size(), seconds,
        seconds > 0 ? documents / seconds : 0.0, cpu, cpu > 0 ? documents / cpu : 0.0, rssAfter,
        rssAfter - rssBefore, failures.load(), static_cast<long long>(publications),
        static_cast<long long>(tags), mails, backend.c_str(), statements.statements / documents,
        statements.preparations / documents, statements.commits / documents,
        parses.documents / documents, parses.styleSheets / documents);
    std::fflush(stdout);

    ResetThreadCaches();
    unsetenv("KESTRIX_HOME");
    return failures.load() == 0;
}

// The bare work on the large document: parse it and apply the plain route's style sheet,
// nothing else; prints the peak memory.
bool RunBare(const Options& options) {
    std::string body = ReadWhole(options.big);
    xml::XmlDocument document = xml::XmlDocument::FromText(body);
    body = std::string();
    xml::XslStyleSheet sheet =
        xml::XslStyleSheet::FromSource((fs::path(options.plain) / "order-standard.xsl").string());
    const std::string output = sheet.Transform(document);
    std::printf("%-10s  1 document, parse and transform only: %zu bytes out, peak RSS %ld KB\n",
                "bare", output.size(), PeakRssKb());
    return true;
}

// Runs one backend in a child process; true when it finished without a failed document.
bool RunInChild(const std::string& backend, const Options& options) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return false;
    }
    if (child == 0) {
        int code = 1;
        try {
            code = (backend == "bare" ? RunBare(options) : RunBackend(backend, options)) ? 0 : 2;
        } catch (const Error& e) {
            std::cerr << backend << ": " << e.description() << "\n";
        } catch (const std::exception& e) {
            std::cerr << backend << ": " << e.what() << "\n";
        }
        std::fflush(stdout);
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The heap is kept as the command line and the service keep theirs.
    KeepFreedHeap();
    Options options;
    bool counted = false;
    if (const char* pg = std::getenv("KESTRIX_BENCH_PG")) options.pg = pg;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pg" && i + 1 < argc) {
            options.pg = argv[++i];
        } else if (arg == "--plain" && i + 1 < argc) {
            options.plain = argv[++i];
        } else if (arg == "--big" && i + 1 < argc) {
            options.big = argv[++i];
        } else if (arg == "--workers" && i + 1 < argc) {
            options.workers = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--fresh") {
            options.freshSite = true;
        } else if (arg == "--backend" && i + 1 < argc) {
            options.only = argv[++i];
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            options.count = std::stoi(arg);
            counted = true;
        } else {
            std::cerr << "usage: " << argv[0]
                      << " [N] [--pg URL] [--backend sqlite|postgresql] [--fresh] [--workers W] [--plain DIR "
                         "[--big FILE]]\n";
            return 2;
        }
    }

    if (!options.plain.empty() && !counted) options.count = 2000;

    std::vector<std::string> backends;
    if (!options.only || *options.only == "sqlite") backends.push_back("sqlite");
    if ((!options.only || *options.only == "postgresql") && !options.pg.empty()) backends.push_back("postgresql");
    if (options.only && backends.empty()) {
        std::cerr << "backend " << *options.only << " needs --pg URL or KESTRIX_BENCH_PG\n";
        return 2;
    }

    if (!options.big.empty() && options.plain.empty()) {
        std::cerr << "--big needs --plain DIR\n";
        return 2;
    }
    if (!options.big.empty()) backends.insert(backends.begin(), "bare");

    bool ok = true;
    for (const std::string& backend : backends) ok = RunInChild(backend, options) && ok;
    return ok ? 0 : 1;
}
