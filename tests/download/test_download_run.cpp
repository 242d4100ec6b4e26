// The download run against loopback HLS servers serving ffmpeg-made media: the row's course, the
// logs and cells, master and media playlists, URI forms, encryption, byte ranges, initialisation
// sections, failing and stalling segments, abort, resume and the pace settings.
#include "download/download_run.h"

#include "app/paths.h"
#include "app/settings_store.h"
#include "download/segment_scheduler.h"
#include "download_fixtures.h"
#include "util/gui_call.h"
#include "util/utf8_path.h"

#include <thread>

using namespace dltest;
using namespace std::chrono_literals;

namespace {

class RunTest : public DownloadRunTest {
protected:
    void SetUp() override
    {
        settings.pace.intervalMs = 10;
        settings.retryPauseMs = 50;
        settings.stallTimeoutMs = 600;
        settings.connectTimeoutMs = 2000;
        DownloadRunTest::SetUp();
    }

    fs::path episodeFolder(int e) const { return u8(seriesPath() + "/" + std::to_string(e)); }

    void expectWholeMp4(int e, double seconds = 4.0)
    {
        MediaInfo info = probeMedia(mp4(e));
        ASSERT_TRUE(info.opened) << mp4(e);
        EXPECT_NE(info.format.find("mp4"), std::string::npos);
        EXPECT_EQ(info.video, 1);
        EXPECT_EQ(info.audio, 1);
        EXPECT_NEAR(info.duration, seconds, 0.5);
    }
    void expectNoPartFiles(int e)
    {
        std::error_code ec;
        for (const auto& f : fs::directory_iterator(episodeFolder(e), ec))
            EXPECT_NE(f.path().extension(), ".part") << f.path();
    }
};

TEST_F(RunTest, AMediaPlaylistGoesFromListedToFinishedFile)
{
    fs::path fixture = hlsFixture("ts", 4);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/v");
    const std::string url = server.url("/v/index.m3u8");
    view->addRow(url, true);
    view->cookie = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\t42";
    run();

    auto row = view->row(0);
    EXPECT_EQ(row.statuses, (std::vector<std::string>{"解析中", "待合并", "合并中", "完成"}));
    EXPECT_EQ(row.cells[kColumnSegments], "4");
    EXPECT_EQ(row.cells[kColumnSubmitted], "4");
    EXPECT_EQ(row.cells[kColumnDownloaded], "4");
    EXPECT_FALSE(row.checked);
    EXPECT_EQ(view->address, "第 1 集 " + url);
    expectWholeMp4(1);
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(readFile(episodeFolder(1) / (std::to_string(i) + ".ts")),
                  readFile(fixture / ("seg" + std::to_string(i - 1) + ".ts")));
    expectNoPartFiles(1);

    // A media playlist given directly is fetched once, with GET, the browser's cookies and the
    // run's user agent.
    auto lists = server.requestsFor("/v/index.m3u8");
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].method, "GET");
    EXPECT_EQ(lists[0].header("User-Agent").value_or(""), kUserAgent);
    EXPECT_EQ(lists[0].header("Cookie").value_or(""), "sid=42");

    auto status = view->log(kStatusLog);
    std::vector<std::string> expected = {"创建下载目录",
                                         "创建目录: 测试剧",
                                         "正在执行第 1 集",
                                         "创建目录 /下载目录/测试剧/1",
                                         "解析" + url,
                                         "解析完成,共有 4 条TS",
                                         "提交下载_1 seg0.ts",
                                         "提交下载_2 seg1.ts",
                                         "提交下载_3 seg2.ts",
                                         "提交下载_4 seg3.ts",
                                         "准备执行 TS 合并 MP4",
                                         "执行下一条解析任务",
                                         "全部执行完成,祝使用愉快"};
    EXPECT_EQ(status, expected);
    EXPECT_EQ(view->logCountPrefix(kMergeLog, "已下载 "), 4);
    EXPECT_TRUE(view->logHas(kMergeLog, "第 1 集合并完成"));
    EXPECT_EQ(view->progressMax[2], 4);
    EXPECT_EQ(view->progressValue[2], 4);
    ASSERT_FALSE(view->controls.empty());
    EXPECT_TRUE(view->controls.back());
    EXPECT_EQ(view->selected, std::vector<int>{0});
}

TEST_F(RunTest, AMasterPlaylistLeadsToItsBestVariantWhateverTheUriForm)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/v");
    server.on("/m/master.m3u8",
              CannedResponse{200,
                             {},
                             "#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=500000\r\nlow/index.m3u8\r\n"
                             "#EXT-X-STREAM-INF:BANDWIDTH=3000000\r\nhigh/index.m3u8\r\n"
                             "#EXT-X-STREAM-INF:BANDWIDTH=1000000\r\nmid/index.m3u8\r\n"});
    // CR LF lines; relative, absolute-path and full addresses; no line feed after the last line.
    std::string media =
        "#EXTM3U\r\n#EXT-X-TARGETDURATION:1\r\n#EXTINF:1,\r\n../../v/seg0.ts\r\n#EXTINF:1,\r\n"
        "/v/seg1.ts\r\n#EXTINF:1,\r\n" +
        server.url("/v/seg2.ts") + "\r\n#EXTINF:1,\r\n../../v/seg3.ts";
    server.on("/m/high/index.m3u8", CannedResponse{200, {}, media});
    view->addRow(server.url("/m/master.m3u8"), true);
    run();

    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    EXPECT_EQ(server.count("/m/high/index.m3u8"), 1);
    EXPECT_EQ(server.count("/m/low/index.m3u8"), 0);
    EXPECT_EQ(server.count("/m/mid/index.m3u8"), 0);
    EXPECT_TRUE(view->logHas(kStatusLog, "解析" + server.url("/m/high/index.m3u8")));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server.count("/v/seg" + std::to_string(i) + ".ts"), 1);
    expectWholeMp4(1);
}

