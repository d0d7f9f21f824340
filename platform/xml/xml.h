#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/object.h"

// The parser's own types stay out of sight: callers see only these two opaque names.
struct _xmlDoc;
struct _xmlNode;
struct _xsltStylesheet;

namespace kestrix::xml {

/// Error numbers of this room. A parse failure carries `ParseErrorBase` plus the parser's own
/// error number, so that two different faults never share a number.
namespace errnum {
/// Base of every parse failure; the parser's error number is added to it.
inline constexpr int32_t ParseErrorBase = static_cast<int32_t>(0x80A30000u);
/// A file that cannot be read, or an address that does not answer, answers an error status
/// or does not answer in time.
inline constexpr int32_t ResourceUnavailable = static_cast<int32_t>(0x80A3F001u);
/// A document that is well-formed XML but no style sheet.
inline constexpr int32_t NotAStyleSheet = static_cast<int32_t>(0x80A3F002u);
/// A transformation that stopped: a terminating message, an unknown function, a forbidden
/// write.
inline constexpr int32_t TransformFailed = static_cast<int32_t>(0x80A3F003u);
/// An XPath expression that does not compile or cannot be evaluated.
inline constexpr int32_t InvalidXPath = static_cast<int32_t>(0x80A3F004u);
}  // namespace errnum

/// Why a document or style sheet did not load. `errorCode` is 0 after a successful load.
/// Lines and columns count from 1; `url` is the file or address that was loaded (empty for a
/// text); `srcText` is the text of the offending line, cut to a few hundred characters
/// around the fault when the line is longer.
struct ParseError {
    int32_t errorCode = 0;
    std::string reason;
    int32_t line = 0;
    int32_t linepos = 0;
    std::string url;
    std::string srcText;

    /// True when the load failed.
    bool failed() const noexcept { return errorCode != 0; }
    /// One line for logs and exceptions: "reason (line L, column C, url)"; "" after success.
    std::string Describe() const;
    /// The failure as an `Error` with the given source.
    Error ToError(std::string source) const;
};

/// How documents and style sheets are fetched from http(s) addresses.
struct LoadOptions {
    /// Limit of the whole fetch (connect and transfer); an address that does not answer
    /// within it is a load failure.
    std::chrono::milliseconds timeout{60000};
};

/// The kind of a node.
enum class NodeType {
    Element,
    Attribute,
    Text,
    CData,
    Comment,
    ProcessingInstruction,
    Document,
    Other
};

/// Namespace prefixes an XPath expression may use: pairs of prefix and namespace URI.
using Namespaces = std::vector<std::pair<std::string, std::string>>;

class XPathResult;

/// A light, non-owning handle on a node of an `XmlDocument`. It stays valid while its
/// document lives and the node is not removed; a default-constructed handle is null and
/// answers empty values.
class XmlNode {
  public:
    XmlNode() = default;
    explicit XmlNode(_xmlNode* node) : node_(node) {}

    bool isNull() const noexcept { return node_ == nullptr; }
    explicit operator bool() const noexcept { return node_ != nullptr; }
    NodeType type() const;

    /// Qualified name ("prefix:local") of an element, attribute or processing instruction;
    /// "#text", "#cdata-section", "#comment", "#document" for the others.
    std::string Name() const;
    /// The concatenated text of the node and all its descendants (an attribute's value).
    std::string Text() const;
    /// Replaces the node's content by one text (taken literally: "&amp;" stays five
    /// characters). On an element every child is removed first.
    void SetText(std::string_view text);

    /// Value of the attribute with this qualified name, or nothing when absent.
    std::optional<std::string> Attribute(std::string_view name) const;
    /// Sets (adds or replaces) the attribute with this qualified name.
    void SetAttribute(std::string_view name, std::string_view value);
    /// Removes the attribute; false when it was absent.
    bool RemoveAttribute(std::string_view name);
    /// The attributes as (qualified name, value), in document order.
    std::vector<std::pair<std::string, std::string>> Attributes() const;

