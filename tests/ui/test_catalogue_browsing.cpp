#include "test_catalogue_fixture.h"

#include "catalogue/catalogue_browsing.h"
#include "catalogue/catalogue_categories.h"
#include "catalogue/catalogue_sources.h"
#include "catalogue/maccms_server.h"
#include "playback/history.h"
#include "playback/playback_state.h"
#include "util/text_number.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <ctime>

using namespace catalogue_testing;

namespace {

const std::string kApi = "/api.php/provide/vod/?ac=detail";

class CatalogueBrowsing : public ::testing::Test {
protected:
    void SetUp() override
    {
        playbackState.pendingAction = 0;
        ui.setRoutes({server.host()});
    }
    void TearDown() override { ASSERT_TRUE(waitForWorkers(ui)); }

    void load(int mode, int page)
    {
        ui.catalogue().startLoad(mode, page);
        ASSERT_TRUE(waitForWorkers(ui));
    }
    void settle() { ASSERT_TRUE(waitForWorkers(ui)); }

    TempProgramFolder folder;
    FakeCatalogue server{"A"};
    CatalogueForm ui;
};

} // namespace

TEST_F(CatalogueBrowsing, EachModeRequestsItsListingOncePerPage)
{
    ui.form.编辑框_搜索->setText(QStringLiteral("海贼 王&t=9"));
    load(-1, 1);
    load(-2, 2);
    load(9, 3);
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{
                  kApi + "&wd=%E6%B5%B7%E8%B4%BC%20%E7%8E%8B%26t%3D9&pg=1&pagesize=20",
                  kApi + "&pg=2&pagesize=20", kApi + "&t=9&pg=3&pagesize=20"}));
    EXPECT_EQ(ui.catalogue().currentMode(), 9);
}

TEST_F(CatalogueBrowsing, ALoadFillsTheListAndTheCounts)
{
    playbackState.pendingAction = static_cast<int>(PendingAction::ResumeRequested);
    ui.form.超级按钮_搜索->setEnabled(false);
    ui.form.透明标签_简介->setText(QStringLiteral("design"));
    load(-2, 1);
    const std::vector<std::string> titles = ui.rowTitles();
    ASSERT_EQ(titles.size(), 20u);
    EXPECT_EQ(titles.front(), "A:latest:p1:1");
    EXPECT_EQ(titles.back(), "A:latest:p1:20");
    QTreeWidgetItem* row = ui.form.超级列表框_列表->topLevelItem(0);
    EXPECT_EQ(row->text(1).toStdString(), "动作片");
    EXPECT_EQ(row->text(4).toStdString(), "第01集$https://v/1.m3u8");
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "45");
    EXPECT_EQ(ui.text(ui.form.标签_页数), "3");
    EXPECT_FALSE(ui.form.标签提示->isVisible());
    EXPECT_EQ(ui.pagingState(), "0011");
    EXPECT_TRUE(ui.form.超级按钮_搜索->isEnabled());
    EXPECT_EQ(ui.logCount("剧集列表获取完成"), 1);
    // Only a pending start is cleared by a load; a pending resume stays.
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::ResumeRequested));
    EXPECT_EQ(ui.text(ui.form.透明标签_简介), "design");
}

TEST_F(CatalogueBrowsing, APendingStartEndsWithTheSwitchNotice)
{
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    load(-2, 1);
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
    EXPECT_EQ(ui.text(ui.form.透明标签_简介), "恭喜 ! 线路切换成功 !  欢迎使用");
}

TEST_F(CatalogueBrowsing, NothingFoundKeepsThePreviousList)
{
    load(-2, 1);
    ui.form.编辑框_搜索->setText(QStringLiteral("nothing"));
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    ui.catalogue().startSearch();
    settle();
    EXPECT_EQ(ui.rowTitles().size(), 20u);
    EXPECT_EQ(ui.rowTitles().front(), "A:latest:p1:1");
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "45");
    EXPECT_EQ(ui.text(ui.form.透明标签_简介),
              "未 有 找 到 剧集 任 何 信 息\r\n\r\n请更换关键词, 或稍后再试");
    EXPECT_EQ(ui.text(ui.form.标签提示), "抱歉!没有找到剧集!");
    EXPECT_TRUE(ui.form.标签提示->isVisible());
    EXPECT_EQ(ui.pagingState(), "0000");
    EXPECT_TRUE(ui.form.超级按钮_搜索->isEnabled());
    EXPECT_EQ(ui.logCount("剧集列表获取完成"), 1);
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));
}

