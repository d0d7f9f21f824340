#include "kestrix/documents/qel_excel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrix/documents/publication_errors.h"
#include "kestrix/documents/xsl_patterns.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"
#include "platform/services/log.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kClass = "Kestrix.QelExcel.";

std::string Source(std::string_view operation) { return std::string(kClass) + std::string(operation); }

// The custom properties that carry routing, and the element each one becomes.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kRoutingProperties{{
    {"QEL-DOCTYPE-ID", "DOCTYPE-ID"},
    {"QEL-SENDER", "SENDER"},
    {"QEL-CONTACT", "CONTACT"},
    {"QEL-SHOW", "SHOW"},
    {"QEL-RECEIVER", "RECEIVER"},
    {"QEL-BUSINESSPARTNER", "BUSINESSPARTNER"},
    {"QEL-BUS-PART-C", "BUS-PART-C"},
    {"QEL-BUS-PART-S", "BUS-PART-S"},
}};

std::string Extension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    return ToLower(ext);
}

// A file the spreadsheet application would open read-only: one without write permission,
// or marked read-only (no write bit at all, which holds even for the superuser).
bool Writable(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return true;  // the engine reports a missing file
    return ::access(path.c_str(), W_OK) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Opens a workbook file; one that must be written but cannot be is recorded as a publication
// error of the document and refused.
ExcelWorkBookPtr OpenWorkBook(const std::string& path, bool readOnly, int32_t docId) {
    static constexpr std::string_view kOpen = "Kestrix.QelExcel.OpenWorkBook";
    try {
        const std::string ext = Extension(path);
        if (ext != "xlsx" && ext != "xlsm" && ext != "xltx" && ext != "xls" && ext != "xlt")
            Raise(EnumerationErrors::NotAnExcelFile, std::string(kOpen), TranslateLabel("SLBSH4525"));
        auto book = std::make_unique<ExcelWorkBook>(ExcelWorkBook{workbook::Workbook::Open(path), path});
        if (!readOnly && !Writable(path)) {
            LogPublicationError(docId, ErrNum(EnumerationErrors::InsertExcelError),
                                LabelOrCode("SLBSH4535", 1033), kOpen, "SLBSH4535");
            Raise(EnumerationErrors::ExcelOpeningsError, std::string(kOpen),
                  "Cannot acces read-only documents for update or append mode");
        }
        return book;
    } catch (...) {
        Reraise(kOpen);
    }
}

// A number as the spreadsheet application shows it in a text: whole numbers without a
// fraction, others with up to 15 significant digits.
std::string NumberText(double value) {
    char buffer[64];
    if (std::nearbyint(value) == value && std::fabs(value) < 1e15)
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    else
        std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::string text = buffer;
    return text == "-0" ? "0" : text;
}

std::string CellText(const workbook::CellValue& cell) {
    switch (cell.type) {
        case workbook::CellType::Number:
            if (cell.date) return Variant(*cell.date).ToString();
            return NumberText(cell.number);
        case workbook::CellType::Boolean:
            return cell.boolean ? "True" : "False";
        case workbook::CellType::Text:
        case workbook::CellType::Error:
            return cell.text;
        case workbook::CellType::Empty:
            break;
    }
    return {};
}

// Appends an element; its text only when that is not blank.
xml::XmlNode AppendElement(xml::XmlNode parent, std::string_view name, const std::string& text) {
    return parent.AppendElement(name, Trim(text).empty() ? std::string_view{} : std::string_view(text));
}

// Sets an attribute when both its name and its value are not blank.
void SetAttribute(xml::XmlNode node, std::string_view name, const std::string& value) {
    if (!Trim(name).empty() && !Trim(value).empty()) node.SetAttribute(name, value);
}

// Tells the platform log that a legacy binary workbook was read: it carries no document
// properties, so whatever routing its sender meant to give it ("QEL-..." properties) is lost
// and the document must be routed otherwise. Never raises: the conversion goes on.
void LogLegacyWorkbook(const std::string& name, int32_t docId) noexcept {
    try {
        services::LogFields fields{{"workbook", name}};
        if (docId != 0) fields.emplace_back("document", std::to_string(docId));
        services::Log log;
        log.LogInfo(Source("TransformExcelToXML"),
                    "a legacy binary workbook carries no document properties: its routing properties (QEL-...) "
                    "are lost",
                    fields);
    } catch (...) {
    }
}

// The length of a text once escaped in an XML document.
uint64_t EscapedLength(std::string_view text) {
    uint64_t n = 0;
    for (char c : text) n += c == '&' ? 5 : c == '<' || c == '>' ? 4 : c == '"' ? 6 : 1;
    return n;
}

// The length of the workbook's XML form, counted before it is built, so that a workbook
// whose document the site would refuse is refused before it takes that memory.
uint64_t XmlLength(workbook::Workbook& book, const std::string& name) {
    uint64_t n = 40 + EscapedLength(name);
    for (const workbook::CustomProperty& property : book.CustomProperties())
        if (IStartsWith(property.name, "QEL-")) n += 2 * property.name.size() + 5 + EscapedLength(property.value.ToString());
    const std::vector<workbook::SheetInfo> sheets = book.Sheets();
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].kind != workbook::SheetKind::Worksheet) continue;
        n += 32 + EscapedLength(sheets[i].name);
        book.Sheet(i).ForEachCell([&](workbook::CellRef ref, const workbook::CellValue& cell) {
            const std::string text = CellText(cell);
            if (Trim(text).empty()) return;
            n += 32 + std::to_string(ref.row).size() + workbook::ColumnName(ref.column).size() + EscapedLength(text);
            if (cell.formula && !cell.formula->empty()) n += 12 + EscapedLength(*cell.formula);
        });
    }
    return n;
}

