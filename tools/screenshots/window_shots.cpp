// Shows each window of the program at the top left of the display, lets it paint, and saves the
// whole display with ImageMagick's "import -window root" into the folder given as argument.

#include "ui/header_clock.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <cstdio>

namespace {

void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool shoot(QWidget* window, const QString& file)
{
    window->move(0, 0);
    window->show();
    window->raise();
    settle(600);
    const int rc = QProcess::execute(QStringLiteral("import"),
                                     {QStringLiteral("-window"), QStringLiteral("root"), file});
    window->hide();
    settle(100);
    std::printf("%s: %s\n", qPrintable(file), rc == 0 ? "saved" : "failed");
    return rc == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);
    bool ok = true;
    {
        MainWindow window;
        updateHeaderClock(window.form());
        fillHeaderDates(window.form(), QDate::currentDate());
        ok = shoot(&window, folder + QStringLiteral("/main_window.png")) && ok;
    }
    {
        NoticeWindow notice;
        ok = shoot(&notice, folder + QStringLiteral("/notice_window.png")) && ok;
    }
    {
        SponsorWindow sponsor;
        ok = shoot(&sponsor, folder + QStringLiteral("/sponsor_window.png")) && ok;
    }
    return ok ? 0 : 1;
}
