#pragma once

#include "kestrix/processing/document_trace.h"
#include "platform/base/metrics.h"

namespace kestrix {

/// What processing counts per document in the registry of the process that hosts it (the
/// service): documents processed and refused by type, and the time each took. Made once by
/// the host and handed to the roads by which documents come in.
class DocumentMetrics {
public:
    explicit DocumentMetrics(metrics::Registry& registry);
    /// Counts one document; never raises.
    void Record(const DocumentTrace& trace) noexcept;

private:
    metrics::CounterFamily& processed_;
    metrics::CounterFamily& refused_;
    metrics::Histogram& seconds_;
};

}  // namespace kestrix
