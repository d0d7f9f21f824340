#pragma once

// Values across the plug-in entry: a Variant as the plain KxValue of the entry and back.
// Header-only, so that the host and a plug-in each compile their own copy and share
// nothing but the C layout.

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/variant.h"
#include "platform/component/plugin_entry.h"

namespace kestrix::component {

/// Holds the KxValue form of Variants, with the arrays it needs, for as long as it lives.
/// The texts stay in the Variants, which must outlive the holder.
class PluginValues {
  public:
    /// The KxValue of `value`. An object cannot cross the entry: error 13 (Type mismatch).
    KxValue Of(const Variant& value) {
        KxValue out{};
        if (value.IsEmpty()) {
            out.kind = KX_EMPTY;
        } else if (value.IsNull()) {
            out.kind = KX_NULL;
        } else if (value.IsBool()) {
            out.kind = KX_BOOL;
            out.integer = value.ToBool() ? 1 : 0;
        } else if (value.IsInteger()) {
            out.kind = KX_INTEGER;
            out.integer = value.ToInt64();
        } else if (value.IsDouble()) {
            out.kind = KX_DOUBLE;
            out.number = value.ToDouble();
        } else if (value.IsString()) {
            const std::string& text = std::get<std::string>(value.value());
            out.kind = KX_TEXT;
            out.text = text.data();
            out.length = text.size();
        } else if (value.IsDate()) {
            out.kind = KX_DATE;
            out.integer = value.ToDate().time.time_since_epoch().count();
        } else if (value.IsArray()) {
            const Array& items = value.ToArray();
            std::vector<KxValue>& converted = arrays_.emplace_back();
            converted.reserve(items.size());
            for (const Variant& item : items) converted.push_back(Of(item));
            out.kind = KX_ARRAY;
            out.items = converted.data();
            out.count = converted.size();
        } else {
            throw Error(errnum::TypeMismatch, "PluginEntry",
                        "An object cannot be handed to or from a plug-in.");
        }
        return out;
    }

  private:
    // A deque: adding an array never moves the ones already handed out.
    std::deque<std::vector<KxValue>> arrays_;
};

/// The Variant of a KxValue (a copy: the KxValue may go as soon as this returns).
inline Variant VariantOf(const KxValue& value) {
    switch (value.kind) {
        case KX_NULL:
            return Variant(Null{});
        case KX_BOOL:
            return Variant(value.integer != 0);
        case KX_INTEGER:
            return Variant(static_cast<long long>(value.integer));
        case KX_DOUBLE:
            return Variant(value.number);
        case KX_TEXT:
            return Variant(value.text ? std::string(value.text, value.length) : std::string());
        case KX_DATE:
            return Variant(
                DateTime{std::chrono::local_seconds(std::chrono::seconds(value.integer))});
        case KX_ARRAY: {
            Array items;
            items.reserve(value.count);
            for (size_t i = 0; i < value.count && value.items; ++i)
                items.push_back(VariantOf(value.items[i]));
            return Variant(std::move(items));
        }
        case KX_EMPTY:
        default:
            return Variant();
    }
}

/// True when `value` holds what `original` held: an argument the callee left alone is not
/// handed back (a document text is not copied for nothing).
inline bool SameValue(const Variant& value, const KxValue& original) {
    switch (original.kind) {
        case KX_EMPTY:
            return value.IsEmpty();
        case KX_NULL:
            return value.IsNull();
        case KX_BOOL:
            return value.IsBool() && value.ToBool() == (original.integer != 0);
        case KX_INTEGER:
            return value.IsInteger() && value.ToInt64() == original.integer;
        case KX_DOUBLE:
            return value.IsDouble() && value.ToDouble() == original.number;
        case KX_TEXT:
            return value.IsString() &&
                   std::get<std::string>(value.value()) ==
                       std::string_view(original.text ? original.text : "", original.length);
        case KX_DATE:
            return value.IsDate() &&
                   value.ToDate().time.time_since_epoch().count() == original.integer;
        case KX_ARRAY: {
            if (!value.IsArray() || value.ToArray().size() != original.count) return false;
            for (size_t i = 0; i < original.count; ++i)
                if (!SameValue(value.ToArray()[i], original.items[i])) return false;
            return true;
        }
    }
    return false;
}

}  // namespace kestrix::component
