// Autoplay pages in a browser that refuses autoplay, as a browser left at its usual rule does: the
// page's own start is refused and its video waits, paused; an episode double-clicked in the grid
// must still play, started by the program's click, which the browser takes as the user's gesture.

#include "test_playback_pages.h"

namespace playback_pages {
namespace {

// The browser's user-gesture rule for the pages opened while it lives.
class GestureRule {
public:
    GestureRule() { browserOptions().field(BrowserOptions::gestureRuleField) = 1; }
    ~GestureRule() { browserOptions().field(BrowserOptions::gestureRuleField) = 0; }
};

TEST_P(PlainPages, StartsAPageWhoseAutoplayTheBrowserRefuses)
{
    GestureRule rule;
    const std::string ep1 = episode(1);

    // The page by itself, with nothing for the program to start: the browser refuses its
    // autoplay, and its video stays paused at the start once it is ready.
    playbackState.setEpisode({playerPageEndpoint() + ep1, ep1, "01"});
    playbackState.pendingAction.store(static_cast<int>(PendingAction::None));
    showInPlayer(playerPageEndpoint() + ep1);
    ASSERT_NE(playerForm(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return media().value(QStringLiteral("readyState")).toInt() >= 2; }, 30000))
        << "the page's video did not get ready";
    waitPumping(3000);
    EXPECT_TRUE(media().value(QStringLiteral("paused")).toBool(false))
        << "the browser let the page start by itself";
    EXPECT_LT(mediaTime(), 0.1);
    delete playerForm()->window;
    QTest::qWait(300);

    // Double-clicked: the program starts it.
    playFirstOf({ep1});
    ASSERT_FALSE(HasFatalFailure());
    expectPlaying("episode 01, autoplay refused");
}

INSTANTIATE_TEST_SUITE_P(AutoplayRefused, PlainPages,
                         ::testing::Values(PageCase{"dplayer-autoplay"},
                                           PageCase{"dplayer-customhls-autoplay"},
                                           PageCase{"aliplayer-autoplay"}));

} // namespace
} // namespace playback_pages
