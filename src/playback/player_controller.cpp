#include "playback/player_controller.h"

#include "app/main_form.h"
#include "app/player_form.h"
#include "app/status_log.h"
#include "platform/os_version.h"
#include "playback/bridge_library.h"
#include "playback/history.h"
#include "playback/page_driver.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_endpoints.h"
#include "playback/watch_position.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"
#include "util/window_title.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <random>

namespace {

PlayerServices defaultServices()
{
    PlayerServices s;
    s.hasBrowserRuntime = [] { return kovarwebview_has_edge(); };
    s.openBrowser = [](QWidget* parent, const std::string& url) {
        return ::openBrowser(parent, url);
    };
    s.openInDefaultBrowser = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
    };
    s.sponsorWindowOpen = [] { return false; };
    s.openSponsorWindow = [](QObject*) {};
    s.drawSponsorChance = [] {
        // Seeded from the tick count, one draw per page start.
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        std::mt19937 generator(static_cast<std::mt19937::result_type>(ticks));
        return std::uniform_int_distribution<int>(1, 18)(generator);
    };
    return s;
}

PlayerServices g_services = defaultServices();
MainForm* g_mainForm = nullptr;
PlayerForm* g_playerForm = nullptr;
void setPending(PendingAction action)
{
    playbackState.pendingAction = static_cast<int>(action);
}

std::string cellText(QTableWidget* grid, int row, int column)
{
    if (column < 0 || column >= grid->columnCount())
        return {};
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text().toStdString() : std::string();
}

} // namespace

bool acceptedPlayerAddress(const std::string& url)
{
    const QUrl parsed(QString::fromStdString(url), QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    if (parsed.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !parsed.host().isEmpty())
        return true;
    logStatus("不是网页地址, 没有打开: " + url);
    return false;
}

PlayerServices& playerServices()
{
    return g_services;
}

void resetPlayerServices()
{
    g_services = defaultServices();
}

void setPlaybackMainForm(MainForm* form)
{
    gui::assertGuiThread();
    g_mainForm = form;
}

MainForm* playbackMainForm()
{
    return g_mainForm;
}

void setPlayerForm(PlayerForm* form)
{
    gui::assertGuiThread();
    g_playerForm = form;
}

PlayerForm* playerForm()
{
    return g_playerForm;
}

void openInDefaultBrowser(const std::string& url)
{
    gui::assertGuiThread();
    if (!acceptedPlayerAddress(url))
        return;
    if (g_services.openInDefaultBrowser)
        g_services.openInDefaultBrowser(url);
}

void showInPlayer(const std::string& url)
{
    gui::assertGuiThread();
    if (!acceptedPlayerAddress(url))
        return;
    if (playerForm() != nullptr)
        webViewBridge().navigate(url);
    else if (g_services.createPlayerWindow)
        g_services.createPlayerWindow();
}

void playEpisodeCell(MainForm& form)
{
    gui::assertGuiThread();
    QTableWidget* grid = form.高级表格_剧集;
    const int row = grid->currentRow();
    const int column = grid->currentColumn();
    if (row < 0 || column < 0 || cellText(grid, row, column).empty())
        return;
    PlayingEpisode episode{cellText(grid, row, column + 1), cellText(grid, row, column + 2),
                           cellText(grid, row, column)};
    // An episode that only another source lists: nothing is started or recorded for it.
    if (episode.currentUrl.empty()) {
        logStatus("第 " + episode.currentLabel + " 集没有可播放的地址");
        return;
    }
    playbackState.setEpisode(episode);
    setPending(PendingAction::Starting);
    form.编辑框_状态->clear();
    startHistorySave(form);
    startPlayListBuild(form);
    logStatus("开始准备播放第 " + episode.currentLabel + " 集");

    // An episode without a stream address (a series with no HLS source) is opened as it is.
    if (osVersion() < kOsVersionWithBrowser) {
        openInDefaultBrowser(episode.currentM3u8.empty()
                                 ? episode.currentUrl
                                 : playerPageEndpoint() + episode.currentM3u8);
        return;
    }
    if (!g_services.hasBrowserRuntime || g_services.hasBrowserRuntime() == 0) {
        form.透明标签_简介->setText(QStringLiteral("未安装 webview2组件 , 将以默认浏览器方式打开"));
        if (playsOnPlayerPage(episode.currentUrl) && !episode.currentM3u8.empty())
            openInDefaultBrowser(playerPageEndpoint() + episode.currentM3u8);
        else
            openInDefaultBrowser(episode.currentUrl);
        return;
    }
    if (playsOnPlayerPage(episode.currentUrl)) {
        episode.currentUrl = playerPageEndpoint() + episode.currentUrl;
        playbackState.setCurrentUrl(episode.currentUrl);
    }
    armOpeningSkip();
    showInPlayer(episode.currentUrl);
}

PageDriver* playerDriver()
{
    PlayerForm* player = playerForm();
    return player != nullptr
               ? player->window->findChild<PageDriver*>(QString(), Qt::FindDirectChildrenOnly)
               : nullptr;
}

void watchPageStart()
{
    gui::assertGuiThread();
    if (PageDriver* driver = playerDriver())
        driver->startWatch();
}

void checkPendingSeek()
{
    gui::assertGuiThread();
    if (PageDriver* driver = playerDriver())
        driver->checkSeek();
}

void showTitle(const std::string& title)
{
    gui::assertGuiThread();
    if (PlayerForm* player = playerForm()) {
        player->标签_剧集->setText(QString::fromStdString("正在播放: " + title));
        if (g_mainForm != nullptr)
            player->window->setWindowTitle(literalWindowTitle(g_mainForm->透明标签_标题->text()));
    }
    logStatus("正在播放: " + title);
}

std::vector<std::string> splitTime(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t colon = text.find(':', start);
        const std::size_t end = colon == std::string::npos ? text.size() : colon;
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return parts;
}

int seconds(const std::vector<std::string>& parts)
{
    // Worked out in 64 bits and held to the int range: a page may show any digits at all.
    auto value = [&parts](std::size_t i) { return static_cast<std::int64_t>(textToInt(parts[i])); };
    std::int64_t total = 0;
    if (parts.size() == 3)
        total = value(0) * 3600 + value(1) * 60 + value(2);
    else if (parts.size() >= 2)
        total = value(0) * 60 + value(1);
    return static_cast<int>(std::clamp<std::int64_t>(total, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

void pollPlayer(MainForm&)
{
    gui::assertGuiThread();
    if (PageDriver* driver = playerDriver())
        driver->poll();
}
