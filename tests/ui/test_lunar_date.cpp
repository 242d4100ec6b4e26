#include "ui/lunar_date.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct KnownDate {
    QDate date;
    const char* text; // "%M%D"
};

// Published lunar dates: new years at both ends of the range, leap months (including the leap
// eleventh month of 2033), month ends of 29 and 30 days and the last day of the range.
const KnownDate kKnownDates[] = {
    {QDate(1901, 2, 19), "正月初一"},    {QDate(1901, 2, 18), "腊月三十"},
    {QDate(1949, 10, 1), "八月初十"},    {QDate(1976, 9, 9), "八月十六"},
    {QDate(1984, 2, 2), "正月初一"},     {QDate(2000, 2, 5), "正月初一"},
    {QDate(2001, 5, 23), "闰四月初一"},  {QDate(2004, 3, 21), "闰二月初一"},
    {QDate(2012, 5, 21), "闰四月初一"},  {QDate(2017, 7, 23), "闰六月初一"},
    {QDate(2020, 5, 23), "闰四月初一"},  {QDate(2020, 6, 20), "闰四月廿九"},
    {QDate(2020, 6, 21), "五月初一"},    {QDate(2023, 1, 21), "腊月三十"},
    {QDate(2023, 1, 22), "正月初一"},    {QDate(2023, 3, 22), "闰二月初一"},
    {QDate(2024, 2, 9), "腊月三十"},     {QDate(2024, 2, 10), "正月初一"},
    {QDate(2024, 9, 17), "八月十五"},    {QDate(2025, 1, 28), "腊月廿九"},
    {QDate(2025, 1, 29), "正月初一"},    {QDate(2025, 7, 25), "闰六月初一"},
    {QDate(2025, 12, 20), "十一月初一"}, {QDate(2033, 12, 22), "闰冬月初一"},
    {QDate(2034, 2, 19), "正月初一"},    {QDate(2048, 2, 14), "正月初一"},
    {QDate(2048, 12, 31), "十一月廿七"},
};

TEST(LunarDate, KnownDatesAcrossTheRange)
{
    for (const auto& known : kKnownDates) {
        const std::string expected = known.text;
        // 十一月 is shown as 冬月.
        std::string shown = expected;
        if (shown.find("十一月") == 0)
            shown.replace(0, std::string("十一月").size(), "冬月");
        EXPECT_EQ(lunarDateText(known.date, "%M%D"), shown)
            << known.date.toString(Qt::ISODate).toStdString();
    }
}

// The first day of every lunar year of the range, as the observatories publish it.
const int kLunarNewYears[][3] = {
    {1901, 2, 19}, {1902, 2, 8},  {1903, 1, 29}, {1904, 2, 16}, {1905, 2, 4},  {1906, 1, 25},
    {1907, 2, 13}, {1908, 2, 2},  {1909, 1, 22}, {1910, 2, 10}, {1911, 1, 30}, {1912, 2, 18},
    {1913, 2, 6},  {1914, 1, 26}, {1915, 2, 14}, {1916, 2, 3},  {1917, 1, 23}, {1918, 2, 11},
    {1919, 2, 1},  {1920, 2, 20}, {1921, 2, 8},  {1922, 1, 28}, {1923, 2, 16}, {1924, 2, 5},
    {1925, 1, 24}, {1926, 2, 13}, {1927, 2, 2},  {1928, 1, 23}, {1929, 2, 10}, {1930, 1, 30},
    {1931, 2, 17}, {1932, 2, 6},  {1933, 1, 26}, {1934, 2, 14}, {1935, 2, 4},  {1936, 1, 24},
    {1937, 2, 11}, {1938, 1, 31}, {1939, 2, 19}, {1940, 2, 8},  {1941, 1, 27}, {1942, 2, 15},
    {1943, 2, 5},  {1944, 1, 25}, {1945, 2, 13}, {1946, 2, 2},  {1947, 1, 22}, {1948, 2, 10},
    {1949, 1, 29}, {1950, 2, 17}, {1951, 2, 6},  {1952, 1, 27}, {1953, 2, 14}, {1954, 2, 3},
    {1955, 1, 24}, {1956, 2, 12}, {1957, 1, 31}, {1958, 2, 18}, {1959, 2, 8},  {1960, 1, 28},
    {1961, 2, 15}, {1962, 2, 5},  {1963, 1, 25}, {1964, 2, 13}, {1965, 2, 2},  {1966, 1, 21},
    {1967, 2, 9},  {1968, 1, 30}, {1969, 2, 17}, {1970, 2, 6},  {1971, 1, 27}, {1972, 2, 15},
    {1973, 2, 3},  {1974, 1, 23}, {1975, 2, 11}, {1976, 1, 31}, {1977, 2, 18}, {1978, 2, 7},
    {1979, 1, 28}, {1980, 2, 16}, {1981, 2, 5},  {1982, 1, 25}, {1983, 2, 13}, {1984, 2, 2},
    {1985, 2, 20}, {1986, 2, 9},  {1987, 1, 29}, {1988, 2, 17}, {1989, 2, 6},  {1990, 1, 27},
    {1991, 2, 15}, {1992, 2, 4},  {1993, 1, 23}, {1994, 2, 10}, {1995, 1, 31}, {1996, 2, 19},
    {1997, 2, 7},  {1998, 1, 28}, {1999, 2, 16}, {2000, 2, 5},  {2001, 1, 24}, {2002, 2, 12},
    {2003, 2, 1},  {2004, 1, 22}, {2005, 2, 9},  {2006, 1, 29}, {2007, 2, 18}, {2008, 2, 7},
    {2009, 1, 26}, {2010, 2, 14}, {2011, 2, 3},  {2012, 1, 23}, {2013, 2, 10}, {2014, 1, 31},
    {2015, 2, 19}, {2016, 2, 8},  {2017, 1, 28}, {2018, 2, 16}, {2019, 2, 5},  {2020, 1, 25},
    {2021, 2, 12}, {2022, 2, 1},  {2023, 1, 22}, {2024, 2, 10}, {2025, 1, 29}, {2026, 2, 17},
    {2027, 2, 6},  {2028, 1, 26}, {2029, 2, 13}, {2030, 2, 3},  {2031, 1, 23}, {2032, 2, 11},
    {2033, 1, 31}, {2034, 2, 19}, {2035, 2, 8},  {2036, 1, 28}, {2037, 2, 15}, {2038, 2, 4},
    {2039, 1, 24}, {2040, 2, 12}, {2041, 2, 1},  {2042, 1, 22}, {2043, 2, 10}, {2044, 1, 30},
    {2045, 2, 17}, {2046, 2, 6},  {2047, 1, 26}, {2048, 2, 14},
};

