// The start-up sequence and the closing of the main window, on a real main window over a
// temporary program folder, with the update page served on loopback.

#include "app/startup.h"
#include "support/wait.h"

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "catalogue/catalogue_sources.h"
#include "net/charset.h"
#include "platform/os_version.h"
#include "support/test_server.h"
#include "ui/header_clock.h"
#include "ui/lunar_date.h"
#include "ui/main_form.h"
#include "ui/main_window.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

struct SeenMessage {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

// Answers every message box that comes up while it lives: records it and presses answer (or the
// box's only button).
class MessageAnswerer {
public:
    explicit MessageAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            QAbstractButton* button = box->button(answer_);
            if (!button)
                button = box->buttons().value(0);
            button->click();
        });
        timer_.start(20);
    }
    std::vector<SeenMessage> seen;

private:
    QMessageBox::StandardButton answer_;
    QTimer timer_;
};

std::string readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

void writeFile(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        // The single-instance marker of this test lives in its own temporary folder.
        qputenv("TMPDIR", folder.path().toLocal8Bit());
        setProgramFolderForTesting(QDir::toNativeSeparators(folder.path()).toStdString());
        setOsVersion(kOsVersionWithBrowser);
        setHistoryText("");

        steps.showNoticeWindow = [this] { record("notice"); };
        steps.fillRouteBox = [this] {
            record("routes");
            window.catalogue().fillRouteBox();
        };
        steps.selectRoute = [this](int value) {
            record("select " + std::to_string(value));
            window.catalogue().selectRouteEntry(value);
        };
        steps.startCatalogueLoad = [this](int mode, int page) {
            record("load " + std::to_string(mode) + "," + std::to_string(page));
        };
        steps.fillDateLabels = [this](const QDate& today) {
            record("dates");
            fillHeaderDates(form, today);
        };
        steps.startBrowserBridge = [this] {
            record("bridge");
            return bridgeAvailable;
        };
        steps.placeMainWindow = [this] { window.move(10, 10); };
        steps.showMessage = programMessageBox();
        steps.endProcess = [this] { record("end"); };
        steps.bootstrapFinished = [this] { bootstrapDone = true; };
    }

    void TearDown() override
    {
        waitUntil([this] { return bootstrapDone.load(); });
        setProgramFolderForTesting("");
        setOsVersion(kOsVersionWithBrowser);
    }

    void record(const std::string& event)
    {
        std::lock_guard lock(eventsMutex);
        events.push_back(event);
    }
    std::vector<std::string> recorded()
    {
        std::lock_guard lock(eventsMutex);
        return events;
    }
    QString dataPath(const QString& name = {}) const
    {
        return folder.path() + QStringLiteral("/DaTa/") + name;
    }
    QString status() const { return form.编辑框_状态->toPlainText(); }
    void writeSettings(const std::string& utf8)
    {
        ASSERT_TRUE(QDir().mkpath(dataPath()));
        writeFile(dataPath(QStringLiteral("数据.ini")), utf8ToGb18030(utf8));
    }
    void runStartup()
    {
        onMainWindowCreated(steps);
        ASSERT_TRUE(waitUntil([this] { return bootstrapDone.load(); }) ||
                    std::count(events.begin(), events.end(), "end") > 0);
        QCoreApplication::processEvents();
    }

    QTemporaryDir folder;
    MainWindow window;
    MainForm& form = window.form();
    StartupSteps steps;
    bool bridgeAvailable = true;
    std::atomic<bool> bootstrapDone{false};
    std::mutex eventsMutex;
    std::vector<std::string> events;
};

