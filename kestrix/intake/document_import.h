#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kestrix/processing/document_metrics.h"

namespace kestrix {

/// What a run of the folder import did.
struct ImportTally {
    /// Files claimed (and recovered claims taken back) and worked on.
    int filesTaken = 0;
    /// Documents stored.
    int documentsStored = 0;
    /// Documents refused (each kept in the error folder), and files set aside whole.
    int documentsRefused = 0;
    /// Files given back untouched (or left claimed) because the database could not be used;
    /// a later run takes them again.
    int filesPutBack = 0;
};

/// What became of one file of a run.
struct ImportedFile {
    enum class Outcome {
        /// Every document of the file was stored; the file is deleted.
        Imported,
        /// Some or all documents were refused; copies are in the error folder and the file is
        /// deleted.
        PartlyRefused,
        /// The file as a whole went to the error folder (not a document, unreadable, a
        /// workbook that does not open, spreadsheet support switched off).
        SetAside,
        /// The database could not be used: the file waits for a later run.
        PutBack,
        /// Another run took the file over while this one worked on it; it left the file alone.
        LostClaim,
    };
    std::string path;  ///< the file's path as it was found (without the claim marker)
    Outcome outcome = Outcome::Imported;
    int stored = 0;
    int refused = 0;
    std::string message;  ///< the label text of the failure, when there was one
};

/// What waits in the import folders.
struct ImportBacklog {
    /// Files a run would take (documents, workbooks, OBI objects).
    size_t waiting = 0;
    /// Files held under the claim marker: being imported, or left by a run that ended.
    size_t claimed = 0;
};

/// "Kestrix.DocumentImport": the job that imports the documents dropped as files into the
/// import folders (server parameters "XMLPath1", "XMLPath2" and, when OBI is enabled,
/// "ObiPath"): XML files, workbooks and OBI objects.
///
/// Each file is claimed before it is read: the claim is recorded in the database (IMPORTCLAIM,
/// with its owner) and the file is renamed to "~" + its name in the same folder. Each document
/// of the file is stored in one transaction that also records its index in the file, so a run
/// that dies at any moment leaves every document stored once or not at all, and the run that
/// takes the claim back (its owner gone for the lease, site configuration SERVICE
/// "ClaimLease", seconds) goes on after the recorded documents.
///
/// One object may run on several threads at once, and several processes may import one
/// folder: the claims keep them apart. `Run` never raises; every failure is logged.
class DocumentImport {
  public:
    /// One pass over the import folders.
    void Run();

    /// Checked before each new file: when it holds true the run ends after the file in hand.
    /// The flag must outlive the runs; nullptr removes it.
    void SetStopRequest(const std::atomic<bool>* stop) { stop_.store(stop); }
    /// Counts every document of the later runs in `metrics` (nullptr: no counting); they must
    /// outlive the runs.
    void SetMetrics(DocumentMetrics* metrics) { metrics_.store(metrics); }

    /// Lets runs on several threads start at different files: worker `worker` of `workers`
    /// begins its pass over a folder at that share of the listing (and goes round to the
    /// start). The default, worker 0 of 1, takes the files in the order of the listing.
    void SetSpread(size_t worker, size_t workers);

    /// Called with what became of each file the run worked on (from the running thread).
    void SetFileReport(std::function<void(const ImportedFile&)> report);

    /// What the last run that ended did.
    ImportTally LastTally() const;

  private:
    std::atomic<const std::atomic<bool>*> stop_{nullptr};
    std::atomic<DocumentMetrics*> metrics_{nullptr};
    std::atomic<size_t> worker_{0};
    std::atomic<size_t> workers_{1};
    mutable std::mutex mutex_;
    std::function<void(const ImportedFile&)> report_;
    ImportTally last_;
};

/// Counts the files that wait in the import folders and those held under the claim marker.
/// The import folders that are set, as local paths, with the server parameter that names
/// each ("XMLPath1", "XMLPath2", "ObiPath" while OBI is on). Raises when a parameter cannot
/// be read.
std::vector<std::pair<std::string, std::string>> ImportFolders();

/// Raises when a folder parameter cannot be read; a folder that is missing counts nothing.
ImportBacklog CountImportBacklog();

}  // namespace kestrix
