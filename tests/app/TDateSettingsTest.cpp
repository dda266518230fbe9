#include "app/TDateSettings.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

namespace kv::app {
namespace {

constexpr TDate kNewYearsEve2024{2024, 12, 31};  // a Tuesday

// Settings from a short date picture and separator as the regional settings would give them,
// with the names of the "C" locale.
TDateSettings SettingsFor(const std::string& picture, const std::string& separator,
                          const std::string& language = "en") {
  TRegionalDateInfo info = ReadRegionalDateInfo("C");
  info.ShortDateFormat = picture;
  info.DateSeparator = separator;
  info.Language = language;
  return TDateSettings::FromRegionalInfo(info);
}

bool LocaleAvailable(const char* name) {
  locale_t loc = newlocale(LC_TIME_MASK, name, locale_t{});
  if (loc == locale_t{}) {
    return false;
  }
  freelocale(loc);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The date check on the short date picture of the regional settings.

struct TCheckCase {
  const char* name;
  const char* picture;
  const char* separator;
  TDate date;
  const char* rendered;
  bool passes;
};

class DateCheckTest : public testing::TestWithParam<TCheckCase> {};

TEST_P(DateCheckTest, RendersTodayAndChecksTheForm) {
  const TCheckCase& c = GetParam();
  const TDateSettings settings = SettingsFor(c.picture, c.separator);
  const std::string text = settings.DateToStr(c.date);
  EXPECT_EQ(text, c.rendered);
  EXPECT_EQ(DateTextPassesCheck(text), c.passes);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, DateCheckTest,
    testing::Values(
        TCheckCase{"DayMonthYear", "dd-MM-yyyy", "-", kNewYearsEve2024, "31-12-2024", true},
        TCheckCase{"MonthFirstPassesToo", "MM-dd-yyyy", "-", kNewYearsEve2024, "12-31-2024", true},
        TCheckCase{"ShortDayMonthInOctober", "d-M-yyyy", "-", {2024, 10, 15}, "15-10-2024", true},
        TCheckCase{"ShortDayMonthInMarch", "d-M-yyyy", "-", {2024, 3, 5}, "5-3-2024", false},
        TCheckCase{"IsoOrder", "yyyy-MM-dd", "-", kNewYearsEve2024, "2024-12-31", false},
        TCheckCase{"TwoDigitYear", "dd-MM-yy", "-", kNewYearsEve2024, "31-12-24", false},
        TCheckCase{"Dots", "dd.MM.yyyy", ".", kNewYearsEve2024, "31.12.2024", false},
        TCheckCase{"Slashes", "dd/MM/yyyy", "/", kNewYearsEve2024, "31/12/2024", false},
        TCheckCase{"QuotedHyphens", "dd'-'MM'-'yyyy", "/", kNewYearsEve2024, "31-12-2024", true},
        TCheckCase{"LiteralHyphensWithDotSeparator", "dd-MM-yyyy", ".", kNewYearsEve2024,
                   "31-12-2024", true},
        TCheckCase{"UpperAndLowerCaseLetters", "DD-mm-YYYY", "-", kNewYearsEve2024, "31-12-2024",
                   true},
        TCheckCase{"ZeroPaddedSmallDate", "dd-MM-yyyy", "-", {2024, 3, 5}, "05-03-2024", true},
        TCheckCase{"DefaultPicture", "", "", kNewYearsEve2024, "12/31/24", false}),
    [](const testing::TestParamInfo<TCheckCase>& info) { return std::string(info.param.name); });

TEST(DateCheckTest, CountsCharactersNotBytes) {
  // Ten characters, two of them of two bytes each.
  EXPECT_TRUE(DateTextPassesCheck("ææ-12-2024"));
  EXPECT_FALSE(DateTextPassesCheck("31-12-202"));
  EXPECT_FALSE(DateTextPassesCheck("31-12-20245"));
  EXPECT_FALSE(DateTextPassesCheck("31/12-2024"));
  EXPECT_FALSE(DateTextPassesCheck("31-12/2024"));
  EXPECT_FALSE(DateTextPassesCheck(""));
}

// ---------------------------------------------------------------------------------------------
// Rendering any picture.

struct TRenderCase {
  const char* name;
  const char* picture;
  TDate date;
  const char* rendered;
};

class DateRenderTest : public testing::TestWithParam<TRenderCase> {};

TEST_P(DateRenderTest, Renders) {
  const TRenderCase& c = GetParam();
  // Short picture "dd/MM/yyyy" with the separator "-"; long picture from the "C" locale.
  const TDateSettings settings = SettingsFor("dd-MM-yyyy", "-");
  EXPECT_EQ(settings.FormatDate(c.picture, c.date), c.rendered);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, DateRenderTest,
    testing::Values(
        TRenderCase{"DayRuns", "d dd", {2024, 3, 5}, "5 05"},
        TRenderCase{"DayNames", "ddd dddd", kNewYearsEve2024, "Tue Tuesday"},
        TRenderCase{"DayNamesOnSunday", "ddd dddd", {2024, 3, 3}, "Sun Sunday"},
        TRenderCase{"MonthRuns", "M MM", {2024, 3, 5}, "3 03"},
        TRenderCase{"MonthNames", "MMM MMMM", kNewYearsEve2024, "Dec December"},
        TRenderCase{"LongMonthRun", "MMMMMM", {2024, 1, 1}, "January"},
        TRenderCase{"YearRunsOneAndTwo", "y yy", {2005, 1, 1}, "05 05"},
        TRenderCase{"YearRunsThreeAndMore", "yyy yyyy yyyyy", {2005, 1, 1}, "2005 2005 2005"},
        TRenderCase{"SeparatorMark", "dd/MM", kNewYearsEve2024, "31-12"},
        TRenderCase{"SingleQuotes", "'day' d", kNewYearsEve2024, "day 31"},
        TRenderCase{"DoubleQuotes", "\"d/m\" d", kNewYearsEve2024, "d/m 31"},
        TRenderCase{"UnclosedQuote", "d 'text", kNewYearsEve2024, "31 text"},
        TRenderCase{"OtherCharactersAsThemselves", "d.M, yyyy!", kNewYearsEve2024, "31.12, 2024!"},
        TRenderCase{"ShortPictureInPlace", "[ddddd]", kNewYearsEve2024, "[31-12-2024]"},
        TRenderCase{"LongPictureInPlace", "[dddddd]", kNewYearsEve2024,
                    "[Tuesday December 31 2024]"},
        TRenderCase{"NonAsciiLiteral", "yyyy年MM月dd日", kNewYearsEve2024, "2024年12月31日"}),
    [](const testing::TestParamInfo<TRenderCase>& info) { return std::string(info.param.name); });

TEST(DateRenderTest, APictureThatNamesItselfStops) {
  const TDateSettings settings = SettingsFor("<ddddd>", "-");
  EXPECT_EQ(settings.DateToStr(kNewYearsEve2024), "<<<>>>");
}

TEST(DateRenderTest, DayOfWeekAcrossCenturies) {
  EXPECT_EQ(DayOfWeek({2000, 2, 29}), 2);  // Tuesday
  EXPECT_EQ(DayOfWeek({1900, 3, 1}), 4);   // Thursday
  EXPECT_EQ(DayOfWeek({1970, 1, 1}), 4);
  EXPECT_EQ(DayOfWeek({2024, 12, 29}), 0);
}

TEST(DateRenderTest, DayOfWeekAtTheEndsOfInt) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  // The calendar repeats every 400 years: the ends of int fall like 2047 and 2352, on Tuesdays.
  EXPECT_EQ(DayOfWeek({kMax, 12, 31}), 2);
  EXPECT_EQ(DayOfWeek({kMin, 1, 1}), 2);
  EXPECT_EQ(DayOfWeek({kMin, 2, 28}), DayOfWeek({2352, 2, 28}));
  // Months and days outside the calendar still give a weekday, without overflow.
  for (const TDate date : {TDate{kMax, kMax, kMax}, TDate{kMin, kMin, kMin}, TDate{0, 0, 0}}) {
    const int day = DayOfWeek(date);
    EXPECT_GE(day, 0);
    EXPECT_LE(day, 6);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading the regional settings.

TEST(DateSettingsReadingTest, SeparatorOutsideSingleQuotesBecomesTheMark) {
  EXPECT_EQ(SettingsFor("dd.MM.yyyy", ".").ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(SettingsFor("dd'.'MM.yyyy", ".").ShortDateFormat(), "dd'.'MM/yyyy");
  // A separator inside quotes stays literal, so it survives a later change of separator.
  EXPECT_EQ(SettingsFor("dd'.'MM.yyyy", ".").DateToStr(kNewYearsEve2024), "31.12.2024");
}

TEST(DateSettingsReadingTest, MissingValuesTakeTheDefaults) {
  const TDateSettings settings = SettingsFor("", "");
  EXPECT_EQ(settings.ShortDateFormat(), "m/d/yy");
  EXPECT_EQ(settings.DateSeparator(), "/");
}

TEST(DateSettingsReadingTest, EraLettersAreRemovedOnlyForChineseJapaneseAndKorean) {
  for (const char* language : {"zh", "ja", "ko"}) {
    EXPECT_EQ(SettingsFor("ggyyyy/MM/dd", "/", language).ShortDateFormat(), "yyyy/MM/dd")
        << language;
  }
  EXPECT_EQ(SettingsFor("ggyyyy/MM/dd", "/", "da").ShortDateFormat(), "ggyyyy/MM/dd");
}

TEST(DateSettingsReadingTest, AMissingLocaleGivesTheDefaults) {
  const TDateSettings settings = TDateSettings::FromLocale("xx_NOWHERE.UTF-8");
  EXPECT_EQ(settings.ShortDateFormat(), "m/d/yy");
  EXPECT_EQ(settings.DateSeparator(), "/");
  EXPECT_EQ(settings.LongDayNames()[0], "Sunday");
  EXPECT_EQ(settings.DateToStr(kNewYearsEve2024), "12/31/24");
}

// ---------------------------------------------------------------------------------------------
// strftime formats to pictures.

struct TStrftimeCase {
  const char* name;
  const char* format;
  const char* separator;
  const char* picture;
};

class StrftimeToPictureTest : public testing::TestWithParam<TStrftimeCase> {};

TEST_P(StrftimeToPictureTest, Converts) {
  const TStrftimeCase& c = GetParam();
  const std::string separator = DateSeparatorOfStrftime(c.format);
  EXPECT_EQ(separator, c.separator);
  EXPECT_EQ(StrftimeToPicture(c.format, separator), c.picture);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StrftimeToPictureTest,
    testing::Values(TStrftimeCase{"Danish", "%d-%m-%Y", "-", "dd-MM-yyyy"},
                    TStrftimeCase{"American", "%m/%d/%y", "/", "MM/dd/yy"},
                    TStrftimeCase{"German", "%d.%m.%Y", ".", "dd.MM.yyyy"},
                    TStrftimeCase{"Iso", "%Y-%m-%d", "-", "yyyy-MM-dd"},
                    TStrftimeCase{"SpacePaddedDay", "%e/%m/%Y", "/", "d/MM/yyyy"},
                    TStrftimeCase{"ZeroFlagOnSpacePaddedDay", "%0e/%m", "/", "dd/MM"},
                    TStrftimeCase{"UnpaddedDayAndMonth", "%-d/%-m/%y", "/", "d/M/yy"},
                    TStrftimeCase{"SpacePaddingFlag", "%_d.%_m.%Y", ".", "d.M.yyyy"},
                    TStrftimeCase{"MonthNames", "%d %b %Y|%B", " ", "dd MMM yyyy|MMMM"},
                    TStrftimeCase{"AbbreviatedMonthAlias", "%h %d", " ", "MMM dd"},
                    TStrftimeCase{"DayNames", "%a %A", " ", "ddd dddd"},
                    TStrftimeCase{"ShortcutD", "%D", "/", "MM/dd/yy"},
                    TStrftimeCase{"ShortcutF", "%F", "-", "yyyy-MM-dd"},
                    TStrftimeCase{"Percent", "%d%%%m", "%", "dd%MM"},
                    TStrftimeCase{"QuotedWords", "%d de %B de %Y", " ", "dd 'de' MMMM 'de' yyyy"},
                    TStrftimeCase{"TrailingDot", "%d.%m.%Y.", ".", "dd.MM.yyyy."},
                    TStrftimeCase{"Japanese", "%Y年%m月%d日", "", "yyyy年MM月dd日"},
                    TStrftimeCase{"SlashThatIsNotTheSeparator", "%d-%m/%Y", "-", "dd-MM'/'yyyy"},
                    TStrftimeCase{"TimeDropped", "%d/%m/%Y %H:%M", "/", "dd/MM/yyyy :"},
                    TStrftimeCase{"ModifiersIgnored", "%Ey-%Om-%Od", "-", "yy-MM-dd"},
                    TStrftimeCase{"AdjacentSameLetters", "%d%d", "", "dd''dd"},
                    TStrftimeCase{"SingleQuoteLiteral", "%d'%m", "", "dd\"'\"MM"},
                    TStrftimeCase{"LiteralBeforeFirstField", "Day %d", "", "'Day 'dd"}),
    [](const testing::TestParamInfo<TStrftimeCase>& info) { return std::string(info.param.name); });

TEST(StrftimeToPictureTest, ConvertedPicturesRenderLikeStrftime) {
  // The picture must render what the C library renders for the same format.
  for (const char* format : {"%d-%m-%Y", "%m/%d/%y", "%Y-%m-%d", "%d de %B de %Y", "%d-%m/%Y",
                             "%-d. %b %Y", "%A, %d.%m.%Y"}) {
    TRegionalDateInfo info = ReadRegionalDateInfo("C");
    info.DateSeparator = DateSeparatorOfStrftime(format);
    info.ShortDateFormat = StrftimeToPicture(format, info.DateSeparator);
    const TDateSettings settings = TDateSettings::FromRegionalInfo(info);
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_wday = 2;
    char expected[64];
    locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    ASSERT_NE(c, locale_t{});
    strftime_l(expected, sizeof expected, format, &tm, c);
    freelocale(c);
    EXPECT_EQ(settings.DateToStr({2024, 3, 5}), expected) << format;
  }
}

struct TLongDateCase {
  const char* name;
  const char* dateTimeFormat;
  const char* longDate;
};

class LongDateStrftimeTest : public testing::TestWithParam<TLongDateCase> {};

TEST_P(LongDateStrftimeTest, DropsTheTime) {
  EXPECT_EQ(LongDateStrftimeOf(GetParam().dateTimeFormat), GetParam().longDate);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LongDateStrftimeTest,
    testing::Values(TLongDateCase{"Danish", "%a %e %b %H:%M:%S %Z %Y", "%A %e %B %Y"},
                    TLongDateCase{"American", "%a %b %e %r %Z %Y", "%A %B %e %Y"},
                    TLongDateCase{"Punctuation", "%a, %e. %b %Y.  %H:%M:%S %Z", "%A, %e. %B %Y."},
                    TLongDateCase{"OnlyTime", "%H:%M:%S", ""}),
    [](const testing::TestParamInfo<TLongDateCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Real locales of this machine.

struct TLocaleCase {
  const char* name;
  const char* locale;
  const char* shortDateFormat;  // after the reading rules
  const char* separator;
  const char* rendered;  // 31 December 2024
  bool passes;
  const char* longRendered;
  const char* firstShortMonth;
};

class LocaleDateSettingsTest : public testing::TestWithParam<TLocaleCase> {};

TEST_P(LocaleDateSettingsTest, ReadsTheTimeLocale) {
  const TLocaleCase& c = GetParam();
  if (!LocaleAvailable(c.locale)) {
    GTEST_SKIP() << c.locale << " is not installed";
  }
  const TDateSettings settings = TDateSettings::FromLocale(c.locale);
  EXPECT_EQ(settings.ShortDateFormat(), c.shortDateFormat);
  EXPECT_EQ(settings.DateSeparator(), c.separator);
  const std::string text = settings.DateToStr(kNewYearsEve2024);
  EXPECT_EQ(text, c.rendered);
  EXPECT_EQ(DateTextPassesCheck(text), c.passes);
  EXPECT_EQ(settings.FormatDate("dddddd", kNewYearsEve2024), c.longRendered);
  EXPECT_EQ(settings.ShortMonthNames()[0], c.firstShortMonth);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, LocaleDateSettingsTest,
    testing::Values(TLocaleCase{"Danish", "da_DK.UTF-8", "dd/MM/yyyy", "-", "31-12-2024", true,
                                "tirsdag 31 december 2024", "jan"},
                    TLocaleCase{"AmericanEnglish", "en_US.UTF-8", "MM/dd/yyyy", "/", "12/31/2024",
                                false, "Tuesday December 31 2024", "Jan"},
                    TLocaleCase{"German", "de_DE.UTF-8", "dd/MM/yyyy", ".", "31.12.2024", false,
                                "Dienstag 31. Dezember 2024", "Jan"},
                    TLocaleCase{"BritishEnglish", "en_GB.UTF-8", "dd/MM/yy", "/", "31/12/24", false,
                                "Tuesday 31 December 2024", "Jan"},
                    TLocaleCase{"Japanese", "ja_JP.UTF-8", "yyyy年MM月dd日", "/", "2024年12月31日",
                                false, "2024年 12月 31日 火曜日", "1月"},
                    TLocaleCase{"Posix", "C", "MM/dd/yy", "/", "12/31/24", false,
                                "Tuesday December 31 2024", "Jan"}),
    [](const testing::TestParamInfo<TLocaleCase>& info) { return std::string(info.param.name); });

TEST(LocaleDateSettingsTest, EmptyNameReadsTheUsersLocaleFromTheEnvironment) {
  if (!LocaleAvailable("da_DK.UTF-8")) {
    GTEST_SKIP() << "da_DK.UTF-8 is not installed";
  }
  const char* saved = getenv("LC_ALL");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("LC_ALL", "da_DK.UTF-8", 1);
  const TRegionalDateInfo info = ReadRegionalDateInfo();
  if (saved != nullptr) {
    setenv("LC_ALL", previous.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  EXPECT_EQ(info.Language, "da");
  EXPECT_EQ(info.ShortDateFormat, "dd-MM-yyyy");
  EXPECT_EQ(info.DateSeparator, "-");
  EXPECT_EQ(info.LongDayNames[2], "tirsdag");
}

}  // namespace
}  // namespace kv::app