TEST_F(StartupTest, FirstStartWritesTheDefaultsAndEndsReady)
{
    const QPoint designed = window.pos();
    MessageAnswerer answerer;
    runStartup();

    EXPECT_TRUE(answerer.seen.empty());
    // The bootstrap runs after the notice, beside the environment checks.
    std::vector<std::string> bootstrap = recorded();
    ASSERT_FALSE(bootstrap.empty());
    EXPECT_EQ(bootstrap.front(), "notice");
    const auto bridge = std::find(bootstrap.begin(), bootstrap.end(), "bridge");
    ASSERT_NE(bridge, bootstrap.end());
    bootstrap.erase(bridge);
    EXPECT_EQ(bootstrap,
              (std::vector<std::string>{"notice", "routes", "select 0", "load -2,1", "dates"}));
    EXPECT_EQ(readFile(dataPath(QStringLiteral("数据.ini"))), defaultSettingsText());
    EXPECT_EQ(defaultSettingsText().size(), 57u);
    EXPECT_EQ(form.组合框_线路->currentIndex(), 0);
    EXPECT_EQ(historyText(), "");
    const QDate today = QDate::currentDate();
    EXPECT_EQ(form.标签_日期->text().toStdString(),
              lunarDateText(today, "%M") + lunarDateText(today, "%D"));
    EXPECT_EQ(form.标签_星期->text().toStdString(), weekdayName(today));
    EXPECT_EQ(window.pos(), QPoint(10, 10));
    EXPECT_NE(designed, QPoint(10, 10));
    const QStringList lines = status().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("] 青柚追剧,准备就绪粉丝群：") +
                                  QString::fromUtf8(kGroupNumber) + QStringLiteral("！")))
        << lines[0].toStdString();
    EXPECT_FALSE(status().contains(QStringLiteral("未检查更新")))
        << "no update link: nothing to check is not news\n"
        << status().toStdString();
}

TEST_F(StartupTest, StoredRouteAndHistoryAreRestored)
{
    writeSettings("[配置项]\r\n线路=1\r\n线路列表=a.example|b.example\r\n\r\n[观看历史]\r\n"
                  "数据={\"data\":[{\"名\":\"剧\"}]}\r\n");
    runStartup();
    ASSERT_EQ(form.组合框_线路->count(), 2);
    EXPECT_EQ(form.组合框_线路->currentIndex(), 1);
    EXPECT_EQ(form.组合框_线路->currentText(), QStringLiteral("b.example"));
    EXPECT_EQ(historyText(), "{\"data\":[{\"名\":\"剧\"}]}");
}

TEST_F(StartupTest, OlderSystemShowsTheMessageAndSkipsTheBridge)
{
    setOsVersion(0x0603);
    MessageAnswerer answerer;
    runStartup();
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].caption, QStringLiteral("此系统可能不支持新 webview2 组件"));
    EXPECT_EQ(
        answerer.seen[0].text,
        QStringLiteral(
            "本程序需要 WIN10/11系统 才能完美运行\n\n根据您系统情况 将会以弹出浏览器方式播放视频"));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Information);
    EXPECT_EQ(answerer.seen[0].buttons, QMessageBox::Ok);
    const auto events = recorded();
    EXPECT_EQ(std::count(events.begin(), events.end(), "bridge"), 0);
    const QStringList lines = status().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("青柚追剧,准备就绪")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("] 本程序需要.WIN10/11系统.才能完美运行")));
    EXPECT_EQ(window.pos(), QPoint(10, 10));
}

TEST_F(StartupTest, MissingBrowserLeavesTheWindowInPlaceWithoutTheReadyLine)
{
    bridgeAvailable = false;
    const QPoint designed = window.pos();
    runStartup();
    EXPECT_EQ(window.pos(), designed);
    EXPECT_FALSE(status().contains(QStringLiteral("准备就绪")));
}

class UpdateStartupTest : public StartupTest {
protected:
    void SetUp() override
    {
        StartupTest::SetUp();
        writeSettings("[配置项]\r\n线路=0\r\n更新地址=" + server.url("/version.txt") + "\r\n");
    }
    // An updater that leaves a mark in the program folder.
    void installUpdater()
    {
        const QString path = folder.path() + QStringLiteral("/Update");
        writeFile(path, "#!/bin/sh\necho started > \"$(dirname \"$0\")/updater-ran\"\n");
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    }
    bool updaterRan()
    {
        return waitUntil(
            [this] { return QFile::exists(folder.path() + QStringLiteral("/updater-ran")); }, 3000);
    }
    TestServer server;
};