void WriteProperties(workbook::Workbook& book, xml::XmlNode root) {
    for (const workbook::CustomProperty& property : book.CustomProperties()) {
        if (property.name == "QEL-USESDISTLIST") {
            bool set = false;
            try {
                set = property.value.ToBool();
            } catch (const Error&) {
                set = false;  // a date or a text that is no truth value: not set
            }
            if (set) AppendElement(root, "USESDISTLIST", "1");
            continue;
        }
        for (const auto& [name, element] : kRoutingProperties) {
            if (property.name != name) continue;
            for (const std::string& piece : Split(property.value.ToString(), ';'))
                AppendElement(root, element, piece);
        }
    }
}

void WriteValues(workbook::Workbook& book, xml::XmlNode root) {
    const std::vector<workbook::SheetInfo> sheets = book.Sheets();
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (sheets[i].kind != workbook::SheetKind::Worksheet) continue;
        xml::XmlNode sheetNode = AppendElement(root, "WorkSheet", {});
        SetAttribute(sheetNode, "Name", sheets[i].name);
        book.Sheet(i).ForEachCell([&](workbook::CellRef ref, const workbook::CellValue& cell) {
            const std::string text = CellText(cell);
            if (Trim(text).empty()) return;
            xml::XmlNode cellNode = AppendElement(sheetNode, "Cell", text);
            SetAttribute(cellNode, "Row", std::to_string(ref.row));
            SetAttribute(cellNode, "Column", workbook::ColumnName(ref.column));
            // A cell that shares the formula of another holds no text of its own.
            if (cell.formula && !cell.formula->empty()) SetAttribute(cellNode, "Formula", "=" + *cell.formula);
        });
    }
}

std::string TypeName(const Variant& value) {
    if (value.IsBool()) return "boolean";
    if (value.IsNumeric()) return "number";
    if (value.IsDate()) return "date";
    return "text";
}

