// WebView2Plus: hosts a Qt WebEngine browser inside a parent widget and operates the loaded page
// by CSS selector. The program loads this library from a file it writes itself and reaches it only
// through the four C exports at the bottom of this file.

#include "bridge/bridge_api.h"
#include "net/cookie_file.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QNetworkCookie>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <QEventLoop>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

class QOpenGLContext;
// From the engine and from Qt GUI: set up, and tell whether there is, the OpenGL context the engine
// shares with the GUI. A host normally gets it by setting Qt::AA_ShareOpenGLContexts before it
// creates its application; this library is loaded later, so it makes up for a host that did not.
namespace QtWebEngineCore {
Q_DECL_IMPORT void initialize();
}
Q_DECL_IMPORT QOpenGLContext* qt_gl_global_share_context();

namespace {

// How long a synchronous page query waits for the page's answer while pumping events.
constexpr int scriptWaitMs = 5000;
// How long cookieText, called off the GUI thread, waits for the GUI thread to answer.
constexpr auto cookieWait = std::chrono::milliseconds(2000);

bool onGuiThread()
{
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text)
{
    return text.toStdString();
}

// Engine switches, read when the engine first starts, which is after every export below has run
// at least once. Chromium refuses to start its sandbox as root. Clearing the cache also clears the
// GPU shader cache, which without a working GPU never finishes and holds up every later page
// load, so that cache is not kept at all.
void prepareEngineEnvironment()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
        auto add = [&flags](const char* flag) {
            if (!flags.contains(flag))
                flags = (flags + ' ' + flag).trimmed();
        };
        add("--disable-gpu-shader-disk-cache");
#if defined(Q_OS_UNIX)
        if (::geteuid() == 0) {
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
            add("--no-sandbox");
        }
#endif
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    });
}

// Without the shared context the engine's first page crashes the process.
void ensureSharedContext()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
        qt_gl_global_share_context() == nullptr)
        QtWebEngineCore::initialize();
}

std::string& pluginFolder()
{
    static std::string folder;
    return folder;
}

// Posts fn to the GUI thread's event loop, so that handlers never run inside a browser callback
// (the page watcher waits by pumping events, which must not happen inside the engine's own task).
template <class F>
void postToGui(QObject* context, F&& fn)
{
    QMetaObject::invokeMethod(context, std::forward<F>(fn), Qt::QueuedConnection);
}

// ---- notifications -------------------------------------------------------------------------

class EventRegistry final : public BrowserEvents {
public:
    void onPageLoaded(std::function<void()> handler) override { pageLoaded_ = std::move(handler); }
    void onFullscreenEntered(std::function<void()> handler) override
    {
        fullscreenEntered_ = std::move(handler);
    }
    void onFullscreenLeft(std::function<void()> handler) override
    {
        fullscreenLeft_ = std::move(handler);
    }

    // GUI thread: queue the handler registered now; a later registration does not change it.
    void notify(QObject* context, const std::function<void()>& handler)
    {
        if (handler)
            postToGui(context, [handler] { handler(); });
    }
    void pageLoaded(QObject* context) { notify(context, pageLoaded_); }
    void fullscreenEntered(QObject* context) { notify(context, fullscreenEntered_); }
    void fullscreenLeft(QObject* context) { notify(context, fullscreenLeft_); }

private:
    std::function<void()> pageLoaded_;
    std::function<void()> fullscreenEntered_;
    std::function<void()> fullscreenLeft_;
};

EventRegistry& eventRegistry()
{
    static EventRegistry registry;
    return registry;
}

class Environment final : public BrowserEnvironment {
public:
    explicit Environment(std::string programFolder) : programFolder_(std::move(programFolder)) {}

private:
    std::string programFolder_;
};

// ---- profiles and their cookies ------------------------------------------------------------

// One browser profile per data folder, kept for the life of the process (the engine tears its
// profiles down itself at exit). Its cookies are mirrored here as the cookie store reports them.
// Lives on the GUI thread.
struct ProfileState {
    QWebEngineProfile* profile = nullptr;
    std::vector<QNetworkCookie> cookies;

