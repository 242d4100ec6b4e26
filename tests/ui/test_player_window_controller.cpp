// The player controller on a stand-in browser: the poll's jump before the end of an episode, its
// threshold, the last episode, the player-page prefix; the page watcher; the double-click on an
// episode with its default-browser fallbacks; the history resume.

#include "test_player_window_fixture.h"

#include "net/json_document.h"
#include "playback/episode_list.h"
#include "playback/player_endpoints.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

namespace {

const TextList kThreeEpisodes = {
    "01", "http://v/1/index.m3u8", "http://m/1.m3u8",
    "02", "http://v/2/index.m3u8", "http://m/2.m3u8",
    "03", "http://v/3/index.m3u8", "http://m/3.m3u8",
};

std::string historyUrlOf(const std::string& name)
{
    JsonDocument doc;
    doc.parse(readSetting("观看历史", "数据"));
    for (int i = 0; i < doc.count("data"); ++i)
        if (doc.getText("data[" + std::to_string(i) + "].名") == name)
            return doc.getText("data[" + std::to_string(i) + "].URL");
    return "<none>";
}

class Poll : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        main->form().透明标签_标题->setText(QStringLiteral("连播剧"));
        publishPlayList(kThreeEpisodes);
        window = openPlayer();
        window->form().选择框_连播->setChecked(true);
        window->form().编辑框_尾->setText(QStringLiteral("60"));
    }

    void play(const std::string& url, const std::string& m3u8, const std::string& label)
    {
        playbackState.setEpisode({url, m3u8, label});
        setPlayingSeries("连播剧");
        playbackState.pendingAction = static_cast<int>(PendingAction::None);
        browser->calls.clear();
    }

    void dplayerTimes(const std::string& elapsed, const std::string& total)
    {
        browser->setText(".dplayer-ptime", elapsed);
        browser->setText(".dplayer-dtime", total);
    }

    std::string countdown() const { return window->form().标签_跳转->text().toStdString(); }

    PlayerWindow* window = nullptr;
};

TEST_F(Poll, JumpsToTheNextEpisodeBeforeTheEndThroughThePrefix)
{
    // The episode was loaded through the player page, so the browser's address carries the prefix.
    play(playerPageEndpoint() + "http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("44:10", "45:00");
    pollPlayer(main->form());
    EXPECT_EQ(browser->pageCalls(), (std::vector<std::string>{"navigate " + altPlayerEndpoint() +
                                                              "http://v/2/index.m3u8"}));
    const PlayingEpisode now = playbackState.episode();
    EXPECT_EQ(now.currentLabel, "02");
    EXPECT_EQ(now.currentM3u8, "http://m/2.m3u8");
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));
    EXPECT_NE(log().find("跳转下一集 02 / 3"), std::string::npos);
    EXPECT_EQ(countdown(), "-10");
    waitForSaves();
    EXPECT_EQ(historyUrlOf("连播剧"), "http://v/2/index.m3u8") << "stored without the prefix";

    // The next episode, loaded through the second player page, is followed by the third.
    playbackState.pendingAction = static_cast<int>(PendingAction::None);
    browser->calls.clear();
    pollPlayer(main->form());
    EXPECT_EQ(browser->pageCalls(), (std::vector<std::string>{"navigate " + altPlayerEndpoint() +
                                                              "http://v/3/index.m3u8"}));
}

TEST_F(Poll, NoJumpOutsideTheZoneOrWhileStartingOrAfterTheLastEpisode)
{
    play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("10:00", "45:00");
    pollPlayer(main->form());
    EXPECT_TRUE(browser->pageCalls().empty());
    EXPECT_EQ(countdown(), std::to_string(2700 - 600 - 60));

    dplayerTimes("44:10", "45:00");
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    pollPlayer(main->form());
    EXPECT_TRUE(browser->pageCalls().empty()) << "a page is still starting";

    play(playerPageEndpoint() + "http://v/3/index.m3u8", "http://m/3.m3u8", "03");
    pollPlayer(main->form());
    EXPECT_TRUE(browser->pageCalls().empty()) << "the last episode has no next";
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
}

TEST_F(Poll, AnEpisodeThatPlayedToItsEndStillMovesOn)
{
    // The ticks missed the last seconds (a modal window held them); the page shows the end.
    play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("45:00", "45:00");
    pollPlayer(main->form());
    EXPECT_EQ(browser->pageCalls(), (std::vector<std::string>{"navigate " + altPlayerEndpoint() +
                                                              "http://v/2/index.m3u8"}));

    // Times not read yet (both zero) are no end.
    play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("00:00", "00:00");
    pollPlayer(main->form());
    EXPECT_TRUE(browser->pageCalls().empty());
}