// "yyyy-mm-dd" or "yyyy-mm-dd hh:mm[:ss]" (also with "T"), a real calendar date.
std::optional<DateTime> ParseDate(std::string_view text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    const std::string t = Trim(text);
    int n = std::sscanf(t.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
    bool shape = n == 3 ? t.size() == 10 : (n >= 6 && (sep == ' ' || sep == 'T'));
    if (!shape || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59 || y < 1900) return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(y), std::chrono::month(mo), std::chrono::day(d)};
    if (!ymd.ok()) return std::nullopt;
    return DateTime::FromParts(y, mo, d, h, mi, s);
}

std::optional<double> ParseNumber(std::string_view text) {
    const std::string t = Trim(text);
    if (t.empty()) return std::nullopt;
    double value = 0;
    const char* begin = t.data() + (t[0] == '+' ? 1 : 0);
    auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// The value of a property of the given type, or nothing when it does not fit the type.
std::optional<Variant> PropertyValue(const std::string& type, const Variant& value) {
    try {
        if (type == "text") return Variant(value.ToString());
        if (type == "number") {
            if (value.IsNumeric()) return Variant(value.ToDouble());
            if (value.IsString()) {
                if (auto number = ParseNumber(value.ToString())) return Variant(*number);
            }
            return std::nullopt;
        }
        if (type == "date") {
            if (value.IsDate()) return value;
            if (value.IsString()) {
                if (auto date = ParseDate(value.ToString())) return Variant(*date);
            }
            return std::nullopt;
        }
        if (type == "boolean") {
            if (value.IsBool()) return value;
            const std::string text = ToLower(Trim(value.ToString()));
            if (text == "yes") return Variant(true);
            if (text == "false") return Variant(false);
            return std::nullopt;
        }
    } catch (const Error&) {
        return std::nullopt;  // Null and objects fit no type
    }
    return std::nullopt;
}


bool IsTemplateExtension(const std::string& path) {
    const std::string ext = Extension(path);
    return ext == "xltx" || ext == "xlt";
}

// The row below which an append writes: the last row holding a value or a formula, 0 for
// an empty sheet.
uint32_t LastUsedRow(const workbook::Worksheet& sheet) {
    const std::optional<workbook::CellRange> used = sheet.UsedRange();
    return used ? used->last.row : 0;
}

// A place of the position language: a row number ("12"), column letters ("B") or a cell
// address ("B12"); 0 for the part it does not give.
struct CellPlace {
    uint32_t row = 0;
    uint32_t column = 0;
};

std::optional<CellPlace> ParsePlace(std::string_view text) {
    const std::string t = ToUpper(Trim(text));
    if (t.empty()) return std::nullopt;
    size_t letters = 0;
    while (letters < t.size() && t[letters] >= 'A' && t[letters] <= 'Z') ++letters;
    size_t digits = letters;
    while (digits < t.size() && t[digits] >= '0' && t[digits] <= '9') ++digits;
    if (digits != t.size() || letters > 3 || t.size() - letters > 7) return std::nullopt;
    CellPlace place;
    if (letters > 0) {
        uint32_t column = 0;
        for (size_t i = 0; i < letters; ++i) column = column * 26 + static_cast<uint32_t>(t[i] - 'A' + 1);
        if (column > workbook::kMaxColumns) return std::nullopt;
        place.column = column;
    }
    if (digits > letters) {
        const uint32_t row = static_cast<uint32_t>(std::stoul(t.substr(letters)));
        if (row < 1 || row > workbook::kMaxRows) return std::nullopt;
        place.row = row;
    }
    return place;
}

// One condition: a place alone, or a place, an operator and the value searched for.
struct SearchCondition {
    CellPlace place;
    std::optional<EExcelSearchOptions> op;
    std::string value;
};

// The value compared as a 32-bit integer, when it is a number that fits one.
std::optional<int32_t> RoundedWholeNumber(std::string_view text) {
    const std::optional<double> number = ParseNumber(text);
    if (!number) return std::nullopt;
    const double rounded = std::nearbyint(*number);
    if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::nullopt;
    return static_cast<int32_t>(rounded);
}

bool Matches(const workbook::Worksheet& sheet, uint32_t row, uint32_t column, const SearchCondition& condition) {
    if (row < 1 || column < 1) return false;
    const workbook::CellValue cell = sheet.Cell(workbook::CellRef{row, column});
    const std::string text = CellText(cell);
    if (Trim(text).empty()) return false;
    if (!condition.op) return true;
    if (*condition.op == EExcelSearchOptions::Equals) return Trim(text) == Trim(condition.value);
    const std::optional<int32_t> left =
        cell.type == workbook::CellType::Number ? RoundedWholeNumber(NumberText(cell.number)) : RoundedWholeNumber(text);
    const std::optional<int32_t> right = RoundedWholeNumber(condition.value);
    if (!left || !right) return false;
    return *condition.op == EExcelSearchOptions::GREATERTHAN ? *left > *right : *left < *right;
}

}  // namespace

