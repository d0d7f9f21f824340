#include <curl/curl.h>
#include <libexslt/exslt.h>
#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/globals.h>
#include <libxml/parserInternals.h>
#include <libxslt/documents.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/base/strings.h"
#include "platform/xml/detail.h"
#include "platform/xml/statistics.h"

namespace kestrix::xml::detail {
namespace {

// ---------------------------------------------------------------------------------------
// Per-thread state. Every hook installed once for the process looks here, so that two
// threads parsing at once never see each other's messages or budgets.

thread_local ErrorScope* t_scope = nullptr;
// While positive, the external entity loader refuses everything on this thread.
thread_local int t_blockExternal = 0;

/// How much entity expansion one parse may perform, and what it has spent.
struct EntityBudget {
    size_t limit = 0;
    size_t used = 0;
    bool exceeded = false;
    int line = 0;
    int column = 0;
    std::unordered_map<const xmlEntity*, size_t> sizes;
};
thread_local EntityBudget* t_budget = nullptr;
thread_local xmlParserCtxtPtr t_parserCtxt = nullptr;

// Entity expansion allowed beyond the size of the input itself.
constexpr size_t kEntityAllowance = size_t{16} << 20;
constexpr size_t kSaturated = SIZE_MAX / 4;
// Characters of the offending line kept on each side of the fault.
constexpr size_t kSourceContext = 200;

// Set once, inside std::call_once, before any hook can run; never written again.
xmlExternalEntityLoader g_defaultLoader = nullptr;

std::string TrimmedMessage(const char* text) {
    if (text == nullptr) return {};
    return Trim(text);
}

/// The text of the line around `cur` inside [base, end), cut at kSourceContext characters on
/// either side and kept on UTF-8 character boundaries.
std::string SourceLine(const xmlChar* base, const xmlChar* cur, const xmlChar* end) {
    if (base == nullptr || cur == nullptr || end == nullptr || cur < base || cur > end) return {};
    const xmlChar* from = cur;
    while (from > base && from[-1] != '\n' && from[-1] != '\r' &&
           static_cast<size_t>(cur - from) < kSourceContext)
        --from;
    while (from < cur && (*from & 0xC0) == 0x80) ++from;
    const xmlChar* to = cur;
    while (to < end && *to != '\n' && *to != '\r' && *to != 0 &&
           static_cast<size_t>(to - cur) < kSourceContext)
        ++to;
    while (to > cur && to < end && (*to & 0xC0) == 0x80) --to;
    return std::string(reinterpret_cast<const char*>(from), static_cast<size_t>(to - from));
}

void StructuredSink(void*, xmlErrorPtr error) {
    if (t_scope == nullptr || error == nullptr) return;
    Message m;
    m.level = error->level;
    m.code = error->code;
    m.line = error->line;
    m.column = error->int2;
    if (error->file != nullptr) m.file = error->file;
    m.text = TrimmedMessage(error->message);
    // Only a context we know to be our own parser's is looked into.
    if ((error->domain == XML_FROM_PARSER || error->domain == XML_FROM_NAMESPACE) &&
        error->ctxt != nullptr && error->ctxt == t_parserCtxt) {
        xmlParserInputPtr input = t_parserCtxt->input;
        if (input != nullptr) m.srcText = SourceLine(input->base, input->cur, input->end);
    }
    t_scope->Add(std::move(m));
}

void GenericSink(void*, const char* format, ...) {
    if (t_scope == nullptr || format == nullptr) return;
    char small[1024];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        t_scope->AddGenericPiece(std::string_view(small, static_cast<size_t>(n)));
    } else {
        std::string big(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), format, copy);
        big.resize(static_cast<size_t>(n));
        t_scope->AddGenericPiece(big);
    }
    va_end(copy);
}

void DebugSink(void*, const char*, ...) {}

xmlParserInputPtr GuardedEntityLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
    if (t_blockExternal > 0) {
        if (t_scope != nullptr) {
            Message m;
            m.level = XML_ERR_WARNING;
            m.code = XML_IO_LOAD_ERROR;
            m.text = std::string("External entity not loaded: ") + (url ? url : (id ? id : ""));
            t_scope->Add(std::move(m));
        }
        return nullptr;
    }
    return g_defaultLoader(url, id, ctxt);
}

