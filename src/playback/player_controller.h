#pragma once
// Playing an episode: the grid double-click, the player-page address, the default-browser
// fallback, starting the page's video player once the page has loaded, the title, and the poll
// that reads the page's times every tick and jumps to the next episode before the end.
// Everything here runs on the GUI thread.

#include "util/text_number.h"

#include <functional>
#include <string>
#include <vector>

class QWidget;
struct MainForm;
struct PlayerForm;

// What the controller needs from the layers around it. Defaults: the bridge library's runtime
// check and browser open, the desktop's URL handler; the window layer fills in the player window
// and the sponsor window. Tests replace any of them.
struct PlayerServices {
    std::function<int()> hasBrowserRuntime; // kovarwebview_has_edge
    std::function<bool(QWidget* parent, const std::string& url)> openBrowser;
    std::function<void(const std::string& url)> openInDefaultBrowser;
    // Creates the player window (not modal) and shows it; its creation opens the browser on the
    // current address. Empty: no player window can be made.
    std::function<void()> createPlayerWindow;
    std::function<bool()> sponsorWindowOpen;
    std::function<void(QWidget* owner)> openSponsorWindow; // modal, returns when closed
    // The draw from 1 to 18 that decides whether the sponsor window is shown after a start.
    std::function<int()> drawSponsorChance;
};
PlayerServices& playerServices();
// Puts the defaults back (tests).
void resetPlayerServices();

// The main window the controller writes to (status log, blurb, title); set by the wiring.
void setPlaybackMainForm(MainForm* form);
MainForm* playbackMainForm();

// The player window while it exists (set when it is created, cleared when it is destroyed).
void setPlayerForm(PlayerForm* form);
PlayerForm* playerForm();

// Handler of a double-click on 高级表格_剧集 (works on the grid's current cell).
void playEpisodeCell(MainForm& form);

// Loads url in the player window, creating the window when there is none.
void showInPlayer(const std::string& url);

// Handler of the page-loaded notification: presses the play control of the page's player once it
// shows, at most 60 attempts a second apart.
void watchPageStart();

// Handler of the page title: 标签_剧集, the player caption and the log.
void showTitle(const std::string& title);

// A time text split at ":" (empty pieces dropped) in seconds: h:m:s with 3 parts, otherwise
// parts 1 and 2 as m:s.
int seconds(const std::vector<std::string>& parts);
std::vector<std::string> splitTime(const std::string& text);

// The per-tick poll of 时钟_实时 (the header clock runs after it on the same tick).
void pollPlayer(MainForm& form);

// The last elapsed and total time read (kept until a later tick reads the page again).
const std::vector<std::string>& lastTimeParts();
const std::vector<std::string>& lastDurationParts();

// Hands url to the desktop's default browser (through playerServices()).
void openInDefaultBrowser(const std::string& url);

// Waits ms milliseconds while the GUI thread keeps handling events.
void waitPumping(int ms);
