// kestrix serve: the long-running service of a site.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>

#include "apps/kestrix/cli.h"
#include "apps/kestrix/operations.h"
#include "apps/kestrix/service.h"
#include "kestrix/delivery/outbox.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/intake/document_import.h"
#include "kestrix/intake/email_import.h"
#include "kestrix/intake/publish_by_upload.h"
#include "kestrix/web/api_routes.h"
#include "kestrix/web/box_pages.h"
#include "kestrix/web/document_pages.h"
#include "kestrix/web/web_routes.h"
#include "kestrix/foundation/site_settings.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/http/server.h"
#include "kestrix/processing/document_metrics.h"
#include "platform/base/metrics.h"
#include "platform/services/log.h"

namespace kestrix::cli {

namespace {

/// How many outbox items one claim takes: small, so that a stop is quick and the items of a
/// busy outbox spread over the workers of several processes.
constexpr size_t kOutboxBatch = 20;

/// Room beside a posted document for the other fields of its form.
constexpr uint64_t kFormSlackBytes = 64 * 1024;

/// The lock that keeps a second service off an SQLite site: held while the process lives (the
/// system releases it when the process ends, however it ends).
class SiteLock {
public:
    /// Another process serves the site.
    struct Taken : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    /// Takes the lock beside the database file; raises with a clear reason when another
    /// process holds it.
    explicit SiteLock(const std::string& databaseFile) {
        const std::string path = databaseFile + ".serve-lock";
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            throw Error(errnum::E_FAIL, "kestrix serve", "Cannot open " + path + ": " + std::strerror(errno));
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            char holder[32] = {};
            const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
            ::close(fd_);
            fd_ = -1;
            throw Taken("another kestrix serve" +
                        (n > 0 ? " (process " + Trim(std::string(holder, static_cast<size_t>(n))) + ")"
                               : std::string()) +
                        " already serves this site; on SQLite one process serves a site (to run several, "
                        "move the site to PostgreSQL)");
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
            // The process number is only for the message of a second service.
        }
    }
    ~SiteLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    SiteLock(const SiteLock&) = delete;
    SiteLock& operator=(const SiteLock&) = delete;

private:
    int fd_ = -1;
};

/// The database file of an SQLite connection string, or "" for a server database.
std::string SqliteFile(const std::string& connectionString) {
    if (db::DialectOf(connectionString) != db::Dialect::SQLite) return {};
    std::string file = connectionString.substr(connectionString.find(':') + 1);
    if (const size_t query = file.find('?'); query != std::string::npos) file.resize(query);
    return file;
}

Job OutboxJob() {
    return {"outbox", "OutboxInterval", 5, false, [](const std::atomic<bool>& stop, int) {
                outbox::Outcome total;
                while (!stop) {
                    const outbox::Outcome batch = outbox::WorkOffDue(false, kOutboxBatch);
                    total.done += batch.done;
                    total.failed += batch.failed;
                    if (batch.done + batch.failed < static_cast<int>(kOutboxBatch)) break;
                }
                JobOutcome outcome;
                if (total.done + total.failed > 0)
                    outcome.summary = "outbox: " + std::to_string(total.done) + " done, " +
                                      std::to_string(total.failed) + " failed";
                return outcome;
            }};
}

/// The folder import: every worker runs passes over the import folders, each starting at its
/// own share of the files (the claims keep them apart), and goes on at once while it finds
/// files.
Job ImportJob(int workers, DocumentMetrics& documentMetrics) {
    auto imports = std::make_shared<std::vector<DocumentImport>>(static_cast<size_t>(workers));
    for (int i = 0; i < workers; ++i) {
        (*imports)[static_cast<size_t>(i)].SetSpread(i, workers);
        (*imports)[static_cast<size_t>(i)].SetMetrics(&documentMetrics);
    }
    return {"import", "ImportInterval", 5, true, [imports](const std::atomic<bool>& stop, int worker) {
                DocumentImport& import = (*imports)[static_cast<size_t>(worker)];
                import.SetStopRequest(&stop);
                import.Run();
                const ImportTally tally = import.LastTally();
                JobOutcome outcome;
                // A file put back waits for the database: the next pass comes on schedule.
                outcome.busy = tally.filesTaken > 0 && tally.filesPutBack == 0;
                if (tally.filesTaken > 0)
                    outcome.summary = "import: " + std::to_string(tally.filesTaken) + " files, " +
                                      std::to_string(tally.documentsStored) + " documents stored, " +
                                      std::to_string(tally.documentsRefused) + " refused, " +
                                      std::to_string(tally.filesPutBack) + " put back";
                return outcome;
            }};
}

/// The mailbox import: the documents attached to the mails of the import mailbox go into the
/// first import folder, where the folder import takes them.
Job MailboxJob() {
    return {"mailbox", "MailboxInterval", 60, false, [](const std::atomic<bool>& stop, int) {
                EMailImport job;
                job.Run(stop);
                const EMailImport::Tally& tally = job.LastRun();
                JobOutcome outcome;
                if (tally.attachmentsSaved + tally.messagesDeleted + tally.failures > 0)
                    outcome.summary = "mailbox: " + std::to_string(tally.messagesSeen) + " messages, " +
                                      std::to_string(tally.attachmentsSaved) + " documents saved, " +
                                      std::to_string(tally.messagesDeleted) + " messages deleted, " +
                                      std::to_string(tally.failures) + " failures";
                return outcome;
            }};
}

/// The daily clean-up: temporary documents of uploads older than today, with their files and
/// publication errors.
Job CleanupJob() {
    return {"cleanup", "CleanupInterval", 86400, false, [](const std::atomic<bool>&, int) {
                std::string root = FileHandling().GetFolderName(EFolderType::UploadFolder);
                PublishByUpload().DeleteAllOldTempXMLFiles(root);
                return JobOutcome{};
            }};
}

int Serve(Args& args) {
    int workers = 1;
    try {
        // More than a thousand is refused below, as from the command line.
        workers = static_cast<int>(std::min<int64_t>(SiteSettingWholeNumber("SERVICE", "Workers").value_or(1), 1000));
    } catch (const Error& e) {
        throw Error(errnum::E_FAIL, "kestrix serve", e.description());
    }
    workers = args.Number("workers", workers);
    // SERVICE Listen: unset listens on the default address; "off" or an empty value does not.
    std::string listen = "127.0.0.1:8080";
    try {
        if (const Variant value = SiteConfiguration()->GetValue("SERVICE", "Listen"); !value.IsEmpty())
            listen = Trim(value.ToString());
    } catch (...) {
        // A configuration that cannot be read fails below, where the site is opened.
    }
    listen = Trim(args.Option("listen", listen));
    args.Finish();
    if (workers < 1 || workers > 64) throw UsageError("--workers must be between 1 and 64");
    http::ServerOptions listenOptions;
    const bool listening = !listen.empty() && listen != "off";
    if (listening) {
        try {
            http::ParseListenAddress(listen, listenOptions.host, listenOptions.port);
        } catch (const std::invalid_argument& bad) {
            throw UsageError(std::string("--listen (or SERVICE Listen): ") + bad.what());
        }
        listenOptions.tlsCertificate = Trim(SiteSetting("SERVICE", "TlsCertificate"));
        listenOptions.tlsKey = Trim(SiteSetting("SERVICE", "TlsKey"));
    }

    std::optional<SiteLock> lock;
    try {
        if (const std::string file = SqliteFile(CurrentConnectionString()); !file.empty()) lock.emplace(file);
    } catch (const SiteLock::Taken& taken) {
        std::cerr << "kestrix serve: " << taken.what() << "\n";
        return exit_status::Site;
    }
    // A site made by an earlier version lacks what the service keeps its claims in.
    try {
        db::Connection connection = GetConnection();
        connection.Query("SELECT CLAIMEDBY, CLAIMEDUNTIL FROM OUTBOX WHERE 1 = 0");
        connection.Query("SELECT DONE FROM IMPORTCLAIM WHERE 1 = 0");
        connection.Query("SELECT MESSAGEID FROM MAILIMPORTSAVED WHERE 1 = 0");
        connection.Query("SELECT SENDERKEY FROM HTTPINTAKE WHERE 1 = 0");
        connection.Query("SELECT SESSIONHASH FROM WEBSESSION WHERE 1 = 0");
        connection.Query("SELECT LOCKEDUNTIL FROM WEBLOGINFAILURE WHERE 1 = 0");
    } catch (...) {
        const std::string home = getenv("KESTRIX_HOME") ? getenv("KESTRIX_HOME") : "SITE";
        std::cerr << "kestrix serve: the database of this site was made by an earlier version and lacks the "
                     "tables of the service; complete it first with 'kestrix init "
                  << Printable(home) << "'\n";
        return exit_status::Site;
    }

    // A posted document may come form-encoded, where one byte of it can take three.
    listenOptions.maxBodyBytes = static_cast<size_t>(3 * MaxDocumentSize() + kFormSlackBytes);

    // The signals are taken by one thread of their own; the workers never see them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // The figures of this process: made before the workers, kept until after they end.
    metrics::Registry registry;
    DocumentMetrics documentMetrics(registry);

    // The listener comes up before any work starts: an address that cannot be listened on
    // stops the service at once.
    std::unique_ptr<http::Server> server;
    if (listening) {
        try {
            std::vector<http::Route> routes = OperationsRoutes(registry);
            for (http::Route& route : web::ApiRoutes()) routes.push_back(std::move(route));
            std::vector<web::Page> pages = web::BoxPages();
            for (web::Page& page : web::DocumentPages()) pages.push_back(std::move(page));
            for (http::Route& route : web::WebRoutes(std::move(pages))) routes.push_back(std::move(route));
            server = std::make_unique<http::Server>(listenOptions, std::move(routes));
        } catch (const http::ListenError& failure) {
            std::cerr << "kestrix serve: " << failure.what() << "\n";
            return exit_status::Site;
        }
    }

    std::vector<Job> jobs;
    jobs.push_back(ImportJob(workers, documentMetrics));
    jobs.push_back(OutboxJob());
    jobs.push_back(MailboxJob());
    jobs.push_back(CleanupJob());
    Service service(std::move(jobs), workers);

    std::thread([&service, &server, signals] {
        bool stopping = false;
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            if (signal == SIGHUP) {
                service.RequestReload();
            } else if (!stopping) {
                stopping = true;
                std::cout << "kestrix serve: stopping; the work in hand is finished first (again to stop at once)"
                          << std::endl;
                // The listener goes first: no request reaches a service that is winding down.
                if (server) server->Stop();
                service.RequestStop();
            } else {
                std::cout << "kestrix serve: stopped at once; claims in hand are taken back at the next start"
                          << std::endl;
                std::_Exit(exit_status::Failed);
            }
        }
    }).detach();