    static bool sameCookie(const QNetworkCookie& a, const QNetworkCookie& b)
    {
        return a.name() == b.name() && a.domain() == b.domain() && a.path() == b.path();
    }
    void added(const QNetworkCookie& cookie)
    {
        for (auto& c : cookies) {
            if (sameCookie(c, cookie)) {
                c = cookie;
                return;
            }
        }
        cookies.push_back(cookie);
    }
    void removed(const QNetworkCookie& cookie)
    {
        std::erase_if(cookies, [&](const QNetworkCookie& c) { return sameCookie(c, cookie); });
    }
    // Every cookie the browser holds, as one Cookie header value: "name=value; name2=value2".
    std::string text() const
    {
        std::string out;
        for (const auto& c : cookies) {
            if (!out.empty())
                out += "; ";
            out += c.toRawForm(QNetworkCookie::NameAndValueOnly).toStdString();
        }
        return out;
    }
    // Every cookie the browser holds as a Netscape cookie-file line, lines separated by "\n".
    std::string fileText() const
    {
        std::string out;
        for (const auto& c : cookies) {
            BrowserCookie record;
            record.domain = c.domain().toStdString();
            record.path = c.path().toStdString();
            record.name = c.name().toStdString();
            record.value = c.value().toStdString();
            record.secure = c.isSecure();
            record.httpOnly = c.isHttpOnly();
            record.expires = c.isSessionCookie() ? 0 : c.expirationDate().toSecsSinceEpoch();
            const std::string line = netscapeCookieLine(record);
            if (line.empty())
                continue;
            if (!out.empty())
                out += '\n';
            out += line;
        }
        return out;
    }
    std::string text(int flag) const { return flag == kCookieFile ? fileText() : text(); }
};

ProfileState* profileFor(const QString& dataFolder)
{
    // Never destroyed: the engine may still report cookies while the process shuts down.
    static auto* profiles = new std::map<QString, std::unique_ptr<ProfileState>>();
    auto& slot = (*profiles)[dataFolder];
    if (slot)
        return slot.get();
    slot = std::make_unique<ProfileState>();
    QWebEngineProfile* profile = nullptr;
    if (dataFolder.isEmpty()) {
        profile = new QWebEngineProfile(); // off the record: nothing is kept on disk
    } else {
        // A storage name of its own per folder, so two folders never share one profile.
        const QString name = QStringLiteral("WebView2Plus-%1").arg(qHash(dataFolder), 0, 16);
        profile = new QWebEngineProfile(name);
        QString base = dataFolder;
        if (!base.endsWith(QLatin1Char('/')) && !base.endsWith(QLatin1Char('\\')))
            base += QLatin1Char('/');
        profile->setPersistentStoragePath(base + QStringLiteral("WebView2Plus"));
        profile->setCachePath(base + QStringLiteral("WebView2Plus/Cache"));
        // Session cookies too, so that they outlive clearCache (which restarts the engine's
        // network side) and a download run started later still finds them.
        profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    }
    // The HTTP cache lives in memory, so that clearing it means starting a new one (see
    // clearCache).
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    // The program starts the page's player by script, without a user gesture.
    profile->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    profile->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    slot->profile = profile;
    ProfileState* state = slot.get();
    QWebEngineCookieStore* store = profile->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, profile,
                     [state](const QNetworkCookie& c) { state->added(c); });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, profile,
                     [state](const QNetworkCookie& c) { state->removed(c); });
    store->loadAllCookies();
    return state;
}

