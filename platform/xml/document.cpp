#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <unordered_map>

#include "platform/base/strings.h"
#include "platform/xml/detail.h"

namespace kestrix::xml {
namespace {

using detail::ErrorScope;

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

/// Takes ownership of a string the library allocated.
std::string Take(xmlChar* s) {
    if (s == nullptr) return {};
    std::string out(reinterpret_cast<const char*>(s));
    xmlFree(s);
    return out;
}

std::string QualifiedName(const xmlChar* prefix, const xmlChar* name) {
    std::string out;
    if (prefix != nullptr && *prefix != 0) {
        out = reinterpret_cast<const char*>(prefix);
        out += ':';
    }
    if (name != nullptr) out += reinterpret_cast<const char*>(name);
    return out;
}

std::string AttributeName(xmlAttrPtr a) {
    return QualifiedName(a->ns ? a->ns->prefix : nullptr, a->name);
}

xmlAttrPtr FindAttribute(xmlNodePtr node, std::string_view name) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return nullptr;
    for (xmlAttrPtr a = node->properties; a != nullptr; a = a->next)
        if (AttributeName(a) == name) return a;
    return nullptr;
}

std::pair<std::string, std::string> SplitName(std::string_view qname) {
    size_t colon = qname.find(':');
    if (colon == std::string_view::npos) return {{}, std::string(qname)};
    return {std::string(qname.substr(0, colon)), std::string(qname.substr(colon + 1))};
}

void RequireLength(std::string_view text) {
    if (text.size() > static_cast<size_t>(INT_MAX))
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.SetText", "The text is larger than 2 GB");
}

/// Replaces every child of an element or attribute by one literal text node.
void ReplaceByText(xmlNodePtr node, std::string_view text) {
    RequireLength(text);
    xmlNodePtr child = node->children;
    while (child != nullptr) {
        xmlNodePtr next = child->next;
        xmlUnlinkNode(child);
        xmlFreeNode(child);
        child = next;
    }
    node->children = node->last = nullptr;
    if (text.empty()) return;
    xmlNodePtr t = xmlNewDocTextLen(node->doc, X(std::string(text)), static_cast<int>(text.size()));
    t->parent = node;
    node->children = node->last = t;
}

struct SaveCtxtCloser {
    void operator()(xmlSaveCtxtPtr s) const { xmlSaveClose(s); }
};

int AppendToString(void* target, const char* data, int length) {
    static_cast<std::string*>(target)->append(data, static_cast<size_t>(length));
    return length;
}

/// Markup of a node (or, for the document node, of all its children) as UTF-8. The output
/// grows in a std::string, so that large documents are not copied over and over.
std::string SaveMarkup(xmlNodePtr node) {
    detail::EnsureInitialized();
    ErrorScope scope;
    std::string out;
    {
        std::unique_ptr<xmlSaveCtxt, SaveCtxtCloser> save(xmlSaveToIO(
            AppendToString, nullptr, &out, "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML));
        if (!save)
            throw Error(kestrix::errnum::E_FAIL, "XmlDocument.Xml",
                        "Cannot serialize the document");
        if (node->type == XML_DOCUMENT_NODE)
            xmlSaveDoc(save.get(), reinterpret_cast<xmlDocPtr>(node));
        else
            xmlSaveTree(save.get(), node);
    }
    return out;
}

struct XPathContextFree {
    void operator()(xmlXPathContextPtr c) const { xmlXPathFreeContext(c); }
};
struct XPathCompFree {
    void operator()(xmlXPathCompExprPtr c) const { xmlXPathFreeCompExpr(c); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObjectPtr o) const { xmlXPathFreeObject(o); }
};

/// Compiled expressions kept per thread at most; past it the kept ones are dropped.
constexpr size_t kKeptExpressions = 256;

/// The calling thread's XPath context and its compiled expressions (without namespaces).
struct XPathThreadState {
    std::unique_ptr<xmlXPathContext, XPathContextFree> context;
    std::unordered_map<std::string, std::unique_ptr<xmlXPathCompExpr, XPathCompFree>> compiled;
};

XPathThreadState& ThreadXPath() {
    thread_local XPathThreadState state;
    return state;
}

XPathResult Evaluate(xmlDocPtr doc, xmlNodePtr context, std::string_view expression,
                     const Namespaces& ns, bool firstOnly) {
    detail::EnsureInitialized();
    XPathResult result;
    ErrorScope scope;
    auto fail = [&](const char* fallback) {
        result.status = XPathStatus::InvalidExpression;
        result.error = scope.Joined(XML_ERR_WARNING);
        if (result.error.empty()) result.error = fallback;
        result.nodes.clear();
        return result;
    };
    std::string expr(expression);
    if (expr.find('\0') != std::string::npos) return fail("Invalid expression");
    // Expressions without namespaces run on the thread's one context and are compiled once:
    // routing asks the same few patterns of every document.
    XPathThreadState& state = ThreadXPath();
    std::unique_ptr<xmlXPathContext, XPathContextFree> own;
    xmlXPathContextPtr ctx = nullptr;
    if (ns.empty()) {
        if (!state.context) state.context.reset(xmlXPathNewContext(nullptr));
        ctx = state.context.get();
        if (ctx) ctx->doc = doc;
    } else {
        own.reset(xmlXPathNewContext(doc));
        ctx = own.get();
    }
    if (!ctx) return fail("Cannot create an XPath context");
    for (const auto& [prefix, uri] : ns)
        if (xmlXPathRegisterNs(ctx, X(prefix), X(uri)) != 0)
            return fail("Invalid namespace prefix");
    std::unique_ptr<xmlXPathCompExpr, XPathCompFree> compiled;
    xmlXPathCompExprPtr comp = nullptr;
    if (ns.empty()) {
        auto kept = state.compiled.find(expr);
        if (kept != state.compiled.end()) {
            comp = kept->second.get();
        } else {
            compiled.reset(xmlXPathCtxtCompile(ctx, X(expr)));
            if (!compiled) return fail("Invalid expression");
            if (state.compiled.size() >= kKeptExpressions) state.compiled.clear();
            comp = state.compiled.emplace(expr, std::move(compiled)).first->second.get();
        }
    } else {
        compiled.reset(xmlXPathCtxtCompile(ctx, X(expr)));
        comp = compiled.get();
    }
    if (!comp) return fail("Invalid expression");
    if (doc == nullptr) return result;
    ctx->node = context != nullptr ? context : reinterpret_cast<xmlNodePtr>(doc);
    std::unique_ptr<xmlXPathObject, XPathObjectFree> obj(xmlXPathCompiledEval(comp, ctx));
    // The thread's context keeps no pointer into this document.
    if (!own) {
        ctx->doc = nullptr;
        ctx->node = nullptr;
    }
    if (!obj) return fail("The expression cannot be evaluated");
    if (obj->type != XPATH_NODESET) {
        result.status = XPathStatus::NotANodeSet;
        result.value = Take(xmlXPathCastToString(obj.get()));
        return result;
    }
    if (xmlNodeSetPtr set = obj->nodesetval; set != nullptr) {
        for (int i = 0; i < set->nodeNr; ++i) {
            xmlNodePtr n = set->nodeTab[i];
            // Namespace nodes are temporary copies that die with the result: left out.
            if (n == nullptr || n->type == XML_NAMESPACE_DECL) continue;
            result.nodes.emplace_back(n);
            if (firstOnly) break;
        }
    }
    return result;
}

bool IsAncestorOrSelf(xmlNodePtr candidate, xmlNodePtr node) {
    for (xmlNodePtr p = node; p != nullptr; p = p->parent)
        if (p == candidate) return true;
    return false;
}

}  // namespace

// ----------------------------------------------------------------------------- XmlNode

NodeType XmlNode::type() const {
    if (node_ == nullptr) return NodeType::Other;
    switch (node_->type) {
        case XML_ELEMENT_NODE:
            return NodeType::Element;
        case XML_ATTRIBUTE_NODE:
            return NodeType::Attribute;
        case XML_TEXT_NODE:
            return NodeType::Text;
        case XML_CDATA_SECTION_NODE:
            return NodeType::CData;
        case XML_COMMENT_NODE:
            return NodeType::Comment;
        case XML_PI_NODE:
            return NodeType::ProcessingInstruction;
        case XML_DOCUMENT_NODE:
            return NodeType::Document;
        default:
            return NodeType::Other;
    }
}

std::string XmlNode::Name() const {
    if (node_ == nullptr) return {};
    switch (node_->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            return QualifiedName(node_->ns ? node_->ns->prefix : nullptr, node_->name);
        case XML_TEXT_NODE:
            return "#text";
        case XML_CDATA_SECTION_NODE:
            return "#cdata-section";
        case XML_COMMENT_NODE:
            return "#comment";
        case XML_DOCUMENT_NODE:
            return "#document";
        default:
            return node_->name ? reinterpret_cast<const char*>(node_->name) : std::string();
    }
}

std::string XmlNode::Text() const {
    if (node_ == nullptr) return {};
    return Take(xmlNodeGetContent(node_));
}

void XmlNode::SetText(std::string_view text) {
    if (node_ == nullptr) return;
    switch (node_->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE:
            ReplaceByText(node_, text);
            break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            RequireLength(text);
            xmlNodeSetContentLen(node_, X(std::string(text)), static_cast<int>(text.size()));
            break;
        default:
            throw Error(kestrix::errnum::E_FAIL, "XmlNode.SetText",
                        "This node has no text of its own");
    }
}

std::optional<std::string> XmlNode::Attribute(std::string_view name) const {
    xmlAttrPtr a = FindAttribute(node_, name);
    if (a == nullptr) return std::nullopt;
    return Take(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a)));
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
    if (node_ == nullptr || node_->type != XML_ELEMENT_NODE)
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.SetAttribute",
                    "Only an element has attributes");
    if (xmlAttrPtr a = FindAttribute(node_, name)) {
        ReplaceByText(reinterpret_cast<xmlNodePtr>(a), value);
        return;
    }
    auto [prefix, local] = SplitName(name);
    std::string v(value);
    if (local.empty())
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.SetAttribute", "Empty attribute name");
    if (prefix == "xmlns" || (prefix.empty() && local == "xmlns")) {
        xmlNewNs(node_, X(v), prefix.empty() ? nullptr : X(local));
        return;
    }
    xmlNsPtr ns = prefix.empty() ? nullptr : xmlSearchNs(node_->doc, node_, X(prefix));
    if (ns != nullptr)
        xmlNewNsProp(node_, ns, X(local), X(v));
    else
        xmlNewProp(node_, X(std::string(name)), X(v));
}

