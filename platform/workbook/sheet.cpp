#include "platform/workbook/sheet.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/base/strings.h"
#include "platform/workbook/package.h"
#include "platform/workbook/xml_part.h"

namespace kestrix::workbook {

using detail::Fail;

// ---------------------------------------------------------------------------------------
// Addresses

namespace {

// Parses "$B$7" from `text`; false when it is no cell address within the sheet.
bool TryParseAddress(std::string_view text, CellRef& ref) {
    size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    uint64_t column = 0;
    size_t letters = 0;
    for (; i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); ++i, ++letters) {
        column = column * 26 + static_cast<uint64_t>(std::toupper(static_cast<unsigned char>(text[i])) - 'A' + 1);
        if (letters > 3) return false;
    }
    if (i < text.size() && text[i] == '$') ++i;
    uint64_t row = 0;
    size_t digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        row = row * 10 + static_cast<uint64_t>(text[i] - '0');
        if (digits > 7) return false;
    }
    if (i != text.size() || letters == 0 || digits == 0 || column > kMaxColumns || row == 0 || row > kMaxRows)
        return false;
    ref = {static_cast<uint32_t>(row), static_cast<uint32_t>(column)};
    return true;
}

void CheckRef(CellRef ref) {
    if (ref.row < 1 || ref.row > kMaxRows || ref.column < 1 || ref.column > kMaxColumns)
        Fail(wberr::InvalidAddress, "The cell at row " + std::to_string(ref.row) + ", column " +
                                        std::to_string(ref.column) + " lies outside the sheet");
}

}  // namespace

CellRef ParseAddress(std::string_view address) {
    CellRef ref;
    if (!TryParseAddress(address, ref))
        Fail(wberr::InvalidAddress, "\"" + Printable(address) + "\" is no cell address");
    return ref;
}

std::string ColumnName(uint32_t column) {
    std::string name;
    while (column > 0) {
        uint32_t rest = (column - 1) % 26;
        name.insert(name.begin(), static_cast<char>('A' + rest));
        column = (column - 1) / 26;
    }
    return name;
}

std::string FormatAddress(CellRef ref) { return ColumnName(ref.column) + std::to_string(ref.row); }

// ---------------------------------------------------------------------------------------
// Shared strings

namespace detail {

void SharedStrings::Load(const std::string& bytes, const std::string& partName) {
    PartReader reader(bytes, partName);
    bool more = reader.Read();
    while (more) {
        if (reader.Type() == XML_READER_TYPE_ELEMENT && reader.Depth() == 1 && reader.LocalName() == "si") {
            items_.push_back(StringItemText(reader.Expand()));
            more = reader.Next();
        } else {
            more = reader.Read();
        }
    }
    originalCount_ = items_.size();
}

const std::string* SharedStrings::At(size_t index) const {
    return index < items_.size() ? &items_[index] : nullptr;
}

uint32_t SharedStrings::Add(std::string_view text) {
    if (index_.empty())
        for (size_t i = 0; i < items_.size(); ++i) index_.emplace(items_[i], static_cast<uint32_t>(i));
    auto [it, added] = index_.emplace(std::string(text), static_cast<uint32_t>(items_.size()));
    if (added) items_.emplace_back(text);
    return it->second;
}

namespace {

bool NameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// The name as a formula writes it before "!": bare when it is a plain word that cannot be
// read as a cell address, else in apostrophes (an apostrophe in it doubled).
std::string SheetReference(std::string_view name) {
    bool bare = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                std::all_of(name.begin(), name.end(), NameCharacter);
    // Nor may it read as a cell address of either style ("AB12", "R1C1", "R", "C3").
    CellRef ignored;
    auto rowColumnStyle = [](std::string_view n) {
        size_t k = 0;
        auto digits = [&] { while (k < n.size() && std::isdigit(static_cast<unsigned char>(n[k]))) ++k; };
        if (k < n.size() && (n[k] == 'R' || n[k] == 'r')) { ++k; digits(); }
        if (k < n.size() && (n[k] == 'C' || n[k] == 'c')) { ++k; digits(); }
        return k == n.size();
    };
    if (bare && !TryParseAddress(name, ignored) && !rowColumnStyle(name)) return std::string(name) + "!";
    return "'" + ReplaceAll(name, "'", "''") + "'!";
}

}  // namespace

std::optional<std::string> RenameSheetReferences(std::string_view formula, std::string_view oldName,
                                                 std::string_view newName) {
    const std::u32string old = FoldName(oldName);
    std::string out;
    bool changed = false;
    size_t i = 0;
    while (i < formula.size()) {
        char c = formula[i];
        if (c == '"') {  // a text: up to its closing quote, doubled quotes inside
            size_t j = i + 1;
            while (j < formula.size() && !(formula[j] == '"' && (j + 1 >= formula.size() || formula[j + 1] != '"')))
                j += formula[j] == '"' ? 2 : 1;
            out.append(formula.substr(i, j + 1 - i));
            i = j + 1;
        } else if (c == '\'' || (NameCharacter(c) && (i == 0 || (!NameCharacter(formula[i - 1]) && formula[i - 1] != ']')))) {
            std::string name;
            size_t j = i;
            if (c == '\'') {
                for (j = i + 1; j < formula.size(); ++j) {
                    if (formula[j] == '\'') {
                        if (j + 1 < formula.size() && formula[j + 1] == '\'') { name += '\''; ++j; continue; }
                        break;
                    }
                    name += formula[j];
                }
                ++j;  // past the closing apostrophe
            } else {
                while (j < formula.size() && NameCharacter(formula[j])) name += formula[j++];
            }
            if (j < formula.size() && formula[j] == '!' && FoldName(name) == old) {
                out += SheetReference(newName);
                changed = true;
            } else {
                out.append(formula.substr(i, std::min(j, formula.size()) - i));
                if (j < formula.size() && formula[j] == '!') out += '!';
            }
            i = std::min(j, formula.size()) + (j < formula.size() && formula[j] == '!' ? 1 : 0);
        } else {
            out += c;
            ++i;
        }
    }
    if (!changed) return std::nullopt;
    return out;
}

std::string EmptyWorksheetXml() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<dimension ref=\"A1\"/><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>"
           "<sheetFormatPr defaultRowHeight=\"15\"/><sheetData/>"
           "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
           "footer=\"0.3\"/></worksheet>";
}

}  // namespace detail

