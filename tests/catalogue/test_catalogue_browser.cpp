// The catalogue's listing against a view of values, with no window at all: what a load shows,
// which request wins, and the events playback takes. The main window's own tests (tests/ui) show
// the same through its widgets.

#include "app/paths.h"
#include "app/settings_store.h"
#include "catalogue/catalogue_browsing.h"
#include "catalogue/catalogue_pages.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <string>
#include <vector>

namespace {

namespace cp = catalogue_pages;

// Records what the catalogue shows; the inputs are plain fields a test sets.
class RecordingView : public CatalogueView {
public:
    void showSeriesRows(const std::vector<CatalogueItem>& shown) override
    {
        rows.clear();
        for (const CatalogueItem& row : shown)
            rows.push_back(row.title);
        ++rowFills;
    }
    void showLoadingHint(const std::string& text) override { hint = text; }
    void hideLoadingHint() override { hint = "<hidden>"; }
    void setBlurb(const std::string& text) override { blurb = text; }
    void setRecordCounts(const std::string& t, const std::string& p) override
    {
        total = t;
        pages = p;
    }
    std::string currentPageText() override { return page; }
    void setCurrentPageText(const std::string& text) override { page = text; }
    void setPagingEnabled(bool first, bool previous, bool next, bool last) override
    {
        paging = std::string() + (first ? '1' : '0') + (previous ? '1' : '0') + (next ? '1' : '0') +
                 (last ? '1' : '0');
    }
    void setSearchEnabled(bool enabled) override { searchEnabled = enabled; }
    std::string searchText() override { return keyword; }
    void setSearchText(const std::string& text) override { keyword = text; }
    void setRouteEntries(const std::vector<std::string>& hosts) override { routes = hosts; }
    int selectedRoute() override { return route; }
    void selectRoute(int index) override { route = index; }
    void openSponsorWindow() override {}

    std::vector<std::string> rows;
    int rowFills = 0;
    std::string hint, blurb, total, pages, page = "1", paging, keyword;
    bool searchEnabled = false;
    std::vector<std::string> routes;
    int route = -1;
};

class CatalogueBrowserTest : public ::testing::Test {
protected:
    CatalogueBrowserTest()
    {
        setProgramFolderForTesting(dir.path().toStdString());
        ensureDataFolder();
        writeSetting("配置项", "证书文件", TestServer::certificateFile());
        writeSetting("配置项", "线路列表", server.hostPort());
        // Page 2 answers late; every page lists items named after its keyword and page.
        server.onHandler("/api.php/provide/vod/", [](const RecordedRequest& r, int) {
            const QUrlQuery query(QString::fromStdString(r.target.substr(r.target.find('?') + 1)));
            const int pg = query.queryItemValue(QStringLiteral("pg")).toInt();
            const std::string wd =
                query.queryItemValue(QStringLiteral("wd"), QUrl::FullyDecoded).toStdString();
            CannedResponse answer{
                200,
                {"Content-Type: application/json"},
                cp::page(45, 3, cp::items(wd + "p" + std::to_string(pg) + "-", 2))};
            return pg == 2 ? answer.after(std::chrono::milliseconds(600)) : answer;
        });
        catalogue.fillRouteBox();
        catalogue.selectRouteEntry(0);
    }
    ~CatalogueBrowserTest() override
    {
        catalogue.stop();
        QCoreApplication::processEvents();
        setProgramFolderForTesting("");
    }

    bool settle()
    {
        const bool idle = QTest::qWaitFor([this] { return catalogue.runningLoads() == 0; }, 20000);
        QCoreApplication::processEvents();
        return idle;
    }

    QTemporaryDir dir;
    TestServer server{TestServer::Scheme::Https};
    RecordingView view;
    int switches = 0;
    std::vector<bool> ended;
    bool switchWaiting = false;
    CatalogueBrowser catalogue{view, CatalogueBrowser::Events{[this] {
                                                                  ++switches;
                                                                  switchWaiting = true;
                                                              },
                                                              [this](bool listed) {
                                                                  ended.push_back(listed);
                                                                  const bool was = switchWaiting;
                                                                  switchWaiting = false;
                                                                  return was;
                                                              }}};
};

TEST_F(CatalogueBrowserTest, ALoadShowsItsRowsAsValuesAndTheKeywordIsTakenAtTheStart)
{
    view.keyword = "甲";
    catalogue.startSearch();
    view.keyword = "乙"; // typed after the click: the load in flight keeps its keyword
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.rows, (std::vector<std::string>{"甲p1-1", "甲p1-2"}));
    ASSERT_NE(catalogue.row(1), nullptr);
    EXPECT_EQ(catalogue.row(1)->title, "甲p1-2");
    EXPECT_FALSE(catalogue.row(1)->playText.empty());
    EXPECT_EQ(catalogue.row(2), nullptr);
    EXPECT_EQ(catalogue.currentMode(), kSearchMode);
    EXPECT_EQ(view.total, "45");
    EXPECT_EQ(view.pages, "3");
    EXPECT_EQ(view.hint, "<hidden>");
    EXPECT_EQ(view.paging, "0011");
    EXPECT_TRUE(view.searchEnabled);
    EXPECT_EQ(ended, (std::vector<bool>{true}));
}

TEST_F(CatalogueBrowserTest, AListingShownMeanwhileWinsOverTheLateLoad)
{
    catalogue.startLoad(kLatestMode, 2); // page 2 answers late
    ASSERT_TRUE(QTest::qWaitFor([this] { return !server.requests().empty(); }, 20000));
    CatalogueItem entry;
    entry.title = "历史剧";
    entry.typeName = "03集";
    entry.historyUrl = "https://v.example/3.m3u8";
    catalogue.showListing({entry}, "1", "1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.rows, (std::vector<std::string>{"历史剧"}));
    EXPECT_EQ(view.rowFills, 1);
    EXPECT_EQ(catalogue.row(0)->historyUrl, "https://v.example/3.m3u8");
    EXPECT_EQ(view.paging, "0000");
    EXPECT_TRUE(ended.empty()) << "the superseded load ended nothing";
}

TEST_F(CatalogueBrowserTest, ARouteSwitchIsAnEventAndItsListingGreetsTheNewRoute)
{
    catalogue.switchRoute();
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(view.blurb, "请稍等 ! 线路正在切换中...");
    EXPECT_EQ(readSetting("配置项", "线路"), "0");
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.blurb, "恭喜 ! 线路切换成功 !  欢迎使用");
    EXPECT_EQ(ended, (std::vector<bool>{true}));

    // Without a route the load fails, and the failure still ends what waited for it.
    view.route = -1;
    catalogue.switchRoute();
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.blurb, "剧集列表加载失败\r\n\r\n未选择线路");
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(ended, (std::vector<bool>{true, false}));
    EXPECT_FALSE(switchWaiting);
}

} // namespace
