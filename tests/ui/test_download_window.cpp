// The download window on the offscreen platform: its components, columns and texts; opening with
// the series folder and the 删TS box; the list filled with one row per episode; ticking; the two
// export files; copying an address; the logs written from many threads and 10,000 lines of them;
// dragging; and whole runs against a loopback HLS server, finished, aborted, going on behind a
// closed window that opens again as the run has it, and beside a window for another series.
#include "ui/download_window.h"

#include "../download/download_fixtures.h"
#include "app/paths.h"
#include "app/settings_store.h"
#include "app/status_log.h"
#include "download/download_run.h"
#include "net/charset.h"
#include "playback/episode_list.h"
#include "ui/main_form.h"
#include "ui/status_log_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <set>
#include <thread>

using namespace dltest;
using namespace std::chrono_literals;

namespace {

class DownloadWindowTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    std::unique_ptr<DownloadWindow> window;

    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        setProgramFolderForTesting(temp.path().toStdString());
        ASSERT_TRUE(ensureDataFolder());
        window = makeWindow();
    }
    void TearDown() override
    {
        window.reset();
        EXPECT_TRUE(waitForDownloadRun(20000));
        setProgramFolderForTesting("");
    }

    std::unique_ptr<DownloadWindow> makeWindow()
    {
        auto w = std::make_unique<DownloadWindow>();
        w->setSettingsSource([root = downloadRoot()] {
            DownloadSettings s;
            s.downloadRoot = root;
            s.pace.intervalMs = 20;
            s.retryPauseMs = 50;
            s.stallTimeoutMs = 2000;
            s.connectTimeoutMs = 2000;
            return s;
        });
        w->show();
        return w;
    }

    std::string downloadRoot() const { return temp.path().toStdString() + "/下载目录"; }
    std::string seriesPath() const { return downloadRoot() + "/" + seriesFolder(); }

    // The status log's messages, newest first, without their time stamps.
    static std::vector<std::string> messages(QPlainTextEdit* box)
    {
        std::vector<std::string> out;
        const QStringList lines = box->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        static const QRegularExpression stamp(QStringLiteral(R"(^\[\d\d:\d\d:\d\d\] )"));
        for (const QString& line : lines) {
            EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
            out.push_back(line.mid(11).toStdString());
        }
        return out;
    }
    std::vector<std::string> status() const { return messages(window->编辑框_状态); }

    // Opens the window on one address per episode and waits for the fill thread to finish.
    void openAndFill(const std::string& title, const std::vector<std::string>& addresses)
    {
        window->openFor(title, addresses);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                auto s = status();
                return !s.empty() && s.front() == "剧集地址获取完成";
            },
            5000));
    }

    QTreeWidgetItem* row(int r) const { return window->超级列表框_剧列表->topLevelItem(r); }
    std::vector<bool> ticks() const
    {
        std::vector<bool> out;
        for (int r = 0; r < window->超级列表框_剧列表->topLevelItemCount(); ++r)
            out.push_back(row(r)->checkState(0) == Qt::Checked);
        return out;
    }
    void tick(const std::vector<bool>& states)
    {
        for (size_t r = 0; r < states.size(); ++r)
            row(static_cast<int>(r))->setCheckState(0, states[r] ? Qt::Checked : Qt::Unchecked);
    }
};

