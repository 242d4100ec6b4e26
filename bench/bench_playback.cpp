// The playback path of the real program on the demo pages, on a real display (xcb under Xvfb, see
// bench/playback_measure.sh): a double-click on an episode cell until the page's video has
// played its first second (its current time, read every 50 ms), for each player page
// configuration of the demo server, and the cost of one pollPlayer tick against a playing page.
// With --hold=<url> --seconds=<n> it plays <url> in the player window instead, prints
// "PLAYING <pid> <player window id>" once the page's time advances and keeps playing for n seconds
// (memory and screenshot runs). Environment: QY_DEMO_HTTP (default http://127.0.0.1:47080), a
// running demo server.

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "playback/bridge_library.h"
#include "playback/episode_list.h"
#include "playback/history.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/player_placement.h"
#include "playback/web_view_bridge.h"
#include "ui/main_window.h"
#include "ui/player_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string g_host;
MainWindow* g_main = nullptr;

bool pendingNone()
{
    return playbackState.pendingAction.load() == static_cast<int>(PendingAction::None);
}

// The elapsed seconds shown by whichever player the page has, -1 when it shows none.
int elapsedShown()
{
    WebViewBridge& bridge = webViewBridge();
    for (const char* selector : {kDplayerElapsed, kAliplayerElapsed}) {
        const std::string text = bridge.elementText(selector, 1);
        const auto parts = splitTime(text);
        if (parts.size() >= 2)
            return seconds(parts);
    }
    return -1;
}

// The current time of the page's video in seconds, -1 when there is none.
double videoTime()
{
    const std::string state = webViewBridge().mediaState();
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(state)).object();
    return o.isEmpty() ? -1 : o.value(QStringLiteral("currentTime")).toDouble(-1);
}

// With QY_BENCH_TRACE set, each double-click prints where its time went: the program's own steps
// as seen from here, then the page's navigation and resource timings, all in ms from the click.
bool g_trace = false;
std::chrono::system_clock::time_point g_clickWall;

double sinceClick()
{
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now() - g_clickWall)
        .count();
}

void traceStep(const char* what)
{
    if (g_trace)
        std::fprintf(stderr, "  %7.0f  %s\n", sinceClick(), what);
}

