#include "playback/page_driver.h"

#include "app/status_log.h"
#include "playback/history.h"
#include "playback/page_commands.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/player_view.h"
#include "playback/watch_position.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"
#include "util/text_number.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <utility>

namespace {

// The last elapsed and total time the poll read (kept until a later tick reads the page again).
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

// Pages to start: the two players, told apart by their elements.
enum class PageKind { Unknown, Dplayer, Aliplayer };

constexpr const char* kDplayerPlayButton = ".dplayer-play-icon";
constexpr const char* kDplayerVideoWrap = ".dplayer-video-wrap";
constexpr const char* kAliplayerRoot = ".prism-player";
constexpr const char* kAliplayerPlayButton = ".prism-play-btn";

// How the watch paces itself: a look at the page every kStartStepMs (every kStartEarlyStepMs
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
// A waiting seek looks at the page this often.
constexpr int kSeekWatchMs = 500;

// The rates of speeds 1 to 6.
constexpr double kSpeedRates[6] = {0.5, 0.75, 1.0, 1.25, 1.5, 2.0};

struct MediaState {
    bool present = false;
    bool paused = true;
    bool ended = false;
    double currentTime = 0;
    int readyState = 0;
    double rate = 0;
};

MediaState parseMediaState(const std::string& text)
{
    MediaState state;
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

// Several answers asked for together: then runs once the last of them has come.
struct Join {
    int outstanding = 0;
    std::function<void()> then;
    void arrive()
    {
        if (--outstanding == 0 && then)
            std::exchange(then, nullptr)();
    }
};

// Starts the next episode of the play list after the current one, if there is one.
void jumpToNextEpisode(WebViewBridge& bridge)
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
        if (acceptedPlayerAddress(url))
            bridge.navigate(url);
        armOpeningSkip();
        return;
    }
}

} // namespace

// The state of one start watch.
struct PageDriver::Watch {
    unsigned generation = 0;
    QElapsedTimer clock;
    PageKind kind = PageKind::Unknown;
    bool sawVideo = false;
    double lastTime = -1; // the video's time at the previous look, -1 when not known
    int lastShown = -1;   // the elapsed time the page showed at the previous look
    int activations = 0;
    qint64 lastActivation = -1;
    int chance = 0; // the sponsor window's draw
};

// What one look of the watch reads, all asked for at once.
struct PageDriver::Look {
    std::string notice;
    std::string bezelIcon;
    bool videoWrap = false;
    std::string bigPlay;
    bool aliplayerRoot = false;
    bool playButton = false;
    std::string media;
    std::string dplayerElapsed;
    std::string aliplayerElapsed;
};

PageDriver::PageDriver(WebViewBridge& bridge, PlayerView* view, QObject* parent)
        : QObject(parent), bridge_(bridge), view_(view)
{
    seekTimer_.setInterval(kSeekWatchMs);
    connect(&seekTimer_, &QTimer::timeout, this, [this] { checkSeek(); });
    seekTimer_.start();
}

PageDriver::~PageDriver() = default;

bool PageDriver::busy() const
{
    return watch_ != nullptr || polling_ || seekLooking_ || commandRunning_ || !commands_.empty();
}

// ---- the start watch -------------------------------------------------------------------------

void PageDriver::startWatch()
{
    gui::assertGuiThread();
    watch_ = std::make_unique<Watch>();
    watch_->generation = ++generation_;
    const PlayerServices& services = playerServices();
    watch_->chance = services.drawSponsorChance ? services.drawSponsorChance() : 0;
    watch_->clock.start();
    look(watch_->generation);
}

bool PageDriver::stillWanted(unsigned generation) const
{
    return watch_ != nullptr && watch_->generation == generation &&
           pending() != PendingAction::None;
}

void PageDriver::look(unsigned generation)
{
    if (watch_ == nullptr || watch_->generation != generation)
        return;
    if (!stillWanted(generation)) {
        watch_.reset(); // started elsewhere, or given up on: nothing to report
        return;
    }
    if (watch_->clock.elapsed() >= kStartLimitMs) {
        finishWatch(false);
        return;
    }
    auto answers = std::make_shared<Look>();
    auto join = std::make_shared<Join>();
    join->outstanding = 9;
    join->then = [this, generation, answers] { evaluate(generation, *answers); };
    auto text = [join](std::string& into) {
        return [join, &into](const std::string& t) {
            into = t;
            join->arrive();
        };
    };
    auto flag = [join](bool& into) {
        return [join, &into](bool b) {
            into = b;
            join->arrive();
        };
    };
    Look& a = *answers;
    bridge_.elementText(kRemovedNoticeSelector, 1, this, text(a.notice));
    bridge_.elementHtml(kDplayerBezelIcon, 1, this, text(a.bezelIcon));
    bridge_.elementExists(kDplayerVideoWrap, 1, this, flag(a.videoWrap));
    bridge_.elementHtml(kAliplayerBigPlay, 1, this, text(a.bigPlay));
    bridge_.elementExists(kAliplayerRoot, 1, this, flag(a.aliplayerRoot));
    bridge_.elementExists(kDplayerPlayButton, 1, this, flag(a.playButton));
    bridge_.mediaState(this, text(a.media));
    bridge_.elementText(kDplayerElapsed, 1, this, text(a.dplayerElapsed));
    bridge_.elementText(kAliplayerElapsed, 1, this, text(a.aliplayerElapsed));
}