TEST_F(DownloadWindowTest, LayoutHasItsComponentsTextsAndColumns)
{
    EXPECT_EQ(window->size(), QSize(1000, 520));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);

    struct Component {
        const char* name;
        const char* container;
        QRect geometry;
        const char* text; // caption, title or label text; nullptr where none
    };
    const Component components[] = {
        {"分组框1", "DownloadWindow", {7, 8, 594, 432}, "待解析 m3u8 地址"},
        {"超级列表框_剧列表", "分组框1", {7, 22, 580, 402}, nullptr},
        {"分组框2", "DownloadWindow", {607, 8, 379, 68}, "正在解析"},
        {"编辑框_地址", "分组框2", {9, 16, 360, 22}, ""},
        {"进度条1", "分组框2", {9, 41, 360, 10}, nullptr},
        {"进度条2", "分组框2", {9, 54, 360, 10}, nullptr},
        {"分组框3", "DownloadWindow", {607, 86, 379, 240}, "执行状态"},
        {"编辑框_状态", "分组框3", {9, 19, 360, 211}, ""},
        {"分组框4", "DownloadWindow", {607, 336, 379, 104}, "执行结果"},
        {"编辑框_转换", "分组框4", {9, 20, 360, 75}, ""},
        {"标签1",
         "DownloadWindow",
         {7, 446, 441, 35},
         "注: 下载会非常耗时,请耐心等待,可导出列表到别的软件下载．\n"
         "     可双击列表 复制单条地址 (在未勾选<下完删TS>时,可用<重新合并>TS成MP4)"},
        {"选择框_删除", "DownloadWindow", {451, 446, 70, 35}, "下完删TS"},
        {"超级按钮_合并", "DownloadWindow", {525, 446, 60, 35}, "重新合并"},
        {"超级按钮_全选", "DownloadWindow", {589, 446, 60, 35}, "全选"},
        {"超级按钮_反选", "DownloadWindow", {653, 446, 60, 35}, "反选"},
        {"超级按钮_导出", "DownloadWindow", {717, 446, 60, 35}, "导出列表"},
        {"超级按钮_中止", "DownloadWindow", {781, 446, 60, 35}, "中止执行"},
        {"超级按钮_解析下载", "DownloadWindow", {848, 446, 138, 35}, "一键解析/下载/转换MP4"},
    };
    for (const auto& c : components) {
        SCOPED_TRACE(c.name);
        auto* w = window->findChild<QWidget*>(QString::fromUtf8(c.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), c.container);
        EXPECT_EQ(w->geometry(), c.geometry);
        if (!c.text)
            continue;
        QString text;
        if (auto* g = qobject_cast<QGroupBox*>(w))
            text = g->title();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            text = e->text();
        else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            text = p->toPlainText();
        EXPECT_EQ(text.toStdString(), c.text);
    }
    EXPECT_EQ(window->标签1->palette().color(QPalette::Window), QColor(29, 29, 29));
    EXPECT_EQ(window->标签1->palette().color(QPalette::WindowText), QColor(Qt::white));
    for (QProgressBar* bar : {window->进度条1, window->进度条2}) {
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
    }
    EXPECT_TRUE(window->编辑框_状态->isEnabled());

    struct Column {
        const char* title;
        int width;
        Qt::Alignment alignment;
    };
    const Column columns[] = {{"#", 20, Qt::AlignRight},     {"集数", 40, Qt::AlignRight},
                              {"地址", 310, Qt::AlignLeft},  {"TS数量", 50, Qt::AlignRight},
                              {"已提交", 50, Qt::AlignLeft}, {"已下载", 50, Qt::AlignRight},
                              {"状态", 50, Qt::AlignRight}};
    QTreeWidget* list = window->超级列表框_剧列表;
    ASSERT_EQ(list->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(list->headerItem()->text(c).toStdString(), columns[c].title);
        EXPECT_EQ(list->columnWidth(c), columns[c].width);
        EXPECT_EQ(Qt::Alignment(list->headerItem()->textAlignment(c)) & Qt::AlignHorizontal_Mask,
                  columns[c].alignment);
    }
}

TEST(SanitizeFolderName, KeepsDigitsLettersAndIdeographsOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        {"天龙 第2季（国语）", "天龙第2季国语"},
        {"Ab-9_z.!", "Ab9z"},
        {"仙剑\r\n奇侠", "仙剑奇侠"},
        {"テスト한국어Ωé", ""}, // other scripts and signs go
        {"　全角空格", "全角空格"},
        {"", ""},
    };
    for (const auto& [title, folder] : cases)
        EXPECT_EQ(sanitizeFolderName(title), folder) << title;
}

TEST_F(DownloadWindowTest, OpeningSetsCaptionFolderAndListsEachEpisodeUnticked)
{
    // One address per episode; the second episode has no playlist.
    const std::vector<std::string> addresses = {"http://a/1/index.m3u8", "", "http://b/1.m3u8?k=1"};
    openAndFill("天龙 第2季（国语）", addresses);

    EXPECT_EQ(window->windowTitle().toStdString(), "下载 天龙 第2季（国语）");
    EXPECT_EQ(seriesFolder(), "天龙第2季国语");
    EXPECT_TRUE(window->选择框_删除->isChecked()); // 删TS missing reads "真"

    const std::vector<std::string> states = {"待命", "无m3u8地址", "待命"};
    ASSERT_EQ(window->超级列表框_剧列表->topLevelItemCount(), 3);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(row(r)->text(kColumnEpisode).toStdString(), std::to_string(r + 1));
        EXPECT_EQ(row(r)->text(kColumnAddress).toStdString(), addresses[r]);
        EXPECT_EQ(row(r)->text(kColumnStatus).toStdString(), states[r]);
    }
    EXPECT_EQ(ticks(), std::vector<bool>(3, false));
    EXPECT_EQ(status(), (std::vector<std::string>{"剧集地址获取完成", "已反选", "已全选"}));

    // A second fill replaces the rows; a series without episodes leaves the list empty.
    window->编辑框_状态->clear();
    openAndFill("空", {});
    EXPECT_EQ(window->超级列表框_剧列表->topLevelItemCount(), 0);
    EXPECT_EQ(status(), (std::vector<std::string>{"剧集地址获取完成", "已反选", "已全选"}));
}

