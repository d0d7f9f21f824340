#pragma once

// Inside the room only: a legacy binary workbook (a compound file) read, values only, and
// made into a package of the engine's own format so that the rest of the engine reads it as
// any other workbook. Nothing of it can be changed or saved.

#include <string>
#include <string_view>

#include "platform/workbook/workbook.h"

namespace kestrix::workbook::detail {

/// True when the bytes begin with the signature of a compound file.
bool IsCompoundFile(std::string_view bytes);

/// The workbook held in the compound file `bytes`, as the bytes of a package of the
/// engine's format: its sheets by name, and the values of its cells (numbers, texts, dates
/// and times). DamagedPackage when the file cannot be read as a workbook, LimitExceeded
/// when it is larger than the limits allow.
std::string LegacyToPackage(const std::string& bytes, const Limits& limits);

}  // namespace kestrix::workbook::detail
