#include "ui/lunar_date.h"

#include <gtest/gtest.h>

namespace {

struct KnownDate {
    QDate date;
    const char* text;  // "%M%D"
};

// Published lunar dates: new years at both ends of the range, leap months (including the leap
// eleventh month of 2033), month ends of 29 and 30 days and the last day of the range.
const KnownDate kKnownDates[] = {
    {QDate(1901, 2, 19), "正月初一"},
    {QDate(1901, 2, 18), "腊月三十"},
    {QDate(1949, 10, 1), "八月初十"},
    {QDate(1976, 9, 9), "八月十六"},
    {QDate(1984, 2, 2), "正月初一"},
    {QDate(2000, 2, 5), "正月初一"},
    {QDate(2001, 5, 23), "闰四月初一"},
    {QDate(2004, 3, 21), "闰二月初一"},
    {QDate(2012, 5, 21), "闰四月初一"},
    {QDate(2017, 7, 23), "闰六月初一"},
    {QDate(2020, 5, 23), "闰四月初一"},
    {QDate(2020, 6, 20), "闰四月廿九"},
    {QDate(2020, 6, 21), "五月初一"},
    {QDate(2023, 1, 21), "腊月三十"},
    {QDate(2023, 1, 22), "正月初一"},
    {QDate(2023, 3, 22), "闰二月初一"},
    {QDate(2024, 2, 9), "腊月三十"},
    {QDate(2024, 2, 10), "正月初一"},
    {QDate(2024, 9, 17), "八月十五"},
    {QDate(2025, 1, 28), "腊月廿九"},
    {QDate(2025, 1, 29), "正月初一"},
    {QDate(2025, 7, 25), "闰六月初一"},
    {QDate(2025, 12, 20), "十一月初一"},
    {QDate(2033, 12, 22), "闰冬月初一"},
    {QDate(2034, 2, 19), "正月初一"},
    {QDate(2048, 2, 14), "正月初一"},
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
        EXPECT_EQ(lunarDateText(known.date, "%M%D"), shown) << known.date.toString(Qt::ISODate).toStdString();
    }
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
        {1, "初一"}, {10, "初十"}, {11, "十一"}, {19, "十九"}, {20, "二十"},
        {21, "廿一"}, {29, "廿九"}, {30, "三十"}, {0, ""},     {31, ""},
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
