// The player window: its components and their places, the options and size it restores and
// stores, the browser frame on resizing, closing, and the commands of its buttons.

#include "test_player_window_fixture.h"

#include "playback/page_commands.h"
#include "playback/player_placement.h"
#include "playback/watch_position.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QValidator>

namespace {

struct Component {
    const char* name;
    const char* container;
    QRect geometry;
    const char* text; // nullptr: no text
};

const Component kComponents[] = {
    {"外形框_播放", "PlayerWindow", {0, 0, 1000, 562}, nullptr},
    {"外形框_底部", "PlayerWindow", {-2, 562, 1004, 28}, nullptr},
    {"标签_剧集", "外形框_底部", {15, 2, 270, 24}, "正在播放:"},
    {"标签_片头", "外形框_底部", {288, 4, 30, 20}, "片头"},
    {"编辑框_片头", "外形框_底部", {320, 4, 35, 20}, "0"},
    {"编辑框_尾", "外形框_底部", {363, 4, 35, 20}, nullptr},
    {"选择框_连播", "外形框_底部", {400, 2, 69, 24}, "连播跳转"},
    {"标签_跳转", "外形框_底部", {469, 4, 35, 20}, "0"},
    {"选择框_置顶", "外形框_底部", {514, 2, 45, 24}, "置顶"},
    {"选择框_副屏", "外形框_底部", {567, 2, 70, 24}, "副屏投屏"},
    {"按钮_重新加载", "外形框_底部", {642, 2, 52, 24}, "重新加载"},
    {"按钮_缓存", "外形框_底部", {699, 2, 52, 24}, "清理缓存"},
    {"按钮_05X", "外形框_底部", {759, 2, 25, 24}, "0.5X"},
    {"按钮_075X", "外形框_底部", {796, 2, 25, 24}, "0.75"},
    {"按钮_1X", "外形框_底部", {829, 2, 20, 24}, "1X"},
    {"按钮_125X", "外形框_底部", {855, 2, 25, 24}, "1.25"},
    {"按钮_15X", "外形框_底部", {888, 2, 25, 24}, "1.5X"},
    {"按钮_2X", "外形框_底部", {922, 2, 20, 24}, "2X"},
    {"按钮_全屏", "外形框_底部", {947, 2, 30, 24}, "全屏"},
};

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return {};
}

using PlayerWindowTest = PlayerFixture;

TEST_F(PlayerWindowTest, ComponentsSitWhereDesigned)
{
    PlayerWindow* window = openPlayer();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("正在播放"));
    // The designed size is the outer size, frame included.
    EXPECT_EQ(window->frameGeometry().size(), QSize(1005, 621));
    const QSize client = window->size();
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(45, 45, 48));
    int count = 1; // the window itself
    for (const Component& c : kComponents) {
        SCOPED_TRACE(c.name);
        auto* w = window->findChild<QWidget*>(QString::fromUtf8(c.name));
        ASSERT_NE(w, nullptr);
        ++count;
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(c.container));
        // The frame and the bar follow the window's client area.
        QRect expected = c.geometry;
        if (std::string(c.name) == "外形框_播放")
            expected = QRect(0, 0, client.width(), client.height() - 28);
        else if (std::string(c.name) == "外形框_底部")
            expected = QRect(-2, client.height() - 28, 1004, 28);
        EXPECT_EQ(w->geometry(), expected);
        if (c.text) {
            EXPECT_EQ(textOf(w), QString::fromUtf8(c.text));
        }
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
        }
    }
    EXPECT_EQ(count, 20);
    for (QLineEdit* seconds : {window->form().编辑框_尾, window->form().编辑框_片头}) {
        SCOPED_TRACE(seconds->objectName().toStdString());
        EXPECT_EQ(seconds->maxLength(), 4);
        EXPECT_EQ(seconds->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        ASSERT_NE(seconds->validator(), nullptr);
        QString typed = QStringLiteral("1a");
        int at = 0;
        EXPECT_EQ(seconds->validator()->validate(typed, at), QValidator::Invalid) << "digits only";
    }
    EXPECT_EQ(playerForm(), &window->form());
}