void PageDriver::evaluate(unsigned generation, const Look& look)
{
    if (watch_ == nullptr || watch_->generation != generation)
        return;
    Watch& w = *watch_;
    if (contains(look.notice, kRemovedNoticeText)) {
        // The stream address on the player page instead, unless that is the page showing the
        // notice (or there is none): loading it again would only show it again.
        watch_.reset();
        const PlayingEpisode playing = playbackState.episode();
        const std::string alternative = playerPageEndpoint() + playing.currentM3u8;
        if (!playing.currentM3u8.empty() && alternative != playing.currentUrl) {
            if (acceptedPlayerAddress(alternative))
                bridge_.navigate(alternative);
        } else {
            logStatus(std::string(kRemovedNoticeText) + ", 没有其他播放地址");
        }
        return;
    }
    if (w.kind == PageKind::Unknown) {
        if (contains(look.bezelIcon, kDplayerBezelIconShown) || look.videoWrap)
            w.kind = PageKind::Dplayer;
        else if (contains(look.bigPlay, kAliplayerBigPlayShown) || look.aliplayerRoot)
            w.kind = PageKind::Aliplayer;
    }
    if (w.kind != PageKind::Unknown) {
        // Playing: the video runs and its time moves on, or the page's elapsed time does.
        const MediaState media = parseMediaState(look.media);
        const std::vector<std::string> parts =
            splitTime(w.kind == PageKind::Aliplayer ? look.aliplayerElapsed : look.dplayerElapsed);
        const int shown = parts.size() >= 2 ? seconds(parts) : -1;
        if (media.present) {
            w.sawVideo = true;
            if (media.ended ||
                (!media.paused && w.lastTime >= 0 && media.currentTime > w.lastTime)) {
                finishWatch(true);
                return;
            }
        }
        if (w.lastShown >= 0 && shown > w.lastShown && !(media.present && media.paused)) {
            finishWatch(true);
            return;
        }
        w.lastTime = media.present && !media.paused ? media.currentTime : -1;
        w.lastShown = shown;

        // A paused video is started; a video that was asked to play (autoplay, or an earlier
        // activation) is left to start, so that a click never toggles it back into pause. Where
        // the video cannot be read, Aliplayer's big play button tells that it waits.
        const bool waiting = media.present ? media.paused
                                           : w.kind == PageKind::Aliplayer &&
                                                 contains(look.bigPlay, kAliplayerBigPlayShown);
        const qint64 now = w.clock.elapsed();
        const bool due = w.lastActivation < 0 ? media.readyState >= 1 || now >= kStartGraceMs
                                              : now - w.lastActivation >= kStartConfirmMs;
        // Every activation used and the last one did not start it either: give up now.
        if (waiting && due && w.activations >= kStartActivations) {
            finishWatch(false);
            return;
        }
        if (waiting && due) {
            activate(generation, look);
            return;
        }
    }
    scheduleLook(generation);
}

// Activates the page's start control the way a user would, with a click the browser takes as a
// user gesture where the control can be reached. Only called while the video is paused: on both
// players the controls toggle, so activating them on a playing video would pause it.
void PageDriver::activate(unsigned generation, const Look& look)
{
    auto activated = [this, generation](bool) {
        if (watch_ == nullptr || watch_->generation != generation)
            return;
        ++watch_->activations;
        watch_->lastActivation = watch_->clock.elapsed();
        watch_->lastTime = -1;
        watch_->lastShown = -1;
        scheduleLook(generation);
    };
    if (watch_->kind == PageKind::Dplayer) {
        if (look.playButton)
            bridge_.clickElement(kDplayerPlayButton, 1, this, activated);
        else
            bridge_.pressElement(kDplayerBezel, 1, this, activated);
        return;
    }
    if (contains(look.bigPlay, kAliplayerBigPlayShown))
        bridge_.clickElement(kAliplayerBigPlay, 1, this, activated);
    else
        bridge_.clickElement(kAliplayerPlayButton, 1, this, activated);
}