TEST_F(CatalogueBrowsing, FailedLoadsSaySoAndClaimNoSuccess)
{
    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::string reason;
    };
    TestServer broken(TestServer::Scheme::Https);
    broken.on("/api.php/provide/vod/", CannedResponse{503, {}, "busy"});
    TestServer html(TestServer::Scheme::Https);
    html.on("/api.php/provide/vod/", CannedResponse{200, {}, "<html>maintenance</html>"});
    TestServer wrongName(TestServer::Scheme::Https, "127.0.0.1",
                         TestServer::Certificate::WrongName);
    wrongName.on("/api.php/provide/vod/",
                 CannedResponse{200, {}, cp::page(1, 1, cp::items("剧", 1))});
    const std::string dead = "127.0.0.1:" + std::to_string(closedLoopbackPort());
    const Case cases[] = {
        {"unreachable", [&] { ui.setRoutes({dead}); }, "无法连接服务器"},
        {"http error", [&] { ui.setRoutes({broken.hostPort()}); }, "HTTP 503"},
        {"not json", [&] { ui.setRoutes({html.hostPort()}); }, "返回内容不是有效的数据"},
        {"a certificate for another name", [&] { ui.setRoutes({wrongName.hostPort()}); },
         "证书无效: 127.0.0.1 (SSL: no alternative certificate subject name"},
        {"no route selected", [&] { ui.setRoutes({server.host()}, -1); }, "未选择线路"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.form.编辑框_状态->clear();
        c.arrange();
        playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
        ui.form.透明标签_简介->setText(QStringLiteral("请稍等 ! 线路正在切换中..."));
        load(-2, 1);
        const std::string notice = ui.text(ui.form.透明标签_简介);
        EXPECT_EQ(notice.rfind("剧集列表加载失败", 0), 0u) << notice;
        EXPECT_NE(notice.find(c.reason), std::string::npos) << notice;
        EXPECT_EQ(ui.text(ui.form.标签提示), "加载失败!");
        EXPECT_TRUE(ui.form.标签提示->isVisible());
        EXPECT_EQ(ui.logCount("剧集列表获取完成"), 0);
        ASSERT_FALSE(ui.logLines().empty());
        EXPECT_EQ(ui.logLines().front().rfind("剧集列表获取失败: ", 0), 0u);
        EXPECT_TRUE(ui.rowTitles().empty());
        EXPECT_TRUE(ui.form.超级按钮_搜索->isEnabled());
        // The ended load releases a pending start as a successful one does.
        EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
    }
    EXPECT_TRUE(server.targets().empty());     // no selection sends nothing
    EXPECT_TRUE(wrongName.requests().empty()); // a route that does not verify gets no request
}

TEST_F(CatalogueBrowsing, TheLastStartedLoadWins)
{
    // Slow first, fast second, and the other way round: the load started last fills the list.
    for (const bool firstIsSlow : {true, false}) {
        SCOPED_TRACE(firstIsSlow ? "older slower" : "newer slower");
        ui.form.编辑框_状态->clear();
        server.delay(1, firstIsSlow ? 400 : 0);
        server.delay(2, firstIsSlow ? 0 : 400);
        ui.catalogue().startLoad(9, 1);
        ui.catalogue().startLoad(24, 2);
        settle();
        ASSERT_EQ(ui.rowTitles().size(), 20u);
        for (const std::string& title : ui.rowTitles())
            EXPECT_EQ(title.rfind("A:t24:p2:", 0), 0u) << title;
        EXPECT_EQ(ui.logCount("剧集列表获取完成"), 1);
        EXPECT_EQ(ui.catalogue().currentMode(), 24);
    }
}

namespace {

// A stored history of n series, H1 saved first.
void storeHistory(int n)
{
    std::string text = "{\"data\":[";
    for (int i = 1; i <= n; ++i)
        text += std::string(i > 1 ? "," : "") + "{\"名\":\"H" + std::to_string(i) +
                "\",\"集\":\"01\",\"URL\":\"https://v/" + std::to_string(i) +
                "\",\"m3u8\":\"https://v/" + std::to_string(i) + ".m3u8\"}";
    text += "]}";
    ASSERT_TRUE(writeSetting("观看历史", "数据", text));
}

} // namespace

