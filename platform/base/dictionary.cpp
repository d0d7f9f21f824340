#include "platform/base/dictionary.h"

#include <algorithm>

#include "platform/base/error.h"

namespace kestrix {

namespace {
const Variant kEmpty;
}

void Dictionary::Add(std::string key, Variant value) {
    if (Exists(key))
        throw Error(457, "Dictionary", "This key is already associated with an element of this collection");
    entries_.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::Exists(std::string_view key) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
}

const Variant& Dictionary::Item(std::string_view key) const {
    for (const auto& e : entries_)
        if (e.first == key) return e.second;
    return kEmpty;
}

void Dictionary::SetItem(std::string_view key, Variant value) {
    for (auto& e : entries_)
        if (e.first == key) {
            e.second = std::move(value);
            return;
        }
    entries_.emplace_back(std::string(key), std::move(value));
}

void Dictionary::Remove(std::string_view key) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
    if (it == entries_.end()) throw Error(32811, "Dictionary", "Element not found");
    entries_.erase(it);
}

}  // namespace kestrix