TEST_F(DownloadWindowTest, TickAllAndInvert)
{
    openAndFill("剧", {"a.m3u8", "b.m3u8", "c.m3u8"});
    tick({true, false, true});
    window->超级按钮_反选->click();
    EXPECT_EQ(ticks(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(status().front(), "已反选");
    window->超级按钮_全选->click();
    EXPECT_EQ(ticks(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(status().front(), "已全选");
    window->超级按钮_反选->click();
    EXPECT_EQ(ticks(), (std::vector<bool>{false, false, false}));
}

TEST_F(DownloadWindowTest, DeleteSegmentsSettingIsSavedAndReadOnTheNextOpening)
{
    openAndFill("剧", {});
    ASSERT_TRUE(window->选择框_删除->isChecked());
    QTest::mouseClick(window->选择框_删除, Qt::LeftButton);
    EXPECT_FALSE(window->选择框_删除->isChecked());
    EXPECT_EQ(readSetting("配置项", "删TS"), "假");

    window = makeWindow();
    openAndFill("剧", {});
    EXPECT_FALSE(window->选择框_删除->isChecked());
    QTest::mouseClick(window->选择框_删除, Qt::LeftButton);
    EXPECT_EQ(readSetting("配置项", "删TS"), "真");
}

TEST_F(DownloadWindowTest, ExportWritesTheTickedRowsToBothFiles)
{
    openAndFill("导出 测试", {"http://h/1.m3u8", "http://h/2.m3u8?a=\"x\"", "http://h/3.m3u8", ""});
    const fs::path folder = u8(downloadRoot() + "/导出测试");
    fs::create_directories(folder);
    // An existing list keeps its other sections and keys.
    writeFile(folder / "m3u8列表.ini",
              utf8ToGb18030("[备注]\r\n说明=旧\r\n[集数详情]\r\n其他=1\r\n集数=旧值\r\n"));

    struct Case {
        std::vector<bool> ticked;
        std::string value;
        std::string text;
    };
    // A ticked episode without a playlist has nothing to export.
    const Case cases[] = {
        {{false, true, true, true},
         R"({"集":["2","3"],"地址":["http://h/2.m3u8?a=\"x\"","http://h/3.m3u8"]})",
         "http://h/2.m3u8?a=\"x\"\r\nhttp://h/3.m3u8\r\n"},
        {{false, false, false, false}, "{}", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        tick(c.ticked);
        window->超级按钮_导出->click();
        EXPECT_EQ(status().front(), "已导出完成");
        const std::string ini = readFile(folder / "m3u8列表.ini");
        EXPECT_EQ(gb18030ToUtf8(ini),
                  "[备注]\r\n说明=旧\r\n[集数详情]\r\n其他=1\r\n集数=" + c.value + "\r\n");
        EXPECT_EQ(ini, utf8ToGb18030(gb18030ToUtf8(ini))); // stored as GB18030, not UTF-8
        EXPECT_EQ(readFile(folder / "m3u8列表.txt"), utf8ToGb18030(c.text));
        EXPECT_EQ(ticks(), c.ticked);
    }
}

TEST_F(DownloadWindowTest, ExportIntoNewFoldersCreatesThemAndLogsIt)
{
    openAndFill("新剧", {"http://h/1.m3u8"});
    tick({true});
    window->超级按钮_导出->click();
    EXPECT_EQ(status(), (std::vector<std::string>{"已导出完成", "创建目录: 新剧", "创建下载目录",
                                                  "剧集地址获取完成", "已反选", "已全选"}));
    const fs::path folder = u8(downloadRoot() + "/新剧");
    EXPECT_EQ(gb18030ToUtf8(readFile(folder / "m3u8列表.ini")),
              "[集数详情]\r\n集数={\"集\":[\"1\"],\"地址\":[\"http://h/1.m3u8\"]}\r\n");
    EXPECT_EQ(readFile(folder / "m3u8列表.txt"), "http://h/1.m3u8\r\n");
}

TEST_F(DownloadWindowTest, EachTitleExportsIntoAFolderOfItsOwnAndFindsItAgain)
{
    // Two titles of one name, and titles of which the rule keeps no character; each exports one
    // address of its own.
    const std::pair<std::string, std::string> series[] = {
        {"Friends: 1", "Friends1"},
        {"Friends 1!", "Friends1-2"},
        {"사랑의 불시착", ""},
        {"となりのトトロ", ""},
        {"？！", ""},
    };
    std::set<std::string> folders;
    for (const auto& [title, expected] : series) {
        SCOPED_TRACE(title);
        const std::string address = "http://h/" + std::to_string(folders.size()) + ".m3u8";
        openAndFill(title, {address});
        const std::string folder = seriesFolder();
        if (!expected.empty()) {
            EXPECT_EQ(folder, expected);
        }
        EXPECT_FALSE(folder.empty());
        EXPECT_TRUE(folders.insert(folder).second) << folder;
        tick({true});
        window->超级按钮_导出->click();
        EXPECT_EQ(status().front(), "已导出完成");
        EXPECT_EQ(status()[1], "创建目录: " + folder);
        EXPECT_EQ(readFile(u8(seriesPath()) / kSeriesTitleName), title);
        EXPECT_EQ(readFile(u8(seriesPath()) / "m3u8列表.txt"), address + "\r\n");
    }
    // No export wrote into the download root itself, and each title opened again (from the main
    // window of another route, say) is at its own folder, with its own list.
    EXPECT_FALSE(fs::exists(u8(downloadRoot() + "/m3u8列表.txt")));
    size_t n = 0;
    for (const auto& [title, expected] : series) {
        openAndFill(title, {});
        EXPECT_EQ(readFile(u8(seriesPath()) / "m3u8列表.txt"),
                  "http://h/" + std::to_string(n++) + ".m3u8\r\n")
            << title;
    }
}

TEST_F(DownloadWindowTest, AStartWithoutItsSeriesFolderIsRefusedAndSaysWhy)
{
    writeFile(u8(downloadRoot()), "a file where the download folder goes");
    openAndFill("剧", {"http://h/1.m3u8"});
    tick({true});
    window->超级按钮_解析下载->click();
    EXPECT_FALSE(downloadRunActive());
    const auto s = status();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.front(), "无法创建下载目录 " + downloadRoot() + " (已有同名文件)");
    EXPECT_EQ(std::count(s.begin(), s.end(), "创建下载目录"), 0);
    EXPECT_TRUE(window->超级按钮_解析下载->isEnabled());
    EXPECT_EQ(row(0)->text(kColumnStatus).toStdString(), "待命");
}

TEST_F(DownloadWindowTest, NoRunCanStartWhileTheListFills)
{
    std::vector<bool> startEnabledAsRowsArrive;
    openAndFill("剧", {"a.m3u8"});
    QObject::connect(
        window->超级列表框_剧列表->model(), &QAbstractItemModel::rowsInserted, window.get(),
        [&] { startEnabledAsRowsArrive.push_back(window->超级按钮_解析下载->isEnabled()); });
    window->编辑框_状态->clear();
    openAndFill("剧", {"a.m3u8", "b.m3u8", "c.m3u8"});
    EXPECT_EQ(startEnabledAsRowsArrive, std::vector<bool>(3, false));
    EXPECT_TRUE(window->超级按钮_解析下载->isEnabled()) << "enabled again once the list is filled";
}

TEST_F(DownloadWindowTest, AnExportThatCannotBeWrittenSaysSo)
{
    openAndFill("只读", {"http://h/1.m3u8"});
    tick({true});
    // A folder where the address list should go: the list cannot be written.
    fs::create_directories(u8(downloadRoot() + "/只读/m3u8列表.txt"));
    window->超级按钮_导出->click();
    EXPECT_EQ(status().front().rfind("导出失败", 0), 0u) << status().front();
}

TEST_F(DownloadWindowTest, DoubleClickCopiesTheRowAddress)
{
    openAndFill("剧", {"http://h/1.m3u8", "http://h/第2集.m3u8", ""});
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QString shown;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            EXPECT_EQ(box->parentWidget(), window.get());
            box->accept();
        }
    });
    answerer.start(20);

    QTreeWidget* list = window->超级列表框_剧列表;
    const QRect cell = list->visualItemRect(row(1));
    // A double-click as the list sees it: a press first, then the double-click on the same row.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());

    EXPECT_EQ(shown.toStdString(), "已复制");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "http://h/第2集.m3u8");
    auto s = status();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s.front(), "已复制"); // on top of the older lines

    // An episode without a playlist has nothing to copy: no message, the clipboard kept.
    shown.clear();
    const QRect empty = list->visualItemRect(row(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, empty.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, empty.center());
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "http://h/第2集.m3u8");
    EXPECT_EQ(status().front(), "无m3u8地址");
}