    /// The child elements in document order.
    std::vector<XmlNode> ChildElements() const;
    /// All children (elements, text, comments ...) in document order.
    std::vector<XmlNode> ChildNodes() const;
    /// The parent node (the document node for the document element), null for the document.
    XmlNode Parent() const;

    /// Creates an element with this qualified name (and text, when not empty) and appends it
    /// as the last child. A prefix that is declared in scope binds the element to its
    /// namespace; otherwise the element takes the default namespace in scope.
    XmlNode AppendElement(std::string_view name, std::string_view text = {});
    /// Moves `child`, a node of the same document, to be the last child of this node and
    /// returns it. A node from another document is copied instead, and the copy returned.
    XmlNode AppendChild(XmlNode child);
    /// Unlinks this node from its document and frees it with all its descendants. Every
    /// handle on it or inside it becomes invalid.
    void Remove();

    /// The node's markup as UTF-8 text (for an attribute: name="value").
    std::string Xml() const;

    /// The first node (in document order) that `expression` selects from this node.
    XPathResult SelectSingleNode(std::string_view expression, const Namespaces& ns = {}) const;
    /// All nodes (in document order) that `expression` selects from this node.
    XPathResult SelectNodes(std::string_view expression, const Namespaces& ns = {}) const;

    /// The underlying node, for code inside platform/.
    _xmlNode* handle() const noexcept { return node_; }
    friend bool operator==(const XmlNode& a, const XmlNode& b) { return a.node_ == b.node_; }

  private:
    _xmlNode* node_ = nullptr;
};

/// What an XPath query gave: an expression that does not compile or cannot be evaluated is
/// told apart from one that selects nothing.
enum class XPathStatus {
    /// The expression was evaluated; `nodes` holds what it selected (possibly nothing).
    Ok,
    /// The expression does not compile or failed at evaluation; `error` says why.
    InvalidExpression,
    /// The expression gives a number, string or boolean; `value` holds its string form.
    NotANodeSet,
};

/// The outcome of an XPath query.
class XPathResult {
  public:
    XPathStatus status = XPathStatus::Ok;
    /// The parser's reason when the status is InvalidExpression.
    std::string error;
    /// The selected nodes in document order.
    std::vector<XmlNode> nodes;
    /// The string value of a result that is no node set.
    std::string value;

    bool ok() const noexcept { return status == XPathStatus::Ok; }
    bool empty() const noexcept { return nodes.empty(); }
    /// The first selected node; null when nothing was selected or the query failed.
    XmlNode first() const { return nodes.empty() ? XmlNode{} : nodes.front(); }
};

/// An XML document: move-only owner of a parsed tree. Loading reports failure by its return
/// value and `parseError()`, never by an exception (the `From...` factories are the
/// throwing convenience). A failed load leaves the document empty.
///
/// Parsing is safe for untrusted input: no external entity or DTD is fetched (neither from
/// files nor from the network); entities declared inside the document are expanded, with a
/// ceiling on the expanded size; very large documents (hundreds of MB, long text nodes)
/// load. An object is used by one thread at a time; different documents on different
/// threads are independent.
class XmlDocument : public Object {
  public:
    /// An empty document (no content, `Xml()` is "").
    XmlDocument();
    ~XmlDocument() override;
    XmlDocument(XmlDocument&& other) noexcept;
    XmlDocument& operator=(XmlDocument&& other) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    /// Parses a text that is already decoded (UTF-8). An encoding named in its declaration
    /// is ignored. `baseUrl`, when given, is the address relative references resolve against.
    bool LoadXml(std::string_view text, std::string_view baseUrl = {});
    /// Parses raw bytes whose encoding the bytes decide: a byte order mark (UTF-8, UTF-16 LE
    /// or BE), else the encoding declaration, else UTF-8. `url` names the source.
    bool LoadBytes(std::string_view bytes, std::string_view url = {});
    /// Reads and parses a file (the bytes decide the encoding, as in `LoadBytes`).
    bool LoadFile(const std::string& path);
    /// Fetches an http or https address and parses the answer. An address that does not
    /// answer, answers an error status or exceeds the time-out is a load failure.
    bool LoadUrl(const std::string& url, const LoadOptions& options = {});
    /// `LoadUrl` when `source` begins with "http://" or "https://" (any case), else `LoadFile`.
    bool Load(const std::string& source, const LoadOptions& options = {});

