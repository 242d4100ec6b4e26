#pragma once
// The program's handle on the embedded browser. Until a browser is opened it is a placeholder
// whose every operation does nothing and gives 0, false or the empty text; an open hands it the
// library's browser instance, which from then on carries out every operation.

#include "bridge/bridge_api.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QWidget;

class WebViewBridge {
public:
    WebViewBridge();
    ~WebViewBridge();
    WebViewBridge(const WebViewBridge&) = delete;
    WebViewBridge& operator=(const WebViewBridge&) = delete;

    // GUI thread. Takes ownership of instance (nullptr is ignored) and drops the previous one.
    void adopt(BrowserInstance* instance);
    // Whether no browser has been adopted yet.
    bool isPlaceholder() const;

    // The browser operations; GUI thread, except cookieText. Selectors are CSS selectors,
    // indexes count from 1.
    QWidget* windowHandle();
    void setBounds(int x, int y, int width, int height);
    void clearCache();
    void reload();
    std::string navigate(const std::string& url);
    std::string elementText(const std::string& selector, int index);
    std::string elementHtml(const std::string& selector, int index);
    bool clickElement(const std::string& selector, int index);
    bool pressElement(const std::string& selector, int index);
    void stepBack(int steps = 1);
    void stepForward(int steps = 1);
    bool elementExists(const std::string& selector, int index);
    // Any thread (the download run calls it from its own).
    std::string cookieText(int flag = 1);
    void onTitleChanged(std::function<void(const std::string&)> handler);
    // Sets the position of the page's first video element; true when the page took it.
    bool seekMedia(double seconds);
    // The page's first <video> as JSON text (empty when there is none); sets its rate.
    std::string mediaState();
    bool setMediaRate(double rate);

private:
    std::shared_ptr<BrowserInstance> current() const;

    // Guards instance_: the GUI thread replaces it while the download thread may be reading it.
    mutable std::mutex lock_;
    std::shared_ptr<BrowserInstance> instance_;
};

// The program's one bridge.
WebViewBridge& webViewBridge();