// Lets pending events run for about ms milliseconds.
void waitPumping(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- page scripts --------------------------------------------------------------------------

// One script for every element operation. Its arguments arrive as a JSON array, so a selector is
// always a string literal to the page and never becomes script text.
const char* const elementScript = R"JS(
(function (selector, index, op) {
  var el;
  try { el = document.querySelectorAll(selector)[index - 1]; } catch (e) { return null; }
  if (!el) return null;
  switch (op) {
  case 'text': return el.textContent;
  case 'html': return el.outerHTML;
  case 'exists': return true;
  case 'click': el.click(); return true;
  case 'point': {
    // The element's centre in view pixels when a real click there would reach the element.
    var b = el.getBoundingClientRect();
    if (b.width < 1 || b.height < 1) return null;
    var x = b.left + b.width / 2, y = b.top + b.height / 2;
    function outside() { return x < 0 || y < 0 || x >= window.innerWidth || y >= window.innerHeight; }
    if (outside()) {
      // A control outside the view (a page taller than the view, a player at its video's own
      // height) is scrolled in at the nearest edge, so that a real click can reach it.
      el.scrollIntoView({ block: 'nearest', inline: 'nearest' });
      b = el.getBoundingClientRect();
      x = b.left + b.width / 2; y = b.top + b.height / 2;
      if (outside()) return null;
    }
    var hit = document.elementFromPoint(x, y);
    if (!hit || !(hit === el || el.contains(hit))) return null;
    el.__qyClicked = false;
    el.addEventListener('click', function () { el.__qyClicked = true; }, { once: true, capture: true });
    return [x, y];
  }
  case 'clicked': return el.__qyClicked === true;
  case 'press': {
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
  }
  }
  return null;
}).apply(null, )JS";

// Sets the first video element's position. The only argument is a number, written by the library
// itself, so nothing from the page or the catalogue ever becomes script text.
const char* const seekScript = R"JS(
(function (t) {
  var v = document.querySelector('video');
  if (!v || typeof t !== 'number' || !isFinite(t) || t < 0) return false;
  v.currentTime = t;
  return true;
})()JS";

QString seekCall(double seconds)
{
    return QString::fromUtf8(seekScript) + QString::number(seconds, 'f', 3) + QStringLiteral(")");
}

// The state of the page's first <video>; fixed text, nothing from the page or the caller in it.
const char* const mediaStateScript = R"JS(
(function () {
  var v = document.querySelector('video');
  if (!v) return '';
  function n(x) { return isFinite(x) ? x : null; }
  return JSON.stringify({ paused: v.paused, currentTime: n(v.currentTime), duration: n(v.duration),
                          readyState: v.readyState, ended: v.ended, playbackRate: n(v.playbackRate) });
})()
)JS";

// Sets the first <video>'s playback rate; the rate arrives as a JSON number.
const char* const mediaRateScript = R"JS(
(function (rate) {
  var v = document.querySelector('video');
  if (!v || !(rate > 0)) return false;
  v.playbackRate = rate;
  return true;
}).apply(null, )JS";

QString elementCall(const std::string& selector, int index, const char* op)
{
    const QJsonArray args{fromUtf8(selector), index, QString::fromLatin1(op)};
    return QString::fromUtf8(elementScript) +
           QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)) +
           QStringLiteral(")");
}

// ---- full screen ---------------------------------------------------------------------------

// Top-level window that shows the page while it is full screen; the page moves into its own view
// and back again when full screen ends.
class FullScreenWindow : public QWidget {
public:
    FullScreenWindow(QWebEngineView* oldView, QWidget* parent = nullptr)
            : QWidget(parent), view_(new QWebEngineView(this)), oldView_(oldView)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view_);
        QWebEnginePage* page = oldView->page();
        view_->setPage(page);
        // The old view gets a blank page of its own meanwhile: the player window hides while the
        // page is full screen, and a page that still counted the hidden view as its own would
        // turn hidden itself, which ends full screen.
        standIn_ = new QWebEnginePage(page->profile(), this);
        oldView->setPage(standIn_);
        // The player window closing takes the page with it; this window goes too.
        connect(oldView, &QObject::destroyed, this, &QObject::deleteLater);
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
        connect(escape, &QShortcut::activated, this,
                [this] { view_->triggerPageAction(QWebEnginePage::ExitFullScreen); });
        if (QScreen* screen = oldView->screen())
            setGeometry(screen->geometry());
        showFullScreen();
    }
    ~FullScreenWindow() override
    {
        if (oldView_)
            oldView_->setPage(view_->page());
    }