bool XmlNode::RemoveAttribute(std::string_view name) {
    xmlAttrPtr a = FindAttribute(node_, name);
    if (a == nullptr) return false;
    xmlRemoveProp(a);
    return true;
}

std::vector<std::pair<std::string, std::string>> XmlNode::Attributes() const {
    std::vector<std::pair<std::string, std::string>> out;
    if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) return out;
    for (xmlAttrPtr a = node_->properties; a != nullptr; a = a->next)
        out.emplace_back(AttributeName(a),
                         Take(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a))));
    return out;
}

std::vector<XmlNode> XmlNode::ChildElements() const {
    std::vector<XmlNode> out;
    if (node_ == nullptr || node_->type == XML_ATTRIBUTE_NODE) return out;
    for (xmlNodePtr c = node_->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) out.emplace_back(c);
    return out;
}

std::vector<XmlNode> XmlNode::ChildNodes() const {
    std::vector<XmlNode> out;
    if (node_ == nullptr) return out;
    for (xmlNodePtr c = node_->children; c != nullptr; c = c->next)
        if (c->type != XML_DTD_NODE) out.emplace_back(c);
    return out;
}

XmlNode XmlNode::Parent() const { return XmlNode(node_ ? node_->parent : nullptr); }

XmlNode XmlNode::AppendElement(std::string_view name, std::string_view text) {
    if (node_ == nullptr || (node_->type != XML_ELEMENT_NODE && node_->type != XML_DOCUMENT_NODE))
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendElement",
                    "Only an element can hold elements");
    auto [prefix, local] = SplitName(name);
    if (local.empty())
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendElement", "Empty element name");
    xmlDocPtr doc = node_->doc;
    if (node_->type == XML_DOCUMENT_NODE && xmlDocGetRootElement(doc) != nullptr)
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendElement",
                    "The document already has a document element");
    xmlNsPtr ns = nullptr;
    std::string elementName = local;
    if (node_->type == XML_ELEMENT_NODE) {
        ns = xmlSearchNs(doc, node_, prefix.empty() ? nullptr : X(prefix));
        if (ns == nullptr && !prefix.empty()) elementName = std::string(name);
    } else if (!prefix.empty()) {
        elementName = std::string(name);
    }
    xmlNodePtr element = xmlNewDocNode(doc, ns, X(elementName), nullptr);
    if (element == nullptr)
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendElement", "Out of memory");
    if (node_->type == XML_DOCUMENT_NODE)
        xmlDocSetRootElement(doc, element);
    else
        xmlAddChild(node_, element);
    if (!text.empty()) ReplaceByText(element, text);
    return XmlNode(element);
}

