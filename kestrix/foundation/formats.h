#pragma once

#include <string_view>

#include "platform/base/variant.h"

namespace kestrix {

/// Formats a value with a format expression, as the web pages and the rest of the library
/// write them:
/// - dates: "yyyy", "yy", "y" (day of year), "mmmm", "mmm", "mm", "m" (month, or minute right
///   after an hour or before a second), "dddd", "ddd", "dd", "d", "hh", "h", "nn", "n", "ss",
///   "s", "w" (weekday, Sunday = 1), "ww" (week of the year, the week of 1 January being the
///   first), "q", "AM/PM", "am/pm", "A/P", "a/p"; the named forms "General Date",
///   "Long Date", "Medium Date", "Short Date" ("yyyy-mm-dd"), "Long Time", "Medium Time",
///   "Short Time";
/// - numbers: "0", "#", ".", ",", "%", "E+"/"E-" and up to four ";"-separated sections
///   (positive; negative; zero; null); the named forms "General Number", "Currency",
///   "Fixed", "Standard", "Percent", "Scientific", "Yes/No", "True/False", "On/Off";
/// - texts: "<" (lower case) and ">" (upper case);
/// - everywhere: "\x" and "..." literals.
/// A text that reads as a number or a date is formatted as one; an empty format gives the
/// value's text. Null gives Null, except for a fourth number section.
Variant FormatExpression(const Variant& source, std::string_view format);

}  // namespace kestrix
