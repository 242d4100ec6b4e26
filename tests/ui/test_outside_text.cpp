// Text from outside (a catalogue's names, types and blurbs, a page's title) shows as written in
// the real windows: markup in it stays text, and an image it names is never opened. The image is
// a FIFO that nobody writes: a widget reading it as markup would try to load it and hang, so a
// watchdog notices every open (inotify) and unblocks a reader stuck on it (by opening the FIFO for
// writing), which fails the test instead of hanging it.

#include "test_catalogue_fixture.h"
#include "test_player_window_fixture.h"

#include "catalogue/catalogue_sources.h"
#include "catalogue/catalogue_text.h"
#include "playback/history.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace catalogue_testing;

namespace {

// A FIFO in a temporary folder, watched for opens from its creation to the end of the watch.
class FifoWatch {
public:
    FifoWatch()
    {
        path_ = dir_.path().toStdString() + "/picture.png";
        ok_ = ::mkfifo(path_.c_str(), 0600) == 0;
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ok_ = ok_ && inotify_ >= 0 && ::inotify_add_watch(inotify_, path_.c_str(), IN_OPEN) >= 0;
        watchdog_ = std::thread([this] {
            while (!stop_) {
                // Succeeds only while someone has the FIFO open for reading (or waits in open);
                // the reader's open then returns, and it reads the end of the file.
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    readerSeen_ = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~FifoWatch()
    {
        stop_ = true;
        watchdog_.join();
        if (inotify_ >= 0)
            ::close(inotify_);
    }
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;

    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

    // Whether anything opened the FIFO so far.
    bool opened()
    {
        alignas(inotify_event) char buffer[4096];
        while (::read(inotify_, buffer, sizeof buffer) > 0)
            openEvents_ = true;
        return openEvents_ || readerSeen_;
    }

private:
    QTemporaryDir dir_;
    std::string path_;
    bool ok_ = false;
    int inotify_ = -1;
    bool openEvents_ = false;
    std::atomic<bool> readerSeen_{false};
    std::atomic<bool> stop_{false};
    std::thread watchdog_;
};

// Makes sure the widget has laid out and painted what it shows.
void render(QWidget* widget)
{
    widget->adjustSize();
    (void)widget->grab();
    QCoreApplication::processEvents();
}

TEST(FifoWatchCheck, NoticesAReaderAndDoesNotLetItHang)
{
    FifoWatch quiet;
    ASSERT_TRUE(quiet.ok());
    EXPECT_FALSE(quiet.opened());

    FifoWatch watch;
    ASSERT_TRUE(watch.ok());
    // A reader that opens the FIFO as a file reader does: blocked until a writer comes.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        const int fd = ::open(watch.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done.load());
    reader.join();
    EXPECT_TRUE(watch.opened());
}

// The markup of the fixtures: an image of the FIFO and bold text, in name, type and blurb. Names
// and types show as they come; the blurb shows with its tags removed (the image of it included).
struct MarkedUp {
    explicit MarkedUp(const std::string& fifo)
            : name("<img src=\"" + fifo + "\"><b>红楼</b>梦"),
              type("<b>剧情</b><img src=\"" + fifo + "\">"),
              blurb("<img src=\"" + fifo + "\"><i>简介</i> &lt;b&gt;"), shownBlurb(blurbText(blurb))
    {}
    std::string name;
    std::string type;
    std::string blurb;
    std::string shownBlurb;
};

class OutsideTextMainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fifo.ok());
        ASSERT_TRUE(ensureSettingsFile());
        ASSERT_TRUE(writeSetting("配置项", "线路列表", server.hostPort()));
        ASSERT_TRUE(writeSetting("配置项", "证书文件", TestServer::certificateFile()));
        const std::string body = catalogue_pages::page(
            1, 1,
            {catalogue_pages::item(text.name, text.type, text.blurb, "第01集$https://v/1.m3u8",
                                   "https://" + server.hostPort() + "/p.jpg")});
        server.on("/api.php/provide/vod/",
                  CannedResponse{200, {"Content-Type: application/json; charset=utf-8"}, body});
        server.on("/p.jpg", CannedResponse{404});
    }

    TempProgramFolder folder;
    FifoWatch fifo;
    MarkedUp text{fifo.path()};
    TestServer server{TestServer::Scheme::Https};
};

TEST_F(OutsideTextMainWindow, CatalogueNamesTypesAndBlurbsShowAsWritten)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    MainForm& f = window.form();
    window.catalogue().fillRouteBox();
    window.catalogue().selectRouteEntry(0);
    window.catalogue().startLoad(-2, 1);
    ASSERT_TRUE(waitForWorkers(window));
    ASSERT_EQ(f.超级列表框_列表->topLevelItemCount(), 1) << f.透明标签_简介->text().toStdString();
    QTreeWidgetItem* row = f.超级列表框_列表->topLevelItem(0);
    EXPECT_EQ(row->text(0).toStdString(), text.name);
    EXPECT_EQ(row->text(1).toStdString(), text.type);
    EXPECT_EQ(row->text(2).toStdString(), text.shownBlurb);
    render(f.超级列表框_列表);