    /// Why the last load failed (errorCode 0 after a successful one).
    const ParseError& parseError() const noexcept { return parseError_; }

    /// Parses a text; a parse failure raises `Error` with the parse error's number.
    static XmlDocument FromText(std::string_view text);
    /// Loads a file or http(s) address; a failure raises `Error` with the parse error's number.
    static XmlDocument FromSource(const std::string& source, const LoadOptions& options = {});

    /// True when the document holds no tree (new, or after a failed load).
    bool IsEmpty() const noexcept { return doc_ == nullptr; }
    /// The document element, null when empty.
    XmlNode DocumentElement() const;
    /// Replaces the whole content by a new document element with this name and returns it.
    XmlNode CreateDocumentElement(std::string_view name);
    /// The file or address the document was loaded from (empty for a text).
    std::string Url() const;

    /// The whole document as UTF-8 text. The XML declaration is written only when the source
    /// had one, and without an encoding (the text is a string, not bytes); "" when empty.
    std::string Xml() const;

    /// The first node that `expression` selects from the document.
    XPathResult SelectSingleNode(std::string_view expression, const Namespaces& ns = {}) const;
    /// All nodes that `expression` selects from the document.
    XPathResult SelectNodes(std::string_view expression, const Namespaces& ns = {}) const;

    /// A deep copy (an empty document copies to an empty one).
    XmlDocument Clone() const;

    /// The underlying tree, for code inside platform/.
    _xmlDoc* handle() const noexcept { return doc_; }

  private:
    void Reset(_xmlDoc* doc, bool hasDeclaration);

    _xmlDoc* doc_ = nullptr;
    bool hasDeclaration_ = false;
    ParseError parseError_;
};

/// String parameters of a transformation: (name, value) pairs; values are passed as strings,
/// never evaluated as expressions.
using XslParameters = std::vector<std::pair<std::string, std::string>>;

/// A compiled XSLT style sheet: move-only. Includes, imports and document() calls resolve
/// relative to the sheet's own file or address (http too). A transformation may read files
/// and addresses but never write a file or create a folder. An object is used by one thread
/// at a time.
class XslStyleSheet {
  public:
    XslStyleSheet();
    ~XslStyleSheet();
    XslStyleSheet(XslStyleSheet&& other) noexcept;
    XslStyleSheet& operator=(XslStyleSheet&& other) noexcept;
    XslStyleSheet(const XslStyleSheet&) = delete;
    XslStyleSheet& operator=(const XslStyleSheet&) = delete;

    /// Loads and compiles the style sheet at a path or an http(s) address. A sheet that is
    /// missing, not XML or not XSLT (or whose includes fail) gives false and `error()`.
    bool Load(const std::string& source, const LoadOptions& options = {});
    /// Compiles a copy of a parsed document (its URL is the base of its includes).
    bool Compile(const XmlDocument& sheet);
    /// Why the last `Load` or `Compile` failed (errorCode 0 after success).
    const ParseError& error() const noexcept { return error_; }
    bool IsLoaded() const noexcept { return sheet_ != nullptr; }

    /// `Load`, raising `Error` on failure.
    static XslStyleSheet FromSource(const std::string& source, const LoadOptions& options = {});

    /// Transforms `doc` and returns the output as UTF-8 text, serialized as the sheet's
    /// xsl:output asks (method xml, html or text; indentation; omitted declaration). An XML
    /// declaration in the output carries no encoding, for the same reason as
    /// `XmlDocument::Xml`. A run-time failure raises `Error` (TransformFailed) with the reason.
    std::string Transform(const XmlDocument& doc, const XslParameters& params = {});

  private:
    _xsltStylesheet* sheet_ = nullptr;
    ParseError error_;
};

/// True when `source` begins with "http://" or "https://", ignoring case.
bool IsHttpAddress(std::string_view source);

}  // namespace kestrix::xml