private:
    QWebEngineView* view_;
    QPointer<QWebEngineView> oldView_;
    QWebEnginePage* standIn_ = nullptr;
};

// ---- the browser instance ------------------------------------------------------------------

class Browser final : public BrowserInstance {
public:
    Browser(QWidget* parent, ProfileState* profile) : profile_(profile)
    {
        view_ = new QWebEngineView(parent);
        page_ = new QWebEnginePage(profile->profile, view_);
        view_->setPage(page_);
        view_->setGeometry(parent->rect());
        QWebEngineView* view = view_;
        QObject::connect(page_, &QWebEnginePage::loadFinished, view, [view](bool ok) {
            if (ok)
                eventRegistry().pageLoaded(view);
        });
        QObject::connect(page_, &QWebEnginePage::titleChanged, view,
                         [this, view](const QString& title) {
                             if (auto handler = titleHandler_)
                                 postToGui(view, [handler, t = toUtf8(title)] { handler(t); });
                         });
        QObject::connect(
            page_, &QWebEnginePage::fullScreenRequested, view,
            [this](QWebEngineFullScreenRequest request) { fullScreen(std::move(request)); });
        view_->show();
    }

    ~Browser() override
    {
        delete fullScreen_.data();
        delete view_.data();
    }

    // Media on this page starts only after a user gesture, as in a browser left as it is.
    void keepGestureRule()
    {
        if (page_)
            page_->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
    }

    QWidget* windowHandle() override
    {
        if (fullScreen_)
            return fullScreen_;
        return view_;
    }

    void setBounds(int x, int y, int width, int height) override
    {
        if (view_)
            view_->setGeometry(x, y, width, height);
    }

    // The engine's own cache clearing (clearHttpCache) can hold up every later page load for
    // minutes while a page is streaming media. Switching the cache off and on again gives the
    // profile a fresh, empty memory cache at once; loads in flight at that moment are restarted by
    // the page or fail. Cookies survive the switch because the profile keeps all of them on disk.
    void clearCache() override
    {
        QWebEngineProfile* profile = profile_->profile;
        profile->setHttpCacheType(QWebEngineProfile::NoCache);
        profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    }

    void reload() override
    {
        if (page_)
            page_->triggerAction(QWebEnginePage::Reload);
    }

    std::string navigate(const std::string& url) override
    {
        if (!page_)
            return {};
        const QUrl target = QUrl::fromUserInput(fromUtf8(url));
        page_->setUrl(target);
        return toUtf8(target.toString());
    }

    std::string elementText(const std::string& selector, int index) override
    {
        return toUtf8(runScript(elementCall(selector, index, "text")).toString());
    }

    std::string elementHtml(const std::string& selector, int index) override
    {
        return toUtf8(runScript(elementCall(selector, index, "html")).toString());
    }

