// A series whose play sources are of several kinds, from the catalogue server's answer to the
// main window's grid, the download window's list and the player: the first HLS source is played
// and downloaded, each episode is listed once, and an episode the HLS source lacks says so.

#include "test_player_window_fixture.h"

#include "catalogue/catalogue_client.h"
#include "catalogue/catalogue_pages.h"
#include "playback/episode_list.h"
#include "playback/player_endpoints.h"
#include "support/test_server.h"
#include "ui/download_window.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QTableWidget>
#include <QTreeWidget>

namespace {

using catalogue_pages::Json;

std::string twoDigits(int n)
{
    return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string lz(int n)
{
    return "https://v.lz.example/20240312/" + std::to_string(4100 + n) + "_a1/index.m3u8";
}
std::string ff(int n)
{
    return "https://vip.ff.example/20240312/" + std::to_string(900 + n) + "_b2/index.m3u8";
}
std::string qq(int n)
{
    return "https://v.qq.com/x/cover/mzc002006n62s11/e00" + twoDigits(n) + ".html";
}

std::string source(int count, std::string (*address)(int))
{
    std::string text;
    for (int n = 1; n <= count; ++n)
        text += (n > 1 ? "#" : "") + ("第" + twoDigits(n) + "集$") + address(n);
    return text;
}

// One item of an ac=detail answer, with the fields the API documents for a series' play data.
Json series(int id, const std::string& name, const std::string& cover,
            const std::vector<std::string>& from, const std::vector<std::string>& sources)
{
    std::string playFrom, playServer, playNote, playUrl;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const std::string sep = i > 0 ? "$$$" : "";
        playFrom += sep + from[i];
        playServer += sep + "no";
        playNote += sep;
        playUrl += sep + sources[i];
    }
    return Json{{"vod_id", id},
                {"type_id", 13},
                {"type_name", "国产剧"},
                {"vod_name", name},
                {"vod_pic", cover},
                {"vod_remarks", "更新至" + std::to_string(sources.size()) + "集"},
                {"vod_blurb", "　一段简介"},
                {"vod_play_from", playFrom},
                {"vod_play_server", playServer},
                {"vod_play_note", playNote},
                {"vod_play_url", playUrl}};
}

// The answer as such a server writes it: slashes escaped.
std::string escapedSlashes(std::string text)
{
    std::string out;
    for (char c : text) {
        if (c == '/')
            out += '\\';
        out += c;
    }
    return out;
}

class SeriesSources : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        ASSERT_TRUE(writeSetting("配置项", "证书文件", TestServer::certificateFile()));
        const std::string body =
            catalogue_pages::page(2, 1,
                                  {series(301, "长风渡", catalogue.url("/upload/vod/301.jpg"),
                                          {"lzm3u8", "ffm3u8"}, {source(29, lz), source(29, ff)}),
                                   series(302, "云之羽", catalogue.url("/upload/vod/302.jpg"),
                                          {"qq", "lzm3u8"}, {source(30, qq), source(27, lz)})});
        catalogue.on("/api.php/provide/vod/",
                     CannedResponse{200,
                                    {"Content-Type: application/json; charset=utf-8"},
                                    escapedSlashes(body)});
        MainForm& form = main->form();
        ASSERT_TRUE(writeSetting("配置项", "线路列表", catalogue.hostPort()));
        main->catalogue().fillRouteBox();
        main->catalogue().selectRouteEntry(0);
        main->catalogue().startLoad(kLatestMode, 1);
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return main->catalogue().runningLoads() == 0; }, 20000));
        QCoreApplication::processEvents();
        ASSERT_EQ(form.超级列表框_列表->topLevelItemCount(), 2);
    }
    void TearDown() override
    {
        if (download)
            delete download.data();
        EXPECT_TRUE(
            QTest::qWaitFor([this] { return main->series().runningCoverFetches() == 0; }, 20000));
        publishOpenSeries(OpenSeries{});
        PlayerFixture::TearDown();
    }

    void openRow(int row) { main->series().openRow(row); }
    std::string cell(int row, int column) const
    {
        const QTableWidgetItem* item = main->form().高级表格_剧集->item(row, column);
        return item ? item->text().toStdString() : "<none>";
    }
    // 下载此剧: the download window of the open series, once its list is filled.
    QTreeWidget* openDownloads()
    {
        openDownloadWindow(main.get(), main->series().title());
        download = main->form().window->findChild<DownloadWindow*>();
        EXPECT_TRUE(download);
        if (!download)
            return nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [this] {
                return download->编辑框_状态->toPlainText().contains(
                    QStringLiteral("剧集地址获取完成"));
            },
            10000));
        return download->超级列表框_剧列表;
    }
    void doubleClick(int row, int column)
    {
        main->series().playCell(row, column);
        waitForSaves();
    }

    TestServer catalogue{TestServer::Scheme::Https};
    QPointer<DownloadWindow> download;
};

} // namespace

