// A whole download through the real download window from the bundled demo server: a two-source
// series fetched from its catalogue, opened the way a click on its row opens it, two episodes
// ticked and run, and each merged .mp4 checked with libavformat against its playlist.
#include "support/demo_process.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "app/paths.h"
#include "app/settings_store.h"
#include "download/download_run.h"
#include "download/download_view.h"
#include "playback/episode_list.h"
#include "ui/download_window.h"
#include "ui/main_form.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

using json = nlohmann::json;

httplib::Result get(const std::string& base, const std::string& target)
{
    httplib::Client client(base);
    client.set_ca_cert_path(kDemoCertificate);
    client.set_read_timeout(10, 0);
    return client.Get(target.c_str());
}

// The GET body of a whole address such as "http://127.0.0.1:port/media/5/1/index.m3u8", or "".
std::string fetchUrl(const std::string& url)
{
    const auto slash = url.find('/', url.find("//") + 2);
    auto res = get(url.substr(0, slash), url.substr(slash));
    return res && res->status == 200 ? res->body : std::string();
}

// The sum of the EXTINF durations of the media playlist an episode's master playlist leads to
// (its first variant), or -1 when it cannot be read.
double playlistSeconds(const std::string& masterUrl)
{
    const std::string origin = masterUrl.substr(0, masterUrl.find('/', masterUrl.find("//") + 2));
    std::string playlist = fetchUrl(masterUrl);
    if (playlist.find("#EXT-X-STREAM-INF") != std::string::npos) {
        std::istringstream in(playlist);
        std::string variant;
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] == '/') {
                variant = line;
                break;
            }
        if (variant.empty())
            return -1;
        playlist = fetchUrl(origin + variant);
    }
    std::istringstream in(playlist);
    double total = 0;
    int entries = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("#EXTINF:", 0) == 0) {
            total += std::stod(line.substr(8));
            ++entries;
        }
    return entries > 0 ? total : -1;
}

struct Probe {
    bool opened = false;
    int video = 0;
    int audio = 0;
    double seconds = 0;
};

Probe probe(const std::string& path)
{
    Probe p;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0)
        return p;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        p.opened = true;
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVMediaType type = ctx->streams[i]->codecpar->codec_type;
            p.video += type == AVMEDIA_TYPE_VIDEO;
            p.audio += type == AVMEDIA_TYPE_AUDIO;
        }
        if (ctx->duration != AV_NOPTS_VALUE)
            p.seconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
    }
    avformat_close_input(&ctx);
    return p;
}

