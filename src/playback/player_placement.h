#pragma once
// The player window's life: creation (browser, options and size from the settings, shortcut
// hook), resizing (browser frame and bottom bar, saved size), closing, its four option boxes, and
// the move of full-screen playback to a second monitor. GUI thread.

#include "app/message_box.h"
#include <QRect>

#include <optional>
#include <vector>

struct BrowserEventHandlers;
struct PlayerForm;

// Height of the bottom bar 外形框_底部 below the browser frame.
inline constexpr int kPlayerBarHeight = 28;

void onPlayerCreated(PlayerForm& form);
// The first show: the saved outer size is applied again now that the window's frame is known.
void onPlayerShown(PlayerForm& form);
void onPlayerResized(PlayerForm& form);
// Removes the shortcut hook and logs the close; the window destroys itself afterwards.
void onPlayerClosing(PlayerForm& form);

void onSecondScreenClicked(PlayerForm& form, const MessageBox& showMessage);
void onContinuousClicked(PlayerForm& form);
void onTopmostClicked(PlayerForm& form);
void onThresholdChanged(PlayerForm& form);

// One monitor as the enumeration reports it.
struct ScreenInfo {
    QRect geometry;
    bool primary = false;
};
// The rectangle of the last non-primary monitor, or nullopt when there is none.
std::optional<QRect> lastSecondaryScreen(const std::vector<ScreenInfo>& screens);
// Enumerates the monitors now and records the second-screen rectangle when one is found.
bool hasSecondScreen();
// The rectangle recorded by the last hasSecondScreen that found one (empty before).
QRect secondScreenRect();

void onFullscreenEntered();
void onFullscreenLeft();

// The three page notifications the player registers with the browser: the page watcher and the
// two full-screen handlers.
BrowserEventHandlers playerBrowserEventHandlers();
// Registers them with the bridge's notification registry, when the bridge has been started.
void registerPlayerPageEvents();
