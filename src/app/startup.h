#pragma once
// From the launch of the program to the ready main window, and the closing of the main window.

#include "app/message_box.h"

#include <QDate>

#include <functional>
#include <string>

// The start-up marker name of the single-instance check.
inline constexpr const char* kInstanceMarker = "tovarunmel";

// The pieces of start-up that live in the layers above this one; the composition root fills
// them. An empty function skips its step.
struct StartupSteps {
    // Brings this instance's windows to the front when a later launch asks for it (GUI thread).
    std::function<void()> activateWindows;
    // Shows the notice window modally with no owner and returns when the user closed it.
    std::function<void()> showNoticeWindow;
    // Fills 组合框_线路 with the route entries (GUI thread).
    std::function<void()> fillRouteBox;
    // Selects the route entry of the given value without switching routes (GUI thread).
    std::function<void(int value)> selectRoute;
    // Starts a catalogue load on a worker thread of its own (GUI thread).
    std::function<void(int mode, int page)> startCatalogueLoad;
    // Fills the header date labels for the given day (GUI thread).
    std::function<void(const QDate& today)> fillDateLabels;
    // Prepares and starts the embedded-browser bridge; false when the system lacks the browser
    // runtime (start-up then ends without moving the window or the ready line). Empty: the bridge
    // counts as started.
    std::function<bool()> startBrowserBridge;
    // Moves the main window to its start position, 10,10 (GUI thread).
    std::function<void()> placeMainWindow;
    // Shows a message box (the second instance, the update, the older system). Empty: no message.
    MessageBox showMessage;
    // Ends the process with exit code 0 (a second instance, the updater started). Empty: exit(0).
    std::function<void()> endProcess;
    // The bootstrap thread reports here when it is done (tests and benchmarks wait for it).
    std::function<void()> bootstrapFinished;
};

// The start-up sequence, run once the main window exists and before it is shown: data-folder
// name, single instance, update check, notice window, settings bootstrap on a worker thread,
// older-system message, browser bridge, position 10,10 and the ready line. GUI thread.
void onMainWindowCreated(const StartupSteps& steps);

// Worker-thread routine: the default settings file, the route selection, the first latest-items
// load, historyText and the date labels. The data folder must exist.
void bootstrapSettings(const StartupSteps& steps);

// The ready line "青柚追剧,准备就绪粉丝群：" + groupNumber + "！".
std::string readyMessage();

// Closing the main window: destroyOtherWindows destroys the player and download windows; then on
// systems with the embedded browser the process ends at once (exitNow, forceExit by default),
// otherwise "欢迎下次使用,再见" is logged and the window closes normally. GUI thread.
void onMainWindowClosing(const std::function<void()>& destroyOtherWindows,
                         const std::function<void()>& exitNow = {});

// Ends the process at once with exit code 0: no clean-up of windows or the embedded browser runs.
// Safe because every file write of the program replaces its file atomically.
[[noreturn]] void forceExit();