void QelExcel::TransformExcelToXML(const std::string& i_sExcelFileLocation, xml::XmlDocument& o_oXml) {
    ExcelWorkBookPtr book;
    try {
        book = OpenWorkBook(i_sExcelFileLocation, true, docId_);
    } catch (...) {
        Reraise(Source("TransformExcelToXML"));
    }
    try {
        std::string name = fs::path(i_sExcelFileLocation).filename().string();
        if (!name.empty() && name[0] == '~') name.erase(0, 1);
        if (book->book.IsLegacyBinary()) LogLegacyWorkbook(name, docId_);
        const uint64_t length = XmlLength(book->book, name);
        const uint64_t limit = MaxDocumentSize();
        if (length > limit) {
            Dictionary entries;
            entries.Add("[%SIZE%]", std::to_string(length));
            entries.Add("[%MAXSIZE%]", std::to_string(limit));
            Raise(EnumerationErrors::ProcessDocumentError, Source("TransformExcelToXML"),
                  TranslateLabel("SLBSH1844", 1033, entries));
        }
        xml::XmlNode root = o_oXml.CreateDocumentElement("QELEXCEL");
        SetAttribute(root, "WorkBook", name);
        WriteProperties(book->book, root);
        WriteValues(book->book, root);
        CloseWorkBook(book);
    } catch (...) {
        CloseWorkBook(book);
        o_oXml = xml::XmlDocument();  // no half-built document is handed back
        Reraise(Source("TransformExcelToXML.ContentError"));
    }
}

void QelExcel::CloseWorkBook(ExcelWorkBookPtr& i_oExcelBook) noexcept { i_oExcelBook.reset(); }

void QelExcel::WriteExcelObjectToFile(ExcelWorkBookPtr& i_oExcelWorkBook,
                                      const std::string& i_sFileLocation, bool i_bCloseWorkBook) {
    try {
        if (!i_oExcelWorkBook)
            Raise(EnumerationErrors::MissingParameter, Source("WriteExcelObjectToFile"), "No workbook to write.");
        if (Trim(i_sFileLocation).empty())
            Raise(EnumerationErrors::MissingFileLocation, Source("WriteExcelObjectToFile"),
                  TranslateLabel("SLBSH4526"));
        i_oExcelWorkBook->book.Save(i_sFileLocation);
        i_oExcelWorkBook->path = i_sFileLocation;
        if (i_bCloseWorkBook) CloseWorkBook(i_oExcelWorkBook);
    } catch (...) {
        Reraise(Source("WriteExcelObjectToFile"));
    }
}

