#include "platform/text/locale_date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

using kestrix::DateTime;
using namespace kestrix::text;

namespace {

DateTime Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return DateTime::FromParts(y, m, d, h, mi, s);
}

/// Sets LC_ALL, LC_TIME and LANG (nullopt: unset) for the length of a test and puts the old
/// values back.
class LocaleEnvironment {
public:
    using Value = std::optional<std::string>;
    LocaleEnvironment(Value lcAll, Value lcTime, Value lang) {
        const std::pair<const char*, Value> values[] = {
            {"LC_ALL", lcAll}, {"LC_TIME", lcTime}, {"LANG", lang}};
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            saved_[name] = old ? Value(old) : std::nullopt;
            Set(name, value);
        }
    }
    ~LocaleEnvironment() {
        for (const auto& [name, value] : saved_) Set(name, value);
    }

private:
    static void Set(const std::string& name, const Value& value) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::map<std::string, Value> saved_;
};

}  // namespace

TEST(LocaleDate, ReadsTheCustomaryShortDateOfEachLocale) {
    struct Case {
        int32_t lcid;
        const char* text;
    };
    const Case cases[] = {
        {1033, "5/31/2003"},  {1033, "05/31/2003"}, {2057, "31/05/2003"}, {2057, "31/5/2003"},
        {1031, "31.05.2003"}, {1031, "31.5.2003"},  {1036, "31/05/2003"}, {1043, "31-5-2003"},
        {1043, "31-05-2003"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lcid) + " " + c.text);
        EXPECT_EQ(ParseLocaleDate(c.text, c.lcid), Date(2003, 5, 31));
    }
}

TEST(LocaleDate, TheLocaleDecidesWhetherDayOrMonthComesFirst) {
    EXPECT_EQ(ParseLocaleDate("3/4/2003", 1033), Date(2003, 3, 4));
    EXPECT_EQ(ParseLocaleDate("3/4/2003", 2057), Date(2003, 4, 3));
    EXPECT_EQ(ParseLocaleDate("3.4.2003", 1031), Date(2003, 4, 3));
    // Another locale's separator is accepted; the order stays that of the locale.
    EXPECT_EQ(ParseLocaleDate("3/4/2003", 1031), Date(2003, 4, 3));
    // A day-first text in a month-first locale is no date, not a guess.
    EXPECT_EQ(ParseLocaleDate("31/05/2003", 1033), std::nullopt);
    EXPECT_EQ(ParseLocaleDate("5/31/2003", 2057), std::nullopt);
}

TEST(LocaleDate, YearFirstDatesReadTheSameInEveryLocale) {
    for (int32_t lcid : {1033, 2057, 1031, 1036, 1043, 4242}) {
        SCOPED_TRACE(lcid);
        EXPECT_EQ(ParseLocaleDate("2003-05-31", lcid), Date(2003, 5, 31));
        EXPECT_EQ(ParseLocaleDate("2003/5/31", lcid), Date(2003, 5, 31));
    }
    // A locale nobody knows reads nothing else.
    EXPECT_EQ(ParseLocaleDate("31/05/2003", 4242), std::nullopt);
    EXPECT_EQ(FormatLocaleDate(Date(2003, 5, 31), 4242), "2003-05-31");
}

TEST(LocaleDate, TwoDigitYearsFallInTheWindow1930To2029) {
    EXPECT_EQ(ParseLocaleDate("1/2/00", 1033), Date(2000, 1, 2));
    EXPECT_EQ(ParseLocaleDate("1/2/29", 1033), Date(2029, 1, 2));
    EXPECT_EQ(ParseLocaleDate("1/2/30", 1033), Date(1930, 1, 2));
    EXPECT_EQ(ParseLocaleDate("02.01.99", 1031), Date(1999, 1, 2));
    // Three-digit and five-digit years are neither form.
    EXPECT_EQ(ParseLocaleDate("1/2/203", 1033), std::nullopt);
    EXPECT_EQ(ParseLocaleDate("1/2/20033", 1033), std::nullopt);
}

TEST(LocaleDate, DatesThatDoNotExistGiveNothing) {
    const char* texts[] = {"31/02/2003", "29/02/2003", "00/05/2003", "31/04/2003",
                           "12/13/2003", "12/00/2003", "29/02/1900"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseLocaleDate(text, 2057), std::nullopt);
    }
    EXPECT_EQ(ParseLocaleDate("2003-02-30", 1033), std::nullopt);
    EXPECT_EQ(ParseLocaleDate("0000-01-01", 1033), std::nullopt);
    EXPECT_EQ(ParseLocaleDate("29/02/2000", 2057), Date(2000, 2, 29));
    EXPECT_EQ(ParseLocaleDate("29.02.2004", 1031), Date(2004, 2, 29));
}

