#include "playback/page_commands.h"

#include "app/main_form.h"
#include "app/status_log.h"
#include "platform/modifier_state.h"
#include "platform/shortcut_hook.h"
#include "playback/playback_state.h"
#include "playback/player_endpoints.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>

#include <cmath>

namespace {

// The rates of speeds 1 to 6.
constexpr double kSpeedRates[6] = {0.5, 0.75, 1.0, 1.25, 1.5, 2.0};

// The playback rate of the page's first <video>, 0 when there is none.
double mediaRate()
{
    const std::string state = webViewBridge().mediaState();
    if (state.empty())
        return 0;
    return QJsonDocument::fromJson(QByteArray::fromStdString(state))
        .object()
        .value(QLatin1String("playbackRate"))
        .toDouble(0);
}

} // namespace

void setSpeed(int n, const char* message)
{
    gui::assertGuiThread();
    webViewBridge().clickElement(kDplayerSpeedItem, n);
    webViewBridge().clickElement(kDplayerCurrentSetting, 1);
    // A page whose menu lacks this speed (Aliplayer has no 0.75 and other item positions) has its
    // video set to the rate directly.
    if (n >= 1 && n <= 6) {
        const double rate = kSpeedRates[n - 1];
        const double now = mediaRate();
        if (now > 0 && std::abs(now - rate) > 0.01)
            webViewBridge().setMediaRate(rate);
    }
    logStatus(message);
}

void setSpeedNumber(int speed)
{
    gui::assertGuiThread();
    if (speed < 1 || speed > 6)
        return;
    const SpeedCommand& command = kSpeedTable[speed - 1];
    setSpeed(command.item, command.message);
}

void toggleFullscreen()
{
    gui::assertGuiThread();
    webViewBridge().clickElement(kDplayerFullscreen, 1);
    webViewBridge().clickElement(kAliplayerFullscreen, 1);
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
    if (modifier != kVkAlt || keyState != kKeyPressed)
        return;
    switch (key) {
    case 37: webViewBridge().stepBack(1); return;
    case 39: webViewBridge().stepForward(1); return;
    default: break;
    }
    int digit = -1;
    if (key >= 48 && key <= 54)
        digit = key - 48;
    else if (key >= 96 && key <= 102)
        digit = key - 96;
    if (digit == 0)
        toggleFullscreen();
    else if (digit > 0)
        setSpeedNumber(digit);
}

void installShortcutHook()
{
    gui::assertGuiThread();
    if (keyboardHookInstalled())
        return;
    installKeyboardHook(
        [](int modifier, int key, int keyState) { onShortcut(modifier, key, keyState); });
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