TEST_F(Poll, AOneEpisodeListEndsPlayback)
{
    publishPlayList({"01", "http://v/1/index.m3u8", "http://m/1.m3u8"});
    play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("44:10", "45:00");
    pollPlayer(main->form());
    EXPECT_TRUE(browser->pageCalls().empty());
    EXPECT_NE(log().find("这是最后一集,将会结束播放"), std::string::npos);
    EXPECT_EQ(countdown(), "0") << "the tick ends before the countdown";
}

TEST_F(Poll, ThresholdsTheClipCannotHoldBecomeATenth)
{
    struct Case {
        const char* elapsed;
        const char* total;
        const char* threshold; // after the tick
        bool jumps;
    };
    const Case cases[] = {
        {"0:40", "1:30", "60", true}, // 60 is neither above 90 nor above 72
        {"0:01", "1:00", "6", false}, // 60 is above 48: a tenth, and 59 s are left
        {"0:55", "1:00", "6", true},
        {"1:00", "1:03", "6.3", true}, // 60 is above 50: 6.3, read as 6
        {"0:01", "0:30", "3", false},  // above the duration
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.elapsed) + " of " + c.total);
        window->form().编辑框_尾->clear();
        window->form().编辑框_尾->setText(QStringLiteral("60"));
        play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
        dplayerTimes(c.elapsed, c.total);
        pollPlayer(main->form());
        EXPECT_EQ(window->form().编辑框_尾->text().toStdString(), c.threshold);
        EXPECT_EQ(readSetting("配置项", "跳转"), c.threshold);
        EXPECT_EQ(!browser->pageCalls().empty(), c.jumps);
    }
}

TEST_F(Poll, AliplayerTimesWinAndMissingTimesKeepTheLastOnes)
{
    play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("10:00", "45:00");
    browser->setText(".current-time", "01:02:03");
    browser->setText(".duration", "01:05:00");
    pollPlayer(main->form());
    EXPECT_EQ(lastTimeParts(), (std::vector<std::string>{"01", "02", "03"}));
    EXPECT_EQ(countdown(), std::to_string(3900 - 3723 - 60));
    browser->texts.clear();
    pollPlayer(main->form());
    EXPECT_EQ(lastDurationParts(), (std::vector<std::string>{"01", "05", "00"}));

    window->form().选择框_连播->setChecked(false);
    browser->setText(".current-time", "01:04:30");
    pollPlayer(main->form());
    EXPECT_EQ(lastTimeParts(), (std::vector<std::string>{"01", "02", "03"}))
        << "continuous play off";
}

// Every page query pumps events, and an event can close the player window: the poll must not
// use the window's form after that (under AddressSanitizer a use shows as a fault).
TEST_F(Poll, AWindowClosedDuringAPageQueryIsNotUsedAfterwards)
{
    play("http://v/1/index.m3u8", "http://m/1.m3u8", "01");
    dplayerTimes("00:20", "00:50");
    for (const std::string read :
         {"read .dplayer-ptime", "read .dplayer-dtime", "read .current-time"}) {
        SCOPED_TRACE(read);
        if (playerForm() == nullptr) {
            window = openPlayer();
            window->form().选择框_连播->setChecked(true);
            dplayerTimes("00:20", "00:50");
        }
        browser->onCall = [this, read](const std::string& call) {
            if (call == read && window != nullptr) {
                PlayerWindow* closing = std::exchange(window, nullptr);
                delete closing;
            }
        };
        pollPlayer(main->form());
        EXPECT_EQ(window, nullptr);
        EXPECT_EQ(playerForm(), nullptr);
    }
    browser->onCall = nullptr;
}

TEST(Seconds, TimeTexts)
{
    const std::pair<const char*, int> cases[] = {
        {"01:02:03", 3723}, {"1:05:00", 3900}, {"62:10", 3730}, {"00:00", 0},    {"45:00", 2700},
        {"7", 0},           {"", 0},           {"1::30", 90},   {"1:2:3:4", 62}, {"x1:20", 20},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(seconds(splitTime(text)), expected) << text;
}

class PageWatch : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        openPlayer();
        playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
        browser->video = true;
    }
    // The page's control starts the video when it is activated (call: "click .x 1").
    void startsOn(const std::string& activation)
    {
        browser->onCall = [this, activation](const std::string& call) {
            if (call == activation)
                browser->paused = false;
        };
    }
    std::string statusLog() const { return main->form().编辑框_状态->toPlainText().toStdString(); }
};