// ---------------------------------------------------------------------------------------
// Entity expansion budget. The parser substitutes entities; each reference is charged the
// full size of its expansion before the parser sees the entity, so that nested or repeated
// references cannot blow a small document up to gigabytes.

size_t AddSaturated(size_t a, size_t b) { return (a > kSaturated - b) ? kSaturated : a + b; }

size_t ExpandedSize(const xmlEntity* ent, xmlDocPtr doc, EntityBudget& budget,
                    std::unordered_set<const xmlEntity*>& open, int depth) {
    if (auto it = budget.sizes.find(ent); it != budget.sizes.end()) return it->second;
    if (depth > 40 || open.count(ent) != 0) return kSaturated;
    open.insert(ent);
    size_t total = 0;
    const char* p = reinterpret_cast<const char*>(ent->content);
    const char* end = p ? p + std::strlen(p) : p;
    while (p != nullptr && p < end && total < kSaturated) {
        const char* amp =
            static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
        if (amp == nullptr) {
            total = AddSaturated(total, static_cast<size_t>(end - p));
            break;
        }
        total = AddSaturated(total, static_cast<size_t>(amp - p));
        const char* semi =
            static_cast<const char*>(std::memchr(amp, ';', static_cast<size_t>(end - amp)));
        if (semi == nullptr) {
            total = AddSaturated(total, static_cast<size_t>(end - amp));
            break;
        }
        std::string name(amp + 1, semi);
        const xmlEntity* inner = nullptr;
        if (!name.empty() && name[0] != '#' &&
            xmlGetPredefinedEntity(reinterpret_cast<const xmlChar*>(name.c_str())) == nullptr)
            inner = xmlGetDocEntity(doc, reinterpret_cast<const xmlChar*>(name.c_str()));
        if (inner != nullptr && inner->etype == XML_INTERNAL_GENERAL_ENTITY)
            total = AddSaturated(total, ExpandedSize(inner, doc, budget, open, depth + 1));
        else
            total = AddSaturated(total, static_cast<size_t>(semi - amp + 1));
        p = semi + 1;
    }
    open.erase(ent);
    budget.sizes.emplace(ent, total);
    return total;
}

xmlEntityPtr GuardedGetEntity(void* ctx, const xmlChar* name) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    EntityBudget* budget = t_budget;
    if (budget != nullptr && budget->exceeded) return nullptr;
    xmlEntityPtr ent = xmlSAX2GetEntity(ctx, name);
    if (ent == nullptr || budget == nullptr || ctxt != t_parserCtxt) return ent;
    if (ent->etype != XML_INTERNAL_GENERAL_ENTITY) return ent;
    std::unordered_set<const xmlEntity*> open;
    budget->used = AddSaturated(budget->used, ExpandedSize(ent, ctxt->myDoc, *budget, open, 0));
    if (budget->used > budget->limit) {
        budget->exceeded = true;
        if (ctxt->input != nullptr) {
            budget->line = ctxt->input->line;
            budget->column = ctxt->input->col;
        }
        xmlStopParser(ctxt);
        return nullptr;
    }
    return ent;
}

// ---------------------------------------------------------------------------------------
// Style sheet loader: includes, imports and document() go through our own guarded loading,
// which also knows http(s).

thread_local const LoadOptions* t_loadOptions = nullptr;

xmlDocPtr StyleSheetLoader(const xmlChar* uri, xmlDictPtr dict, int, void*, xsltLoadType type) {
    if (uri == nullptr) return nullptr;
    std::string source(reinterpret_cast<const char*>(uri));
    LoadOptions defaults;
    const LoadOptions& options = t_loadOptions ? *t_loadOptions : defaults;
    ParseMode mode = (type == XSLT_LOAD_DOCUMENT) ? ParseMode::Bytes : ParseMode::StyleSheet;
    ParseOutcome out = LoadSource(source, mode, options, dict);
    if (out.doc == nullptr && t_scope != nullptr) {
        Message m;
        m.level = XML_ERR_FATAL;
        m.code = out.error.errorCode;
        m.line = out.error.line;
        m.column = out.error.linepos;
        m.file = source;
        m.text = "Cannot load '" + source + "': " + out.error.Describe();
        t_scope->Add(std::move(m));
    }
    return out.doc;
}