TEST_F(RunTest, EncryptedRangedAndFragmentedStreamsBecomeWholeFiles)
{
    struct Case {
        const char* kind;
        const char* prefix;
    } cases[] = {{"aes", "/e"}, {"single", "/r"}, {"fmp4", "/f"}};
    for (const auto& c : cases) {
        fs::path fixture = hlsFixture(c.kind, 4);
        ASSERT_FALSE(fixture.empty()) << c.kind;
        serveFolder(server, fixture, c.prefix);
        view->addRow(server.url(std::string(c.prefix) + "/index.m3u8"), true);
    }
    run();
    for (int e = 1; e <= 3; ++e) {
        SCOPED_TRACE(cases[e - 1].kind);
        EXPECT_EQ(view->row(e - 1).cells[kColumnStatus], "完成");
        expectWholeMp4(e);
    }
    // The key is fetched once for all segments; the single file is asked for in ranges.
    EXPECT_EQ(server.count("/e/key.bin"), 1);
    auto ranged = server.requestsFor("/r/index.ts");
    ASSERT_FALSE(ranged.empty());
    EXPECT_NE(ranged[0].header("Range").value_or(""), "bytes=0-");
    EXPECT_TRUE(fs::exists(episodeFolder(3) / "map1.mp4"));
}

TEST_F(RunTest, FailingSegmentsAreRetriedAndOneThatNeverComesIsReported)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/a");
    serveFolder(server, fixture, "/b");
    const std::string seg1 = readFile(fixture / "seg1.ts");
    const std::string seg2 = readFile(fixture / "seg2.ts");
    server.on("/a/seg1.ts",
              std::vector<CannedResponse>{{404, {"Content-Type: text/html"}, "<html>404</html>"},
                                          {404, {"Content-Type: text/html"}, "<html>404</html>"},
                                          {200, {}, seg1}});
    server.on("/a/seg2.ts", std::vector<CannedResponse>{CannedResponse::stall(), {200, {}, seg2}});
    server.on("/b/seg3.ts", CannedResponse{500, {}, "server error"});
    view->addRow(server.url("/a/index.m3u8"), true);
    view->addRow(server.url("/b/index.m3u8"), true);
    view->deleteChecked = true;
    run();

    // Episode 1: every segment arrived in the end; the error pages were never kept.
    EXPECT_EQ(server.count("/a/seg1.ts"), 3);
    EXPECT_EQ(server.count("/a/seg2.ts"), 2);
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    EXPECT_FALSE(fs::exists(episodeFolder(1))); // deleted: nothing was missing
    expectWholeMp4(1);

    // Episode 2: segment 4 failed four times; the row, the merge log and the folder say so.
    EXPECT_EQ(server.count("/b/seg3.ts"), 4);
    auto row = view->row(1);
    EXPECT_EQ(row.cells[kColumnStatus], "缺1段");
    EXPECT_EQ(row.cells[kColumnDownloaded], "3");
    EXPECT_TRUE(row.checked);
    EXPECT_TRUE(view->logHas(kMergeLog, "下载失败 4.ts (HTTP 500) = seg3.ts"));
    EXPECT_TRUE(view->logHas(kMergeLog, "第 2 集缺少 1 个分段: 4.ts"));
    EXPECT_TRUE(fs::exists(episodeFolder(2) / "3.ts"));
    EXPECT_FALSE(fs::exists(episodeFolder(2) / "4.ts"));
    expectWholeMp4(2, 3.0);
}

