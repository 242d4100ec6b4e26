// Closing the player window around the start of its video: whatever the page driver is doing at
// that moment (watching the start, reading the page, clicking the start control), the close
// closes, and the next episode opens a new window that closes too.

#include "test_playback_pages.h"

#include <QPointer>

namespace playback_pages {
namespace {

// How long after the video started playing the window is closed; -1: as soon as the page is
// loading, before anything plays.
constexpr int kCloseDelaysMs[] = {-1, 0, 300, 800, 1000, 1200, 1500, 3000};

TEST_P(PlainPages, EveryCloseClosesTheWindow)
{
    for (const int delay : kCloseDelaysMs) {
        SCOPED_TRACE("closed " + std::to_string(delay) + " ms after the video started");
        playFirstOf({episode(1), episode(2)});
        if (HasFatalFailure())
            return;
        QPointer<QWidget> window = playerForm()->window;
        if (delay >= 0) {
            ASSERT_TRUE(QTest::qWaitFor(
                [] {
                    const QJsonObject m = media();
                    return !m.value(QStringLiteral("paused")).toBool(true) &&
                           m.value(QStringLiteral("currentTime")).toDouble() > 0;
                },
                60000))
                << "the video did not start";
            QTest::qWait(delay);
        }
        window->close();
        EXPECT_EQ(playerForm(), nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&window] { return window.isNull(); }, 10000))
            << "the window stayed";
        if (!window.isNull()) {
            // A second close must close it too.
            window->close();
            EXPECT_TRUE(QTest::qWaitFor([&window] { return window.isNull(); }, 10000))
                << "a second close did not close it either";
            delete window.data();
        }
        playbackState.pendingAction = static_cast<int>(PendingAction::None);
    }
}

INSTANTIATE_TEST_SUITE_P(Close, PlainPages,
                         ::testing::Values(PageCase{"dplayer"}, PageCase{"aliplayer-autoplay"}));

} // namespace
} // namespace playback_pages