struct ParserCtxtDeleter {
    void operator()(xmlParserCtxtPtr p) const { xmlFreeParserCtxt(p); }
};

/// Marks the thread as inside a guarded parse for its lifetime.
class ParseGuard {
  public:
    ParseGuard(EntityBudget* budget, xmlParserCtxtPtr ctxt)
        : prevBudget_(t_budget), prevCtxt_(t_parserCtxt) {
        t_budget = budget;
        t_parserCtxt = ctxt;
        ++t_blockExternal;
    }
    ~ParseGuard() {
        --t_blockExternal;
        t_budget = prevBudget_;
        t_parserCtxt = prevCtxt_;
    }
    ParseGuard(const ParseGuard&) = delete;
    ParseGuard& operator=(const ParseGuard&) = delete;

  private:
    EntityBudget* prevBudget_;
    xmlParserCtxtPtr prevCtxt_;
};

bool StartsWithDeclaration(std::string_view d) {
    auto blankAt = [&](size_t i, size_t width, bool bigEndian) {
        if (d.size() < i + width) return false;
        char c = width == 1 ? d[i] : (bigEndian ? d[i + 1] : d[i]);
        if (width == 2 && (bigEndian ? d[i] : d[i + 1]) != '\0') return false;
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    };
    auto matches = [&](size_t start, size_t width, bool bigEndian) {
        static constexpr char kDecl[] = "<?xml";
        for (size_t k = 0; k < 5; ++k) {
            size_t i = start + k * width;
            if (d.size() < i + width) return false;
            if (width == 1) {
                if (d[i] != kDecl[k]) return false;
            } else {
                char hi = bigEndian ? d[i] : d[i + 1];
                char lo = bigEndian ? d[i + 1] : d[i];
                if (hi != '\0' || lo != kDecl[k]) return false;
            }
        }
        return blankAt(start + 5 * width, width, bigEndian);
    };
    if (d.substr(0, 3) == "\xEF\xBB\xBF") return matches(3, 1, false);
    if (d.substr(0, 2) == "\xFF\xFE") return matches(2, 2, false);
    if (d.substr(0, 2) == "\xFE\xFF") return matches(2, 2, true);
    return matches(0, 1, false) || matches(0, 2, false) || matches(0, 2, true);
}

size_t WriteToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// -----------------------------------------------------------------------------------------

void EnsureInitialized() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        g_defaultLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(GuardedEntityLoader);
        // Threads started later begin with our sinks; a message outside a call is dropped.
        xmlThrDefSetStructuredErrorFunc(nullptr, StructuredSink);
        xmlThrDefSetGenericErrorFunc(nullptr, GenericSink);
        xsltInit();
        exsltRegisterAll();
        xsltSetGenericErrorFunc(nullptr, GenericSink);
        xsltSetGenericDebugFunc(nullptr, DebugSink);
        xsltSetLoaderFunc(StyleSheetLoader);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

ErrorScope::ErrorScope()
    : previous_(t_scope),
      prevStructured_(reinterpret_cast<void*>(xmlStructuredError)),
      prevStructuredCtx_(xmlStructuredErrorContext),
      prevGeneric_(reinterpret_cast<void*>(xmlGenericError)),
      prevGenericCtx_(xmlGenericErrorContext) {
    t_scope = this;
    xmlSetStructuredErrorFunc(nullptr, StructuredSink);
    xmlSetGenericErrorFunc(nullptr, GenericSink);
}

ErrorScope::~ErrorScope() {
    t_scope = previous_;
    xmlSetStructuredErrorFunc(prevStructuredCtx_,
                              reinterpret_cast<xmlStructuredErrorFunc>(prevStructured_));
    xmlSetGenericErrorFunc(prevGenericCtx_, reinterpret_cast<xmlGenericErrorFunc>(prevGeneric_));
}

const Message* ErrorScope::First(int minLevel) const {
    for (const Message& m : messages_)
        if (m.level >= minLevel) return &m;
    return nullptr;
}

