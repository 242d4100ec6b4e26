#pragma once
// The player window's commands on the player page (speeds, full screen, reload, cache) and the
// desktop-wide Alt shortcuts bound to them. GUI thread.

struct MainForm;

// The speed buttons 按钮_05X … 按钮_2X are speeds 1 to 6.
struct SpeedCommand {
    int item;            // element of the DPlayer speed menu, from 1
    const char* message; // logged after the clicks
};
inline constexpr SpeedCommand kSpeedTable[6] = {
    {1, "切换到 0.5倍 慢播放模式"}, {2, "切换到 0.75倍 慢播放模式"}, {3, "切换到 正常 播放模式"},
    {4, "切换到 1.25倍 播放模式"},  {5, "切换到 1.5倍 播放模式"},    {6, "切换到 2倍 播放模式"},
};

// Clicks speed item n, then the current-setting entry, then logs message.
void setSpeed(int n, const char* message);
// Speed 1 to 6 of kSpeedTable; other numbers do nothing.
void setSpeedNumber(int speed);
// Clicks both players' full-screen controls (the page that lacks one ignores it).
void toggleFullscreen();
// Marks the player as starting and reloads the page; the page watcher starts the player again.
void reloadPage();
// Clears the browser cache and tells the user in the blurb and the log.
void clearBrowserCache(MainForm& form);

// The Alt shortcuts: modifier and key are virtual-key codes (18 Alt; 37/39 arrows, 48-54 and
// 96-102 digits), keyState 1 for a press and 2 for a release. Acts on presses only, so a held
// Alt+key runs its command once per press.
void onShortcut(int modifier, int key, int keyState);

// The shortcut hook exists while the player window is open; a second install does nothing.
void installShortcutHook();
void removeShortcutHook();
bool shortcutHookInstalled();
