#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "kestrix/foundation/general.h"
#include "kestrix/intake/document_import.h"
#include "kestrix/processing/document_processing.h"
#include "platform/db/connection.h"
#include "platform/services/configuration.h"
#include "platform/workbook/workbook.h"
#include "tests/support/site/test_site.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

/// The two-partner site with its import folder; alice of Acme sends orders.
class FolderImport : public ::testing::TestWithParam<std::string> {
  protected:
    static std::string Order(const std::string& ref, const std::string& sender = "alice") {
        return "<ORDER><SENDER>" + sender + "</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><REF>" + ref + "</REF></ORDER>";
    }

    fs::path In() const { return site_.root() / "import" / "in"; }

    void Drop(const std::string& name, const std::string& content) const {
        std::ofstream(In() / name, std::ios::binary) << content;
    }

    /// Stored documents that carry the reference.
    int64_t Stored(const std::string& ref) const {
        return site_.Count("DOCUMENT", "XMLBODY LIKE '%<REF>" + ref + "</REF>%'");
    }

    /// The names of the files under the error folder, and their contents joined.
    std::vector<std::string> ErrorFiles(std::string* contents = nullptr) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(site_.root() / "error", ec), end; !ec && it != end; it.increment(ec)) {
            if (!it->is_regular_file()) continue;
            names.push_back(it->path().filename().string());
            if (contents) {
                std::ifstream in(it->path(), std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                *contents += text.str();
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    /// The mails written to the pickup folder, joined.
    std::string Mails() const {
        std::string all;
        std::error_code ec;
        for (fs::directory_iterator it(site_.root() / "out" / "mail", ec), end; !ec && it != end; it.increment(ec)) {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            all += text.str() + "\n";
        }
        return all;
    }

    std::vector<std::string> Left() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(In())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void SetSiteSetting(const char* section, const char* key, const std::string& value) const {
        services::Configuration::SetValue(getSiteConfigFile(), section, key, value);
    }

    static std::string Host() {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        return host;
    }

    /// Records a claim as a run of another process would have left it.
    int64_t LeftClaim(const std::string& claimedName, int64_t pid, const std::string& start, int64_t touched) const {
        const std::string owner = Host() + ":" + std::to_string(pid) + ":" + start;
        db::Connection connection(site_.connectionString());
        const std::string folder = In().lexically_normal().string();
        connection.Execute(
            "INSERT INTO IMPORTCLAIM (FILEPATH, FOLDER, TOKEN, OWNER, CLAIMDATE, TOUCHED) "
            "VALUES (?, ?, ?, ?, '2026-01-01 00:00:00', ?)",
            {Variant((In() / claimedName).lexically_normal().string()), Variant(folder), Variant("old-" + claimedName),
             Variant(owner), Variant(static_cast<long long>(touched))});
        return connection.Query("SELECT CLAIMID FROM IMPORTCLAIM WHERE TOKEN = ?", {Variant("old-" + claimedName)})
            .GetInt("CLAIMID");
    }

    void RecordDone(int64_t claim, int index, int32_t docId) const {
        db::Connection connection(site_.connectionString());
        connection.Execute("INSERT INTO IMPORTCLAIMDOCUMENT (CLAIMID, DOCINDEX, DOCUMENTID) VALUES (?, ?, ?)",
                           {Variant(static_cast<long long>(claim)), Variant(index), Variant(docId)});
    }

    int32_t StoreDirectly(const std::string& xml) const {
        DocumentProcessing processing;
        std::string a, b, type, sender, receiver;
        int32_t docId = 0, bp = 0;
        int16_t status = 0;
        processing.ProcessDocument(0, xml, a, b, docId, bp, type, sender, receiver, status);
        return docId;
    }

    test::TwoPartnerSite site_{GetParam()};
};

// One folder holding every kind of file: each is taken, ignored or set aside as it should be,
// and the tally and the report say so.
TEST_P(FolderImport, EveryKindOfFileInOneFolder) {
    Drop("notes.txt", Order("TXT"));
    Drop("~held.xml", Order("TILDE"));
    Drop(".late.xml.part", Order("PART"));
    Drop("pair.xml", Order("P1") + "\n" + Order("P2"));
    Drop("garbage.xml", "this is not a document");
    Drop("empty.xml", "");
    Drop("Bestellung März 1.XML", Order("UNICODE"));
    Drop("stranger.xml", Order("STRANGER", "nobody"));
    Drop("pair-one-bad.xml", Order("GOOD") + Order("BAD", "nobody"));
    Drop("with delimiter.xml", Order("DELIM") + "~\n");
    Drop("broken.XLSX", "PK this is no workbook");
    Drop("hidden.xml", "<ORDER><SENDER>nobody</SENDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><QELSHOW>false</QELSHOW>"
                       "<REF>HIDDEN</REF></ORDER>");
    SetSiteSetting("SERVICE", "ClaimLease", "0");

    std::vector<ImportedFile> reports;
    DocumentImport import;
    import.SetFileReport([&](const ImportedFile& file) { reports.push_back(file); });
    import.Run();

    // Stored once each, the pair split in two, the delimiter removed.
    for (const char* ref : {"P1", "P2", "UNICODE", "GOOD", "DELIM"}) EXPECT_EQ(Stored(ref), 1) << ref;
    for (const char* ref : {"TXT", "TILDE", "PART", "STRANGER", "BAD"}) EXPECT_EQ(Stored(ref), 0) << ref;
    // What the import does not take stays as it was; everything else is gone.
    EXPECT_EQ(Left(), (std::vector<std::string>{".late.xml.part", "notes.txt", "~held.xml"}));
    // Set aside whole: the file itself; refused documents: a copy of the document each.
    std::string contents;
    const std::vector<std::string> errors = ErrorFiles(&contents);
    EXPECT_EQ(errors, (std::vector<std::string>{"broken.XLSX", "empty.xml", "garbage.xml", "hidden.xml",
                                                "pair-one-bad.xml", "stranger.xml"}));
    EXPECT_NE(contents.find("S\0T\0R\0A\0N\0G\0E\0R", 0, 15), std::string::npos) << "the refused document's copy";
    // The administrator hears of both refused documents, with the path of their copies.
    const std::string mails = Mails();
    EXPECT_NE(mails.find("stranger.xml"), std::string::npos);
    EXPECT_NE(mails.find("pair-one-bad.xml"), std::string::npos);
    // A hidden document's failure is told the administrator with the document, at once.
    EXPECT_NE(mails.find("<REF>HIDDEN</REF>"), std::string::npos);
    EXPECT_EQ(site_.Count("OUTBOX"), 0);
    const std::string log = site_.LogText();
    EXPECT_NE(log.find("The file garbage.xml does not contain valid XML."), std::string::npos);
    EXPECT_NE(log.find("The file broken.XLSX could not be imported."), std::string::npos);
    EXPECT_NE(log.find("File: 'stranger.xml'"), std::string::npos);

    const ImportTally tally = import.LastTally();
    EXPECT_EQ(tally.filesTaken, 9);
    EXPECT_EQ(tally.documentsStored, 5);
    EXPECT_EQ(tally.documentsRefused, 6);  // three documents, three files set aside
    EXPECT_EQ(tally.filesPutBack, 0);
    ASSERT_EQ(reports.size(), 9u);
    for (const ImportedFile& file : reports) {
        EXPECT_FALSE(fs::path(file.path).filename().string().starts_with("~")) << file.path;
        if (fs::path(file.path).filename() == "pair-one-bad.xml") {
            EXPECT_EQ(file.outcome, ImportedFile::Outcome::PartlyRefused);
            EXPECT_EQ(file.stored, 1);
            EXPECT_EQ(file.refused, 1);
        }
    }
    EXPECT_EQ(site_.Count("IMPORTCLAIM"), 0);
    EXPECT_EQ(site_.Count("IMPORTCLAIMDOCUMENT"), 0);
    // A later file of the same name and content is a new file.
    Drop("pair.xml", Order("P1") + Order("P2"));
    import.Run();
    EXPECT_EQ(Stored("P1"), 2);
    EXPECT_EQ(CountImportBacklog().waiting, 0u);
}

// A run that cannot start touches nothing; workbooks without spreadsheet support are set aside.
TEST_P(FolderImport, StartConditionsAndWorkbooks) {
    Drop("a.xml", Order("A"));
    fs::remove_all(site_.root() / "import" / "queue");
    site_.SetParameter("EDIDelimiter", "");
    DocumentImport import;
    import.Run();
    EXPECT_EQ(Left(), (std::vector<std::string>{"a.xml"}));
    EXPECT_FALSE(fs::exists(site_.root() / "import" / "queue")) << "no folder is touched";
    EXPECT_NE(site_.LogText().find("The server parameter EDIDelimiter is empty"), std::string::npos);
    EXPECT_EQ(CountImportBacklog().waiting, 1u);

    site_.SetParameter("EDIDelimiter", "~");
    workbook::Workbook book = workbook::Workbook::Create();
    book.Sheet(0).SetText(workbook::ParseAddress("A1"), "Order");
    book.Save((In() / "book.xlsm").string());
    fs::copy_file(In() / "book.xlsm", In() / "second.Xlsx");
    SetSiteSetting("GLOBAL", "ExcelEnabled", "0");
    import.Run();
    EXPECT_EQ(Stored("A"), 1);
    EXPECT_TRUE(fs::is_directory(site_.root() / "import" / "queue")) << "a missing import folder is created";
    EXPECT_EQ(ErrorFiles(), (std::vector<std::string>{"book.xlsm", "second.Xlsx"}));
    EXPECT_NE(site_.LogText().find("Spreadsheet support is not installed on this server."), std::string::npos);

    // With the engine on, a workbook that opens is converted; its document (no sender) is
    // refused and the workbook itself kept in the error folder.
    SetSiteSetting("GLOBAL", "ExcelEnabled", "1");
    book.Save((In() / "third.xlsx").string());
    import.Run();
    EXPECT_TRUE(Left().empty());
    EXPECT_EQ(ErrorFiles(), (std::vector<std::string>{"book.xlsm", "second.Xlsx", "third.xlsx"}));
    EXPECT_NE(site_.LogText().find("The workbook could not be published."), std::string::npos);
    EXPECT_EQ(import.LastTally().documentsRefused, 1);

    // A file far larger than the site takes is set aside unread.
    site_.SetParameter("MaxDocumentSize", "40");
    Drop("huge.xml", Order(std::string(200, 'x')));
    import.Run();
    EXPECT_TRUE(Left().empty());
    EXPECT_NE(std::find(ErrorFiles().begin(), ErrorFiles().end(), "huge.xml"), ErrorFiles().end());
    EXPECT_NE(site_.LogText().find("this site takes documents of at most 40 bytes"), std::string::npos);
}

// Claims that runs left behind: what their owners finished is not stored again, what they
// did not is; a living owner keeps its claim; a record without its file is dropped.
TEST_P(FolderImport, ClaimsLeftByRunsThatDied) {
    SetSiteSetting("SERVICE", "ClaimLease", "60");
    const int64_t longAgo = static_cast<int64_t>(std::time(nullptr)) - 1000;
    // A process number that no longer runs.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);

    // Three documents, the first stored and recorded before the run died.
    Drop("~three.xml", Order("T0") + Order("T1") + Order("T2"));
    RecordDone(LeftClaim("~three.xml", child, "1", longAgo), 0, StoreDirectly(Order("T0")));
    // Every document recorded: the file is only deleted.
    Drop("~done.xml", Order("D0"));
    RecordDone(LeftClaim("~done.xml", child, "1", longAgo), 0, StoreDirectly(Order("D0")));
    // Marked finished by the transaction of its last document: only deleted, never read.
    Drop("~finished.xml", Order("FIN"));
    site_.Exec("UPDATE IMPORTCLAIM SET DONE = 1 WHERE CLAIMID = " +
               std::to_string(LeftClaim("~finished.xml", child, "1", longAgo)));
    // Recorded as set aside: it goes to the error folder unread.
    Drop("~aside.xml", Order("ASIDE"));
    RecordDone(LeftClaim("~aside.xml", child, "1", longAgo), -1, 0);
    // Recorded, never renamed: the record goes and the file is imported.
    Drop("late.xml", Order("LATE"));
    LeftClaim("~late.xml", child, "1", longAgo);
    // A dead owner within the lease, and a living process of this host past it: both kept.
    Drop("~recent.xml", Order("RECENT"));
    LeftClaim("~recent.xml", child, "1", longAgo + 990);
    std::ifstream stat("/proc/1/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field, start;
    for (int n = 3; n <= 22 && fields >> field; ++n) start = field;
    Drop("~living.xml", Order("LIVING"));
    LeftClaim("~living.xml", 1, start, longAgo);

    DocumentImport import;
    import.Run();
    for (const char* ref : {"T0", "T1", "T2", "D0", "LATE"}) EXPECT_EQ(Stored(ref), 1) << ref;
    for (const char* ref : {"ASIDE", "RECENT", "LIVING", "FIN"}) EXPECT_EQ(Stored(ref), 0) << ref;
    EXPECT_EQ(Left(), (std::vector<std::string>{"~living.xml", "~recent.xml"}));
    EXPECT_EQ(ErrorFiles(), (std::vector<std::string>{"aside.xml"}));
    EXPECT_EQ(site_.Count("IMPORTCLAIM"), 2);
    EXPECT_EQ(site_.Count("IMPORTCLAIMDOCUMENT"), 0);
    EXPECT_EQ(CountImportBacklog().claimed, 2u);
    EXPECT_EQ(import.LastTally().filesTaken, 4);

    // Once the lease has passed for the dead owner, its claim is taken back too.
    SetSiteSetting("SERVICE", "ClaimLease", "0");
    import.Run();
    EXPECT_EQ(Stored("RECENT"), 1);
    EXPECT_EQ(Left(), (std::vector<std::string>{"~living.xml"}));
}

// A database that stays locked: the file keeps its name for a later run, nothing is set aside
// or mailed, and the run ends there.
TEST_P(FolderImport, BusyDatabasePutsFilesBack) {
    SetSiteSetting("GLOBAL", "DatabaseBusyTimeout", "0.3");
    Drop("first.xml", Order("F1"));
    Drop("second.xml", Order("F2"));
    const std::string mailsBefore = Mails();
    std::mutex mutex;
    std::condition_variable changed;
    bool locked = false, release = false;
    const std::string connectionString = site_.connectionString();
    const bool server = db::DialectOf(connectionString) == db::Dialect::PostgreSQL;
    std::thread holder([&] {
        db::Transaction work(connectionString);
        db::Connection connection(connectionString);
        // SQLite's transaction holds the write lock from its start; on a server the document
        // table is locked, so that the claim goes through and the document waits.
        if (server) connection.Execute("LOCK TABLE DOCUMENT IN EXCLUSIVE MODE");
        {
            std::lock_guard lock(mutex);
            locked = true;
        }
        changed.notify_all();
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return release; });
        work.Rollback();
        db::ClearThreadPool();
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return locked; });
    }
    DocumentImport import;
    import.Run();
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    holder.join();

    EXPECT_EQ(Left(), (std::vector<std::string>{"first.xml", "second.xml"}));
    EXPECT_TRUE(ErrorFiles().empty());
    EXPECT_EQ(Mails(), mailsBefore);
    EXPECT_EQ(import.LastTally().filesPutBack, 1);
    EXPECT_EQ(import.LastTally().filesTaken, server ? 1 : 0);
    EXPECT_EQ(site_.Count("IMPORTCLAIM"), 0);

    import.Run();
    EXPECT_EQ(Stored("F1"), 1);
    EXPECT_EQ(Stored("F2"), 1);
    EXPECT_TRUE(Left().empty());
}