void QelExcel::SetCustomerPropertyInExcel(ExcelWorkBook& i_uExcelBook, const std::string& i_sPropertyName,
                                          const Variant& i_vPropertyValue,
                                          const std::string& i_sPropertyType) {
    const std::string source = Source("SetCustomerPropertyInExcel");
    try {
        const std::string type = ToLower(Trim(i_sPropertyType));
        const std::optional<Variant> value = PropertyValue(type, i_vPropertyValue);
        if (!value) {
            Dictionary entries;
            entries.Add("[%PROPERTY%]", i_sPropertyName);
            entries.Add("[%PROPERTYTYPE%]", i_sPropertyType);
            std::optional<xml::XmlDocument> reps;
            FillReplacements(reps, entries);
            LogPublicationErrorWithReplacements(docId_, ErrNum(EnumerationErrors::InsertExcelError),
                                                LabelOrCode("SLBSH4533", 1033, entries), source,
                                                "SLBSH4533", &*reps);
            return;
        }
        for (const workbook::CustomProperty& existing : i_uExcelBook.book.CustomProperties()) {
            if (!IEquals(existing.name, i_sPropertyName)) continue;
            const std::string existingType = TypeName(existing.value);
            if (existingType != type) {
                Dictionary entries;
                entries.Add("[%PROPERTY%]", i_sPropertyName);
                entries.Add("[%PROPERTYTYPE%]", i_sPropertyType);
                entries.Add("[%EXCELPROPERTYNAME%]", existing.name);
                entries.Add("[%EXCELPROPERTYTYPE%]", existingType);
                std::optional<xml::XmlDocument> reps;
                FillReplacements(reps, entries);
                LogPublicationErrorWithReplacements(docId_, ErrNum(EnumerationErrors::InsertExcelError),
                                                    LabelOrCode("SLBSH4534", 1033, entries), source,
                                                    "SLBSH4534", &*reps);
                return;
            }
            // The existing name is kept as the workbook spells it.
            i_uExcelBook.book.SetCustomProperty(existing.name, *value);
            return;
        }
        i_uExcelBook.book.SetCustomProperty(i_sPropertyName, *value);
    } catch (...) {
        Reraise(source);
    }
}

Variant QelExcel::GetCustomerPropertyFromExcel(ExcelWorkBook& i_uExcelBook, const std::string& i_sPropertyName) {
    try {
        for (const workbook::CustomProperty& property : i_uExcelBook.book.CustomProperties())
            if (property.name == i_sPropertyName) return property.value;
        return Variant(std::string());
    } catch (...) {
        Reraise(Source("GetCustomerPropertyFromExcel"));
    }
}

// Writes the elements of a document into the sheets of a workbook.
class QelExcel::SheetWriter {
  public:
    SheetWriter(QelExcel& owner, const xml::XmlDocument& doc, workbook::Workbook& book, EWriteMode mode)
        : owner_(owner), doc_(doc), book_(book), mode_(mode) {}

    void Write() {
        const bool fresh = mode_ == EWriteMode::Create && !owner_.templateUsed_;
        if (fresh) {
            book_.RenameSheet(0, kScratchSheet);
            while (book_.SheetCount() > 1) book_.DeleteSheet(book_.SheetCount() - 1);
        }
        const std::optional<std::vector<xml::XmlNode>> elements =
            xsl_patterns::ExecuteXSLPatternReturnAllNodes(doc_, "//*[@QELWORKSHEET]");
        bool written = false;
        for (const xml::XmlNode& element : elements.value_or(std::vector<xml::XmlNode>{})) {
            const std::string name = element.Attribute("QELWORKSHEET").value_or("");
            std::optional<size_t> index = book_.FindSheet(name);
            if (!index) {
                const std::vector<workbook::SheetInfo> sheets = book_.Sheets();
                for (size_t i = 0; i < sheets.size(); ++i)
                    if (sheets[i].state == workbook::SheetState::Hidden) book_.MoveSheet(i, 0);
                index = book_.AddSheet(name);
            }
            workbook::Worksheet& sheet = book_.Sheet(*index);
            const uint32_t lastRow = mode_ == EWriteMode::Append ? LastUsedRow(sheet) : 0;
            Process(element, sheet, name, lastRow);
            written = true;
        }
        if (fresh && written) {
            if (const std::optional<size_t> scratch = book_.FindSheet(kScratchSheet)) book_.DeleteSheet(*scratch);
        }
    }

