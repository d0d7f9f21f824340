// Batches: one text holding several XML documents one after the other, each with its own
// root element and optionally an XML declaration and comments before it.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrix/documents/document.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/error.h"
#include "platform/xml/xml.h"

namespace kestrix {

namespace {

/// The number a refused batch is raised with.
constexpr int32_t kMalformedBatch = -1;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

[[noreturn]] void RefuseBatch(std::string_view source) {
    throw Error(kMalformedBatch, std::string(source), TranslateLabel("SLBSH0039"));
}

/// Position of the "<" that opens the next root element from `from` on. Comments and
/// processing instructions (the XML declaration among them) are passed over whole, so that
/// markup written inside them is not taken for a root; any other "<!" (a document type
/// declaration) is passed over by its first character. npos when no root follows.
size_t NextRoot(const std::string& text, size_t from) {
    for (size_t open = text.find('<', from); open != std::string::npos;
         open = text.find('<', open + 1)) {
        if (text.compare(open, 4, "<!--") == 0) {
            const size_t close = text.find("-->", open + 4);
            if (close == std::string::npos) return std::string::npos;
            open = close + 2;
        } else if (text.compare(open, 2, "<?") == 0) {
            const size_t close = text.find("?>", open + 2);
            if (close == std::string::npos) return std::string::npos;
            open = close + 1;
        } else if (open + 1 >= text.size() || text[open + 1] != '!') {
            return open;
        }
    }
    return std::string::npos;
}

/// Markup inside an element that holds no tags: its opening and its end.
constexpr std::pair<std::string_view, std::string_view> kPassedOver[] = {
    {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};

/// The end (just after its end tag) of the element whose start tag opens at `open`, found by
/// reading the markup as a parser reads well-formed text: comments, CDATA sections and
/// processing instructions are passed over whole, and a ">" inside a quoted attribute value
/// ends no tag. npos when the element does not end well: an end tag that closes another
/// element than the one open, a declaration inside it, or markup still open where the text
/// ends. Only where the element ends is looked for here; the parser judges the rest.
size_t ElementEnd(std::string_view text, size_t open) {
    constexpr size_t npos = std::string_view::npos;
    std::vector<std::string_view> openElements;
    size_t at = open;
    for (;;) {
        const size_t lt = text.find('<', at);
        if (lt == npos) return npos;
        const std::string_view rest = text.substr(lt);
        std::string_view opener;
        std::string_view terminator;
        for (const auto& [o, t] : kPassedOver) {
            if (rest.starts_with(o)) {
                opener = o;
                terminator = t;
                break;
            }
        }
        if (!terminator.empty()) {
            const size_t close = text.find(terminator, lt + opener.size());
            if (close == npos) return npos;
            at = close + terminator.size();
            continue;
        }
        if (rest.starts_with("<!")) return npos;

        const bool endTag = rest.starts_with("</");
        const size_t nameStart = lt + (endTag ? 2 : 1);
        size_t nameEnd = nameStart;
        while (nameEnd < text.size() && !IsBlank(text[nameEnd]) && text[nameEnd] != '>' &&
               text[nameEnd] != '/')
            ++nameEnd;
        const std::string_view name = text.substr(nameStart, nameEnd - nameStart);
        if (name.empty()) return npos;

        // The ">" that ends the tag.
        size_t gt = nameEnd;
        for (char quote = 0; gt < text.size(); ++gt) {
            const char c = text[gt];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        if (gt >= text.size()) return npos;
        at = gt + 1;

        if (endTag) {
            if (openElements.empty() || openElements.back() != name) return npos;
            openElements.pop_back();
        } else if (text[gt - 1] != '/') {
            openElements.push_back(name);
        }
        if (openElements.empty()) return at;
    }
}

/// Walks the batch document by document and refuses it unless every one parses.
///
/// A document runs from where the previous one ended to the closing tag of its root, so
/// declarations and comments before a root belong to the document that follows; blanks and
/// line breaks between documents are dropped, so that a declaration may open each one.
/// Elements nested in the root may share its name: the root ends where the markup says, not
/// at the first closing tag of its name. The root must end with exactly "</" name ">" (no
/// blank before the ">", no empty-element tag). A root that never ends, or a document that
/// does not parse, refuses the batch; only blanks and line breaks may follow the last one.
///
/// Each document is read once and parsed once, so a damaged document early in a long batch
/// costs no more than a good one.
void WalkBatch(const std::string& text, std::string_view source) {
    size_t start = 0;
    for (;;) {
        while (start < text.size() && IsBlank(text[start])) ++start;
        if (start >= text.size()) return;

        const size_t open = NextRoot(text, start);
        if (open == std::string::npos) RefuseBatch(source);
        size_t nameEnd = open + 1;
        while (nameEnd < text.size() && text[nameEnd] != '>' && !IsBlank(text[nameEnd])) ++nameEnd;
        const std::string closing = "</" + text.substr(open + 1, nameEnd - open - 1) + ">";

        const size_t end = ElementEnd(text, open);
        if (end == std::string::npos || end < closing.size() ||
            text.compare(end - closing.size(), closing.size(), closing) != 0)
            RefuseBatch(source);
        xml::XmlDocument document;
        if (!document.LoadXml(std::string_view(text).substr(start, end - start)))
            RefuseBatch(source);
        start = end;
    }
}

}  // namespace

void DocumentStore::ParseBatchXMLString(std::string& iXMLStr) {
    static constexpr const char* kSource = "Kestrix.Document.ParseBatchXMLString";
    try {
        WalkBatch(iXMLStr, kSource);
    } catch (...) {
        Reraise(kSource, "This is not an proper XML Batch file.");
    }
}

void DocumentStore::ParseBatchXMLFile(std::string& iXMLStr) {
    static constexpr const char* kSource = "Kestrix.Document.ParseBatchXMLFile";
    try {
        WalkBatch(iXMLStr, kSource);
    } catch (...) {
        Reraise(kSource, "This is not an proper XML Batch file.");
    }
}

}  // namespace kestrix