TEST_F(DownloadWindowTest, LogsAndCellsWrittenFromManyThreadsLoseNothing)
{
    openAndFill("剧", {"http://h/1.m3u8"});
    std::shared_ptr<DownloadListView> view = window->view();
    constexpr int kThreads = 4, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([view, t] {
            for (int i = 0; i < kLines; ++i) {
                const std::string line = "t" + std::to_string(t) + "-" + std::to_string(i);
                view->appendLog(line, t % 2);
                view->setCellText(0, kColumnSubmitted, line);
                EXPECT_FALSE(view->cellText(0, kColumnSubmitted).empty());
                view->setProgressValue(2, i % 100);
            }
        });
    // The GUI thread keeps serving the threads' writes and reads while they run.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return messages(window->编辑框_转换).size() == size_t(kThreads / 2 * kLines) &&
                   status().size() == size_t(kThreads / 2 * kLines + 3);
        },
        10000));
    for (auto& t : threads)
        t.join();
    QCoreApplication::processEvents();
    for (int t = 0; t < kThreads; ++t) {
        auto lines = messages(t % 2 ? window->编辑框_转换 : window->编辑框_状态);
        // Each thread's lines stand newest on top, in the order it wrote them.
        std::vector<std::string> mine;
        for (const auto& l : lines)
            if (l.rfind("t" + std::to_string(t) + "-", 0) == 0)
                mine.push_back(l);
        ASSERT_EQ(mine.size(), size_t(kLines));
        for (int i = 0; i < kLines; ++i)
            EXPECT_EQ(mine[kLines - 1 - i], "t" + std::to_string(t) + "-" + std::to_string(i));
    }
    // Once the window is gone the same calls do nothing and reads give nothing.
    window.reset();
    std::atomic<bool> done = false;
    std::thread late([view, &done] {
        view->appendLog("late", kStatusLog);
        EXPECT_EQ(view->rowCount(), 0);
        EXPECT_EQ(view->cellText(0, kColumnAddress), "");
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    late.join();
}

TEST_F(DownloadWindowTest, TenThousandLogLinesAreAllKeptNewestOnTop)
{
    std::shared_ptr<DownloadListView> view = window->view();
    constexpr int kLines = 10000;
    std::thread writer([view] {
        for (int i = 0; i < kLines; ++i)
            view->appendLog("行 " + std::to_string(i), i % 2 ? kMergeLog : kStatusLog);
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->编辑框_转换->document()->blockCount() > kLines / 2; }, 60000));
    writer.join();
    QCoreApplication::processEvents();
    const auto status = this->status();
    const auto merge = messages(window->编辑框_转换);
    ASSERT_EQ(status.size(), size_t(kLines / 2));
    ASSERT_EQ(merge.size(), size_t(kLines / 2));
    for (int k = 0; k < kLines / 2; ++k) {
        ASSERT_EQ(status[k], "行 " + std::to_string(kLines - 2 - 2 * k)) << k;
        ASSERT_EQ(merge[k], "行 " + std::to_string(kLines - 1 - 2 * k)) << k;
    }
}