TEST_F(SeriesSources, TwoHlsSourcesOf29EpisodesGive29DownloadRowsAndTheFirstPlays)
{
    openRow(0);
    QTableWidget* grid = main->form().高级表格_剧集;
    ASSERT_EQ(grid->rowCount(), 3); // 10 + 10 + 9 episodes
    EXPECT_EQ(cell(0, 0), "01");
    EXPECT_EQ(cell(0, 1), lz(1));
    EXPECT_EQ(cell(0, 2), lz(1));
    EXPECT_EQ(cell(2, 24), "29");
    EXPECT_EQ(cell(2, 25), lz(29));
    EXPECT_EQ(cell(2, 27), "<none>");

    QTreeWidget* list = openDownloads();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->topLevelItemCount(), 29);
    for (int r = 0; r < 29; ++r) {
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnEpisode).toStdString(), std::to_string(r + 1));
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnAddress).toStdString(), lz(r + 1));
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnStatus).toStdString(), "待命");
    }

    doubleClick(0, 3);
    EXPECT_EQ(openedOn, (std::vector<std::string>{playerPageEndpoint() + lz(2)}));
}

TEST_F(SeriesSources, AnOfficialSiteFirstIsNeverPlayedAndEpisodesTheHlsSourceLacksSaySo)
{
    openRow(1);
    QTableWidget* grid = main->form().高级表格_剧集;
    // The 30 episodes the first source lists, 28 to 30 without addresses.
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(cell(0, 1), lz(1));
    EXPECT_EQ(cell(2, 18), "27");
    EXPECT_EQ(cell(2, 19), lz(27));
    EXPECT_EQ(cell(2, 21), "28");
    EXPECT_EQ(cell(2, 22), "");
    EXPECT_EQ(cell(2, 27), "30");
    EXPECT_EQ(grid->item(2, 27)->background().color(), QColor(255, 168, 255));

    QTreeWidget* list = openDownloads();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->topLevelItemCount(), 30);
    EXPECT_EQ(list->topLevelItem(26)->text(kColumnAddress).toStdString(), lz(27));
    EXPECT_EQ(list->topLevelItem(26)->text(kColumnStatus).toStdString(), "待命");
    for (int r = 27; r < 30; ++r) {
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnEpisode).toStdString(), std::to_string(r + 1));
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnAddress).toStdString(), "");
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnStatus).toStdString(), "无m3u8地址");
    }

    // Episode 1 plays from the HLS source through the player page, not the official page.
    doubleClick(0, 0);
    EXPECT_EQ(openedOn, (std::vector<std::string>{playerPageEndpoint() + lz(1)}));
    EXPECT_EQ(playbackState.episode().currentM3u8, lz(1));
    // Episode 28 has nothing to play: nothing is loaded or recorded, and the log says why.
    browser->calls.clear();
    doubleClick(2, 21);
    EXPECT_TRUE(browser->pageCalls().empty());
    EXPECT_EQ(playbackState.episode().currentLabel, "01");
    EXPECT_NE(log().find("第 28 集没有可播放的地址"), std::string::npos) << log();

    // The play list holds the 27 playable episodes: after the 27th nothing follows.
    startPlayListBuild(main->series().title());
    waitForSaves();
    ASSERT_EQ(playList()->size(), 27u * 3);
    EXPECT_EQ((*playList())[26 * 3 + 1], lz(27));
}
