// The position of the playing episode: saved into the history while it plays (not while paused)
// and when the player closes, always under the series that plays; the resume seek to a stored
// position; the opening skip of a double-click and of a continuous-play jump.

#include "test_player_window_fixture.h"

#include "net/json_document.h"
#include "playback/watch_position.h"
#include "ui/player_wiring.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

const TextList kThreeEpisodes = {
    "01", "http://v/1/index.m3u8", "http://m/1.m3u8",
    "02", "http://v/2/index.m3u8", "http://m/2.m3u8",
    "03", "http://v/3/index.m3u8", "http://m/3.m3u8",
};

TEST(SeekTarget, ResumesThreeSecondsEarlierAndSkipsOpeningsOutsideTheJumpZone)
{
    struct Case {
        SeekKind kind;
        int seconds, duration, threshold;
        int expected;
    };
    const Case cases[] = {
        {SeekKind::Resume, 120, 2700, 60, 117},
        {SeekKind::Resume, 0, 2700, 60, -1},      // nothing stored: from the beginning
        {SeekKind::Resume, 2, 2700, 60, -1},      // three seconds earlier is the beginning
        {SeekKind::Resume, 2650, 2700, 60, -1},   // in the jump zone: from the beginning
        {SeekKind::Resume, 2640, 2700, 60, 2637}, // exactly the threshold left: not in the zone
        {SeekKind::Resume, 120, 0, 60, -1},       // no duration known yet
        {SeekKind::Opening, 4, 24, 5, 4},
        {SeekKind::Opening, 0, 2700, 60, -1},
        {SeekKind::Opening, 2690, 2700, 60, -1}, // would move straight on to the next episode
        // A threshold the clip cannot hold counts as a tenth of the clip, as in the poll.
        {SeekKind::Opening, 23, 24, 60, -1},
        {SeekKind::Opening, 20, 24, 60, 20},
        {SeekKind::Resume, 18, 24, 60, 15},
    };
    for (const Case& c : cases)
        EXPECT_EQ(seekTarget(c.kind, c.seconds, c.duration, c.threshold), c.expected)
            << c.seconds << " of " << c.duration << ", threshold " << c.threshold;
}

class WatchPosition : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        resetWatchPosition();
        setWatchClockForTesting([this] { return clock; });
        main->form().透明标签_标题->setText(QStringLiteral("甲剧"));
        publishPlayList(kThreeEpisodes);
        window = openPlayer();
        window->form().选择框_连播->setChecked(true);
        window->form().编辑框_尾->setText(QStringLiteral("60"));
    }
    void TearDown() override
    {
        resetWatchPosition();
        setWatchClockForTesting({});
        setPlayingSeries("");
        PlayerFixture::TearDown();
    }

    // Episode 01 double-clicked in the grid of the series shown, its page started.
    void startFirstEpisode()
    {
        QTableWidget* grid = main->form().高级表格_剧集;
        grid->setRowCount(1);
        grid->setColumnCount(3);
        for (int c = 0; c < 3; ++c)
            grid->setItem(0, c, new QTableWidgetItem(QString::fromStdString(kThreeEpisodes[c])));
        grid->setCurrentCell(0, 0);
        playEpisodeCell(main->form());
        waitForSaves();
        publishPlayList(kThreeEpisodes); // the play list built from the grid holds one episode
        browser->calls.clear();
    }
    void playerStarted() { playbackState.pendingAction = static_cast<int>(PendingAction::None); }

    void times(int elapsed, int total = 2700)
    {
        browser->setText(".dplayer-ptime", minutesSeconds(elapsed));
        browser->setText(".dplayer-dtime", minutesSeconds(total));
    }
    // One poll tick, seconds after the previous one.
    void tick(int seconds = 2)
    {
        clock += std::chrono::seconds(seconds);
        pollPlayer(main->form());
        waitForSaves();
    }
    int stored(const std::string& name)
    {
        return storedPosition(readSetting("观看历史", "数据"), name);
    }
    std::vector<std::string> storedNames()
    {
        JsonDocument doc;
        doc.parse(readSetting("观看历史", "数据"));
        std::vector<std::string> names;
        for (int i = 0; i < doc.count("data"); ++i)
            names.push_back(doc.getText("data[" + std::to_string(i) + "].名"));
        return names;
    }
    std::vector<std::string> seeks() const
    {
        std::vector<std::string> out;
        for (const std::string& c : browser->calls)
            if (c.rfind("seek ", 0) == 0)
                out.push_back(c);
        return out;
    }

    Clock::time_point clock = Clock::now();
    PlayerWindow* window = nullptr;
};

