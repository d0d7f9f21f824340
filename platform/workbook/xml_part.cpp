#include "platform/workbook/xml_part.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <cstring>
#include <mutex>

#include "platform/workbook/package.h"

namespace kestrix::workbook::detail {

namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;

void EnsureParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// Parts of a package never declare a document type; one that does is refused before any
// entity it declares could be used.
void RefuseDocumentType(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    ctxt->_private = ctxt;  // marks the refusal
    xmlStopParser(ctxt);
}

struct CtxtFree {
    void operator()(xmlParserCtxt* c) const noexcept { xmlFreeParserCtxt(c); }
};

std::string Reason(const xmlError* e) {
    if (!e || !e->message) return "not well-formed";
    std::string text = e->message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (e->line > 0) text += " (line " + std::to_string(e->line) + ")";
    return text;
}

// The text of a string the library allocated, which it frees.
std::string Take(xmlChar* value) {
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool EscapeAt(std::string_view text, size_t i) {
    return i + 7 <= text.size() && text[i] == '_' && text[i + 1] == 'x' && IsHex(text[i + 2]) &&
           IsHex(text[i + 3]) && IsHex(text[i + 4]) && IsHex(text[i + 5]) && text[i + 6] == '_';
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

DocPtr ParseXml(const std::string& bytes, const std::string& partName) {
    EnsureParser();
    std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlNewParserCtxt());
    if (!ctxt) Fail(errnum::E_FAIL, "No memory to read the workbook part " + partName);
    ctxt->sax->internalSubset = RefuseDocumentType;
    DocPtr doc(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()),
                                 partName.c_str(), nullptr, kParseOptions));
    if (ctxt->_private)
        Fail(wberr::NotAWorkbook, "The workbook part " + partName + " declares a document type");
    if (!doc || !ctxt->wellFormed || !xmlDocGetRootElement(doc.get()))
        Fail(wberr::NotAWorkbook, "The workbook part " + partName + " is no well-formed XML: " +
                                      Reason(&ctxt->lastError));
    return doc;
}

std::string Serialize(xmlDoc* doc) {
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc, &mem, &size, "UTF-8");
    if (!mem) Fail(errnum::E_FAIL, "No memory to write a workbook part");
    std::string text(reinterpret_cast<const char*>(mem), static_cast<size_t>(size));
    xmlFree(mem);
    return text;
}

std::string_view LocalName(const xmlNode* node) {
    if (!node || node->type != XML_ELEMENT_NODE) return {};
    return reinterpret_cast<const char*>(node->name);
}

const xmlNode* FirstChild(const xmlNode* parent, std::string_view localName) {
    for (const xmlNode* c = parent ? parent->children : nullptr; c; c = c->next)
        if (LocalName(c) == localName) return c;
    return nullptr;
}

xmlNode* FirstChild(xmlNode* parent, std::string_view localName) {
    return const_cast<xmlNode*>(FirstChild(static_cast<const xmlNode*>(parent), localName));
}

std::vector<xmlNode*> Children(xmlNode* parent, std::string_view localName) {
    std::vector<xmlNode*> found;
    for (xmlNode* c = parent ? parent->children : nullptr; c; c = c->next)
        if (LocalName(c) == localName) found.push_back(c);
    return found;
}

std::optional<std::string> Attribute(const xmlNode* node, const char* name) {
    for (const xmlAttr* a = node ? node->properties : nullptr; a; a = a->next) {
        if (a->ns || std::strcmp(reinterpret_cast<const char*>(a->name), name) != 0) continue;
        return Take(xmlNodeListGetString(node->doc, a->children, 1));
    }
    return std::nullopt;
}

std::optional<std::string> RelationshipId(const xmlNode* node) {
    for (const xmlAttr* a = node ? node->properties : nullptr; a; a = a->next) {
        if (!a->ns || !a->ns->href || std::strcmp(reinterpret_cast<const char*>(a->name), "id") != 0)
            continue;
        std::string_view href = reinterpret_cast<const char*>(a->ns->href);
        if (href.size() < 13 || href.substr(href.size() - 13) != "relationships") continue;
        return Take(xmlNodeListGetString(node->doc, a->children, 1));
    }
    return std::nullopt;
}

std::string TextOf(const xmlNode* node) {
    return Take(xmlNodeGetContent(node));
}

xmlNode* AppendElement(xmlNode* parent, const char* localName) {
    xmlNode* node = xmlNewDocNode(parent->doc, parent->ns, BAD_CAST localName, nullptr);
    xmlAddChild(parent, node);
    return node;
}

