#pragma once
// A player window test's world: a temporary program folder with its settings file, the real main
// window, a stand-in browser handed out by the browser open, and recorded default-browser opens.

#include "app/paths.h"
#include "app/player_form.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "platform/os_version.h"
#include "playback/history.h"
#include "playback/play_list.h"
#include "playback/playback_state.h"
#include "playback/player_controller.h"
#include "ui/main_window.h"
#include "ui/player_window.h"

#include "../playback/test_player_fake_browser.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolderForTesting(dir.path().toStdString());
        ASSERT_TRUE(ensureDataFolder());
        ASSERT_TRUE(ensureSettingsFile());
        setHistoryText("");
        setOsVersion(kOsVersionWithBrowser);
        playbackState.pendingAction = static_cast<int>(PendingAction::None);
        playbackState.setEpisode({});
        publishPlayList({});
        main = std::make_unique<MainWindow>();
        setPlaybackMainForm(&main->form());
        PlayerServices& s = playerServices();
        s.hasBrowserRuntime = [] { return 1; };
        s.openBrowser = [this](QWidget*, const std::string& url) {
            browser = adoptFakeBrowser();
            openedOn.push_back(url);
            return true;
        };
        s.openInDefaultBrowser = [this](const std::string& url) { defaultBrowser.push_back(url); };
        s.createPlayerWindow = [] { (new PlayerWindow)->show(); };
        s.drawSponsorChance = [] { return 1; };
        s.sponsorWindowOpen = [] { return false; };
        s.openSponsorWindow = [this](QWidget*) { ++sponsorOpened; };
    }

    void TearDown() override
    {
        if (PlayerForm* p = playerForm())
            delete p->window;
        waitForSaves();
        resetPlayerServices();
        setPlaybackMainForm(nullptr);
        main.reset();
        setOsVersion(kOsVersionWithBrowser);
        setProgramFolderForTesting("");
    }

    static void waitForSaves()
    {
        for (int i = 0; i < 500 && (runningHistorySaves() > 0 || runningPlayListBuilds() > 0); ++i)
            QTest::qWait(10);
    }

    PlayerWindow* openPlayer()
    {
        auto* window = new PlayerWindow;
        window->show();
        return window;
    }

    std::string log() const { return main->form().编辑框_状态->toPlainText().toStdString(); }

    QTemporaryDir dir;
    std::unique_ptr<MainWindow> main;
    FakeBrowser* browser = nullptr;
    std::vector<std::string> openedOn;
    std::vector<std::string> defaultBrowser;
    int sponsorOpened = 0;
};
