#include "playback/watch_position.h"

#include "app/player_form.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "playback/history.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"
#include "util/text_number.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How often, and how many times at most, a waiting seek looks at the page (two minutes).
constexpr int kSeekWatchMs = 500;
constexpr int kSeekWatchLooks = 240;

std::function<Clock::time_point()> g_clock;

Clock::time_point now()
{
    return g_clock ? g_clock() : Clock::now();
}

// The seek waiting for the video to play.
struct PendingSeek {
    bool armed = false;
    SeekKind kind = SeekKind::Opening;
    int seconds = 0;   // the stored position of a resume
    int baseline = -1; // the first elapsed second read after the player was started
    int looks = 0;
};
PendingSeek g_seek;
bool g_looking = false; // a look is running (the page reads let other events run meanwhile)
QTimer* g_seekTimer = nullptr;

// Position tracking of the playing episode.
int g_lastElapsed = -1; // elapsed second of the previous poll, -1 for none
std::optional<Clock::time_point> g_lastSave;

bool playerStarted()
{
    return playbackState.pendingAction.load() == static_cast<int>(PendingAction::None);
}

// The page's elapsed and total seconds, from whichever of the two players the page has; false
// when it shows neither.
bool readPageTimes(int& elapsed, int& duration)
{
    WebViewBridge& bridge = webViewBridge();
    std::vector<std::string> time;
    std::vector<std::string> total;
    if (bridge.elementExists(kAliplayerElapsed, 1)) {
        time = splitTime(bridge.elementText(kAliplayerElapsed, 1));
        total = splitTime(bridge.elementText(kAliplayerTotal, 1));
    } else if (bridge.elementExists(kDplayerElapsed, 1)) {
        time = splitTime(bridge.elementText(kDplayerElapsed, 1));
        total = splitTime(bridge.elementText(kDplayerTotal, 1));
    }
    if (time.size() < 2 || total.size() < 2)
        return false;
    elapsed = seconds(time);
    duration = seconds(total);
    return true;
}

int jumpThreshold()
{
    const PlayerForm* player = playerForm();
    return player != nullptr ? textToInt(player->编辑框_尾->text().toStdString()) : 0;
}

void stopWatching()
{
    g_seek = PendingSeek{};
    if (g_seekTimer != nullptr)
        g_seekTimer->stop();
}

void arm(SeekKind kind, int seconds)
{
    g_seek = PendingSeek{};
    g_seek.armed = true;
    g_seek.kind = kind;
    g_seek.seconds = seconds;
    // A new episode: its first position save comes one interval after its start.
    g_lastElapsed = -1;
    g_lastSave = now();
    if (g_seekTimer == nullptr) {
        g_seekTimer = new QTimer;
        g_seekTimer->setInterval(kSeekWatchMs);
        QObject::connect(g_seekTimer, &QTimer::timeout, [] { checkPendingSeek(); });
    }
    g_seekTimer->start();
}

} // namespace

int seekTarget(SeekKind kind, int seconds, int duration, int threshold)
{
    if (seconds <= 0 || duration <= 0)
        return -1;
    // The poll replaces a threshold the clip cannot hold by a tenth of the clip.
    if (threshold > duration || threshold > static_cast<int>(duration * 0.8))
        threshold = duration / 10;
    if (duration - seconds < threshold)
        return -1;
    if (kind == SeekKind::Opening)
        return seconds;
    const int target = seconds - kResumeLeadSeconds;
    return target > 0 ? target : -1;
}

void armResumeSeek(int seconds)
{
    gui::assertGuiThread();
    arm(SeekKind::Resume, seconds);
    if (seconds <= 0)
        stopWatching(); // starts from the beginning, without an opening skip
}

void armOpeningSkip()
{
    gui::assertGuiThread();
    arm(SeekKind::Opening, 0);
}

bool seekPending()
{
    return g_seek.armed;
}

