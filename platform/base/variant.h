#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/base/object.h"

namespace kestrix {

/// The database NULL.
struct Null {
    friend bool operator==(Null, Null) { return true; }
};

/// A local date and time to the second.
struct DateTime {
    std::chrono::local_seconds time{};

    static DateTime Now();
    static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                              int second = 0);
    /// "yyyy-mm-dd hh:mm:ss", the form in which the system stores date-times.
    std::string Sortable() const;
    friend bool operator==(const DateTime&, const DateTime&) = default;
    friend auto operator<=>(const DateTime&, const DateTime&) = default;
};

class Variant;
using Array = std::vector<Variant>;

/// A value of one of the types that travel through late-bound calls, recordsets and
/// configuration queries. Conversions follow the usual rules of such values: Empty reads as
/// 0 or "", Null cannot be converted (error 94), numbers round half to even, a number out
/// of range is error 6 (Overflow), a text that is no number is error 13 (Type mismatch).
class Variant {
public:
    using Value = std::variant<std::monostate, Null, bool, int64_t, double, std::string, DateTime,
                               ObjectPtr, std::shared_ptr<Array>>;

    Variant() = default;
    Variant(Null n) : value_(n) {}
    Variant(bool b) : value_(b) {}
    Variant(int v) : value_(int64_t{v}) {}
    Variant(int16_t v) : value_(int64_t{v}) {}
    Variant(long v) : value_(int64_t{v}) {}
    Variant(long long v) : value_(int64_t{v}) {}
    Variant(unsigned v) : value_(int64_t{v}) {}
    Variant(double d) : value_(d) {}
    Variant(std::string s) : value_(std::move(s)) {}
    Variant(std::string_view s) : value_(std::string(s)) {}
    Variant(const char* s) : value_(std::string(s)) {}
    Variant(DateTime d) : value_(d) {}
    Variant(ObjectPtr o) : value_(std::move(o)) {}
    Variant(Array a) : value_(std::make_shared<Array>(std::move(a))) {}

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    bool IsNull() const { return std::holds_alternative<Null>(value_); }
    bool IsBool() const { return std::holds_alternative<bool>(value_); }
    bool IsInteger() const { return std::holds_alternative<int64_t>(value_); }
    bool IsDouble() const { return std::holds_alternative<double>(value_); }
    bool IsNumeric() const { return IsInteger() || IsDouble(); }
    bool IsString() const { return std::holds_alternative<std::string>(value_); }
    bool IsDate() const { return std::holds_alternative<DateTime>(value_); }
    bool IsObject() const { return std::holds_alternative<ObjectPtr>(value_); }
    bool IsArray() const { return std::holds_alternative<std::shared_ptr<Array>>(value_); }

    /// The text of the value: "" for Empty, "True"/"False", decimal numbers, a date as
    /// "yyyy-mm-dd hh:mm:ss" ("yyyy-mm-dd" at midnight).
    std::string ToString() const;
    /// The value as a 32-bit integer (half to even), Overflow outside the range.
    int32_t ToLong() const;
    /// The value as a 16-bit integer (half to even), Overflow outside the range.
    int16_t ToInteger() const;
    int64_t ToInt64() const;
    double ToDouble() const;
    /// True for a nonzero number or the text "True" (any case); false for 0, Empty, "False".
    bool ToBool() const;
    DateTime ToDate() const;
    /// The object held, or nullptr for Empty; other values are Type mismatch.
    ObjectPtr ToObject() const;
    /// The array held; other values are Type mismatch.
    Array& ToArray() const;

    const Value& value() const { return value_; }
    friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

private:
    Value value_;
};

}  // namespace kestrix
