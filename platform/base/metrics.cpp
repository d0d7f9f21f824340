#include "platform/base/metrics.h"

#include <cmath>
#include <cstdio>

namespace kestrix::metrics {

namespace {

std::string Number(double value) {
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    if (std::isnan(value)) return "NaN";
    if (value == std::floor(value) && std::fabs(value) < 1e15) return std::to_string(static_cast<long long>(value));
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

/// Help text with backslash and line feed escaped.
std::string EscapeHelp(std::string_view help) {
    std::string out;
    for (char c : help) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

void WriteHeader(std::string& out, std::string_view name, std::string_view help, std::string_view type) {
    out.append("# HELP ").append(name).append(" ").append(EscapeHelp(help)).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void WriteSample(std::string& out, std::string_view name,
                 const std::vector<std::pair<std::string, std::string>>& labels, double value) {
    out.append(name);
    if (!labels.empty()) {
        out += '{';
        for (size_t i = 0; i < labels.size(); ++i)
            out.append(i ? "," : "").append(labels[i].first).append("=\"").append(EscapeLabelValue(labels[i].second)).append("\"");
        out += '}';
    }
    out.append(" ").append(Number(value)).append("\n");
}

CounterFamily::CounterFamily(std::string name, std::string help, std::string label)
    : name_(std::move(name)), help_(std::move(help)), label_(std::move(label)) {}

void CounterFamily::Add(std::string_view labelValue, uint64_t n) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(labelValue);
    if (it == values_.end()) it = values_.emplace(std::string(labelValue), 0).first;
    it->second += n;
}

uint64_t CounterFamily::Value(std::string_view labelValue) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(labelValue);
    return it == values_.end() ? 0 : it->second;
}

void CounterFamily::Render(std::string& out) const {
    WriteHeader(out, name_, help_, "counter");
    std::lock_guard lock(mutex_);
    for (const auto& [value, count] : values_) WriteSample(out, name_, {{label_, value}}, static_cast<double>(count));
}

Histogram::Histogram(std::string name, std::string help, std::vector<double> bounds)
    : name_(std::move(name)), help_(std::move(help)), bounds_(std::move(bounds)),
      buckets_(new std::atomic<uint64_t>[bounds_.size()]) {
    for (size_t i = 0; i < bounds_.size(); ++i) buckets_[i].store(0);
}

void Histogram::Observe(double value) {
    for (size_t i = 0; i < bounds_.size(); ++i)
        if (value <= bounds_[i]) {
            buckets_[i].fetch_add(1, std::memory_order_relaxed);
            break;
        }
    sum_.fetch_add(value, std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
}

void Histogram::Render(std::string& out) const {
    WriteHeader(out, name_, help_, "histogram");
    const uint64_t count = count_.load(std::memory_order_relaxed);
    uint64_t cumulative = 0;
    for (size_t i = 0; i < bounds_.size(); ++i) {
        cumulative += buckets_[i].load(std::memory_order_relaxed);
        // An observation counted between the loads must not make a bucket pass the count.
        WriteSample(out, name_ + "_bucket", {{"le", Number(bounds_[i])}},
                    static_cast<double>(std::min(cumulative, count)));
    }
    WriteSample(out, name_ + "_bucket", {{"le", "+Inf"}}, static_cast<double>(std::max(cumulative, count)));
    WriteSample(out, name_ + "_sum", {}, sum_.load(std::memory_order_relaxed));
    WriteSample(out, name_ + "_count", {}, static_cast<double>(std::max(cumulative, count)));
}

CounterFamily& Registry::Counter(std::string name, std::string help, std::string label) {
    std::lock_guard lock(mutex_);
    counters_.push_back(std::make_unique<CounterFamily>(std::move(name), std::move(help), std::move(label)));
    order_.emplace_back(false, counters_.size() - 1);
    return *counters_.back();
}

Histogram& Registry::AddHistogram(std::string name, std::string help, std::vector<double> bounds) {
    std::lock_guard lock(mutex_);
    histograms_.push_back(std::make_unique<Histogram>(std::move(name), std::move(help), std::move(bounds)));
    order_.emplace_back(true, histograms_.size() - 1);
    return *histograms_.back();
}

void Registry::Render(std::string& out) const {
    std::lock_guard lock(mutex_);
    for (const auto& [histogram, index] : order_) {
        if (histogram) histograms_[index]->Render(out);
        else counters_[index]->Render(out);
    }
}

}  // namespace kestrix::metrics