TEST_F(DownloadWindowTest, DraggingTheGroupBoxesAndTheNoteMovesTheWindow)
{
    for (QWidget* surface :
         std::initializer_list<QWidget*>{window->分组框1, window->分组框3, window->标签1}) {
        SCOPED_TRACE(surface->objectName().toStdString());
        const QPoint before = window->pos();
        QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(surface, QPoint(45, 25));
        QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(45, 25));
        EXPECT_EQ(window->pos() - before, QPoint(40, 20));
    }
    // The list keeps its clicks: a press there selects, it does not drag.
    openAndFill("剧", {"a.m3u8"});
    const QPoint before = window->pos();
    QTreeWidget* list = window->超级列表框_剧列表;
    const QPoint cell = list->visualItemRect(row(0)).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseMove(list->viewport(), cell + QPoint(30, 0));
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, cell + QPoint(30, 0));
    EXPECT_EQ(window->pos(), before);
    EXPECT_EQ(list->currentItem(), row(0));
}

TEST_F(DownloadWindowTest, TheMainWindowOpensOneWindowForTheShownSeries)
{
    QWidget mainWindow;
    QLabel title(QStringLiteral("西游 记"), &mainWindow);
    MainForm form;
    form.window = &mainWindow;
    form.透明标签_标题 = &title;
    publishOpenSeries(
        OpenSeries{{},
                   {{"01", "http://h/1.m3u8", "http://h/1.m3u8", "http://h/1.m3u8"},
                    {"02", "http://h/2.m3u8", "http://h/2.m3u8", "http://h/2.m3u8"}}});

    openDownloadWindow(form.window, title.text().toStdString());
    QPointer<DownloadWindow> opened = mainWindow.findChild<DownloadWindow*>();
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->isVisible());
    EXPECT_TRUE(opened->isWindow());
    EXPECT_EQ(opened->windowTitle().toStdString(), "下载 西游 记");
    EXPECT_EQ(seriesFolder(), "西游记");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return opened->超级列表框_剧列表->topLevelItemCount() == 2; }, 5000));

    // A second click, with another series on screen, opens the window for that series: caption,
    // folder and list come from it, not from the first.
    title.setText(QStringLiteral("东游 记"));
    OpenSeries other;
    for (const char* n : {"1", "2", "3"}) {
        const std::string address = std::string("http://h/e") + n + ".m3u8";
        other.episodes.push_back({std::string("0") + n, address, address, address});
    }
    publishOpenSeries(std::move(other));
    openDownloadWindow(form.window, title.text().toStdString());
    EXPECT_EQ(mainWindow.findChildren<DownloadWindow*>().size(), 1);
    EXPECT_TRUE(opened->isVisible());
    EXPECT_EQ(opened->windowTitle().toStdString(), "下载 东游 记");
    EXPECT_EQ(seriesFolder(), "东游记");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return opened->超级列表框_剧列表->topLevelItemCount() == 3; }, 5000));
    EXPECT_EQ(opened->超级列表框_剧列表->topLevelItem(0)->text(kColumnAddress).toStdString(),
              "http://h/e1.m3u8");

    // Esc closes it, and a closed window is gone.
    QTest::keyClick(opened.data(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.isNull(); }, 2000));
    publishOpenSeries(OpenSeries{});
}

