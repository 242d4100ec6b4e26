#include "ui/header_clock.h"

#include "ui/lunar_date.h"
#include "ui/main_form.h"
#include "ui/main_window.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace {

TEST(HeaderClock, SecondsBarLeftIsTruncatedTowardZero)
{
    const std::pair<int, int> cases[] = {{0, -330}, {1, -324}, {7, -291}, {30, -165}, {59, -5}};
    for (const auto& [seconds, left] : cases)
        EXPECT_EQ(secondsBarLeft(seconds), left) << seconds;
}

class HeaderClockOnWindow : public ::testing::Test {
protected:
    MainWindow window;
    MainForm& form = window.form();
};

TEST_F(HeaderClockOnWindow, TickShowsHoursAndMinutesAndMovesTheBar)
{
    updateHeaderClock(form, QDateTime(QDate(2024, 2, 10), QTime(9, 5, 7)));
    EXPECT_EQ(form.标签_时间->text(), QStringLiteral("09:05"));
    EXPECT_EQ(form.进度条->x(), -291);
    EXPECT_EQ(form.进度条->y(), 0);
    EXPECT_EQ(form.进度条->parentWidget(), form.外形框_进度);
}

TEST_F(HeaderClockOnWindow, DateLabelsChangeOnlyDuringTheMinuteAfterMidnight)
{
    form.标签_日期->setText(QStringLiteral("before"));
    form.标签_星期->setText(QStringLiteral("before"));
    updateHeaderClock(form, QDateTime(QDate(2024, 2, 10), QTime(12, 0, 0)));
    EXPECT_EQ(form.标签_日期->text(), QStringLiteral("before"));
    updateHeaderClock(form, QDateTime(QDate(2024, 2, 9), QTime(23, 59, 58)));
    EXPECT_EQ(form.标签_日期->text(), QStringLiteral("before"));

    updateHeaderClock(form, QDateTime(QDate(2024, 2, 10), QTime(0, 0, 59)));
    EXPECT_EQ(form.标签_时间->text(), QStringLiteral("00:00"));
    EXPECT_EQ(form.标签_日期->text(), QStringLiteral("正月初一"));
    EXPECT_EQ(form.标签_星期->text(), QStringLiteral("星期六"));
    EXPECT_EQ(form.进度条->x(), -5);

    form.标签_日期->setText(QStringLiteral("kept"));
    updateHeaderClock(form, QDateTime(QDate(2024, 2, 10), QTime(0, 1, 0)));
    EXPECT_EQ(form.标签_日期->text(), QStringLiteral("kept"));
}

TEST_F(HeaderClockOnWindow, FillHeaderDatesWritesLunarDateAndWeekday)
{
    fillHeaderDates(form, QDate(2033, 12, 22));
    EXPECT_EQ(form.标签_日期->text(), QStringLiteral("闰冬月初一"));
    EXPECT_EQ(form.标签_星期->text(), QStringLiteral("星期四"));
}

} // namespace
