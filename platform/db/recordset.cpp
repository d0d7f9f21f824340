#include "platform/db/recordset.h"

#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix::db {

namespace {

/// The number of the failure "no current row" (reading at the end of a recordset).
constexpr int32_t kNoCurrentRow = 3021;

const Variant& EmptyValue() {
    static const Variant empty;
    return empty;
}

}  // namespace

Recordset::Recordset(std::vector<std::string> columns, std::vector<std::vector<Variant>> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {}

void Recordset::MoveNext() {
    if (Eof())
        throw Error(kNoCurrentRow, "Recordset", "MoveNext past the end of the recordset.");
    ++current_;
}

int Recordset::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (IEquals(columns_[i], name)) return static_cast<int>(i);
    return -1;
}

const Variant& Recordset::Field(std::string_view name) const {
    const int index = FieldIndex(name);
    if (index < 0)
        throw Error(errnum::ItemNotFound, "Recordset",
                    "The field '" + std::string(name) + "' is not in the recordset.");
    return Field(static_cast<size_t>(index));
}

const Variant& Recordset::Field(size_t index) const {
    if (Eof())
        throw Error(kNoCurrentRow, "Recordset", "No current row: the recordset is at its end.");
    if (index >= columns_.size())
        throw Error(errnum::ItemNotFound, "Recordset",
                    "The recordset has no field number " + std::to_string(index) + ".");
    return rows_[current_][index];
}

std::string Recordset::GetString(std::string_view name) const {
    const Variant& v = Field(name);
    return v.IsNull() ? std::string() : v.ToString();
}

int64_t Recordset::GetInt(std::string_view name, int64_t ifNull) const {
    const Variant& v = Field(name);
    return v.IsNull() ? ifNull : v.ToInt64();
}

double Recordset::GetDouble(std::string_view name, double ifNull) const {
    const Variant& v = Field(name);
    return v.IsNull() ? ifNull : v.ToDouble();
}

void Recordset::Close() {
    rows_.clear();
    rows_.shrink_to_fit();
    current_ = 0;
}

EditRow::EditRow(const Recordset& current) {
    values_.reserve(current.FieldCount());
    for (size_t i = 0; i < current.FieldCount(); ++i)
        values_.push_back(Value{current.FieldName(i), current.Field(i), false});
}

EditRow::Value* EditRow::Find(std::string_view column) {
    for (auto& v : values_)
        if (IEquals(v.column, column)) return &v;
    return nullptr;
}

const EditRow::Value* EditRow::Find(std::string_view column) const {
    for (const auto& v : values_)
        if (IEquals(v.column, column)) return &v;
    return nullptr;
}

void EditRow::Set(std::string_view column, Variant value) {
    if (Value* v = Find(column)) {
        v->value = std::move(value);
        v->changed = true;
    } else {
        values_.push_back(Value{std::string(column), std::move(value), true});
    }
}

void EditRow::AppendChunk(std::string_view column, std::string_view chunk) {
    Value* v = Find(column);
    if (!v) {
        values_.push_back(Value{std::string(column), Variant(std::string(chunk)), true});
        return;
    }
    // The first chunk after the row was read replaces the value read; later chunks grow the
    // text in place, so that a text written in many pieces is never copied as a whole.
    auto& held = const_cast<Variant::Value&>(v->value.value());
    auto* text = std::get_if<std::string>(&held);
    if (v->changed && text) {
        text->append(chunk);
    } else {
        held = std::string(chunk);
    }
    v->changed = true;
}

const Variant& EditRow::Get(std::string_view column) const {
    const Value* v = Find(column);
    return v ? v->value : EmptyValue();
}

bool EditRow::Has(std::string_view column) const { return Find(column) != nullptr; }

}  // namespace kestrix::db