TEST_F(WatchPosition, SavesEveryTenSecondsWhilePlayingAndNotWhilePaused)
{
    for (bool continuous : {true, false}) {
        SCOPED_TRACE(continuous ? "continuous play on" : "continuous play off");
        window->form().选择框_连播->setChecked(continuous);
        startFirstEpisode();
        playerStarted();
        checkPendingSeek(); // no opening to skip: the start is over once the time moves
        std::vector<int> saved;
        for (int second = 0; second <= 40; second += 2) {
            times(second);
            tick();
            checkPendingSeek();
            if (saved.empty() || saved.back() != stored("甲剧"))
                saved.push_back(stored("甲剧"));
        }
        // The start saved 0; then one save every 10 s of the clock (ticks 2 s apart) while the
        // time moves, the first one 10 s after the start.
        EXPECT_EQ(saved, (std::vector<int>{0, 8, 18, 28, 38}));
        // Paused: the time stands still, nothing is saved however long.
        browser->calls.clear();
        for (int i = 0; i < 20; ++i)
            tick();
        EXPECT_EQ(stored("甲剧"), 38);
        // Playing again.
        times(44);
        tick();
        EXPECT_EQ(stored("甲剧"), 44);
        EXPECT_TRUE(seeks().empty());
    }
}

TEST_F(WatchPosition, SavesGoUnderThePlayingSeriesNotTheOneShownNow)
{
    startFirstEpisode();
    playerStarted();
    times(0);
    tick();
    // The user opens another series while the episode plays.
    main->form().透明标签_标题->setText(QStringLiteral("乙剧"));
    for (int second = 2; second <= 30; second += 2) {
        times(second);
        tick();
        checkPendingSeek();
    }
    EXPECT_GE(stored("甲剧"), 20);
    // The jump zone's saves and the jump's too.
    times(2650);
    tick();
    EXPECT_EQ(playbackState.episode().currentLabel, "02");
    window->close();
    waitForSaves();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"甲剧"}));
}

TEST_F(WatchPosition, ClosingThePlayerSavesWhereTheEpisodeWasLeft)
{
    startFirstEpisode();
    playerStarted();
    times(0);
    tick();
    checkPendingSeek();
    times(8);
    tick(1);
    checkPendingSeek();
    ASSERT_FALSE(seekPending());
    ASSERT_EQ(stored("甲剧"), 0) << "less than 10 s since the start";
    times(9); // paused at 9 since the last tick
    window->close();
    waitForSaves();
    EXPECT_EQ(stored("甲剧"), 9);
    EXPECT_EQ(playerForm(), nullptr);
}

TEST_F(WatchPosition, TheProgramEndingWritesThePositionBeforeItReturns)
{
    startFirstEpisode();
    playerStarted();
    times(0);
    tick();
    checkPendingSeek();
    times(3);
    tick();
    checkPendingSeek();
    ASSERT_FALSE(seekPending());
    times(7);
    // The main window's closing: the process ends right after, so nothing may be left running.
    destroyPlayerWindow();
    EXPECT_EQ(runningHistorySaves(), 0);
    EXPECT_EQ(stored("甲剧"), 7);
    EXPECT_EQ(playerForm(), nullptr);
}

