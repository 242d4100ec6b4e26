#pragma once
// Playback end to end on plain player pages, one page configuration per case: the demo server
// serves each configuration as the player's documentation sets it up (DPlayer with its built-in
// HLS type or a custom hls.js type, Aliplayer; autoplay on or off), with nothing on the page for
// the program. For each, an episode double-clicked in the grid must play, Alt+0 must enter and
// leave full screen once per press, 重新加载 must restart the page and play it again, the 2X button
// must set the rate, and the poll must move on to the next episode before the end (loaded through
// the second page address) and to the one after.

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "platform/modifier_state.h"
#include "playback/bridge_library.h"
#include "playback/episode_list.h"
#include "playback/history.h"
#include "playback/page_commands.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "playback/player_endpoints.h"
#include "playback/player_placement.h"
#include "playback/web_view_bridge.h"
#include "support/demo_process.h"
#include "ui/main_window.h"
#include "ui/player_window.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace playback_pages {

struct PageCase {
    const char* page;         // a file of tools/demo/players without ".html"
    const char* variant = ""; // the episode's stream: "" for its master playlist, "sd" for 4:3
};

inline std::ostream& operator<<(std::ostream& out, const PageCase& c)
{
    return out << c.page << (*c.variant != '\0' ? "-" : "") << c.variant;
}

// Counts how often a window is hidden and shown (the player window hides while the page is full
// screen).
class VisibilityCount : public QObject {
public:
    int hidden = 0;
    int shown = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide)
            ++hidden;
        else if (event->type() == QEvent::Show)
            ++shown;
        return false;
    }
};

inline bool pendingIs(PendingAction action)
{
    return playbackState.pendingAction.load() == static_cast<int>(action);
}

inline QJsonObject media()
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(webViewBridge().mediaState()))
        .object();
}

inline double mediaTime()
{
    return media().value(QStringLiteral("currentTime")).toDouble(-1);
}

// One demo server and one started bridge for the whole program; a main window per case.
class PlainPages : public ::testing::TestWithParam<PageCase> {
protected:
    static void SetUpTestSuite()
    {
        if (!QFile::exists(kDemoServer) ||
            !QFile::exists(kDemoRoot + QStringLiteral("/media/clips/c1/index.m3u8")))
            return;
        root_ = new QTemporaryDir;
        demo_ = new DemoProcess;
        if (!demo_->waitListening())
            return;
        setProgramFolderForTesting(root_->path().toStdString());
        if (!ensureDataFolder() || !ensureSettingsFile())
            return;
        prepareBridgeLibrary(dataFolder());
        if (kovarwebview_has_edge() == 0 || !startBridge(playerBrowserEventHandlers()))
            return;
        ready_ = true;
    }
    static void TearDownTestSuite()
    {
        delete demo_;
        demo_ = nullptr;
        setProgramFolderForTesting("");
        delete root_;
        root_ = nullptr;
    }

    void SetUp() override
    {
        if (!ready_)
            GTEST_SKIP() << "demo server, media or browser engine missing (tools/demo/prepare.sh)";
        if (*GetParam().variant != '\0' &&
            !QFile::exists(kDemoRoot + QStringLiteral("/media/clips/") +
                           QString::fromLatin1(GetParam().variant)))
            GTEST_SKIP() << "clip " << GetParam().variant << " missing (tools/demo/prepare.sh)";
        host_ = "http://127.0.0.1:" + std::to_string(demo_->httpPort);
        const std::string page = host_ + "/page/" + GetParam().page;
        ASSERT_TRUE(writeSetting("配置项", "证书文件", kDemoCertificate));
        ASSERT_TRUE(writeSetting("配置项", "播放器地址", page + "?url="));
        ASSERT_TRUE(writeSetting("配置项", "备用播放器地址", page + "?from=alt&url="));
        ASSERT_TRUE(writeSetting("配置项", "连播", "真"));
        ASSERT_TRUE(writeSetting("配置项", "跳转", "15"));
        setHistoryText("");
        main_ = std::make_unique<MainWindow>();
        main_->show();
        playerServices().createPlayerWindow = [] { (new PlayerWindow)->show(); };
        playerServices().drawSponsorChance = [] { return 1; };
    }

    void TearDown() override
    {
        if (PlayerForm* player = playerForm())
            delete player->window;
        QTest::qWait(200);
        resetPlayerServices();
        main_.reset();
    }

    std::string episode(int n) const
    {
        const std::string variant = GetParam().variant;
        return host_ + "/media/5/" + std::to_string(n) + "/" +
               (variant.empty() ? "" : variant + "/") + "index.m3u8";
    }

