// The player page commands and the Alt shortcuts, on a stand-in browser: what each command does
// to the page, and which key sequences run which command.

#include "playback/page_commands.h"

#include "platform/modifier_state.h"
#include "platform/shortcut_hook.h"
#include "playback/playback_state.h"
#include "test_player_fake_browser.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

class PageCommands : public ::testing::Test {
protected:
    void SetUp() override { fake = adoptFakeBrowser(); }
    void TearDown() override { removeShortcutHook(); }
    FakeBrowser* fake = nullptr;
};

TEST_F(PageCommands, SpeedsClickTheirMenuItemThenTheCurrentSetting)
{
    for (int speed = 1; speed <= 6; ++speed) {
        fake->calls.clear();
        setSpeedNumber(speed);
        EXPECT_EQ(fake->pageCalls(),
                  (Calls{"click .dplayer-setting-speed-item " + std::to_string(speed),
                         "click .current-setting 1"}));
    }
    EXPECT_STREQ(kSpeedTable[3].message, "切换到 1.25倍 播放模式");
    fake->calls.clear();
    setSpeedNumber(7);
    EXPECT_TRUE(fake->pageCalls().empty());
}

TEST_F(PageCommands, ASpeedTheMenuDidNotSetIsSetOnTheVideo)
{
    // Aliplayer: no DPlayer menu, its own menu lacks 0.75 and numbers its items otherwise.
    fake->video = true;
    const std::pair<int, double> cases[] = {{2, 0.75}, {6, 2.0}, {1, 0.5}};
    for (const auto& [speed, rate] : cases) {
        SCOPED_TRACE(speed);
        fake->calls.clear();
        setSpeedNumber(speed);
        EXPECT_EQ(fake->pageCalls(),
                  (Calls{"click .dplayer-setting-speed-item " + std::to_string(speed),
                         "click .current-setting 1", "rate " + std::to_string(rate).substr(0, 4)}));
        EXPECT_DOUBLE_EQ(fake->rate, rate);
    }
    // A menu click that set the rate already: nothing more.
    fake->onCall = [this](const std::string& call) {
        if (call == "click .dplayer-setting-speed-item 5")
            fake->rate = 1.5;
    };
    fake->calls.clear();
    setSpeedNumber(5);
    EXPECT_EQ(fake->pageCalls(),
              (Calls{"click .dplayer-setting-speed-item 5", "click .current-setting 1"}));
}

TEST_F(PageCommands, FullScreenAndReloadAndCache)
{
    toggleFullscreen();
    EXPECT_EQ(fake->pageCalls(),
              (Calls{"click .dplayer-full-icon 1", "click .prism-fullscreen-btn 1"}));
    fake->calls.clear();
    playbackState.pendingAction = static_cast<int>(PendingAction::None);
    reloadPage();
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));
    EXPECT_EQ(fake->pageCalls(), (Calls{"reload"}));
}

TEST_F(PageCommands, ShortcutTableActsOnAltPressesOnly)
{
    const std::pair<int, Calls> cases[] = {
        {37, {"back 1"}},
        {39, {"forward 1"}},
        {48, {"click .dplayer-full-icon 1", "click .prism-fullscreen-btn 1"}},
        {96, {"click .dplayer-full-icon 1", "click .prism-fullscreen-btn 1"}},
        {49, {"click .dplayer-setting-speed-item 1", "click .current-setting 1"}},
        {102, {"click .dplayer-setting-speed-item 6", "click .current-setting 1"}},
        {55, {}},
        {65, {}},
    };
    for (const auto& [key, expected] : cases) {
        SCOPED_TRACE(key);
        fake->calls.clear();
        onShortcut(kVkAlt, key, kKeyPressed);
        EXPECT_EQ(fake->pageCalls(), expected);
        fake->calls.clear();
        onShortcut(kVkAlt, key, kKeyReleased);
        onShortcut(kVkCtrl, key, kKeyPressed);
        onShortcut(0, key, kKeyPressed);
        EXPECT_TRUE(fake->pageCalls().empty());
    }
}

// Key sequences fed through the installed hook: (virtual key, pressed) pairs.
struct Sequence {
    const char* what;
    std::vector<std::pair<int, bool>> keys;
    Calls expected;
};

TEST_F(PageCommands, KeySequencesThroughTheHook)
{
    const Calls speed4{"click .dplayer-setting-speed-item 4", "click .current-setting 1"};
    const Sequence sequences[] = {
        {"Alt held, 4 pressed and released: once",
         {{164, true}, {52, true}, {52, false}, {164, false}},
         speed4},
        {"right Alt counts as Alt", {{165, true}, {100, true}, {100, false}, {165, false}}, speed4},
        {"Alt released before 4: nothing on the release",
         {{164, true}, {164, false}, {52, true}, {52, false}},
         {}},
        {"Shift pressed while Alt is down takes over",
         {{164, true}, {160, true}, {52, true}, {52, false}},
         {}},
        {"Alt pressed again after Shift acts again",
         {{164, true}, {160, true}, {164, true}, {52, true}},
         speed4},
        {"Alt+0 switches full screen once",
         {{164, true}, {48, true}, {48, false}, {164, false}},
         {"click .dplayer-full-icon 1", "click .prism-fullscreen-btn 1"}},
        {"Alt+right steps once", {{164, true}, {39, true}, {39, false}}, {"forward 1"}},
    };
    for (const Sequence& s : sequences) {
        SCOPED_TRACE(s.what);
        removeShortcutHook();
        installShortcutHook();
        ASSERT_TRUE(shortcutHookInstalled());
        fake->calls.clear();
        for (const auto& [key, pressed] : s.keys)
            feedKeyboardEvent(key, pressed);
        EXPECT_EQ(fake->pageCalls(), s.expected);
    }
    removeShortcutHook();
    fake->calls.clear();
    feedKeyboardEvent(164, true);
    feedKeyboardEvent(52, true);
    EXPECT_TRUE(fake->pageCalls().empty()) << "no hook, no shortcuts";
}

TEST(ModifierState, FollowsTheLastModifierPressed)
{
    struct Step {
        int state, key;
        bool pressed;
        int next;
    };
    const Step steps[] = {
        {0, 164, true, 18},  {0, 165, true, 18},  {0, 160, true, 16},  {0, 163, true, 17},
        {0, 91, true, 91},   {0, 92, true, 91},   {18, 52, true, 18},  {18, 52, false, 18},
        {18, 160, true, 16}, {16, 164, false, 0}, {18, 162, false, 0}, {0, 52, false, 0},
    };
    for (const Step& s : steps)
        EXPECT_EQ(nextModifierState(s.state, s.key, s.pressed), s.next)
            << s.state << " " << s.key << " " << s.pressed;
}

TEST(ModifierState, KeysymsMapToTheShortcutKeys)
{
    const std::pair<unsigned long, int> cases[] = {
        {0xffe9, 164}, {0xffea, 165}, {0xffe1, 160}, {0xffe3, 162}, {0xffeb, 91},
        {0xff51, 37},  {0xff53, 39},  {0x30, 48},    {0x36, 54},    {0xffb0, 96},
        {0xff9e, 96},  {0xffb6, 102}, {0x61, 65},    {0xffff, 0},
    };
    for (const auto& [keysym, vk] : cases)
        EXPECT_EQ(virtualKeyOfKeysym(keysym), vk) << std::hex << keysym;
}

} // namespace