TEST_F(RunTest, AbortAtSegmentFiveStopsTheRunAndMergesWhatArrived)
{
    fs::path fixture = hlsFixture("ts", 10);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/t");
    for (int i = 0; i < 10; ++i) {
        std::string body = readFile(fixture / ("seg" + std::to_string(i) + ".ts"));
        server.on("/t/seg" + std::to_string(i) + ".ts", CannedResponse{200, {}, body}.after(150ms));
    }
    serveFolder(server, fixture, "/later");
    view->addRow(server.url("/t/index.m3u8"), true);
    view->addRow(server.url("/later/index.m3u8"), true);
    settings.pace.intervalMs = 100;
    view->onCell = [](int, int column, const std::string& text) {
        if (column == kColumnSubmitted && text == "5")
            requestAbort(); // 超级按钮_中止 while segment 5 is being submitted
    };
    const RunEnd ended = run();

    EXPECT_TRUE(view->logHas(kStatusLog, "提交下载_5 seg4.ts"));
    EXPECT_FALSE(view->logHas(kStatusLog, "提交下载_6 seg5.ts"));
    for (int i = 5; i < 10; ++i)
        EXPECT_EQ(server.count("/t/seg" + std::to_string(i) + ".ts"), 0) << i;
    auto row = view->row(0);
    EXPECT_EQ(row.cells[kColumnStatus], "已中止");
    EXPECT_TRUE(fs::exists(u8(mp4(1))));
    expectNoPartFiles(1);
    auto status = view->log(kStatusLog);
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status[status.size() - 3], "执行下一条解析任务");
    EXPECT_EQ(status[status.size() - 2], "已中止下载任务,但合并任务还在执行中");
    EXPECT_EQ(status.back(), "全部执行完成,祝使用愉快");
    // The later row is not touched.
    EXPECT_TRUE(view->row(1).statuses.empty());
    EXPECT_EQ(server.count("/later/index.m3u8"), 0);
    EXPECT_EQ(ended.tasksLeft, 0u);
}

TEST_F(RunTest, ASecondRunFetchesOnlyTheSegmentsStillMissing)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/p");
    server.on("/p/seg2.ts", CannedResponse{503});
    server.on("/p/seg3.ts", CannedResponse{503});
    settings.retries = 0;
    view->addRow(server.url("/p/index.m3u8"), true);
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "缺2段");
    EXPECT_TRUE(view->row(0).checked);

    serveFolder(server, fixture, "/p");
    server.clearRecords();
    run();
    EXPECT_EQ(server.count("/p/seg0.ts"), 0);
    EXPECT_EQ(server.count("/p/seg1.ts"), 0);
    EXPECT_EQ(server.count("/p/seg2.ts"), 1);
    EXPECT_EQ(server.count("/p/seg3.ts"), 1);
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    expectWholeMp4(1);
}

TEST_F(RunTest, AfterARouteSwitchNoSegmentOfTheOldSourceIsMerged)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/a");
    serveFolder(server, fixture, "/b");
    server.on("/a/seg2.ts", CannedResponse{503});
    server.on("/a/seg3.ts", CannedResponse{503});
    settings.retries = 0;
    view->addRow(server.url("/a/index.m3u8"), true);
    run();
    ASSERT_EQ(view->row(0).cells[kColumnStatus], "缺2段");
    ASSERT_TRUE(fs::exists(episodeFolder(1) / "1.ts"));
    // A file the record knows nothing of (an older program, a copy by hand) is no better.
    writeFile(episodeFolder(1) / "3.ts", "left from elsewhere");
    writeFile(episodeFolder(1) / "9.ts", "left from elsewhere");

    // The same episode from another route: other segment URIs, so every file is fetched anew.
    server.clearRecords();
    view->setCellText(0, kColumnAddress, server.url("/b/index.m3u8"));
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(server.count("/b/seg" + std::to_string(i) + ".ts"), 1) << i;
        EXPECT_EQ(server.count("/a/seg" + std::to_string(i) + ".ts"), 0) << i;
    }
    EXPECT_FALSE(fs::exists(episodeFolder(1) / "9.ts"));
    expectWholeMp4(1);
    const std::string record = readFile(episodeFolder(1) / kSegmentSourcesName);
    EXPECT_EQ(record.rfind("playlist\t" + server.url("/b/index.m3u8") + "\n", 0), 0u) << record;
    EXPECT_NE(record.find("1\t" + server.url("/b/seg0.ts")), std::string::npos) << record;

    // The same route again finds every file its own.
    server.clearRecords();
    fs::remove(u8(mp4(1)));
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server.count("/b/seg" + std::to_string(i) + ".ts"), 0) << i;
}

TEST_F(RunTest, ASegmentThatWillNotDecryptFailsAtOnceAsAKeyError)
{
    fs::path fixture = hlsFixture("aes", 4);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/e");
    // The last byte of the next-to-last block turned: the padding of the last block comes out
    // above 16, which no AES-128 segment can have.
    std::string broken = readFile(fixture / "seg2.ts");
    ASSERT_GT(broken.size(), 32u);
    broken[broken.size() - 17] ^= static_cast<char>(0xFF);
    server.on("/e/seg2.ts", CannedResponse{200, {}, broken});
    view->addRow(server.url("/e/index.m3u8"), true);
    run();

    EXPECT_EQ(server.count("/e/seg2.ts"), 1); // no retry: the same bytes would come back
    EXPECT_EQ(server.count("/e/seg1.ts"), 1);
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "密钥错误");
    EXPECT_TRUE(view->logHas(kMergeLog, "下载失败 3.ts (解密失败) = seg2.ts"));
    EXPECT_FALSE(fs::exists(episodeFolder(1) / "3.ts"));
}

