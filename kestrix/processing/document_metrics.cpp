#include "kestrix/processing/document_metrics.h"

namespace kestrix {

DocumentMetrics::DocumentMetrics(metrics::Registry& registry)
    : processed_(registry.Counter("kestrix_documents_processed_total",
                                  "Documents processed and kept, by document type.", "type")),
      refused_(registry.Counter("kestrix_documents_refused_total",
                                "Documents refused by processing, by document type (\"unknown\" before the type "
                                "was found).",
                                "type")),
      seconds_(registry.AddHistogram("kestrix_document_processing_seconds",
                                     "Time that processing took per document, in seconds.",
                                     {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10})) {}

void DocumentMetrics::Record(const DocumentTrace& trace) noexcept {
    try {
        const std::string_view type = trace.type.empty() ? std::string_view("unknown") : std::string_view(trace.type);
        (trace.refused ? refused_ : processed_).Add(type);
        seconds_.Observe(static_cast<double>(trace.duration.count()) / 1e6);
    } catch (...) {
        // A count that cannot be kept never changes the document's outcome.
    }
}

}  // namespace kestrix
