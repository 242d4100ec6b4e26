#include "test_catalogue_fixture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPixmap>

using namespace catalogue_testing;

namespace {

// A play text of count episodes per source "第NN集$<prefix>N", sources separated by "$$$".
std::string playText(const std::vector<std::string>& prefixes, int count)
{
    std::string text;
    for (const std::string& prefix : prefixes) {
        if (!text.empty())
            text += "$$$";
        for (int i = 1; i <= count; ++i) {
            if (i > 1)
                text += "#";
            text += "第" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "集$" + prefix +
                    std::to_string(i);
        }
    }
    return text;
}

std::string pngOf(QColor colour)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class EpisodeList : public ::testing::Test {
protected:
    void TearDown() override { ASSERT_TRUE(waitForWorkers(ui)); }

    // Appends a series row (title, type, blurb, cover, play text, history URL, history m3u8) to
    // the listing shown and makes it the row the next openRow() opens.
    int addRow(const std::vector<std::string>& columns)
    {
        std::string CatalogueItem::*const fields[] = {
            &CatalogueItem::title,      &CatalogueItem::typeName, &CatalogueItem::blurb,
            &CatalogueItem::cover,      &CatalogueItem::playText, &CatalogueItem::historyUrl,
            &CatalogueItem::historyM3u8};
        CatalogueItem row;
        for (std::size_t i = 0; i < columns.size() && i < std::size(fields); ++i)
            row.*fields[i] = columns[i];
        rows_.push_back(row);
        ui.showRows(rows_);
        current_ = static_cast<int>(rows_.size()) - 1;
        return current_;
    }

    // A click on the current row.
    void openRow() { ui.series().openRow(current_); }

    std::vector<CatalogueItem> rows_;
    int current_ = -1;

    std::string cell(int row, int column) const
    {
        QTableWidgetItem* item = ui.form.高级表格_剧集->item(row, column);
        return item == nullptr ? std::string("<none>") : item->text().toStdString();
    }

    QColor coverColour() const
    {
        const QPixmap picture = ui.form.图片框_封面->pixmap();
        if (picture.isNull())
            return QColor();
        return picture.toImage().pixelColor(2, 2);
    }

    TempProgramFolder folder; // 证书文件 names the test authority
    TestServer images;
    CatalogueForm ui;
};

} // namespace

TEST_F(EpisodeList, ACatalogueRowLaysOutItsSeries)
{
    images.on("/cover.png", CannedResponse{200, {"Content-Type: image/png"}, pngOf(Qt::red)});
    addRow({"海贼王", "动漫", "草帽一伙", images.url("/cover.png"), playText({"A", "B"}, 12)});
    openRow();

    QTableWidget* grid = ui.form.高级表格_剧集;
    EXPECT_TRUE(grid->isVisible());
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(cell(0, 0), "01");
    EXPECT_EQ(cell(0, 1), "A1");
    EXPECT_EQ(cell(0, 2), "B1");
    EXPECT_EQ(cell(0, 27), "10");
    EXPECT_EQ(cell(1, 0), "11");
    EXPECT_EQ(cell(1, 3), "12");
    EXPECT_EQ(cell(1, 4), "A12");
    EXPECT_EQ(cell(1, 5), "B12");
    EXPECT_EQ(cell(1, 6), "<none>");
    for (int column = 0; column < 30; column += 3)
        EXPECT_EQ(grid->columnWidth(column), 42);
    EXPECT_EQ(grid->item(1, 3)->background().color(), QColor(255, 168, 255));
    EXPECT_EQ(grid->item(1, 3)->textAlignment(), static_cast<int>(Qt::AlignCenter));
    EXPECT_TRUE(grid->wordWrap());

    EXPECT_EQ(ui.text(ui.form.透明标签_标题), "海贼王");
    EXPECT_EQ(ui.text(ui.form.透明标签_简介), "草帽一伙");
    EXPECT_TRUE(ui.form.超级按钮_下载->isVisible());
    EXPECT_EQ(ui.logCount("获取 海贼王 详细完成"), 1);
    EXPECT_EQ(episodeFields().size(), 48u);
    EXPECT_EQ(episodeFields()[24], "01");
    EXPECT_EQ(episodeFields()[25], "B1");

    ASSERT_TRUE(waitForWorkers(ui));
    EXPECT_EQ(coverColour(), QColor(Qt::red));
    EXPECT_EQ(images.count("/cover.png"), 1);
}

