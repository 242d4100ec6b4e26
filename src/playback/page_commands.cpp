#include "playback/page_commands.h"

#include "app/main_form.h"
#include "app/status_log.h"
#include "platform/modifier_state.h"
#include "platform/shortcut_hook.h"
#include "playback/page_driver.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"

#include <QLabel>
#include <QPointer>

void setSpeedNumber(int speed)
{
    gui::assertGuiThread();
    if (PageDriver* driver = playerDriver())
        driver->setSpeed(speed);
}

void toggleFullscreen()
{
    gui::assertGuiThread();
    if (PageDriver* driver = playerDriver())
        driver->toggleFullscreen();
}

void reloadPage()
{
    gui::assertGuiThread();
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    webViewBridge().reload();
}

void clearBrowserCache(MainForm& form)
{
    gui::assertGuiThread();
    webViewBridge().clearCache();
    form.透明标签_简介->setText(QStringLiteral(" 缓 存 清 理 完 成"));
    logStatus("缓 存 清 理 完 成");
}

void onShortcut(int modifier, int key, int keyState)
{
    gui::assertGuiThread();
    if (PageDriver* driver = playerDriver())
        onShortcut(*driver, modifier, key, keyState);
}

void onShortcut(PageDriver& driver, int modifier, int key, int keyState)
{
    gui::assertGuiThread();
    if (modifier != kVkAlt || keyState != kKeyPressed)
        return;
    switch (key) {
    case 37: driver.stepHistory(-1); return;
    case 39: driver.stepHistory(1); return;
    default: break;
    }
    int digit = -1;
    if (key >= 48 && key <= 54)
        digit = key - 48;
    else if (key >= 96 && key <= 102)
        digit = key - 96;
    if (digit == 0)
        driver.toggleFullscreen();
    else if (digit > 0)
        driver.setSpeed(digit);
}

void installShortcutHook(PageDriver& driver)
{
    gui::assertGuiThread();
    if (keyboardHookInstalled())
        return;
    QPointer<PageDriver> target(&driver);
    installKeyboardHook([target](int modifier, int key, int keyState) {
        if (target)
            onShortcut(*target, modifier, key, keyState);
    });
}

void removeShortcutHook()
{
    gui::assertGuiThread();
    removeKeyboardHook();
}

bool shortcutHookInstalled()
{
    return keyboardHookInstalled();
}