class DownloadWindowRunTest : public DownloadWindowTest {
protected:
    TestServer server;

    bool waitForRunEnd(int ms = 30000)
    {
        return QTest::qWaitFor([] { return !downloadRunActive(); }, ms);
    }
};

TEST_F(DownloadWindowRunTest, StartDownloadsTheTickedRowIntoOneMp4)
{
    fs::path fixture = hlsFixture("ts", 4);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/v");
    // The third episode has no playlist: ticked, it is passed over and keeps its state.
    openAndFill("端到端 剧", {server.url("/v/index.m3u8"), server.url("/v/missing.m3u8"), ""});
    tick({true, false, true});
    window->选择框_删除->setChecked(false);

    window->超级按钮_解析下载->click();
    EXPECT_FALSE(window->超级按钮_解析下载->isEnabled());
    EXPECT_FALSE(window->超级列表框_剧列表->isEnabled());
    EXPECT_TRUE(window->超级按钮_中止->isEnabled());
    EXPECT_TRUE(window->超级按钮_导出->isEnabled());
    // No second run while this one goes.
    DownloadSettings other;
    other.downloadRoot = downloadRoot();
    EXPECT_FALSE(startDownloads(window->view(), other));
    ASSERT_TRUE(waitForRunEnd());
    QCoreApplication::processEvents();

    EXPECT_EQ(row(0)->text(kColumnStatus).toStdString(), "完成");
    EXPECT_EQ(row(0)->text(kColumnSegments).toStdString(), "4");
    EXPECT_EQ(row(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(row(1)->text(kColumnStatus).toStdString(), "待命");
    EXPECT_EQ(row(2)->text(kColumnStatus).toStdString(), "无m3u8地址");
    EXPECT_FALSE(fs::exists(u8(seriesPath() + "/3")));
    MediaInfo info = probeMedia(seriesPath() + "/1.mp4");
    ASSERT_TRUE(info.opened);
    EXPECT_NE(info.format.find("mp4"), std::string::npos);
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
    EXPECT_NEAR(info.duration, 4.0, 0.5);
    EXPECT_TRUE(fs::exists(u8(seriesPath() + "/1/1.ts"))); // 下完删TS unticked: segments kept

    // The start emptied both logs: the fill lines and the folder lines are gone.
    auto s = status();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.front(), "全部执行完成,祝使用愉快");
    EXPECT_EQ(std::count(s.begin(), s.end(), "正在执行第 1 集"), 1);
    EXPECT_EQ(std::count(s.begin(), s.end(), "第 3 集没有m3u8地址, 跳过"), 1);
    EXPECT_EQ(std::count(s.begin(), s.end(), "正在执行第 3 集"), 0);
    EXPECT_EQ(std::count(s.begin(), s.end(), "上一个任务仍在执行,请稍后再试"), 1);
    EXPECT_EQ(std::count(s.begin(), s.end(), "剧集地址获取完成"), 0);
    EXPECT_EQ(std::count(s.begin(), s.end(), "创建下载目录"), 0);
    auto merge = messages(window->编辑框_转换);
    EXPECT_EQ(std::count(merge.begin(), merge.end(), "第 1 集合并完成"), 1);
    EXPECT_EQ(window->编辑框_地址->text().toStdString(), "第 1 集 " + server.url("/v/index.m3u8"));
    EXPECT_EQ(window->进度条2->maximum(), 4);
    EXPECT_EQ(window->进度条2->value(), 4);
    EXPECT_TRUE(window->超级按钮_解析下载->isEnabled());
    EXPECT_TRUE(window->超级列表框_剧列表->isEnabled());

    // 重新合并 writes the file again from the kept segments.
    fs::remove(u8(seriesPath() + "/1.mp4"));
    window->超级按钮_合并->click();
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_TRUE(probeMedia(seriesPath() + "/1.mp4").opened);
}

TEST_F(DownloadWindowRunTest, AbortStopsARunningDownload)
{
    fs::path fixture = hlsFixture("ts", 10);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/t");
    for (int i = 0; i < 10; ++i)
        server.on(
            "/t/seg" + std::to_string(i) + ".ts",
            CannedResponse{200, {}, readFile(fixture / ("seg" + std::to_string(i) + ".ts"))}.after(
                300ms));
    window->setSettingsSource([root = downloadRoot()] {
        DownloadSettings s;
        s.downloadRoot = root;
        s.pace.intervalMs = 200;
        return s;
    });
    openAndFill("中止", {server.url("/t/index.m3u8")});
    tick({true});
    window->超级按钮_解析下载->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return row(0)->text(kColumnSubmitted) == QStringLiteral("2"); }, 10000));
    window->超级按钮_中止->click();
    EXPECT_EQ(status().front(), "已执行中止任务");
    ASSERT_TRUE(waitForRunEnd());
    QCoreApplication::processEvents();

    EXPECT_EQ(row(0)->text(kColumnStatus).toStdString(), "已中止");
    EXPECT_LT(server.count("/t/seg9.ts"), 1);
    EXPECT_EQ(status().front(), "全部执行完成,祝使用愉快");
    EXPECT_TRUE(window->超级按钮_解析下载->isEnabled());
}

