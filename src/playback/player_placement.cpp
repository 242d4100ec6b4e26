#include "playback/player_placement.h"

#include "app/message_box.h"
#include "app/player_form.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "playback/bridge_library.h"
#include "playback/page_commands.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/web_view_bridge.h"
#include "util/gui_thread.h"
#include "util/text_number.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QStringList>
#include <QWidget>

namespace {

constexpr const char* kSection = "配置项";
QRect g_secondScreen;

const char* flagText(bool on)
{
    return on ? "真" : "假";
}

// The outer geometry of the window being created (the saved one, or the layout's size): applied
// at creation with the frame the window has then, and again once it is shown and its frame is
// known.
QWidget* g_sizedWindow = nullptr;
QRect g_savedOuter;

void applyOuterGeometry(QWidget* window, const QRect& outer)
{
    const QSize frame = window->frameGeometry().size() - window->size();
    window->resize(outer.width() - frame.width(), outer.height() - frame.height());
    window->move(outer.topLeft());
}

void setAlwaysOnTop(QWidget* window, bool on)
{
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible)
        window->show(); // changing the flags hides a shown window
}

} // namespace

std::optional<QRect> lastSecondaryScreen(const std::vector<ScreenInfo>& screens)
{
    std::optional<QRect> found;
    for (const ScreenInfo& screen : screens) {
        if (!screen.primary)
            found = screen.geometry;
    }
    return found;
}

bool hasSecondScreen()
{
    gui::assertGuiThread();
    std::vector<ScreenInfo> screens;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens())
        screens.push_back({screen->geometry(), screen == primary});
    const std::optional<QRect> found = lastSecondaryScreen(screens);
    if (found)
        g_secondScreen = *found;
    return found.has_value();
}

QRect secondScreenRect()
{
    return g_secondScreen;
}

void onPlayerCreated(PlayerForm& form)
{
    gui::assertGuiThread();
    registerPlayerPageEvents();
    PlayerServices& services = playerServices();
    if (services.openBrowser)
        services.openBrowser(form.外形框_播放, playbackState.episode().currentUrl);
    webViewBridge().onTitleChanged([](const std::string& title) { showTitle(title); });

    if (hasSecondScreen())
        form.选择框_副屏->setChecked(readFlag(kSection, "副屏"));
    form.选择框_连播->setChecked(readFlag(kSection, "连播"));
    const bool topmost = readFlag(kSection, "置顶");
    form.选择框_置顶->setChecked(topmost);
    setAlwaysOnTop(form.window, topmost);
    form.编辑框_尾->setText(
        QString::fromStdString(readSetting(kSection, "跳转", std::string("60"))));

    const QStringList size = QString::fromStdString(readSetting(kSection, "窗口大小"))
                                 .split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (size.size() == 4) {
        const auto field = [&size](int i) { return textToInt(size[i].toStdString()); };
        g_sizedWindow = form.window;
        g_savedOuter = QRect(field(2), field(3), field(0), field(1));
        applyOuterGeometry(form.window, g_savedOuter);
    } else {
        // The layout's size is the window's outer size, frame included; the frame is known once
        // the window is shown, and the window is sized again then.
        g_sizedWindow = form.window;
        g_savedOuter = QRect(form.window->pos(), form.window->size());
    }
    installShortcutHook();
}

void onPlayerShown(PlayerForm& form)
{
    gui::assertGuiThread();
    if (g_sizedWindow != form.window)
        return;
    g_sizedWindow = nullptr;
    applyOuterGeometry(form.window, g_savedOuter);
}

void onPlayerResized(PlayerForm& form)
{
    gui::assertGuiThread();
    const QSize client = form.window->size();
    form.外形框_播放->resize(client.width(), client.height() - kPlayerBarHeight);
    form.外形框_底部->move(form.外形框_底部->x(), client.height() - kPlayerBarHeight);
    webViewBridge().setBounds(0, 0, form.外形框_播放->width(), form.外形框_播放->height());
    const QRect outer = form.window->frameGeometry();
    writeSetting(kSection, "窗口大小",
                 std::to_string(outer.width()) + "|" + std::to_string(outer.height()) + "|" +
                     std::to_string(outer.x()) + "|" + std::to_string(outer.y()));
}

void onPlayerClosing(PlayerForm&)
{
    gui::assertGuiThread();
    removeShortcutHook();
    logStatus("播放器已关闭");
}

void onSecondScreenClicked(PlayerForm& form, const MessageBox& showMessage)
{
    gui::assertGuiThread();
    if (!hasSecondScreen()) {
        form.选择框_副屏->setChecked(false);
        if (showMessage)
            showMessage("未识别到扩展屏 , 无法开启此功能", "温暖提醒", kMessageOk | 0x10);
        return;
    }
    const bool on = form.选择框_副屏->isChecked();
    writeSetting(kSection, "副屏", flagText(on));
    if (on)
        logStatus("已投屏到副显示器上");
}

void onContinuousClicked(PlayerForm& form)
{
    gui::assertGuiThread();
    if (form.选择框_连播->isChecked()) {
        writeSetting(kSection, "连播", "真");
        logStatus("连播模式已开启, 请设置剩余 多少 时间跳转, 默认60秒");
    } else {
        writeSetting(kSection, "连播", "假");
    }
}

void onTopmostClicked(PlayerForm& form)
{
    gui::assertGuiThread();
    const bool on = form.选择框_置顶->isChecked();
    setAlwaysOnTop(form.window, on);
    writeSetting(kSection, "置顶", flagText(on));
}

void onThresholdChanged(PlayerForm& form)
{
    gui::assertGuiThread();
    writeSetting(kSection, "跳转", form.编辑框_尾->text().toStdString());
}

void onFullscreenEntered()
{
    gui::assertGuiThread();
    PlayerForm* form = playerForm();
    if (form == nullptr)
        return;
    if (form->选择框_副屏->isChecked()) {
        if (QWidget* view = webViewBridge().windowHandle()) {
            view->setGeometry(g_secondScreen);
            view->repaint();
        }
    }
    form->window->hide();
}

void onFullscreenLeft()
{
    gui::assertGuiThread();
    if (PlayerForm* form = playerForm())
        form->window->show();
}

BrowserEventHandlers playerBrowserEventHandlers()
{
    BrowserEventHandlers handlers;
    handlers.onPageLoaded = [] { watchPageStart(); };
    handlers.onFullscreenEntered = [] { onFullscreenEntered(); };
    handlers.onFullscreenLeft = [] { onFullscreenLeft(); };
    return handlers;
}

void registerPlayerPageEvents()
{
    gui::assertGuiThread();
    BrowserEvents* events = browserEvents();
    if (events == nullptr)
        return;
    BrowserEventHandlers handlers = playerBrowserEventHandlers();
    events->onPageLoaded(std::move(handlers.onPageLoaded));
    events->onFullscreenEntered(std::move(handlers.onFullscreenEntered));
    events->onFullscreenLeft(std::move(handlers.onFullscreenLeft));
}
