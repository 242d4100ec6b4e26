#pragma once
// What the program and the WebView2Plus bridge library share: the browser options record, the
// notification registry, the browser instance's operation table and the signatures of the four
// exports. The program never links the library; it loads the file and looks the exports up by name.
//
// Both sides are built by this project with one compiler and one C++ library, so the objects that
// cross the boundary are C++ interfaces (their virtual tables are the operation tables) and texts
// are UTF-8 std::string values. Every call except BrowserInstance::cookieText must come from the
// GUI thread; the library calls every registered handler on the GUI thread, from the event loop.

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

// The forms of BrowserInstance::cookieText. kCookiePairs (1): every cookie of the browser as one
// Cookie header value, "name=value; name2=value2". kCookieFile (2): every cookie as a line of the
// Netscape cookie-file format (net/cookie_file.h), lines separated by "\n", with its domain, path,
// Secure and HttpOnly flags and expiry, for a cookie engine that sends each only where it belongs.
inline constexpr int kCookiePairs = 1;
inline constexpr int kCookieFile = 2;

// 27 consecutive fields, all 0 except field 7 (counting from 1), the address of the data-folder
// text, and field 15, which is 1. The fields are pointer-sized so that the address fits.
// Field 16, when 1, keeps the browser's usual rule that a page may start media only after a user
// gesture (the program leaves it 0: pages may start their video by themselves); it lets a test
// see a page whose autoplay the browser refuses.
struct BrowserOptions {
    static constexpr int fieldCount = 27;
    static constexpr int dataFolderField = 7;
    static constexpr int flagField = 15;
    static constexpr int gestureRuleField = 16;

    std::intptr_t fields[fieldCount] = {};

    std::intptr_t& field(int number) { return fields[number - 1]; }
    std::intptr_t field(int number) const { return fields[number - 1]; }
    // The data folder the browser keeps its profile in; nullptr when the field is 0.
    const char* dataFolder() const
    {
        // The record's fields carry pointers as integers by design of the options record.
        return reinterpret_cast<const char*>( // NOLINT(performance-no-int-to-ptr)
            field(dataFolderField));
    }
};

// Registry of the three page notifications; a later registration replaces the earlier handler.
// The registrations apply to every browser instance the library opens.
class BrowserEvents {
public:
    virtual void onPageLoaded(std::function<void()> handler) = 0;
    virtual void onFullscreenEntered(std::function<void()> handler) = 0;
    virtual void onFullscreenLeft(std::function<void()> handler) = 0;

protected:
    ~BrowserEvents() = default; // owned by the library for the life of the process
};

// The environment object handed out by initialisation; the program keeps it and does not use it.
class BrowserEnvironment {
protected:
    ~BrowserEnvironment() = default;
};

// One embedded browser hosted in a parent widget. Selectors are CSS selectors, indexes count from
// 1; an element that does not exist gives the empty text or false.
class BrowserInstance {
public:
    // The widget that shows the page: the browser view, or while the page is full screen the
    // top-level window that holds it.
    virtual QWidget* windowHandle() = 0;
    virtual void setBounds(int x, int y, int width, int height) = 0;
    virtual void clearCache() = 0;
    virtual void reload() = 0;
    virtual std::string navigate(const std::string& url) = 0;
    virtual std::string elementText(const std::string& selector, int index) = 0;
    virtual std::string elementHtml(const std::string& selector, int index) = 0;
    virtual bool clickElement(const std::string& selector, int index) = 0;
    virtual bool pressElement(const std::string& selector, int index) = 0;
    virtual void stepBack(int steps) = 0;
    virtual void stepForward(int steps) = 0;
    virtual bool elementExists(const std::string& selector, int index) = 0;
    // Safe from any thread; off the GUI thread it waits a bounded time for the GUI thread's answer.
    // flag: kCookiePairs or kCookieFile; any other value gives the kCookiePairs form.
    virtual std::string cookieText(int flag) = 0;
    virtual void onTitleChanged(std::function<void(const std::string&)> handler) = 0;
    // Sets the playing position of the page's first <video> element to seconds (finite, not
    // negative). The page script is fixed; only the number reaches it. True when the page has a
    // video element and took the position.
    virtual bool seekMedia(double seconds) = 0;

    // The state of the page's first <video>, read by a fixed script that takes no text from the
    // page or the caller: a JSON object {"paused", "currentTime", "duration", "readyState",
    // "ended", "playbackRate"} (numbers that are not finite are null), or the empty text when the
    // page has no <video> or does not answer.
    virtual std::string mediaState() { return {}; }
    // Sets the playback rate of the page's first <video> (fixed script, the rate passed as a
    // number); false when there is no <video>.
    virtual bool setMediaRate(double /*rate*/) { return false; }

    // Deleting the instance closes its browser view; it must happen on the GUI thread.
    virtual ~BrowserInstance() = default;
};

// Signatures of the exports, looked up by these names.
using WebView2StartInitFn = void (*)(const char* folder);
using KovarHasEdgeFn = int (*)();
using KovarInitFn = int (*)(int reserved, const void* optionBytes, int optionLength,
                            BrowserEnvironment** environment, BrowserEvents** events,
                            const char* programFolder);
using KovarOpenFn = BrowserInstance* (*)(QWidget* parent, const char* url,
                                         const BrowserOptions* options);

inline constexpr const char* webview2StartInitName = "webview2_startinit";
inline constexpr const char* kovarHasEdgeName = "kovarwebview_has_edge";
inline constexpr const char* kovarInitName = "kovarwebview_init";
inline constexpr const char* kovarOpenName = "kovarwebview_open";

// An extra export the program does not call: the folder the start call was given (empty before it).
using WebView2PluginFolderFn = const char* (*)();
inline constexpr const char* webview2PluginFolderName = "webview2_plugin_folder";