TEST(LocaleDate, TextsThatAreNoDateGiveNothing) {
    const char* texts[] = {"",           "   ",         "abc",          "31/05",
                           "31/05.2003", "31/05/2003x", "31/05/2003 x", "31 05 2003",
                           "-1/05/2003", "31//2003",    "10:30",        "2003-05-31 25:00",
                           "31/05/2003 10:60", "31/05/2003 13:00 PM", "31/05/2003 0:30 AM",
                           "31/05/2003T10:00"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseLocaleDate(text, 2057), std::nullopt);
    }
}

TEST(LocaleDate, ReadsAnOptionalTime) {
    EXPECT_EQ(ParseLocaleDate("  31/05/2003 14:30  ", 2057), Date(2003, 5, 31, 14, 30));
    EXPECT_EQ(ParseLocaleDate("31.05.2003 07:05:09", 1031), Date(2003, 5, 31, 7, 5, 9));
    EXPECT_EQ(ParseLocaleDate("5/31/2003 2:30:15 PM", 1033), Date(2003, 5, 31, 14, 30, 15));
    EXPECT_EQ(ParseLocaleDate("5/31/2003 2:30pm", 1033), Date(2003, 5, 31, 14, 30));
    EXPECT_EQ(ParseLocaleDate("5/31/2003 12:00 AM", 1033), Date(2003, 5, 31, 0, 0));
    EXPECT_EQ(ParseLocaleDate("5/31/2003 12:15 PM", 1033), Date(2003, 5, 31, 12, 15));
    // The time forms of XML documents: "T", fractions and a zone, which is not applied.
    EXPECT_EQ(ParseLocaleDate("2003-05-31T10:20:30.125Z", 1031), Date(2003, 5, 31, 10, 20, 30));
    EXPECT_EQ(ParseLocaleDate("2003-05-31T23:59:59+02:00", 1031), Date(2003, 5, 31, 23, 59, 59));
    EXPECT_EQ(ParseLocaleDate("2003-05-31-05:00", 1033), Date(2003, 5, 31));
    EXPECT_EQ(ParseLocaleDate("2003-05-31T10:20+25:00", 1033), std::nullopt);
}

TEST(LocaleDate, FormatsTheShortDateOfEachLocaleAndReadsItBack) {
    const DateTime d = Date(2003, 2, 1, 13, 45, 0);
    EXPECT_EQ(FormatLocaleDate(d, 1033), "2/1/2003");
    EXPECT_EQ(FormatLocaleDate(d, 2057), "01/02/2003");
    EXPECT_EQ(FormatLocaleDate(d, 1031), "01.02.2003");
    EXPECT_EQ(FormatLocaleDate(d, 1036), "01/02/2003");
    EXPECT_EQ(FormatLocaleDate(d, 1043), "1-2-2003");

    const DateTime dates[] = {Date(2003, 12, 31), Date(1999, 1, 9), Date(2029, 10, 5),
                              Date(2000, 2, 29)};
    for (int32_t lcid : {127, 1030, 1031, 1033, 1035, 1036, 1040, 1041, 1043, 1044, 1045, 1046,
                         1053, 2055, 2057, 2060, 2067, 2070, 3079, 3081, 3082, 4108}) {
        for (const DateTime& date : dates) {
            const std::string text = FormatLocaleDate(date, lcid);
            SCOPED_TRACE(std::to_string(lcid) + " " + text);
            EXPECT_EQ(ParseLocaleDate(text, lcid), date);
        }
    }
}

TEST(LocaleDate, TheDefaultLocaleComesFromTheEnvironment) {
    {
        LocaleEnvironment env(std::nullopt, "de_DE.UTF-8", "en_US.UTF-8");
        EXPECT_EQ(SystemDefaultLcid(), 1031);
        EXPECT_EQ(ParseLocaleDate("3.4.2003", 0), Date(2003, 4, 3));
        EXPECT_EQ(FormatLocaleDate(Date(2003, 4, 3), kLocaleSystemDefault), "03.04.2003");
    }
    {
        LocaleEnvironment env("en_GB.UTF-8@euro", "de_DE.UTF-8", std::nullopt);
        EXPECT_EQ(SystemDefaultLcid(), 2057);
        EXPECT_EQ(ParseLocaleDate("3/4/2003", kLocaleUserDefault), Date(2003, 4, 3));
    }
    {
        LocaleEnvironment env("C.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8");
        EXPECT_EQ(SystemDefaultLcid(), 1033);
    }
    {
        LocaleEnvironment env(std::nullopt, std::nullopt, std::nullopt);
        EXPECT_EQ(SystemDefaultLcid(), 1033);
        EXPECT_EQ(ParseLocaleDate("3/4/2003", 0), Date(2003, 3, 4));
    }
    EXPECT_EQ(LcidFromName("nl_NL"), 1043);
    EXPECT_EQ(LcidFromName("FR-fr"), 1036);
    EXPECT_EQ(LcidFromName("xx-YY"), std::nullopt);
}
