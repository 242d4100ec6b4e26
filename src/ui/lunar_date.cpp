#include "ui/lunar_date.h"

#include <array>
#include <cstdint>

namespace {

// The lunisolar calendar table as published by the observatories (Hong Kong Observatory, Purple
// Mountain Observatory), in its usual encoding: one entry per lunar year, starting with the year
// whose first day is 1900-01-31.
//   bits 15..4: months 1..12, 30 days when the bit is set, 29 otherwise (month 1 is bit 15);
//   bits 3..0:  the month the leap month follows, 0 for none;
//   bit 16:     the leap month has 30 days.
constexpr std::array<std::uint32_t, 150> kLunarYears = {
    0x04bd8, 0x04ae0, 0x0a570, 0x054d5, 0x0d260, // 1900-1904
    0x0d950, 0x16554, 0x056a0, 0x09ad0, 0x055d2, // 1905-1909
    0x04ae0, 0x0a5b6, 0x0a4d0, 0x0d250, 0x1d255, // 1910-1914
    0x0b540, 0x0d6a0, 0x0ada2, 0x095b0, 0x14977, // 1915-1919
    0x04970, 0x0a4b0, 0x0b4b5, 0x06a50, 0x06d40, // 1920-1924
    0x1ab54, 0x02b60, 0x09570, 0x052f2, 0x04970, // 1925-1929
    0x06566, 0x0d4a0, 0x0ea50, 0x06e95, 0x05ad0, // 1930-1934
    0x02b60, 0x186e3, 0x092e0, 0x1c8d7, 0x0c950, // 1935-1939
    0x0d4a0, 0x1d8a6, 0x0b550, 0x056a0, 0x1a5b4, // 1940-1944
    0x025d0, 0x092d0, 0x0d2b2, 0x0a950, 0x0b557, // 1945-1949
    0x06ca0, 0x0b550, 0x15355, 0x04da0, 0x0a5d0, // 1950-1954
    0x14573, 0x052d0, 0x0a9a8, 0x0e950, 0x06aa0, // 1955-1959
    0x0aea6, 0x0ab50, 0x04b60, 0x0aae4, 0x0a570, // 1960-1964
    0x05260, 0x0f263, 0x0d950, 0x05b57, 0x056a0, // 1965-1969
    0x096d0, 0x04dd5, 0x04ad0, 0x0a4d0, 0x0d4d4, // 1970-1974
    0x0d250, 0x0d558, 0x0b540, 0x0b5a0, 0x195a6, // 1975-1979
    0x095b0, 0x049b0, 0x0a974, 0x0a4b0, 0x0b27a, // 1980-1984
    0x06a50, 0x06d40, 0x0af46, 0x0ab60, 0x09570, // 1985-1989
    0x04af5, 0x04970, 0x064b0, 0x074a3, 0x0ea50, // 1990-1994
    0x06b58, 0x05ac0, 0x0ab60, 0x096d5, 0x092e0, // 1995-1999
    0x0c960, 0x0d954, 0x0d4a0, 0x0da50, 0x07552, // 2000-2004
    0x056a0, 0x0abb7, 0x025d0, 0x092d0, 0x0cab5, // 2005-2009
    0x0a950, 0x0b4a0, 0x0baa4, 0x0ad50, 0x055d9, // 2010-2014
    0x04ba0, 0x0a5b0, 0x15176, 0x052b0, 0x0a930, // 2015-2019
    0x07954, 0x06aa0, 0x0ad50, 0x05b52, 0x04b60, // 2020-2024
    0x0a6e6, 0x0a4e0, 0x0d260, 0x0ea65, 0x0d530, // 2025-2029
    0x05aa0, 0x076a3, 0x096d0, 0x04afb, 0x04ad0, // 2030-2034
    0x0a4d0, 0x1d0b6, 0x0d250, 0x0d520, 0x0dd45, // 2035-2039
    0x0b5a0, 0x056d0, 0x055b2, 0x049b0, 0x0a577, // 2040-2044
    0x0a4b0, 0x0aa50, 0x1b255, 0x06d20, 0x0ada0, // 2045-2049
};
constexpr int kFirstLunarYear = 1900;
const QDate kFirstNewYear(1900, 1, 31);

int monthDays(std::uint32_t info, int month)
{
    return (info >> (16 - month)) & 1 ? 30 : 29;
}

int leapMonthOf(std::uint32_t info)
{
    return static_cast<int>(info & 0xF);
}

int leapMonthDays(std::uint32_t info)
{
    return leapMonthOf(info) == 0 ? 0 : ((info >> 16) & 1 ? 30 : 29);
}

int yearDays(std::uint32_t info)
{
    int days = leapMonthDays(info);
    for (int month = 1; month <= 12; ++month)
        days += monthDays(info, month);
    return days;
}

constexpr const char* kNumerals[] = {"",   "一", "二", "三", "四", "五",
                                     "六", "七", "八", "九", "十"};
constexpr const char* kMonthCharacters[] = {"",   "正", "二", "三", "四", "五",
                                            "六", "七", "八", "九", "十"};

void replaceAll(std::string& text, std::string_view field, const std::string& value)
{
    for (std::size_t at = text.find(field); at != std::string::npos;
         at = text.find(field, at + value.size()))
        text.replace(at, field.size(), value);
}

} // namespace

