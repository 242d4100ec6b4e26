// qy_demo_playercheck: loads a demo player page in Qt WebEngine, starts it the way the program
// does (by script, no user gesture) and reports what the program would read from it.
//   qy_demo_playercheck [--seconds N] [--start-screenshot FILE.png] [--screenshot FILE.png] URL
// (--start-screenshot: the page as loaded, before the start; --screenshot: while playing)
// Output, one fact per line:
//   kind dplayer|aliplayer|removed|unknown
//   started 1|0                  the start element was found and activated
//   time <elapsed> / <total>     the page's time texts, once a second after the start
//   advanced 1|0                 the elapsed time moved on after the start
//   speed <rate>                 playback rate after activating the 2x speed item (DPlayer)
//   fullscreen 1|0               the full-screen control asked the browser for full screen
//   outside <n>                  requests to hosts other than loopback (all of them blocked)
//   outside-url <url>            each such request
// Exit code 0 when the page started, its time advanced and nothing reached outside loopback.

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QTimer>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <cstdio>
#include <unistd.h>

namespace {

void out(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Records and blocks every request that leaves loopback. Runs on the browser's IO thread;
// the list is read on the GUI thread only after the page has been torn down.
class LoopbackOnly final : public QWebEngineUrlRequestInterceptor {
public:
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QUrl url = info.requestUrl();
        const QString scheme = url.scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
            scheme != QLatin1String("ws") && scheme != QLatin1String("wss"))
            return;
        const QString host = url.host();
        if (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost"))
            return;
        info.block(true);
        QMutexLocker lock(&mutex_);
        blocked_.append(url.toString());
    }
    QStringList blocked()
    {
        QMutexLocker lock(&mutex_);
        return blocked_;
    }

private:
    QMutex mutex_;
    QStringList blocked_;
};

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QVariant runJs(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    QEventLoop loop;
    page->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
        loop.quit();
    });
    if (!done) {
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return result;
}

// The element operations of the program's browser bridge: text, markup, a script click and a
// press (pointer and mouse events down, up and click at the element's centre).
QVariant element(QWebEnginePage* page, const QString& selector, int index, const QString& op)
{
    static const char* const script = R"JS(
(function (selector, index, op) {
  var el = document.querySelectorAll(selector)[index - 1];
  if (!el) return null;
  if (op === 'exists') return true;
  if (op === 'text') return el.textContent;
  if (op === 'html') return el.outerHTML;
  if (op === 'click') { el.click(); return true; }
  var r = el.getBoundingClientRect();
  var base = { bubbles: true, cancelable: true, composed: true, view: window, button: 0,
               clientX: r.left + r.width / 2, clientY: r.top + r.height / 2 };
  var pointer = Object.assign({ pointerId: 1, pointerType: 'mouse', isPrimary: true }, base);
  el.dispatchEvent(new PointerEvent('pointerdown', Object.assign({ buttons: 1 }, pointer)));
  el.dispatchEvent(new MouseEvent('mousedown', Object.assign({ buttons: 1 }, base)));
  el.dispatchEvent(new PointerEvent('pointerup', pointer));
  el.dispatchEvent(new MouseEvent('mouseup', base));
  el.dispatchEvent(new MouseEvent('click', base));
  return true;
}).apply(null, )JS";
    const QJsonArray args{selector, index, op};
    return runJs(page, QString::fromUtf8(script) +
                           QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)) +
                           QStringLiteral(")"));
}

