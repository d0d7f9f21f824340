#pragma once

// Inside the room only: the zip package under the limits, and how it is written again.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/workbook/workbook.h"

namespace kestrix::workbook::detail {

/// Throws the room's error with source "Workbook".
[[noreturn]] void Fail(int32_t number, std::string description);

/// A zip package held in memory, read under the limits. Every entry name is checked on
/// opening (no absolute path, no "..", no backslash, no two entries of one name); the
/// declared sizes are checked against the limits before anything is inflated, and what is
/// inflated may not exceed what was declared.
class Package {
  public:
    Package(std::string bytes, const Limits& limits);
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    /// The entry name of a part (without leading "/"), matched exactly, else ignoring ASCII
    /// case as the package format wants; nothing when absent.
    std::optional<std::string> Find(std::string_view partName) const;
    /// The inflated bytes of an entry; DamagedPackage when it cannot be read.
    std::string Read(const std::string& entryName) const;

    /// The package again: entries in `replaced` take those bytes (new ones are added at the
    /// end, in the order given), entries in `removed` go, and every other entry is copied
    /// as it was, compressed bytes and all.
    std::string Write(const std::vector<std::pair<std::string, std::string>>& replaced,
                      const std::set<std::string>& removed) const;

    /// A new package of the given entries.
    static std::string Build(const std::vector<std::pair<std::string, std::string>>& entries);

  private:
    struct Archive;
    std::string bytes_;
    Limits limits_;
    std::unique_ptr<Archive> archive_;
    std::unordered_map<std::string, uint64_t> exact_;
    std::unordered_map<std::string, std::string> folded_;  // lower-case name -> entry name
    std::map<std::string, uint64_t> declaredSize_;
};

/// The part name of a relationship target, resolved against the part `source` (a path
/// from the package root without leading "/"); UnsafePath when it leaves the package.
std::string ResolveTarget(std::string_view source, std::string_view target);
/// "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels"; "" (the package) -> "_rels/.rels".
std::string RelationshipsPartOf(std::string_view part);
/// The target of `part` written relative to the folder of `source`.
std::string RelativeTarget(std::string_view source, std::string_view part);

}  // namespace kestrix::workbook::detail