const char* const kBezelPlayIcon =
    "<span class=\"dplayer-bezel-icon\"><svg viewBox=\"0 0 16 32\"></svg></span>";

TEST_F(PageWatch, AVideoThatPlaysByItselfIsNeverActivated)
{
    // Autoplay on DPlayer: the bezel shows the play icon because play was asked for; activating
    // it would pause the video.
    browser->setMarkup(".dplayer-bezel-icon", kBezelPlayIcon);
    browser->setMarkup(".dplayer-video-wrap", "<div class=\"dplayer-video-wrap\"></div>");
    browser->setMarkup(".dplayer-play-icon",
                       "<button class=\"dplayer-icon dplayer-play-icon\"></button>");
    browser->paused = false;
    playerServices().drawSponsorChance = [] { return 8; };
    watchPageStart();
    EXPECT_TRUE(browser->pageCalls().empty());
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
    EXPECT_EQ(sponsorOpened, 1);
    EXPECT_EQ(statusLog().find("播放未能开始"), std::string::npos);
    watchPageStart();
    EXPECT_TRUE(browser->pageCalls().empty()) << "already started";
}

TEST_F(PageWatch, APausedVideoIsStartedByItsPlayersControlOnce)
{
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> markup;
        std::string activation;
    };
    const Case cases[] = {
        {"DPlayer without a start overlay",
         {{".dplayer-video-wrap", "<div></div>"}, {".dplayer-play-icon", "<button></button>"}},
         "click .dplayer-play-icon 1"},
        {"DPlayer whose play was refused",
         {{".dplayer-bezel-icon", kBezelPlayIcon}, {".dplayer-play-icon", "<button></button>"}},
         "click .dplayer-play-icon 1"},
        {"DPlayer without a play button",
         {{".dplayer-video-wrap", "<div></div>"}},
         "press .dplayer-bezel 1"},
        {"Aliplayer showing its big play button",
         {{".prism-big-play-btn",
           "<div class=\"prism-big-play-btn\" style=\"display: block;\"></div>"}},
         "click .prism-big-play-btn 1"},
        {"Aliplayer with the big play button hidden",
         {{".prism-player", "<div></div>"},
          {".prism-big-play-btn",
           "<div class=\"prism-big-play-btn\" style=\"display: none;\"></div>"}},
         "click .prism-play-btn 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        browser->markup.clear();
        browser->calls.clear();
        browser->paused = true;
        for (const auto& [selector, html] : c.markup)
            browser->setMarkup(selector, html);
        startsOn(c.activation);
        playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
        watchPageStart();
        EXPECT_EQ(browser->pageCalls(), std::vector<std::string>{c.activation});
        EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
        EXPECT_FALSE(browser->paused);
    }
    EXPECT_EQ(statusLog().find("播放未能开始"), std::string::npos);
}

TEST_F(PageWatch, WithoutAReadableVideoTheBigPlayButtonAndTheElapsedTimeDecide)
{
    // The page's time text moves once the big play button was clicked.
    browser->video = false;
    browser->setMarkup(".prism-big-play-btn",
                       "<div class=\"prism-big-play-btn\" style=\"display: block;\"></div>");
    browser->setText(".current-time", "00:00");
    int played = -1; // seconds shown once playing
    browser->onCall = [this, &played](const std::string& call) {
        if (call == "click .prism-big-play-btn 1") {
            browser->setMarkup(".prism-big-play-btn",
                               "<div class=\"prism-big-play-btn\" style=\"display: none;\"></div>");
            played = 0;
        } else if (call == "read .current-time" && played >= 0 && played < 9) {
            browser->setText(".current-time", "00:0" + std::to_string(++played));
        }
    };
    watchPageStart();
    EXPECT_EQ(browser->pageCalls(), (std::vector<std::string>{"click .prism-big-play-btn 1"}));
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
    EXPECT_EQ(statusLog().find("播放未能开始"), std::string::npos) << statusLog();
}

TEST_F(PageWatch, AVideoThatNeverStartsIsActivatedABoundedNumberOfTimesAndReported)
{
    browser->setMarkup(".dplayer-video-wrap", "<div></div>");
    browser->setMarkup(".dplayer-play-icon", "<button></button>");
    watchPageStart();
    EXPECT_EQ(browser->pageCalls(), (std::vector<std::string>(3, "click .dplayer-play-icon 1")));
    EXPECT_NE(statusLog().find("播放未能开始: 点击播放 3 次后视频仍未前进"), std::string::npos)
        << statusLog();
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
}

