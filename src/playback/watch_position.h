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
// One look at the page while a seek waits (the page driver's seek timer runs it every 500 ms;
// tests call it): once the player has been started and the elapsed time has moved on, seeks and
// logs "已跳到上次观看位置 mm:ss" for a resume. Gives up after two minutes or when the player
// window closes. Defined with the player controller, which finds the window's page driver.
void checkPendingSeek();

// The look in the steps the page driver runs around its asynchronous read of the page:
// whether this look reads the page (false: nothing to do on this look);
bool seekLookWanted();
// the times it read (read false: the page shows none): the second to seek to now, or -1;
int seekLookTarget(bool read, int elapsed, int duration);
// the seek to target was made (sought true) or the page had no video yet (the next look tries
// again).
void seekMade(bool sought, int target);

// The poll's hook: the elapsed and total seconds read from the page on this tick. Saves the
// position, at most every kPositionSaveInterval, while the elapsed time moves (not while paused)
// and the page's player has been started.
void noteWatchPosition(int elapsed, int duration);
// Whether the position is worth reading from the page now: the player window is open, its
// player has been started, no resume waits for its seek, and a series plays.
bool positionWanted();
// A tick on which the page's times could not be read (or were not wanted).
void forgetPosition();

// The player window closes: saves the position the page driver has just read (read false: the
// last position the poll saw), on a worker thread.
void saveWatchPositionRead(bool read, int elapsed, int duration);
// The program ends: reads the page now, through the bridge's synchronous operations (nothing
// else runs any more), and returns when the save is written.
void saveWatchPositionAtExit();

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
