#include "platform/text/locale_date.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/base/strings.h"

namespace kestrix::text {
namespace {

/// A locale the system knows: its identifier, its name and its short date pattern.
struct LocaleInfo {
    int32_t lcid;
    std::string_view name;
    std::string_view shortDate;
};

constexpr LocaleInfo kLocales[] = {
    {127, "iv", "MM/dd/yyyy"},           // invariant
    {1030, "da-DK", "dd-MM-yyyy"},
    {1031, "de-DE", "dd.MM.yyyy"},
    {1033, "en-US", "M/d/yyyy"},
    {1035, "fi-FI", "d.M.yyyy"},
    {1036, "fr-FR", "dd/MM/yyyy"},
    {1040, "it-IT", "dd/MM/yyyy"},
    {1041, "ja-JP", "yyyy/MM/dd"},
    {1043, "nl-NL", "d-M-yyyy"},
    {1044, "nb-NO", "dd.MM.yyyy"},
    {1045, "pl-PL", "dd.MM.yyyy"},
    {1046, "pt-BR", "dd/MM/yyyy"},
    {1053, "sv-SE", "yyyy-MM-dd"},
    {2055, "de-CH", "dd.MM.yyyy"},
    {2057, "en-GB", "dd/MM/yyyy"},
    {2060, "fr-BE", "dd/MM/yyyy"},
    {2067, "nl-BE", "d/MM/yyyy"},
    {2070, "pt-PT", "dd/MM/yyyy"},
    {3079, "de-AT", "dd.MM.yyyy"},
    {3081, "en-AU", "d/MM/yyyy"},
    {3082, "es-ES", "dd/MM/yyyy"},
    {4108, "fr-CH", "dd.MM.yyyy"},
};

constexpr std::string_view kNeutralPattern = "yyyy-MM-dd";

int32_t Resolve(int32_t lcid) {
    if (lcid == kLocaleNone || lcid == kLocaleUserDefault || lcid == kLocaleSystemDefault) {
        return SystemDefaultLcid();
    }
    return lcid;
}

const LocaleInfo* Find(int32_t lcid) {
    for (const LocaleInfo& l : kLocales) {
        if (l.lcid == lcid) return &l;
    }
    return nullptr;
}

/// Which field of a short date is which, in the order written.
enum class Field { Day, Month, Year };

/// The order of day, month and year in a pattern such as "dd.MM.yyyy".
std::array<Field, 3> FieldOrder(std::string_view pattern) {
    std::array<Field, 3> order{Field::Year, Field::Month, Field::Day};
    size_t n = 0;
    char previous = 0;
    for (char c : pattern) {
        if ((c == 'd' || c == 'M' || c == 'y') && c != previous && n < 3) {
            order[n++] = c == 'd' ? Field::Day : c == 'M' ? Field::Month : Field::Year;
        }
        previous = c;
    }
    return order;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/// Reads a run of digits at `pos`; answers its value and advances `pos`. The number of
/// digits read is left in `digits` (0 when there is none).
int ReadNumber(std::string_view s, size_t& pos, size_t& digits) {
    int value = 0;
    digits = 0;
    while (pos < s.size() && IsDigit(s[pos]) && digits < 5) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++digits;
    }
    return value;
}

/// Reads an optional time zone designator ("Z", "+02:00", "-0500", "+02") at `pos`.
bool SkipZone(std::string_view s, size_t& pos) {
    if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) {
        ++pos;
        return true;
    }
    if (pos >= s.size() || (s[pos] != '+' && s[pos] != '-')) return true;
    ++pos;
    size_t digits;
    const int hours = ReadNumber(s, pos, digits);
    if (digits == 4) return hours / 100 <= 14 && hours % 100 < 60;
    if (digits != 2 || hours > 14) return false;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        const int minutes = ReadNumber(s, pos, digits);
        return digits == 2 && minutes < 60;
    }
    return true;
}

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0;
};

/// Reads "H:mm[:ss[.fff]][ ][AM|PM]" at `pos`.
std::optional<TimeOfDay> ReadTime(std::string_view s, size_t& pos) {
    TimeOfDay t;
    size_t digits;
    t.hour = ReadNumber(s, pos, digits);
    if (digits < 1 || digits > 2 || pos >= s.size() || s[pos] != ':') return std::nullopt;
    ++pos;
    t.minute = ReadNumber(s, pos, digits);
    if (digits < 1 || digits > 2) return std::nullopt;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        t.second = ReadNumber(s, pos, digits);
        if (digits < 1 || digits > 2) return std::nullopt;
        if (pos + 1 < s.size() && (s[pos] == '.' || s[pos] == ',') && IsDigit(s[pos + 1])) {
            ++pos;
            while (pos < s.size() && IsDigit(s[pos])) ++pos;
        }
    }
    size_t after = pos;
    while (after < s.size() && IsBlank(s[after])) ++after;
    if (after + 2 <= s.size() && (IStartsWith(s.substr(after), "AM") ||
                                  IStartsWith(s.substr(after), "PM"))) {
        const bool pm = s[after] == 'P' || s[after] == 'p';
        if (t.hour < 1 || t.hour > 12) return std::nullopt;
        t.hour = t.hour % 12 + (pm ? 12 : 0);
        pos = after + 2;
    }
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
    return t;
}

}  // namespace

