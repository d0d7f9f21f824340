#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

/// What became of one document that went through processing, as the log records it: one
/// information entry per document, whichever road it came by.
struct DocumentTrace {
    std::string origin;     ///< the file or source the caller named ("" when it named none)
    int32_t docId = 0;      ///< 0 when nothing of the document was kept
    std::string type;       ///< the document type, when it was found
    std::string sender;     ///< the sender's user, when it was found
    int16_t status = 0;     ///< the document's status at the end
    bool refused = false;   ///< whether processing raised
    std::string reason;     ///< why, for a refused document (the failure's description)
    std::vector<std::string> recipients;  ///< who was given a publication row
    std::chrono::microseconds duration{0};
};

/// The users given a publication row for document `docId`, in the order of their rows.
std::vector<std::string> PublicationRecipients(int32_t docId);

/// Writes the document's information entry to the platform log. Never raises: a log that
/// cannot be written must not change the document's outcome (the entry goes to stderr).
void LogDocumentTrace(const DocumentTrace& trace) noexcept;

}  // namespace kestrix