// 历史 clicked while a catalogue load is on its way: the list shows the history alone, the paging
// buttons are those of its one page, and the late load neither fills rows nor claims success.
TEST_F(CatalogueBrowsing, HistoryClickedDuringALoadShowsOnlyTheHistory)
{
    storeHistory(3);
    server.delay(2, 1500);
    ui.form.标签_当前->setText(QStringLiteral("2"));
    ui.catalogue().startLoad(kLatestMode, 2);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !server.server.requests().empty(); }, 20000));
    ui.form.超级按钮_搜索->setEnabled(false);
    showHistory(ui.catalogue());
    settle();
    EXPECT_EQ(ui.rowTitles(), (std::vector<std::string>{"H3", "H2", "H1"}));
    EXPECT_EQ(ui.pagingState(), "0000");
    EXPECT_TRUE(ui.form.超级按钮_搜索->isEnabled()) << "the paging buttons were refreshed";
    EXPECT_EQ(ui.text(ui.form.标签_页数), "1");
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "3");
    EXPECT_EQ(ui.logCount("剧集列表获取完成"), 0);
    EXPECT_EQ(ui.logCount("载入播放历史记录完成,点击列表可自动续播"), 1);

    // A load started after the history list takes the list back.
    server.delay(2, 0);
    load(kLatestMode, 2);
    ASSERT_EQ(ui.rowTitles().size(), 20u);
    EXPECT_EQ(ui.rowTitles()[0], "A:latest:p2:1");
}

// A second click on 历史 right after the first: the list holds each entry once, each click
// filling it whole in one go.
TEST_F(CatalogueBrowsing, ASecondHistoryClickDoesNotDuplicateRows)
{
    storeHistory(40);
    int second = 0;
    QTimer::singleShot(0, ui.form.超级列表框_列表, [&] {
        ++second;
        showHistory(ui.catalogue());
    });
    showHistory(ui.catalogue());
    settle();
    EXPECT_EQ(second, 1);
    const std::vector<std::string> titles = ui.rowTitles();
    ASSERT_EQ(titles.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(titles[static_cast<std::size_t>(i)], "H" + std::to_string(40 - i));
    EXPECT_EQ(ui.logCount("载入播放历史记录完成,点击列表可自动续播"), 2);
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "40");
}

TEST(UpdatePagingButtons, EveryCaseOfTheTable)
{
    struct Case {
        const char* pages;
        const char* current;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"1", "1", "1111", "0000"},   // single page
        {"7", "1", "0000", "0011"},   // first of several
        {"7", "7", "0000", "1100"},   // last page
        {"7", "3", "0000", "1111"},   // between
        {"7", "9", "0000", "1111"},   // beyond the page count
        {"", "1", "1010", "1010"},    // no page count: kept
        {"0", "1", "0101", "0101"},   // kept
        {"abc", "x", "0000", "1100"}, // texts without digits count as 0, so P = C
    };
    CatalogueForm ui;
    for (const Case& c : cases) {
        QPushButton* buttons[] = {ui.form.按钮_首页, ui.form.按钮_上一页, ui.form.按钮_下一页,
                                  ui.form.按钮_尾页};
        for (int i = 0; i < 4; ++i)
            buttons[i]->setEnabled(c.before[i] == '1');
        const PagingButtons enabled = pagingButtons(textToInt(c.pages), textToInt(c.current));
        if (!enabled.unchanged)
            ui.views.setPagingEnabled(enabled.first, enabled.previous, enabled.next, enabled.last);
        EXPECT_EQ(ui.pagingState(), c.after) << c.pages << "/" << c.current;
    }
}