    // A visible element gets a real mouse click, which the page takes as the user's own (full
    // screen, for one, is refused to script clicks); a hidden or covered one a script click.
    bool clickElement(const std::string& selector, int index) override
    {
        // The view that shows the page now: the player's, or the full-screen window's.
        QWebEngineView* shown = QWebEngineView::forPage(page_);
        QWidget* target = shown && shown->isVisible() ? shown->focusProxy() : nullptr;
        QVariantList point = runScript(elementCall(selector, index, "point")).toList();
        if (point.size() != 2 && target &&
            runScript(elementCall(selector, index, "exists")).toBool()) {
            // Player pages hide their controls until the mouse moves over the video; move it in,
            // as a user would, and look again once the controls have shown.
            // Each move lands a few pixels from the last one: the page sees no movement when the
            // pointer stays where it was.
            for (int step = 0; step < 2 && point.size() != 2; ++step) {
                moveCount_ = (moveCount_ + 1) % 8;
                const QPointF at(target->width() / 2.0 + 3 * moveCount_,
                                 target->height() / 2.0 + 2 * moveCount_);
                QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(target, &move);
                // The controls fade in; look every 50 ms, for up to 400 ms.
                for (int look = 0; look < 8 && point.size() != 2; ++look) {
                    waitPumping(50);
                    point = runScript(elementCall(selector, index, "point")).toList();
                }
            }
        }
        if (point.size() == 2 && target) {
            const qreal zoom = page_->zoomFactor();
            const QPointF at(point[0].toDouble() * zoom, point[1].toDouble() * zoom);
            const QPointF global = target->mapToGlobal(at);
            QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &press);
            QCoreApplication::sendEvent(target, &release);
            // The page handles input on its own time; wait (pumping) until it has seen the click,
            // so the caller reads the page as the click left it.
            QElapsedTimer waited;
            waited.start();
            while (!runScript(elementCall(selector, index, "clicked")).toBool() &&
                   waited.elapsed() < 1000)
                waitPumping(20);
            return true;
        }
        return runScript(elementCall(selector, index, "click")).toBool();
    }

    bool pressElement(const std::string& selector, int index) override
    {
        return runScript(elementCall(selector, index, "press")).toBool();
    }

    void stepBack(int steps) override { step(-steps); }
    void stepForward(int steps) override { step(steps); }

    bool elementExists(const std::string& selector, int index) override
    {
        return runScript(elementCall(selector, index, "exists")).toBool();
    }

    std::string cookieText(int flag) override
    {
        ProfileState* profile = profile_; // lives as long as the process
        if (onGuiThread())
            return profile->text(flag);
        // Download thread: ask the GUI thread for the text and wait for it, but never without end.
        struct Answer {
            std::mutex lock;
            std::condition_variable ready;
            bool done = false;
            std::string text;
        };
        auto answer = std::make_shared<Answer>();
        auto* app = QCoreApplication::instance();
        if (app == nullptr)
            return {};
        postToGui(app, [answer, profile, flag] {
            std::string text = profile->text(flag);
            std::lock_guard guard(answer->lock);
            answer->text = std::move(text);
            answer->done = true;
            answer->ready.notify_all();
        });
        std::unique_lock guard(answer->lock);
        if (!answer->ready.wait_for(guard, cookieWait, [&] { return answer->done; }))
            return {};
        return answer->text;
    }

    void onTitleChanged(std::function<void(const std::string&)> handler) override
    {
        titleHandler_ = std::move(handler);
    }

    bool seekMedia(double seconds) override
    {
        if (!std::isfinite(seconds) || seconds < 0)
            return false;
        return runScript(seekCall(seconds)).toBool();
    }

    std::string mediaState() override
    {
        return toUtf8(runScript(QString::fromUtf8(mediaStateScript)).toString());
    }

    bool setMediaRate(double rate) override
    {
        const QJsonArray args{rate};
        return runScript(QString::fromUtf8(mediaRateScript) +
                         QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)) +
                         QStringLiteral(")"))
            .toBool();
    }

private:
    // Runs a script in the page's isolated world and waits for its result, pumping events so the
    // GUI stays responsive; gives an invalid value on time-out or when the page goes away.
    QVariant runScript(const QString& script)
    {
        if (!page_)
            return {};
        struct Pending {
            bool done = false;
            QVariant value;
            QEventLoop* loop = nullptr;
        };
        auto pending = std::make_shared<Pending>();
        QEventLoop loop;
        pending->loop = &loop;
        page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                             [pending](const QVariant& v) {
                                 pending->value = v;
                                 pending->done = true;
                                 if (pending->loop)
                                     pending->loop->quit();
                             });
        if (!pending->done) {
            QTimer timer;
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            QObject::connect(page_, &QObject::destroyed, &loop, &QEventLoop::quit);
            timer.start(scriptWaitMs);
            loop.exec();
        }
        pending->loop = nullptr;
        return pending->done ? pending->value : QVariant();
    }

    void step(int offset)
    {
        if (!page_ || offset == 0)
            return;
        QWebEngineHistory* history = page_->history();
        const int target = history->currentItemIndex() + offset;
        if (target >= 0 && target < history->count())
            history->goToItem(history->itemAt(target));
    }

    void fullScreen(QWebEngineFullScreenRequest request)
    {
        if (!view_) {
            request.reject();
            return;
        }
        if (request.toggleOn()) {
            if (fullScreen_)
                return request.accept();
            request.accept();
            fullScreen_ = new FullScreenWindow(view_);
            eventRegistry().fullscreenEntered(view_);
        } else {
            if (!fullScreen_)
                return request.accept();
            request.accept();
            delete fullScreen_.data();
            eventRegistry().fullscreenLeft(view_);
        }
    }

    ProfileState* profile_;
    QPointer<QWebEngineView> view_;
    QPointer<QWebEnginePage> page_;
    QPointer<FullScreenWindow> fullScreen_;
    std::function<void(const std::string&)> titleHandler_;
    int moveCount_ = 0;
};