TEST(DownloadDemoEndToEnd, TwoTickedEpisodesOfATwoSourceSeriesBecomeTwoPlayableFiles)
{
    if (!QFile::exists(kDemoServer) ||
        !QFile::exists(kDemoRoot + QStringLiteral("/media/clips/c1/index.m3u8")) ||
        !QFile::exists(kDemoRoot + QStringLiteral("/media/tls/server.crt")))
        GTEST_SKIP() << "demo server or media missing (tools/demo/prepare.sh)";
    DemoProcess demo;
    ASSERT_TRUE(demo.waitListening()) << demo.errors().toStdString();
    const std::string httpsBase = "https://127.0.0.1:" + std::to_string(demo.httpsPort);
    const std::string httpBase = "http://127.0.0.1:" + std::to_string(demo.httpPort);

    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    setProgramFolderForTesting(root.path().toStdString());
    ASSERT_TRUE(ensureDataFolder());
    ASSERT_TRUE(ensureSettingsFile());
    ASSERT_TRUE(writeSetting("配置项", "证书文件", kDemoCertificate));
    ASSERT_TRUE(writeSetting("配置项", "下载间隔", "20"));
    ASSERT_TRUE(writeSetting("配置项", "删TS", "真"));

    // The first two-source series of the catalogue's latest listing.
    auto listing = get(httpsBase, "/api.php/provide/vod/?ac=detail&t=3&pg=1");
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->status, 200);
    const json body = json::parse(listing->body, nullptr, false);
    ASSERT_TRUE(body.is_object());
    json series;
    for (const json& item : body["list"])
        if (item["vod_play_url"].get<std::string>().find("$$$") != std::string::npos) {
            series = item;
            break;
        }
    ASSERT_TRUE(series.is_object()) << "no two-source series in the listing";
    const std::string title = series["vod_name"];
    const std::string playText = series["vod_play_url"];
    const std::string playFrom = series["vod_play_from"];
    SCOPED_TRACE(title);

    // What a click on the series row publishes.
    OpenSeries open;
    open.episodeFields = splitPlayText(playText);
    open.episodes = selectEpisodes(playFrom, playText);
    ASSERT_GE(open.episodes.size(), 2u);
    const std::vector<std::string> masters = {open.episodes[0].m3u8, open.episodes[1].m3u8};
    for (const std::string& m : masters)
        ASSERT_EQ(m.rfind(httpBase + "/media/", 0), 0u) << m;
    publishOpenSeries(std::move(open));

    QWidget mainWindow;
    QLabel titleLabel(QString::fromStdString(title), &mainWindow);
    MainForm form;
    form.window = &mainWindow;
    form.透明标签_标题 = &titleLabel;
    openDownloadWindow(&mainWindow, title);
    QPointer<DownloadWindow> window = mainWindow.findChild<DownloadWindow*>();
    ASSERT_TRUE(window);
    QTreeWidget* list = window->超级列表框_剧列表;
    // The fill thread adds the rows, then ticks all and inverts; ticks set before its last line
    // would be undone.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return window->编辑框_状态->toPlainText().contains(QStringLiteral("剧集地址获取完成"));
        },
        10000));
    // The HLS source's episodes, one row each.
    ASSERT_EQ(list->topLevelItemCount(), static_cast<int>(openSeries()->episodes.size()));
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(list->topLevelItem(r)->text(kColumnAddress).toStdString(),
                  masters[static_cast<size_t>(r)]);
        list->topLevelItem(r)->setCheckState(0, Qt::Checked);
    }

    window->超级按钮_解析下载->click();
    ASSERT_TRUE(downloadRunActive());
    ASSERT_TRUE(QTest::qWaitFor([] { return !downloadRunActive(); }, 240000));
    QCoreApplication::processEvents(); // the run's last queued cell writes
    const std::string logs = "status log:\n" + window->编辑框_状态->toPlainText().toStdString() +
                             "\nmerge log:\n" + window->编辑框_转换->toPlainText().toStdString();
    for (int r = 0; r < 2; ++r)
        ASSERT_EQ(list->topLevelItem(r)->text(kColumnStatus).toStdString(), "完成")
            << "row " << r << "\n"
            << logs;
    EXPECT_EQ(list->topLevelItem(2)->text(kColumnStatus).toStdString(), "待命");

    const std::string folder = downloadRootFolder() + "/" + seriesFolder();
    EXPECT_EQ(folder.rfind(root.path().toStdString(), 0), 0u)
        << "downloads stay in the test's folder";
    for (int episode = 1; episode <= 2; ++episode) {
        SCOPED_TRACE(episode);
        const double expected = playlistSeconds(masters[static_cast<size_t>(episode - 1)]);
        ASSERT_GT(expected, 0);
        const Probe p = probe(folder + "/" + std::to_string(episode) + ".mp4");
        ASSERT_TRUE(p.opened);
        EXPECT_EQ(p.video, 1);
        EXPECT_EQ(p.audio, 1);
        EXPECT_NEAR(p.seconds, expected, 0.5);
    }

    window->close();
    EXPECT_TRUE(waitForDownloadRun(20000));
    publishOpenSeries(OpenSeries{});
    setProgramFolderForTesting("");
}

} // namespace