void checkPendingSeek()
{
    gui::assertGuiThread();
    if (!g_seek.armed || g_looking)
        return;
    if (playerForm() == nullptr || ++g_seek.looks > kSeekWatchLooks) {
        stopWatching();
        return;
    }
    if (!playerStarted()) {
        g_seek.baseline = -1;
        return;
    }
    g_looking = true;
    int elapsed = 0;
    int duration = 0;
    const bool read = readPageTimes(elapsed, duration);
    g_looking = false;
    // The page was left, or another start was armed, while it was read.
    if (!g_seek.armed || playerForm() == nullptr || !playerStarted())
        return;
    if (!read || duration <= 0)
        return;
    if (g_seek.baseline < 0 || elapsed < g_seek.baseline) {
        g_seek.baseline = elapsed;
        return;
    }
    if (elapsed == g_seek.baseline)
        return; // not playing yet
    const SeekKind kind = g_seek.kind;
    const int wanted = kind == SeekKind::Resume ? g_seek.seconds : openingSeconds();
    const int target = seekTarget(kind, wanted, duration, jumpThreshold());
    if (target < 0 || (kind == SeekKind::Opening && target <= elapsed)) {
        stopWatching();
        return;
    }
    g_looking = true;
    const bool sought = webViewBridge().seekMedia(static_cast<double>(target));
    g_looking = false;
    if (!sought)
        return; // no video element yet: the next look tries again
    stopWatching();
    g_lastElapsed = -1;
    if (kind == SeekKind::Resume)
        logStatus("已跳到上次观看位置 " + minutesSeconds(target));
}

void noteWatchPosition(int elapsed, int duration)
{
    gui::assertGuiThread();
    if (g_seek.armed || playerForm() == nullptr || !playerStarted() || playingSeries().empty() ||
        duration <= 0) {
        g_lastElapsed = -1;
        return;
    }
    const bool moved = g_lastElapsed >= 0 && elapsed != g_lastElapsed;
    g_lastElapsed = elapsed;
    if (!moved)
        return; // paused, stalled, or the first reading
    const Clock::time_point at = now();
    if (g_lastSave && at - *g_lastSave < kPositionSaveInterval)
        return;
    g_lastSave = at;
    startHistorySave(elapsed);
}

void notePagePosition()
{
    gui::assertGuiThread();
    int elapsed = 0;
    int duration = 0;
    if (g_seek.armed || playerForm() == nullptr || !playerStarted() || playingSeries().empty() ||
        !readPageTimes(elapsed, duration)) {
        g_lastElapsed = -1;
        return;
    }
    noteWatchPosition(elapsed, duration);
}

void saveWatchPosition(bool wait)
{
    gui::assertGuiThread();
    // Nothing is saved while a resume still waits for its seek: the stored position stays.
    const bool usable =
        !g_seek.armed && playerForm() != nullptr && playerStarted() && !playingSeries().empty();
    int elapsed = g_lastElapsed;
    if (usable) {
        int read = 0;
        int duration = 0;
        if (readPageTimes(read, duration) && duration > 0)
            elapsed = read;
    }
    stopWatching();
    g_lastElapsed = -1;
    g_lastSave.reset();
    if (!usable || elapsed < 0)
        return;
    if (!wait) {
        startHistorySave(elapsed);
        return;
    }
    const PlayingEpisode playing = playbackState.episode();
    saveHistory({playingSeries(), playing.currentLabel, episodeAddress(playing.currentUrl),
                 playing.currentM3u8, elapsed});
}

void setWatchClockForTesting(std::function<std::chrono::steady_clock::time_point()> clock)
{
    g_clock = std::move(clock);
}

void resetWatchPosition()
{
    stopWatching();
    g_lastElapsed = -1;
    g_lastSave.reset();
}

int openingSeconds()
{
    if (const PlayerForm* player = playerForm();
        player != nullptr && player->编辑框_片头 != nullptr)
        return textToInt(player->编辑框_片头->text().toStdString());
    return textToInt(readSetting("配置项", "片头", std::string("0")));
}

void loadOpeningSetting(PlayerForm& form)
{
    gui::assertGuiThread();
    if (form.编辑框_片头 == nullptr)
        return;
    // Putting the stored text back is no change to store.
    const QSignalBlocker quiet(form.编辑框_片头);
    form.编辑框_片头->setText(
        QString::fromStdString(readSetting("配置项", "片头", std::string("0"))));
}

void onOpeningChanged(PlayerForm& form)
{
    gui::assertGuiThread();
    if (form.编辑框_片头 != nullptr)
        writeSetting("配置项", "片头", form.编辑框_片头->text().toStdString());
}
