#pragma once

// Shared by the .cpp files of this room only: the parser runtime, the per-call error
// collector, the guarded parse and the http fetch.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/xml.h"

namespace kestrix::xml::detail {

/// Initialises the parser, the transformer and libcurl once per process and installs the
/// process-wide hooks (external entity loader, style sheet loader, generic error sinks) that
/// route everything to the calling thread's collector.
void EnsureInitialized();

/// One message of the parser, the XPath engine or the transformer.
struct Message {
    int level = 0;  // xmlErrorLevel; generic (unstructured) messages count as errors
    int code = 0;   // the library's error number, 0 for generic messages
    int line = 0;
    int column = 0;
    std::string file;
    std::string text;
    std::string srcText;
};

/// Collects every message raised on this thread while it lives (and nothing goes to
/// stderr). Scopes nest: the innermost collects. Restores the thread's previous handlers.
class ErrorScope {
  public:
    ErrorScope();
    ~ErrorScope();
    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;

    const std::vector<Message>& messages() const noexcept { return messages_; }
    /// The first message of at least the given level, or null.
    const Message* First(int minLevel) const;
    /// All message texts of at least the given level, one per line.
    std::string Joined(int minLevel) const;
    void Add(Message m) { messages_.push_back(std::move(m)); }
    /// Text of a generic message in progress (libraries send such messages in pieces).
    void AddGenericPiece(std::string_view piece);

  private:
    std::vector<Message> messages_;
    bool genericOpen_ = false;
    ErrorScope* previous_;
    void* prevStructured_;
    void* prevStructuredCtx_;
    void* prevGeneric_;
    void* prevGenericCtx_;
};

/// How a buffer is parsed.
enum class ParseMode {
    /// A decoded UTF-8 text: its encoding declaration is ignored.
    Text,
    /// Raw bytes: BOM, then declaration, then UTF-8.
    Bytes,
    /// Raw bytes of a style sheet (CDATA merged into text, DTD default attributes applied).
    StyleSheet,
};

/// The outcome of a guarded parse.
struct ParseOutcome {
    xmlDocPtr doc = nullptr;  // owned by the caller; null on failure
    bool hasDeclaration = false;
    ParseError error;
};

/// Parses `data` safely: no external entity, DTD or network access; entity expansion is
/// capped; huge documents allowed. `dict`, when given, becomes the document's dictionary.
ParseOutcome Parse(std::string_view data, ParseMode mode, const std::string& url,
                   xmlDictPtr dict = nullptr);

/// Most attributes (namespace declarations included) one element may carry. The parser
/// checks each attribute of a start tag against all before it, so a start tag with a very
/// large number of attributes takes quadratic time; no business document comes near this.
inline constexpr size_t kMaxAttributesPerElement = 10000;

/// Deepest nesting of elements a document may have: the tree is freed, copied, serialized
/// and transformed by recursion, so a deeper document could exhaust the stack.
inline constexpr size_t kMaxElementDepth = 5000;

/// Checks in one linear pass over the bytes (UTF-8, other ASCII-compatible encodings or
/// UTF-16) that the document keeps within kMaxAttributesPerElement and kMaxElementDepth.
/// Nothing when it does; otherwise the failure, whose reason names the limit, with the line
/// of the offending start tag. It does not judge well-formedness: the parser does that.
std::optional<ParseError> CheckShape(std::string_view data);

/// Reads a whole file. False with a reason when it cannot be read.
bool ReadFile(const std::string& path, std::string& bytes, std::string& reason);

/// Fetches an http(s) address. On success `body` holds the answer and `effectiveUrl` the
/// address after redirects; otherwise `reason` says why (no answer, time-out, status).
bool FetchUrl(const std::string& url, std::chrono::milliseconds timeout, std::string& body,
              std::string& effectiveUrl, std::string& reason);

/// Loads the bytes of a file or http(s) address and parses them; failures to read become a
/// ParseError with ResourceUnavailable.
ParseOutcome LoadSource(const std::string& source, ParseMode mode, const LoadOptions& options,
                        xmlDictPtr dict = nullptr);

/// Makes `options` the time-out source of style sheet includes loaded on this thread while
/// it lives.
class LoadOptionsScope {
  public:
    explicit LoadOptionsScope(const LoadOptions& options);
    ~LoadOptionsScope();
    LoadOptionsScope(const LoadOptionsScope&) = delete;
    LoadOptionsScope& operator=(const LoadOptionsScope&) = delete;

  private:
    const LoadOptions* previous_;
};

/// A file path for a "file:" URI or a plain path (percent escapes decoded).
std::string PathFromUri(std::string_view uri);

}  // namespace kestrix::xml::detail
