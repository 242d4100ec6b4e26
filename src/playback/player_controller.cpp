#include "playback/player_controller.h"

#include "app/main_form.h"
#include "app/player_form.h"
#include "app/status_log.h"
#include "platform/os_version.h"
#include "playback/bridge_library.h"
#include "playback/history.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_endpoints.h"
#include "playback/watch_position.h"
#include "playback/web_view_bridge.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

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
    s.openBrowser = [](QWidget* parent, const std::string& url) { return ::openBrowser(parent, url); };
    s.openInDefaultBrowser = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
    };
    s.sponsorWindowOpen = [] { return false; };
    s.openSponsorWindow = [](QWidget*) {};
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
std::vector<std::string> g_timeParts;
std::vector<std::string> g_durationParts;

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

PendingAction pending()
{
    return static_cast<PendingAction>(playbackState.pendingAction.load());
}

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

int threshold(const PlayerForm& player)
{
    return textToInt(player.编辑框_尾->text().toStdString());
}

// Starts the next episode of the play list after the current one, if there is one.
void jumpToNextEpisode()
{
    const std::shared_ptr<const TextList> list = playList();
    const std::size_t n = list->size();
    const PlayingEpisode playing = playbackState.episode();
    // The page may have been loaded through a player-page prefix; the play list holds the
    // episode's own address.
    const std::string own = episodeAddress(playing.currentUrl);
    for (std::size_t i = 0; i + 4 < n; ++i) {
        const std::string& entry = (*list)[i];
        if (entry != own && entry != playing.currentUrl)
            continue;
        setPending(PendingAction::Starting);
        PlayingEpisode next{(*list)[i + 3], (*list)[i + 4], (*list)[i + 2]};
        logStatus("跳转下一集 " + next.currentLabel + " / " + std::to_string(n / 3));
        if (contains(next.currentUrl, "index.m3u8"))
            next.currentUrl = altPlayerEndpoint() + next.currentUrl;
        const std::string url = next.currentUrl;
        playbackState.setEpisode(std::move(next));
        webViewBridge().navigate(url);
        armOpeningSkip();
        return;
    }
}

} // namespace

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
    g_mainForm = form;
}

MainForm* playbackMainForm()
{
    return g_mainForm;
}

void setPlayerForm(PlayerForm* form)
{
    g_playerForm = form;
}

PlayerForm* playerForm()
{
    return g_playerForm;
}

void openInDefaultBrowser(const std::string& url)
{
    if (g_services.openInDefaultBrowser)
        g_services.openInDefaultBrowser(url);
}

