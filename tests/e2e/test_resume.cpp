// Picking up where the user left off, end to end on the bundled demo server, in the real main
// window and the real embedded browser, once with the DPlayer page and once with the Aliplayer
// page as the player page: an episode played to about second 8 and closed is resumed from the
// history row near that second; with an opening of 4 s a double-click and a continuous-play jump
// both start the episode at second 4.

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "catalogue/catalogue_client.h"
#include "catalogue/catalogue_sources.h"
#include "playback/bridge_library.h"
#include "playback/episode_list.h"
#include "playback/history.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/player_placement.h"
#include "playback/watch_position.h"
#include "playback/web_view_bridge.h"
#include "ui/main_window.h"
#include "ui/player_window.h"

#include "support/demo_process.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

const std::string kSeries = "小龙历险记"; // one source of index.m3u8 addresses, 12 episodes

struct PageKind {
    const char* name;
    const char* page;    // 播放器地址: the page a double-click and a resume load
    const char* altPage; // 备用播放器地址: the page of a continuous-play jump
};

void PrintTo(const PageKind& kind, std::ostream* out)
{
    *out << kind.name;
}

std::string kindName(const ::testing::TestParamInfo<PageKind>& info)
{
    return info.param.name;
}

// Runs events until the catalogue loads, cover fetches, play-list builds and history saves that
// run on worker threads have finished.
bool waitForWorkers()
{
    const bool idle = QTest::qWaitFor(
        [] {
            return runningCatalogueLoads() == 0 && runningCoverFetches() == 0 &&
                   runningPlayListBuilds() == 0 && runningHistorySaves() == 0;
        },
        30000);
    QCoreApplication::processEvents();
    return idle;
}

// The elapsed second the page's player shows, -1 when it shows none.
int pageSecond()
{
    WebViewBridge& bridge = webViewBridge();
    for (const char* selector : {kAliplayerElapsed, kDplayerElapsed}) {
        if (bridge.elementExists(selector, 1)) {
            const std::vector<std::string> parts = splitTime(bridge.elementText(selector, 1));
            return parts.size() >= 2 ? seconds(parts) : -1;
        }
    }
    return -1;
}

// The second the page shows once a seek to target has been made: the reading now when it is
// already there, otherwise the next reading that differs from it. A seek moves the shown time
// straight to the target, while a video that was not moved would show the next second after the
// one read now.
int landedSecond(int target)
{
    const int before = pageSecond();
    if (before >= target)
        return before;
    (void)QTest::qWaitFor([before] { return pageSecond() != before; }, 20000);
    return pageSecond();
}

class ResumeEndToEnd : public ::testing::TestWithParam<PageKind> {
protected:
    // One program folder, demo server and browser engine for every test of the suite: the bridge
    // starts once per process, with the data folder of its first start.
    static void SetUpTestSuite()
    {
        root_ = new QTemporaryDir;
        demo_ = new DemoProcess;
        demoUp_ = demo_->waitListening();
        if (!demoUp_)
            return;
        setProgramFolderForTesting(root_->path().toStdString());
        if (!ensureDataFolder())
            return;
        prepareBridgeLibrary(dataFolder());
        if (kovarwebview_has_edge() == 0)
            return;
        ready_ = startBridge(playerBrowserEventHandlers());
    }
    static void TearDownTestSuite()
    {
        setProgramFolderForTesting("");
        delete demo_;
        delete root_;
    }

    void SetUp() override
    {
        if (!QFile::exists(kDemoServer) ||
            !QFile::exists(kDemoRoot + QStringLiteral("/media/clips/c1/index.m3u8")))
            GTEST_SKIP() << "demo server or media missing (tools/demo/prepare.sh)";
        ASSERT_TRUE(demoUp_) << "the demo server did not start: " << demo_->errors().toStdString();
        if (!ready_)
            GTEST_SKIP() << "no browser engine here";
        setProgramFolderForTesting(root_->path().toStdString());
        QFile::remove(QString::fromStdString(settingsPath()));
        ASSERT_TRUE(ensureSettingsFile());
        const std::string http = "http://127.0.0.1:" + std::to_string(demo_->httpPort);
        ASSERT_TRUE(writeSetting("配置项", "证书文件", kDemoCertificate));
        ASSERT_TRUE(
            writeSetting("配置项", "线路列表", "127.0.0.1:" + std::to_string(demo_->httpsPort)));
        ASSERT_TRUE(writeSetting("配置项", "播放器地址", http + GetParam().page));
        ASSERT_TRUE(writeSetting("配置项", "备用播放器地址", http + GetParam().altPage));
        ASSERT_TRUE(writeSetting("配置项", "连播", "真"));
        ASSERT_TRUE(writeSetting("配置项", "跳转", "5"));
        setHistoryText("");
        playbackState.pendingAction = static_cast<int>(PendingAction::None);
        playbackState.setEpisode({});
        resetWatchPosition();

        main_ = std::make_unique<MainWindow>();
        main_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main_.get()));
        playerServices().drawSponsorChance = [] { return 1; };
        fillRouteBox(form());
        selectRouteEntry(form(), 0);
    }

    void TearDown() override
    {
        if (PlayerForm* player = playerForm())
            delete player->window;
        waitForWorkers();
        main_.reset();
        resetPlayerServices();
        setPlaybackMainForm(nullptr);
        resetWatchPosition();
    }

    MainForm& form() { return main_->form(); }
    std::string log() { return form().编辑框_状态->toPlainText().toStdString(); }

    // A click on row `row` of the series list.
    void clickRow(int row)
    {
        QTreeWidget* list = form().超级列表框_列表;
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        ASSERT_TRUE(rect.isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_TRUE(waitForWorkers());
    }
    int rowOf(const std::string& title)
    {
        QTreeWidget* list = form().超级列表框_列表;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0).toStdString() == title)
                return i;
        return -1;
    }
    // The series row of kSeries in the list the search left.
    void openSeriesFromSearchResults()
    {
        ASSERT_TRUE(waitForWorkers());
        ASSERT_TRUE(QTest::qWaitFor([this] { return rowOf(kSeries) >= 0; }, 30000)) << log();
        clickRow(rowOf(kSeries));
        ASSERT_EQ(form().透明标签_标题->text().toStdString(), kSeries);
    }
    void searchAndOpenSeries()
    {
        form().编辑框_搜索->setText(QString::fromStdString(kSeries));
        QTest::mouseClick(form().超级按钮_搜索, Qt::LeftButton);
        openSeriesFromSearchResults();
    }
    void doubleClickFirstEpisode()
    {
        form().高级表格_剧集->setCurrentCell(0, 0);
        playEpisodeCell(form());
        ASSERT_NE(playerForm(), nullptr);
    }
    // Waits until the page's player has been started and its elapsed time reached second.
    bool waitForSecond(int second, int timeoutMs = 90000)
    {
        return QTest::qWaitFor(
            [second] {
                return playerForm() != nullptr &&
                       playbackState.pendingAction.load() ==
                           static_cast<int>(PendingAction::None) &&
                       pageSecond() >= second;
            },
            timeoutMs);
    }

    static QTemporaryDir* root_;
    static DemoProcess* demo_;
    static bool demoUp_;
    static bool ready_;
    std::unique_ptr<MainWindow> main_;
};

