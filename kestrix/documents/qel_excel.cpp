#include "kestrix/documents/qel_excel.h"

#include <unistd.h>

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
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/i18n.h"
#include "platform/base/dictionary.h"
#include "platform/base/strings.h"

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

// Opens a workbook file; one that must be written but cannot be is recorded as a publication
// error of the document and refused.
ExcelWorkBookPtr OpenWorkBook(const std::string& path, bool readOnly, int32_t docId) {
    static constexpr std::string_view kOpen = "Kestrix.QelExcel.OpenWorkBook";
    try {
        const std::string ext = Extension(path);
        if (ext != "xlsx" && ext != "xlsm" && ext != "xltx" && ext != "xls" && ext != "xlt")
            Raise(EnumerationErrors::NotAnExcelFile, std::string(kOpen), TranslateLabel("SLBSH4525"));
        auto book = std::make_unique<ExcelWorkBook>(ExcelWorkBook{workbook::Workbook::Open(path), path});
        if (!readOnly && ::access(path.c_str(), W_OK) != 0) {
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
        xml::XmlNode root = o_oXml.CreateDocumentElement("QELEXCEL");
        SetAttribute(root, "WorkBook", name);
        WriteProperties(book->book, root);
        WriteValues(book->book, root);
        CloseWorkBook(book);
    } catch (...) {
        CloseWorkBook(book);
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

}  // namespace kestrix
