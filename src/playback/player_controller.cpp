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
#include "util/gui_thread.h"
#include "util/window_title.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
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
    s.openBrowser = [](QWidget* parent, const std::string& url) {
        return ::openBrowser(parent, url);
    };
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

// Only web addresses are loaded in the player or handed to the desktop: a catalogue's text can
// hold any scheme, and a file: address would show a local file, a javascript: one run as script
// in the player page. Any other address gets a status line naming it.
bool acceptedAddress(const std::string& url)
{
    const QUrl parsed(QString::fromStdString(url), QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    if (parsed.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !parsed.host().isEmpty())
        return true;
    logStatus("不是网页地址, 没有打开: " + url);
    return false;
}

void navigateTo(const std::string& url)
{
    if (acceptedAddress(url))
        webViewBridge().navigate(url);
}

// ---- starting the page's player --------------------------------------------------------------

// Pages to start: the two players, told apart by their elements.
enum class PageKind { Unknown, Dplayer, Aliplayer };

constexpr const char* kDplayerPlayButton = ".dplayer-play-icon";
constexpr const char* kDplayerVideoWrap = ".dplayer-video-wrap";
constexpr const char* kAliplayerRoot = ".prism-player";
constexpr const char* kAliplayerPlayButton = ".prism-play-btn";

// How the watcher paces itself: a look at the page every kStartStepMs (every kStartEarlyStepMs
// until the first activation, so that a paused player is started as soon as its video is
// ready), activations at least kStartConfirmMs apart (the time a started video gets to show that
// it advances), at most kStartActivations of them, and kStartLimitMs in all.
constexpr int kStartEarlyStepMs = 100;
constexpr int kStartStepMs = 250;
constexpr int kStartConfirmMs = 5000;
constexpr int kStartActivations = 3;
constexpr int kStartLimitMs = 60000;
// Before the first activation the page's player gets this long to get its video ready or to
// start it by itself (autoplay).
constexpr int kStartGraceMs = 1500;

// The watcher of the newest page load; an older watcher still waiting stops.
unsigned g_watchGeneration = 0;

PageKind pageKind(WebViewBridge& bridge)
{
    if (contains(bridge.elementHtml(kDplayerBezelIcon, 1), kDplayerBezelIconShown) ||
        bridge.elementExists(kDplayerVideoWrap, 1))
        return PageKind::Dplayer;
    if (contains(bridge.elementHtml(kAliplayerBigPlay, 1), kAliplayerBigPlayShown) ||
        bridge.elementExists(kAliplayerRoot, 1))
        return PageKind::Aliplayer;
    return PageKind::Unknown;
}

struct MediaState {
    bool present = false;
    bool paused = true;
    bool ended = false;
    double currentTime = 0;
    int readyState = 0;
    double rate = 0;
};

MediaState readMediaState(WebViewBridge& bridge)
{
    MediaState state;
    const std::string text = bridge.mediaState();
    if (text.empty())
        return state;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text));
    if (!doc.isObject())
        return state;
    const QJsonObject o = doc.object();
    state.present = true;
    state.paused = o.value(QLatin1String("paused")).toBool(true);
    state.ended = o.value(QLatin1String("ended")).toBool(false);
    state.currentTime = o.value(QLatin1String("currentTime")).toDouble(0);
    state.readyState = o.value(QLatin1String("readyState")).toInt(0);
    state.rate = o.value(QLatin1String("playbackRate")).toDouble(0);
    return state;
}

// The elapsed time the page shows, in seconds; -1 when it shows none.
int shownElapsed(WebViewBridge& bridge, PageKind kind)
{
    const char* selector = kind == PageKind::Aliplayer ? kAliplayerElapsed : kDplayerElapsed;
    const std::vector<std::string> parts = splitTime(bridge.elementText(selector, 1));
    return parts.size() >= 2 ? seconds(parts) : -1;
}

// Activates the page's start control the way a user would, with a click the browser takes as a
// user gesture where the control can be reached. Only called while the video is paused: on both
// players the controls toggle, so activating them on a playing video would pause it.
void activateStart(WebViewBridge& bridge, PageKind kind)
{
    if (kind == PageKind::Dplayer) {
        if (bridge.elementExists(kDplayerPlayButton, 1))
            bridge.clickElement(kDplayerPlayButton, 1);
        else
            bridge.pressElement(kDplayerBezel, 1);
        return;
    }
    if (contains(bridge.elementHtml(kAliplayerBigPlay, 1), kAliplayerBigPlayShown))
        bridge.clickElement(kAliplayerBigPlay, 1);
    else
        bridge.clickElement(kAliplayerPlayButton, 1);
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
        if (playsOnPlayerPage(next.currentUrl))
            next.currentUrl = altPlayerEndpoint() + next.currentUrl;
        const std::string url = next.currentUrl;
        playbackState.setEpisode(std::move(next));
        navigateTo(url);
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
    if (!acceptedAddress(url))
        return;
    if (g_services.openInDefaultBrowser)
        g_services.openInDefaultBrowser(url);
}