XmlNode XmlNode::AppendChild(XmlNode child) {
    xmlNodePtr c = child.node_;
    if (node_ == nullptr || c == nullptr)
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendChild", "Null node");
    if (node_->type != XML_ELEMENT_NODE)
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendChild",
                    "Only an element can hold children");
    switch (c->type) {
        case XML_ELEMENT_NODE:
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
            break;
        default:
            throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendChild",
                        "This kind of node cannot be appended");
    }
    if (c->doc == node_->doc) {
        if (IsAncestorOrSelf(c, node_))
            throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendChild",
                        "A node cannot be appended to itself or its descendants");
        xmlUnlinkNode(c);
    } else {
        c = xmlDocCopyNode(c, node_->doc, 1);
        if (c == nullptr)
            throw Error(kestrix::errnum::E_FAIL, "XmlNode.AppendChild", "Out of memory");
    }
    // Adjacent text nodes merge: the node returned is the one that holds the text now.
    xmlNodePtr added = xmlAddChild(node_, c);
    if (added != nullptr && added->type == XML_ELEMENT_NODE) xmlReconciliateNs(node_->doc, added);
    return XmlNode(added);
}

void XmlNode::Remove() {
    if (node_ == nullptr) return;
    if (node_->type == XML_DOCUMENT_NODE)
        throw Error(kestrix::errnum::E_FAIL, "XmlNode.Remove",
                    "The document node cannot be removed");
    if (node_->type == XML_ATTRIBUTE_NODE) {
        xmlRemoveProp(reinterpret_cast<xmlAttrPtr>(node_));
    } else {
        xmlUnlinkNode(node_);
        xmlFreeNode(node_);
    }
    node_ = nullptr;
}