TEST_F(PageWatch, ARemovedVideoLoadsTheSecondAddress)
{
    playbackState.setEpisode({"http://v/1/index.m3u8", "http://m/1.m3u8", "01"});
    browser->setText("body pre", "错误: 视频已经被移除");
    watchPageStart();
    EXPECT_EQ(browser->pageCalls(),
              (std::vector<std::string>{"navigate " + playerPageEndpoint() + "http://m/1.m3u8"}));
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));

    // The notice on the player page of the stream itself: loading it again would show it again.
    for (const std::string& m3u8 : {std::string("http://v/1/index.m3u8"), std::string()}) {
        browser->calls.clear();
        main->form().编辑框_状态->clear();
        playbackState.setEpisode({playerPageEndpoint() + "http://v/1/index.m3u8", m3u8, "01"});
        watchPageStart();
        EXPECT_TRUE(browser->pageCalls().empty()) << m3u8;
        EXPECT_NE(statusLog().find("视频已经被移除, 没有其他播放地址"), std::string::npos) << m3u8;
    }
}

class DoubleClick : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        main->form().透明标签_标题->setText(QStringLiteral("双击剧"));
        publishOpenSeries({{},
                           {{"01", "http://v/1/index.m3u8", "http://m/1.m3u8"},
                            {"02", "http://v/2/play.html", "http://m/2.m3u8"}}});
        ASSERT_TRUE(fillEpisodeGrid(main->form(), openSeries()->episodes));
    }
    void doubleClick(int row, int column)
    {
        main->form().高级表格_剧集->setCurrentCell(row, column);
        playEpisodeCell(main->form());
        waitForSaves();
    }
};

TEST_F(DoubleClick, OpensThePlayerOnThePlayerPageAndRecordsTheOwnAddress)
{
    doubleClick(0, 0);
    ASSERT_NE(playerForm(), nullptr);
    EXPECT_EQ(openedOn, (std::vector<std::string>{playerPageEndpoint() + "http://v/1/index.m3u8"}));
    EXPECT_EQ(playbackState.episode().currentUrl, playerPageEndpoint() + "http://v/1/index.m3u8");
    EXPECT_EQ(historyUrlOf("双击剧"), "http://v/1/index.m3u8");
    EXPECT_NE(log().find("开始准备播放第 01 集"), std::string::npos);
    EXPECT_EQ(*playList(), (TextList{"01", "http://v/1/index.m3u8", "http://m/1.m3u8", "02",
                                     "http://v/2/play.html", "http://m/2.m3u8"}));
    // The second episode is no m3u8 address: loaded as it is, in the window that is open.
    browser->calls.clear();
    doubleClick(0, 3);
    EXPECT_EQ(browser->pageCalls(), (std::vector<std::string>{"navigate http://v/2/play.html"}));
    EXPECT_EQ(openedOn.size(), 1u);
}

TEST_F(DoubleClick, AnyHlsAddressGoesThroughThePlayerPageAndAPageWithoutAStreamOpensAsItIs)
{
    // A stream not named index.m3u8, and a series' page address with no stream beside it.
    publishOpenSeries({{},
                       {{"01", "http://v/1/playlist.m3u8?t=1", "http://v/1/playlist.m3u8?t=1"},
                        {"02", "http://v/2/play.html", ""}}});
    ASSERT_TRUE(fillEpisodeGrid(main->form(), openSeries()->episodes));
    doubleClick(0, 0);
    EXPECT_EQ(openedOn,
              (std::vector<std::string>{playerPageEndpoint() + "http://v/1/playlist.m3u8?t=1"}));
    setOsVersion(0x0603);
    doubleClick(0, 3);
    EXPECT_EQ(defaultBrowser, (std::vector<std::string>{"http://v/2/play.html"}));
}

TEST_F(DoubleClick, EmptyCellsDoNothing)
{
    doubleClick(0, 7);
    EXPECT_EQ(playerForm(), nullptr);
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
}