LunarDate toLunarDate(const QDate& date)
{
    LunarDate result;
    if (!date.isValid())
        return result;
    qint64 offset = kFirstNewYear.daysTo(date);
    if (offset < 0)
        return result;
    for (std::size_t index = 0; index < kLunarYears.size(); ++index) {
        const std::uint32_t info = kLunarYears[index];
        const int days = yearDays(info);
        if (offset >= days) {
            offset -= days;
            continue;
        }
        const int leap = leapMonthOf(info);
        for (int month = 1; month <= 12; ++month) {
            const int length = monthDays(info, month);
            if (offset < length) {
                result = {true, kFirstLunarYear + static_cast<int>(index), month, false,
                          static_cast<int>(offset) + 1};
                return result;
            }
            offset -= length;
            if (month == leap) {
                const int leapLength = leapMonthDays(info);
                if (offset < leapLength) {
                    result = {true, kFirstLunarYear + static_cast<int>(index), month, true,
                              static_cast<int>(offset) + 1};
                    return result;
                }
                offset -= leapLength;
            }
        }
    }
    return result;
}

std::string lunarMonthName(int month, bool leapMonth)
{
    std::string name = leapMonth ? "闰" : "";
    if (month >= 1 && month <= 10)
        name += std::string(kMonthCharacters[month]) + "月";
    else if (month == 11)
        name += "冬月";
    else if (month == 12)
        name += "腊月";
    else
        return {};
    return name;
}

std::string lunarDayName(int day)
{
    if (day >= 1 && day <= 10)
        return std::string("初") + kNumerals[day];
    if (day >= 11 && day <= 19)
        return std::string("十") + kNumerals[day - 10];
    if (day == 20)
        return "二十";
    if (day >= 21 && day <= 29)
        return std::string("廿") + kNumerals[day - 20];
    if (day == 30)
        return "三十";
    return {};
}

std::string lunarDateText(const QDate& date, std::string_view pattern)
{
    const LunarDate lunar = toLunarDate(date);
    std::string text(pattern);
    replaceAll(text, "%M", lunar.valid ? lunarMonthName(lunar.month, lunar.leapMonth) : "");
    replaceAll(text, "%D", lunar.valid ? lunarDayName(lunar.day) : "");
    return text;
}

std::string weekdayName(const QDate& date)
{
    static const char* const names[] = {"星期日", "星期一", "星期二", "星期三",
                                        "星期四", "星期五", "星期六"};
    // Qt numbers Monday 1 … Sunday 7.
    return date.isValid() ? names[date.dayOfWeek() % 7] : std::string();
}