QTemporaryDir* ResumeEndToEnd::root_ = nullptr;
DemoProcess* ResumeEndToEnd::demo_ = nullptr;
bool ResumeEndToEnd::demoUp_ = false;
bool ResumeEndToEnd::ready_ = false;

TEST_P(ResumeEndToEnd, AResumeFromTheHistoryLandsNearTheSecondTheEpisodeWasLeftAt)
{
    searchAndOpenSeries();
    doubleClickFirstEpisode();
    ASSERT_TRUE(waitForSecond(8)) << "the page did not play to second 8; last read "
                                  << pageSecond();
    playerForm()->window->close();
    ASSERT_TRUE(waitForWorkers());
    ASSERT_EQ(playerForm(), nullptr);
    const int stored = storedPosition(readSetting("观看历史", "数据"), kSeries);
    EXPECT_GE(stored, 8);
    EXPECT_LE(stored, 14);

    // The history row shows the position.
    QTest::mouseClick(form().图形按钮_历史, Qt::LeftButton);
    ASSERT_TRUE(waitForWorkers());
    ASSERT_EQ(form().超级列表框_列表->topLevelItemCount(), 1);
    EXPECT_EQ(form().超级列表框_列表->topLevelItem(0)->text(2).toStdString(),
              "看到 " + minutesSeconds(stored));

    // Its click searches the series; opening the series resumes the episode near that second.
    form().编辑框_状态->clear();
    clickRow(0);
    openSeriesFromSearchResults();
    ASSERT_NE(playerForm(), nullptr);
    const std::string jumped = "已跳到上次观看位置 " + minutesSeconds(stored - kResumeLeadSeconds);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log().find(jumped) != std::string::npos; }, 90000))
        << log();
    const int now = landedSecond(stored - kResumeLeadSeconds);
    EXPECT_GE(now, stored - kResumeLeadSeconds);
    EXPECT_LE(now, stored + kResumeLeadSeconds);
    EXPECT_EQ(playbackState.episode().currentLabel, "01");
}

TEST_P(ResumeEndToEnd, WithAnOpeningOfFourSecondsADoubleClickAndAJumpStartAtSecondFour)
{
    ASSERT_TRUE(writeSetting("配置项", "片头", "4"));
    searchAndOpenSeries();
    doubleClickFirstEpisode();
    EXPECT_EQ(playerForm()->编辑框_片头->text(), QStringLiteral("4"));
    ASSERT_TRUE(seekPending());
    // The skip is made as soon as the video plays: the time moves on from second 4.
    ASSERT_TRUE(QTest::qWaitFor([] { return !seekPending(); }, 90000)) << "no start seen";
    {
        const int landed = landedSecond(4);
        EXPECT_GE(landed, 4);
        EXPECT_LE(landed, 7);
    }

    // The jump to episode 02 shortly before the end starts it at second 4 too.
    ASSERT_TRUE(QTest::qWaitFor([] { return playbackState.episode().currentLabel == "02"; }, 90000))
        << log();
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return playbackState.pendingAction.load() == static_cast<int>(PendingAction::None); },
        90000))
        << "the next page was not started";
    ASSERT_TRUE(QTest::qWaitFor([] { return !seekPending(); }, 90000)) << "no start seen";
    {
        const int landed = landedSecond(4);
        EXPECT_GE(landed, 4);
        EXPECT_LE(landed, 7);
    }
    EXPECT_EQ(log().find("已跳到上次观看位置"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    PageKinds, ResumeEndToEnd,
    ::testing::Values(PageKind{"DPlayer", "/player/jx.php?url=", "/m3u8/?url="},
                      PageKind{"Aliplayer", "/m3u8/?url=", "/player/jx.php?url="}),
    kindName);

} // namespace