TEST_F(WatchPosition, AResumeSeeksThreeSecondsBeforeTheStoredPositionOnceItPlays)
{
    // The history row of an episode left at 02:00.
    ASSERT_TRUE(writeSetting(
        "观看历史", "数据",
        *historyWithEntry("", {"续播剧", "05", "http://v/5/index.m3u8", "http://m/5.m3u8", 120})));
    delete window;
    showHistory(main->form());
    ASSERT_EQ(main->form().超级列表框_列表->topLevelItemCount(), 1);
    EXPECT_EQ(main->form().超级列表框_列表->topLevelItem(0)->text(2), QStringLiteral("看到 02:00"));
    requestResume(main->form(), "续播剧", "http://v/5/index.m3u8", "http://m/5.m3u8",
                  [](MainForm&) {});
    main->form().透明标签_标题->setText(QStringLiteral("别的剧")); // the series row opened
    EXPECT_FALSE(startResume(main->form()));
    ASSERT_NE(playerForm(), nullptr);
    const PlayingEpisode playing = playbackState.episode();
    EXPECT_EQ(playing.currentLabel, "05");
    EXPECT_EQ(playing.currentM3u8, "http://m/5.m3u8");
    EXPECT_TRUE(seekPending());

    // Not before the page's player is started and its time moves.
    times(0);
    checkPendingSeek();
    playerStarted();
    checkPendingSeek();
    checkPendingSeek();
    EXPECT_TRUE(seeks().empty());
    // A close now keeps the stored position.
    times(1);
    browser->hasVideo = false; // the page has no video element yet: tried again
    checkPendingSeek();
    EXPECT_EQ(seeks(), (std::vector<std::string>{"seek 117"}));
    EXPECT_TRUE(seekPending());
    browser->hasVideo = true;
    checkPendingSeek();
    EXPECT_EQ(seeks(), (std::vector<std::string>{"seek 117", "seek 117"}));
    EXPECT_FALSE(seekPending());
    EXPECT_NE(log().find("已跳到上次观看位置 01:57"), std::string::npos);
    // Position saves go under the resumed series.
    times(118);
    tick();
    times(130);
    tick(12);
    EXPECT_EQ(stored("续播剧"), 130);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"续播剧"}));
}

TEST_F(WatchPosition, AResumeFromZeroOrFromTheJumpZoneStartsAtTheBeginning)
{
    delete window;
    for (int position : {0, 2680}) {
        SCOPED_TRACE(position);
        ASSERT_TRUE(writeSetting(
            "观看历史", "数据",
            *historyWithEntry("", {"续播剧", "05", "http://v/5/play.html", "m", position})));
        showHistory(main->form());
        EXPECT_EQ(main->form().超级列表框_列表->topLevelItem(0)->text(2),
                  position == 0 ? QString() : QStringLiteral("看到 44:40"));
        requestResume(main->form(), "续播剧", "http://v/5/play.html", "m", [](MainForm&) {});
        startResume(main->form());
        ASSERT_NE(playerForm(), nullptr);
        playerStarted();
        playerForm()->编辑框_片头->setText(QStringLiteral("30")); // a resume skips no opening
        for (int second = 0; second < 4; ++second) {
            times(second);
            checkPendingSeek();
        }
        EXPECT_TRUE(seeks().empty());
        EXPECT_FALSE(seekPending());
        EXPECT_EQ(log().find("已跳到上次观看位置"), std::string::npos);
        delete playerForm()->window;
    }
}

TEST_F(WatchPosition, TheOpeningIsSkippedOnADoubleClickAndOnAJump)
{
    window->form().编辑框_片头->setText(QStringLiteral("4"));
    startFirstEpisode();
    times(0);
    checkPendingSeek();
    playerStarted();
    checkPendingSeek();
    EXPECT_TRUE(seeks().empty()) << "not before the time moves";
    times(1);
    checkPendingSeek();
    EXPECT_EQ(seeks(), (std::vector<std::string>{"seek 4"}));
    EXPECT_EQ(log().find("已跳到上次观看位置"), std::string::npos);

    // The jump to episode 02: the old page's times do not count, the new page's do.
    times(2650);
    tick();
    ASSERT_EQ(playbackState.episode().currentLabel, "02");
    browser->calls.clear();
    times(2651);
    checkPendingSeek();
    EXPECT_TRUE(seeks().empty()) << "the next page's player has not been started";
    playerStarted();
    times(0);
    checkPendingSeek();
    times(2);
    checkPendingSeek();
    EXPECT_EQ(seeks(), (std::vector<std::string>{"seek 4"}));

    // Already past the opening when the start is seen: no seek back.
    window->form().编辑框_片头->setText(QStringLiteral("3"));
    startFirstEpisode();
    playerStarted();
    times(2);
    checkPendingSeek();
    times(5);
    checkPendingSeek();
    EXPECT_TRUE(seeks().empty());
    EXPECT_FALSE(seekPending());
}

} // namespace
