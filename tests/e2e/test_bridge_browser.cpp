// The bridge library driving a real browser: the library is written out and loaded as the program
// does it, a browser is opened in a window on pages served from loopback, and every operation the
// program relies on is exercised on them.

#include "app/paths.h"
#include "playback/bridge_library.h"
#include "playback/web_view_bridge.h"
#include "support/test_server.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const pageOne = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Page One</title></head><body>
<ul><li>first</li><li>second &amp; more</li><li>third</li></ul>
<pre>视频已经被移除</pre>
<div id="out">idle</div>
<button id="btn" onclick="document.getElementById('out').textContent = 'clicked'">go</button>
<div class="press" style="width:120px;height:40px">press me</div>
<a title="it's &quot;q&quot;">quoted</a>
<div id="play">pending</div>
<script>
document.cookie = "fromScript=2; path=/";
var downs = 0;
var press = document.querySelector('.press');
press.addEventListener('mousedown', function () { downs += 1; });
press.addEventListener('click', function () {
  document.getElementById('out').textContent = 'pressed after ' + downs + ' down';
});
new Audio('/tone.wav').play().then(
  function () { document.getElementById('play').textContent = 'played'; },
  function (e) { document.getElementById('play').textContent = e.name; });
</script>
</body></html>)";

const char* const pageTwo = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Page Two</title></head><body><h1>two</h1></body></html>)";

// A page-covering button that asks for full screen (which only a real click may do), and one that
// leaves it again.
const char* const pageFull = R"HTML(<!doctype html>
<html><head><meta charset="utf-8"><title>Full</title></head><body style="margin:0">
<button id="enter" style="position:fixed;left:0;top:0;width:100%;height:100%"
  onclick="document.documentElement.requestFullscreen()">enter</button>
<button id="leave" onclick="document.exitFullscreen()">leave</button>
</body></html>)HTML";

// A page whose script may be taken from the cache for an hour.
const char* const pageCached = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Cached</title></head><body>
<div id="from"></div><div id="cookies"></div>
<script src="/cached.js"></script>
<script>document.getElementById('cookies').textContent = document.cookie;</script>
</body></html>)";

// A video element (playing a sound, held in memory so that it can be sought) that reports where
// a seek took it.
const char* const pageVideo = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Video</title></head><body>
<video id="v" preload="auto"></video>
<div id="state">loading</div><div id="pos">none</div>
<script>
var v = document.getElementById('v');
v.addEventListener('loadedmetadata', function () { document.getElementById('state').textContent = 'ready'; });
v.addEventListener('seeked', function () { document.getElementById('pos').textContent = String(v.currentTime); });
fetch('/tone.wav').then(function (r) { return r.blob(); }).then(function (b) { v.src = URL.createObjectURL(b); });
</script>
</body></html>)";

// Half a second of silence as 8 kHz 8-bit mono PCM.
std::string silentWav()
{
    const std::uint32_t samples = 4000;
    std::string wav;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            wav += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    auto u16 = [&](std::uint16_t v) {
        wav += static_cast<char>(v & 0xff);
        wav += static_cast<char>(v >> 8);
    };
    wav += "RIFF";
    u32(36 + samples);
    wav += "WAVEfmt ";
    u32(16);
    u16(1);    // PCM
    u16(1);    // mono
    u32(8000); // sample rate
    u32(8000); // byte rate
    u16(1);    // block align
    u16(8);    // bits per sample
    wav += "data";
    u32(samples);
    wav.append(samples, static_cast<char>(0x80));
    return wav;
}

// One browser for the whole suite: starting the engine is the expensive part.
class BridgeBrowser : public ::testing::Test {
protected:
    static inline std::unique_ptr<QTemporaryDir> root;
    static inline std::unique_ptr<TestServer> server;
    static inline std::unique_ptr<QWidget> window;
    static inline int loads = 0;
    static inline int entered = 0;
    static inline int left = 0;
    static inline bool handlersOnGuiThread = true;
    static inline std::vector<std::string> titles;
    static inline std::string path;
    static inline int hasEdge = 0;
    static inline bool started = false;
    static inline bool opened = false;