    // Opens a series of these episodes (labelled 01, 02, …) in the main window and double-clicks
    // its first episode, as the grid's own signal does.
    void playFirstOf(const std::vector<std::string>& addresses)
    {
        MainForm& form = main_->form();
        form.透明标签_标题->setText(QStringLiteral("山海长歌"));
        OpenSeries series;
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            const std::string label = (i < 9 ? "0" : "") + std::to_string(i + 1);
            series.episodes.push_back({label, addresses[i], addresses[i]});
        }
        publishOpenSeries(std::move(series));
        main_->series().showSeries("山海长歌", *openSeries());
        main_->series().playCell(0, 0);
        ASSERT_NE(playerForm(), nullptr);
    }

    // Waits until the page watcher has finished and the video's time moves on (read through the
    // page's own time text, as the poll reads it).
    void expectPlaying(const char* what)
    {
        ASSERT_TRUE(QTest::qWaitFor([] { return pendingIs(PendingAction::None); }, 90000))
            << what << ": the watcher did not finish";
        EXPECT_EQ(main_->form().编辑框_状态->toPlainText().indexOf(QStringLiteral("播放未能开始")),
                  -1)
            << what << ": " << main_->form().编辑框_状态->toPlainText().toStdString();
        const double before = mediaTime();
        bool advancing = false;
        for (int tick = 0; tick < 15 && !advancing; ++tick) {
            waitPumping(1000);
            advancing = mediaTime() > before + 0.5;
        }
        EXPECT_TRUE(advancing) << what << ": the video's time did not advance from " << before;
    }

    // Polls as the main window's timer does until the episode with this label is the current one.
    bool pollUntilEpisode(const std::string& label)
    {
        for (int tick = 0; tick < 45; ++tick) {
            if (playerForm() == nullptr)
                return false;
            pollPlayer(main_->form());
            if (playbackState.episode().currentLabel == label)
                return true;
            waitPumping(2000);
        }
        return false;
    }

    void run()
    {
        MainForm& form = main_->form();
        const std::string ep2 = episode(2), ep3 = episode(3);
        playFirstOf({episode(1), ep2, ep3});
        if (HasFatalFailure())
            return;
        PlayerForm& player = *playerForm();
        expectPlaying("episode 01");

        // Alt+0 twice: in and out of full screen, once each; the player window hides while
        // the page is full screen and shows again after.
        VisibilityCount visibility;
        player.window->installEventFilter(&visibility);
        QWidget* normalView = webViewBridge().windowHandle();
        onShortcut(kVkAlt, 48, kKeyPressed);
        onShortcut(kVkAlt, 48, kKeyReleased);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return webViewBridge().windowHandle() != normalView; }, 15000))
            << "Alt+0 did not enter full screen";
        waitPumping(2000);
        EXPECT_EQ(visibility.hidden, 1);
        EXPECT_EQ(visibility.shown, 0);
        EXPECT_NE(webViewBridge().windowHandle(), normalView) << "left full screen by itself";
        onShortcut(kVkAlt, 48, kKeyPressed);
        onShortcut(kVkAlt, 48, kKeyReleased);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return webViewBridge().windowHandle() == normalView; }, 15000))
            << "Alt+0 did not leave full screen";
        waitPumping(2000);
        EXPECT_EQ(visibility.hidden, 1);
        EXPECT_EQ(visibility.shown, 1);
        EXPECT_TRUE(player.window->isVisible());
        player.window->removeEventFilter(&visibility);

        // 重新加载 restarts the page, and it plays again.
        const int loadsBefore = demo_->log().count(QStringLiteral("GET /page/"));
        player.按钮_重新加载->click();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return demo_->log().count(QStringLiteral("GET /page/")) > loadsBefore; }, 30000))
            << "the page was not loaded again";
        expectPlaying("episode 01 reloaded");

        player.按钮_2X->click();
        EXPECT_TRUE(QTest::qWaitFor(
            [] { return media().value(QStringLiteral("playbackRate")).toDouble() == 2.0; }, 10000))
            << "rate " << media().value(QStringLiteral("playbackRate")).toDouble();
        EXPECT_FALSE(media().value(QStringLiteral("paused")).toBool(true))
            << "the speed change paused the video";

        ASSERT_TRUE(pollUntilEpisode("02")) << "no jump to 02";
        EXPECT_EQ(playbackState.episode().currentUrl, altPlayerEndpoint() + ep2);
        expectPlaying("episode 02");
        ASSERT_TRUE(pollUntilEpisode("03")) << "no jump to 03";
        EXPECT_EQ(playbackState.episode().currentUrl, altPlayerEndpoint() + ep3);
        expectPlaying("episode 03");
        EXPECT_NE(form.编辑框_状态->toPlainText().indexOf(QStringLiteral("跳转下一集 03 / 3")), -1);
    }

    static inline QTemporaryDir* root_ = nullptr;
    static inline DemoProcess* demo_ = nullptr;
    static inline bool ready_ = false;
    std::string host_;
    std::unique_ptr<MainWindow> main_;
};

} // namespace playback_pages
