#include "platform/base/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix {

namespace {

[[noreturn]] void Mismatch() { throw Error(errnum::TypeMismatch, "Variant", "Type mismatch"); }
[[noreturn]] void Overflowed() { throw Error(errnum::Overflow, "Variant", "Overflow"); }
[[noreturn]] void InvalidNull() { throw Error(94, "Variant", "Invalid use of Null"); }

// A number read from text as the usual conversions do: blanks around it are allowed.
double ParseNumber(const std::string& s) {
    std::string t = Trim(s);
    if (t.empty()) Mismatch();
    double d = 0;
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (*first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, last, d);
    if (ec == std::errc::result_out_of_range) Overflowed();
    if (ec != std::errc() || ptr != last) Mismatch();
    return d;
}

int64_t RoundHalfEven(double d) {
    if (std::isnan(d)) Mismatch();
    double r = std::nearbyint(d);  // the default rounding mode is to nearest, ties to even
    if (r < -9.2e18 || r > 9.2e18) Overflowed();
    return static_cast<int64_t>(r);
}

int64_t InRange(int64_t v, int64_t lo, int64_t hi) {
    if (v < lo || v > hi) Overflowed();
    return v;
}

}  // namespace

Variant Object::Invoke(std::string_view method, std::span<Variant>) {
    throw Error(errnum::MethodNotSupported, std::string(method),
                "Object doesn't support this property or method");
}

DateTime DateTime::Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                     tm.tm_sec);
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    local_days d{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                 std::chrono::day{static_cast<unsigned>(day)}};
    return DateTime{d + hours{hour} + minutes{minute} + seconds{second}};
}

std::string DateTime::Sortable() const {
    using namespace std::chrono;
    auto days = floor<std::chrono::days>(time);
    year_month_day ymd{days};
    hh_mm_ss hms{time - days};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buf;
}

std::string Variant::ToString() const {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return {};
            } else if constexpr (std::is_same_v<T, Null>) {
                InvalidNull();
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? "True" : "False";
            } else if constexpr (std::is_same_v<T, int64_t>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, double>) {
                char buf[64];
                auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
                (void)ec;
                return std::string(buf, ptr);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<T, DateTime>) {
                std::string s = v.Sortable();
                if (s.ends_with(" 00:00:00")) s.resize(10);
                return s;
            } else {
                Mismatch();
            }
        },
        value_);
}

int64_t Variant::ToInt64() const {
    return std::visit(
        [](const auto& v) -> int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return 0;
            } else if constexpr (std::is_same_v<T, Null>) {
                InvalidNull();
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? -1 : 0;
            } else if constexpr (std::is_same_v<T, int64_t>) {
                return v;
            } else if constexpr (std::is_same_v<T, double>) {
                return RoundHalfEven(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return RoundHalfEven(ParseNumber(v));
            } else {
                Mismatch();
            }
        },
        value_);
}

int32_t Variant::ToLong() const {
    return static_cast<int32_t>(InRange(ToInt64(), std::numeric_limits<int32_t>::min(),
                                        std::numeric_limits<int32_t>::max()));
}

int16_t Variant::ToInteger() const {
    return static_cast<int16_t>(InRange(ToInt64(), std::numeric_limits<int16_t>::min(),
                                        std::numeric_limits<int16_t>::max()));
}

double Variant::ToDouble() const {
    return std::visit(
        [](const auto& v) -> double {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return 0;
            } else if constexpr (std::is_same_v<T, Null>) {
                InvalidNull();
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? -1 : 0;
            } else if constexpr (std::is_same_v<T, int64_t>) {
                return static_cast<double>(v);
            } else if constexpr (std::is_same_v<T, double>) {
                return v;
            } else if constexpr (std::is_same_v<T, std::string>) {
                return ParseNumber(v);
            } else {
                Mismatch();
            }
        },
        value_);
}

bool Variant::ToBool() const {
    if (IsString()) {
        std::string t = Trim(std::get<std::string>(value_));
        if (IEquals(t, "true")) return true;
        if (IEquals(t, "false")) return false;
        return ParseNumber(t) != 0;
    }
    if (IsBool()) return std::get<bool>(value_);
    return ToDouble() != 0;
}

DateTime Variant::ToDate() const {
    if (IsDate()) return std::get<DateTime>(value_);
    if (IsNull()) InvalidNull();
    if (IsString()) {
        int y, mo, d, h = 0, mi = 0, s = 0;
        const std::string& t = std::get<std::string>(value_);
        int n = std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
        if (n == 3 || n == 6) return DateTime::FromParts(y, mo, d, h, mi, s);
    }
    Mismatch();
}

ObjectPtr Variant::ToObject() const {
    if (IsEmpty()) return nullptr;
    if (!IsObject()) Mismatch();
    return std::get<ObjectPtr>(value_);
}

Array& Variant::ToArray() const {
    if (!IsArray()) Mismatch();
    return *std::get<std::shared_ptr<Array>>(value_);
}

}  // namespace kestrix