    // The application is made without Qt::AA_ShareOpenGLContexts, as the program's may be; the
    // library sets up what the engine needs itself.
    static void SetUpTestSuite()
    {
        root = std::make_unique<QTemporaryDir>();
        setProgramFolderForTesting(root->path().toStdString());
        server = std::make_unique<TestServer>();
        server->on("/one",
                   {200,
                    {"Content-Type: text/html; charset=utf-8", "Set-Cookie: session=abc; Path=/"},
                    pageOne});
        server->on("/two", {200, {"Content-Type: text/html; charset=utf-8"}, pageTwo});
        server->on("/jar", {200,
                            {"Content-Type: text/html; charset=utf-8",
                             "Set-Cookie: hidden=h; Path=/a; HttpOnly",
                             "Set-Cookie: kept=k; Path=/; Max-Age=3600"},
                            pageTwo});
        server->on("/full", {200, {"Content-Type: text/html; charset=utf-8"}, pageFull});
        server->on("/cached",
                   {200,
                    {"Content-Type: text/html; charset=utf-8", "Cache-Control: no-store"},
                    pageCached});
        server->on("/cached.js",
                   {200,
                    {"Content-Type: text/javascript", "Cache-Control: max-age=3600"},
                    "document.getElementById('from').textContent = 'cached script';"});
        server->on("/tone.wav", {200, {"Content-Type: audio/wav"}, silentWav()});
        server->on("/video", {200, {"Content-Type: text/html; charset=utf-8"}, pageVideo});

        path = prepareBridgeLibrary(dataFolder());
        hasEdge = kovarwebview_has_edge();
        auto onGui = [] { return QThread::currentThread() == qApp->thread(); };
        started = startBridge({[onGui] {
                                   handlersOnGuiThread = handlersOnGuiThread && onGui();
                                   ++loads;
                               },
                               [] { ++entered; }, [] { ++left; }});
        window = std::make_unique<QWidget>();
        window->resize(800, 600);
        window->show();
        opened = openBrowser(window.get(), server->url("/one"));
        webViewBridge().onTitleChanged([onGui](const std::string& title) {
            handlersOnGuiThread = handlersOnGuiThread && onGui();
            titles.push_back(title);
        });
        (void)QTest::qWaitFor([] { return loads >= 1; }, 30000);
    }

    static void TearDownTestSuite()
    {
        window.reset(); // takes the browser view with it
        QTest::qWait(200);
        server.reset();
        setProgramFolderForTesting("");
        root.reset();
    }

    WebViewBridge& bridge = webViewBridge();

    // Loads url and waits for its page-loaded notification.
    bool load(const std::string& url)
    {
        const int before = loads;
        bridge.navigate(url);
        return QTest::qWaitFor([&] { return loads > before; }, 20000);
    }

    static bool titleSeen(const std::string& title)
    {
        return QTest::qWaitFor([&] { return !titles.empty() && titles.back() == title; }, 20000);
    }
};

TEST_F(BridgeBrowser, OpensInTheWindowFromTheDataFolder)
{
    EXPECT_EQ(path, dataFolder() + bridgeLibraryName());
    ASSERT_NE(hasEdge, 0);
    ASSERT_TRUE(started);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(bridge.isPlaceholder());
    EXPECT_GE(loads, 1);
    EXPECT_TRUE(titleSeen("Page One"));

    QWidget* view = bridge.windowHandle();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->parentWidget(), window.get());
    bridge.setBounds(10, 20, 300, 200);
    EXPECT_EQ(view->geometry(), QRect(10, 20, 300, 200));
}

TEST_F(BridgeBrowser, ReadsElementsBySelectorAndIndexFromOne)
{
    ASSERT_TRUE(load(server->url("/one")));
    struct Case {
        std::string selector;
        int index;
        std::string text;
        std::string html;
        bool exists;
    };
    const Case cases[] = {
        {"li", 1, "first", "<li>first</li>", true},
        {"li", 2, "second & more", "<li>second &amp; more</li>", true},
        {"ul li", 3, "third", "<li>third</li>", true},
        {"li", 4, "", "", false},
        {"li", 0, "", "", false},
        {"body pre", 1, "视频已经被移除", "<pre>视频已经被移除</pre>", true},
        // Quotes of both kinds reach the page as the selector, not as script.
        {R"(a[title="it's \"q\""])", 1, "quoted", R"(<a title="it's &quot;q&quot;">quoted</a>)",
         true},
        {"li[", 1, "", "", false}, // not a valid selector
        {"')); document.body.remove(); ((' ", 1, "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector + " #" + std::to_string(c.index));
        EXPECT_EQ(bridge.elementText(c.selector, c.index), c.text);
        EXPECT_EQ(bridge.elementHtml(c.selector, c.index), c.html);
        EXPECT_EQ(bridge.elementExists(c.selector, c.index), c.exists);
    }
    EXPECT_TRUE(bridge.elementExists("body", 1));
}

TEST_F(BridgeBrowser, ClicksAndPressesElements)
{
    ASSERT_TRUE(load(server->url("/one")));
    EXPECT_FALSE(bridge.clickElement("#missing", 1));
    EXPECT_EQ(bridge.elementText("#out", 1), "idle");

    EXPECT_TRUE(bridge.clickElement("#btn", 1));
    EXPECT_EQ(bridge.elementText("#out", 1), "clicked");

    EXPECT_TRUE(bridge.pressElement(".press", 1));
    EXPECT_EQ(bridge.elementText("#out", 1), "pressed after 1 down");
    EXPECT_FALSE(bridge.pressElement(".press", 2));
}

TEST_F(BridgeBrowser, MediaPlaysWithoutAUserGesture)
{
    ASSERT_TRUE(load(server->url("/one")));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return bridge.elementText("#play", 1) != "pending"; }, 10000));
    EXPECT_EQ(bridge.elementText("#play", 1), "played");
}

