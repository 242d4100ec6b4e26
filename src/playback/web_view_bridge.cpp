#include "playback/web_view_bridge.h"

#include "util/gui_call.h"

namespace {

// The operation table before the first open: nothing happens, every answer is empty.
class PlaceholderBrowser final : public BrowserInstance {
public:
    QWidget* windowHandle() override { return nullptr; }
    void setBounds(int, int, int, int) override {}
    void clearCache() override {}
    void reload() override {}
    std::string navigate(const std::string&) override { return {}; }
    std::string elementText(const std::string&, int) override { return {}; }
    std::string elementHtml(const std::string&, int) override { return {}; }
    bool clickElement(const std::string&, int) override { return false; }
    bool pressElement(const std::string&, int) override { return false; }
    void stepBack(int) override {}
    void stepForward(int) override {}
    bool elementExists(const std::string&, int) override { return false; }
    std::string cookieText(int) override { return {}; }
    void onTitleChanged(std::function<void(const std::string&)>) override {}
    bool seekMedia(double) override { return false; }
};

// A browser instance owns widgets, so the last reference, wherever it is dropped, deletes it on
// the GUI thread. Once the application is gone (the program-wide bridge is destroyed at exit)
// widgets can no longer be deleted, and the process is ending anyway.
void deleteOnGuiThread(BrowserInstance* instance)
{
    if (QCoreApplication::instance() == nullptr)
        return;
    gui::post(QCoreApplication::instance(), [instance] { delete instance; });
}

} // namespace

WebViewBridge::WebViewBridge() : instance_(std::make_shared<PlaceholderBrowser>())
{}

WebViewBridge::~WebViewBridge() = default;

void WebViewBridge::adopt(BrowserInstance* instance)
{
    gui::assertGuiThread();
    if (instance == nullptr)
        return;
    std::shared_ptr<BrowserInstance> adopted(instance, deleteOnGuiThread);
    std::shared_ptr<BrowserInstance> previous;
    {
        std::lock_guard guard(lock_);
        previous = std::exchange(instance_, std::move(adopted));
    }
    // previous goes out of scope here, outside the lock.
}

bool WebViewBridge::isPlaceholder() const
{
    return dynamic_cast<PlaceholderBrowser*>(current().get()) != nullptr;
}

std::shared_ptr<BrowserInstance> WebViewBridge::current() const
{
    std::lock_guard guard(lock_);
    return instance_;
}

QWidget* WebViewBridge::windowHandle()
{
    gui::assertGuiThread();
    return current()->windowHandle();
}

void WebViewBridge::setBounds(int x, int y, int width, int height)
{
    gui::assertGuiThread();
    current()->setBounds(x, y, width, height);
}

void WebViewBridge::clearCache()
{
    gui::assertGuiThread();
    current()->clearCache();
}

void WebViewBridge::reload()
{
    gui::assertGuiThread();
    current()->reload();
}

std::string WebViewBridge::navigate(const std::string& url)
{
    gui::assertGuiThread();
    return current()->navigate(url);
}

std::string WebViewBridge::elementText(const std::string& selector, int index)
{
    gui::assertGuiThread();
    return current()->elementText(selector, index);
}

std::string WebViewBridge::elementHtml(const std::string& selector, int index)
{
    gui::assertGuiThread();
    return current()->elementHtml(selector, index);
}

bool WebViewBridge::clickElement(const std::string& selector, int index)
{
    gui::assertGuiThread();
    return current()->clickElement(selector, index);
}

bool WebViewBridge::pressElement(const std::string& selector, int index)
{
    gui::assertGuiThread();
    return current()->pressElement(selector, index);
}

void WebViewBridge::stepBack(int steps)
{
    gui::assertGuiThread();
    current()->stepBack(steps);
}

void WebViewBridge::stepForward(int steps)
{
    gui::assertGuiThread();
    current()->stepForward(steps);
}

bool WebViewBridge::elementExists(const std::string& selector, int index)
{
    gui::assertGuiThread();
    return current()->elementExists(selector, index);
}

std::string WebViewBridge::cookieText(int flag)
{
    return current()->cookieText(flag);
}

void WebViewBridge::onTitleChanged(std::function<void(const std::string&)> handler)
{
    gui::assertGuiThread();
    current()->onTitleChanged(std::move(handler));
}

bool WebViewBridge::seekMedia(double seconds)
{
    gui::assertGuiThread();
    return current()->seekMedia(seconds);
}

std::string WebViewBridge::mediaState()
{
    gui::assertGuiThread();
    return current()->mediaState();
}

bool WebViewBridge::setMediaRate(double rate)
{
    gui::assertGuiThread();
    return current()->setMediaRate(rate);
}

WebViewBridge& webViewBridge()
{
    static WebViewBridge bridge;
    return bridge;
}