// Several threads over one folder, spread over the listing, with a stop request: every
// document stored once, and a stopped run takes no new file.
TEST_P(FolderImport, ThreadsShareOneFolder) {
    constexpr int kFiles = 120;
    for (int i = 0; i < kFiles; ++i) Drop("order-" + std::to_string(i) + ".xml", Order("M" + std::to_string(i) + "-"));
    std::atomic<bool> stop{true};
    DocumentImport stopped;
    stopped.SetStopRequest(&stop);
    stopped.Run();
    EXPECT_EQ(stopped.LastTally().filesTaken, 0);
    EXPECT_EQ(CountImportBacklog().waiting, static_cast<size_t>(kFiles));

    std::vector<std::thread> threads;
    std::atomic<int> taken{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            DocumentImport own;
            own.SetSpread(static_cast<size_t>(t), 4);
            own.Run();
            taken += own.LastTally().filesTaken;
            db::ClearThreadPool();
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(taken.load(), kFiles);
    int twice = 0, missing = 0;
    for (int i = 0; i < kFiles; ++i) {
        const int64_t n = Stored("M" + std::to_string(i) + "-");
        twice += n > 1;
        missing += n == 0;
    }
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(Left().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, FolderImport, ::testing::ValuesIn(test::Backends()));

}  // namespace
}  // namespace kestrix