std::string XmlNode::Xml() const {
    if (node_ == nullptr) return {};
    if (node_->type == XML_ATTRIBUTE_NODE) return Name() + "=\"" + XmlEscape(Text()) + "\"";
    return SaveMarkup(node_);
}

XPathResult XmlNode::SelectSingleNode(std::string_view expression, const Namespaces& ns) const {
    return Evaluate(node_ ? node_->doc : nullptr, node_, expression, ns, true);
}

XPathResult XmlNode::SelectNodes(std::string_view expression, const Namespaces& ns) const {
    return Evaluate(node_ ? node_->doc : nullptr, node_, expression, ns, false);
}

// ------------------------------------------------------------------------- XmlDocument

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() { Reset(nullptr, false); }

XmlDocument::XmlDocument(XmlDocument&& other) noexcept
    : doc_(std::exchange(other.doc_, nullptr)),
      hasDeclaration_(other.hasDeclaration_),
      parseError_(std::move(other.parseError_)) {}

XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept {
    if (this != &other) {
        Reset(std::exchange(other.doc_, nullptr), other.hasDeclaration_);
        parseError_ = std::move(other.parseError_);
    }
    return *this;
}

void XmlDocument::Reset(_xmlDoc* doc, bool hasDeclaration) {
    if (doc_ != nullptr) xmlFreeDoc(doc_);
    doc_ = doc;
    hasDeclaration_ = hasDeclaration;
}