  private:
    static constexpr std::string_view kScratchSheet = "QelServer";

    void Process(const xml::XmlNode& element, workbook::Worksheet& sheet, const std::string& sheetName,
                 uint32_t lastRow) {
        const std::optional<std::string> labelPos = element.Attribute("QELLABELPOS");
        const std::optional<std::string> valuePos = element.Attribute("QELVALUEPOS");
        const int32_t block = RoundedWholeNumber(element.Attribute("QELBLOCK").value_or("")).value_or(0);
        if (labelPos) {
            const std::string label = element.Attribute("QELLABEL").value_or(element.Name());
            if (!Trim(label).empty()) Put(sheet, sheetName, Resolve(sheet, sheetName, *labelPos, lastRow, block), label);
        }
        if (valuePos) {
            std::optional<std::string> value = element.Attribute("QELVALUE");
            if (!value) {
                const std::string text = element.Text();
                if (!Trim(text).empty()) value = text;
            }
            if (value) Put(sheet, sheetName, Resolve(sheet, sheetName, *valuePos, lastRow, block), *value);
        }
        for (const xml::XmlNode& child : element.ChildElements())
            if (!child.Attribute("QELWORKSHEET")) Process(child, sheet, sheetName, lastRow);
    }

    // A text that reads as a number is written as a number, as the spreadsheet application
    // takes a typed entry.
    void Put(workbook::Worksheet& sheet, const std::string& sheetName, CellPlace place, const std::string& value) {
        if (place.row < 1 || place.column < 1) return;
        try {
            if (const std::optional<double> number = ParseNumber(value))
                sheet.SetNumber(workbook::CellRef{place.row, place.column}, *number);
            else
                sheet.SetText(workbook::CellRef{place.row, place.column}, value);
        } catch (...) {
            Dictionary entries;
            entries.Add("[%SHEET%]", sheetName);
            entries.Add("[%COLUMN%]", workbook::ColumnName(place.column));
            entries.Add("[%ROW%]", std::to_string(place.row));
            entries.Add("[%VALUE%]", value);
            Reraise(kSource, LabelOrCode("SLBSH4530", 1033, entries));
        }
    }

    SearchCondition ParseCondition(const std::string& text, const std::string& position) const {
        SearchCondition condition;
        if (const std::optional<CellPlace> place = ParsePlace(text)) {
            condition.place = *place;
            return condition;
        }
        size_t at = std::string::npos;
        for (const auto& [symbol, op] : {std::pair{'>', EExcelSearchOptions::GREATERTHAN},
                                         std::pair{'<', EExcelSearchOptions::LessThan},
                                         std::pair{'=', EExcelSearchOptions::Equals}}) {
            at = text.find(symbol);
            if (at != std::string::npos) {
                condition.op = op;
                break;
            }
        }
        const std::optional<CellPlace> place = at == std::string::npos ? std::nullopt : ParsePlace(text.substr(0, at));
        if (!place) NotFound(position);
        condition.place = *place;
        condition.value = text.substr(at + 1);
        const std::string trimmed = Trim(condition.value);
        if (!trimmed.empty() && trimmed.back() == '?')
            condition.value = xsl_patterns::ExecuteXSLPattern(doc_, trimmed.substr(0, trimmed.size() - 1));
        return condition;
    }

    [[noreturn]] static void NotFound(const std::string& position) {
        Dictionary entries;
        entries.Add("[%ADDRESS%]", position);
        Raise(EnumerationErrors::InValidExcelAddress, std::string(kSource),
              LabelOrCode("SLBSH4529", 1033, entries));
    }

