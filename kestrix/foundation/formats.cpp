#include "kestrix/foundation/formats.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

struct Parts {
    int year, month, day, hour, minute, second;
    int weekday;    // 1 = Sunday
    int dayOfYear;  // 1-based
};

Parts Split(const DateTime& dt) {
    using namespace std::chrono;
    auto days = floor<std::chrono::days>(dt.time);
    year_month_day ymd{days};
    hh_mm_ss hms{dt.time - days};
    Parts p{};
    p.year = static_cast<int>(ymd.year());
    p.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    p.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    p.hour = static_cast<int>(hms.hours().count());
    p.minute = static_cast<int>(hms.minutes().count());
    p.second = static_cast<int>(hms.seconds().count());
    p.weekday = static_cast<int>(weekday{days}.c_encoding()) + 1;
    local_days jan1{ymd.year() / January / 1};
    p.dayOfYear = static_cast<int>((days - jan1).count()) + 1;
    return p;
}

std::string Two(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// Length of the run of character c (ignoring case) starting at i.
size_t Run(std::string_view f, size_t i, char c) {
    size_t n = 0;
    while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == c) ++n;
    return n;
}

std::string NamedDateFormat(std::string_view f) {
    if (IEquals(f, "General Date")) return "yyyy-mm-dd hh:nn:ss";
    if (IEquals(f, "Long Date")) return "dddd, mmmm d, yyyy";
    if (IEquals(f, "Medium Date")) return "dd-mmm-yy";
    if (IEquals(f, "Short Date")) return "yyyy-mm-dd";
    if (IEquals(f, "Long Time")) return "hh:nn:ss";
    if (IEquals(f, "Medium Time")) return "hh:nn AM/PM";
    if (IEquals(f, "Short Time")) return "hh:nn";
    return std::string(f);
}

bool HasDateTokens(std::string_view f) {
    for (char c : f) {
        char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 'n' || l == 's' || l == 'w' ||
            l == 'q')
            return true;
    }
    return false;
}

