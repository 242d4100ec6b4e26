#pragma once
// The main window's header: time, weekday and lunar date labels and the seconds bar.

#include <QDate>
#include <QDateTime>

struct MainForm;

// The left of 进度条 inside 外形框_进度 at second S of a minute: S × 5.5 − 330, truncated toward
// zero (−330 at S = 0, −5 at S = 59).
int secondsBarLeft(int seconds);

// 标签_日期 := lunar month and day name of date, 标签_星期 := its weekday name. GUI thread.
void fillHeaderDates(const MainForm& form, const QDate& date);

// One tick of the header clock: 标签_时间 shows hours and minutes; during the minute after midnight
// the date labels are filled again; 进度条 moves to the seconds position. GUI thread.
void updateHeaderClock(const MainForm& form, const QDateTime& now);
void updateHeaderClock(const MainForm& form);