// The main window as the download window sees it: the title label, the status log and the open
// series, with settings that keep a run short.
class MainWindowRunTest : public DownloadWindowRunTest {
protected:
    QWidget mainWindow;
    QLabel title{&mainWindow};
    QPlainTextEdit mainLog{&mainWindow};
    MainForm form;
    fs::path fixture = hlsFixture("ts", 4);
    // Segments 3 and 4 are held back until the test lets them go (at most 60 s).
    std::atomic<bool> releaseThird{false}, releaseFourth{false};

    void SetUp() override
    {
        DownloadWindowRunTest::SetUp();
        window.reset();
        form.window = &mainWindow;
        form.透明标签_标题 = &title;
        setStatusLogBox(&mainLog);
        ASSERT_TRUE(writeSetting("配置项", "下载间隔", "0"));
        ASSERT_FALSE(fixture.empty());
        serveFolder(server, fixture, "/v");
        held("/v/seg2.ts", readFile(fixture / "seg2.ts"), releaseThird);
        held("/v/seg3.ts", readFile(fixture / "seg3.ts"), releaseFourth);
    }
    void TearDown() override
    {
        releaseThird = releaseFourth = true;
        EXPECT_TRUE(waitForRunEnd());
        setStatusLogBox(nullptr);
        publishOpenSeries(OpenSeries{});
        DownloadWindowRunTest::TearDown();
    }

    void held(const std::string& path, std::string body, std::atomic<bool>& release)
    {
        server.onHandler(path, [body, &release](const RecordedRequest&, int) {
            for (int i = 0; i < 6000 && !release.load(); ++i)
                std::this_thread::sleep_for(10ms);
            return CannedResponse{200, {}, body};
        });
    }

    // Clicks 下载此剧 with series name on screen and waits for its list.
    DownloadWindow* openSeries(const QString& name, int rows)
    {
        title.setText(name);
        const std::string first = server.url("/v/index.m3u8"), second = server.url("/v/other.m3u8");
        publishOpenSeries(
            OpenSeries{{}, {{"01", first, first, first}, {"02", second, second, second}}});
        openDownloadWindow(form.window, title.text().toStdString());
        DownloadWindow* shown = nullptr;
        for (DownloadWindow* w : mainWindow.findChildren<DownloadWindow*>())
            if (w->isVisible())
                shown = w;
        EXPECT_TRUE(shown);
        if (shown) {
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return shown->超级列表框_剧列表->topLevelItemCount() == rows; }, 5000));
        }
        return shown;
    }
    bool mainLogHas(const std::string& message)
    {
        return mainLog.toPlainText().contains(QString::fromStdString("] " + message + "\n"));
    }
    static std::string cell(DownloadWindow* w, int r, int column)
    {
        return w->超级列表框_剧列表->topLevelItem(r)->text(column).toStdString();
    }
    // Ticks the first row and starts; waits until the held segments have been asked for.
    void startFirstRow(DownloadWindow* w)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->超级按钮_解析下载->isEnabled(); }, 5000));
        w->超级列表框_剧列表->topLevelItem(0)->setCheckState(0, Qt::Checked);
        w->超级按钮_解析下载->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return server.count("/v/seg3.ts") == 1 && server.count("/v/seg2.ts") == 1; },
            20000));
        ASSERT_TRUE(downloadRunActive());
    }
};