TEST_F(CatalogueBrowsing, SearchBoxFocusAndEnter)
{
    ui.catalogue().searchBoxFocusIn();
    EXPECT_EQ(ui.text(ui.form.编辑框_搜索), "");
    ui.catalogue().searchBoxFocusOut();
    EXPECT_EQ(ui.text(ui.form.编辑框_搜索), "请输入剧名搜索");
    ui.form.编辑框_搜索->setText(QStringLiteral("火影"));
    ui.catalogue().searchBoxFocusOut();
    EXPECT_EQ(ui.text(ui.form.编辑框_搜索), "火影");
    ui.catalogue().searchBoxFocusIn();
    EXPECT_EQ(ui.text(ui.form.编辑框_搜索), "");

    ui.form.编辑框_搜索->setText(QStringLiteral("100% a#b"));
    ui.form.标签_当前->setText(QStringLiteral("3"));
    ui.catalogue().searchBoxKeyReleased(Qt::Key_A);
    EXPECT_EQ(ui.logCount("正在提交搜索"), 0);
    ui.catalogue().searchBoxKeyReleased(Qt::Key_Return);
    EXPECT_EQ(ui.logCount("正在提交搜索"), 1);
    EXPECT_FALSE(ui.form.超级按钮_搜索->isEnabled());
    EXPECT_EQ(ui.text(ui.form.标签_当前), "1");
    settle();
    EXPECT_TRUE(ui.form.超级按钮_搜索->isEnabled());
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{kApi + "&wd=100%25%20a%23b&pg=1&pagesize=20"}));
    EXPECT_EQ(ui.rowTitles().front(), "A:wd=100% a#b:p1:1");

    // The placeholder and an empty box are searched as they are.
    server.server.clearRecords();
    ui.form.编辑框_搜索->setText(QStringLiteral("请输入剧名搜索"));
    ui.catalogue().startSearch();
    settle();
    ui.form.编辑框_搜索->clear();
    ui.catalogue().searchBoxKeyReleased(Qt::Key_Enter);
    settle();
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{kApi + "&wd=%E8%AF%B7%E8%BE%93%E5%85%A5%E5%89%A7%E5%90%8D%"
                                               "E6%90%9C%E7%B4%A2&pg=1&pagesize=20",
                                        kApi + "&wd=&pg=1&pagesize=20"}));
}

TEST_F(CatalogueBrowsing, GoToPageAllFiveWays)
{
    struct Case {
        PageAction action;
        const char* current;
        const char* pages;
        const char* shown;
        int requested;
    };
    const Case cases[] = {
        {PageAction::First, "3", "3", "1", 1},
        {PageAction::Previous, "3", "3", "2", 2},
        {PageAction::Next, "2", "3", "3", 3},
        {PageAction::Last, "1", "3", "3", 3},
        {PageAction::Typed, "2", "3", "2", 2},
        {PageAction::Typed, "99", "3", "3", 3},    // clamped to the page count
        {PageAction::Typed, "abc", "3", "abc", 0}, // not a number: page 0 as it is
        {PageAction::Typed, "-2", "3", "-2", -2},  // below 1: sent as typed
    };
    for (const Case& c : cases) {
        load(20, 1); // a category listing: paging keeps asking for t=20
        server.server.clearRecords();
        ui.form.标签_当前->setText(QString::fromUtf8(c.current));
        ASSERT_EQ(ui.text(ui.form.标签_页数), c.pages); // the listing's own page count
        ui.catalogue().goToPage(c.action);
        EXPECT_EQ(ui.text(ui.form.标签_当前), c.shown) << c.current;
        settle();
        EXPECT_EQ(server.targets(),
                  (std::vector<std::string>{kApi + "&t=20&pg=" + std::to_string(c.requested) +
                                            "&pagesize=20"}))
            << c.current;
    }
    // Paging a search re-reads the keyword box.
    ui.form.编辑框_搜索->setText(QStringLiteral("第一"));
    ui.catalogue().startSearch();
    settle();
    ui.form.编辑框_搜索->setText(QStringLiteral("第二"));
    server.server.clearRecords();
    ui.catalogue().goToPage(PageAction::Next);
    settle();
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{kApi + "&wd=%E7%AC%AC%E4%BA%8C&pg=2&pagesize=20"}));
    EXPECT_EQ(ui.pagingState(), "1111");
}