void waitPumping(int ms)
{
    gui::assertGuiThread();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void showInPlayer(const std::string& url)
{
    gui::assertGuiThread();
    if (!acceptedAddress(url))
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

void watchPageStart()
{
    gui::assertGuiThread();
    const unsigned generation = ++g_watchGeneration;
    const auto stillWanted = [generation] {
        return generation == g_watchGeneration && pending() != PendingAction::None;
    };
    const int chance = g_services.drawSponsorChance ? g_services.drawSponsorChance() : 0;
    WebViewBridge& bridge = webViewBridge();
    QElapsedTimer clock;
    clock.start();
    PageKind kind = PageKind::Unknown;
    bool sawVideo = false;
    double lastTime = -1; // the video's time at the previous look, -1 when not known
    int lastShown = -1;   // the elapsed time the page showed at the previous look
    int activations = 0;
    qint64 lastActivation = -1;
    bool started = false;

    while (stillWanted() && clock.elapsed() < kStartLimitMs) {
        if (contains(bridge.elementText(kRemovedNoticeSelector, 1), kRemovedNoticeText)) {
            // The stream address on the player page instead, unless that is the page showing
            // the notice (or there is none): loading it again would only show it again.
            const PlayingEpisode playing = playbackState.episode();
            const std::string alternative = playerPageEndpoint() + playing.currentM3u8;
            if (generation == g_watchGeneration) {
                if (!playing.currentM3u8.empty() && alternative != playing.currentUrl)
                    navigateTo(alternative);
                else
                    logStatus(std::string(kRemovedNoticeText) + ", 没有其他播放地址");
            }
            return;
        }
        if (kind == PageKind::Unknown)
            kind = pageKind(bridge);
        if (kind != PageKind::Unknown) {
            // Playing: the video runs and its time moves on, or the page's elapsed time does.
            const MediaState media = readMediaState(bridge);
            const int shown = shownElapsed(bridge, kind);
            if (media.present) {
                sawVideo = true;
                if (media.ended ||
                    (!media.paused && lastTime >= 0 && media.currentTime > lastTime)) {
                    started = true;
                    break;
                }
            }
            if (lastShown >= 0 && shown > lastShown && !(media.present && media.paused)) {
                started = true;
                break;
            }
            lastTime = media.present && !media.paused ? media.currentTime : -1;
            lastShown = shown;

            // A paused video is started; a video that was asked to play (autoplay, or an earlier
            // activation) is left to start, so that a click never toggles it back into pause.
            // Where the video cannot be read, Aliplayer's big play button tells that it waits.
            const bool waiting = media.present
                                     ? media.paused
                                     : kind == PageKind::Aliplayer &&
                                           contains(bridge.elementHtml(kAliplayerBigPlay, 1),
                                                    kAliplayerBigPlayShown);
            const qint64 now = clock.elapsed();
            const bool due = lastActivation < 0 ? media.readyState >= 1 || now >= kStartGraceMs
                                                : now - lastActivation >= kStartConfirmMs;
            // Every activation used and the last one did not start it either: give up now.
            if (waiting && due && activations >= kStartActivations)
                break;
            if (waiting && due && activations < kStartActivations) {
                if (!stillWanted())
                    return;
                activateStart(bridge, kind);
                ++activations;
                lastActivation = clock.elapsed();
                lastTime = -1;
                lastShown = -1;
            }
        }
        if (!stillWanted())
            return;
        waitPumping(activations == 0 ? kStartEarlyStepMs : kStartStepMs);
    }
    if (generation != g_watchGeneration || pending() == PendingAction::None)
        return;
    setPending(PendingAction::None);
    if (!started) {
        std::string reason;
        if (kind == PageKind::Unknown)
            reason = "页面上没有找到可识别的播放器";
        else if (!sawVideo)
            reason = "播放页上没有视频";
        else if (activations >= kStartActivations)
            reason = "点击播放 " + std::to_string(activations) + " 次后视频仍未前进";
        else
            reason = "视频在 " + std::to_string(kStartLimitMs / 1000) + " 秒内没有前进";
        logStatus("播放未能开始: " + reason);
        return;
    }
    if (chance == 8 && !(g_services.sponsorWindowOpen && g_services.sponsorWindowOpen()) &&
        g_services.openSponsorWindow) {
        PlayerForm* player = playerForm();
        g_services.openSponsorWindow(player ? player->window : nullptr);
    }
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
    gui::assertGuiThread();
    // Every page query waits for the page's answer while events run, and an event can close the
    // player window, which deletes its form: the form is looked up again after each query.
    if (playerForm() == nullptr)
        return;
    if (!playerForm()->选择框_连播->isChecked()) {
        notePagePosition(); // the history keeps the position without continuous play too
        return;
    }
    WebViewBridge& bridge = webViewBridge();
    if (bridge.elementExists(kDplayerElapsed, 1)) {
        std::vector<std::string> elapsed = splitTime(bridge.elementText(kDplayerElapsed, 1));
        std::vector<std::string> total = splitTime(bridge.elementText(kDplayerTotal, 1));
        g_timeParts = std::move(elapsed);
        g_durationParts = std::move(total);
    }
    if (bridge.elementExists(kAliplayerElapsed, 1)) {
        std::vector<std::string> elapsed = splitTime(bridge.elementText(kAliplayerElapsed, 1));
        std::vector<std::string> total = splitTime(bridge.elementText(kAliplayerTotal, 1));
        g_timeParts = std::move(elapsed);
        g_durationParts = std::move(total);
    }
    int cur = 0;
    int dur = 0;
    int remaining = 0;
    if (g_timeParts.size() >= 2 && g_durationParts.size() >= 2) {
        cur = seconds(g_timeParts);
        dur = seconds(g_durationParts);
        remaining = dur - cur;
    }
    noteWatchPosition(cur, dur); // may seek the page, which runs events too
    PlayerForm* player = playerForm();
    if (player == nullptr)
        return;
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
            player = playerForm();
            if (player == nullptr)
                return;
        }
    }
    player->标签_跳转->setText(QString::number(dur - cur - threshold(*player)));
}