int seconds(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    int total = 0;
    for (const QString& p : parts)
        total = total * 60 + p.toInt();
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    // Chromium cannot start its sandbox as root.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("player page address"));
    QCommandLineOption secondsOpt(QStringLiteral("seconds"), QStringLiteral("seconds to watch"),
                                  QStringLiteral("n"), QStringLiteral("6"));
    QCommandLineOption shotOpt(QStringLiteral("screenshot"), QStringLiteral("PNG file"),
                               QStringLiteral("file"));
    QCommandLineOption startShotOpt(QStringLiteral("start-screenshot"),
                                    QStringLiteral("PNG file of the page before the start"),
                                    QStringLiteral("file"));
    parser.addOption(startShotOpt);
    parser.addOption(secondsOpt);
    parser.addOption(shotOpt);
    parser.addHelpOption();
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QUrl url(parser.positionalArguments().first());
    const int watchSeconds = parser.value(secondsOpt).toInt();

    LoopbackOnly interceptor;
    QWebEngineProfile profile; // off the record: no cache or cookies left behind
    profile.setUrlRequestInterceptor(&interceptor);
    profile.settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    profile.settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    auto* page = new QWebEnginePage(&profile);
    bool fullscreenAsked = false;
    QObject::connect(page, &QWebEnginePage::fullScreenRequested,
                     [&](QWebEngineFullScreenRequest request) {
                         if (request.toggleOn())
                             fullscreenAsked = true;
                         request.accept();
                     });
    QWebEngineView view;
    view.setPage(page);
    view.resize(960, 540);
    view.show();

    bool loaded = false;
    QEventLoop loadLoop;
    QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool ok) {
        loaded = ok;
        loadLoop.quit();
    });
    page->load(url);
    QTimer::singleShot(20000, &loadLoop, &QEventLoop::quit);
    loadLoop.exec();
    if (!loaded) {
        out(QStringLiteral("load-failed"));
        return 1;
    }

    auto startShot = [&] {
        if (!parser.isSet(startShotOpt))
            return;
        wait(1500); // let the first frame and the overlay render
        view.grab().save(parser.value(startShotOpt));
    };

    // The program's start sequence.
    QString kind = QStringLiteral("unknown");
    bool started = false;
    for (int attempt = 0; attempt < 20 && !started; ++attempt) {
        if (element(page, QStringLiteral("body pre"), 1, QStringLiteral("text"))
                .toString()
                .contains(QStringLiteral("视频已经被移除"))) {
            kind = QStringLiteral("removed");
            break;
        }
        // A paused DPlayer starts from its play button; one that was asked to play (autoplay) is
        // left alone, as a click would toggle it into pause.
        if (element(page, QStringLiteral(".dplayer-video-wrap"), 1, QStringLiteral("exists"))
                .toBool()) {
            kind = QStringLiteral("dplayer");
            startShot();
            if (runJs(page, QStringLiteral("document.querySelector('video').paused")).toBool())
                element(page, QStringLiteral(".dplayer-play-icon"), 1, QStringLiteral("click"));
            started = true;
            break;
        }
        if (element(page, QStringLiteral(".prism-big-play-btn"), 1, QStringLiteral("html"))
                .toString()
                .contains(QStringLiteral("block"))) {
            kind = QStringLiteral("aliplayer");
            wait(2000);
            startShot();
            element(page, QStringLiteral(".prism-big-play-btn"), 1, QStringLiteral("click"));
            started = true;
            break;
        }
        wait(1000);
    }
    out(QStringLiteral("kind ") + kind);
    out(QStringLiteral("started ") + QString::number(started ? 1 : 0));

    const bool dplayer = kind == QLatin1String("dplayer");
    const QString elapsedSel =
        dplayer ? QStringLiteral(".dplayer-ptime") : QStringLiteral(".current-time");
    const QString totalSel =
        dplayer ? QStringLiteral(".dplayer-dtime") : QStringLiteral(".duration");
    int first = -1, last = -1;
    if (started) {
        for (int s = 0; s < watchSeconds; ++s) {
            wait(1000);
            const QString elapsed = element(page, elapsedSel, 1, QStringLiteral("text")).toString();
            const QString total = element(page, totalSel, 1, QStringLiteral("text")).toString();
            out(QStringLiteral("time ") + elapsed.trimmed() + QStringLiteral(" / ") +
                total.trimmed());
            if (first < 0)
                first = seconds(elapsed);
            last = seconds(elapsed);
        }
    }
    const bool advanced = started && last > first;
    out(QStringLiteral("advanced ") + QString::number(advanced ? 1 : 0));

    if (parser.isSet(shotOpt))
        view.grab().save(parser.value(shotOpt));

    if (dplayer) {
        element(page, QStringLiteral(".dplayer-setting-speed-item"), 6, QStringLiteral("click"));
        element(page, QStringLiteral(".current-setting"), 1, QStringLiteral("click"));
        wait(300);
        out(QStringLiteral("speed ") +
            runJs(page, QStringLiteral("document.querySelector('video').playbackRate")).toString());
        element(page, QStringLiteral(".dplayer-full-icon"), 1, QStringLiteral("click"));
    } else if (kind == QLatin1String("aliplayer")) {
        element(page, QStringLiteral(".prism-fullscreen-btn"), 1, QStringLiteral("click"));
    }
    wait(1000);
    out(QStringLiteral("fullscreen ") + QString::number(fullscreenAsked ? 1 : 0));

    view.setPage(nullptr);
    delete page;
    const QStringList outside = interceptor.blocked();
    out(QStringLiteral("outside ") + QString::number(outside.size()));
    for (const QString& u : outside)
        out(QStringLiteral("outside-url ") + u);
    return (started && advanced && outside.isEmpty()) ? 0 : 1;
}
