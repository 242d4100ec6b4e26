// Playback end to end on the bundled demo server: an episode double-clicked in the main window's
// grid opens the player window on the DPlayer page in the real browser, the page watcher starts
// the video, the poll jumps before the end to the next episode on the Aliplayer page, which is
// started too, and the history holds the episode's own address.

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "net/json_document.h"
#include "playback/bridge_library.h"
#include "playback/episode_list.h"
#include "playback/history.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_placement.h"
#include "playback/web_view_bridge.h"
#include "ui/main_window.h"
#include "ui/player_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString kServer = QStringLiteral(QY_BINARY_DIR "/bin/qy_demo_server");
const QString kDemoRoot = QStringLiteral(QY_SOURCE_DIR "/tools/demo");
const std::string kDemoCertificate = QY_SOURCE_DIR "/tools/demo/media/tls/server.crt";

int startDemo(QProcess& process, const QString& logPath)
{
    process.setStandardOutputFile(logPath);
    process.start(kServer,
                  {QStringLiteral("--root"), kDemoRoot, QStringLiteral("--https-port"),
                   QStringLiteral("0"), QStringLiteral("--http-port"), QStringLiteral("0")});
    static const QRegularExpression re(QStringLiteral("and http://127\\.0\\.0\\.1:(\\d+)"));
    for (int i = 0; i < 200; ++i) {
        QFile f(logPath);
        if (f.open(QIODevice::ReadOnly)) {
            const auto m = re.match(QString::fromUtf8(f.readAll()));
            if (m.hasMatch())
                return m.captured(1).toInt();
        }
        if (process.state() == QProcess::NotRunning)
            return 0;
        QThread::msleep(50);
    }
    return 0;
}

// Stops the demo server however the test ends.
struct StopOnExit {
    QProcess& process;
    ~StopOnExit()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

bool pendingIs(PendingAction action)
{
    return playbackState.pendingAction.load() == static_cast<int>(action);
}

TEST(PlaybackEndToEnd, PlaysJumpsToTheNextEpisodeAndStartsBothPlayers)
{
    if (!QFile::exists(kServer) ||
        !QFile::exists(kDemoRoot + QStringLiteral("/media/clips/c1/index.m3u8")))
        GTEST_SKIP() << "demo server or media missing (tools/demo/prepare.sh)";
    QTemporaryDir root;
    QProcess demo;
    StopOnExit stop{demo};
    const int port = startDemo(demo, root.filePath(QStringLiteral("demo.log")));
    ASSERT_GT(port, 0);
    setProgramFolderForTesting(root.path().toStdString());
    ASSERT_TRUE(ensureDataFolder());
    ASSERT_TRUE(ensureSettingsFile());
    const std::string host = "http://127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(writeSetting("配置项", "证书文件", kDemoCertificate));
    ASSERT_TRUE(writeSetting("配置项", "播放器地址", host + "/player/jx.php?url="));
    ASSERT_TRUE(writeSetting("配置项", "备用播放器地址", host + "/m3u8/?url="));
    ASSERT_TRUE(writeSetting("配置项", "连播", "真"));
    ASSERT_TRUE(writeSetting("配置项", "跳转", "15"));
    setHistoryText("");

    prepareBridgeLibrary(dataFolder());
    if (kovarwebview_has_edge() == 0)
        GTEST_SKIP() << "no browser engine here";
    ASSERT_TRUE(startBridge(playerBrowserEventHandlers()));

    MainWindow main;
    main.show();
    MainForm& form = main.form();
    setPlaybackMainForm(&form);
    playerServices().createPlayerWindow = [] { (new PlayerWindow)->show(); };
    playerServices().drawSponsorChance = [] { return 1; };
    form.透明标签_标题->setText(QStringLiteral("山海长歌"));
    const std::string ep1 = host + "/media/5/1/index.m3u8";
    const std::string ep2 = host + "/media/5/2/index.m3u8";
    publishOpenSeries({{}, {{"01", ep1, ep1}, {"02", ep2, ep2}}});
    ASSERT_TRUE(fillEpisodeGrid(form, openSeries()->episodes));

    form.高级表格_剧集->setCurrentCell(0, 0);
    playEpisodeCell(form);
    ASSERT_NE(playerForm(), nullptr);
    PlayerForm& player = *playerForm();
    EXPECT_TRUE(player.选择框_连播->isChecked());
    EXPECT_EQ(player.编辑框_尾->text(), QStringLiteral("15"));

    // The page watcher presses the DPlayer overlay once the page shows it.
    ASSERT_TRUE(QTest::qWaitFor([] { return pendingIs(PendingAction::None); }, 60000))
        << "the DPlayer page was not started";
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.标签_剧集->text().size() > 6; }, 10000));

    // Poll as the main window's timer does until the jump to the second episode.
    bool jumped = false;
    for (int tick = 0; tick < 40 && !jumped; ++tick) {
        waitPumping(2000);
        ASSERT_NE(playerForm(), nullptr);
        pollPlayer(form);
        jumped = playbackState.episode().currentLabel == "02";
    }
    ASSERT_TRUE(jumped) << "no jump; last times read: " << lastTimeParts().size();
    EXPECT_EQ(playbackState.episode().currentUrl, host + "/m3u8/?url=" + ep2);
    EXPECT_NE(form.编辑框_状态->toPlainText().indexOf(QStringLiteral("跳转下一集 02 / 2")), -1);

    // The Aliplayer page of the second episode is started too, and its time advances.
    ASSERT_TRUE(QTest::qWaitFor([] { return pendingIs(PendingAction::None); }, 60000))
        << "the Aliplayer page was not started";
    bool advancing = false;
    for (int tick = 0; tick < 10 && !advancing; ++tick) {
        waitPumping(2000);
        pollPlayer(form);
        advancing = lastTimeParts().size() >= 2 && seconds(lastTimeParts()) > 0;
    }
    EXPECT_TRUE(advancing);

    for (int i = 0; i < 500 && runningHistorySaves() > 0; ++i)
        QTest::qWait(10);
    JsonDocument history;
    history.parse(readSetting("观看历史", "数据"));
    EXPECT_EQ(history.count("data"), 1);
    EXPECT_EQ(history.getText("data[0].集"), "02");
    EXPECT_EQ(history.getText("data[0].URL"), ep2);

    delete player.window;
    QTest::qWait(200);
    resetPlayerServices();
    setPlaybackMainForm(nullptr);
    setProgramFolderForTesting("");
}

} // namespace
