#pragma once
// Names of dates in the Chinese lunisolar calendar and of weekdays, for the header labels.

#include <QDate>

#include <string>
#include <string_view>

// One day of the lunar calendar. valid is false outside the table (before 1900-01-31 or after the
// lunar year that starts in 2049).
struct LunarDate {
    bool valid = false;
    int year = 0;  // the Gregorian year in which this lunar year begins
    int month = 0; // 1..12
    bool leapMonth = false;
    int day = 0; // 1..30
};

LunarDate toLunarDate(const QDate& date);

// "闰" for a leap month, then 正月 二月 … 十月 冬月 腊月.
std::string lunarMonthName(int month, bool leapMonth);
// 初一 … 初十, 十一 … 十九, 二十, 廿一 … 廿九, 三十.
std::string lunarDayName(int day);

// The pattern with "%M" replaced by the lunar month name and "%D" by the lunar day name of date;
// other text is kept. Outside the table both fields become the empty text.
std::string lunarDateText(const QDate& date, std::string_view pattern);

// "星期日" … "星期六".
std::string weekdayName(const QDate& date);