TEST_F(EpisodeList, RowsThatOpenNothing)
{
    int historyCalls = 0;
    std::vector<std::string> resumed;
    SeriesBrowser::Events events;
    events.historyRowOpened = [&](const CatalogueItem& row) {
        ++historyCalls;
        resumed = {row.title, row.historyUrl, row.historyM3u8};
    };
    ui.setSeriesEvents(events);

    ui.form.透明标签_标题->setText(QStringLiteral("before"));
    publishOpenSeries({{"keep"}, {}});
    struct Case {
        std::string name;
        std::vector<std::string> columns;
        int historyCalls;
    };
    const Case cases[] = {
        {"empty row", {"", "", "", "", ""}, 0},
        {"row without a type", {"剧", "", "", "", playText({"A"}, 2)}, 0},
        {"已下架 row", {"剧", "已下架", "", "", ""}, 0},
        {"history row without an address", {"剧", "历史", "", "", "", "", "m"}, 0},
        {"history row", {"剧", "历史", "", "", "", "https://v/5.m3u8", "https://v/5b.m3u8"}, 1},
    };
    for (const Case& c : cases) {
        historyCalls = 0;
        addRow(c.columns);
        openRow();
        EXPECT_EQ(historyCalls, c.historyCalls) << c.name;
        EXPECT_EQ(ui.text(ui.form.透明标签_标题), "before") << c.name;
        EXPECT_FALSE(ui.form.超级按钮_下载->isVisible()) << c.name;
        EXPECT_EQ(episodeFields(), (TextList{"keep"})) << c.name;
    }
    EXPECT_EQ(resumed, (std::vector<std::string>{"剧", "https://v/5.m3u8", "https://v/5b.m3u8"}));
    current_ = -1;
    openRow();
    EXPECT_TRUE(ui.logLines().empty());
    EXPECT_EQ(ui.series().runningCoverFetches(), 0);
}

TEST_F(EpisodeList, APendingResumeMayEndTheHandler)
{
    for (const bool endsEarly : {false, true}) {
        ui.form.编辑框_状态->clear();
        int resumes = 0;
        SeriesBrowser::Events events;
        events.seriesShown = [&](const std::string&) {
            ++resumes;
            return endsEarly;
        };
        ui.setSeriesEvents(events);
        addRow({"剧", "动漫", "", "", playText({"A"}, 1)});
        openRow();
        EXPECT_EQ(resumes, 1);
        EXPECT_EQ(ui.logCount("获取 剧 详细完成"), endsEarly ? 0 : 1);
        EXPECT_EQ(ui.text(ui.form.透明标签_标题), "剧"); // laid out before the resume
    }
}

TEST_F(EpisodeList, APlayTextWithoutSeparatorsStillOpensTheSeries)
{
    addRow({"单集", "电影", "", "", "noseparators"});
    openRow();
    EXPECT_EQ(ui.form.高级表格_剧集->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "1");
    EXPECT_EQ(cell(0, 1), "noseparators");
    EXPECT_EQ(ui.logCount("获取 单集 详细完成"), 1);
    EXPECT_TRUE(ui.form.超级按钮_下载->isVisible());
}

TEST_F(EpisodeList, TheLatestCoverWinsAndAFailedOneClearsThePicture)
{
    images.on("/slow.png",
              CannedResponse{200, {}, pngOf(Qt::red)}.after(std::chrono::milliseconds(400)));
    images.on("/fast.png", CannedResponse{200, {}, pngOf(Qt::blue)});
    images.on("/notapicture", CannedResponse{200, {}, "<html></html>"});
    addRow({"甲", "动漫", "", images.url("/slow.png"), playText({"A"}, 1)});
    openRow();
    addRow({"乙", "动漫", "", images.url("/fast.png"), playText({"B"}, 1)});
    openRow();
    ASSERT_TRUE(waitForWorkers(ui));
    EXPECT_EQ(coverColour(), QColor(Qt::blue));

    for (const std::string path : {"/missing.png", "/notapicture"}) {
        ui.form.图片框_封面->setPixmap(QPixmap::fromImage(QImage(4, 4, QImage::Format_RGB32)));
        addRow({"丙", "动漫", "", images.url(path), playText({"C"}, 1)});
        openRow();
        ASSERT_TRUE(waitForWorkers(ui));
        EXPECT_TRUE(ui.form.图片框_封面->pixmap().isNull()) << path;
    }
    EXPECT_EQ(ui.logCount("获取 丙 详细完成"), 2);
}