std::string FormatDate(const DateTime& dt, std::string_view format) {
    std::string fmtStore = NamedDateFormat(format);
    std::string_view f = fmtStore;
    Parts p = Split(dt);
    bool twelveHour = IFind(f, "AM/PM") != std::string_view::npos ||
                      IFind(f, "A/P") != std::string_view::npos;
    std::string out;
    bool lastWasHour = false;
    for (size_t i = 0; i < f.size();) {
        char c = f[i];
        char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c == '\\' && i + 1 < f.size()) {
            out += f[i + 1];
            i += 2;
            continue;
        }
        if (c == '"') {
            size_t end = f.find('"', i + 1);
            if (end == std::string_view::npos) end = f.size();
            out.append(f.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (IStartsWith(f.substr(i), "AM/PM")) {
            bool pm = p.hour >= 12;
            bool lower = f[i] == 'a';
            out += lower ? (pm ? "pm" : "am") : (pm ? "PM" : "AM");
            i += 5;
            continue;
        }
        if (IStartsWith(f.substr(i), "A/P")) {
            bool pm = p.hour >= 12;
            out += f[i] == 'a' ? (pm ? "p" : "a") : (pm ? "P" : "A");
            i += 3;
            continue;
        }
        size_t n = Run(f, i, l);
        switch (l) {
            case 'y':
                if (n >= 3) out += std::to_string(p.year), n = n >= 4 ? 4 : 3;
                else if (n == 2) out += Two(p.year % 100);
                else out += std::to_string(p.dayOfYear);
                lastWasHour = false;
                break;
            case 'm': {
                // "m" right after an hour, or followed by seconds, is the minute.
                size_t next = i + std::min<size_t>(n, 2);
                while (next < f.size() && !std::isalpha(static_cast<unsigned char>(f[next]))) ++next;
                bool minute = n <= 2 && (lastWasHour || (next < f.size() &&
                                                         std::tolower(static_cast<unsigned char>(f[next])) == 's'));
                if (minute) out += n == 2 ? Two(p.minute) : std::to_string(p.minute);
                else if (n >= 4) out += kMonths[p.month - 1], n = 4;
                else if (n == 3) out += std::string(kMonths[p.month - 1]).substr(0, 3);
                else if (n == 2) out += Two(p.month);
                else out += std::to_string(p.month);
                lastWasHour = false;
                break;
            }
            case 'd':
                if (n >= 6) out += FormatDate(dt, "Long Date"), n = 6;
                else if (n == 5) out += FormatDate(dt, "Short Date");
                else if (n == 4) out += kDays[p.weekday - 1];
                else if (n == 3) out += std::string(kDays[p.weekday - 1]).substr(0, 3);
                else if (n == 2) out += Two(p.day);
                else out += std::to_string(p.day);
                lastWasHour = false;
                break;
            case 'h': {
                int h = p.hour;
                if (twelveHour) h = h % 12 == 0 ? 12 : h % 12;
                out += n >= 2 ? Two(h) : std::to_string(h);
                n = std::min<size_t>(n, 2);
                lastWasHour = true;
                break;
            }
            case 'n':
                out += n >= 2 ? Two(p.minute) : std::to_string(p.minute);
                n = std::min<size_t>(n, 2);
                lastWasHour = false;
                break;
            case 's':
                out += n >= 2 ? Two(p.second) : std::to_string(p.second);
                n = std::min<size_t>(n, 2);
                lastWasHour = false;
                break;
            case 'w':
                if (n >= 2) {
                    int jan1Weekday = ((p.weekday - 1 - (p.dayOfYear - 1)) % 7 + 7) % 7;  // 0 = Sunday
                    out += std::to_string((p.dayOfYear - 1 + jan1Weekday) / 7 + 1);
                    n = 2;
                } else {
                    out += std::to_string(p.weekday);
                }
                lastWasHour = false;
                break;
            case 'q':
                out += std::to_string((p.month - 1) / 3 + 1);
                n = 1;
                lastWasHour = false;
                break;
            default:
                out += c;
                n = 1;
                // Separators between an hour and a minute keep the hour context.
                if (c != ':' && c != '.' && c != ' ') lastWasHour = false;
                break;
        }
        i += n;
    }
    return out;
}

// ---- numbers -------------------------------------------------------------------------------

std::string WithThousands(const std::string& digits) {
    std::string out;
    int count = 0;
    for (size_t i = digits.size(); i-- > 0;) {
        out.insert(out.begin(), digits[i]);
        if (++count % 3 == 0 && i > 0) out.insert(out.begin(), ',');
    }
    return out;
}

std::string FormatNumberSection(double value, std::string_view f) {
    // Split the section into literal prefix/suffix and the numeric picture.
    std::string literalBefore, literalAfter, picture;
    bool inPicture = false, afterPicture = false, percent = false;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '\\' && i + 1 < f.size()) {
            (afterPicture || inPicture ? literalAfter : literalBefore) += f[++i];
            if (inPicture) afterPicture = true, inPicture = false;
            continue;
        }
        if (c == '"') {
            size_t end = f.find('"', i + 1);
            if (end == std::string_view::npos) end = f.size();
            std::string lit(f.substr(i + 1, end - i - 1));
            (inPicture || afterPicture ? literalAfter : literalBefore) += lit;
            if (inPicture) afterPicture = true, inPicture = false;
            i = end;
            continue;
        }
        if (!afterPicture && (c == '0' || c == '#' || c == '.' || c == ',' ||
                              ((c == 'E' || c == 'e') && inPicture))) {
            inPicture = true;
            picture += c;
            if ((c == 'E' || c == 'e') && i + 1 < f.size() && (f[i + 1] == '+' || f[i + 1] == '-'))
                picture += f[++i];
            continue;
        }
        if (c == '%') percent = true;
        if (inPicture) afterPicture = true, inPicture = false;
        (afterPicture ? literalAfter : literalBefore) += c;
    }
    if (percent) value *= 100;

    size_t ePos = picture.find_first_of("Ee");
    std::string mantissaPic = picture.substr(0, ePos);
    std::string expPic = ePos == std::string::npos ? "" : picture.substr(ePos);
    bool thousands = mantissaPic.find(',') != std::string::npos;
    std::string clean;
    for (char c : mantissaPic)
        if (c != ',') clean += c;
    size_t dot = clean.find('.');
    std::string intPic = clean.substr(0, dot);
    std::string fracPic = dot == std::string::npos ? "" : clean.substr(dot + 1);
    size_t minInt = std::count(intPic.begin(), intPic.end(), '0');
    size_t minFrac = std::count(fracPic.begin(), fracPic.end(), '0');
    size_t maxFrac = fracPic.size();

    int exponent = 0;
    double v = std::fabs(value);
    if (!expPic.empty() && v != 0) {
        exponent = static_cast<int>(std::floor(std::log10(v)));
        v /= std::pow(10.0, exponent);
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(maxFrac), v);
    std::string s = buf;
    std::string ip = s.substr(0, s.find('.'));
    std::string fp = s.find('.') == std::string::npos ? "" : s.substr(s.find('.') + 1);
    while (fp.size() > minFrac && !fp.empty() && fp.back() == '0') fp.pop_back();
    if (ip == "0" && minInt == 0) ip.clear();
    while (ip.size() < minInt) ip.insert(ip.begin(), '0');
    if (thousands) ip = WithThousands(ip);
    std::string out = ip;
    if (dot != std::string::npos && (!fp.empty() || minFrac > 0)) out += "." + fp;
    else if (dot != std::string::npos && fp.empty() && mantissaPic.back() == '.') out += ".";
    if (!expPic.empty()) {
        std::string digits = expPic.substr(expPic.find_first_of("+-") == std::string::npos ? 1 : 2);
        std::string e = std::to_string(std::abs(exponent));
        while (e.size() < digits.size()) e.insert(e.begin(), '0');
        out += expPic[0];
        if (exponent < 0) out += '-';
        else if (expPic.size() > 1 && expPic[1] == '+') out += '+';
        out += e;
    }
    return literalBefore + out + literalAfter;
}