TEST_F(RunTest, ATricklingSegmentEndsItsEpisodeAsMissing)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/v");
    // Three bytes a second of a segment of 100 kB: each attempt ends at the low-speed limit.
    server.on("/v/seg1.ts", CannedResponse{200, {}, std::string(100000, 'x')}.slowly(1, 300ms));
    settings.stallTimeoutMs = 60000;
    settings.lowSpeedSeconds = 1;
    settings.retries = 1;
    view->addRow(server.url("/v/index.m3u8"), true);
    const RunEnd ended = run();

    EXPECT_EQ(server.count("/v/seg1.ts"), 2);
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "缺1段");
    EXPECT_TRUE(view->logHas(kMergeLog, "下载失败 2.ts (速度过慢) = seg1.ts"));
    EXPECT_TRUE(view->logHas(kMergeLog, "第 1 集缺少 1 个分段: 2.ts"));
    EXPECT_EQ(ended.tasksLeft, 0u);
}

TEST_F(RunTest, ASlowLastSegmentIsIssuedAgainAndTheFirstCopyToFinishWins)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/v");
    const std::string seg3 = readFile(fixture / "seg3.ts");
    // The first request of the last segment hangs for a minute; a second one is answered at once.
    server.on("/v/seg3.ts", std::vector<CannedResponse>{CannedResponse{200, {}, seg3}.after(60s),
                                                        {200, {}, seg3}});
    settings.tailMinMs = 300;
    settings.stallTimeoutMs = 120000;
    view->addRow(server.url("/v/index.m3u8"), true);
    const RunEnd ended = run();

    EXPECT_EQ(server.count("/v/seg3.ts"), 2);
    EXPECT_TRUE(view->logHas(kStatusLog, "重新提交 4.ts (比其他分段慢)"));
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    EXPECT_EQ(readFile(episodeFolder(1) / "4.ts"), seg3);
    expectNoPartFiles(1);
    expectWholeMp4(1);
    EXPECT_EQ(ended.tasksLeft, 0u);
}

TEST_F(RunTest, PlaylistsThatCannotBeDownloadedEndTheirEpisodeClearly)
{
    server.on("/sample.m3u8",
              CannedResponse{200,
                             {},
                             "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:1,\n"
                             "s1.ts\n#EXT-X-ENDLIST\n"});
    server.on("/badkey.m3u8",
              CannedResponse{200,
                             {},
                             "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"/k\"\n#EXTINF:1,\n"
                             "s1.ts\n#EXT-X-ENDLIST\n"});
    server.on("/k", CannedResponse{200, {}, "Forbidden"});
    server.on("/html.m3u8",
              CannedResponse{404, {"Content-Type: text/html"}, "<html>not here</html>\n/a/b.ts\n"});
    struct Case {
        const char* path;
        const char* status;
    } cases[] = {
        {"/sample.m3u8", "不支持加密"}, {"/badkey.m3u8", "密钥错误"}, {"/html.m3u8", "解析失败"}};
    for (const auto& c : cases)
        view->addRow(server.url(c.path), true);
    run();
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(view->row(r).cells[kColumnStatus], cases[r].status) << cases[r].path;
        EXPECT_FALSE(fs::exists(u8(mp4(r + 1)))) << cases[r].path;
    }
    EXPECT_EQ(server.count("/s1.ts"), 0);
    EXPECT_EQ(server.count("/a/b.ts"), 0);
    EXPECT_TRUE(view->logHas(kStatusLog, "密钥长度不是16字节: " + server.url("/k") + " (9 字节)"));
    EXPECT_EQ(view->log(kStatusLog).back(), "全部执行完成,祝使用愉快");
}

