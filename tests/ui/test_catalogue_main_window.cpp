// The catalogue controls of the real main window, driven by keyboard and mouse.

#include "test_catalogue_fixture.h"

#include "app/startup.h"
#include "catalogue/catalogue_sources.h"
#include "playback/playback_state.h"
#include "ui/main_window.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <thread>

using namespace catalogue_testing;

namespace {

const std::string kApi = "/api.php/provide/vod/?ac=detail";

// A main window started the way the program starts it: the settings bootstrap fills and selects
// the route box and loads the latest items.
class StartedWindow {
public:
    StartedWindow()
    {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        CatalogueBrowser& catalogue = window.catalogue();
        StartupSteps steps;
        steps.fillRouteBox = [&catalogue] { catalogue.fillRouteBox(); };
        steps.selectRoute = [&catalogue](int value) { catalogue.selectRouteEntry(value); };
        steps.startCatalogueLoad = [&catalogue](int mode, int page) {
            catalogue.startLoad(mode, page);
        };
        steps.bootstrapFinished = [this] { booted = true; };
        // Bootstrap thread, as at start-up; it reaches the window through gui::call.
        std::thread([steps] { bootstrapSettings(steps); }).detach();
        EXPECT_TRUE(QTest::qWaitFor([this] { return booted.load(); }, 20000));
        EXPECT_TRUE(waitForWorkers(window));
    }
    ~StartedWindow() { waitForWorkers(window); }

    MainForm& form() { return window.form(); }

    std::vector<std::string> titles()
    {
        std::vector<std::string> list;
        QTreeWidget* rows = form().超级列表框_列表;
        for (int i = 0; i < rows->topLevelItemCount(); ++i)
            list.push_back(rows->topLevelItem(i)->text(0).toStdString());
        return list;
    }
    std::string text(QWidget* w)
    {
        if (auto* label = qobject_cast<QLabel*>(w))
            return label->text().toStdString();
        return qobject_cast<QLineEdit*>(w)->text().toStdString();
    }
    std::string paging()
    {
        std::string s;
        for (QPushButton* b :
             {form().按钮_首页, form().按钮_上一页, form().按钮_下一页, form().按钮_尾页})
            s += b->isEnabled() ? '1' : '0';
        return s;
    }
    int logCount(const std::string& message)
    {
        int n = 0;
        for (const QString& line : form().编辑框_状态->toPlainText().split(QStringLiteral("\n")))
            n += line.mid(11).remove(QLatin1Char('\r')).toStdString() == message ? 1 : 0;
        return n;
    }
    void click(QWidget* w)
    {
        QTest::mouseClick(w, Qt::LeftButton);
        ASSERT_TRUE(waitForWorkers(window));
    }
    // A click on a cell of a report list.
    void clickCell(QTreeWidget* list, int row, int column)
    {
        const QModelIndex index = list->model()->index(row, column);
        const QRect rect = list->visualRect(index);
        ASSERT_TRUE(rect.isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_TRUE(waitForWorkers(window));
    }

    std::atomic<bool> booted{false};
    MainWindow window;
};

class CatalogueMainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        playbackState.pendingAction = 0;
        ASSERT_TRUE(ensureSettingsFile());
        ASSERT_TRUE(writeSetting("配置项", "线路列表", a.host() + "|" + b.host()));
    }

    TempProgramFolder folder;
    FakeCatalogue a{"A"};
    FakeCatalogue b{"B"};
};

} // namespace

TEST_F(CatalogueMainWindow, StartUpListsTheLatestItemsOfTheStoredRoute)
{
    StartedWindow w;
    EXPECT_EQ(w.form().组合框_线路->count(), 2);
    EXPECT_EQ(w.form().组合框_线路->currentIndex(), 0);
    EXPECT_EQ(a.targets(), (std::vector<std::string>{kApi + "&pg=1&pagesize=20"}));
    ASSERT_EQ(w.titles().size(), 20u);
    EXPECT_EQ(w.titles().front(), "A:latest:p1:1");
    EXPECT_EQ(w.text(w.form().标签_共有记录数), "45");
    EXPECT_EQ(w.text(w.form().标签_页数), "3");
    EXPECT_EQ(w.paging(), "0011");
    EXPECT_FALSE(w.form().标签提示->isVisible());
}