// A cover is fetched over http(s) only, and over https only from a server whose certificate
// verifies: any other address makes no connection and shows nothing; a refused certificate is
// logged with its host and reason.
TEST_F(EpisodeList, ACoverComesOnlyFromAWebServerThatVerifies)
{
    TestServer listener; // a plain TCP port a gopher address would write its bytes to
    TestServer tls(TestServer::Scheme::Https);
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    for (TestServer* s : {&tls, &wrong})
        s->on("/cover.png", CannedResponse{200, {"Content-Type: image/png"}, pngOf(Qt::green)});
    QTemporaryDir dir;
    const std::string localPng = dir.path().toStdString() + "/cover.png";
    {
        QFile file(QString::fromStdString(localPng));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const std::string bytes = pngOf(Qt::green);
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    const std::string ca = TestServer::certificateFile();
    struct Case {
        const char* what;
        std::string cover;
        std::string caFile;
        bool shown;
        std::string logged; // the start of a log line it leaves; empty: none
    };
    const Case cases[] = {
        {"https, trusted authority", tls.url("/cover.png"), ca, true, ""},
        {"https, authority not trusted", tls.url("/cover.png"), "", false,
         "证书无效: 127.0.0.1 (SSL certificate problem"},
        {"https, wrong name", wrong.url("/cover.png"), ca, false,
         "证书无效: 127.0.0.1 (SSL: no alternative certificate subject name"},
        {"gopher to a local port",
         "gopher://" + listener.hostPort() + "/_GET%20/%20HTTP/1.0%0D%0A%0D%0A", ca, false, ""},
        {"a local file", "file://" + localPng, ca, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(writeSetting("配置项", "证书文件", c.caFile));
        ui.form.编辑框_状态->clear();
        ui.form.图片框_封面->setPixmap(QPixmap::fromImage(QImage(4, 4, QImage::Format_RGB32)));
        addRow({"封面", "动漫", "", c.cover, playText({"A"}, 1)});
        openRow();
        ASSERT_TRUE(waitForWorkers(ui));
        EXPECT_EQ(coverColour(), c.shown ? QColor(Qt::green) : QColor());
        int certificateLines = 0;
        for (const std::string& line : ui.logLines())
            if (line.rfind("证书无效: ", 0) == 0) {
                ++certificateLines;
                EXPECT_EQ(line.rfind(c.logged, 0), 0u) << line;
            }
        EXPECT_EQ(certificateLines, c.logged.empty() ? 0 : 1);
    }
    EXPECT_EQ(listener.connectionCount(), 0);
    EXPECT_EQ(wrong.requests().size(), 0u);
    EXPECT_EQ(tls.count("/cover.png"), 1);
}

TEST_F(EpisodeList, TheLastRowOpenedHoldsTheGrid)
{
    // A long series, then a short one: the grid keeps nothing of the long one.
    addRow({"长剧", "动漫", "", "", playText({"L"}, 600)});
    openRow();
    EXPECT_EQ(ui.form.高级表格_剧集->rowCount(), 60);
    EXPECT_EQ(cell(59, 27), "600");
    addRow({"短剧", "动漫", "", "", playText({"S"}, 3)});
    openRow();
    EXPECT_EQ(ui.text(ui.form.透明标签_标题), "短剧");
    EXPECT_EQ(ui.form.高级表格_剧集->rowCount(), 1);
    EXPECT_EQ(cell(0, 1), "S1");
    EXPECT_EQ(cell(0, 9), "<none>");
    EXPECT_TRUE(ui.form.高级表格_剧集->isVisible());
    EXPECT_EQ(ui.logCount("获取 短剧 详细完成"), 1);
    EXPECT_EQ(openSeries()->episodes.size(), 3u);
    EXPECT_EQ(ui.series().episodes().size(), 3u);
}

TEST_F(EpisodeList, ThePlayListIsBuiltOnAWorkerWhileTheGuiThreadReadsIt)
{
    addRow({"剧", "动漫", "", "", playText({"A", "B"}, 500)});
    openRow();
    publishPlayList({"old", "old-url", "old-m3u8"});
    startPlayListBuild(ui.series().title());
    // The GUI thread keeps reading while the worker builds and publishes.
    while (runningPlayListBuilds() > 0) {
        const std::shared_ptr<const TextList> list = playList();
        ASSERT_TRUE(list->size() == 3 || list->size() == 1500u) << list->size();
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitForWorkers(ui));
    const std::shared_ptr<const TextList> list = playList();
    ASSERT_EQ(list->size(), 1500u);
    EXPECT_EQ((*list)[0], "01");
    EXPECT_EQ((*list)[1], "A1");
    EXPECT_EQ((*list)[2], "B1");
    EXPECT_EQ((*list)[1497], "500");
    EXPECT_EQ((*list)[1499], "B500");
    EXPECT_EQ(ui.logCount("获取 剧 播放列表成功"), 1);
}