TEST_F(MainWindowRunTest, ClosingDuringARunLetsItGoOnAndReopeningShowsItLive)
{
    QPointer<DownloadWindow> w = openSeries(QStringLiteral("西游 记"), 2);
    ASSERT_TRUE(w);
    startFirstRow(w);

    // Closed: the window only hides and the run goes on, its lines now on the main status log.
    QTest::keyClick(w.data(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(downloadRunActive());
    EXPECT_TRUE(mainLogHas("下载窗口已关闭,下载任务仍在进行"));
    releaseThird = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return mainLogHas("已下载 3 / 4 = seg2.ts"); }, 20000));

    // Opened again for the same series: the same window, as the run has it now.
    EXPECT_EQ(openSeries(QStringLiteral("西游 记"), 2), w.data());
    EXPECT_EQ(mainWindow.findChildren<DownloadWindow*>().size(), 1);
    EXPECT_EQ(cell(w, 0, kColumnSegments), "4");
    EXPECT_EQ(cell(w, 0, kColumnDownloaded), "3");
    EXPECT_EQ(messages(w->编辑框_转换).front(), "已下载 3 / 4 = seg2.ts");
    EXPECT_EQ(w->进度条2->value(), 3);
    EXPECT_FALSE(w->超级按钮_解析下载->isEnabled());
    EXPECT_TRUE(w->超级按钮_中止->isEnabled());

    // Closed again till the end: the run finishes, then the window goes.
    w->close();
    releaseFourth = true;
    ASSERT_TRUE(waitForRunEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isNull(); }, 5000));
    EXPECT_TRUE(mainLogHas("第 1 集合并完成"));
    EXPECT_TRUE(mainLogHas("全部执行完成,祝使用愉快"));
    MediaInfo info = probeMedia(downloadRoot() + "/西游记/1.mp4");
    EXPECT_TRUE(info.opened);
    EXPECT_NEAR(info.duration, 4.0, 0.5);
}

TEST_F(MainWindowRunTest, AnotherSeriesOpensItsOwnWindowWhoseStartIsRefusedWhileTheRunGoes)
{
    QPointer<DownloadWindow> first = openSeries(QStringLiteral("西游 记"), 2);
    ASSERT_TRUE(first);
    startFirstRow(first);

    QPointer<DownloadWindow> second = openSeries(QStringLiteral("红楼 梦"), 2);
    ASSERT_TRUE(second);
    EXPECT_NE(second.data(), first.data());
    EXPECT_FALSE(first->isVisible()); // stepped aside; its run goes on
    EXPECT_EQ(second->windowTitle().toStdString(), "下载 红楼 梦");
    EXPECT_EQ(seriesFolder(), "红楼梦");
    EXPECT_EQ(cell(second, 0, kColumnStatus), "待命");
    // The new window's controls answer; a start is refused with a message while the run goes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return second->超级按钮_解析下载->isEnabled(); }, 5000));
    second->超级列表框_剧列表->topLevelItem(0)->setCheckState(0, Qt::Checked);
    second->超级按钮_解析下载->click();
    EXPECT_EQ(messages(second->编辑框_状态).front(), "上一个任务仍在执行,请稍后再试");
    second->超级按钮_合并->click();
    EXPECT_EQ(messages(second->编辑框_状态).front(), "上一个任务仍在执行,请稍后再试");
    EXPECT_TRUE(second->超级按钮_解析下载->isEnabled());
    EXPECT_TRUE(downloadRunActive());

    releaseThird = releaseFourth = true;
    ASSERT_TRUE(waitForRunEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 5000));
    // The run went on into the first series' folder, not the one on screen.
    EXPECT_TRUE(probeMedia(downloadRoot() + "/西游记/1.mp4").opened);
    EXPECT_FALSE(fs::exists(u8(downloadRoot() + "/红楼梦/1.mp4")));
    EXPECT_TRUE(mainLogHas("全部执行完成,祝使用愉快"));

    // Now the second window starts its own run.
    server.clearRecords();
    second->超级按钮_解析下载->click();
    ASSERT_TRUE(waitForRunEnd());
    QCoreApplication::processEvents();
    EXPECT_EQ(cell(second, 0, kColumnStatus), "完成");
    EXPECT_TRUE(probeMedia(downloadRoot() + "/红楼梦/1.mp4").opened);
    EXPECT_TRUE(second->超级按钮_解析下载->isEnabled());
}

} // namespace
