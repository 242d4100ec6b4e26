// The desktop-wide Alt shortcuts on a real X display: keys typed by xdotool (to whichever window
// has the focus) reach the keyboard hook as raw key events, keep the modifier state, and run the
// page command once per press.

#include "platform/modifier_state.h"
#include "platform/shortcut_hook.h"
#include "playback/page_commands.h"

#include "../playback/test_player_fake_browser.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Event = std::array<int, 3>; // modifier, key, keyState

bool type(const QStringList& args)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), args);
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

class DesktopKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X display";
    }
    void TearDown() override { removeKeyboardHook(); }
};

TEST_F(DesktopKeys, RawKeyEventsFeedTheModifierState)
{
    std::vector<Event> seen;
    ASSERT_TRUE(installKeyboardHook([&seen](int m, int k, int s) { seen.push_back({m, k, s}); }));
    if (!keyboardObserved())
        GTEST_SKIP() << "the display offers no raw key events";
    ASSERT_TRUE(type({QStringLiteral("keydown"), QStringLiteral("alt"), QStringLiteral("key"),
                      QStringLiteral("4"), QStringLiteral("keyup"), QStringLiteral("alt")}));
    ASSERT_TRUE(QTest::qWaitFor([&seen] { return seen.size() >= 4; }, 5000)) << seen.size();
    QTest::qWait(200);
    // xdotool may release Alt a second time; a repeated release changes nothing.
    for (std::size_t i = 4; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], (Event{0, 164, kKeyReleased}));
    seen.resize(4);
    EXPECT_EQ(seen, (std::vector<Event>{{kVkAlt, 164, kKeyPressed},
                                        {kVkAlt, 52, kKeyPressed},
                                        {kVkAlt, 52, kKeyReleased},
                                        {0, 164, kKeyReleased}}));
}

TEST_F(DesktopKeys, AltDigitAndAltArrowActOncePerPress)
{
    FakeBrowser* fake = adoptFakeBrowser();
    installShortcutHook();
    if (!keyboardObserved())
        GTEST_SKIP() << "the display offers no raw key events";
    ASSERT_TRUE(type({QStringLiteral("keydown"), QStringLiteral("alt"), QStringLiteral("key"),
                      QStringLiteral("0"), QStringLiteral("key"), QStringLiteral("Right"),
                      QStringLiteral("keyup"), QStringLiteral("alt"), QStringLiteral("key"),
                      QStringLiteral("4")}));
    QTest::qWait(500);
    EXPECT_EQ(fake->pageCalls(),
              (std::vector<std::string>{"click .dplayer-full-icon 1",
                                        "click .prism-fullscreen-btn 1", "forward 1"}));
    removeShortcutHook();
    fake->calls.clear();
    ASSERT_TRUE(type({QStringLiteral("keydown"), QStringLiteral("alt"), QStringLiteral("key"),
                      QStringLiteral("0"), QStringLiteral("keyup"), QStringLiteral("alt")}));
    QTest::qWait(300);
    EXPECT_TRUE(fake->pageCalls().empty()) << "no hook once the player window is closed";
}

} // namespace