    // Opening the row shows the name and the blurb in the labels, and the name in the log.
    f.超级列表框_列表->setCurrentItem(row);
    const QRect cell = f.超级列表框_列表->visualItemRect(row);
    QTest::mouseClick(f.超级列表框_列表->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(waitForWorkers(window));
    for (QLabel* label :
         {f.透明标签_标题, f.透明标签_简介, f.标签提示, f.标签_页数, f.标签_共有记录数})
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    EXPECT_EQ(f.透明标签_标题->text().toStdString(), text.name);
    EXPECT_EQ(f.透明标签_简介->text().toStdString(), text.shownBlurb);
    render(f.透明标签_标题);
    render(f.透明标签_简介);
    const std::string log = f.编辑框_状态->toPlainText().toStdString();
    EXPECT_NE(log.find("获取 " + text.name + " 详细完成"), std::string::npos) << log;
    render(f.编辑框_状态);
    QTest::qWait(100);
    EXPECT_FALSE(fifo.opened());
    EXPECT_TRUE(waitForWorkers(window));
}

TEST_F(OutsideTextMainWindow, MessageBoxesShowTheirTextAsWritten)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->text().toStdString(), text.name + "\n无法启动");
        render(box);
        if (QWindow* handle = box->windowHandle()) {
            EXPECT_EQ(handle->title().toStdString(), text.type + "[*]");
        }
        box->accept();
    });
    showMessageBox(text.name + "\r\n无法启动", text.type + "[*]", kMessageOk, nullptr);
    EXPECT_TRUE(seen);
    EXPECT_FALSE(fifo.opened());
}

class OutsideTextPlayer : public PlayerFixture {
protected:
    FifoWatch fifo;
    MarkedUp text{fifo.path()};
};

TEST_F(OutsideTextPlayer, ThePageTitleAndTheSeriesNameShowAsWritten)
{
    ASSERT_TRUE(fifo.ok());
    playbackState.setCurrentUrl("http://page/1");
    PlayerWindow* window = openPlayer();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    PlayerForm& f = window->form();
    // A series name with the window title's placeholder "[*]", which Qt would otherwise drop.
    const std::string series = text.name + " [*] 第二季";
    setPlayingSeries(series);
    ASSERT_TRUE(browser->titleHandler);
    const std::string title = "<b>第1集</b><img src=\"" + fifo.path() + "\">";
    browser->titleHandler(title);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.标签_剧集->textFormat(), Qt::PlainText);
    EXPECT_EQ(f.标签_剧集->text().toStdString(), "正在播放: " + title);
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_EQ(window->windowHandle()->title().toStdString(), series);
    EXPECT_NE(log().find("正在播放: " + title), std::string::npos);
    render(f.标签_剧集);
    render(main->form().编辑框_状态);
    QTest::qWait(100);
    EXPECT_FALSE(fifo.opened());
}

} // namespace