TEST_F(CatalogueBrowsing, CategoriesFromTheGrid)
{
    fillCategoryList(ui.form.超级列表框_分类);
    QTreeWidget* grid = ui.form.超级列表框_分类;
    ASSERT_EQ(grid->topLevelItemCount(), 5);
    ASSERT_EQ(grid->columnCount(), 14);
    EXPECT_EQ(grid->topLevelItem(4)->text(12).toStdString(), "体育赛事");
    EXPECT_EQ(grid->topLevelItem(4)->text(13).toStdString(), "42");

    // A click outside the grid's rows does nothing.
    ui.catalogue().selectCategory(-1, 0);
    settle();
    EXPECT_TRUE(server.targets().empty());
    EXPECT_EQ(ui.logCount("获取分类剧集列表"), 0);

    struct Case {
        int row;
        int column;
        const char* label;
        std::string target;
    };
    const Case cases[] = {
        {1, 8, "喜剧片", kApi + "&t=20&pg=1&pagesize=20"},
        {1, 10, "动画片", kApi + "&t=20&pg=1&pagesize=20"},
        {1, 2, "恐怖片", kApi + "&t=9&pg=1&pagesize=20"},
        {0, 0, "最新", kApi + "&pg=1&pagesize=20"},
        {3, 7, "日本剧",
         kApi + "&t=36&pg=1&pagesize=20"}, // the hidden id column counts for its label
    };
    for (const Case& c : cases) {
        server.server.clearRecords();
        ui.form.标签_当前->setText(QStringLiteral("5"));
        grid->setCurrentItem(grid->topLevelItem(c.row));
        EXPECT_EQ(grid->topLevelItem(c.row)->text(c.column - c.column % 2).toStdString(), c.label);
        ui.catalogue().selectCategory(c.row, c.column);
        EXPECT_EQ(ui.text(ui.form.标签_当前), "1");
        settle();
        EXPECT_EQ(server.targets(), (std::vector<std::string>{c.target})) << c.label;
    }
    EXPECT_EQ(ui.logCount("获取分类剧集列表"), 5);
    EXPECT_EQ(ui.catalogue().currentMode(), categoryMode(*categoryIndexOf("日本剧")));
}

TEST_F(CatalogueBrowsing, SponsorButtonOpensTheSponsorWindowOverTheMainWindow)
{
    // The window lives only while it is open: what it is is noted before it closes.
    QString opened;
    QWidget* owner = nullptr;
    QTimer::singleShot(100, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            opened = modal->objectName();
            owner = modal->parentWidget();
            modal->close();
        }
    });
    ui.catalogue().openSponsorWindow();
    EXPECT_EQ(opened, QStringLiteral("SponsorWindow"));
    EXPECT_EQ(owner, &ui.window);
}

TEST_F(CatalogueBrowsing, RouteListComesFromTheSettings)
{
    ASSERT_TRUE(writeSetting("配置项", "线路列表", "")); // the fixture's own route goes
    ui.catalogue().fillRouteBox();
    ASSERT_EQ(ui.form.组合框_线路->count(), 1);
    EXPECT_EQ(ui.form.组合框_线路->itemText(0).toStdString(), "127.0.0.1:47443");
    EXPECT_EQ(ui.form.组合框_线路->currentIndex(), -1);

    ASSERT_TRUE(writeSetting("配置项", "线路列表", " a.example | b.example:8443||c.example "));
    ui.catalogue().fillRouteBox();
    ASSERT_EQ(ui.form.组合框_线路->count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ui.form.组合框_线路->itemData(i).toInt(), i);
    EXPECT_EQ(ui.form.组合框_线路->itemText(1).toStdString(), "b.example:8443");
    EXPECT_EQ(ui.form.组合框_线路->itemText(2).toStdString(), "c.example");

    for (const int value : {-1, 3, 99}) {
        ui.catalogue().selectRouteEntry(value);
        EXPECT_EQ(ui.form.组合框_线路->currentIndex(), -1) << value;
    }
    ui.catalogue().selectRouteEntry(2);
    EXPECT_EQ(ui.form.组合框_线路->currentIndex(), 2);
}

