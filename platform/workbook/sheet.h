#pragma once

// Inside the room only: the shared strings and cell formats of a workbook and the cells of
// a worksheet, as read from their parts and written back.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/workbook/workbook.h"
#include "platform/workbook/xml_part.h"

namespace kestrix::workbook::detail {

/// The shared string table: the texts the package holds, then the ones added since.
class SharedStrings {
  public:
    void Load(const std::string& bytes, const std::string& partName);
    const std::string* At(size_t index) const;
    uint32_t Add(std::string_view text);
    size_t OriginalCount() const { return originalCount_; }
    const std::vector<std::string>& Items() const { return items_; }
    bool Grown() const { return items_.size() > originalCount_; }

  private:
    std::vector<std::string> items_;
    size_t originalCount_ = 0;
    std::unordered_map<std::string, uint32_t> index_;  // filled on the first Add
};

/// The cell formats of a workbook, as far as values need them: which show a date or a time,
/// and one to give cells that are written a date.
class Formats {
  public:
    /// `styles` is the styles part as a tree, or null when the workbook has none.
    void Load(DocPtr styles, std::string partName, bool date1904);
    bool IsDate(uint32_t style) const { return style < dateXf_.size() && dateXf_[style]; }
    bool Date1904() const { return date1904_; }
    /// The index of a cell format that shows date and time, added when there is none yet.
    uint32_t DateStyle();
    bool Changed() const { return changed_; }
    const std::string& PartName() const { return part_; }
    xmlDoc* Doc() const { return doc_.get(); }

  private:
    DocPtr doc_;
    std::string part_;
    bool date1904_ = false;
    std::vector<bool> dateXf_;
    std::optional<uint32_t> dateStyle_;
    bool changed_ = false;
};

/// A cell's serial number of days as a moment, and back (whole seconds). The serial
/// numbers of the 1900 system count the 29th of February 1900 that never was, as the
/// application does; InvalidValue for a moment before the first day of the system.
DateTime SerialToDate(double serial, bool date1904);
double DateToSerial(const DateTime& date, bool date1904);

/// The formula with every reference to the sheet `oldName` ("Old!A1", "'Old Name'!A1")
/// made a reference to `newName`; nothing when it has none. Texts in quotes and references
/// into other workbooks ("[1]Old!A1") are left alone.
std::optional<std::string> RenameSheetReferences(std::string_view formula, std::string_view oldName,
                                                 std::string_view newName);

/// The part text of a new, empty worksheet.
std::string EmptyWorksheetXml();

}  // namespace kestrix::workbook::detail

namespace kestrix::workbook {

struct Worksheet::Impl {
    // How the value of a cell is stored (its "t" attribute).
    enum class Kind : uint8_t { Blank, Number, Shared, Inline, Boolean, Error, FormulaText, Other };

    // What few cells have: kept apart so that a plain cell stays small.
    struct Rare {
        std::string type;        // the "t" attribute as read, for Kind::Other
        std::string attributes;  // any other attributes, as XML text
        std::optional<std::string> formula;  // text of <f>
        std::string formulaAttributes;       // attributes of <f>, as XML text
        std::string sharedIndex;             // "si" of a shared formula
        std::string extra;                   // other child elements, as XML text
    };
    struct Cell {
        uint32_t column = 0;
        Kind kind = Kind::Blank;
        std::optional<uint32_t> style;
        std::string value;  // text of <v>, or the text of an inline string
        std::unique_ptr<Rare> rare;

        Rare& More() {
            if (!rare) rare = std::make_unique<Rare>();
            return *rare;
        }
        bool HasFormula() const { return rare && rare->formula; }
    };
    struct Row {
        uint32_t row = 0;
        std::string attributes;  // other than "r" and "spans"
        std::string extra;
        std::vector<Cell> cells;  // by column
    };

    Impl(detail::SharedStrings& strings, detail::Formats& formats, std::string partName, std::string original);

    CellValue Value(const Cell& cell) const;
    const Cell* Find(CellRef ref) const;
    Cell& Make(CellRef ref);
    /// The part as it is now: the original part with its cell data and dimension replaced.
    std::string Xml() const;
    /// Makes the formulas that refer to sheet `oldName` refer to `newName`.
    void RenameSheetReferences(std::string_view oldName, std::string_view newName);

    detail::SharedStrings& strings;
    detail::Formats& formats;
    std::string partName;
    std::string original;
    std::string prefix;  // of the elements of the cell data, with its ":" when there is one
    std::vector<Row> rows;  // by row
    bool modified = false;
    bool readOnly = false;  // a sheet of a legacy binary workbook
};

}  // namespace kestrix::workbook