// ---------------------------------------------------------------------------------------
// Reading a worksheet

namespace {

using Impl = Worksheet::Impl;

void AppendAttribute(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    out += XmlEscape(value);
    out += '"';
}

Impl::Kind KindOf(std::string_view t) {
    if (t.empty() || t == "n") return Impl::Kind::Number;
    if (t == "s") return Impl::Kind::Shared;
    if (t == "inlineStr") return Impl::Kind::Inline;
    if (t == "b") return Impl::Kind::Boolean;
    if (t == "e") return Impl::Kind::Error;
    if (t == "str") return Impl::Kind::FormulaText;
    return Impl::Kind::Other;
}

uint32_t ParseNumber(std::string_view text, uint32_t fallback) {
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// The column of a cell reference "B7"; 0 when it is none.
uint32_t ColumnOf(std::string_view reference) {
    CellRef ref;
    return TryParseAddress(reference, ref) ? ref.column : 0;
}

void ReadCells(Impl& sheet) {
    detail::PartReader reader(sheet.original, sheet.partName);
    bool inData = false;
    Impl::Row* row = nullptr;
    std::optional<Impl::Cell> cell;
    uint32_t lastRow = 0;
    std::string_view name, value;
    bool more = reader.Read();
    while (more) {
        const int type = reader.Type();
        const int depth = reader.Depth();
        if (type == XML_READER_TYPE_ELEMENT) {
            std::string_view local = reader.LocalName();
            if (depth == 1 && local == "sheetData") {
                if (!reader.Prefix().empty()) sheet.prefix = std::string(reader.Prefix()) + ":";
                if (reader.IsEmptyElement()) break;
                inData = true;
            } else if (inData && depth == 2 && local == "row") {
                Impl::Row r;
                uint32_t number = 0;
                while (reader.NextAttribute(name, value)) {
                    if (name == "r") number = ParseNumber(value, 0);
                    else if (name != "spans") AppendAttribute(r.attributes, name, value);
                }
                r.row = number ? number : lastRow + 1;
                if (r.row > kMaxRows) Fail(wberr::NotAWorkbook, "The sheet " + sheet.partName + " has a row beyond the last");
                lastRow = r.row;
                sheet.rows.push_back(std::move(r));
                row = &sheet.rows.back();
                if (reader.IsEmptyElement()) row = nullptr;
            } else if (row && depth == 3 && local == "c") {
                Impl::Cell c;
                std::string t;
                uint32_t column = 0;
                while (reader.NextAttribute(name, value)) {
                    if (name == "r") column = ColumnOf(value);
                    else if (name == "t") t = value;
                    else if (name == "s") c.style = ParseNumber(value, 0);
                    else AppendAttribute(c.More().attributes, name, value);
                }
                c.column = column ? column : (row->cells.empty() ? 1 : row->cells.back().column + 1);
                if (c.column > kMaxColumns) Fail(wberr::NotAWorkbook, "The sheet " + sheet.partName + " has a cell beyond the last column");
                c.kind = KindOf(t);
                if (c.kind == Impl::Kind::Other) c.More().type = t;
                if (reader.IsEmptyElement()) {
                    c.kind = Impl::Kind::Blank;
                    row->cells.push_back(std::move(c));
                } else {
                    cell = std::move(c);
                }
            } else if (row && depth == 3) {
                row->extra += reader.OuterXml();
                more = reader.Next();
                continue;
            } else if (cell && depth == 4) {
                if (local == "v") {
                    cell->value = reader.Text();
                } else if (local == "f") {
                    while (reader.NextAttribute(name, value)) {
                        AppendAttribute(cell->More().formulaAttributes, name, value);
                        if (name == "si") cell->More().sharedIndex = value;
                    }
                    cell->More().formula = reader.IsEmptyElement() ? std::string() : reader.Text();
                } else if (local == "is") {
                    cell->value = detail::StringItemText(reader.Expand());
                } else {
                    cell->More().extra += reader.OuterXml();
                }
                more = reader.Next();
                continue;
            }
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            if (cell && depth == 3) {
                row->cells.push_back(std::move(*cell));
                cell.reset();
            } else if (row && depth == 2) {
                row = nullptr;
            } else if (inData && depth == 1) {
                break;
            }
        }
        more = reader.Read();
    }
    // Rows and cells in order, as the application writes them (a sheet from elsewhere may
    // not); a cell without a value and formula is blank whatever its type says.
    auto byRow = [](const Impl::Row& a, const Impl::Row& b) { return a.row < b.row; };
    auto byColumn = [](const Impl::Cell& a, const Impl::Cell& b) { return a.column < b.column; };
    if (!std::is_sorted(sheet.rows.begin(), sheet.rows.end(), byRow))
        std::stable_sort(sheet.rows.begin(), sheet.rows.end(), byRow);
    for (auto& r : sheet.rows) {
        if (!std::is_sorted(r.cells.begin(), r.cells.end(), byColumn))
            std::stable_sort(r.cells.begin(), r.cells.end(), byColumn);
        for (auto& c : r.cells)
            if (c.value.empty() && c.kind != Impl::Kind::Inline && c.kind != Impl::Kind::FormulaText &&
                !c.HasFormula())
                c.kind = Impl::Kind::Blank;
    }
}

}  // namespace

Worksheet::Impl::Impl(detail::SharedStrings& strings, detail::Formats& formats, std::string partName,
                      std::string original)
    : strings(strings), formats(formats), partName(std::move(partName)), original(std::move(original)) {
    if (!this->original.empty()) ReadCells(*this);
}

CellValue Worksheet::Impl::Value(const Cell& cell) const {
    CellValue v;
    v.style = cell.style.value_or(0);
    if (cell.rare) v.formula = cell.rare->formula;
    switch (cell.kind) {
        case Kind::Blank:
            break;
        case Kind::Number: {
            if (cell.value.empty()) break;
            double number = 0;
            auto [end, ec] = std::from_chars(cell.value.data(), cell.value.data() + cell.value.size(), number);
            if (ec != std::errc() || end != cell.value.data() + cell.value.size())
                Fail(wberr::NotAWorkbook, "The cell " + FormatAddress({0, cell.column}) + " of " + partName +
                                              " holds \"" + Printable(cell.value) + "\", which is no number");
            v.type = CellType::Number;
            v.number = number;
            if (formats.IsDate(v.style) && number >= 0 && number <= 2958466)
                v.date = detail::SerialToDate(number, formats.Date1904());
            break;
        }
        case Kind::Shared: {
            if (cell.value.empty()) break;  // a formula not computed yet
            const std::string* text = strings.At(ParseNumber(cell.value, UINT32_MAX));
            if (!text)
                Fail(wberr::NotAWorkbook, "A cell of " + partName + " refers to the shared string " +
                                              cell.value + ", which the workbook does not hold");
            v.type = CellType::Text;
            v.text = *text;
            break;
        }
        case Kind::Inline:
        case Kind::FormulaText:
        case Kind::Other:
            v.type = CellType::Text;
            v.text = cell.kind == Kind::Inline ? cell.value : detail::DecodeEscapes(cell.value);
            break;
        case Kind::Boolean:
            v.type = CellType::Boolean;
            v.boolean = cell.value == "1" || cell.value == "true";
            break;
        case Kind::Error:
            v.type = CellType::Error;
            v.text = cell.value;
            break;
    }
    return v;
}

const Worksheet::Impl::Cell* Worksheet::Impl::Find(CellRef ref) const {
    auto r = std::lower_bound(rows.begin(), rows.end(), ref.row, [](const Row& a, uint32_t n) { return a.row < n; });
    if (r == rows.end() || r->row != ref.row) return nullptr;
    auto c = std::lower_bound(r->cells.begin(), r->cells.end(), ref.column,
                              [](const Cell& a, uint32_t n) { return a.column < n; });
    if (c == r->cells.end() || c->column != ref.column) return nullptr;
    return &*c;
}

Worksheet::Impl::Cell& Worksheet::Impl::Make(CellRef ref) {
    if (readOnly) Fail(wberr::ReadOnly, "a legacy binary workbook can be read but not changed");
    CheckRef(ref);
    modified = true;
    auto r = std::lower_bound(rows.begin(), rows.end(), ref.row, [](const Row& a, uint32_t n) { return a.row < n; });
    if (r == rows.end() || r->row != ref.row) {
        Row row;
        row.row = ref.row;
        r = rows.insert(r, std::move(row));
    }
    auto c = std::lower_bound(r->cells.begin(), r->cells.end(), ref.column,
                              [](const Cell& a, uint32_t n) { return a.column < n; });
    if (c == r->cells.end() || c->column != ref.column) {
        Cell cell;
        cell.column = ref.column;
        c = r->cells.insert(c, std::move(cell));
        return *c;
    }
    // A cell that leads a shared formula takes it along: the cells that share it keep their
    // last values but no formula, since the formula they share is gone.
    if (c->HasFormula() && !c->rare->sharedIndex.empty() && !c->rare->formula->empty()) {
        const std::string si = c->rare->sharedIndex;
        for (auto& row : rows)
            for (auto& other : row.cells)
                if (&other != &*c && other.HasFormula() && other.rare->sharedIndex == si) {
                    other.rare->formula.reset();
                    other.rare->formulaAttributes.clear();
                    other.rare->sharedIndex.clear();
                }
    }
    c->rare.reset();  // formula, metadata of the old value and all
    return *c;
}

// ---------------------------------------------------------------------------------------
// Writing a worksheet

namespace {

// One start or end tag found by ScanTags.
struct Tag {
    size_t begin = 0;
    size_t end = 0;  // after '>'
    bool closing = false;
    bool selfClosing = false;
    std::string_view localName;
};

// Walks the tags of an XML text in order (comments, processing instructions and CDATA
// sections passed over) and calls `visit` for each until it returns false.
template <typename Visit>
void ScanTags(std::string_view xml, Visit&& visit) {
    size_t i = 0;
    while ((i = xml.find('<', i)) != std::string_view::npos) {
        auto skipTo = [&](std::string_view close) {
            size_t e = xml.find(close, i);
            i = e == std::string_view::npos ? xml.size() : e + close.size();
        };
        std::string_view rest = xml.substr(i);
        if (rest.starts_with("<!--")) { skipTo("-->"); continue; }
        if (rest.starts_with("<![CDATA[")) { skipTo("]]>"); continue; }
        if (rest.starts_with("<?") || rest.starts_with("<!")) { skipTo(">"); continue; }
        Tag tag;
        tag.begin = i;
        size_t p = i + 1;
        if (p < xml.size() && xml[p] == '/') { tag.closing = true; ++p; }
        size_t nameStart = p;
        while (p < xml.size() && !std::isspace(static_cast<unsigned char>(xml[p])) && xml[p] != '>' && xml[p] != '/') ++p;
        std::string_view qname = xml.substr(nameStart, p - nameStart);
        size_t colon = qname.find(':');
        tag.localName = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
        char quote = 0;
        for (; p < xml.size(); ++p) {
            char ch = xml[p];
            if (quote) { if (ch == quote) quote = 0; }
            else if (ch == '"' || ch == '\'') quote = ch;
            else if (ch == '>') break;
        }
        if (p >= xml.size()) return;
        tag.selfClosing = xml[p - 1] == '/';
        tag.end = p + 1;
        i = tag.end;
        if (!visit(tag)) return;
    }
}

std::optional<CellRange> UsedRangeOf(const Impl& sheet) {
    std::optional<CellRange> range;
    for (const auto& r : sheet.rows)
        for (const auto& c : r.cells)
            if (c.kind != Impl::Kind::Blank || c.HasFormula()) {
                if (!range) range = CellRange{{r.row, c.column}, {r.row, c.column}};
                range->first.row = std::min(range->first.row, r.row);
                range->last.row = std::max(range->last.row, r.row);
                range->first.column = std::min(range->first.column, c.column);
                range->last.column = std::max(range->last.column, c.column);
            }
    return range;
}

std::string FormatNumber(double value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

void AppendCellData(const Impl& sheet, std::string& out) {
    const std::string& p = sheet.prefix;
    for (const auto& row : sheet.rows) {
        if (row.cells.empty() && row.attributes.empty() && row.extra.empty()) continue;
        out += '<'; out += p; out += "row r=\""; out += std::to_string(row.row); out += '"';
        out += row.attributes;
        if (row.cells.empty() && row.extra.empty()) { out += "/>"; continue; }
        out += '>';
        for (const auto& c : row.cells) {
            out += '<'; out += p; out += "c r=\""; out += ColumnName(c.column); out += std::to_string(row.row); out += '"';
            if (c.style) { out += " s=\""; out += std::to_string(*c.style); out += '"'; }
            switch (c.kind) {
                case Impl::Kind::Shared: out += " t=\"s\""; break;
                case Impl::Kind::Inline: out += " t=\"inlineStr\""; break;
                case Impl::Kind::Boolean: out += " t=\"b\""; break;
                case Impl::Kind::Error: out += " t=\"e\""; break;
                case Impl::Kind::FormulaText: out += " t=\"str\""; break;
                case Impl::Kind::Other: AppendAttribute(out, "t", c.rare->type); break;
                default: break;
            }
            if (c.rare) out += c.rare->attributes;
            bool hasValue = c.kind != Impl::Kind::Blank;
            if (!c.HasFormula() && !hasValue && (!c.rare || c.rare->extra.empty())) { out += "/>"; continue; }
            out += '>';
            if (c.HasFormula()) {
                out += '<'; out += p; out += 'f'; out += c.rare->formulaAttributes;
                if (c.rare->formula->empty()) { out += "/>"; }
                else { out += '>'; out += XmlEscape(*c.rare->formula); out += "</"; out += p; out += "f>"; }
            }
            if (c.kind == Impl::Kind::Inline) {
                out += '<'; out += p; out += "is><"; out += p; out += "t xml:space=\"preserve\">";
                out += XmlEscape(detail::EncodeEscapes(c.value));
                out += "</"; out += p; out += "t></"; out += p; out += "is>";
            } else if (hasValue) {
                out += '<'; out += p; out += "v>"; out += XmlEscape(c.value); out += "</"; out += p; out += "v>";
            }
            if (c.rare) out += c.rare->extra;
            out += "</"; out += p; out += "c>";
        }
        out += row.extra;
        out += "</"; out += p; out += "row>";
    }
}

}  // namespace

std::string Worksheet::Impl::Xml() const {
    const std::string source = original.empty() ? detail::EmptyWorksheetXml() : original;
    if (source.size() >= 2 && (source[0] == '\0' || source[1] == '\0' ||
                               static_cast<unsigned char>(source[0]) == 0xFE ||
                               static_cast<unsigned char>(source[0]) == 0xFF))
        Fail(wberr::NotAWorkbook, "The sheet " + partName + " is not written in UTF-8 and cannot be changed");
    std::optional<Tag> dimension, open, close;
    ScanTags(source, [&](const Tag& tag) {
        if (!open && !tag.closing && tag.localName == "dimension") dimension = tag;
        if (!open && !tag.closing && tag.localName == "sheetData") {
            open = tag;
            if (tag.selfClosing) return false;
        } else if (open && tag.closing && tag.localName == "sheetData") {
            close = tag;
            return false;
        }
        return true;
    });
    if (!open || (!open->selfClosing && !close))
        Fail(wberr::NotAWorkbook, "The sheet " + partName + " has no cell data");

    std::string out;
    out.reserve(source.size() + rows.size() * 64);
    size_t from = 0;
    if (dimension && dimension->selfClosing) {
        std::optional<CellRange> range = UsedRangeOf(*this);
        std::string ref = !range ? "A1"
                          : range->first == range->last
                              ? FormatAddress(range->first)
                              : FormatAddress(range->first) + ":" + FormatAddress(range->last);
        std::string_view tagText = std::string_view(source).substr(dimension->begin, dimension->end - dimension->begin);
        size_t nameEnd = tagText.find_first_of(" \t\r\n/>", 1);
        out.append(source, 0, dimension->begin);
        out.append(tagText.substr(0, nameEnd));
        out += " ref=\"" + ref + "\"/>";
        from = dimension->end;
    }
    std::string_view openText = std::string_view(source).substr(open->begin, open->end - open->begin);
    out.append(source, from, open->begin - from);
    if (open->selfClosing) {
        size_t slash = openText.rfind('/');
        out.append(openText.substr(0, slash));
        out += '>';
    } else {
        out.append(openText);
    }
    AppendCellData(*this, out);
    const std::string qname(openText.substr(1, openText.find_first_of(" \t\r\n/>", 1) - 1));
    if (open->selfClosing) {
        out += "</" + qname + ">";
        out.append(source, open->end, std::string::npos);
    } else {
        out.append(source, close->begin, std::string::npos);
    }
    return out;
}

void Worksheet::Impl::RenameSheetReferences(std::string_view oldName, std::string_view newName) {
    for (auto& r : rows)
        for (auto& c : r.cells)
            if (c.HasFormula() && !c.rare->formula->empty())
                if (auto renamed = detail::RenameSheetReferences(*c.rare->formula, oldName, newName)) {
                    c.rare->formula = std::move(*renamed);
                    modified = true;
                }
}

// ---------------------------------------------------------------------------------------
// The public face

Worksheet::Worksheet(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Worksheet::~Worksheet() = default;

CellValue Worksheet::Cell(CellRef ref) const {
    CheckRef(ref);
    const Impl::Cell* cell = impl_->Find(ref);
    return cell ? impl_->Value(*cell) : CellValue{};
}

void Worksheet::SetNumber(CellRef ref, double value) {
    if (!std::isfinite(value))
        Fail(wberr::InvalidValue, "The cell " + FormatAddress(ref) + " cannot hold a number that is not finite");
    Impl::Cell& cell = impl_->Make(ref);
    cell.kind = Impl::Kind::Number;
    cell.value = FormatNumber(value);
}

void Worksheet::SetText(CellRef ref, std::string_view value) {
    if (!detail::ValidUtf8(value))
        Fail(wberr::InvalidValue, "The cell " + FormatAddress(ref) + " cannot hold a text that is not UTF-8");
    if (detail::Utf16Length(value) > 32767)
        Fail(wberr::InvalidValue, "The cell " + FormatAddress(ref) + " cannot hold a text of more than 32767 characters");
    Impl::Cell& cell = impl_->Make(ref);
    cell.kind = Impl::Kind::Shared;
    cell.value = std::to_string(impl_->strings.Add(value));
}

void Worksheet::SetBoolean(CellRef ref, bool value) {
    Impl::Cell& cell = impl_->Make(ref);
    cell.kind = Impl::Kind::Boolean;
    cell.value = value ? "1" : "0";
}

void Worksheet::SetDate(CellRef ref, const DateTime& value) {
    const double serial = detail::DateToSerial(value, impl_->formats.Date1904());
    Impl::Cell& cell = impl_->Make(ref);
    if (!cell.style || !impl_->formats.IsDate(*cell.style)) cell.style = impl_->formats.DateStyle();
    cell.kind = Impl::Kind::Number;
    cell.value = FormatNumber(serial);
}

void Worksheet::Clear(CellRef ref) {
    CheckRef(ref);
    if (!impl_->Find(ref)) return;
    Impl::Cell& cell = impl_->Make(ref);
    cell.kind = Impl::Kind::Blank;
    cell.value.clear();
}

std::optional<CellRange> Worksheet::UsedRange() const { return UsedRangeOf(*impl_); }

void Worksheet::ForEachCell(const std::function<void(CellRef, const CellValue&)>& visit) const {
    for (const auto& r : impl_->rows)
        for (const auto& c : r.cells)
            if (c.kind != Impl::Kind::Blank || c.HasFormula()) visit({r.row, c.column}, impl_->Value(c));
}

}  // namespace kestrix::workbook