// A script of the bench's own, in every page of the profile from the first traced click on: it
// notes when the page's video reports each step of its start.
void addMediaEventTrace(QWebEngineView* view)
{
    QWebEngineScriptCollection& scripts = *view->page()->profile()->scripts();
    if (!scripts.find(QStringLiteral("bench-media-trace")).isEmpty())
        return;
    QWebEngineScript script;
    script.setName(QStringLiteral("bench-media-trace"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setSourceCode(QStringLiteral(
        "window.__benchEvents = [['document created', performance.now(), 0]];"
        "try { new PerformanceObserver(l => l.getEntries().forEach(e => "
        "window.__benchEvents.push(['long task until ' + Math.round(e.startTime + e.duration), "
        "e.startTime, e.duration / 1000])))"
        ".observe({type: 'longtask', buffered: true}); } catch (e) {}"
        "['loadstart','loadedmetadata','loadeddata','canplay','play','playing','seeking','seeked','"
        "waiting','timeupdate'].forEach(n =>"
        " document.addEventListener(n, e => { if (n !== 'timeupdate' || "
        "window.__benchEvents.filter(x => x[0] === n).length < 3)"
        " window.__benchEvents.push([n, performance.now(), e.target.currentTime]); }, true));"));
    scripts.insert(script);
}

// The page's own timings, read from the view showing it, relative to the click.
void tracePage()
{
    if (!g_trace)
        return;
    auto* view = qobject_cast<QWebEngineView*>(webViewBridge().windowHandle());
    if (view == nullptr)
        return;
    bool done = false;
    const QString script = QStringLiteral(
        "JSON.stringify({origin: performance.timeOrigin,"
        " nav: performance.getEntriesByType('navigation').map(e => [e.responseStart, "
        "e.domContentLoadedEventEnd, e.loadEventEnd]),"
        " ev: window.__benchEvents || [],"
        " res: performance.getEntriesByType('resource').map(e => [e.name.replace(location.origin, "
        "''), e.startTime, e.responseEnd, e.responseStart])})");
    view->page()->runJavaScript(script, [&done](const QVariant& result) {
        const QJsonObject o = QJsonDocument::fromJson(result.toString().toUtf8()).object();
        const double origin = o.value(QStringLiteral("origin")).toDouble();
        const double click =
            std::chrono::duration<double, std::milli>(g_clickWall.time_since_epoch()).count();
        const double base = origin - click;
        for (const auto& nav : o.value(QStringLiteral("nav")).toArray()) {
            const QJsonArray a = nav.toArray();
            std::fprintf(stderr,
                         "  %7.0f  navigation started\n  %7.0f  page answered\n  %7.0f  "
                         "DOMContentLoaded\n  %7.0f  load\n",
                         base, base + a[0].toDouble(), base + a[1].toDouble(),
                         base + a[2].toDouble());
        }
        for (const auto& res : o.value(QStringLiteral("res")).toArray()) {
            const QJsonArray a = res.toArray();
            std::fprintf(stderr, "  %7.0f .. %7.0f .. %7.0f  %s\n", base + a[1].toDouble(),
                         base + a[3].toDouble(), base + a[2].toDouble(),
                         a[0].toString().left(70).toUtf8().constData());
        }
        for (const auto& ev : o.value(QStringLiteral("ev")).toArray()) {
            const QJsonArray a = ev.toArray();
            std::fprintf(stderr, "  %7.0f  video %s (time %.2f)\n", base + a[1].toDouble(),
                         a[0].toString().toUtf8().constData(), a[2].toDouble());
        }
        done = true;
    });
    if (!QTest::qWaitFor([&done] { return done; }, 5000))
        std::fprintf(stderr, "  (the page did not answer)\n");
}

// Pumps events until the page's video has played its first second or timeoutMs passes, and
// tells when that was. The page is sampled every 10 ms from a timer: timers also fire inside the
// event loops the program runs while it waits on the page (the start watcher, a click), so the
// moment is seen as it happens and not when those loops end.
std::optional<Clock::time_point> waitAdvancing(int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool sawPage = false, sawVideo = false, sawTime = false, sawPending = false, busy = false;
    std::optional<Clock::time_point> reached;
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (busy || reached || Clock::now() >= end)
            return;
        busy = true;
        if (!sawPage && playerForm() != nullptr && webViewBridge().windowHandle() != nullptr) {
            sawPage = true;
            traceStep("player window and view exist");
            if (g_trace)
                if (auto* view = qobject_cast<QWebEngineView*>(webViewBridge().windowHandle()))
                    addMediaEventTrace(view);
        }
        const double t = videoTime();
        if (!sawVideo && t >= 0) {
            sawVideo = true;
            traceStep("video element exists");
        }
        if (!sawTime && t > 0) {
            sawTime = true;
            traceStep("video time > 0");
        }
        if (!sawPending && pendingNone()) {
            sawPending = true;
            traceStep("start watcher finished");
        }
        if (t >= 1.0) {
            reached = Clock::now();
            traceStep("video time >= 1.0");
        }
        busy = false;
    });
    sampler.start();
    while (!reached && Clock::now() < end)
        waitPumping(10);
    return reached;
}

void closePlayer()
{
    if (playerForm() != nullptr) {
        delete playerForm()->window;
        QTest::qWait(300);
    }
}

bool setUp(QTemporaryDir& root)
{
    setProgramFolderForTesting(root.path().toStdString());
    if (!ensureDataFolder() || !ensureSettingsFile())
        return false;
    writeSetting("配置项", "播放器地址", g_host + "/player/jx.php?url=");
    writeSetting("配置项", "备用播放器地址", g_host + "/m3u8/?url=");
    writeSetting("配置项", "连播", "真");
    // A jump threshold no clip reaches keeps the poll on the first episode.
    writeSetting("配置项", "跳转", "0");
    setHistoryText("");
    prepareBridgeLibrary(dataFolder());
    if (kovarwebview_has_edge() == 0 || !startBridge(playerBrowserEventHandlers()))
        return false;
    g_main = new MainWindow;
    g_main->show();
    if (!QTest::qWaitForWindowExposed(g_main))
        return false;
    playerServices().drawSponsorChance = [] { return 1; }; // never the sponsor window
    MainForm& form = g_main->form();
    form.透明标签_标题->setText(QStringLiteral("山海长歌"));
    const std::string ep1 = g_host + "/media/5/1/index.m3u8";
    const std::string ep2 = g_host + "/media/5/2/index.m3u8";
    publishOpenSeries({{}, {{"01", ep1, ep1}, {"02", ep2, ep2}}});
    return fillEpisodeGrid(form, openSeries()->episodes);
}