bool executableAt(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

bool fileAt(const QString& path)
{
    return QFileInfo(path).isFile();
}

} // namespace

// ---- exports -------------------------------------------------------------------------------

extern "C" {

Q_DECL_EXPORT void webview2_startinit(const char* folder)
{
    prepareEngineEnvironment();
    pluginFolder() = folder ? folder : "";
}

Q_DECL_EXPORT const char* webview2_plugin_folder()
{
    return pluginFolder().c_str();
}

// Whether a browser can be started in this process: a widget application, the engine's helper
// process and its resource pack.
Q_DECL_EXPORT int kovarwebview_has_edge()
{
    prepareEngineEnvironment();
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return 0;
#if defined(Q_OS_WIN)
    const QString processName = QStringLiteral("QtWebEngineProcess.exe");
#else
    const QString processName = QStringLiteral("QtWebEngineProcess");
#endif
    const QString appDir = QCoreApplication::applicationDirPath();
    bool process = false;
    if (qEnvironmentVariableIsSet("QTWEBENGINEPROCESS_PATH")) {
        process = executableAt(qEnvironmentVariable("QTWEBENGINEPROCESS_PATH"));
    } else {
        process = executableAt(appDir + QLatin1Char('/') + processName) ||
                  executableAt(QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) +
                               QLatin1Char('/') + processName);
    }
    const QString pack = QStringLiteral("/qtwebengine_resources.pak");
    bool resources = false;
    if (qEnvironmentVariableIsSet("QTWEBENGINE_RESOURCES_PATH")) {
        resources = fileAt(qEnvironmentVariable("QTWEBENGINE_RESOURCES_PATH") + pack);
    } else {
        resources = fileAt(appDir + pack) || fileAt(appDir + QStringLiteral("/resources") + pack) ||
                    fileAt(QLibraryInfo::path(QLibraryInfo::DataPath) +
                           QStringLiteral("/resources") + pack);
    }
    return process && resources ? 1 : 0;
}

Q_DECL_EXPORT int kovarwebview_init(int /*reserved*/, const void* /*optionBytes*/,
                                    int /*optionLength*/, BrowserEnvironment** environment,
                                    BrowserEvents** events, const char* programFolder)
{
    prepareEngineEnvironment();
    if (environment == nullptr || events == nullptr)
        return 0;
    static Environment* env = new Environment(programFolder ? programFolder : "");
    *environment = env;
    *events = &eventRegistry();
    return 1;
}

// GUI thread only. The instance belongs to the caller; its view is a child of parent.
Q_DECL_EXPORT BrowserInstance* kovarwebview_open(QWidget* parent, const char* url,
                                                 const BrowserOptions* options)
{
    prepareEngineEnvironment();
    if (parent == nullptr || !onGuiThread() || kovarwebview_has_edge() == 0)
        return nullptr;
    QString dataFolder;
    if (options != nullptr && options->dataFolder() != nullptr)
        dataFolder = QString::fromUtf8(options->dataFolder());
    else
        dataFolder = QString::fromStdString(pluginFolder());
    ensureSharedContext();
    auto* browser = new Browser(parent, profileFor(dataFolder));
    if (options != nullptr && options->field(BrowserOptions::gestureRuleField) == 1)
        browser->keepGestureRule();
    browser->navigate(url ? url : "about:blank");
    return browser;
}

} // extern "C"