TEST_F(BridgeBrowser, CookieTextComesFromAnyThread)
{
    ASSERT_TRUE(load(server->url("/one")));
    // The cookie store reports cookies shortly after the page set them.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string text = bridge.cookieText(1);
            return text.find("session=abc") != std::string::npos &&
                   text.find("fromScript=2") != std::string::npos;
        },
        10000));

    // The download thread asks while the GUI thread keeps running its event loop.
    std::atomic<bool> done{false};
    std::string fromWorker;
    std::thread worker([&] {
        fromWorker = bridge.cookieText(1);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_NE(fromWorker.find("session=abc"), std::string::npos);
    EXPECT_NE(fromWorker.find("fromScript=2"), std::string::npos);
}

// The cookie-file form names each cookie's host, path, flags and expiry, one cookie a line, so
// that a download's cookie engine can send each only where it belongs.
TEST_F(BridgeBrowser, CookieTextInTheCookieFileForm)
{
    ASSERT_TRUE(load(server->url("/one")));
    ASSERT_TRUE(load(server->url("/jar")));
    std::vector<std::string> lines;
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    auto has = [&](const std::string& prefix) {
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                return true;
        return false;
    };
    // The download thread asks, as the run does.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            std::string text;
            std::atomic<bool> done{false};
            std::thread worker([&] {
                text = bridge.cookieText(kCookieFile);
                done = true;
            });
            (void)QTest::qWaitFor([&] { return done.load(); }, 5000);
            worker.join();
            lines.clear();
            size_t from = 0;
            while (from <= text.size() && !text.empty()) {
                const size_t end = std::min(text.find('\n', from), text.size());
                lines.push_back(text.substr(from, end - from));
                from = end + 1;
            }
            return has("#HttpOnly_127.0.0.1\tFALSE\t/a\tFALSE\t") &&
                   has("127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tabc");
        },
        10000));
    bool keptSeen = false;
    for (const std::string& line : lines) {
        if (line.find("\tkept\tk") == std::string::npos)
            continue;
        keptSeen = true;
        // domain, flag, path, secure, expiry, name, value: the expiry about an hour ahead
        const size_t expiryAt =
            line.find('\t', line.find('\t', line.find('\t', line.find('\t') + 1) + 1) + 1) + 1;
        const long long expiry = std::stoll(line.substr(expiryAt));
        EXPECT_NEAR(static_cast<double>(expiry - now), 3600.0, 120.0) << line;
    }
    EXPECT_TRUE(keptSeen);
    // The plain form stays as it was.
    EXPECT_EQ(bridge.cookieText(kCookiePairs).find('\t'), std::string::npos);
    EXPECT_NE(bridge.cookieText(kCookiePairs).find("session=abc"), std::string::npos);
}

TEST_F(BridgeBrowser, CookieTextOffTheGuiThreadGivesUpWhenTheGuiThreadDoesNotAnswer)
{
    std::atomic<bool> done{false};
    std::string fromWorker = "unset";
    std::thread worker([&] {
        fromWorker = bridge.cookieText(1);
        done = true;
    });
    // The GUI thread is busy (not pumping) for longer than the worker is willing to wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_TRUE(done.load());
    worker.join();
    EXPECT_EQ(fromWorker, "");
    QTest::qWait(100); // the late request runs now and finds nobody waiting
}

