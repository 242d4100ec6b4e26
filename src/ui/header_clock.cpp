#include "ui/header_clock.h"

#include "ui/lunar_date.h"
#include "ui/main_form.h"
#include "util/gui_thread.h"

#include <QLabel>

#include <cmath>

int secondsBarLeft(int seconds)
{
    return static_cast<int>(std::trunc(seconds * 5.5 - 330.0));
}

void fillHeaderDates(const MainForm& form, const QDate& date)
{
    gui::assertGuiThread();
    if (form.标签_日期)
        form.标签_日期->setText(
            QString::fromStdString(lunarDateText(date, "%M") + lunarDateText(date, "%D")));
    if (form.标签_星期)
        form.标签_星期->setText(QString::fromStdString(weekdayName(date)));
}

void updateHeaderClock(const MainForm& form, const QDateTime& now)
{
    gui::assertGuiThread();
    const QString time = now.time().toString(QStringLiteral("HH:mm:ss"));
    if (form.标签_时间) {
        form.标签_时间->setText(time.left(2) + QLatin1Char(':') + time.mid(3, 2));
        // The date labels change only during the first minute of a day.
        if (form.标签_时间->text() == QLatin1String("00:00"))
            fillHeaderDates(form, now.date());
    }
    if (form.进度条) {
        const int seconds = time.right(2).toInt();
        form.进度条->move(secondsBarLeft(seconds), form.进度条->y());
    }
}

void updateHeaderClock(const MainForm& form)
{
    gui::assertGuiThread();
    updateHeaderClock(form, QDateTime::currentDateTime());
}