TEST_F(CatalogueMainWindow, TypingAKeywordAndEnter)
{
    StartedWindow w;
    QLineEdit* box = w.form().编辑框_搜索;
    EXPECT_EQ(w.text(box), "请输入剧名搜索");
    box->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([box] { return box->hasFocus(); }));
    EXPECT_EQ(w.text(box), ""); // focus empties the placeholder
    QTest::keyClicks(box, QStringLiteral("tom & jerry"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(w.logCount("正在提交搜索"), 1);
    EXPECT_EQ(w.text(w.form().标签_当前), "1");
    ASSERT_TRUE(waitForWorkers(w.window));
    EXPECT_EQ(a.targets().back(), kApi + "&wd=tom%20%26%20jerry&pg=1&pagesize=20");
    EXPECT_EQ(w.titles().front(), "A:wd=tom & jerry:p1:1");
    EXPECT_TRUE(w.form().超级按钮_搜索->isEnabled());

    // Focus leaves with a keyword: it stays; focus comes back: it is emptied.
    w.form().标签_当前->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->hasFocus(); }));
    EXPECT_EQ(w.text(box), "tom & jerry");
    box->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([box] { return box->hasFocus(); }));
    EXPECT_EQ(w.text(box), "");
    w.form().标签_当前->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->hasFocus(); }));
    EXPECT_EQ(w.text(box), "请输入剧名搜索");

    // Nothing found: the list stays as it was.
    box->setText(QStringLiteral("nothing"));
    w.click(w.form().超级按钮_搜索);
    EXPECT_EQ(w.titles().front(), "A:wd=tom & jerry:p1:1");
    EXPECT_EQ(w.text(w.form().标签提示), "抱歉!没有找到剧集!");
    EXPECT_TRUE(w.form().标签提示->isVisible());
    EXPECT_TRUE(w.form().超级按钮_搜索->isEnabled());
}

TEST_F(CatalogueMainWindow, EveryKindOfCategory)
{
    StartedWindow w;
    QTreeWidget* categories = w.form().超级列表框_分类;
    struct Case {
        int row;
        int column;
        std::string target;
    };
    const Case cases[] = {
        {1, 2, kApi + "&t=9&pg=1&pagesize=20"},   // 恐怖片
        {1, 8, kApi + "&t=20&pg=1&pagesize=20"},  // 喜剧片
        {1, 10, kApi + "&t=20&pg=1&pagesize=20"}, // 动画片, the same id
        {0, 0, kApi + "&pg=1&pagesize=20"},       // 最新: the latest items
        {0, 2, kApi + "&t=1&pg=1&pagesize=20"},   // 电影
    };
    for (const Case& c : cases) {
        a.server.clearRecords();
        w.form().标签_当前->setText(QStringLiteral("2"));
        w.clickCell(categories, c.row, c.column);
        EXPECT_EQ(a.targets(), (std::vector<std::string>{c.target})) << c.row << "," << c.column;
        EXPECT_EQ(w.text(w.form().标签_当前), "1");
    }
    EXPECT_EQ(w.logCount("获取分类剧集列表"), 5);
    EXPECT_EQ(w.titles().front(), "A:t1:p1:1");
}

TEST_F(CatalogueMainWindow, PagingAcrossFirstMiddleAndLastPages)
{
    StartedWindow w;
    MainForm& f = w.form();
    w.clickCell(f.超级列表框_分类, 1, 2); // 恐怖片
    struct Step {
        QPushButton* button;
        std::string page;
        std::string buttons;
        std::size_t rows;
    };
    const Step steps[] = {
        {f.按钮_下一页, "2", "1111", 20},
        {f.按钮_尾页, "3", "1100", 5},
        {f.按钮_上一页, "2", "1111", 20},
        {f.按钮_首页, "1", "0011", 20},
    };
    for (const Step& s : steps) {
        a.server.clearRecords();
        w.click(s.button);
        EXPECT_EQ(a.targets(),
                  (std::vector<std::string>{kApi + "&t=9&pg=" + s.page + "&pagesize=20"}));
        EXPECT_EQ(w.text(f.标签_当前), s.page);
        EXPECT_EQ(w.paging(), s.buttons) << s.page;
        EXPECT_EQ(w.titles().size(), s.rows);
    }
    // Disabled buttons do nothing.
    a.server.clearRecords();
    w.click(f.按钮_上一页);
    EXPECT_TRUE(a.targets().empty());

    // A typed page beyond the count is clamped on Enter; one press, one load.
    f.标签_当前->setFocus();
    f.标签_当前->selectAll();
    QTest::keyClicks(f.标签_当前, QStringLiteral("99"));
    QTest::keyClick(f.标签_当前, Qt::Key_Return);
    ASSERT_TRUE(waitForWorkers(w.window));
    EXPECT_EQ(w.text(f.标签_当前), "3");
    EXPECT_EQ(a.targets(), (std::vector<std::string>{kApi + "&t=9&pg=3&pagesize=20"}));
}