TEST_F(BridgeBrowser, NavigatesStepsBackAndForwardAndReloads)
{
    ASSERT_TRUE(load(server->url("/one")));
    ASSERT_TRUE(titleSeen("Page One"));
    ASSERT_TRUE(load(server->url("/two")));
    EXPECT_TRUE(titleSeen("Page Two"));
    EXPECT_EQ(bridge.elementText("h1", 1), "two");

    int before = loads;
    bridge.stepBack(1);
    EXPECT_TRUE(titleSeen("Page One"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return loads > before; }, 20000));
    EXPECT_EQ(bridge.elementText("li", 1), "first");

    before = loads;
    bridge.stepForward(1);
    EXPECT_TRUE(titleSeen("Page Two"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return loads > before; }, 20000));

    const int requests = server->count("/two");
    before = loads;
    bridge.reload();
    EXPECT_TRUE(QTest::qWaitFor([&] { return loads > before; }, 20000));
    EXPECT_EQ(server->count("/two"), requests + 1);
    EXPECT_EQ(bridge.elementText("h1", 1), "two");
    EXPECT_TRUE(handlersOnGuiThread);
}

TEST_F(BridgeBrowser, ClearingTheCacheRefetchesCachedFilesAndPagesStillLoad)
{
    ASSERT_TRUE(load(server->url("/cached")));
    ASSERT_TRUE(load(server->url("/two")));
    ASSERT_TRUE(load(server->url("/cached")));
    EXPECT_EQ(bridge.elementText("#from", 1), "cached script");
    EXPECT_EQ(server->count("/cached.js"), 1); // the second visit took it from the cache

    bridge.clearCache();
    bridge.clearCache(); // twice in a row, as a user clicking again does
    ASSERT_TRUE(load(server->url("/cached")));
    EXPECT_EQ(bridge.elementText("#from", 1), "cached script");
    EXPECT_EQ(server->count("/cached.js"), 2);
    // Cookies are not part of the cache.
    EXPECT_NE(bridge.elementText("#cookies", 1).find("session=abc"), std::string::npos);

    ASSERT_TRUE(load(server->url("/one")));
    bridge.clearCache(); // while the page's media is loaded
    EXPECT_TRUE(load(server->url("/two")));
    EXPECT_EQ(bridge.elementText("h1", 1), "two");
}

TEST_F(BridgeBrowser, ReportsEnteringAndLeavingFullScreen)
{
    ASSERT_TRUE(load(server->url("/full")));
    QWidget* view = bridge.windowHandle();
    ASSERT_NE(view, nullptr);
    view->setGeometry(0, 0, 400, 300);
    ASSERT_NE(view->focusProxy(), nullptr);

    // A click on a visible element is a real mouse click, the user gesture full screen needs.
    EXPECT_TRUE(bridge.clickElement("#enter", 1));
    ASSERT_TRUE(QTest::qWaitFor([] { return entered == 1; }, 10000));
    QWidget* full = bridge.windowHandle();
    ASSERT_NE(full, nullptr);
    EXPECT_NE(full, view);
    EXPECT_TRUE(full->isWindow());
    EXPECT_TRUE(full->isVisible());
    EXPECT_EQ(bridge.elementText("#leave", 1), "leave"); // the page is still operated
    EXPECT_EQ(left, 0);

    EXPECT_TRUE(bridge.clickElement("#leave", 1));
    ASSERT_TRUE(QTest::qWaitFor([] { return left == 1; }, 10000));
    EXPECT_EQ(bridge.windowHandle(), view);
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(bridge.elementText("#enter", 1), "enter");
    EXPECT_TRUE(handlersOnGuiThread);
}

TEST_F(BridgeBrowser, SeeksThePagesFirstVideoToANumberOfSeconds)
{
    ASSERT_TRUE(load(server->url("/video")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.elementText("#state", 1) == "ready"; }, 20000));
    EXPECT_TRUE(bridge.seekMedia(0.25));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bridge.elementText("#pos", 1) == "0.25"; }, 20000))
        << bridge.elementText("#pos", 1);
    // Positions that are no number of seconds are refused before anything reaches the page.
    for (double bad :
         {-1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(bridge.seekMedia(bad)) << bad;
    EXPECT_EQ(bridge.elementText("#pos", 1), "0.25");
    // A page without a video element.
    ASSERT_TRUE(load(server->url("/two")));
    EXPECT_FALSE(bridge.seekMedia(1));
}

} // namespace