// A hostile or broken server cannot make the run hold an endless answer or build an endless job:
// each answer past its limit, and each playlist past the segment limit or with a range that
// cannot be, fails its episode with the reason in the log, and nothing is cut short into a file.
TEST_F(RunTest, AnswersPastTheirLimitsFailTheirEpisodeWithTheLimitNamed)
{
    fs::path fixture = hlsFixture("ts", 4);
    ASSERT_FALSE(fixture.empty());
    const std::string seg0 = readFile(fixture / "seg0.ts");
    server.on("/endless.m3u8", CannedResponse{200, {}, "#EXTM3U\n#EXTINF:1,\n/s.ts\n"}.endless());
    server.on("/key.m3u8",
              CannedResponse{
                  200, {}, "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"/k\"\n#EXTINF:1,\n/s.ts\n"});
    server.on("/k", CannedResponse{200, {}, "0123456789abcdef"}.endless());
    server.on(
        "/map.m3u8",
        CannedResponse{200, {}, "#EXTM3U\n#EXT-X-MAP:URI=\"/init.mp4\"\n#EXTINF:1,\n/s.m4s\n"});
    server.on("/init.mp4", CannedResponse{200, {}, std::string(4096, 'i')}.endless());
    // A segment that announces more than a segment may be; it is not asked for again.
    server.on("/big.m3u8",
              CannedResponse{200, {}, "#EXTM3U\n#EXTINF:1,\n/big.ts\n#EXTINF:1,\n/s.ts\n"});
    server.on("/big.ts",
              CannedResponse{200, {"Content-Length: 1073741824"}, seg0}.stallAfter(seg0.size()));
    server.on("/s.ts", CannedResponse{200, {}, seg0});
    std::string many = "#EXTM3U\n";
    for (int i = 0; i < 100001; ++i)
        many += "#EXTINF:1,\n/s.ts\n";
    server.on("/many.m3u8", CannedResponse{200, {}, many});
    server.on("/range.m3u8",
              CannedResponse{200,
                             {},
                             "#EXTM3U\n#EXTINF:1,\n#EXT-X-BYTERANGE:9223372036854775000@"
                             "9223372036854775000\n/s.ts\n"});
    struct Case {
        const char* path;
        const char* status;
        int channel;
        std::string line;
    } cases[] = {
        {"/endless.m3u8", "解析失败", kStatusLog,
         "列表获取失败: " + server.url("/endless.m3u8") + " (超过 16 MiB 上限)"},
        {"/key.m3u8", "密钥错误", kStatusLog,
         "密钥长度不是16字节: " + server.url("/k") + " (超过 64 字节 上限)"},
        {"/map.m3u8", "解析失败", kStatusLog,
         "初始化分段获取失败: " + server.url("/init.mp4") + " (超过 16 MiB 上限)"},
        {"/big.m3u8", "缺1段", kMergeLog, "下载失败 1.ts (超过 512 MiB 上限) = big.ts"},
        {"/many.m3u8", "解析失败", kStatusLog,
         "列表的分段超过 100000 个,已放弃: " + server.url("/many.m3u8")},
        {"/range.m3u8", "解析失败", kStatusLog,
         "列表的字节范围无效: " + server.url("/range.m3u8") +
             " (#EXT-X-BYTERANGE:9223372036854775000@9223372036854775000)"},
    };
    for (const auto& c : cases)
        view->addRow(server.url(c.path), true);
    run();
    for (size_t r = 0; r < std::size(cases); ++r) {
        const auto& c = cases[r];
        SCOPED_TRACE(c.path);
        EXPECT_EQ(view->row(static_cast<int>(r)).cells[kColumnStatus], c.status);
        EXPECT_TRUE(view->logHas(c.channel, c.line)) << c.line;
        expectNoPartFiles(static_cast<int>(r) + 1);
    }
    EXPECT_EQ(server.count("/big.ts"), 1);
    EXPECT_FALSE(fs::exists(episodeFolder(4) / "1.ts"));
    EXPECT_TRUE(fs::exists(episodeFolder(4) / "2.ts"));
    // Only the one segment of the episode that could be read was asked for.
    EXPECT_EQ(server.count("/s.ts"), 1);
    EXPECT_EQ(view->log(kStatusLog).back(), "全部执行完成,祝使用愉快");
}

// 中止执行 ends a playlist, key or initialisation section that is still arriving, however slowly:
// the run ends and frees its slot for the next one.
TEST_F(RunTest, AbortEndsAFetchThatIsStillArriving)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/v");
    const std::string trickle(4 * 1024 * 1024, '#');
    server.on("/slow.m3u8", CannedResponse{200, {}, "#EXTM3U\n" + trickle}.slowly(4096, 1s));
    server.on(
        "/key.m3u8",
        CannedResponse{
            200, {}, "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"/k\"\n#EXTINF:1,\n/v/seg0.ts\n"});
    server.on("/k", CannedResponse::stall());
    server.on(
        "/map.m3u8",
        CannedResponse{200, {}, "#EXTM3U\n#EXT-X-MAP:URI=\"/init.mp4\"\n#EXTINF:1,\n/v/seg0.ts\n"});
    server.on("/init.mp4",
              CannedResponse{200, {}, std::string(4 * 1024 * 1024, 'i')}.slowly(4096, 1s));
    settings.stallTimeoutMs = 120000;
    settings.connectTimeoutMs = 120000;
    for (const char* path : {"/slow.m3u8", "/key.m3u8", "/map.m3u8"}) {
        SCOPED_TRACE(path);
        view = std::make_shared<RecordingView>();
        view->addRow(server.url(path), true);
        view->addRow(server.url("/v/index.m3u8"), true);
        server.clearRecords();
        const std::string waitFor = std::string(path) == "/slow.m3u8"  ? "/slow.m3u8"
                                    : std::string(path) == "/key.m3u8" ? "/k"
                                                                       : "/init.mp4";
        ASSERT_TRUE(startDownloadRun(view, settings));
        for (int i = 0; i < 500 && server.count(waitFor) == 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(server.count(waitFor), 1);
        requestAbort();
        ASSERT_TRUE(waitForDownloadRun(20000));
        EXPECT_EQ(view->row(0).cells[kColumnStatus], "已中止");
        EXPECT_TRUE(view->row(1).statuses.empty());
        EXPECT_EQ(view->log(kStatusLog).back(), "全部执行完成,祝使用愉快");
    }
    // The slot is free: the next run goes through.
    view = std::make_shared<RecordingView>();
    view->addRow(server.url("/v/index.m3u8"), true);
    ASSERT_TRUE(startDownloadRun(view, settings));
    ASSERT_TRUE(waitForDownloadRun(20000));
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
}