void PageDriver::scheduleLook(unsigned generation)
{
    if (!stillWanted(generation)) {
        if (watch_ != nullptr && watch_->generation == generation)
            watch_.reset();
        return;
    }
    const int step = watch_->activations == 0 ? kStartEarlyStepMs : kStartStepMs;
    QTimer::singleShot(step, this, [this, generation] { look(generation); });
}

void PageDriver::finishWatch(bool started)
{
    const Watch w = *watch_;
    watch_.reset();
    if (pending() == PendingAction::None)
        return;
    setPending(PendingAction::None);
    if (!started) {
        std::string reason;
        if (w.kind == PageKind::Unknown)
            reason = "页面上没有找到可识别的播放器";
        else if (!w.sawVideo)
            reason = "播放页上没有视频";
        else if (w.activations >= kStartActivations)
            reason = "点击播放 " + std::to_string(w.activations) + " 次后视频仍未前进";
        else
            reason = "视频在 " + std::to_string(kStartLimitMs / 1000) + " 秒内没有前进";
        logStatus("播放未能开始: " + reason);
        return;
    }
    const PlayerServices& services = playerServices();
    if (w.chance == 8 && !(services.sponsorWindowOpen && services.sponsorWindowOpen()) &&
        services.openSponsorWindow)
        services.openSponsorWindow(parent()); // modal: the driver is between steps meanwhile
}

// ---- the poll --------------------------------------------------------------------------------

void PageDriver::poll()
{
    gui::assertGuiThread();
    if (view_ == nullptr || polling_)
        return;
    if (!view_->continuousPlay()) {
        positionTick(); // the history keeps the position without continuous play too
        return;
    }
    polling_ = true;
    struct Times {
        bool dExists = false, aExists = false;
        std::string dElapsed, dTotal, aElapsed, aTotal;
    };
    auto t = std::make_shared<Times>();
    auto join = std::make_shared<Join>();
    join->outstanding = 6;
    join->then = [this, t] {
        polling_ = false;
        applyPoll(t->dExists ? "1" : "", t->dElapsed, t->dTotal, t->aExists ? "1" : "", t->aElapsed,
                  t->aTotal);
    };
    auto text = [join](std::string& into) {
        return [join, &into](const std::string& s) {
            into = s;
            join->arrive();
        };
    };
    auto flag = [join](bool& into) {
        return [join, &into](bool b) {
            into = b;
            join->arrive();
        };
    };
    bridge_.elementExists(kDplayerElapsed, 1, this, flag(t->dExists));
    bridge_.elementText(kDplayerElapsed, 1, this, text(t->dElapsed));
    bridge_.elementText(kDplayerTotal, 1, this, text(t->dTotal));
    bridge_.elementExists(kAliplayerElapsed, 1, this, flag(t->aExists));
    bridge_.elementText(kAliplayerElapsed, 1, this, text(t->aElapsed));
    bridge_.elementText(kAliplayerTotal, 1, this, text(t->aTotal));
}

void PageDriver::applyPoll(const std::string& dExists, const std::string& dElapsed,
                           const std::string& dTotal, const std::string& aExists,
                           const std::string& aElapsed, const std::string& aTotal)
{
    if (!dExists.empty()) {
        g_timeParts = splitTime(dElapsed);
        g_durationParts = splitTime(dTotal);
    }
    if (!aExists.empty()) {
        g_timeParts = splitTime(aElapsed);
        g_durationParts = splitTime(aTotal);
    }
    int cur = 0;
    int dur = 0;
    int remaining = 0;
    if (g_timeParts.size() >= 2 && g_durationParts.size() >= 2) {
        cur = seconds(g_timeParts);
        dur = seconds(g_durationParts);
        remaining = dur - cur;
    }
    noteWatchPosition(cur, dur);
    int limit = textToInt(view_->thresholdText());
    // The jump zone includes the clip's very end: a tick that missed the last seconds (the poll
    // runs every 2 s, and a modal window can hold it longer) still moves on to the next episode.
    if (remaining < limit && cur <= dur && dur > 0) {
        if (limit > dur || limit > static_cast<int>(dur * 0.8)) {
            // A threshold the clip cannot hold becomes a tenth of it ("12.3" for 123 s); the
            // tick only jumps if the clip is inside the new threshold too.
            view_->setThresholdText(QString::number(dur / 10.0).toStdString());
            limit = textToInt(view_->thresholdText());
        }
        if (remaining < limit) {
            if (playList()->size() == 3) {
                logStatus("这是最后一集,将会结束播放");
                return;
            }
            if (pending() == PendingAction::None)
                jumpToNextEpisode(bridge_);
            startHistorySave();
        }
    }
    view_->setCountdown(std::to_string(dur - cur - textToInt(view_->thresholdText())));
}

void PageDriver::positionTick()
{
    if (!positionWanted()) {
        forgetPosition();
        return;
    }
    polling_ = true;
    readTimes([this](bool read, int elapsed, int duration) {
        polling_ = false;
        if (read && positionWanted())
            noteWatchPosition(elapsed, duration);
        else
            forgetPosition();
    });
}