    const std::string home = getenv("KESTRIX_HOME") ? getenv("KESTRIX_HOME") : "";
    std::cout << "kestrix serve: serving " << Printable(home) << " with " << workers
              << (workers == 1 ? " worker" : " workers") << " (" << service.Schedule() << "); "
              << (server ? "listening on " + server->Address() + " (the pages, /healthz, /metrics, /api/v1)" : std::string("no listener"))
              << "; SIGTERM or Ctrl-C stops, SIGHUP reads the configuration again" << std::endl;
    services::Log().LogInfo("Kestrix.Service", "started", {{"workers", std::to_string(workers)}});

    int64_t stopSeconds = 60;
    try {
        stopSeconds = SiteSettingWholeNumber("SERVICE", "StopTimeout").value_or(60);
    } catch (...) {
        // A value that is no number reads as unset.
    }
    const bool finished = service.Run(std::chrono::seconds(stopSeconds));
    if (server) server->Stop();
    services::Log().LogInfo("Kestrix.Service", finished ? "stopped" : "stopped with work unfinished");
    std::cout << "kestrix serve: stopped"
              << (finished ? "" : " before every worker finished; their claims are taken back at the next start")
              << std::endl;
    if (!finished) std::_Exit(exit_status::Done);
    return exit_status::Done;
}

}  // namespace

void AddServeCommand(Commands& commands) {
    commands["serve"] = {
        "serve [--workers N] [--listen HOST:PORT|off]",
        "runs the site as a service until SIGTERM or Ctrl-C: the folder import, the mailbox\n"
        "      import, the outbox (deliveries, retries, mails) and the daily clean-up of old uploads,\n"
        "      on schedules from the SERVICE section of the site configuration, with N worker threads\n"
        "      (default: SERVICE Workers, else 1); SIGHUP reads the configuration again. It answers\n"
        "      the web pages (log-in, inbox, outbox, error box), GET /healthz and GET /metrics on\n"
        "      HOST:PORT (default: SERVICE Listen, else 127.0.0.1:8080; \"off\": no listener; HTTPS\n"
        "      with SERVICE TlsCertificate and TlsKey)",
        {}, Serve};
}

}  // namespace kestrix::cli
