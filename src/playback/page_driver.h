#pragma once
// The player window's page driver: everything the program asks of, and does on, the player page
// while the window is open. The start watch after each page load, the poll's reads of the page's
// times, the looks of a waiting seek and the page commands (speed menu, full screen) are each a
// chain of steps: a step asks the page through the bridge's asynchronous operations and the next
// one runs from the answer or from a timer, so the GUI thread only ever runs its own event loop
// and every handler meets the driver between two steps, never inside one. One driver per player
// window, a child of it: destroying the window destroys the driver, which drops every answer
// still on its way. GUI thread only.

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <string>

class PlayerView;
class WebViewBridge;

class PageDriver : public QObject {
    Q_OBJECT
public:
    // view is the window's (null for a driver that only runs page commands).
    PageDriver(WebViewBridge& bridge, PlayerView* view, QObject* parent = nullptr);
    ~PageDriver() override;
    PageDriver(const PageDriver&) = delete;
    PageDriver& operator=(const PageDriver&) = delete;

    // The page has loaded: starts the page's player once it shows, activating its start control
    // only while the video is paused (the pacing and limits in page_driver.cpp). A watch still
    // running for an earlier load ends at once; its answers still on their way are ignored.
    void startWatch();
    bool watching() const { return watch_ != nullptr; }

    // One tick of the main window's 2 s poll. A tick that comes while the previous tick's answers
    // are still outstanding is skipped (the next tick reads the page afresh), so ticks never
    // overlap.
    void poll();

    // One look for the seek that waits for the video to play; the driver's own timer runs it
    // every 500 ms. A look that comes while the previous one is still waiting for the page is
    // skipped.
    void checkSeek();

    // The page commands, run one after another in the order given.
    void setSpeed(int speed); // 1 to 6 of kSpeedTable; other numbers do nothing
    void toggleFullscreen();
    // Back (negative) or forward in the page's history, after the commands before it.
    void stepHistory(int steps);

    // Reads the page's elapsed and total seconds from whichever player the page has:
    // done(read, elapsed, duration), read false when the page shows neither.
    void readTimes(std::function<void(bool, int, int)> done);

    // Whether a page conversation is under way (a watch, a tick, a look or a command).
    bool busy() const;

private:
    struct Watch;
    struct Look;
    using Command = std::function<void(std::function<void()> done)>;

    bool stillWanted(unsigned generation) const;
    void look(unsigned generation);
    void evaluate(unsigned generation, const Look& look);
    void activate(unsigned generation, const Look& look);
    void scheduleLook(unsigned generation);
    void finishWatch(bool started);
    void applyPoll(const std::string& dExists, const std::string& dElapsed,
                   const std::string& dTotal, const std::string& aExists,
                   const std::string& aElapsed, const std::string& aTotal);
    void positionTick();
    void enqueue(Command command);
    void runNextCommand();

    WebViewBridge& bridge_;
    PlayerView* view_;
    std::unique_ptr<Watch> watch_;
    unsigned generation_ = 0; // of the newest watch
    bool polling_ = false;
    bool seekLooking_ = false;
    QTimer seekTimer_;
    std::deque<Command> commands_;
    bool commandRunning_ = false;
};
