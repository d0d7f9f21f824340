#pragma once
// Counters and histograms that a process keeps about itself, and their text for a scraper
// (the line format with "# HELP" and "# TYPE"). Thread-safe; counting costs one short lock.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::metrics {

/// A label value with backslash, double quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);
/// Appends "# HELP name help" and "# TYPE name type".
void WriteHeader(std::string& out, std::string_view name, std::string_view help, std::string_view type);
/// Appends one sample line: name{label="value",...} number. `labels` are name/value pairs.
void WriteSample(std::string& out, std::string_view name,
                 const std::vector<std::pair<std::string, std::string>>& labels, double value);

/// Counters of one name told apart by the value of one label ("type" -> "ORDER").
class CounterFamily {
public:
    CounterFamily(std::string name, std::string help, std::string label);
    void Add(std::string_view labelValue, uint64_t n = 1);
    uint64_t Value(std::string_view labelValue) const;
    void Render(std::string& out) const;

private:
    const std::string name_, help_, label_;
    mutable std::mutex mutex_;
    std::map<std::string, uint64_t, std::less<>> values_;
};

/// Observations (seconds) in cumulative buckets, with their sum and count.
class Histogram {
public:
    Histogram(std::string name, std::string help, std::vector<double> bounds);
    void Observe(double value);
    uint64_t Count() const { return count_.load(std::memory_order_relaxed); }
    void Render(std::string& out) const;

private:
    const std::string name_, help_;
    const std::vector<double> bounds_;
    std::unique_ptr<std::atomic<uint64_t>[]> buckets_;  // per bound, not cumulative
    std::atomic<uint64_t> count_{0};
    std::atomic<double> sum_{0};
};

/// The counters and histograms of a process: made once at start, counted from any thread,
/// rendered for each scrape in the order they were made.
class Registry {
public:
    CounterFamily& Counter(std::string name, std::string help, std::string label);
    Histogram& AddHistogram(std::string name, std::string help, std::vector<double> bounds);
    void Render(std::string& out) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<CounterFamily>> counters_;
    std::vector<std::unique_ptr<Histogram>> histograms_;
    std::vector<std::pair<bool, size_t>> order_;  // (is histogram, index)
};

}  // namespace kestrix::metrics