// A long episode at 下载间隔 = 0 and no 下载并发 set runs a bounded number of segments at once,
// so the whole program (the loopback server's threads included) stays within 200 threads.
TEST_F(RunTest, ALongEpisodeWithNoIntervalKeepsItsThreadsBounded)
{
    fs::path fixture = hlsFixture("ts", 4);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/v");
    std::string list = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
    for (int i = 0; i < 3000; ++i)
        list += "#EXTINF:1,\n/v/seg" + std::to_string(i % 4) + ".ts?n=" + std::to_string(i) + "\n";
    server.on("/long.m3u8", CannedResponse{200, {}, list + "#EXT-X-ENDLIST\n"});
    settings.pace = DownloadPace{0, 0};
    view->addRow(server.url("/long.m3u8"), true);

    auto threads = [] {
        std::ifstream in("/proc/self/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("Threads:", 0) == 0)
                return std::atoi(line.c_str() + 8);
        return 0;
    };
    std::atomic<bool> done{false};
    std::atomic<int> most{0};
    // Sampling thread: the program's thread count while the run goes.
    std::thread sampler([&] {
        while (!done) {
            most = std::max(most.load(), threads());
            std::this_thread::sleep_for(2ms);
        }
    });
    run();
    done = true;
    sampler.join();

    EXPECT_EQ(view->row(0).cells[kColumnSubmitted], "3000");
    EXPECT_EQ(view->logCountPrefix(kMergeLog, "已下载 "), 3000);
    EXPECT_EQ(view->logCountPrefix(kStatusLog, "提交下载_"), 3000);
    EXPECT_TRUE(view->logHas(kStatusLog, "提交下载_3000 seg3.ts?n=2999"));
    EXPECT_GT(most.load(), 1);
    EXPECT_LE(most.load(), 200);
    // The transfers hand their connections on to the next ones instead of each opening its own.
    EXPECT_LE(server.connectionCount(), 64);
}

// HTTPS playlists are read only from servers the run can verify: the test authority trusted
// through the certificate file, and the name in the certificate. A refused playlist ends its row
// with the host and the reason; a segment redirected from https to plain http is not fetched.
TEST_F(RunTest, PlaylistsAndSegmentsComeOnlyFromServersThatVerify)
{
    fs::path fixture = hlsFixture("ts", 4);
    TestServer wrong(TestServer::Scheme::Https, "127.0.0.1", TestServer::Certificate::WrongName);
    TestServer tls(TestServer::Scheme::Https);
    serveFolder(wrong, fixture, "/w");
    serveFolder(tls, fixture, "/t");
    serveFolder(server, fixture, "/plain");
    tls.on("/t/seg3.ts", CannedResponse{302, {"Location: " + server.url("/plain/seg3.ts")}});
    view->addRow(wrong.url("/w/index.m3u8"), true);
    view->addRow(tls.url("/t/index.m3u8"), true);
    settings.caFile = TestServer::certificateFile();
    run();

    EXPECT_EQ(view->row(0).cells[kColumnStatus], "证书无效");
    EXPECT_EQ(wrong.requests().size(), 0u);
    EXPECT_EQ(view->logCountPrefix(
                  kStatusLog, "证书无效: 127.0.0.1 (SSL: no alternative certificate subject name"),
              1);

    EXPECT_EQ(view->row(1).cells[kColumnStatus], "缺1段");
    EXPECT_EQ(view->row(1).cells[kColumnDownloaded], "3");
    EXPECT_EQ(server.count("/plain/seg3.ts"), 0);
    EXPECT_EQ(view->logCountPrefix(kMergeLog, "下载失败 4.ts ("), 1);

    // Without the certificate file the authority is unknown: not even the playlist is read.
    view = std::make_shared<RecordingView>();
    view->addRow(tls.url("/t/index.m3u8"), true);
    tls.clearRecords();
    settings.caFile.clear();
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "证书无效");
    EXPECT_EQ(tls.requests().size(), 0u);
    EXPECT_EQ(view->logCountPrefix(kStatusLog, "证书无效: 127.0.0.1 (SSL certificate problem"), 1);
}

// The browser's cookies go to the playlist host they belong to and to no other: a variant on a
// second host gets none of the first host's, and segments carry no cookies at all.
TEST_F(RunTest, BrowserCookiesStayWithTheirOwnHost)
{
    fs::path fixture = hlsFixture("ts", 4);
    TestServer media(TestServer::Scheme::Http, "127.0.0.2");
    serveFolder(media, fixture, "/v");
    server.on("/m/master.m3u8", CannedResponse{200,
                                               {},
                                               "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=500000\n" +
                                                   media.url("/v/index.m3u8") + "\n"});
    view->cookie = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\t42\n#HttpOnly_127.0.0.1\tFALSE\t/"
                   "m\tFALSE\t0\tpage\t7\n"
                   "127.0.0.1\tFALSE\t/v\tFALSE\t0\tdeep\t1";
    view->addRow(server.url("/m/master.m3u8"), true);
    run();

    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    ASSERT_EQ(server.count("/m/master.m3u8"), 1);
    EXPECT_EQ(server.requestsFor("/m/master.m3u8")[0].header("Cookie"), "page=7; sid=42");
    const auto onMedia = media.requests();
    EXPECT_EQ(onMedia.size(), 5u); // the variant and four segments
    for (const RecordedRequest& r : onMedia)
        EXPECT_EQ(r.header("Cookie"), std::nullopt) << r.requestLine;
}