TEST_F(PlayerWindowTest, NothingInTheBarOverlapsAndAllOfItFitsTheDesignedWidth)
{
    PlayerWindow* window = openPlayer();
    QFrame* bar = window->form().外形框_底部;
    const QList<QWidget*> parts =
        bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(parts.size(), 17);
    for (int i = 0; i < parts.size(); ++i) {
        const QRect a = parts[i]->geometry();
        EXPECT_TRUE(QRect(0, 0, 1005 - 2, 28).contains(a)) << parts[i]->objectName().toStdString();
        for (int j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(a.intersects(parts[j]->geometry()))
                << parts[i]->objectName().toStdString() << " / "
                << parts[j]->objectName().toStdString();
    }
}

TEST_F(PlayerWindowTest, TheOpeningBoxIsStoredAsPianTouAndAMissingKeyIsZero)
{
    PlayerWindow* window = openPlayer();
    EXPECT_EQ(window->form().编辑框_片头->text(), QStringLiteral("0"));
    EXPECT_EQ(readSetting("配置项", "片头", std::string("<missing>")), "<missing>")
        << "opening the window stores nothing";
    EXPECT_EQ(openingSeconds(), 0);
    QTest::keyClicks(window->form().编辑框_片头, QStringLiteral("95"));
    EXPECT_EQ(window->form().编辑框_片头->text(), QStringLiteral("095"));
    EXPECT_EQ(readSetting("配置项", "片头"), "095");
    EXPECT_EQ(openingSeconds(), 95);
    delete window;
    EXPECT_EQ(openingSeconds(), 95) << "read from the settings without a player window";
    window = openPlayer();
    EXPECT_EQ(window->form().编辑框_片头->text(), QStringLiteral("095"));
}

TEST_F(PlayerWindowTest, CreationOpensTheBrowserOnTheCurrentAddressAndRestoresTheOptions)
{
    writeSetting("配置项", "连播", "真");
    writeSetting("配置项", "置顶", "真");
    writeSetting("配置项", "跳转", "45");
    playbackState.setCurrentUrl("http://page/1");
    PlayerWindow* window = openPlayer();
    PlayerForm& f = window->form();
    EXPECT_EQ(openedOn, (std::vector<std::string>{"http://page/1"}));
    EXPECT_TRUE(f.选择框_连播->isChecked());
    EXPECT_TRUE(f.选择框_置顶->isChecked());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(f.选择框_副屏->isChecked()) << "one monitor: 副屏 is not read";
    EXPECT_EQ(f.编辑框_尾->text(), QStringLiteral("45"));
    EXPECT_TRUE(shortcutHookInstalled());

    // The browser's title goes to the label, the caption (the series name) and the log.
    main->form().透明标签_标题->setText(QStringLiteral("某剧"));
    ASSERT_TRUE(browser->titleHandler);
    browser->titleHandler("第1集");
    EXPECT_EQ(f.标签_剧集->text(), QStringLiteral("正在播放: 第1集"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("某剧"));
    EXPECT_NE(log().find("正在播放: 第1集"), std::string::npos);
}

TEST_F(PlayerWindowTest, MissingThresholdIsSixty)
{
    PlayerWindow* window = openPlayer();
    EXPECT_EQ(window->form().编辑框_尾->text(), QStringLiteral("60"));
    delete window;
    ASSERT_TRUE(writeSetting("配置项", "跳转", "9"));
    ASSERT_TRUE(writeSetting("配置项", "连播", "假"));
    window = openPlayer();
    EXPECT_EQ(window->form().编辑框_尾->text(), QStringLiteral("9"));
    EXPECT_FALSE(window->form().选择框_连播->isChecked());
}

TEST_F(PlayerWindowTest, SavedSizeWithFourFieldsIsAppliedOtherwiseIgnored)
{
    struct Case {
        const char* stored;
        QSize size;
        bool moved;
    };
    const Case cases[] = {
        {"1280|720|100|50", {1280, 720}, true},
        {"1280|720|100", {1005, 621}, false},
        {"1280|720|100|50|7", {1005, 621}, false},
        {"1280||720|100|50", {1280, 720}, true}, // empty pieces are dropped
        {"", {1005, 621}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(writeSetting("配置项", "窗口大小", c.stored));
        PlayerWindow* window = openPlayer();
        if (c.moved) {
            // Outer size and position, frame included.
            EXPECT_EQ(window->frameGeometry(), QRect(QPoint(100, 50), c.size));
        } else {
            EXPECT_EQ(window->frameGeometry().size(), c.size);
            EXPECT_NE(window->frameGeometry().topLeft(), QPoint(100, 50));
        }
        delete window;
    }
}

TEST_F(PlayerWindowTest, ResizingLaysOutTheFrameAndBarAndStoresTheSize)
{
    PlayerWindow* window = openPlayer();
    browser->calls.clear();
    window->move(30, 40);
    QTest::qWait(1);
    window->resize(800, 500);
    QApplication::processEvents();
    PlayerForm& f = window->form();
    EXPECT_EQ(f.外形框_播放->geometry(), QRect(0, 0, 800, 472));
    EXPECT_EQ(f.外形框_底部->y(), 472);
    ASSERT_FALSE(browser->calls.empty());
    EXPECT_EQ(browser->calls.back(), "bounds 0 0 800 472");
    const QRect outer = window->frameGeometry();
    const std::string stored = std::to_string(outer.width()) + "|" +
                               std::to_string(outer.height()) + "|" + std::to_string(outer.x()) +
                               "|" + std::to_string(outer.y());
    EXPECT_EQ(readSetting("配置项", "窗口大小"), stored);
    EXPECT_EQ(outer.topLeft(), QPoint(30, 40));
    // A move alone does not store the position.
    window->move(60, 70);
    QApplication::processEvents();
    EXPECT_EQ(readSetting("配置项", "窗口大小"), stored);
    // What is stored is what the next window restores.
    delete window;
    window = openPlayer();
    EXPECT_EQ(window->frameGeometry(), outer);
}

TEST_F(PlayerWindowTest, OptionBoxesStoreTheirState)
{
    PlayerWindow* window = openPlayer();
    PlayerForm& f = window->form();

    f.选择框_连播->click();
    EXPECT_EQ(readSetting("配置项", "连播"), f.选择框_连播->isChecked() ? "真" : "假");
    f.选择框_连播->setChecked(false);
    main->form().编辑框_状态->clear();
    f.选择框_连播->click();
    EXPECT_EQ(readSetting("配置项", "连播"), "真");
    EXPECT_NE(log().find("连播模式已开启, 请设置剩余 多少 时间跳转, 默认60秒"), std::string::npos);
    main->form().编辑框_状态->clear();
    f.选择框_连播->click();
    EXPECT_EQ(readSetting("配置项", "连播"), "假");
    EXPECT_EQ(log(), "") << "unticking logs nothing";

    f.选择框_置顶->setChecked(false);
    f.选择框_置顶->click();
    EXPECT_EQ(readSetting("配置项", "置顶"), "真");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window->isVisible());
    f.选择框_置顶->click();
    EXPECT_EQ(readSetting("配置项", "置顶"), "假");
    EXPECT_FALSE(window->windowFlags() & Qt::WindowStaysOnTopHint);

    // Every change of the threshold text is stored, whatever it holds.
    f.编辑框_尾->setText(QStringLiteral("75"));
    EXPECT_EQ(readSetting("配置项", "跳转"), "75");
    f.编辑框_尾->setText(QString());
    EXPECT_EQ(readSetting("配置项", "跳转"), "");
}

TEST_F(PlayerWindowTest, SecondScreenBoxWithoutASecondMonitorIsRefused)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 1);
    PlayerWindow* window = openPlayer();
    const std::string before = readSetting("配置项", "副屏");
    // The refusal shows a message box: answer it as soon as it is up.
    QTimer::singleShot(50, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    window->form().选择框_副屏->click();
    EXPECT_FALSE(window->form().选择框_副屏->isChecked());
    EXPECT_EQ(readSetting("配置项", "副屏"), before);
}

TEST(SecondScreen, TheLastNonPrimaryMonitorIsUsed)
{
    EXPECT_FALSE(lastSecondaryScreen({{{0, 0, 1920, 1080}, true}}).has_value());
    EXPECT_EQ(lastSecondaryScreen({{{1920, 0, 1280, 1024}, false},
                                   {{0, 0, 1920, 1080}, true},
                                   {{3200, 0, 800, 600}, false}}),
              QRect(3200, 0, 800, 600));
}

TEST_F(PlayerWindowTest, FullScreenHidesTheWindowAndLeavingShowsIt)
{
    PlayerWindow* window = openPlayer();
    onFullscreenEntered();
    EXPECT_FALSE(window->isVisible());
    onFullscreenLeft();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(PlayerWindowTest, ButtonsRunTheirCommands)
{
    PlayerWindow* window = openPlayer();
    PlayerForm& f = window->form();
    browser->calls.clear();
    f.按钮_125X->click();
    f.按钮_全屏->click();
    f.按钮_缓存->click();
    EXPECT_EQ(browser->pageCalls(),
              (std::vector<std::string>{"click .dplayer-setting-speed-item 4",
                                        "click .current-setting 1", "click .dplayer-full-icon 1",
                                        "click .prism-fullscreen-btn 1", "clearCache"}));
    EXPECT_EQ(main->form().透明标签_简介->text(), QStringLiteral(" 缓 存 清 理 完 成"));
    EXPECT_NE(log().find("切换到 1.25倍 播放模式"), std::string::npos);
    EXPECT_NE(log().find("缓 存 清 理 完 成"), std::string::npos);
    playbackState.pendingAction = static_cast<int>(PendingAction::None);
    f.按钮_重新加载->click();
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));
}

TEST_F(PlayerWindowTest, ClosingRemovesTheHookAndForgetsTheWindow)
{
    PlayerWindow* window = openPlayer();
    QPointer<PlayerWindow> guard(window);
    window->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_EQ(playerForm(), nullptr);
    EXPECT_FALSE(shortcutHookInstalled());
    EXPECT_NE(log().find("播放器已关闭"), std::string::npos);
}

} // namespace
