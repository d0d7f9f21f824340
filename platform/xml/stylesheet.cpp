#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include "platform/xml/detail.h"
#include "platform/xml/statistics.h"

namespace kestrix::xml {
namespace {

using detail::ErrorScope;

constexpr const char* kTransformSource = "XslStyleSheet.Transform";

struct TransformContextFree {
    void operator()(xsltTransformContextPtr c) const { xsltFreeTransformContext(c); }
};
struct SecurityPrefsFree {
    void operator()(xsltSecurityPrefsPtr p) const { xsltFreeSecurityPrefs(p); }
};
struct DocFree {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};

/// CDATA sections of a sheet are plain text to the compiler.
void CDataToText(xmlNodePtr node) {
    for (xmlNodePtr c = node; c != nullptr; c = c->next) {
        if (c->type == XML_CDATA_SECTION_NODE) c->type = XML_TEXT_NODE;
        if (c->type == XML_ELEMENT_NODE) CDataToText(c->children);
    }
}

/// While it lives, the sheet serializes as UTF-8 whatever its xsl:output names: the result
/// is a string, not bytes for a file.
class Utf8Output {
  public:
    explicit Utf8Output(xsltStylesheetPtr sheet) : sheet_(sheet), saved_(sheet->encoding) {
        sheet_->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));
    }
    ~Utf8Output() {
        xmlFree(sheet_->encoding);
        sheet_->encoding = saved_;
    }
    Utf8Output(const Utf8Output&) = delete;
    Utf8Output& operator=(const Utf8Output&) = delete;

  private:
    xsltStylesheetPtr sheet_;
    xmlChar* saved_;
};

/// Drops the encoding pseudo-attribute of a leading XML declaration.
void DropDeclaredEncoding(std::string& text) {
    if (!text.starts_with("<?xml")) return;
    size_t end = text.find("?>");
    if (end == std::string::npos) return;
    size_t at = text.find(" encoding=\"UTF-8\"");
    if (at != std::string::npos && at < end) text.erase(at, 17);
}

}  // namespace

XslStyleSheet::XslStyleSheet() = default;

XslStyleSheet::~XslStyleSheet() {
    if (sheet_ != nullptr) xsltFreeStylesheet(sheet_);
}

XslStyleSheet::XslStyleSheet(XslStyleSheet&& other) noexcept
    : sheet_(std::exchange(other.sheet_, nullptr)), error_(std::move(other.error_)) {}

