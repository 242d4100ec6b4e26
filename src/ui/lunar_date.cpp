#include "ui/lunar_date.h"

#include <array>
#include <cstdint>

namespace {

// One entry per lunar year, starting with the year whose first day is 1900-01-31. Bits 5..16:
// month 1..12 has 30 days when its bit (bit 4 + month) is set, 29 otherwise; bit 4: the leap
// month has 30 days; bits 0..3: the number of the month the leap month follows (0: none).
// Generated from the Chinese calendar of ICU (Beijing time) and checked against the published
// dates of the lunar new year and the leap months.
constexpr std::array<std::uint32_t, 150> kLunarYears = {
    0x17a48, // 1900 leap
    0x0ea40, // 1901
    0x1d4a0, // 1902
    0x16545, // 1903 leap
    0x0c960, // 1904
    0x15360, // 1905
    0x154d4, // 1906 leap
    0x0ad40, // 1907
    0x16b20, // 1908
    0x17542, // 1909 leap
    0x0ea40, // 1910
    0x1b4a6, // 1911 leap
    0x164a0, // 1912
    0x14960, // 1913
    0x14975, // 1914 leap
    0x055a0, // 1915
    0x0ad60, // 1916
    0x0b633, // 1917 leap
    0x1b520, // 1918
    0x1d257, // 1919 leap
    0x1d240, // 1920
    0x1a4a0, // 1921
    0x1a1b6, // 1922 leap
    0x14ac0, // 1923
    0x056c0, // 1924
    0x15ab4, // 1925 leap
    0x0da80, // 1926
    0x1d520, // 1927
    0x1e942, // 1928 leap
    0x1d240, // 1929
    0x0d4c6, // 1930 leap
    0x0a560, // 1931
    0x14ae0, // 1932
    0x12ad5, // 1933 leap
    0x16b40, // 1934
    0x0da80, // 1935
    0x0ec33, // 1936 leap
    0x0e920, // 1937
    0x16277, // 1938 leap
    0x15260, // 1939
    0x0a560, // 1940
    0x0a376, // 1941 leap
    0x155a0, // 1942
    0x0ad40, // 1943
    0x1b4b4, // 1944 leap
    0x17480, // 1945
    0x16920, // 1946
    0x1a962, // 1947 leap
    0x152a0, // 1948
    0x155a7, // 1949 leap
    0x0a6c0, // 1950
    0x155a0, // 1951
    0x15955, // 1952 leap
    0x1b640, // 1953
    0x1b480, // 1954
    0x1d433, // 1955 leap
    0x1a940, // 1956
    0x0b2a8, // 1957 leap
    0x152e0, // 1958
    0x0aac0, // 1959
    0x0aea6, // 1960 leap
    0x15aa0, // 1961
    0x0da40, // 1962
    0x0eaa4, // 1963 leap
    0x1d4a0, // 1964
    0x0c940, // 1965
    0x0c9e3, // 1966 leap
    0x15360, // 1967
    0x15b47, // 1968 leap
    0x0ad40, // 1969
    0x16d20, // 1970
    0x17645, // 1971 leap
    0x16a40, // 1972
    0x164a0, // 1973
    0x16564, // 1974 leap
    0x14960, // 1975
    0x15568, // 1976 leap
    0x055a0, // 1977
    0x0ada0, // 1978
    0x0b536, // 1979 leap
    0x1b520, // 1980
    0x1b240, // 1981
    0x1d2a4, // 1982 leap
    0x1a4a0, // 1983
    0x1c9aa, // 1984 leap
    0x14ac0, // 1985
    0x056c0, // 1986
    0x056b7, // 1987 leap
    0x0daa0, // 1988
    0x1d520, // 1989
    0x1ea45, // 1990 leap
    0x1d240, // 1991
    0x1a4c0, // 1992
    0x0a5c3, // 1993 leap
    0x14ae0, // 1994
    0x15ac8, // 1995 leap
    0x06b40, // 1996
    0x0daa0, // 1997
    0x0ed25, // 1998 leap
    0x0e920, // 1999
    0x0d260, // 2000
    0x15364, // 2001 leap
    0x0a560, // 2002
    0x14b60, // 2003
    0x155c2, // 2004 leap
    0x0ad40, // 2005
    0x1baa7, // 2006 leap
    0x17480, // 2007
    0x16920, // 2008
    0x1aa65, // 2009 leap
    0x152a0, // 2010
    0x0a5a0, // 2011
    0x0a7a4, // 2012 leap
    0x156a0, // 2013
    0x17549, // 2014 leap
    0x0ba40, // 2015
    0x1b4a0, // 2016
    0x1d156, // 2017 leap
    0x1c940, // 2018
    0x192a0, // 2019
    0x153c4, // 2020 leap
    0x0aac0, // 2021
    0x156a0, // 2022
    0x15b42, // 2023 leap
    0x0da40, // 2024
    0x0eca6, // 2025 leap
    0x1e4a0, // 2026
    0x0c940, // 2027
    0x0cae5, // 2028 leap
    0x09560, // 2029
    0x0ab60, // 2030
    0x0adc3, // 2031 leap
    0x16d20, // 2032
    0x1ea4b, // 2033 leap
    0x16a40, // 2034
    0x164a0, // 2035
    0x1a176, // 2036 leap
    0x14960, // 2037
    0x09560, // 2038
    0x05765, // 2039 leap
    0x0b5a0, // 2040
    0x16d40, // 2041
    0x1b542, // 2042 leap
    0x1b240, // 2043
    0x1d4a7, // 2044 leap
    0x1a4a0, // 2045
    0x14aa0, // 2046
    0x149b5, // 2047 leap
    0x096c0, // 2048
    0x0b6a0, // 2049
};
constexpr int kFirstLunarYear = 1900;
const QDate kFirstNewYear(1900, 1, 31);

int monthDays(std::uint32_t info, int month)
{
    return (info >> (4 + month)) & 1 ? 30 : 29;
}

int leapMonthOf(std::uint32_t info)
{
    return static_cast<int>(info & 0xF);
}

int leapMonthDays(std::uint32_t info)
{
    return leapMonthOf(info) == 0 ? 0 : ((info >> 4) & 1 ? 30 : 29);
}

int yearDays(std::uint32_t info)
{
    int days = leapMonthDays(info);
    for (int month = 1; month <= 12; ++month)
        days += monthDays(info, month);
    return days;
}

constexpr const char* kNumerals[] = {"", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};
constexpr const char* kMonthCharacters[] = {"", "正", "二", "三", "四", "五",
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