std::string DecodeEscapes(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (EscapeAt(text, i)) {
            AppendUtf8(out, static_cast<unsigned>(std::stoul(std::string(text.substr(i + 2, 4)), nullptr, 16)));
            i += 7;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string EncodeEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || EscapeAt(text, i)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "_x%04X_", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Case folding for sheet names: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic, the
// letters whose case the names of business documents use.
std::u32string FoldName(std::string_view utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + n > utf8.size()) n = 1;
        cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB) ||
            (cp >= 0x410 && cp <= 0x42F))
            cp += 0x20;
        else if (cp >= 0x400 && cp <= 0x40F)
            cp += 0x50;
        else if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 &&
                 !(cp >= 0x139 && cp <= 0x148) && !(cp >= 0x179 && cp <= 0x17E))
            cp |= 1;
        else if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E))
            cp += (cp & 1);
        out += cp;
    }
    return out;
}

bool ValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;
    }
    return units;
}

std::string StringItemText(const xmlNode* item) {
    std::string text;
    for (const xmlNode* c = item->children; c; c = c->next) {
        if (LocalName(c) == "t") {
            text += TextOf(c);
        } else if (LocalName(c) == "r") {
            if (const xmlNode* t = FirstChild(c, "t")) text += TextOf(t);
        }
    }
    return DecodeEscapes(text);
}

namespace {
void CollectReaderError(void* arg, xmlErrorPtr error) {
    auto* text = static_cast<std::string*>(arg);
    if (text->empty()) *text = Reason(error);
}
}  // namespace

PartReader::PartReader(const std::string& bytes, std::string partName) : partName_(std::move(partName)) {
    EnsureParser();
    reader_ = xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), partName_.c_str(), nullptr,
                                 kParseOptions);
    if (!reader_) Fail(errnum::E_FAIL, "No memory to read the workbook part " + partName_);
    xmlTextReaderSetStructuredErrorHandler(reader_, CollectReaderError, &error_);
}

PartReader::~PartReader() { xmlFreeTextReader(reader_); }

void PartReader::Failed() {
    Fail(wberr::NotAWorkbook, "The workbook part " + partName_ + " is no well-formed XML: " +
                                  (error_.empty() ? std::string("not well-formed") : error_));
}

bool PartReader::Step(int result) {
    attributes_ = false;
    if (result < 0 || !error_.empty()) Failed();
    if (result == 0) return false;
    if (xmlTextReaderNodeType(reader_) == XML_READER_TYPE_DOCUMENT_TYPE)
        Fail(wberr::NotAWorkbook, "The workbook part " + partName_ + " declares a document type");
    return true;
}

bool PartReader::Read() { return Step(xmlTextReaderRead(reader_)); }
bool PartReader::Next() { return Step(xmlTextReaderNext(reader_)); }
int PartReader::Type() const { return xmlTextReaderNodeType(reader_); }
int PartReader::Depth() const { return xmlTextReaderDepth(reader_); }
bool PartReader::IsEmptyElement() const { return xmlTextReaderIsEmptyElement(reader_) == 1; }

std::string_view PartReader::LocalName() const {
    const xmlChar* name = xmlTextReaderConstLocalName(reader_);
    return name ? reinterpret_cast<const char*>(name) : "";
}

std::string_view PartReader::Prefix() const {
    const xmlChar* prefix = xmlTextReaderConstPrefix(reader_);
    return prefix ? reinterpret_cast<const char*>(prefix) : "";
}

bool PartReader::NextAttribute(std::string_view& name, std::string_view& value) {
    int moved = attributes_ ? xmlTextReaderMoveToNextAttribute(reader_) : xmlTextReaderMoveToFirstAttribute(reader_);
    attributes_ = true;
    if (moved != 1) {
        xmlTextReaderMoveToElement(reader_);
        return false;
    }
    const xmlChar* n = xmlTextReaderConstName(reader_);
    const xmlChar* v = xmlTextReaderConstValue(reader_);
    name = n ? reinterpret_cast<const char*>(n) : "";
    value = v ? reinterpret_cast<const char*>(v) : "";
    return true;
}

std::string PartReader::Text() {
    std::string text = Take(xmlTextReaderReadString(reader_));
    if (!error_.empty()) Failed();
    return text;
}

xmlNode* PartReader::Expand() {
    xmlNode* node = xmlTextReaderExpand(reader_);
    if (!node || !error_.empty()) Failed();
    return node;
}

std::string PartReader::OuterXml() {
    std::string text = Take(xmlTextReaderReadOuterXml(reader_));
    if (!error_.empty()) Failed();
    return text;
}

}  // namespace kestrix::workbook::detail