XslStyleSheet& XslStyleSheet::operator=(XslStyleSheet&& other) noexcept {
    if (this != &other) {
        if (sheet_ != nullptr) xsltFreeStylesheet(sheet_);
        sheet_ = std::exchange(other.sheet_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

namespace {

/// Compiles a parsed sheet, taking ownership of `doc` in every case.
xsltStylesheetPtr CompileOwned(xmlDocPtr doc, ParseError& error) {
    std::string url = (doc && doc->URL) ? reinterpret_cast<const char*>(doc->URL) : "";
    ErrorScope scope;
    ++detail::MutableThreadParseCounts().styleSheets;
    xsltStylesheetPtr sheet = xsltParseStylesheetDoc(doc);
    if (sheet != nullptr && sheet->errors == 0) {
        error = ParseError{};
        return sheet;
    }
    if (sheet != nullptr)
        xsltFreeStylesheet(sheet);  // frees the document as well
    else
        xmlFreeDoc(doc);
    error = ParseError{};
    error.errorCode = errnum::NotAStyleSheet;
    error.url = url;
    error.reason = scope.Joined(XML_ERR_ERROR);
    if (error.reason.empty()) error.reason = "The document is not an XSLT style sheet";
    if (const detail::Message* first = scope.First(XML_ERR_ERROR); first != nullptr) {
        error.line = first->line;
        error.linepos = first->column;
    }
    return nullptr;
}

}  // namespace

bool XslStyleSheet::Load(const std::string& source, const LoadOptions& options) {
    detail::EnsureInitialized();
    if (sheet_ != nullptr) {
        xsltFreeStylesheet(sheet_);
        sheet_ = nullptr;
    }
    detail::LoadOptionsScope includes(options);
    detail::ParseOutcome out = detail::LoadSource(source, detail::ParseMode::StyleSheet, options);
    if (out.doc == nullptr) {
        error_ = std::move(out.error);
        return false;
    }
    sheet_ = CompileOwned(out.doc, error_);
    return sheet_ != nullptr;
}

bool XslStyleSheet::Compile(const XmlDocument& sheet) {
    detail::EnsureInitialized();
    if (sheet_ != nullptr) {
        xsltFreeStylesheet(sheet_);
        sheet_ = nullptr;
    }
    if (sheet.IsEmpty()) {
        error_ =
            ParseError{errnum::NotAStyleSheet, "The style sheet document is empty", 0, 0, {}, {}};
        return false;
    }
    xmlDocPtr copy = xmlCopyDoc(sheet.handle(), 1);
    if (copy == nullptr) {
        error_ = ParseError{kestrix::errnum::E_FAIL, "Out of memory", 0, 0, sheet.Url(), {}};
        return false;
    }
    CDataToText(copy->children);
    sheet_ = CompileOwned(copy, error_);
    return sheet_ != nullptr;
}

XslStyleSheet XslStyleSheet::FromSource(const std::string& source, const LoadOptions& options) {
    XslStyleSheet sheet;
    if (!sheet.Load(source, options)) throw sheet.error().ToError("XslStyleSheet.Load");
    return sheet;
}

std::string XslStyleSheet::Transform(const XmlDocument& doc, const XslParameters& params) {
    if (sheet_ == nullptr)
        throw Error(errnum::TransformFailed, kTransformSource, "No style sheet is loaded");
    if (doc.IsEmpty())
        throw Error(errnum::TransformFailed, kTransformSource,
                    "The document to transform is empty");
    detail::EnsureInitialized();
    ErrorScope scope;
    auto failure = [&](const char* fallback) {
        std::string reason = scope.Joined(XML_ERR_ERROR);
        return Error(errnum::TransformFailed, kTransformSource, reason.empty() ? fallback : reason);
    };

    std::unique_ptr<xsltTransformContext, TransformContextFree> ctxt(
        xsltNewTransformContext(sheet_, doc.handle()));
    std::unique_ptr<xsltSecurityPrefs, SecurityPrefsFree> prefs(xsltNewSecurityPrefs());
    if (!ctxt || !prefs) throw failure("Cannot create a transformation context");
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    if (xsltSetCtxtSecurityPrefs(prefs.get(), ctxt.get()) != 0)
        throw failure("Cannot restrict the transformation");

    std::vector<const char*> list;
    for (const auto& [name, value] : params) {
        list.push_back(name.c_str());
        list.push_back(value.c_str());
    }
    list.push_back(nullptr);
    if (!params.empty() && xsltQuoteUserParams(ctxt.get(), list.data()) != 0)
        throw failure("Invalid style sheet parameter");

    std::unique_ptr<xmlDoc, DocFree> result(
        xsltApplyStylesheetUser(sheet_, doc.handle(), nullptr, nullptr, nullptr, ctxt.get()));
    if (!result || ctxt->state == XSLT_STATE_ERROR || ctxt->state == XSLT_STATE_STOPPED)
        throw failure("The transformation failed");

    xmlChar* bytes = nullptr;
    int length = 0;
    int rc;
    {
        Utf8Output utf8(sheet_);
        rc = xsltSaveResultToString(&bytes, &length, result.get(), sheet_);
    }
    if (rc != 0) throw failure("Cannot serialize the transformation result");
    std::string text;
    if (bytes != nullptr) {
        text.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
        xmlFree(bytes);
    }
    DropDeclaredEncoding(text);
    return text;
}

}  // namespace kestrix::xml