std::string ErrorScope::Joined(int minLevel) const {
    std::string out;
    for (const Message& m : messages_) {
        if (m.level < minLevel || m.text.empty()) continue;
        if (!out.empty()) out += '\n';
        out += m.text;
    }
    return out;
}

void ErrorScope::AddGenericPiece(std::string_view piece) {
    if (!genericOpen_) {
        Message m;
        m.level = XML_ERR_ERROR;
        messages_.push_back(std::move(m));
        genericOpen_ = true;
    }
    Message& m = messages_.back();
    m.text.append(piece);
    if (!piece.empty() && piece.back() == '\n') {
        genericOpen_ = false;
        m.text = Trim(m.text);
        if (m.text.empty()) messages_.pop_back();
    }
}

ParseOutcome Parse(std::string_view data, ParseMode mode, const std::string& url, xmlDictPtr dict) {
    EnsureInitialized();
    ++MutableThreadParseCounts().documents;
    ParseOutcome out;
    out.error.url = url;
    if (data.size() > static_cast<size_t>(INT_MAX)) {
        out.error.errorCode = errnum::ParseErrorBase + XML_ERR_INTERNAL_ERROR;
        out.error.reason = "The document is larger than 2 GiB (" + std::to_string(data.size()) +
                           " bytes): the parser takes at most " + std::to_string(INT_MAX) +
                           " bytes.";
        return out;
    }
    if (mode == ParseMode::Text && data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    out.hasDeclaration = StartsWithDeclaration(data);
    if (std::optional<ParseError> refused = CheckShape(data)) {
        out.error = std::move(*refused);
        out.error.url = url;
        return out;
    }

    ErrorScope scope;
    std::unique_ptr<xmlParserCtxt, ParserCtxtDeleter> ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        out.error.errorCode = errnum::ParseErrorBase + XML_ERR_NO_MEMORY;
        out.error.reason = "Out of memory";
        return out;
    }
    if (dict != nullptr) {
        xmlDictFree(ctxt->dict);
        ctxt->dict = dict;
        xmlDictReference(dict);
    }
    ctxt->sax->getEntity = GuardedGetEntity;
    EntityBudget budget;
    budget.limit = AddSaturated(kEntityAllowance, data.size());

    int options = XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_HUGE | XML_PARSE_BIG_LINES;
    const char* encoding = nullptr;
    if (mode == ParseMode::Text) {
        options |= XML_PARSE_IGNORE_ENC;
        encoding = "UTF-8";
    } else if (mode == ParseMode::StyleSheet) {
        options |= XML_PARSE_NOCDATA | XML_PARSE_DTDATTR;
    }

    xmlDocPtr doc = nullptr;
    {
        ParseGuard guard(&budget, ctxt.get());
        doc = xmlCtxtReadMemory(ctxt.get(), data.data(), static_cast<int>(data.size()),
                                url.empty() ? nullptr : url.c_str(), encoding, options);
    }
    bool failed = doc == nullptr || !ctxt->wellFormed || !ctxt->nsWellFormed || budget.exceeded;
    if (!failed) {
        out.doc = doc;
        return out;
    }
    if (doc != nullptr) xmlFreeDoc(doc);

    if (budget.exceeded) {
        out.error.errorCode = errnum::ParseErrorBase + XML_ERR_ENTITY_LOOP;
        out.error.reason = "Entity expansion exceeds the allowed size";
        out.error.line = budget.line;
        out.error.linepos = budget.column;
        return out;
    }
    const Message* first = scope.First(XML_ERR_FATAL);
    if (first == nullptr) first = scope.First(XML_ERR_ERROR);
    if (first != nullptr) {
        out.error.errorCode = errnum::ParseErrorBase + (first->code != 0 ? first->code : 1);
        out.error.reason = first->text;
        out.error.line = first->line;
        out.error.linepos = first->column;
        out.error.srcText = first->srcText;
    } else {
        out.error.errorCode = errnum::ParseErrorBase + XML_ERR_INTERNAL_ERROR;
        out.error.reason = "The document could not be parsed";
    }
    if (out.error.reason.empty()) out.error.reason = "The document could not be parsed";
    return out;
}