void PageDriver::readTimes(std::function<void(bool, int, int)> done)
{
    struct Times {
        bool aExists = false, dExists = false;
        std::string aElapsed, aTotal, dElapsed, dTotal;
    };
    auto t = std::make_shared<Times>();
    auto join = std::make_shared<Join>();
    join->outstanding = 6;
    join->then = [t, done = std::move(done)] {
        std::vector<std::string> time;
        std::vector<std::string> total;
        if (t->aExists) {
            time = splitTime(t->aElapsed);
            total = splitTime(t->aTotal);
        } else if (t->dExists) {
            time = splitTime(t->dElapsed);
            total = splitTime(t->dTotal);
        }
        if (time.size() < 2 || total.size() < 2)
            done(false, 0, 0);
        else
            done(true, seconds(time), seconds(total));
    };
    auto text = [join](std::string& into) {
        return [join, &into](const std::string& s) {
            into = s;
            join->arrive();
        };
    };
    auto flag = [join](bool& into) {
        return [join, &into](bool b) {
            into = b;
            join->arrive();
        };
    };
    bridge_.elementExists(kAliplayerElapsed, 1, this, flag(t->aExists));
    bridge_.elementText(kAliplayerElapsed, 1, this, text(t->aElapsed));
    bridge_.elementText(kAliplayerTotal, 1, this, text(t->aTotal));
    bridge_.elementExists(kDplayerElapsed, 1, this, flag(t->dExists));
    bridge_.elementText(kDplayerElapsed, 1, this, text(t->dElapsed));
    bridge_.elementText(kDplayerTotal, 1, this, text(t->dTotal));
}

// ---- the waiting seek ------------------------------------------------------------------------

void PageDriver::checkSeek()
{
    gui::assertGuiThread();
    if (seekLooking_ || !seekLookWanted())
        return;
    seekLooking_ = true;
    readTimes([this](bool read, int elapsed, int duration) {
        const int target = seekLookTarget(read, elapsed, duration);
        if (target < 0) {
            seekLooking_ = false;
            return;
        }
        bridge_.seekMedia(static_cast<double>(target), this, [this, target](bool sought) {
            seekLooking_ = false;
            seekMade(sought, target);
        });
    });
}

// ---- page commands ---------------------------------------------------------------------------

void PageDriver::enqueue(Command command)
{
    commands_.push_back(std::move(command));
    if (!commandRunning_)
        runNextCommand();
}

void PageDriver::runNextCommand()
{
    if (commands_.empty()) {
        commandRunning_ = false;
        return;
    }
    commandRunning_ = true;
    Command command = std::move(commands_.front());
    commands_.pop_front();
    command([this] { runNextCommand(); });
}

void PageDriver::setSpeed(int speed)
{
    gui::assertGuiThread();
    if (speed < 1 || speed > 6)
        return;
    enqueue([this, speed](std::function<void()> done) {
        const SpeedCommand& command = kSpeedTable[speed - 1];
        const int item = command.item;
        const char* message = command.message;
        bridge_.clickElement(kDplayerSpeedItem, item, this, [this, speed, message, done](bool) {
            bridge_.clickElement(
                kDplayerCurrentSetting, 1, this, [this, speed, message, done](bool) {
                    // A page whose menu lacks this speed (Aliplayer has no 0.75 and other item
                    // positions) has its video set to the rate directly.
                    bridge_.mediaState(this,
                                       [this, speed, message, done](const std::string& state) {
                                           const double rate = kSpeedRates[speed - 1];
                                           const double now = parseMediaState(state).rate;
                                           auto finish = [message, done](bool) {
                                               logStatus(message);
                                               done();
                                           };
                                           if (now > 0 && std::abs(now - rate) > 0.01)
                                               bridge_.setMediaRate(rate, this, finish);
                                           else
                                               finish(true);
                                       });
                });
        });
    });
}

void PageDriver::toggleFullscreen()
{
    gui::assertGuiThread();
    enqueue([this](std::function<void()> done) {
        bridge_.clickElement(kDplayerFullscreen, 1, this, [this, done](bool) {
            bridge_.clickElement(kAliplayerFullscreen, 1, this, [done](bool) { done(); });
        });
    });
}

void PageDriver::stepHistory(int steps)
{
    gui::assertGuiThread();
    enqueue([this, steps](std::function<void()> done) {
        if (steps < 0)
            bridge_.stepBack(-steps);
        else if (steps > 0)
            bridge_.stepForward(steps);
        done();
    });
}

const std::vector<std::string>& lastTimeParts()
{
    return g_timeParts;
}

const std::vector<std::string>& lastDurationParts()
{
    return g_durationParts;
}
