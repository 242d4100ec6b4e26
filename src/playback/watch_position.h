#pragma once
// Where the playing episode is: its position saved into the watch history while it plays and when
// the player closes, the seek that resumes a stored position, and the seek that skips the opening
// of an episode started from its beginning. The seeks wait until the page's elapsed time shows
// that the video plays. GUI thread, unless a function says otherwise.

#include <chrono>
#include <functional>
#include <string>

struct PlayerForm;

// A resume starts this many seconds before the stored position.
inline constexpr int kResumeLeadSeconds = 3;
// The least time between two position saves while an episode plays.
inline constexpr std::chrono::seconds kPositionSaveInterval{10};

enum class SeekKind { Resume, Opening };

// The second a start of the given kind seeks to, or -1 for none: a resume to seconds minus
// kResumeLeadSeconds, an opening skip to seconds. No seek for 0 seconds, nor for a position in
// the jump zone at the end (fewer than threshold seconds before duration), where a resume starts
// from the beginning and an opening skip would move straight on to the next episode. threshold
// is the text of 编辑框_尾 as a number, put in bounds as the poll does for short clips.
int seekTarget(SeekKind kind, int seconds, int duration, int threshold);

// A resume of the stored position seconds starts (no seek is made for 0).
void armResumeSeek(int seconds);
// An episode starts from its beginning (a double-click or a continuous-play jump): the opening is
// skipped once it plays, by the seconds of 编辑框_片头 at that moment.
void armOpeningSkip();
// Whether a seek waits for the video to play.
bool seekPending();
// One look at the page while a seek waits: once the player has been started and the elapsed time
// has moved on, seeks and logs "已跳到上次观看位置 mm:ss" for a resume. Runs every 500 ms while a
// seek waits; gives up after two minutes or when the player window closes.
void checkPendingSeek();

// The poll's hook: the elapsed and total seconds read from the page on this tick. Saves the
// position, at most every kPositionSaveInterval, while the elapsed time moves (not while paused)
// and the page's player has been started.
void noteWatchPosition(int elapsed, int duration);
// The same for a tick on which the poll does not read the page (continuous play off): reads the
// page's times itself.
void notePagePosition();

// The player window closes (wait false: the save runs on a worker thread) or the program ends
// (wait true: returns when the save is written): saves the position read from the page now.
void saveWatchPosition(bool wait);

// The clock the save interval is measured with (tests replace it; empty puts the real one back).
void setWatchClockForTesting(std::function<std::chrono::steady_clock::time_point()> clock);
// Forgets the position tracking and any waiting seek (tests).
void resetWatchPosition();

// The opening in seconds: 编辑框_片头 of the player window, or 配置项 片头 without one (a missing
// key reads as 0).
int openingSeconds();
// Player window creation: 编辑框_片头 from 配置项 片头.
void loadOpeningSetting(PlayerForm& form);
// Every change of 编辑框_片头: stored as 配置项 片头.
void onOpeningChanged(PlayerForm& form);
