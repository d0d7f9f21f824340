// The claims of the folder import: the record of a claim keeps two import runs apart, and
// the record of each document done keeps a file that a run died on from being stored twice.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <random>
#include <sstream>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/intake/import_claims.h"
#include "platform/base/error.h"
#include "platform/base/process_owner.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/services/file_paths.h"

namespace kestrix::import_claims {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "Kestrix.DocumentImport.Claims";

/// The host part of an owner ("HOST:PID:START").
std::string HostOf(const std::string& owner) { return owner.substr(0, owner.find(':')); }

std::string NewToken() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}() ^ static_cast<uint64_t>(::getpid())};
    std::lock_guard lock(mutex);
    std::ostringstream token;
    token << std::hex << random() << random();
    return token.str();
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

/// The claimed paths that runs of this process hold.
std::mutex heldMutex;
std::set<std::string>& HeldPaths() {
    static std::set<std::string> held;
    return held;
}

bool IsHeld(const std::string& path) {
    std::lock_guard lock(heldMutex);
    return HeldPaths().count(path) != 0;
}

std::set<int32_t> Recorded(db::Connection& connection, int64_t id) {
    std::set<int32_t> done;
    db::Recordset rs = connection.Query("SELECT DOCINDEX FROM IMPORTCLAIMDOCUMENT WHERE CLAIMID = ?",
                                        {Variant(static_cast<long long>(id))});
    for (; !rs.Eof(); rs.MoveNext()) done.insert(static_cast<int32_t>(rs.GetInt("DOCINDEX")));
    return done;
}

/// A connection that waits for a locked database as long as the import does.
db::Connection Connect() {
    db::Connection connection = GetConnection();
    connection.SetBusyTimeout(DatabaseBusyTimeoutMs());
    return connection;
}

}  // namespace


std::unique_ptr<Held> Held::Take(const std::string& path) {
    std::lock_guard lock(heldMutex);
    if (!HeldPaths().insert(path).second) return nullptr;
    return std::unique_ptr<Held>(new Held(path));
}

Held::~Held() {
    std::lock_guard lock(heldMutex);
    HeldPaths().erase(path_);
}

std::vector<std::optional<Claim>> Record(const std::string& folder, const std::vector<std::string>& claimedPaths) {
    const std::string self = ThisProcessOwner();
    const int64_t now = Now();
    const std::string date = DateTime::Now().Sortable();
    std::vector<std::optional<Claim>> claims(claimedPaths.size());
    db::Transaction work(CurrentConnectionString(), DatabaseBusyTimeoutMs());
    db::Connection connection = Connect();
    for (size_t i = 0; i < claimedPaths.size(); ++i) {
        Claim claim;
        claim.filePath = claimedPaths[i];
        claim.token = NewToken();
        // Held before it is recorded: no other run of this process takes it back meanwhile.
        claim.held = Held::Take(claim.filePath);
        if (!claim.held) continue;
        const int64_t added = connection.Execute(
            "INSERT INTO IMPORTCLAIM (FILEPATH, FOLDER, TOKEN, OWNER, CLAIMDATE, TOUCHED) VALUES (?, ?, ?, ?, ?, ?) "
            "ON CONFLICT (FILEPATH) DO NOTHING",
            {Variant(claim.filePath), Variant(folder), Variant(claim.token), Variant(self), Variant(date),
             Variant(static_cast<long long>(now))});
        if (added == 0) continue;
        db::Recordset rs = connection.Query("SELECT CLAIMID FROM IMPORTCLAIM WHERE FILEPATH = ? AND TOKEN = ?",
                                            {Variant(claim.filePath), Variant(claim.token)});
        if (rs.Eof()) continue;
        claim.id = rs.GetInt("CLAIMID");
        claims[i] = std::move(claim);
    }
    work.Commit();
    return claims;
}

