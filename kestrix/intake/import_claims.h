#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

/// The claims of the folder import: which run holds which file of an import folder, and
/// which documents of a claimed file are done. The records (IMPORTCLAIM,
/// IMPORTCLAIMDOCUMENT) live in the site's database, so runs in several processes, on one
/// host or several sharing one database, keep apart.
namespace kestrix::import_claims {


/// Marks a claimed path as being worked on by a run of this process while the object lives;
/// a claim of this process that no run holds is free to be taken back at once.
class Held {
  public:
    /// Answers nothing when a run of this process already holds the path.
    static std::unique_ptr<Held> Take(const std::string& path);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

  private:
    explicit Held(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

/// A claim this process holds.
struct Claim {
    int64_t id = 0;
    /// The claimed file: the folder joined with "~" and the file's own name.
    std::string filePath;
    /// Tells this holder's claim from any later holder's.
    std::string token;
    /// Indexes of the file's documents recorded as done (stored or refused); -1 when the
    /// whole file was recorded as set aside.
    std::set<int32_t> done;
    /// Every document of the file is done: it is only to be deleted.
    bool finished = false;
    /// Keeps the other runs of this process off the claim while it is worked on.
    std::shared_ptr<Held> held;
};

/// Records a claim of each of `claimedPaths` (in `folder`) for this process, in one
/// transaction, and answers them in the same order, nothing for a path that another run
/// holds. Raises when the database fails. The record comes before the rename that claims
/// the file, so that no renamed file is ever without its record.
std::vector<std::optional<Claim>> Record(const std::string& folder, const std::vector<std::string>& claimedPaths);

/// Removes the claims and their document records, in one transaction. Raises when the
/// database fails.
void Drop(const std::vector<Claim>& claims);
void Drop(const Claim& claim);

/// Takes over the claims of `folder` whose owner is gone: a claim of this process that no
/// run of it holds, or one whose owner is no living process of this host and that was not
/// touched for `leaseSeconds`. A process of this host that lives keeps its claims whatever
/// their age. Answers the claims taken, each with its recorded documents.
std::vector<Claim> TakeBack(const std::string& folder, int64_t leaseSeconds);

/// Inside the document's transaction, before its work: renews the claim and holds its row
/// until the transaction ends; `last` (the file's last document) marks the claim finished
/// with the transaction. Answers false when the claim is no longer this holder's (another run
/// took it back). Raises when the database fails.
bool Renew(const Claim& claim, bool last = false);

/// Inside the document's transaction, after a `Renew` that answered true: records document
/// `index` of the file as done, with the stored document's identifier (0 when it was
/// refused; index -1: the whole file is set aside). Raises when the database fails.
void RecordDocument(const Claim& claim, int32_t index, int32_t documentId);

/// Moves `from` to `to` in one step unless `to` exists. Answers false when `from` is gone or
/// `to` exists; raises on any other failure.
bool MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace kestrix::import_claims
