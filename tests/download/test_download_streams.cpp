// The download run against streams as servers really serve them: playlists behind redirects,
// runs of another encode between discontinuity tags, and master playlists whose variants play with
// a separate audio rendition. Media made by ffmpeg, served from loopback.
#include "download/download_run.h"

#include "download/merge_segments.h"
#include "download_fixtures.h"

#include <ranges>

using namespace dltest;

namespace {

class StreamRunTest : public DownloadRunTest {
protected:
    void SetUp() override
    {
        settings.pace.intervalMs = 0;
        settings.retryPauseMs = 50;
        settings.stallTimeoutMs = 5000;
        settings.connectTimeoutMs = 5000;
        DownloadRunTest::SetUp();
    }

    std::string episodeFolder(int e) const { return seriesPath() + "/" + std::to_string(e); }
};

TEST_F(StreamRunTest, PlaylistsBehindRedirectsResolveAgainstTheAddressThatAnswered)
{
    // The media lives under /cdn/x with relative segment names. Episode 1 asks a show address that
    // answers 302; episode 2 a master that answers 301 with a full address, whose variant answers
    // 302 with a relative one.
    fs::path fixture = hlsFixture("ts", 4);
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/cdn/x");
    server.on("/show/1.m3u8", CannedResponse{302, {"Location: /cdn/x/index.m3u8"}});
    server.on("/show/2.m3u8",
              CannedResponse{301, {"Location: " + server.url("/cdn/m/master.m3u8")}});
    server.on(
        "/cdn/m/master.m3u8",
        CannedResponse{200, {}, "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=300000\nv/index.m3u8\n"});
    server.on("/cdn/m/v/index.m3u8", CannedResponse{302, {"Location: ../../x/index.m3u8"}});
    view->addRow(server.url("/show/1.m3u8"), true);
    view->addRow(server.url("/show/2.m3u8"), true);
    run();

    for (int e = 1; e <= 2; ++e) {
        SCOPED_TRACE(e);
        EXPECT_EQ(view->row(e - 1).cells[kColumnStatus], "完成");
        MediaInfo info = probeMedia(mp4(e));
        EXPECT_EQ(info.video, 1);
        EXPECT_EQ(info.audio, 1);
        EXPECT_NEAR(info.duration, 4.0, 0.5);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(server.count("/cdn/x/seg" + std::to_string(i) + ".ts"), 2) << i;
    EXPECT_EQ(server.count("/show/seg0.ts"), 0);
    EXPECT_EQ(server.count("/cdn/m/v/seg0.ts"), 0);
    EXPECT_EQ(server.count("/cdn/m/master.m3u8"), 1);
}

TEST_F(StreamRunTest, DiscontinuityTagsReachTheMergeAndTheInsertedRunStaysInStep)
{
    fs::path fixture = stitchedFixture();
    ASSERT_FALSE(fixture.empty());
    serveFolder(server, fixture, "/s");
    view->addRow(server.url("/s/inserted.m3u8"), true);
    run();

    EXPECT_EQ(view->row(0).cells[kColumnStatus], "完成");
    EXPECT_EQ(view->row(0).cells[kColumnSegments], "9");
    // The list left beside the segments carries the playlist's two discontinuities.
    std::vector<int> discontinuities;
    for (const auto& e : readSegmentList(episodeFolder(1)))
        if (e.discontinuity)
            discontinuities.push_back(e.index);
    EXPECT_EQ(discontinuities, (std::vector<int>{4, 7}));

    MediaInfo info = probeMedia(mp4(1));
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
    EXPECT_NEAR(info.duration, 9.0, 0.5);
    auto timeline = readTimeline(mp4(1));
    const StreamTimeline* video = timelineOf(timeline, AVMEDIA_TYPE_VIDEO);
    const StreamTimeline* audio = timelineOf(timeline, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(video && audio);
    EXPECT_LE(longestHole(*video), 0.5);
    EXPECT_LE(longestHole(*audio), 0.5);
    EXPECT_NEAR(video->pts.front(), audio->pts.front(), 0.1);
}

TEST_F(StreamRunTest, AMasterWithASeparateAudioRenditionGivesAFileWithBoth)
{
    // TS and fragmented MP4 throughout; and TS pictures with packed audio, whose clock is in an
    // ID3 tag at the start of each segment.
    struct Case {
        bool fragmented;
        const char* prefix;
        const char* master;
        const char* audioFolder;
        const char* ext;
        const char* audioExt;
    } cases[] = {{false, "/m-ts", "master.m3u8", "vaudio", ".ts", ".ts"},
                 {true, "/m-fmp4", "master.m3u8", "vaudio", ".m4s", ".m4s"},
                 {false, "/m-packed", "master-packed.m3u8", "vpacked", ".ts", ".aac"}};
    std::vector<fs::path> fixtures;
    for (const auto& c : cases) {
        fixtures.push_back(masterFixture(c.fragmented));
        ASSERT_FALSE(fixtures.back().empty()) << c.prefix;
        server.serveFolder(std::string(c.prefix) + "/", fixtures.back().string());
        view->addRow(server.url(std::string(c.prefix) + "/" + c.master), true);
    }
    run();

    for (size_t e = 0; e < std::size(cases); ++e) {
        const Case& c = cases[e];
        const fs::path& fixture = fixtures[e];
        const std::string prefix = c.prefix;
        SCOPED_TRACE(prefix);
        auto row = view->row(static_cast<int>(e));
        EXPECT_EQ(row.cells[kColumnStatus], "完成");
        const size_t videoSegments = segmentLines(fixture / "v0/index.m3u8").size();
        const fs::path audioFolder = fixture / c.audioFolder;
        const size_t audioSegments = segmentLines(audioFolder / "index.m3u8").size();
        EXPECT_EQ(row.cells[kColumnSegments], std::to_string(videoSegments + audioSegments));
        // The variant of highest average bandwidth, and its group's default rendition, once each.
        EXPECT_TRUE(view->logHas(
            kStatusLog, "解析" + server.url(prefix + "/" + c.audioFolder + "/index.m3u8")));
        EXPECT_EQ(server.count(prefix + "/v1/index.m3u8"), 0);
        for (size_t i = 0; i < videoSegments; ++i)
            EXPECT_EQ(server.count(prefix + "/v0/seg" + std::to_string(i) + c.ext), 1) << i;
        for (size_t i = 0; i < audioSegments; ++i)
            EXPECT_EQ(server.count(prefix + "/" + c.audioFolder + "/seg" + std::to_string(i) +
                                   c.audioExt),
                      1)
                << i;

        // Both streams are in the file, whole, and start together as they do in the source.
        MediaInfo info = probeMedia(mp4(static_cast<int>(e) + 1));
        EXPECT_EQ(info.video, 1);
        EXPECT_EQ(info.audio, 1);
        EXPECT_NEAR(info.duration, 4.0, 0.5);
        auto timeline = readTimeline(mp4(static_cast<int>(e) + 1));
        const StreamTimeline* video = timelineOf(timeline, AVMEDIA_TYPE_VIDEO);
        const StreamTimeline* audio = timelineOf(timeline, AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(video && audio);
        std::string sound;
        for (const auto& line : readFile(audioFolder / "index.m3u8") | std::views::split('\n')) {
            std::string name(line.begin(), line.end());
            const std::string map = "#EXT-X-MAP:URI=\"";
            if (name.rfind(map, 0) == 0)
                name = name.substr(map.size(), name.find('"', map.size()) - map.size());
            else if (name.empty() || name[0] == '#')
                continue;
            sound += readFile(audioFolder / name);
        }
        writeFile(fs::path(temp.path().toStdString()) / "sound", sound);
        auto source = readTimeline(temp.path().toStdString() + "/sound");
        const StreamTimeline* sourceAudio = timelineOf(source, AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(sourceAudio);
        EXPECT_EQ(audio->pts.size(), sourceAudio->pts.size());
        EXPECT_NEAR(video->pts.front(), audio->pts.front(), 0.1);
        EXPECT_LE(longestHole(*audio), 0.5);
    }
}

TEST_F(StreamRunTest, AnAudioSegmentThatNeverComesIsNamedAndTheRestIsMerged)
{
    fs::path fixture = masterFixture(false);
    ASSERT_FALSE(fixture.empty());
    server.serveFolder("/m/", fixture.string());
    server.on("/m/vaudio/seg1.ts",
              CannedResponse{404, {"Content-Type: text/html"}, "<html>404</html>"});
    settings.retries = 0;
    view->addRow(server.url("/m/master.m3u8"), true);
    run();

    auto row = view->row(0);
    EXPECT_EQ(row.cells[kColumnStatus], "缺1段");
    EXPECT_TRUE(row.checked);
    EXPECT_TRUE(view->logHas(kMergeLog, "下载失败 audio/2.ts (HTTP 404) = seg1.ts"));
    EXPECT_TRUE(view->logHas(kMergeLog, "第 1 集缺少 1 个分段: audio/2.ts"));
    MediaInfo info = probeMedia(mp4(1));
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
}

} // namespace