void waitPumping(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void showInPlayer(const std::string& url)
{
    if (playerForm() != nullptr)
        webViewBridge().navigate(url);
    else if (g_services.createPlayerWindow)
        g_services.createPlayerWindow();
}

void playEpisodeCell(MainForm& form)
{
    QTableWidget* grid = form.高级表格_剧集;
    const int row = grid->currentRow();
    const int column = grid->currentColumn();
    if (row < 0 || column < 0 || cellText(grid, row, column).empty())
        return;
    PlayingEpisode episode{cellText(grid, row, column + 1), cellText(grid, row, column + 2),
                           cellText(grid, row, column)};
    playbackState.setEpisode(episode);
    setPending(PendingAction::Starting);
    form.编辑框_状态->clear();
    startHistorySave(form);
    startPlayListBuild(form);
    logStatus("开始准备播放第 " + episode.currentLabel + " 集");

    if (osVersion() < kOsVersionWithBrowser) {
        openInDefaultBrowser(playerPageEndpoint() + episode.currentM3u8);
        return;
    }
    if (!g_services.hasBrowserRuntime || g_services.hasBrowserRuntime() == 0) {
        form.透明标签_简介->setText(QStringLiteral("未安装 webview2组件 , 将以默认浏览器方式打开"));
        if (contains(episode.currentUrl, "index.m3u8"))
            openInDefaultBrowser(playerPageEndpoint() + episode.currentM3u8);
        else
            openInDefaultBrowser(episode.currentUrl);
        return;
    }
    if (contains(episode.currentUrl, "index.m3u8")) {
        episode.currentUrl = playerPageEndpoint() + episode.currentUrl;
        playbackState.setCurrentUrl(episode.currentUrl);
    }
    armOpeningSkip();
    showInPlayer(episode.currentUrl);
}

void watchPageStart()
{
    const int chance = g_services.drawSponsorChance ? g_services.drawSponsorChance() : 0;
    WebViewBridge& bridge = webViewBridge();
    bool aliplayer = false;
    for (int attempt = 0; attempt < 60 && pending() != PendingAction::None; ++attempt) {
        if (contains(bridge.elementText(kRemovedNoticeSelector, 1), kRemovedNoticeText)) {
            bridge.navigate(playerPageEndpoint() + playbackState.episode().currentM3u8);
            return;
        }
        if (contains(bridge.elementHtml(kDplayerBezelIcon, 1), kDplayerBezelIconShown) &&
            pending() == PendingAction::Starting) {
            bridge.pressElement(kDplayerBezel, 1);
            if (chance == 8 && !(g_services.sponsorWindowOpen && g_services.sponsorWindowOpen()) &&
                g_services.openSponsorWindow) {
                PlayerForm* player = playerForm();
                g_services.openSponsorWindow(player ? player->window : nullptr);
            }
            setPending(PendingAction::None);
            return;
        }
        if (contains(bridge.elementHtml(kAliplayerBigPlay, 1), kAliplayerBigPlayShown) &&
            pending() == PendingAction::Starting) {
            aliplayer = true;
            break;
        }
        waitPumping(1000);
    }
    if (!aliplayer)
        return; // neither player showed its play control: give up silently
    waitPumping(2000);
    bridge.clickElement(kAliplayerBigPlay, 1);
    setPending(PendingAction::None);
    waitPumping(1000);
    bridge.pressElement(kAliplayerBigPlay, 1);
}

void showTitle(const std::string& title)
{
    if (PlayerForm* player = playerForm()) {
        player->标签_剧集->setText(QString::fromStdString("正在播放: " + title));
        if (g_mainForm != nullptr)
            player->window->setWindowTitle(g_mainForm->透明标签_标题->text());
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

const std::vector<std::string>& lastTimeParts()
{
    return g_timeParts;
}

const std::vector<std::string>& lastDurationParts()
{
    return g_durationParts;
}

void pollPlayer(MainForm&)
{
    PlayerForm* player = playerForm();
    if (player == nullptr)
        return;
    if (!player->选择框_连播->isChecked()) {
        notePagePosition(); // the history keeps the position without continuous play too
        return;
    }
    WebViewBridge& bridge = webViewBridge();
    if (bridge.elementExists(kDplayerElapsed, 1)) {
        g_timeParts = splitTime(bridge.elementText(kDplayerElapsed, 1));
        g_durationParts = splitTime(bridge.elementText(kDplayerTotal, 1));
    }
    if (bridge.elementExists(kAliplayerElapsed, 1)) {
        g_timeParts = splitTime(bridge.elementText(kAliplayerElapsed, 1));
        g_durationParts = splitTime(bridge.elementText(kAliplayerTotal, 1));
    }
    int cur = 0;
    int dur = 0;
    int remaining = 0;
    if (g_timeParts.size() >= 2 && g_durationParts.size() >= 2) {
        cur = seconds(g_timeParts);
        dur = seconds(g_durationParts);
        remaining = dur - cur;
    }
    noteWatchPosition(cur, dur);
    int limit = threshold(*player);
    // The jump zone includes the clip's very end: a tick that missed the last seconds (the poll
    // runs every 2 s, and a modal window can hold it longer) still moves on to the next episode.
    if (remaining < limit && cur <= dur && dur > 0) {
        if (limit > dur || limit > static_cast<int>(dur * 0.8)) {
            // A threshold the clip cannot hold becomes a tenth of it ("12.3" for 123 s); the
            // tick only jumps if the clip is inside the new threshold too.
            player->编辑框_尾->setText(QString::number(dur / 10.0));
            limit = threshold(*player);
        }
        if (remaining < limit) {
            if (playList()->size() == 3) {
                logStatus("这是最后一集,将会结束播放");
                return;
            }
            if (pending() == PendingAction::None)
                jumpToNextEpisode();
            startHistorySave();
        }
    }
    player->标签_跳转->setText(QString::number(dur - cur - threshold(*player)));
}