// The player page configurations of the demo server (/page/<name>?url=), each as the player's
// documentation sets it up.
const char* const kPageConfigurations[] = {
    "dplayer",   "dplayer-autoplay",   "dplayer-customhls", "dplayer-customhls-autoplay",
    "aliplayer", "aliplayer-autoplay",
};

// Double-click on the first episode cell (the grid's own signal drives playEpisodeCell) until
// the page's elapsed time first shows more than 0, on the page configuration of the argument.
void BM_DoubleClickToFirstSecond(benchmark::State& state)
{
    const char* page = kPageConfigurations[state.range(0)];
    state.SetLabel(page);
    writeSetting("配置项", "播放器地址", g_host + "/page/" + page + "?url=");
    QTableWidget* grid = g_main->form().高级表格_剧集;
    for (auto _ : state) {
        closePlayer();
        grid->setCurrentCell(0, 0);
        const QPoint centre = grid->visualItemRect(grid->item(0, 0)).center();
        const auto t0 = Clock::now();
        g_clickWall = std::chrono::system_clock::now();
        if (g_trace)
            std::fprintf(stderr, "%s:\n", page);
        // A double-click as the window system delivers it: a click, then the second press.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, centre);
        if (playerForm() == nullptr)
            std::fprintf(stderr, "no player window after the double-click at %d,%d (visible %d)\n",
                         centre.x(), centre.y(), int(grid->isVisible()));

        const std::optional<Clock::time_point> reached =
            playerForm() != nullptr ? waitAdvancing(60000) : std::nullopt;
        if (!reached) {
            state.SkipWithError("the page did not start playing");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*reached - t0).count());
        // Lets the start watcher finish before the window closes.
        if (!QTest::qWaitFor([] { return pendingNone(); }, 10000))
            std::fprintf(stderr, "the start watcher did not finish\n");
        tracePage();
    }
}
// One double-click a run, each run listed, then the median over the runs.
BENCHMARK(BM_DoubleClickToFirstSecond)
    ->DenseRange(0, static_cast<int>(std::size(kPageConfigurations)) - 1)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One poll tick as the main window's clock runs it, against the playing DPlayer page.
void BM_PollPlayerTick(benchmark::State& state)
{
    MainForm& form = g_main->form();
    if (playerForm() == nullptr || elapsedShown() < 0) {
        state.SkipWithError("no playing player page");
        return;
    }
    playerForm()->编辑框_尾->setText(QStringLiteral("0"));
    for (auto _ : state)
        pollPlayer(form);
    state.counters["elapsed_read"] = static_cast<double>(lastTimeParts().size());
}
BENCHMARK(BM_PollPlayerTick)->MinTime(3.0)->Unit(benchmark::kMillisecond);

int hold(const std::string& url, int secondsToHold)
{
    closePlayer();
    // As a double-click leaves it: the page address, the page watcher pending.
    playbackState.setEpisode({url, g_host + "/media/5/1/index.m3u8", "01"});
    playbackState.pendingAction.store(static_cast<int>(PendingAction::Starting));
    showInPlayer(url);
    if (playerForm() == nullptr) {
        std::fprintf(stderr, "no player window; status log: %s\n",
                     g_main->form().编辑框_状态->toPlainText().toUtf8().constData());
        return 1;
    }
    if (!QTest::qWaitFor([] { return pendingNone(); }, 60000))
        std::fprintf(stderr, "the page watcher did not finish\n");
    if (!waitAdvancing(60000).has_value()) {
        std::fprintf(stderr, "the page did not start playing\n");
        return 1;
    }
    std::printf("PLAYING %d %llu\n", static_cast<int>(getpid()),
                static_cast<unsigned long long>(playerForm()->window->winId()));
    std::fflush(stdout);
    waitPumping(secondsToHold * 1000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const char* host = std::getenv("QY_DEMO_HTTP");
    g_host = host != nullptr ? host : "http://127.0.0.1:47080";
    g_trace = !qEnvironmentVariableIsEmpty("QY_BENCH_TRACE");
    std::string holdUrl;
    int holdSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--hold=", 7) == 0)
            holdUrl = argv[i] + 7;
        else if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            holdSeconds = std::atoi(argv[i] + 10);
    }
    QTemporaryDir root;
    if (!setUp(root)) {
        std::fprintf(stderr, "set-up failed (browser engine or settings)\n");
        return 1;
    }
    int rc = 0;
    if (!holdUrl.empty()) {
        rc = hold(holdUrl, holdSeconds);
    } else {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    closePlayer();
    delete g_main;
    setProgramFolderForTesting("");
    return rc;
}