    CellPlace Resolve(workbook::Worksheet& sheet, const std::string& sheetName, const std::string& position,
                  uint32_t lastRow, int32_t block) {
        try {
            const bool updating = mode_ == EWriteMode::Update && !owner_.templateUsed_;
            CellPlace result = updating ? CellPlace{1, 1} : CellPlace{};
            bool searched = false;
            // The extent of a search, found when a search needs it: it costs a pass over the sheet.
            std::optional<std::optional<workbook::CellRange>> extent;
            for (const std::string& alternative : Split(position, '|')) {
                std::vector<std::string> parts = SplitAnd(alternative);
                const SearchCondition first = ParseCondition(parts[0], position);
                if (!first.op) {
                    if (first.place.row) result.row = first.place.row;
                    if (first.place.column) result.column = first.place.column;
                    continue;
                }
                searched = true;
                std::vector<SearchCondition> more;
                for (size_t i = 1; i < parts.size(); ++i) more.push_back(ParseCondition(parts[i], position));
                // Along a row for a row number, else down a column.
                const bool alongRow = first.place.column == 0;
                std::optional<CellPlace> found;
                if (!extent) extent = sheet.UsedRange();
                if (const std::optional<workbook::CellRange>& used = *extent) {
                    if (alongRow) {
                        for (uint32_t c = std::max<uint32_t>(result.column, 1); c <= used->last.column && !found; ++c)
                            if (Matches(sheet, first.place.row, c, first) && Holds(sheet, more, first.place.row, c, true))
                                found = CellPlace{first.place.row, c};
                    } else {
                        const uint32_t from = first.place.row ? first.place.row : std::max<uint32_t>(result.row, 1);
                        for (uint32_t r = from; r <= used->last.row && !found; ++r)
                            if (Matches(sheet, r, first.place.column, first) && Holds(sheet, more, r, first.place.column, false))
                                found = CellPlace{r, first.place.column};
                    }
                }
                if (found) {
                    result = *found;
                } else if (updating && block >= 1) {
                    if (block != owner_.lastBlock_) {
                        owner_.lastBlock_ = block;
                        owner_.lastBlockRow_ = LastUsedRow(sheet) + 1;
                    }
                    result.row = owner_.lastBlockRow_;
                    if (!alongRow) result.column = first.place.column;
                } else {
                    NotFound(position);
                }
            }
            if (!searched && result.row == 0 && result.column == 0) NotFound(position);
            if (result.row > 0) result.row += lastRow;
            return result;
        } catch (...) {
            Dictionary entries;
            entries.Add("[%SHEET%]", sheetName);
            entries.Add("[%ADDRESS%]", position);
            Reraise(kSource, LabelOrCode("SLBSH4532", 1033, entries));
        }
    }

    // The further conditions hold on the found cell's row (a search down a column) or column
    // (a search along a row).
    static bool Holds(const workbook::Worksheet& sheet, const std::vector<SearchCondition>& conditions, uint32_t row,
                      uint32_t column, bool alongRow) {
        for (const SearchCondition& condition : conditions) {
            const uint32_t r = alongRow ? condition.place.row : row;
            const uint32_t c = alongRow ? column : condition.place.column;
            if (!Matches(sheet, r, c, condition)) return false;
        }
        return true;
    }

    // The conditions of an alternative, separated by "AND".
    static std::vector<std::string> SplitAnd(const std::string& alternative) {
        std::vector<std::string> parts;
        size_t from = 0;
        for (size_t at = alternative.find("AND"); at != std::string::npos; at = alternative.find("AND", from)) {
            parts.push_back(Trim(alternative.substr(from, at - from)));
            from = at + 3;
        }
        parts.push_back(Trim(alternative.substr(from)));
        return parts;
    }

    static constexpr std::string_view kSource = "Kestrix.QelExcel.WriteSheets";

    QelExcel& owner_;
    const xml::XmlDocument& doc_;
    workbook::Workbook& book_;
    EWriteMode mode_;
};

