// Batches: one text holding several XML documents one after the other, each with its own
// root element and optionally an XML declaration and comments before it.
#include <string>
#include <string_view>

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

/// Walks the batch document by document and refuses it unless every one parses.
///
/// A document runs from where the previous one ended to the closing tag of its root, so
/// declarations and comments before a root belong to the document that follows; blanks and
/// line breaks between documents are dropped, so that a declaration may open each one. The
/// first closing tag of the root's name may belong to a nested element of the same name: the
/// candidate then does not parse, and the next closing tag is tried. A document whose root is
/// never closed, or that does not parse however far it is taken, refuses the batch; only
/// blanks and line breaks may follow the last document.
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

        size_t end = open + 2;
        for (;;) {
            const size_t found = end <= text.size() ? text.find(closing, end) : std::string::npos;
            if (found == std::string::npos) RefuseBatch(source);
            end = found + closing.size();
            xml::XmlDocument candidate;
            if (candidate.LoadXml(std::string_view(text).substr(start, end - start))) break;
        }
        start = end;
    }
}

}  // namespace

void Document::ParseBatchXMLString(std::string& iXMLStr) {
    static constexpr const char* kSource = "Kestrix.Document.ParseBatchXMLString";
    try {
        WalkBatch(iXMLStr, kSource);
    } catch (...) {
        Reraise(kSource, "This is not an proper XML Batch file.");
    }
}

void Document::ParseBatchXMLFile(std::string& iXMLStr) {
    static constexpr const char* kSource = "Kestrix.Document.ParseBatchXMLFile";
    try {
        WalkBatch(iXMLStr, kSource);
    } catch (...) {
        Reraise(kSource, "This is not an proper XML Batch file.");
    }
}

}  // namespace kestrix
