// Full screen on the second screen, on a desktop with three screens: the program runs this test
// file again as a child process whose window system (the offscreen platform with a screen
// configuration) reports a primary screen and two more, and the child checks that the screen found
// is the last non-primary one and that the page's full-screen window moves there while the player
// window hides.

#include "app/paths.h"
#include "app/player_form.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "platform/os_version.h"
#include "playback/player_controller.h"
#include "playback/player_placement.h"
#include "ui/main_window.h"
#include "ui/player_window.h"

#include "../playback/test_player_fake_browser.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Screens of the child's window system: the first is the primary one (the platform lists them
// by name, so the names keep that order).
const char* const kScreens = R"({"screens": [
  {"name": "1-primary", "x": 0, "y": 0, "width": 1280, "height": 800},
  {"name": "2-middle", "x": 1280, "y": 0, "width": 1024, "height": 768},
  {"name": "3-right", "x": 2304, "y": 100, "width": 1600, "height": 900}
]})";

constexpr const char* kChildVariable = "QY_SECOND_SCREEN_CHILD";

TEST(SecondScreen, FullScreenMovesToTheLastNonPrimaryScreen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kScreens);
    file.close();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=SecondScreenChild.*")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString out = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("[  PASSED  ] 1 test"))) << out.toStdString();
}

TEST(SecondScreenChild, OnThreeScreens)
{
    if (qEnvironmentVariableIsEmpty(kChildVariable))
        GTEST_SKIP() << "runs as the child of SecondScreen.FullScreenMovesToTheLastNonPrimaryScreen";
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 3);
    QScreen* right = nullptr;
    for (QScreen* screen : screens)
        if (screen->name() == QLatin1String("3-right"))
            right = screen;
    ASSERT_NE(right, nullptr);
    ASSERT_EQ(QGuiApplication::primaryScreen()->name(), QStringLiteral("1-primary"));

    ASSERT_TRUE(hasSecondScreen());
    EXPECT_EQ(secondScreenRect(), QRect(2304, 100, 1600, 900));

    QTemporaryDir dir;
    setProgramFolderForTesting(dir.path().toStdString());
    ASSERT_TRUE(ensureDataFolder());
    ASSERT_TRUE(ensureSettingsFile());
    setHistoryText("");
    setOsVersion(kOsVersionWithBrowser);
    ASSERT_TRUE(writeSetting("配置项", "副屏", "真"));
    auto main = std::make_unique<MainWindow>();
    setPlaybackMainForm(&main->form());
    // The page's full-screen window, as the browser shows it: full screen on the primary screen.
    QWidget fullScreenWindow;
    fullScreenWindow.setGeometry(QGuiApplication::primaryScreen()->geometry());
    fullScreenWindow.show();
    FakeBrowser* browser = nullptr;
    playerServices().openBrowser = [&](QWidget*, const std::string&) {
        browser = adoptFakeBrowser();
        browser->view = &fullScreenWindow;
        return true;
    };
    auto* window = new PlayerWindow;
    window->show();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(window->form().选择框_副屏->isChecked());

    onFullscreenEntered();
    EXPECT_EQ(fullScreenWindow.geometry(), QRect(2304, 100, 1600, 900));
    EXPECT_EQ(fullScreenWindow.screen(), right);
    EXPECT_FALSE(window->isVisible());
    onFullscreenLeft();
    EXPECT_TRUE(window->isVisible());

    // Unticked, full screen stays where the browser put it.
    window->form().选择框_副屏->click();
    EXPECT_FALSE(window->form().选择框_副屏->isChecked());
    fullScreenWindow.setGeometry(QGuiApplication::primaryScreen()->geometry());
    onFullscreenEntered();
    EXPECT_EQ(fullScreenWindow.geometry(), QGuiApplication::primaryScreen()->geometry());
    onFullscreenLeft();

    delete window;
    resetPlayerServices();
    setPlaybackMainForm(nullptr);
    main.reset();
    setProgramFolderForTesting("");
}

} // namespace