ExcelWorkBookPtr QelExcel::TransformXMLToExcel(const std::string& i_sXml, EWriteMode i_nWriteMode,
                                               int32_t i_lDocID, bool i_bTemplateUsed,
                                               const std::string& i_sFilePath,
                                               const std::string& i_sFilePathDest) {
    const std::string source = Source("TransformXMLToExcel");
    try {
        xml::XmlDocument doc;
        if (!doc.LoadXml(i_sXml)) {
            const xml::ParseError& parse = doc.parseError();
            throw Error(parse.errorCode, "MSXML.DOMDocument", parse.reason + " DocumentID: " + std::to_string(i_lDocID));
        }
        docId_ = i_lDocID;
        templateUsed_ = i_bTemplateUsed;
        lastBlock_ = 0;
        lastBlockRow_ = 0;

        const auto missing = [&] {
            Raise(EnumerationErrors::MissingFileLocation, source, TranslateLabel("SLBSH4526"));
        };
        ExcelWorkBookPtr book;
        std::string target;  // where the workbook is saved before it is handed back
        switch (i_nWriteMode) {
            case EWriteMode::Append:
            case EWriteMode::Update:
                if (Trim(i_sFilePath).empty()) missing();
                book = OpenWorkBook(i_sFilePath, false, docId_);
                target = i_sFilePath;
                break;
            case EWriteMode::Create:
                if (!i_bTemplateUsed) {
                    book = std::make_unique<ExcelWorkBook>(ExcelWorkBook{workbook::Workbook::Create(), {}});
                    break;
                }
                if (Trim(i_sFilePath).empty() && Trim(i_sFilePathDest).empty()) missing();
                if (IsTemplateExtension(i_sFilePath)) {
                    if (Trim(i_sFilePathDest).empty()) missing();
                    book = std::make_unique<ExcelWorkBook>(
                        ExcelWorkBook{workbook::Workbook::FromTemplate(i_sFilePath), i_sFilePathDest});
                    target = i_sFilePathDest;
                } else {
                    target = Trim(i_sFilePathDest).empty() ? i_sFilePath : i_sFilePathDest;
                    if (!Trim(i_sFilePath).empty() && target != i_sFilePath) {
                        // The copy is checked before anything is written over the destination.
                        OpenWorkBook(i_sFilePath, true, docId_);
                        fs::copy_file(i_sFilePath, target, fs::copy_options::overwrite_existing);
                        // A template kept read-only gives a copy that can be filled in.
                        fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
                    }
                    book = OpenWorkBook(target, false, docId_);
                }
                break;
            default:
                Raise(EnumerationErrors::WrongIOMode, source, "Unknown write mode " + std::to_string(ToInt(i_nWriteMode)));
        }

        const std::optional<std::vector<xml::XmlNode>> properties = xsl_patterns::ExecuteXSLPatternReturnAllNodes(
            doc, "//*[@QELPROPLABEL and @QELPROPVALUE and @QELPROPTYPE]");
        for (const xml::XmlNode& node : properties.value_or(std::vector<xml::XmlNode>{}))
            SetCustomerPropertyInExcel(*book, *node.Attribute("QELPROPLABEL"), Variant(*node.Attribute("QELPROPVALUE")),
                                       *node.Attribute("QELPROPTYPE"));
        if (i_nWriteMode == EWriteMode::Create && !i_bTemplateUsed) {
            const xml::XmlNode original = doc.SelectSingleNode("//*[@QELORIGINALFILENAME]").first();
            if (original)
                SetCustomerPropertyInExcel(*book, "QEL-ORIGINALNAME",
                                           Variant(*original.Attribute("QELORIGINALFILENAME")), "text");
        }
        // A template is filled in where its cells are: its sheets stay as they are.
        SheetWriter(*this, doc, book->book,
                    i_nWriteMode == EWriteMode::Create && i_bTemplateUsed ? EWriteMode::Update : i_nWriteMode)
            .Write();
        if (!target.empty()) {
            book->book.Save(target);
            book->path = target;
        }
        return book;
    } catch (...) {
        Reraise(source);
    }
}

bool IsWorkbookDocumentName(const std::string& fileName) {
    const std::string ext = Extension(fileName);
    return ext == "xls" || ext == "xlsx" || ext == "xlsm";
}

}  // namespace kestrix