std::vector<std::string> Sections(std::string_view f) {
    std::vector<std::string> sections(1);
    bool quoted = false;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '"') quoted = !quoted;
        if (c == '\\' && i + 1 < f.size()) {
            sections.back() += c;
            sections.back() += f[++i];
            continue;
        }
        if (c == ';' && !quoted) {
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

std::string GeneralNumber(double v) { return Variant(v).ToString(); }

Variant FormatNumber(double value, bool isNull, std::string_view format) {
    if (IEquals(format, "General Number")) return GeneralNumber(value);
    if (IEquals(format, "Currency")) format = "#,##0.00;(#,##0.00)";
    else if (IEquals(format, "Fixed")) format = "0.00";
    else if (IEquals(format, "Standard")) format = "#,##0.00";
    else if (IEquals(format, "Percent")) format = "0.00%";
    else if (IEquals(format, "Scientific")) format = "0.00E+00";
    else if (IEquals(format, "Yes/No")) return std::string(value != 0 ? "Yes" : "No");
    else if (IEquals(format, "True/False")) return std::string(value != 0 ? "True" : "False");
    else if (IEquals(format, "On/Off")) return std::string(value != 0 ? "On" : "Off");

    std::vector<std::string> sections = Sections(format);
    if (isNull) {
        if (sections.size() >= 4) return FormatNumberSection(0, sections[3]);
        return Null{};
    }
    if (value == 0 && sections.size() >= 3 && !sections[2].empty())
        return FormatNumberSection(0, sections[2]);
    if (value < 0 && sections.size() >= 2 && !sections[1].empty())
        return FormatNumberSection(-value, sections[1]);
    std::string s = FormatNumberSection(value, sections[0]);
    if (value < 0) {
        // A negative value keeps its sign unless every shown digit is zero.
        bool allZero = s.find_first_of("123456789") == std::string::npos;
        if (!allZero) s.insert(s.begin(), '-');
    }
    return s;
}

bool IsNumberFormat(std::string_view f) {
    static constexpr std::string_view named[] = {"General Number", "Currency", "Fixed",
                                                 "Standard",       "Percent",  "Scientific",
                                                 "Yes/No",         "True/False", "On/Off"};
    for (auto n : named)
        if (IEquals(f, n)) return true;
    bool quoted = false;
    for (char c : f) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == '0' || c == '#')) return true;
    }
    return false;
}

bool ReadsAsNumber(const Variant& v, double& out) {
    if (v.IsNumeric() || v.IsBool()) {
        out = v.ToDouble();
        return true;
    }
    if (v.IsString()) {
        try {
            out = v.ToDouble();
            return true;
        } catch (const Error&) {
        }
    }
    return false;
}

bool ReadsAsDate(const Variant& v, DateTime& out) {
    if (v.IsDate()) {
        out = v.ToDate();
        return true;
    }
    if (v.IsString()) {
        try {
            out = v.ToDate();
            return true;
        } catch (const Error&) {
        }
    }
    return false;
}

}  // namespace

Variant FormatExpression(const Variant& source, std::string_view format) {
    if (source.IsEmpty() && format.empty()) return std::string();
    if (format.empty()) return source.IsNull() ? Variant(Null{}) : Variant(source.ToString());

    double number = 0;
    if (IsNumberFormat(format)) {
        if (source.IsNull()) return FormatNumber(0, true, format);
        if (ReadsAsNumber(source, number)) return FormatNumber(number, false, format);
        return source.ToString();
    }
    if (source.IsNull()) return Null{};

    DateTime date;
    if (source.IsDate() || (HasDateTokens(NamedDateFormat(format)) && ReadsAsDate(source, date))) {
        if (source.IsDate()) date = source.ToDate();
        return FormatDate(date, format);
    }
    if (format == "<") return ToLower(source.ToString());
    if (format == ">") return ToUpper(source.ToString());
    if (ReadsAsNumber(source, number)) return FormatNumber(number, false, format);
    return source.ToString();
}

}  // namespace kestrix