int32_t SystemDefaultLcid() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        std::string_view name(value);
        name = name.substr(0, name.find_first_of(".@"));
        return LcidFromName(name).value_or(kLocaleEnglishUS);
    }
    return kLocaleEnglishUS;
}

std::optional<int32_t> LcidFromName(std::string_view name) {
    const std::string wanted = ReplaceAll(name, "_", "-");
    for (const LocaleInfo& l : kLocales) {
        if (IEquals(l.name, wanted)) return l.lcid;
    }
    return std::nullopt;
}

std::string ShortDatePattern(int32_t lcid) {
    const LocaleInfo* locale = Find(Resolve(lcid));
    return std::string(locale ? locale->shortDate : kNeutralPattern);
}

std::optional<DateTime> ParseLocaleDate(std::string_view input, int32_t lcid) {
    const std::string trimmed = Trim(input);
    const std::string_view s = trimmed;

    int fields[3];
    size_t widths[3];
    size_t pos = 0;
    char separator = 0;
    for (int i = 0; i < 3; ++i) {
        fields[i] = ReadNumber(s, pos, widths[i]);
        if (widths[i] == 0 || widths[i] > 4) return std::nullopt;
        if (i == 2) break;
        if (pos >= s.size()) return std::nullopt;
        const char c = s[pos];
        if (i == 0 && c != '/' && c != '.' && c != '-') return std::nullopt;
        if (i == 0) separator = c;
        if (c != separator) return std::nullopt;
        ++pos;
    }

    const bool yearFirst = widths[0] == 4;
    std::array<Field, 3> order{Field::Year, Field::Month, Field::Day};
    if (!yearFirst) {
        const LocaleInfo* locale = Find(Resolve(lcid));
        if (locale == nullptr) return std::nullopt;
        order = FieldOrder(locale->shortDate);
    }
    int year = 0, month = 0, day = 0;
    for (int i = 0; i < 3; ++i) {
        switch (order[i]) {
            case Field::Year:
                if (widths[i] == 2) {
                    year = fields[i] < 30 ? 2000 + fields[i] : 1900 + fields[i];
                } else if (widths[i] == 4) {
                    year = fields[i];
                } else {
                    return std::nullopt;
                }
                break;
            case Field::Month:
                if (widths[i] > 2) return std::nullopt;
                month = fields[i];
                break;
            case Field::Day:
                if (widths[i] > 2) return std::nullopt;
                day = fields[i];
                break;
        }
    }
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                             std::chrono::day{static_cast<unsigned>(day)}};
    if (year < 1 || year > 9999 || !ymd.ok()) return std::nullopt;

    TimeOfDay time;
    if (pos < s.size()) {
        if (yearFirst && (s[pos] == 'T' || s[pos] == 't')) {
            ++pos;
        } else if (IsBlank(s[pos])) {
            while (pos < s.size() && IsBlank(s[pos])) ++pos;
        } else if (!yearFirst) {
            return std::nullopt;
        }
        // A year-first date may carry a zone straight after the date ("2003-05-31Z").
        if (pos < s.size() && IsDigit(s[pos])) {
            const std::optional<TimeOfDay> t = ReadTime(s, pos);
            if (!t) return std::nullopt;
            time = *t;
        }
        if (yearFirst && !SkipZone(s, pos)) return std::nullopt;
        if (pos != s.size()) return std::nullopt;
    }
    return DateTime::FromParts(year, month, day, time.hour, time.minute, time.second);
}

std::string FormatLocaleDate(const DateTime& value, int32_t lcid) {
    using namespace std::chrono;
    const year_month_day ymd{floor<days>(value.time)};
    const int year = static_cast<int>(ymd.year());
    const unsigned month = static_cast<unsigned>(ymd.month());
    const unsigned day = static_cast<unsigned>(ymd.day());

    const std::string pattern = ShortDatePattern(lcid);
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        char buf[16];
        if (c == 'd' || c == 'M') {
            const unsigned v = c == 'd' ? day : month;
            std::snprintf(buf, sizeof buf, run >= 2 ? "%02u" : "%u", v);
            out += buf;
        } else if (c == 'y') {
            if (run <= 2) {
                std::snprintf(buf, sizeof buf, "%02d", year % 100);
            } else {
                std::snprintf(buf, sizeof buf, "%04d", year);
            }
            out += buf;
        } else {
            out.append(run, c);
        }
        i += run;
    }
    return out;
}

}  // namespace kestrix::text