bool ReadFile(const std::string& path, std::string& bytes, std::string& reason) {
    std::error_code ec;
    std::filesystem::path p(path);
    if (!std::filesystem::is_regular_file(p, ec)) {
        reason = std::filesystem::exists(p, ec) ? "Not a file: " + path : "File not found: " + path;
        return false;
    }
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        reason = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    auto size = std::filesystem::file_size(p, ec);
    if (ec) {
        reason = "Cannot read " + path + ": " + ec.message();
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    if (static_cast<uintmax_t>(in.gcount()) != size) {
        bytes.resize(static_cast<size_t>(in.gcount()));
        if (in.bad()) {
            reason = "Cannot read " + path;
            return false;
        }
    }
    return true;
}

bool FetchUrl(const std::string& url, std::chrono::milliseconds timeout, std::string& body,
              std::string& effectiveUrl, std::string& reason) {
    EnsureInitialized();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        reason = "Cannot create an HTTP client";
        return false;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    long ms = static_cast<long>(timeout.count() > 0 ? timeout.count() : 1);
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, ms);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, ms);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteToString);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    body.clear();
    CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK) {
        reason =
            "Cannot fetch " + url + ": " + (errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
        body.clear();
        return false;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        reason =
            "Cannot fetch " + url + ": the server answered HTTP status " + std::to_string(status);
        body.clear();
        return false;
    }
    char* effective = nullptr;
    curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective);
    effectiveUrl = effective ? effective : url;
    return true;
}

std::string PathFromUri(std::string_view uri) {
    std::string_view rest = uri;
    if (IStartsWith(rest, "file://localhost/"))
        rest.remove_prefix(16);
    else if (IStartsWith(rest, "file:///"))
        rest.remove_prefix(7);
    else if (IStartsWith(rest, "file:/"))
        rest.remove_prefix(5);
    else
        return std::string(uri);
    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
            HexValue(rest[i + 2]) >= 0) {
            path += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

ParseOutcome LoadSource(const std::string& source, ParseMode mode, const LoadOptions& options,
                        xmlDictPtr dict) {
    std::string bytes, reason;
    if (IsHttpAddress(source)) {
        std::string effective;
        if (!FetchUrl(source, options.timeout, bytes, effective, reason)) {
            ParseOutcome out;
            out.error = ParseError{errnum::ResourceUnavailable, reason, 0, 0, source, {}};
            return out;
        }
        return Parse(bytes, mode, effective, dict);
    }
    std::string path = PathFromUri(source);
    // A base joined with a relative reference comes back with escapes ("my%20dir").
    if (!std::filesystem::exists(path) && path.find('%') != std::string::npos)
        path = PathFromUri("file://" + (path.starts_with('/') ? path : "/" + path));
    if (!ReadFile(path, bytes, reason)) {
        ParseOutcome out;
        out.error = ParseError{errnum::ResourceUnavailable, reason, 0, 0, source, {}};
        return out;
    }
    return Parse(bytes, mode, path, dict);
}

/// Makes `options` the time-out source of includes loaded on this thread while it lives.
LoadOptionsScope::LoadOptionsScope(const LoadOptions& options) : previous_(t_loadOptions) {
    t_loadOptions = &options;
}
LoadOptionsScope::~LoadOptionsScope() { t_loadOptions = previous_; }

}  // namespace kestrix::xml::detail

namespace kestrix::xml {

bool IsHttpAddress(std::string_view source) {
    return IStartsWith(source, "http://") || IStartsWith(source, "https://");
}

std::string ParseError::Describe() const {
    if (!failed()) return {};
    std::string out = reason.empty() ? std::string("Unknown failure") : reason;
    std::string where;
    auto add = [&](const std::string& part) {
        if (!where.empty()) where += ", ";
        where += part;
    };
    if (line > 0) add("line " + std::to_string(line));
    if (linepos > 0) add("column " + std::to_string(linepos));
    if (!url.empty()) add(url);
    if (!where.empty()) out += " (" + where + ")";
    return out;
}

Error ParseError::ToError(std::string source) const {
    return Error(errorCode != 0 ? errorCode : kestrix::errnum::E_FAIL, std::move(source),
                 Describe());
}

}  // namespace kestrix::xml
