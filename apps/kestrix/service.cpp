// The scheduler of `kestrix serve`: worker threads that take the site's jobs when they are due.
#include "apps/kestrix/service.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/site_settings.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/services/log.h"

namespace kestrix::cli {

namespace {

constexpr const char* kSource = "Kestrix.Service";

/// A whole number of seconds from the SERVICE section, or the fallback when the key is unset
/// or holds no positive whole number (which is logged).
std::chrono::seconds IntervalSetting(const std::string& key, int fallback) {
    std::optional<int64_t> seconds;
    try {
        seconds = SiteSettingWholeNumber("SERVICE", key);
    } catch (...) {
        seconds = 0;
    }
    if (!seconds) return std::chrono::seconds(fallback);
    if (*seconds < 1) {
        services::Log().LogError(kSource, "The SERVICE setting " + key + " is not a number of seconds; " +
                                              std::to_string(fallback) + " s is used.");
        return std::chrono::seconds(fallback);
    }
    return std::chrono::seconds(*seconds);
}

}  // namespace

Service::Service(std::vector<Job> jobs, int workers) : workers_(std::max(1, workers)) {
    const auto now = std::chrono::steady_clock::now();
    for (Job& job : jobs) {
        Slot slot;
        slot.job = std::move(job);
        // Every job runs once at the start, then on its schedule.
        slot.due = now;
        slots_.push_back(std::move(slot));
    }
    ReadIntervals();
}

void Service::ReadIntervals() {
    for (Slot& slot : slots_) {
        const auto interval = IntervalSetting(slot.job.intervalKey, slot.job.defaultSeconds);
        // A shorter interval takes effect now, a longer one from the next run.
        if (interval < slot.interval) slot.due = std::min(slot.due, std::chrono::steady_clock::now() + interval);
        slot.interval = interval;
    }
}

std::string Service::Schedule() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const Slot& slot : slots_)
        text += (text.empty() ? "" : ", ") + slot.job.name + " every " + std::to_string(slot.interval.count()) + " s";
    return text;
}

void Service::RequestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

void Service::RequestReload() {
    {
        std::lock_guard lock(mutex_);
        reload_ = true;
    }
    changed_.notify_all();
}

Service::Slot* Service::NextDue(std::chrono::steady_clock::time_point now,
                                std::chrono::steady_clock::time_point& wake) {
    Slot* best = nullptr;
    wake = now + std::chrono::hours(24);
    for (Slot& slot : slots_) {
        if (slot.running > 0 && !slot.job.parallel) continue;
        if (slot.due <= now) {
            if (!best || slot.due < best->due) best = &slot;
        } else {
            wake = std::min(wake, slot.due);
        }
    }
    return best;
}

void Service::Finish(Slot& slot, const JobOutcome* outcome, const std::string& failure) {
    services::Log log;
    if (outcome) {
        if (!outcome->summary.empty()) log.LogInfo(kSource, outcome->summary, {{"job", slot.job.name}});
        if (!slot.failing.empty()) log.LogInfo(kSource, "works again", {{"job", slot.job.name}});
    } else if (failure != slot.failing) {
        log.LogError(std::string(kSource) + "." + slot.job.name, failure);
    }
    std::lock_guard lock(mutex_);
    --slot.running;
    slot.failing = outcome ? std::string() : failure;
    const auto now = std::chrono::steady_clock::now();
    slot.due = outcome && outcome->busy ? now : now + slot.interval;
}

void Service::Work(int worker) {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (reload_) {
            reload_ = false;
            lock.unlock();
            ReadIntervals();
            services::Log().LogInfo(kSource, "configuration read again: " + Schedule());
            lock.lock();
            continue;
        }
        std::chrono::steady_clock::time_point wake;
        Slot* slot = NextDue(std::chrono::steady_clock::now(), wake);
        if (!slot) {
            changed_.wait_until(lock, wake);
            continue;
        }
        ++slot->running;
        lock.unlock();
        std::string failure;
        JobOutcome outcome;
        bool done = false;
        try {
            outcome = slot->job.run(stop_, worker);
            done = true;
        } catch (const Error& e) {
            failure = Trim(e.description());
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "unknown failure";
        }
        if (!done && failure.empty()) failure = "unknown failure";
        Finish(*slot, done ? &outcome : nullptr, failure);
        changed_.notify_all();
        lock.lock();
    }
}

bool Service::Run(std::chrono::seconds stopTimeout) {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        active_ = workers_;
    }
    for (int i = 0; i < workers_; ++i)
        threads.emplace_back([this, i] {
            Work(i);
            // The worker's database sessions close with it.
            db::ClearThreadPool();
            std::lock_guard lock(mutex_);
            --active_;
            changed_.notify_all();
        });
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_.load(); });
        if (!changed_.wait_for(lock, stopTimeout, [this] { return active_ == 0; })) {
            // A worker still in a long piece of work: the caller ends the process; its claims
            // are taken back by the next start.
            for (std::thread& thread : threads) thread.detach();
            return false;
        }
    }
    for (std::thread& thread : threads) thread.join();
    return true;
}

}  // namespace kestrix::cli
