#include "platform/services/xml_file.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/xml_doc_internal.h"

namespace kestrix::services {

namespace detail {

namespace {

struct ParserCtxtDeleter {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

/// The first error the parser met: later ones are mostly its consequences.
struct FirstError {
    std::string reason;
};

void KeepFirstError(void* userData, xmlError* error) {
    auto* ctxt = static_cast<xmlParserCtxt*>(userData);
    auto* first = static_cast<FirstError*>(ctxt ? ctxt->_private : nullptr);
    if (!first || !first->reason.empty() || !error || error->level < XML_ERR_ERROR) return;
    first->reason = Trim(error->message ? error->message : "unknown error");
    first->reason += " (line " + std::to_string(error->line) + ", column " +
                     std::to_string(error->int2) + ")";
}

std::string ParserReason(xmlParserCtxt* ctxt, const FirstError& first) {
    if (!first.reason.empty()) return first.reason;
    const xmlError* err = xmlCtxtGetLastError(ctxt);
    if (!err || !err->message) return "the parser gave no reason";
    return Trim(err->message) + " (line " + std::to_string(err->line) + ", column " +
           std::to_string(err->int2) + ")";
}

}  // namespace

XmlDocHandle ParseXmlFile(const std::string& path, const char* source) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw Error(errnum::E_FAIL, source,
                    "Cannot read the XML file '" + path + "': the file does not exist.");
    }
    xmlInitParser();
    std::unique_ptr<xmlParserCtxt, ParserCtxtDeleter> ctxt(xmlNewParserCtxt());
    if (!ctxt) throw Error(errnum::E_FAIL, source, "Cannot create an XML parser.");
    // No network, no DTD loading, no entity substitution: a configuration file is read as
    // the plain text it holds and cannot make us open anything else.
    const int options = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA;
    // Errors go to our handler (never to stderr); the first one is the one reported.
    FirstError first;
    ctxt->_private = &first;
    ctxt->sax->serror = &KeepFirstError;
    XmlDocHandle doc(xmlCtxtReadFile(ctxt.get(), path.c_str(), nullptr, options));
    if (!doc) {
        throw Error(errnum::E_FAIL, source,
                    "Cannot read the XML file '" + path + "': " + ParserReason(ctxt.get(), first));
    }
    if (!ctxt->wellFormed) {
        throw Error(errnum::E_FAIL, source,
                    "Cannot read the XML file '" + path + "': " + ParserReason(ctxt.get(), first));
    }
    if ((doc->intSubset && doc->intSubset->entities) ||
        (doc->extSubset && doc->extSubset->entities)) {
        throw Error(errnum::E_FAIL, source,
                    "Cannot read the XML file '" + path +
                        "': entity declarations are not accepted in this file.");
    }
    if (!xmlDocGetRootElement(doc.get())) {
        throw Error(errnum::E_FAIL, source,
                    "Cannot read the XML file '" + path + "': the document has no root element.");
    }
    return doc;
}

}  // namespace detail

namespace {

std::string ToStd(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : std::string(); }

XmlElement Convert(xmlNode* node) {
    XmlElement element;
    element.name = ToStd(node->name);
    for (xmlAttr* attr = node->properties; attr; attr = attr->next) {
        xmlChar* value = xmlNodeListGetString(node->doc, attr->children, 1);
        element.attributes.emplace_back(ToStd(attr->name), ToStd(value));
        xmlFree(value);
    }
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            element.children.push_back(Convert(child));
        } else if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            element.text += ToStd(child->content);
        }
    }
    return element;
}

}  // namespace

const std::string* XmlElement::Attribute(std::string_view attribute) const {
    for (const auto& [key, value] : attributes) {
        if (IEquals(key, attribute)) return &value;
    }
    return nullptr;
}

XmlElement ReadXmlFile(const std::string& path, const char* source) {
    detail::XmlDocHandle doc = detail::ParseXmlFile(path, source);
    return Convert(xmlDocGetRootElement(doc.get()));
}

}  // namespace kestrix::services