TEST_F(DoubleClick, FallsBackToTheDefaultBrowser)
{
    setOsVersion(0x0603);
    doubleClick(0, 3);
    EXPECT_EQ(defaultBrowser, (std::vector<std::string>{playerPageEndpoint() + "http://m/2.m3u8"}));
    setOsVersion(kOsVersionWithBrowser);
    playerServices().hasBrowserRuntime = [] { return 0; };
    defaultBrowser.clear();
    doubleClick(0, 0);
    doubleClick(0, 3);
    EXPECT_EQ(defaultBrowser, (std::vector<std::string>{playerPageEndpoint() + "http://m/1.m3u8",
                                                        "http://v/2/play.html"}));
    EXPECT_EQ(main->form().透明标签_简介->text(),
              QStringLiteral("未安装 webview2组件 , 将以默认浏览器方式打开"));
    EXPECT_EQ(playerForm(), nullptr);
}

TEST_F(DoubleClick, OnlyWebAddressesAreLoadedOrHandedToTheDesktop)
{
    const std::string bad[] = {"file:///etc/hostname", "javascript:fetch('http://127.0.0.1:9/x')",
                               "data:text/html,<b>x</b>", "ftp://host/1.mp4", "/etc/hostname"};
    for (const std::string& address : bad) {
        SCOPED_TRACE(address);
        publishOpenSeries({{}, {{"01", address, address}}});
        ASSERT_TRUE(fillEpisodeGrid(main->form(), openSeries()->episodes));
        for (int runtime : {1, 0}) {
            playerServices().hasBrowserRuntime = [runtime] { return runtime; };
            doubleClick(0, 0);
            EXPECT_EQ(playerForm(), nullptr) << "a player window was opened";
            EXPECT_TRUE(openedOn.empty());
            EXPECT_TRUE(defaultBrowser.empty());
            EXPECT_NE(log().find("不是网页地址, 没有打开: " + address), std::string::npos) << log();
        }
    }
    // A web address in any letter case is loaded.
    publishOpenSeries({{}, {{"01", "HTTPS://v/1/play.html", "http://m/1.m3u8"}}});
    ASSERT_TRUE(fillEpisodeGrid(main->form(), openSeries()->episodes));
    playerServices().hasBrowserRuntime = [] { return 1; };
    doubleClick(0, 0);
    EXPECT_EQ(openedOn, (std::vector<std::string>{"HTTPS://v/1/play.html"}));
}

using Resume = PlayerFixture;

TEST_F(Resume, AHistoryRowSearchesThenTheNextSeriesRowPlaysTheStoredEpisodeWithOnePrefix)
{
    struct Case {
        std::string stored;
        std::string expected;
    };
    const Case cases[] = {
        {"http://v/5/index.m3u8", playerPageEndpoint() + "http://v/5/index.m3u8"},
        {playerPageEndpoint() + "http://v/5/index.m3u8",
         playerPageEndpoint() + "http://v/5/index.m3u8"},
        {"http://v/5/play.html", "http://v/5/play.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        int searches = 0;
        requestResume(main->form(), "续播剧", c.stored, "http://m/5.m3u8",
                      [&searches](MainForm&) { ++searches; });
        EXPECT_EQ(searches, 1);
        EXPECT_EQ(main->form().编辑框_搜索->text(), QStringLiteral("续播剧"));
        EXPECT_TRUE(resumePending());
        EXPECT_FALSE(startResume(main->form()));
        EXPECT_EQ(playbackState.episode().currentUrl, c.expected);
        EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));
        EXPECT_FALSE(resumePending());
        ASSERT_NE(playerForm(), nullptr);
        waitForSaves();
        delete playerForm()->window;
    }
    EXPECT_EQ(openedOn.back(), "http://v/5/play.html");
}

TEST_F(Resume, TheHistoryButtonListsNewestFirst)
{
    std::string text;
    for (const char* name : {"甲", "乙", "丙"})
        text = *historyWithEntry(text,
                                 {name, "02", std::string("u-") + name, std::string("m-") + name});
    ASSERT_TRUE(writeSetting("观看历史", "数据", text));
    showHistory(main->form());
    QTreeWidget* list = main->form().超级列表框_列表;
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("丙"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("02集"));
    EXPECT_EQ(list->topLevelItem(0)->text(5), QStringLiteral("u-丙"));
    EXPECT_EQ(list->topLevelItem(0)->text(6), QStringLiteral("m-丙"));
    EXPECT_EQ(list->topLevelItem(2)->text(0), QStringLiteral("甲"));
    EXPECT_EQ(main->form().标签_共有记录数->text(), QStringLiteral("3"));
    EXPECT_FALSE(main->form().按钮_下一页->isEnabled());
    EXPECT_EQ(historyText(), text);
    EXPECT_NE(log().find("载入播放历史记录完成,点击列表可自动续播"), std::string::npos);
}

} // namespace