TEST_F(CatalogueBrowsing, SwitchingRouteReloadsFromTheNewHostAndSurvivesARestart)
{
    FakeCatalogue other("B");
    ASSERT_TRUE(writeSetting("配置项", "线路列表", server.host() + "|" + other.host()));
    ui.catalogue().fillRouteBox();
    ui.catalogue().selectRouteEntry(0);
    load(9, 2);
    ui.form.标签_当前->setText(QStringLiteral("2"));

    ui.form.组合框_线路->setCurrentIndex(1);
    ui.catalogue().switchRoute();
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::Starting));
    EXPECT_EQ(ui.text(ui.form.透明标签_简介), "请稍等 ! 线路正在切换中...");
    EXPECT_EQ(ui.logCount("正在切换线路"), 1);
    EXPECT_EQ(readSetting("配置项", "线路"), "1");
    settle();
    EXPECT_EQ(other.targets(), (std::vector<std::string>{kApi + "&pg=1&pagesize=20"}));
    EXPECT_EQ(ui.rowTitles().front(), "B:latest:p1:1");
    EXPECT_EQ(ui.text(ui.form.透明标签_简介), "恭喜 ! 线路切换成功 !  欢迎使用");
    EXPECT_EQ(playbackState.pendingAction.load(), static_cast<int>(PendingAction::None));
    EXPECT_EQ(ui.text(ui.form.标签_当前), "1");
    EXPECT_EQ(ui.pagingState(), "0011");

    // A restart: the stored value selects the same entry, and the first listing comes from it.
    CatalogueForm restarted;
    restarted.catalogue().fillRouteBox();
    restarted.catalogue().selectRouteEntry(textToInt(readSetting("配置项", "线路")));
    EXPECT_EQ(restarted.form.组合框_线路->currentIndex(), 1);
    other.server.clearRecords();
    restarted.catalogue().startLoad(-2, 1);
    ASSERT_TRUE(waitForWorkers(restarted));
    EXPECT_EQ(other.targets(), (std::vector<std::string>{kApi + "&pg=1&pagesize=20"}));
    EXPECT_EQ(restarted.rowTitles().front(), "B:latest:p1:1");

    // No entry selected: -1 is stored.
    ui.form.组合框_线路->setCurrentIndex(-1);
    ui.catalogue().switchRoute();
    settle();
    EXPECT_EQ(readSetting("配置项", "线路"), "-1");
}

TEST_F(CatalogueBrowsing, SwitchingToADeadRouteDoesNotClaimSuccess)
{
    const std::string dead = "127.0.0.1:" + std::to_string(closedLoopbackPort());
    ASSERT_TRUE(writeSetting("配置项", "线路列表", server.host() + "|" + dead));
    ui.catalogue().fillRouteBox();
    ui.form.组合框_线路->setCurrentIndex(1);
    ui.catalogue().switchRoute();
    settle();
    const std::string notice = ui.text(ui.form.透明标签_简介);
    EXPECT_EQ(notice.find("成功"), std::string::npos) << notice;
    EXPECT_NE(notice.find("剧集列表加载失败"), std::string::npos) << notice;
    EXPECT_EQ(ui.logCount("剧集列表获取完成"), 0);
}

namespace {

// A route that runs MacCMS v10 with the stock types: 电影 (1) with 动作片 (6) and 喜剧片 (7),
// 连续剧 (2) with 国产剧 (13) and 港台剧 (14), 综艺 (3), 动漫 (4); records are filed under the
// child types, none under 电影 or 连续剧 themselves. The settings trust its certificate.
class MacCmsRoute : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeSetting("配置项", "证书文件", TestServer::certificateFile()));
        playbackState.pendingAction = 0;
        site.addRecords(6, "动作片", 12);
        site.addRecords(7, "喜剧片", 5);
        site.addRecords(13, "国产剧", 40);
        site.addRecords(14, "港台剧", 3);
        site.addRecords(3, "综艺", 4);
        site.addRecords(4, "动漫", 2);
        ui.setRoutes({site.host()});
        fillCategoryList(ui.form.超级列表框_分类);
    }
    void TearDown() override { ASSERT_TRUE(waitForWorkers(ui)); }

    void settle() { ASSERT_TRUE(waitForWorkers(ui)); }

    // Clicks the grid cell that shows label.
    void click(const char* label)
    {
        const int index = *categoryIndexOf(label);
        QTreeWidget* grid = ui.form.超级列表框_分类;
        grid->setCurrentItem(grid->topLevelItem(index / 7));
        ASSERT_EQ(grid->currentItem()->text(2 * (index % 7)).toStdString(), label);
        ui.catalogue().selectCategory(index / 7, 2 * (index % 7));
        settle();
    }

    std::vector<std::string> names(const std::string& prefix, int from, int to) const
    {
        std::vector<std::string> list;
        for (int i = from; i <= to; ++i)
            list.push_back(prefix + std::to_string(i));
        return list;
    }

    TempProgramFolder folder;
    maccms::Server site;
    CatalogueForm ui;
};

