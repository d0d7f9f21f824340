#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/variant.h"

namespace kestrix::db {

/// The rows a query answered, read forward. A recordset holds its rows itself, so it stays
/// readable after its connection went back to the pool; it belongs to whoever holds it.
/// Field names are matched ignoring case (PostgreSQL folds unquoted names to lower case).
class Recordset {
public:
    Recordset() = default;
    Recordset(std::vector<std::string> columns, std::vector<std::vector<Variant>> rows);

    /// True when the current position is past the last row (or there are no rows).
    bool Eof() const { return current_ >= rows_.size(); }
    void MoveNext();

    /// The field of the current row by column name; error 3265 for an unknown name,
    /// an error also when the recordset is at its end.
    const Variant& Field(std::string_view name) const;
    const Variant& Field(size_t index) const;
    bool IsNull(std::string_view name) const { return Field(name).IsNull(); }
    /// NULL reads as "", other values as their text.
    std::string GetString(std::string_view name) const;
    /// NULL reads as `ifNull`.
    int64_t GetInt(std::string_view name, int64_t ifNull = 0) const;
    double GetDouble(std::string_view name, double ifNull = 0) const;

    size_t FieldCount() const { return columns_.size(); }
    const std::string& FieldName(size_t index) const { return columns_.at(index); }
    /// Index of the column `name`, or -1 when there is none.
    int FieldIndex(std::string_view name) const;
    size_t RowCount() const { return rows_.size(); }
    /// Releases the rows; the recordset is then at its end.
    void Close();

private:
    std::vector<std::string> columns_;
    std::vector<std::vector<Variant>> rows_;
    size_t current_ = 0;
};

/// The values of one row being added to or changed in a table, in the order they were set.
/// Long texts are written in pieces with `AppendChunk`; only columns that were set are
/// written.
class EditRow {
public:
    EditRow() = default;
    /// A row read from the database: its values are known but nothing is marked as changed.
    EditRow(const Recordset& current);

    void Set(std::string_view column, Variant value);
    /// Appends text to the column's value (a column not yet set starts from "").
    void AppendChunk(std::string_view column, std::string_view chunk);
    /// The value of the column: the changed one when set, else the value read, else Empty.
    const Variant& Get(std::string_view column) const;
    bool Has(std::string_view column) const;

    struct Value {
        std::string column;
        Variant value;
        bool changed;
    };
    const std::vector<Value>& Values() const { return values_; }

private:
    Value* Find(std::string_view column);
    const Value* Find(std::string_view column) const;
    std::vector<Value> values_;
};

}  // namespace kestrix::db