TEST_F(UpdateStartupTest, SameVersionContinuesQuietly)
{
    server.on("/version.txt", {200, {}, "最新版本 [版本1]7.4[版本2] 下载"});
    installUpdater();
    MessageAnswerer answerer;
    runStartup();
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_FALSE(status().contains(QStringLiteral("更新")));
    EXPECT_TRUE(status().contains(QStringLiteral("准备就绪")));
    EXPECT_FALSE(QFile::exists(folder.path() + QStringLiteral("/updater-ran")));
}

TEST_F(UpdateStartupTest, OtherVersionStartsTheUpdaterAndEnds)
{
    for (const char* page : {"[版本1]7.5[版本2]", "[版本1]7.3[版本2]", "[版本1] 7.4[版本2]"}) {
        SCOPED_TRACE(page);
        server.on("/version.txt", {200, {}, page});
        QFile::remove(folder.path() + QStringLiteral("/updater-ran"));
        installUpdater();
        MessageAnswerer answerer;
        {
            std::lock_guard lock(eventsMutex);
            events.clear();
        }
        onMainWindowCreated(steps);
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].text, QStringLiteral("客观！~发现最新版本即将更新！"));
        EXPECT_EQ(answerer.seen[0].caption, QStringLiteral("信息："));
        EXPECT_EQ(answerer.seen[0].buttons, QMessageBox::Ok);
        EXPECT_TRUE(updaterRan());
        EXPECT_EQ(recorded(), std::vector<std::string>{"end"}) << "nothing after the hand-over";
    }
    bootstrapDone = true;
}

TEST_F(UpdateStartupTest, MissingUpdaterIsReportedAndStartUpContinues)
{
    server.on("/version.txt", {200, {}, "[版本1]8.0[版本2]"});
    MessageAnswerer answerer;
    runStartup();
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[0].text, QStringLiteral("客观！~发现最新版本即将更新！"));
    EXPECT_TRUE(answerer.seen[1].text.contains(QStringLiteral("无法启动更新程序")));
    const auto events = recorded();
    EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "notice"), 1);
    EXPECT_TRUE(status().contains(QStringLiteral("更新程序无法启动")));
    EXPECT_TRUE(status().contains(QStringLiteral("准备就绪")));
}

TEST_F(UpdateStartupTest, UnreadablePagesLetStartUpContinueWithALogLine)
{
    installUpdater();
    server.on("/version.txt", {200, {}, "页面改版了, 没有版本号"});
    MessageAnswerer answerer;
    runStartup();
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_TRUE(status().contains(QStringLiteral("未检查更新: 更新页面上没有版本号")));
    EXPECT_TRUE(status().contains(QStringLiteral("准备就绪")));
    EXPECT_FALSE(updaterRan());
}

TEST(ClosingTest, NewerSystemsEndAtOnceOlderOnesSayGoodbye)
{
    QTemporaryDir folder;
    MainWindow window;
    std::vector<std::string> order;
    setOsVersion(kOsVersionWithBrowser);
    onMainWindowClosing([&] { order.push_back("others"); }, [&] { order.push_back("exit"); });
    EXPECT_EQ(order, (std::vector<std::string>{"others", "exit"}));
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.form().编辑框_状态->toPlainText().contains(QStringLiteral("再见")));

    order.clear();
    setOsVersion(0x0603);
    onMainWindowClosing([&] { order.push_back("others"); }, [&] { order.push_back("exit"); });
    EXPECT_EQ(order, std::vector<std::string>{"others"});
    QCoreApplication::processEvents();
    EXPECT_TRUE(
        window.form().编辑框_状态->toPlainText().contains(QStringLiteral("] 欢迎下次使用,再见")));
    setOsVersion(kOsVersionWithBrowser);
}

} // namespace