TEST_F(RunTest, UncheckedRowsStayAsTheyAreAndAPendingAbortIsForgotten)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/v");
    view->addRow(server.url("/v/index.m3u8"), false);
    run();
    EXPECT_EQ(view->log(kStatusLog).back(), "全部执行完成,祝使用愉快");
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "待命");
    EXPECT_TRUE(view->row(0).statuses.empty());
    EXPECT_EQ(server.requests().size(), 0u);
    EXPECT_TRUE(view->controls.back());

    requestAbort(); // pressed while nothing ran
    view->setRowChecked(0, true);
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
}

TEST_F(RunTest, OneRunAtATimeAndAbortEndsARunningOne)
{
    server.on("/hang.m3u8",
              CannedResponse{200, {}, "#EXTM3U\n#EXTINF:1,\n/hang.ts\n#EXTINF:1,\n/hang.ts\n"});
    server.on("/hang.ts", CannedResponse::stall());
    settings.stallTimeoutMs = 60000;
    view->addRow(server.url("/hang.m3u8"), true);
    ASSERT_TRUE(startDownloadRun(view, settings));
    EXPECT_FALSE(startDownloadRun(view, settings));
    EXPECT_FALSE(startRemerge(view, settings));
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    EXPECT_TRUE(downloadRunActive());
    requestAbort();
    EXPECT_TRUE(waitForDownloadRun(10000));
    EXPECT_FALSE(downloadRunActive());
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "已中止");
    EXPECT_EQ(view->controls.front(), false);
    EXPECT_EQ(view->controls.back(), true);
}

// A view like the window's: reads wait for the GUI thread, writes are queued to it.
class GuiThreadView : public RecordingView {
public:
    int rowCount() override
    {
        return gui::call([this] { return RecordingView::rowCount(); });
    }
    bool rowChecked(int r) override
    {
        return gui::call([this, r] { return RecordingView::rowChecked(r); });
    }
    std::string cellText(int r, int c) override
    {
        return gui::call([this, r, c] { return RecordingView::cellText(r, c); });
    }
    void appendLog(const std::string& m, int ch) override
    {
        gui::post(QCoreApplication::instance(), [this, m, ch] { RecordingView::appendLog(m, ch); });
    }
};

