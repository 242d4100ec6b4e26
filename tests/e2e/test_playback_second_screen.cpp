// Full screen on the second screen, on a desktop of three monitors (the test command starts this
// program on an X display with three RandR monitors, which Qt reports as three screens): with
// 副屏 ticked, the page's full-screen window goes to the last non-primary monitor while the player
// window hides, and the video keeps playing there; with 副屏 unticked, full screen stays where the
// browser put it.

#include "test_playback_pages.h"

#include <QGuiApplication>
#include <QScreen>

namespace playback_pages {
namespace {

const QRect kRightMonitor(2304, 100, 1600, 900);

QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}

void pressAlt0()
{
    onShortcut(kVkAlt, 48, kKeyPressed);
    onShortcut(kVkAlt, 48, kKeyReleased);
}

TEST_P(PlainPages, FullScreenGoesToTheLastNonPrimaryMonitor)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 3) << "the display lacks its three monitors";
    ASSERT_EQ(QGuiApplication::primaryScreen()->name(), QStringLiteral("1-primary"));
    QScreen* right = screenNamed(QStringLiteral("3-right"));
    ASSERT_NE(right, nullptr);
    ASSERT_TRUE(writeSetting("配置项", "副屏", "真"));

    playFirstOf({episode(1)});
    ASSERT_FALSE(HasFatalFailure());
    PlayerForm& player = *playerForm();
    EXPECT_TRUE(player.选择框_副屏->isEnabled());
    ASSERT_TRUE(player.选择框_副屏->isChecked()) << "the saved 副屏 was not taken";
    expectPlaying("episode 01");

    QWidget* normalView = webViewBridge().windowHandle();
    pressAlt0();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return webViewBridge().windowHandle() != normalView; }, 15000))
        << "Alt+0 did not enter full screen";
    QWidget* full = webViewBridge().windowHandle();
    EXPECT_TRUE(QTest::qWaitFor([&] { return full->geometry() == kRightMonitor; }, 5000))
        << "full screen at " << full->geometry().x() << "," << full->geometry().y() << " "
        << full->geometry().width() << "x" << full->geometry().height();
    EXPECT_EQ(full->screen(), right);
    EXPECT_FALSE(player.window->isVisible());
    // The move must not end full screen or stop the video.
    expectPlaying("full screen on 3-right");
    EXPECT_EQ(webViewBridge().windowHandle(), full) << "left full screen after the move";

    pressAlt0();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return webViewBridge().windowHandle() == normalView; }, 15000))
        << "Alt+0 did not leave full screen";
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.window->isVisible(); }, 5000));

    // Unticked: full screen stays on the monitor of the player window.
    player.选择框_副屏->click();
    ASSERT_FALSE(player.选择框_副屏->isChecked());
    EXPECT_EQ(readSetting("配置项", "副屏"), "假");
    QScreen* playerScreen = player.window->screen();
    pressAlt0();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return webViewBridge().windowHandle() != normalView; }, 15000))
        << "Alt+0 did not enter full screen the second time";
    full = webViewBridge().windowHandle();
    waitPumping(1500);
    EXPECT_EQ(full->screen(), playerScreen);
    EXPECT_NE(full->geometry(), kRightMonitor);
    pressAlt0();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return webViewBridge().windowHandle() == normalView; }, 15000))
        << "Alt+0 did not leave full screen the second time";
}

INSTANTIATE_TEST_SUITE_P(SecondScreen, PlainPages, ::testing::Values(PageCase{"dplayer"}));

} // namespace
} // namespace playback_pages