bool XmlDocument::LoadXml(std::string_view text, std::string_view baseUrl) {
    detail::ParseOutcome out = detail::Parse(text, detail::ParseMode::Text, std::string(baseUrl));
    Reset(out.doc, out.hasDeclaration);
    parseError_ = std::move(out.error);
    return !parseError_.failed();
}

bool XmlDocument::LoadBytes(std::string_view bytes, std::string_view url) {
    detail::ParseOutcome out = detail::Parse(bytes, detail::ParseMode::Bytes, std::string(url));
    Reset(out.doc, out.hasDeclaration);
    parseError_ = std::move(out.error);
    return !parseError_.failed();
}

bool XmlDocument::LoadFile(const std::string& path) {
    detail::ParseOutcome out = detail::LoadSource(path, detail::ParseMode::Bytes, LoadOptions{});
    Reset(out.doc, out.hasDeclaration);
    parseError_ = std::move(out.error);
    return !parseError_.failed();
}

bool XmlDocument::LoadUrl(const std::string& url, const LoadOptions& options) {
    detail::ParseOutcome out;
    if (!IsHttpAddress(url)) {
        out.error = ParseError{
            errnum::ResourceUnavailable, "Not an http or https address: " + url, 0, 0, url, {}};
    } else {
        out = detail::LoadSource(url, detail::ParseMode::Bytes, options);
    }
    Reset(out.doc, out.hasDeclaration);
    parseError_ = std::move(out.error);
    return !parseError_.failed();
}

bool XmlDocument::Load(const std::string& source, const LoadOptions& options) {
    return IsHttpAddress(source) ? LoadUrl(source, options) : LoadFile(source);
}

XmlDocument XmlDocument::FromText(std::string_view text) {
    XmlDocument doc;
    if (!doc.LoadXml(text)) throw doc.parseError().ToError("XmlDocument.LoadXml");
    return doc;
}

XmlDocument XmlDocument::FromSource(const std::string& source, const LoadOptions& options) {
    XmlDocument doc;
    if (!doc.Load(source, options)) throw doc.parseError().ToError("XmlDocument.Load");
    return doc;
}

XmlNode XmlDocument::DocumentElement() const {
    return XmlNode(doc_ ? xmlDocGetRootElement(doc_) : nullptr);
}

XmlNode XmlDocument::CreateDocumentElement(std::string_view name) {
    detail::EnsureInitialized();
    xmlDocPtr doc = xmlNewDoc(X("1.0"));
    if (doc == nullptr)
        throw Error(kestrix::errnum::E_FAIL, "XmlDocument.CreateDocumentElement", "Out of memory");
    Reset(doc, false);
    parseError_ = ParseError{};
    return XmlNode(reinterpret_cast<xmlNodePtr>(doc)).AppendElement(name);
}

std::string XmlDocument::Url() const {
    return (doc_ && doc_->URL) ? reinterpret_cast<const char*>(doc_->URL) : std::string();
}

std::string XmlDocument::Xml() const {
    if (doc_ == nullptr) return {};
    std::string out;
    if (hasDeclaration_) {
        out = "<?xml version=\"";
        out += doc_->version ? reinterpret_cast<const char*>(doc_->version) : "1.0";
        out += '"';
        if (doc_->standalone == 1)
            out += " standalone=\"yes\"";
        else if (doc_->standalone == 0)
            out += " standalone=\"no\"";
        out += "?>\n";
    }
    out += SaveMarkup(reinterpret_cast<xmlNodePtr>(doc_));
    return out;
}

XPathResult XmlDocument::SelectSingleNode(std::string_view expression, const Namespaces& ns) const {
    return Evaluate(doc_, nullptr, expression, ns, true);
}

XPathResult XmlDocument::SelectNodes(std::string_view expression, const Namespaces& ns) const {
    return Evaluate(doc_, nullptr, expression, ns, false);
}

XmlDocument XmlDocument::Clone() const {
    XmlDocument copy;
    if (doc_ != nullptr) {
        xmlDocPtr d = xmlCopyDoc(doc_, 1);
        if (d == nullptr)
            throw Error(kestrix::errnum::E_FAIL, "XmlDocument.Clone", "Out of memory");
        copy.Reset(d, hasDeclaration_);
    }
    return copy;
}

}  // namespace kestrix::xml