const std::string kDetail = "/api.php/provide/vod/?ac=detail";

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(MacCmsRoute, CategoriesListTheRoutesOwnTypesWithTheirChildren)
{
    // The route's first listing; its type list is read afterwards, on the load's worker.
    ui.catalogue().startLoad(kLatestMode, 1);
    settle();
    EXPECT_EQ(site.typeListTargets(), (std::vector<std::string>{"/api.php/provide/vod/?ac=list"}));
    const std::string stored = readSetting("分类映射", site.host());
    EXPECT_NE(stored.find("|电影=1,6,7,8,9,10,11,12;"), std::string::npos) << stored;
    EXPECT_NE(stored.find(";连续剧=2,13,14,15,16;"), std::string::npos) << stored;

    // 连续剧 is type 2 here, its records filed under 国产剧 and 港台剧: one listing of 43.
    site.server.clearRecords();
    click("连续剧");
    EXPECT_EQ(site.listingTargets(),
              (std::vector<std::string>{
                  kDetail + "&t=2&pg=1&pagesize=20", kDetail + "&t=13&pg=1&pagesize=20",
                  kDetail + "&t=14&pg=1&pagesize=20", kDetail + "&t=15&pg=1&pagesize=20",
                  kDetail + "&t=16&pg=1&pagesize=20"}));
    EXPECT_EQ(ui.rowTitles(), names("国产剧", 1, 20));
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "43");
    EXPECT_EQ(ui.text(ui.form.标签_页数), "3");
    EXPECT_EQ(ui.pagingState(), "0011");
    ui.catalogue().goToPage(PageAction::Next);
    settle();
    EXPECT_EQ(ui.rowTitles(), names("国产剧", 21, 40));
    ui.catalogue().goToPage(PageAction::Last);
    settle();
    EXPECT_EQ(ui.rowTitles(), names("港台剧", 1, 3));
    EXPECT_EQ(ui.pagingState(), "1100");

    // Top types without children, and 电影 with the rows of 动作片 and 喜剧片.
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"综艺", names("综艺", 1, 4)},
        {"动漫", names("动漫", 1, 2)},
        {"电影", names("动作片", 1, 12) + names("喜剧片", 1, 5)},
        {"国产剧", names("国产剧", 1, 20)},
        {"香港剧", names("港台剧", 1, 3)}, // 港台剧 stands in for it
        {"动作片", names("动作片", 1, 12)},
    };
    for (const auto& [label, rows] : cases) {
        click(label);
        EXPECT_EQ(ui.rowTitles(), rows) << label;
        EXPECT_EQ(ui.text(ui.form.标签_当前), "1") << label;
    }
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "12");
    EXPECT_TRUE(site.typeListTargets().empty()) << "the stored mapping serves every click";
}

TEST_F(MacCmsRoute, ALabelTheRouteLacksLoadsNothing)
{
    ui.catalogue().startLoad(kLatestMode, 1);
    settle();
    const std::vector<std::string> before = ui.rowTitles();
    site.server.clearRecords();
    click("纪录片");
    EXPECT_TRUE(site.listingTargets().empty());
    EXPECT_EQ(ui.text(ui.form.透明标签_简介), "该线路没有此分类: 纪录片");
    EXPECT_EQ(ui.logCount("该线路没有此分类: 纪录片"), 1);
    EXPECT_EQ(ui.rowTitles(), before);
    EXPECT_TRUE(ui.form.超级按钮_搜索->isEnabled());
}

TEST_F(MacCmsRoute, TheStoredMappingIsUsedForADayThenReadAgain)
{
    // A first click on a route never used: the type list is read first, on the load's worker.
    click("综艺");
    EXPECT_EQ(site.server.requests().front().target, "/api.php/provide/vod/?ac=list");
    EXPECT_EQ(ui.rowTitles(), names("综艺", 1, 4));

    // A mapping stored within the day is used as it is (here one the admin has changed since).
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    ASSERT_TRUE(writeSetting("分类映射", site.host(), std::to_string(now - 60) + "|综艺=4"));
    site.server.clearRecords();
    click("综艺");
    EXPECT_TRUE(site.typeListTargets().empty());
    EXPECT_EQ(ui.rowTitles(), names("动漫", 1, 2));

    // A day old: read again before the listing.
    ASSERT_TRUE(writeSetting("分类映射", site.host(),
                             std::to_string(now - kMappingLifetimeSeconds - 60) + "|综艺=4"));
    site.server.clearRecords();
    click("综艺");
    EXPECT_EQ(site.typeListTargets().size(), 1u);
    EXPECT_EQ(ui.rowTitles(), names("综艺", 1, 4));
    const std::optional<CategoryMapping> stored =
        parseMappingText(readSetting("分类映射", site.host()));
    ASSERT_TRUE(stored.has_value());
    EXPECT_GE(stored->readAt, now);
}

