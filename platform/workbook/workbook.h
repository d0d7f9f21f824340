#pragma once

// The spreadsheet engine: Office Open XML workbooks (the zip package of a workbook part,
// its sheets, shared strings, styles and document properties), read, created and changed
// in place. Whatever the engine does not touch is carried over to the saved package as it
// was, entry for entry. Legacy binary workbooks are read, values only, and never written.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/variant.h"

namespace kestrix::workbook {

/// Error numbers of this room; the source of every error is "Workbook".
namespace wberr {
/// The bytes are no zip package at all (a text, a csv, a renamed PDF...).
inline constexpr int32_t NotAPackage = static_cast<int32_t>(0x80A5F001u);
/// A zip package whose structure or an entry of which is damaged.
inline constexpr int32_t DamagedPackage = static_cast<int32_t>(0x80A5F002u);
/// A package over one of the size limits (entries, sizes, compression ratio).
inline constexpr int32_t LimitExceeded = static_cast<int32_t>(0x80A5F003u);
/// An entry or a relationship whose path leaves the package.
inline constexpr int32_t UnsafePath = static_cast<int32_t>(0x80A5F004u);
/// A sound zip package that holds no workbook, or a part of it that is not what it must be.
inline constexpr int32_t NotAWorkbook = static_cast<int32_t>(0x80A5F005u);
/// A sheet name the spreadsheet application would refuse.
inline constexpr int32_t InvalidSheetName = static_cast<int32_t>(0x80A5F006u);
/// A sheet index or name that the workbook does not hold, or an operation the sheet does
/// not allow (cells of a chart sheet, hiding or deleting the last visible sheet).
inline constexpr int32_t InvalidSheet = static_cast<int32_t>(0x80A5F007u);
/// A cell address or row and column outside the sheet.
inline constexpr int32_t InvalidAddress = static_cast<int32_t>(0x80A5F008u);
/// A custom property value of none of the four types, or an unusable property name.
inline constexpr int32_t InvalidProperty = static_cast<int32_t>(0x80A5F009u);
/// A file that cannot be read or written.
inline constexpr int32_t FileError = static_cast<int32_t>(0x80A5F00Au);
/// A value no cell can hold: a number that is not finite, a text that is not UTF-8 or is
/// longer than 32,767 characters.
inline constexpr int32_t InvalidValue = static_cast<int32_t>(0x80A5F00Bu);
/// A change or a save asked of a legacy binary workbook, which can only be read.
inline constexpr int32_t ReadOnly = static_cast<int32_t>(0x80A5F00Cu);
}  // namespace wberr

/// What a package may hold before it is refused. The defaults let through any workbook a
/// business partner sends and stop a zip bomb long before it can hurt.
struct Limits {
    /// Size of the package itself.
    uint64_t maxPackageBytes = 512ull << 20;
    /// Number of entries.
    uint64_t maxEntries = 10000;
    /// Uncompressed size of one entry.
    uint64_t maxEntryBytes = 256ull << 20;
    /// Uncompressed size of all entries together.
    uint64_t maxTotalBytes = 1ull << 30;
    /// Uncompressed to compressed size of one entry, for entries over `ratioFromBytes`
    /// (sheet XML compresses about 10 to 50 times; a bomb about 1000 times).
    uint64_t maxRatio = 200;
    uint64_t ratioFromBytes = 1ull << 20;
};

enum class SheetState { Visible, Hidden, VeryHidden };
enum class SheetKind { Worksheet, ChartSheet, Other };

struct SheetInfo {
    std::string name;
    SheetState state = SheetState::Visible;
    SheetKind kind = SheetKind::Worksheet;
};

/// The value a cell holds; for a formula cell, the value last computed by the application
/// that saved the workbook.
enum class CellType { Empty, Number, Text, Boolean, Error };

struct CellValue {
    CellType type = CellType::Empty;
    double number = 0;
    bool boolean = false;
    /// The text of a text cell, the code of an error cell ("#N/A", "#DIV/0!").
    std::string text;
    /// The formula without its leading "=", when the cell holds one. A cell that shares the
    /// formula of another (filled down) holds an empty formula text.
    std::optional<std::string> formula;
    /// Index of the cell's format in the workbook's styles (0: the default format).
    uint32_t style = 0;
    /// For a number whose format shows a date or a time: that moment (the number is its
    /// serial number of days).
    std::optional<DateTime> date;
};

/// A cell position, 1-based: row 1..1048576, column 1..16384 (A..XFD).
struct CellRef {
    uint32_t row = 0;
    uint32_t column = 0;
    friend bool operator==(const CellRef&, const CellRef&) = default;
};

inline constexpr uint32_t kMaxRows = 1048576;
inline constexpr uint32_t kMaxColumns = 16384;

/// "B7", "$B$7", "b7" -> {7, 2}; InvalidAddress for anything else.
CellRef ParseAddress(std::string_view address);
/// {7, 2} -> "B7".
std::string FormatAddress(CellRef ref);
/// 1 -> "A", 27 -> "AA".
std::string ColumnName(uint32_t column);

struct CellRange {
    CellRef first;
    CellRef last;
    friend bool operator==(const CellRange&, const CellRange&) = default;
};

class Workbook;

/// One worksheet of a workbook, owned by the workbook (a reference stays valid until the
/// sheet is deleted or the workbook goes).
class Worksheet {
  public:
    struct Impl;
    explicit Worksheet(std::unique_ptr<Impl> impl);
    ~Worksheet();
    Worksheet(const Worksheet&) = delete;
    Worksheet& operator=(const Worksheet&) = delete;

