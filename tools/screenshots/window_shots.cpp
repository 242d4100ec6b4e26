// Shows each window of the program at the top left of the display, lets it paint, and saves the
// whole display with ImageMagick's "import -window root" into the folder given as argument. With a
// second argument, the address of a running demo server's player host (http://127.0.0.1:PORT),
// it also plays an episode in the player window, once on each of the two player pages, and saves
// the player window while the video plays.

#include "app/paths.h"
#include "app/player_form.h"
#include "app/settings_store.h"
#include "playback/bridge_library.h"
#include "playback/episode_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_placement.h"
#include "ui/header_clock.h"
#include "ui/main_form.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>

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

// Plays the first episode of a two-episode series on the player page page + its address and
// saves the player window a few seconds into the video.
bool shootPlayer(const std::string& page, const QString& file)
{
    if (!writeSetting("配置项", "播放器地址", page) ||
        !writeSetting("配置项", "备用播放器地址", page))
        return false;
    MainWindow main;
    playerServices().drawSponsorChance = [] { return 1; };
    const std::string host = page.substr(0, page.find('/', 7));
    const std::string ep1 = host + "/media/10/1/index.m3u8";
    const std::string ep2 = host + "/media/10/2/index.m3u8";
    main.series().showSeries("小龙历险记", {{}, {{"01", ep1, ep1}, {"02", ep2, ep2}}});
    main.series().playCell(0, 0);
    PlayerForm* player = playerForm();
    if (player == nullptr)
        return false;
    player->window->move(0, 0);
    QElapsedTimer waited;
    waited.start();
    // Started, and a few seconds in (the countdown shows the poll has read the times).
    while (waited.elapsed() < 60000 &&
           (playbackState.pendingAction.load() != 0 || player->标签_跳转->text().toInt() > 12 ||
            player->标签_跳转->text() == QStringLiteral("0")))
        settle(200);
    settle(1500);
    const int rc = QProcess::execute(QStringLiteral("import"),
                                     {QStringLiteral("-window"), QStringLiteral("root"), file});
    std::printf("%s: %s\n", qPrintable(file), rc == 0 ? "saved" : "failed");
    delete player->window;
    settle(300);
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
        // A listing in the series list and an open series in the grid, as the views show them.
        MainWindow window;
        updateHeaderClock(window.form());
        fillHeaderDates(window.form(), QDate::currentDate());
        std::vector<CatalogueItem> rows;
        for (int i = 1; i <= 16; ++i)
            rows.push_back({"小龙历险记 第" + std::to_string(i) + "季", i % 3 ? "动漫" : "已下架",
                            "", "", "", "", ""});
        window.catalogue().showListing(rows, "16", "1");
        OpenSeries series;
        for (int i = 1; i <= 24; ++i) {
            const std::string label = (i < 10 ? "0" : "") + std::to_string(i);
            series.episodes.push_back({label, "https://v.example/" + label + "/index.m3u8",
                                       "https://v.example/" + label + "/index.m3u8"});
        }
        window.series().showSeries("小龙历险记 第1季", std::move(series));
        window.views().setBlurb("一条小龙的冒险故事");
        window.views().showDownloadButton();
        ok = shoot(&window, folder + QStringLiteral("/main_window_series.png")) && ok;
    }
    {
        NoticeWindow notice;
        ok = shoot(&notice, folder + QStringLiteral("/notice_window.png")) && ok;
    }
    {
        SponsorWindow sponsor;
        ok = shoot(&sponsor, folder + QStringLiteral("/sponsor_window.png")) && ok;
    }
    if (argc > 2) {
        // The player needs a settings file and the browser engine.
        QTemporaryDir programFolder;
        setProgramFolderForTesting(programFolder.path().toStdString());
        ensureDataFolder();
        ensureSettingsFile();
        writeSetting("配置项", "连播", "真");
        writeSetting("配置项", "跳转", "5");
        writeSetting("配置项", "片头", "4");
        prepareBridgeLibrary(dataFolder());
        if (kovarwebview_has_edge() == 0 || !startBridge(playerBrowserEventHandlers())) {
            std::printf("no browser engine: no player shots\n");
            return 1;
        }
        const std::string host = argv[2];
        ok = shootPlayer(host + "/player/jx.php?url=",
                         folder + QStringLiteral("/player_dplayer.png")) &&
             ok;
        ok = shootPlayer(host + "/m3u8/?url=", folder + QStringLiteral("/player_aliplayer.png")) &&
             ok;
        setProgramFolderForTesting("");
    }
    return ok ? 0 : 1;
}
