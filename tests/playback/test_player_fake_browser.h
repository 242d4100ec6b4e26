#pragma once
// A browser instance that stands in for the embedded browser: element texts, markup and presence
// are set by the test, and every operation that acts on the page is recorded as one line
// ("click .dplayer-full-icon 1", "navigate http://…").

#include "bridge/bridge_api.h"
#include "playback/web_view_bridge.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class FakeBrowser : public BrowserInstance {
public:
    std::map<std::string, std::string> texts;  // "selector#index" -> text content
    std::map<std::string, std::string> markup; // "selector#index" -> markup
    std::vector<std::string> calls;
    std::function<void(const std::string&)> titleHandler;
    QWidget* view = nullptr;
    bool hasVideo = true; // whether seekMedia finds a video element

    // The page's first <video>: absent until the test sets video = true. While it is not paused,
    // each read of its state finds it half a second further on.
    bool video = false;
    bool paused = true;
    double time = 0;
    double rate = 1;
    int mediaReads = 0;
    // Called after each recorded call ("click …") and each read of the page ("read …"); a test
    // uses it to play the page's part, or to do what an event run during the call would do.
    std::function<void(const std::string&)> onCall;

    static std::string key(const std::string& selector, int index)
    {
        return selector + "#" + std::to_string(index);
    }
    void setText(const std::string& selector, const std::string& text)
    {
        texts[key(selector, 1)] = text;
    }
    void setMarkup(const std::string& selector, const std::string& html)
    {
        markup[key(selector, 1)] = html;
    }

    QWidget* windowHandle() override { return view; }
    void setBounds(int x, int y, int width, int height) override
    {
        calls.push_back("bounds " + std::to_string(x) + " " + std::to_string(y) + " " +
                        std::to_string(width) + " " + std::to_string(height));
    }
    void clearCache() override { calls.push_back("clearCache"); }
    void reload() override { calls.push_back("reload"); }
    std::string navigate(const std::string& url) override
    {
        record("navigate " + url);
        return {};
    }
    void record(std::string call)
    {
        calls.push_back(call);
        if (onCall)
            onCall(call);
    }
    void read(const std::string& what)
    {
        if (onCall)
            onCall("read " + what);
    }

    std::string elementText(const std::string& selector, int index) override
    {
        read(selector);
        auto it = texts.find(key(selector, index));
        return it == texts.end() ? std::string() : it->second;
    }
    std::string elementHtml(const std::string& selector, int index) override
    {
        auto it = markup.find(key(selector, index));
        return it == markup.end() ? std::string() : it->second;
    }
    bool clickElement(const std::string& selector, int index) override
    {
        record("click " + selector + " " + std::to_string(index));
        return true;
    }
    bool pressElement(const std::string& selector, int index) override
    {
        record("press " + selector + " " + std::to_string(index));
        return true;
    }
    void stepBack(int steps) override { calls.push_back("back " + std::to_string(steps)); }
    void stepForward(int steps) override { calls.push_back("forward " + std::to_string(steps)); }
    bool elementExists(const std::string& selector, int index) override
    {
        read(selector);
        const std::string k = key(selector, index);
        return texts.count(k) != 0 || markup.count(k) != 0;
    }
    std::string cookieText(int) override { return {}; }
    void onTitleChanged(std::function<void(const std::string&)> handler) override
    {
        titleHandler = std::move(handler);
    }
    bool seekMedia(double seconds) override
    {
        calls.push_back("seek " + std::to_string(static_cast<int>(seconds)));
        return hasVideo;
    }

    std::string mediaState() override
    {
        read("video");
        if (!video)
            return {};
        ++mediaReads;
        if (!paused)
            time += 0.5;
        return "{\"paused\":" + std::string(paused ? "true" : "false") +
               ",\"currentTime\":" + std::to_string(time) +
               ",\"duration\":24,\"readyState\":4,\"ended\":false,\"playbackRate\":" +
               std::to_string(rate) + "}";
    }
    bool setMediaRate(double r) override
    {
        record("rate " + std::to_string(r).substr(0, 4));
        if (!video)
            return false;
        rate = r;
        return true;
    }

    // Calls that act on the page, without the bounds lines of resizes.
    std::vector<std::string> pageCalls() const
    {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.rfind("bounds ", 0) != 0)
                out.push_back(c);
        return out;
    }
};

// Hands a new fake to the program's bridge and returns it (the bridge owns it).
inline FakeBrowser* adoptFakeBrowser()
{
    auto* fake = new FakeBrowser;
    webViewBridge().adopt(fake);
    return fake;
}