    CellValue Cell(CellRef ref) const;
    CellValue Cell(std::string_view address) const { return Cell(ParseAddress(address)); }

    /// Writing a value replaces the cell's value and formula and keeps its format;
    /// InvalidValue for a value no cell can hold.
    void SetNumber(CellRef ref, double value);
    void SetText(CellRef ref, std::string_view value);
    void SetBoolean(CellRef ref, bool value);
    /// A date as its serial number, in the cell's format when that shows a date, else in a
    /// date and time format.
    void SetDate(CellRef ref, const DateTime& value);
    /// Removes value and formula; the cell keeps its format.
    void Clear(CellRef ref);

    /// The smallest range holding every cell with a value or a formula; none for a sheet
    /// without such cells.
    std::optional<CellRange> UsedRange() const;
    /// Calls `visit` for every cell with a value or a formula, row by row, each row from left
    /// to right: the way to read a sheet whose used range is large but sparse.
    void ForEachCell(const std::function<void(CellRef, const CellValue&)>& visit) const;

  private:
    friend class Workbook;
    Impl& impl() { return *impl_; }
    std::unique_ptr<Impl> impl_;
};

/// The four types of a custom document property: text (std::string), number (double; an
/// int64 is taken as a number), date (DateTime, the clock time as written in the package)
/// and boolean.
struct CustomProperty {
    std::string name;
    Variant value;
};

class Workbook {
  public:
    /// A new workbook of one empty sheet named "Sheet1".
    static Workbook Create();
    /// A workbook from a package file or its bytes. A template stays a template when saved.
    /// A legacy binary workbook (a compound file, told by its content and not by its name)
    /// is read too, values only: its sheets and the values of its cells, without formulas,
    /// formats, hidden states or document properties; it cannot be changed or saved.
    static Workbook Open(const std::string& path, const Limits& limits = {});
    static Workbook FromBytes(std::string bytes, const Limits& limits = {});
    /// A new workbook made from a template (or from a workbook): saved as a workbook.
    static Workbook FromTemplate(const std::string& path, const Limits& limits = {});

    Workbook(Workbook&&) noexcept;
    Workbook& operator=(Workbook&&) noexcept;
    ~Workbook();

    /// True when the package will be saved as a template.
    bool IsTemplate() const;
    /// True when the workbook was read from a legacy binary workbook: every change and every
    /// save then fails with ReadOnly.
    bool IsLegacyBinary() const;

    // Sheets, in their order in the workbook.
    size_t SheetCount() const;
    std::vector<SheetInfo> Sheets() const;
    /// The index of the sheet of that name, ignoring case.
    std::optional<size_t> FindSheet(std::string_view name) const;
    /// Adds an empty worksheet after the last sheet and returns its index.
    size_t AddSheet(std::string_view name);
    void RenameSheet(size_t index, std::string_view name);
    /// Deletes a sheet; the last visible sheet cannot go.
    void DeleteSheet(size_t index);
    /// Moves the sheet at `from` so that it stands at index `to`.
    void MoveSheet(size_t from, size_t to);
    /// Hides or shows a sheet; the last visible sheet cannot be hidden.
    void SetSheetState(size_t index, SheetState state);
    /// The worksheet at `index`, read on first use; InvalidSheet for a chart sheet.
    Worksheet& Sheet(size_t index);
    Worksheet& Sheet(std::string_view name);

    /// Why the application would refuse `name` for a sheet (empty, longer than 31
    /// characters, one of []:*?/\, an apostrophe at either end, "History"), or nothing.
    /// Unique names are checked by the operations themselves.
    static std::optional<std::string> SheetNameProblem(std::string_view name);

    // Custom document properties, names compared ignoring case.
    std::vector<CustomProperty> CustomProperties() const;
    std::optional<Variant> GetCustomProperty(std::string_view name) const;
    /// Sets (or replaces, with its type) a property; InvalidProperty for a value of another
    /// type than text, number, date or boolean.
    void SetCustomProperty(std::string_view name, const Variant& value);
    bool RemoveCustomProperty(std::string_view name);

    /// The package with every change, as bytes or written to a file (through a temporary
    /// file in the same folder, renamed over the target). The workbook stays open and can
    /// be changed and saved again.
    std::string SaveToBytes();
    void Save(const std::string& path);

  private:
    struct Impl;
    explicit Workbook(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix::workbook