TEST(LunarDate, EveryLunarNewYearOfTheRange)
{
    for (const auto& [y, m, d] : kLunarNewYears) {
        const QDate date(y, m, d);
        const std::string iso = date.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(lunarDateText(date, "%M%D"), "正月初一") << iso;
        const LunarDate lunar = toLunarDate(date);
        EXPECT_EQ(lunar.year, y) << iso;
        const LunarDate eve = toLunarDate(date.addDays(-1));
        EXPECT_EQ(eve.month, 12) << iso;
        EXPECT_EQ(eve.year, y - 1) << iso;
    }
}

// Spans where a table built from a computed calendar put new moons near Beijing midnight on the
// wrong day: the first and last day of each span with its published name.
TEST(LunarDate, MonthsWhoseNewMoonFallsNearMidnight)
{
    struct Span {
        QDate first, last;
        const char* firstText;
        const char* lastText;
    } spans[] = {
        {QDate(1917, 3, 23), QDate(1917, 5, 20), "闰二月初一", "三月三十"},
        {QDate(1922, 6, 25), QDate(1922, 8, 22), "闰五月初一", "六月三十"},
        {QDate(1933, 7, 22), QDate(1933, 8, 20), "六月初一", "六月三十"},
        {QDate(1954, 2, 3), QDate(1954, 3, 4), "正月初一", "正月三十"},
        {QDate(1954, 11, 25), QDate(1954, 12, 24), "十月三十", "冬月廿九"},
        {QDate(1955, 2, 22), QDate(1955, 3, 23), "二月初一", "二月三十"},
        {QDate(1987, 7, 26), QDate(1987, 9, 22), "闰六月初一", "七月三十"},
        {QDate(1999, 1, 17), QDate(1999, 2, 15), "腊月初一", "腊月三十"},
        {QDate(2012, 8, 17), QDate(2012, 9, 15), "七月初一", "七月三十"},
        {QDate(2018, 11, 7), QDate(2018, 12, 6), "九月三十", "十月廿九"},
        {QDate(2027, 2, 6), QDate(2027, 3, 7), "正月初一", "正月三十"},
        {QDate(2030, 2, 2), QDate(2030, 3, 3), "腊月三十", "正月廿九"},
    };
    for (const auto& s : spans) {
        EXPECT_EQ(lunarDateText(s.first, "%M%D"), s.firstText)
            << s.first.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(lunarDateText(s.last, "%M%D"), s.lastText)
            << s.last.toString(Qt::ISODate).toStdString();
    }
    EXPECT_EQ(lunarDateText(QDate(2027, 2, 5), "%M%D"), "腊月廿九");
    EXPECT_EQ(lunarDateText(QDate(2030, 2, 3), "%M%D"), "正月初一");
}