void Drop(const std::vector<Claim>& claims) {
    if (claims.empty()) return;
    db::Transaction work(CurrentConnectionString(), DatabaseBusyTimeoutMs());
    db::Connection connection = Connect();
    for (const Claim& claim : claims) {
        const Variant id(static_cast<long long>(claim.id));
        // Only this holder's claim: one taken back by another run is that run's to drop.
        if (connection.Execute("DELETE FROM IMPORTCLAIM WHERE CLAIMID = ? AND TOKEN = ?", {id, Variant(claim.token)}) != 0)
            connection.Execute("DELETE FROM IMPORTCLAIMDOCUMENT WHERE CLAIMID = ?", {id});
    }
    work.Commit();
}

void Drop(const Claim& claim) {
    // The claim is copied without its hold, which the caller keeps.
    Claim copy;
    copy.id = claim.id;
    copy.token = claim.token;
    Drop(std::vector<Claim>{std::move(copy)});
}

std::vector<Claim> TakeBack(const std::string& folder, int64_t leaseSeconds) {
    const std::string self = ThisProcessOwner();
    std::vector<Claim> taken;
    db::Connection connection = Connect();
    db::Recordset rs = connection.Query(
        "SELECT CLAIMID, FILEPATH, TOKEN, OWNER, TOUCHED, DONE FROM IMPORTCLAIM "
        "WHERE FOLDER = ? ORDER BY CLAIMID",
        {Variant(folder)});
    for (; !rs.Eof(); rs.MoveNext()) {
        const int64_t id = rs.GetInt("CLAIMID");
        const std::string owner = rs.GetString("OWNER");
        const std::string path = rs.GetString("FILEPATH");
        bool gone;
        if (owner == self)
            gone = !IsHeld(path);  // this process: free when none of its runs holds it
        else if (HostOf(owner) == HostOf(self) && !OwnerIsGone(owner))
            gone = false;  // a living process of this host
        else
            gone = Now() - rs.GetInt("TOUCHED") >= leaseSeconds;
        if (!gone) continue;
        Claim claim;
        claim.id = id;
        claim.filePath = path;
        claim.token = NewToken();
        claim.held = Held::Take(path);
        if (!claim.held) continue;
        // Two runs that take back the same claim at once: the old token lets one of them.
        const int64_t changed = connection.Execute(
            "UPDATE IMPORTCLAIM SET TOKEN = ?, OWNER = ?, TOUCHED = ? WHERE CLAIMID = ? AND TOKEN = ?",
            {Variant(claim.token), Variant(self), Variant(static_cast<long long>(Now())),
             Variant(static_cast<long long>(id)), Variant(rs.GetString("TOKEN"))});
        if (changed != 1) continue;
        claim.finished = rs.GetInt("DONE") != 0;
        if (!claim.finished) claim.done = Recorded(connection, id);
        taken.push_back(std::move(claim));
    }
    return taken;
}

bool Renew(const Claim& claim, bool last) {
    db::Connection connection = Connect();
    // The update also holds the claim's row until the transaction ends, so a run taking the
    // claim back waits for this document and then finds it recorded.
    return connection.Execute("UPDATE IMPORTCLAIM SET TOUCHED = ?, DONE = ? WHERE CLAIMID = ? AND TOKEN = ?",
                              {Variant(static_cast<long long>(Now())), Variant(last ? 1 : 0),
                               Variant(static_cast<long long>(claim.id)), Variant(claim.token)}) == 1;
}

void RecordDocument(const Claim& claim, int32_t index, int32_t documentId) {
    db::Connection connection = Connect();
    connection.Execute("INSERT INTO IMPORTCLAIMDOCUMENT (CLAIMID, DOCINDEX, DOCUMENTID) VALUES (?, ?, ?)",
                       {Variant(static_cast<long long>(claim.id)), Variant(index), Variant(documentId)});
}

bool MoveWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system without the no-replace rename: a hard link refuses an existing name
        // just the same; the old name is removed afterwards.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
        err = errno;
    }
    if (err == ENOENT || err == EEXIST) return false;
    throw services::FileSystemError(std::error_code(err, std::generic_category()), kSource, from.string());
}

}  // namespace kestrix::import_claims
