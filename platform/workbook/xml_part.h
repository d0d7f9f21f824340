#pragma once

// Inside the room only: the XML parts of a package, parsed safely (no network, no document
// type, so no entity of the part's own), as trees for the small parts and as a stream for
// the large ones (sheets, shared strings).

#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::workbook::detail {

struct DocFree {
    void operator()(xmlDoc* d) const noexcept { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

/// The part as a tree; NotAWorkbook naming the part and the parser's reason when it is not
/// well-formed or declares a document type.
DocPtr ParseXml(const std::string& bytes, const std::string& partName);
/// The tree as UTF-8 bytes with an XML declaration.
std::string Serialize(xmlDoc* doc);

/// The local name of an element, "" for other nodes.
std::string_view LocalName(const xmlNode* node);
const xmlNode* FirstChild(const xmlNode* parent, std::string_view localName);
xmlNode* FirstChild(xmlNode* parent, std::string_view localName);
std::vector<xmlNode*> Children(xmlNode* parent, std::string_view localName);
/// An attribute without namespace.
std::optional<std::string> Attribute(const xmlNode* node, const char* name);
/// The "r:id" attribute (a relationship id in whichever relationships namespace).
std::optional<std::string> RelationshipId(const xmlNode* node);
/// All text below a node.
std::string TextOf(const xmlNode* node);
/// A new element in the namespace of `parent`, appended to it.
xmlNode* AppendElement(xmlNode* parent, const char* localName);

/// Text of a cell or shared string: "_xHHHH_" escapes decoded, and the reverse for writing
/// (control characters, which XML cannot hold, and text that looks like an escape).
std::string DecodeEscapes(std::string_view text);
std::string EncodeEscapes(std::string_view text);

/// A sheet name folded for comparisons that ignore case: ASCII, Latin-1, Latin Extended-A,
/// Greek and Cyrillic letters.
std::u32string FoldName(std::string_view utf8);
/// True for well-formed UTF-8 (no overlong forms, no surrogates).
bool ValidUtf8(std::string_view text);
/// The length of a UTF-8 text as the spreadsheet application counts it, in UTF-16 units.
size_t Utf16Length(std::string_view utf8);

/// The text of a string item (<si> or <is>): its <t>, or the <t> of its runs; phonetic
/// runs left out.
std::string StringItemText(const xmlNode* item);

/// A streaming reader over a part. `Read` and `Next` return false at the end and throw
/// NotAWorkbook when the part is not well-formed or declares a document type.
class PartReader {
  public:
    PartReader(const std::string& bytes, std::string partName);
    ~PartReader();
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;

    bool Read();
    /// Skips the current node's subtree.
    bool Next();
    int Type() const;
    int Depth() const;
    bool IsEmptyElement() const;
    std::string_view LocalName() const;
    std::string_view Prefix() const;
    /// Moves through the attributes of the current element; `name` is the qualified name.
    bool NextAttribute(std::string_view& name, std::string_view& value);
    /// The text content of the current element (it stays the current node).
    std::string Text();
    /// The current element as a tree, valid until the next move.
    xmlNode* Expand();
    /// The current element as XML text.
    std::string OuterXml();

  private:
    [[noreturn]] void Failed();
    bool Step(int result);
    xmlTextReaderPtr reader_;
    std::string partName_;
    std::string error_;
    bool attributes_ = false;
};

}  // namespace kestrix::workbook::detail