TEST_F(MacCmsRoute, EveryRowOfThePageTheServerSends)
{
    // 66 records. Asked for 20 a page: 4 pages of 20.
    ui.catalogue().startLoad(kLatestMode, 1);
    settle();
    EXPECT_EQ(ui.rowTitles().size(), 20u);
    EXPECT_EQ(ui.text(ui.form.标签_页数), "4");

    // A site that keeps its own page size of 30: 30 rows, 3 pages, and every record reachable.
    site.ignorePageSizeParameter(true);
    ui.form.标签_当前->setText(QStringLiteral("1"));
    ui.catalogue().startLoad(kLatestMode, 1);
    settle();
    EXPECT_EQ(ui.rowTitles().size(), 30u);
    EXPECT_EQ(ui.text(ui.form.标签_共有记录数), "66");
    EXPECT_EQ(ui.text(ui.form.标签_页数), "3");
    EXPECT_EQ(ui.pagingState(), "0011");
    ui.catalogue().goToPage(PageAction::Last);
    settle();
    EXPECT_EQ(ui.rowTitles(), names("综艺", 1, 4) + names("动漫", 1, 2));
}

TEST_F(MacCmsRoute, BlurbsAndCoversAsTheSiteSendsThem)
{
    maccms::Record joy;
    joy.name = "庆余年第二季";
    joy.type = 13;
    joy.content = "<p>&nbsp;&nbsp;庆余年 第二季 (Joy of Life 2)&ldquo;范闲&rdquo;&     ;归来</p>";
    joy.pic = "//img.example/covers/4.jpg";
    site.addRecord(joy);
    maccms::Record local;
    local.name = "本站封面";
    local.type = 13;
    local.blurb = "Tom&nbsp;and&nbsp;Jerry &amp; 猫和老鼠&nbsp";
    local.pic = "/upload/vod/5.jpg";
    site.addRecord(local);

    ui.form.编辑框_搜索->setText(QStringLiteral("庆余年"));
    ui.catalogue().startSearch();
    settle();
    ASSERT_EQ(ui.rowTitles(), (std::vector<std::string>{"庆余年第二季"}));
    QTreeWidgetItem* row = ui.form.超级列表框_列表->topLevelItem(0);
    EXPECT_EQ(row->text(2).toStdString(), "庆余年第二季(Joy of Life 2)\u201C范闲\u201D归来");
    EXPECT_EQ(row->text(3).toStdString(), "https://img.example/covers/4.jpg");
    EXPECT_EQ(row->text(4).toStdString(), "第01集$https://v.example/1.m3u8");

    ui.form.编辑框_搜索->setText(QStringLiteral("本站"));
    ui.catalogue().startSearch();
    settle();
    row = ui.form.超级列表框_列表->topLevelItem(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(2).toStdString(), "Tom and Jerry &猫和老鼠");
    EXPECT_EQ(row->text(3).toStdString(), "https://" + site.host() + "/upload/vod/5.jpg");
}

TEST_F(MacCmsRoute, AClosedApiSaysSo)
{
    site.close(true);
    playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    ui.catalogue().startLoad(kLatestMode, 1);
    settle();
    const std::string notice = ui.text(ui.form.透明标签_简介);
    EXPECT_NE(notice.find("该线路的接口未开放 (closed)"), std::string::npos) << notice;
    ASSERT_FALSE(ui.logLines().empty());
    EXPECT_EQ(ui.logLines().front(), "剧集列表获取失败: 该线路的接口未开放 (closed)");
    EXPECT_EQ(ui.logCount("剧集列表获取完成"), 0);
    EXPECT_EQ(readSetting("分类映射", site.host()), "") << "no type list was read";

    // A category click on the closed route: the grid's own ids, and the same notice.
    click("连续剧");
    EXPECT_EQ(site.listingTargets().back(), kDetail + "&t=3&pg=1&pagesize=20");
    EXPECT_NE(ui.text(ui.form.透明标签_简介).find("该线路的接口未开放 (closed)"),
              std::string::npos);
}
