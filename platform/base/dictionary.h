#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/variant.h"

namespace kestrix {

/// A dictionary of text keys to values that keeps the order in which keys were added.
/// Keys compare exactly. Adding a key that is already there is error 457 ("This key is
/// already associated with an element of this collection"); setting an item by key adds it
/// when missing.
class Dictionary {
public:
    void Add(std::string key, Variant value);
    bool Exists(std::string_view key) const;
    /// The value of the key; Empty when the key is absent.
    const Variant& Item(std::string_view key) const;
    /// Sets the value of the key, adding the key at the end when it is new.
    void SetItem(std::string_view key, Variant value);
    void Remove(std::string_view key);
    void RemoveAll() { entries_.clear(); }
    size_t Count() const { return entries_.size(); }
    /// The entry at `index` (insertion order).
    const std::pair<std::string, Variant>& At(size_t index) const { return entries_.at(index); }

    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    std::vector<std::pair<std::string, Variant>> entries_;
};

}  // namespace kestrix
