#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kestrix::cli {

/// What one run of a job did: `busy` when it found work (the job then runs again at once
/// rather than after its interval), and a line for the log when there is something to say.
struct JobOutcome {
    bool busy = false;
    std::string summary;
};

/// A job of the service: the folder import, the mailbox import, the outbox, the clean-up.
struct Job {
    /// Its name in the log and the start line ("import").
    std::string name;
    /// The key of its interval in seconds in the SERVICE section of the site configuration.
    std::string intervalKey;
    int defaultSeconds = 5;
    /// True when several workers may run it at once (their claims keep them apart).
    bool parallel = false;
    /// One run on worker `worker` (0 .. workers - 1). `stop` turns true when the service is
    /// asked to stop: a run finishes what it has in hand and takes nothing new. A failure
    /// raises; the service logs it once.
    std::function<JobOutcome(const std::atomic<bool>& stop, int worker)> run;
};

/// The long-running service of a site: N worker threads take the jobs when they are due,
/// one piece of work (a document, a file, an outbox item) at a time each.
class Service {
public:
    Service(std::vector<Job> jobs, int workers);

    /// Runs the workers until `RequestStop`; answers true when every worker finished within
    /// `stopTimeout` after the request.
    bool Run(std::chrono::seconds stopTimeout);

    /// Stop taking new work; the work in hand is finished. Safe from any thread.
    void RequestStop();
    /// Read the intervals from the site configuration again. Safe from any thread.
    void RequestReload();

    /// The intervals as read (for the start line): "import every 5 s, ...".
    std::string Schedule() const;

private:
    struct Slot {
        Job job;
        std::chrono::seconds interval{5};
        std::chrono::steady_clock::time_point due;
        int running = 0;
        /// The failure last logged, so that a failure that repeats is logged once.
        std::string failing;
    };

    void ReadIntervals();
    void Work(int worker);
    /// The slot a worker may take now, or nullptr; `wake` is when to look again.
    Slot* NextDue(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point& wake);
    void Finish(Slot& slot, const JobOutcome* outcome, const std::string& failure);

    std::vector<Slot> slots_;
    int workers_;
    std::atomic<bool> stop_{false};
    bool reload_ = false;
    int active_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace kestrix::cli