TEST_F(CatalogueMainWindow, SwitchingRouteAndRestarting)
{
    {
        StartedWindow w;
        QComboBox* routes = w.form().组合框_线路;
        routes->setFocus();
        QTest::keyClick(routes, Qt::Key_Down); // the user picks the second entry
        EXPECT_EQ(routes->currentIndex(), 1);
        EXPECT_EQ(w.logCount("正在切换线路"), 1);
        ASSERT_TRUE(waitForWorkers(w.window));
        EXPECT_EQ(b.targets(), (std::vector<std::string>{kApi + "&pg=1&pagesize=20"}));
        EXPECT_EQ(w.titles().front(), "B:latest:p1:1");
        EXPECT_EQ(w.text(w.form().透明标签_简介), "恭喜 ! 线路切换成功 !  欢迎使用");
        EXPECT_EQ(readSetting("配置项", "线路"), "1");
    }
    b.server.clearRecords();
    a.server.clearRecords();
    StartedWindow restarted;
    EXPECT_EQ(restarted.form().组合框_线路->currentIndex(), 1);
    EXPECT_EQ(b.targets(), (std::vector<std::string>{kApi + "&pg=1&pagesize=20"}));
    EXPECT_TRUE(a.targets().empty());
    EXPECT_EQ(restarted.titles().front(), "B:latest:p1:1");
    // The start-up selection is no switch: no switch notice, nothing logged for it.
    EXPECT_EQ(restarted.logCount("正在切换线路"), 0);
}

TEST_F(CatalogueMainWindow, AnUnreachableServer)
{
    ASSERT_TRUE(
        writeSetting("配置项", "线路列表", "127.0.0.1:" + std::to_string(closedLoopbackPort())));
    StartedWindow w;
    EXPECT_TRUE(w.titles().empty());
    const std::string notice = w.text(w.form().透明标签_简介);
    EXPECT_EQ(notice.rfind("剧集列表加载失败", 0), 0u) << notice;
    EXPECT_NE(notice.find("无法连接服务器"), std::string::npos) << notice;
    EXPECT_EQ(w.text(w.form().标签提示), "加载失败!");
    EXPECT_EQ(w.logCount("剧集列表获取完成"), 0);
    EXPECT_TRUE(w.form().超级按钮_搜索->isEnabled());
}

TEST_F(CatalogueMainWindow, ASeriesRowOpensIntoTheGrid)
{
    StartedWindow w;
    MainForm& f = w.form();
    w.clickCell(f.超级列表框_列表, 2, 0);
    EXPECT_EQ(w.text(f.透明标签_标题), "A:latest:p1:3");
    EXPECT_EQ(w.text(f.透明标签_简介), "简介");
    EXPECT_TRUE(f.超级按钮_下载->isVisible());
    ASSERT_NE(f.高级表格_剧集->item(0, 0), nullptr);
    EXPECT_EQ(f.高级表格_剧集->item(0, 0)->text().toStdString(), "01");
    EXPECT_EQ(f.高级表格_剧集->item(0, 1)->text().toStdString(), "https://v/1.m3u8");
    EXPECT_EQ(f.高级表格_剧集->item(0, 2)->text().toStdString(), "https://v/1.m3u8");
    EXPECT_EQ(w.logCount("获取 A:latest:p1:3 详细完成"), 1);
    EXPECT_EQ(episodeFields(), (TextList{"01", "https://v/1.m3u8"}));
}
