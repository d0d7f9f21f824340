#pragma once

// Inside the room only: the shared strings of a workbook and the cells of a worksheet, as
// read from their parts and written back.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/workbook/workbook.h"

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

    Impl(detail::SharedStrings& strings, std::string partName, std::string original);

    CellValue Value(const Cell& cell) const;
    const Cell* Find(CellRef ref) const;
    Cell& Make(CellRef ref);
    /// The part as it is now: the original part with its cell data and dimension replaced.
    std::string Xml() const;

    detail::SharedStrings& strings;
    std::string partName;
    std::string original;
    std::string prefix;  // of the elements of the cell data, with its ":" when there is one
    std::vector<Row> rows;  // by row
    bool modified = false;
};

}  // namespace kestrix::workbook