// Every day of the range against an independent implementation: Debian's python3-lunardate.
TEST(LunarDate, EveryDayAgreesWithPythonLunardate)
{
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                               ? QStringLiteral("/usr/bin/python3")
                               : QStringLiteral("python3");
    const char* script =
        "import datetime\n"
        "from lunardate import LunarDate\n"
        "d = datetime.date(1901, 2, 19)\n"
        "out = []\n"
        "while d <= datetime.date(2048, 12, 31):\n"
        "    l = LunarDate.fromSolarDate(d.year, d.month, d.day)\n"
        "    out.append('%d %d %d %d' % (l.year, l.month, l.day, int(l.isLeapMonth)))\n"
        "    d += datetime.timedelta(days=1)\n"
        "print('\\n'.join(out))\n";
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QString::fromUtf8(script)});
    ASSERT_TRUE(process.waitForFinished(300000));
    if (process.exitCode() != 0)
        GTEST_SKIP() << "python3-lunardate is not installed: "
                     << process.readAllStandardError().toStdString();
    std::istringstream lines(process.readAllStandardOutput().toStdString());
    int mismatches = 0;
    int days = 0;
    for (QDate date(1901, 2, 19); date <= QDate(2048, 12, 31); date = date.addDays(1), ++days) {
        int year = 0, month = 0, day = 0, leap = 0;
        ASSERT_TRUE(lines >> year >> month >> day >> leap)
            << date.toString(Qt::ISODate).toStdString();
        const LunarDate lunar = toLunarDate(date);
        if (lunar.year != year || lunar.month != month || lunar.day != day ||
            lunar.leapMonth != (leap == 1)) {
            if (++mismatches <= 10)
                ADD_FAILURE() << date.toString(Qt::ISODate).toStdString() << ": " << lunar.year
                              << "-" << lunar.month << (lunar.leapMonth ? "L" : "") << "-"
                              << lunar.day << ", published " << year << "-" << month
                              << (leap ? "L" : "") << "-" << day;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(days, QDate(1901, 2, 19).daysTo(QDate(2048, 12, 31)) + 1);
}

TEST(LunarDate, EveryDayOfTheRangeHasAValidNameAndDaysFollowEachOther)
{
    QDate date(1901, 2, 19);
    LunarDate previous = toLunarDate(date);
    ASSERT_TRUE(previous.valid);
    EXPECT_EQ(previous.month, 1);
    EXPECT_EQ(previous.day, 1);
    for (date = date.addDays(1); date <= QDate(2048, 12, 31); date = date.addDays(1)) {
        const LunarDate lunar = toLunarDate(date);
        ASSERT_TRUE(lunar.valid) << date.toString(Qt::ISODate).toStdString();
        if (lunar.day != 1) {
            ASSERT_EQ(lunar.day, previous.day + 1);
            ASSERT_EQ(lunar.month, previous.month);
            ASSERT_EQ(lunar.leapMonth, previous.leapMonth);
        } else {
            // A month has 29 or 30 days; a leap month repeats the number of the month before it.
            ASSERT_TRUE(previous.day == 29 || previous.day == 30)
                << date.toString(Qt::ISODate).toStdString();
            if (lunar.leapMonth)
                ASSERT_EQ(lunar.month, previous.month);
            else
                ASSERT_EQ(lunar.month, previous.month % 12 + 1);
        }
        ASSERT_FALSE(lunarDateText(date, "%M").empty());
        ASSERT_EQ(lunarDateText(date, "%D").size(), std::string("初一").size());
        previous = lunar;
    }
}

TEST(LunarDate, MonthAndDayNames)
{
    const std::pair<int, const char*> days[] = {
        {1, "初一"},  {10, "初十"}, {11, "十一"}, {19, "十九"}, {20, "二十"},
        {21, "廿一"}, {29, "廿九"}, {30, "三十"}, {0, ""},      {31, ""},
    };
    for (const auto& [day, name] : days)
        EXPECT_EQ(lunarDayName(day), name) << day;
    EXPECT_EQ(lunarMonthName(1, false), "正月");
    EXPECT_EQ(lunarMonthName(4, false), "四月");
    EXPECT_EQ(lunarMonthName(4, true), "闰四月");
    EXPECT_EQ(lunarMonthName(10, false), "十月");
    EXPECT_EQ(lunarMonthName(11, false), "冬月");
    EXPECT_EQ(lunarMonthName(12, false), "腊月");
}

TEST(LunarDate, PatternKeepsOtherTextAndOutsideTheTableGivesEmptyFields)
{
    EXPECT_EQ(lunarDateText(QDate(2024, 2, 10), "农历%M %D"), "农历正月 初一");
    EXPECT_EQ(lunarDateText(QDate(2024, 2, 10), "%D%D"), "初一初一");
    EXPECT_EQ(lunarDateText(QDate(1899, 12, 31), "[%M%D]"), "[]");
    EXPECT_EQ(lunarDateText(QDate(2100, 1, 1), "%M%D"), "");
}

TEST(LunarDate, WeekdayNamesStartWithSunday)
{
    const std::pair<QDate, const char*> days[] = {
        {QDate(2024, 2, 11), "星期日"}, {QDate(2024, 2, 12), "星期一"},
        {QDate(2024, 2, 13), "星期二"}, {QDate(2024, 2, 14), "星期三"},
        {QDate(2024, 2, 15), "星期四"}, {QDate(2024, 2, 16), "星期五"},
        {QDate(2024, 2, 17), "星期六"},
    };
    for (const auto& [date, name] : days)
        EXPECT_EQ(weekdayName(date), name);
}

} // namespace
