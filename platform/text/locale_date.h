#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/variant.h"

namespace kestrix::text {

/// Locale identifiers that stand for "the default locale" rather than a locale of their
/// own: none given, the user default and the system default.
inline constexpr int32_t kLocaleNone = 0;
inline constexpr int32_t kLocaleUserDefault = 0x0400;
inline constexpr int32_t kLocaleSystemDefault = 0x0800;
/// The locale the system falls back to when nothing says otherwise (English, United States).
inline constexpr int32_t kLocaleEnglishUS = 1033;

/// The locale of this machine, read from the environment as the C library reads it
/// (LC_ALL, then LC_TIME, then LANG; "de_DE.UTF-8" is German, Germany, 1031). A locale the
/// system does not know, "C" and "POSIX" give 1033.
int32_t SystemDefaultLcid();

/// The locale identifier of a name such as "en-GB" or "nl_NL"; nothing when unknown.
std::optional<int32_t> LcidFromName(std::string_view name);

/// The short date pattern of a locale, written with d, dd, M, MM, yy and yyyy ("M/d/yyyy"
/// for 1033, "dd.MM.yyyy" for 1031). The default-locale identifiers stand for
/// `SystemDefaultLcid()`; an unknown locale has the neutral pattern "yyyy-MM-dd".
std::string ShortDatePattern(int32_t lcid);

/// Reads a date, optionally followed by a time, written the way people of the locale write
/// them, and answers nothing when the text is no date.
///
/// The date has three numeric fields separated twice by the same one of "/", "." and "-".
/// A first field of four digits is always a year, month and day ("2003-05-31" reads the
/// same in every locale); otherwise the fields are taken in the order of the locale's short
/// date pattern (month first in 1033, day first in 2057, 1031, 1036 and 1043). Day and month
/// have one or two digits, the year two or four; two-digit years 00-29 are 2000-2029 and
/// 30-99 are 1930-1999. Dates that do not exist (31 February, 29 February 2003, month 13)
/// give nothing, they do not roll over.
///
/// The time, after blanks (or a "T" after a year-first date), is H:mm or H:mm:ss with an
/// optional fraction of a second (dropped), and an optional AM or PM in any case, with or
/// without a blank before it (12 AM is midnight). After a year-first date a time zone ("Z",
/// "+02:00") may follow; it is ignored, the date and time being taken as written. Leading
/// and trailing blanks are ignored; anything else in the text makes it no date.
///
/// The default-locale identifiers stand for `SystemDefaultLcid()`. An unknown locale reads
/// only year-first dates.
std::optional<DateTime> ParseLocaleDate(std::string_view text, int32_t lcid);

/// The date part of `value` in the locale's short date pattern ("5/31/2003" in 1033,
/// "31.05.2003" in 1031, "31-5-2003" in 1043).
std::string FormatLocaleDate(const DateTime& value, int32_t lcid);

}  // namespace kestrix::text