TEST_F(RunTest, ClosingWaitOnTheGuiThreadLetsTheRunFinish)
{
    auto guiView = std::make_shared<GuiThreadView>();
    server.on("/hang.m3u8", CannedResponse{200, {}, "#EXTM3U\n#EXTINF:1,\n/hang.ts\n"});
    server.on("/hang.ts", CannedResponse::stall());
    settings.stallTimeoutMs = 60000;
    guiView->addRow(server.url("/hang.m3u8"), true);
    guiView->addRow(server.url("/hang.m3u8"), true);
    ASSERT_TRUE(startDownloadRun(guiView, settings));
    // The run's reads wait for this thread, so it keeps dispatching while the run gets going.
    for (int i = 0; i < 500 && server.requests().size() < 2; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(server.requests().size(), 2u);
    // What the window does when it is closed during a run.
    requestAbort();
    EXPECT_TRUE(waitForDownloadRun(10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(guiView->log(kStatusLog).back(), "全部执行完成,祝使用愉快");
    EXPECT_EQ(guiView->row(0).cells[kColumnStatus], "已中止");
    EXPECT_TRUE(guiView->row(1).statuses.empty());
}

TEST_F(RunTest, RemergeTakesEveryRowWhoseFolderHoldsSegments)
{
    fs::path fixture = hlsFixture("ts", 4);
    view->addRow("http://127.0.0.1:1/1.m3u8", false);
    view->addRow("http://127.0.0.1:1/2.m3u8", false);
    fs::create_directories(episodeFolder(2));
    for (int i = 0; i < 4; ++i)
        fs::copy_file(fixture / ("seg" + std::to_string(i) + ".ts"),
                      episodeFolder(2) / (std::to_string(i + 1) + ".ts"));
    ASSERT_TRUE(startRemerge(view, settings));
    ASSERT_TRUE(waitForDownloadRun(20000));
    EXPECT_TRUE(view->row(0).statuses.empty());
    EXPECT_EQ(view->row(1).cells[kColumnStatus], "完成");
    expectWholeMp4(2);
    EXPECT_TRUE(view->controls.back());
}

TEST_F(RunTest, PaceComesFromTheSettingsAndCapsTheTransfers)
{
    setProgramFolderForTesting(temp.path().toStdString());
    ASSERT_TRUE(ensureDataFolder());
    DownloadPace pace = readDownloadPace();
    EXPECT_EQ(pace.intervalMs, 300);
    EXPECT_EQ(pace.maxConcurrent, 0);
    ASSERT_TRUE(writeSetting("配置项", "下载间隔", "0"));
    ASSERT_TRUE(writeSetting("配置项", "下载并发", "2"));
    pace = readDownloadPace();
    EXPECT_EQ(pace.intervalMs, 0);
    EXPECT_EQ(pace.maxConcurrent, 2);
    EXPECT_EQ(currentDownloadSettings().pace.maxConcurrent, 2);
    setProgramFolderForTesting("");

    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/c");
    std::atomic<int> inFlight{0}, most{0};
    for (int i = 0; i < 4; ++i) {
        std::string body = readFile(fixture / ("seg" + std::to_string(i) + ".ts"));
        server.onHandler("/c/seg" + std::to_string(i) + ".ts",
                         [&, body](const RecordedRequest&, int) {
                             int now = ++inFlight;
                             int seen = most.load();
                             while (now > seen && !most.compare_exchange_weak(seen, now)) {
                             }
                             std::this_thread::sleep_for(200ms);
                             --inFlight;
                             return CannedResponse{200, {}, body};
                         });
    }
    settings.pace = pace;
    view->addRow(server.url("/c/index.m3u8"), true);
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    EXPECT_EQ(most.load(), 2);
}

TEST_F(RunTest, ARerunWithASegmentMissingKeepsTheCompleteFile)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/k");
    settings.retries = 0;
    view->deleteChecked = true;
    view->addRow(server.url("/k/index.m3u8"), true);
    run();
    ASSERT_EQ(view->row(0).cells[kColumnStatus], "完成");
    ASSERT_FALSE(fs::exists(episodeFolder(1))); // its segments went with 下完删TS
    const std::string complete = readFile(u8(mp4(1)));

    // The episode is ticked and run again while one segment does not come.
    server.on("/k/seg2.ts", CannedResponse{503});
    view->setRowChecked(0, true);
    run();
    EXPECT_TRUE(readFile(u8(mp4(1))) == complete) << "the complete 1.mp4 was replaced";
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "缺1段,已保留完整的1.mp4,本次结果在1.缺段.mp4");
    EXPECT_TRUE(view->logHas(
        kMergeLog, "第 1 集已有完整的 1.mp4,予以保留;本次合并不完整,结果写入 1.缺段.mp4"));
    EXPECT_NEAR(probeMedia(seriesPath() + "/1.缺段.mp4").duration, 3.0, 0.5);

    // Once every segment comes, the new complete file takes its place and the incomplete one goes.
    serveFolder(server, fixture, "/k");
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    expectWholeMp4(1);
    EXPECT_FALSE(fs::exists(u8(seriesPath() + "/1.缺段.mp4")));
}

TEST_F(RunTest, TwoTitlesOfOneFolderNameRunApart)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/x");
    serveFolder(server, fixture, "/y");
    view->addRow(server.url("/x/index.m3u8"), true);
    auto runFor = [&](const std::string& title, const std::string& address) {
        settings.seriesTitle = title;
        EXPECT_TRUE(prepareDownloadFolders(*view, settings));
        view->setCellText(0, kColumnAddress, server.url(address));
        view->setRowChecked(0, true);
        run();
        EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成") << title;
    };
    runFor("Friends: 1", "/x/index.m3u8");
    runFor("Friends 1!", "/y/index.m3u8");
    const fs::path first = u8(settings.downloadRoot + "/Friends1");
    const fs::path second = u8(settings.downloadRoot + "/Friends1-2");
    // Each run kept its own segments: the second never took the first one's for another source's.
    for (const fs::path& folder : {first, second}) {
        for (int i = 1; i <= 4; ++i)
            EXPECT_TRUE(fs::exists(folder / "1" / (std::to_string(i) + ".ts"))) << folder << i;
        EXPECT_TRUE(probeMedia(pathUtf8(folder / "1.mp4")).opened) << folder;
    }
    EXPECT_NE(readFile(first / "1" / kSegmentSourcesName).find("/x/seg0.ts"), std::string::npos);
    EXPECT_NE(readFile(second / "1" / kSegmentSourcesName).find("/y/seg0.ts"), std::string::npos);

    // The first title again finds its folder with every segment in it: nothing is fetched.
    server.clearRecords();
    runFor("Friends: 1", "/x/index.m3u8");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server.count("/x/seg" + std::to_string(i) + ".ts"), 0) << i;
}

TEST_F(RunTest, AnEpisodeFolderThatCannotBeMadeIsReportedAndNotFetched)
{
    fs::path fixture = hlsFixture("ts", 4);
    serveFolder(server, fixture, "/f");
    view->addRow(server.url("/f/index.m3u8"), true);
    view->addRow(server.url("/f/index.m3u8"), true);
    writeFile(episodeFolder(1), "a file where the episode folder goes");
    run();
    EXPECT_EQ(view->row(0).cells[kColumnStatus], "创建目录失败");
    EXPECT_TRUE(view->logHas(kStatusLog, "无法创建目录 /下载目录/测试剧/1 (已有同名文件)"));
    EXPECT_FALSE(view->logHas(kStatusLog, "创建目录 /下载目录/测试剧/1"));
    EXPECT_EQ(readFile(episodeFolder(1)), "a file where the episode folder goes");
    // The next row goes on as usual.
    EXPECT_TRUE(view->logHas(kStatusLog, "创建目录 /下载目录/测试剧/2"));
    EXPECT_EQ(view->row(1).cells[kColumnStatus], "完成");
    EXPECT_EQ(server.count("/f/index.m3u8"), 1);
}

} // namespace
