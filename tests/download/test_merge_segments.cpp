// Merging an episode folder into one MP4: real remux, order by number, gaps, byte-join fallback,
// discontinuities, initialisation sections, the delete option, and a complete file that an
// incomplete merge never replaces.
#include "download/merge_segments.h"

#include "download/hls_playlist.h"
#include "download_fixtures.h"

using namespace dltest;

namespace {

class MergeTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    RecordingView view;
    fs::path series;
    fs::path episode;

    void SetUp() override
    {
        series = u8(temp.path().toStdString() + "/系列");
        episode = series / "1";
        fs::create_directories(episode);
        view.addRow("http://h/1.m3u8", true);
    }
    std::string seriesText() const
    {
        auto s = series.u8string();
        return std::string(s.begin(), s.end());
    }
    std::string mp4() const { return seriesText() + "/1.mp4"; }

    // Copies the fixture's segments (in playlist order) into the episode folder as first.ts …
    std::vector<SegmentListEntry> copySegments(const fs::path& fixture, const std::string& ext,
                                               int count, int first, bool discontinuity,
                                               const std::string& map = {})
    {
        std::vector<SegmentListEntry> entries;
        for (int i = 0; i < count; ++i) {
            fs::copy_file(fixture / ("seg" + std::to_string(i) + ext),
                          episode / (std::to_string(first + i) + ".ts"),
                          fs::copy_options::overwrite_existing);
            entries.push_back(SegmentListEntry{first + i, 1.0, map, discontinuity && i == 0});
        }
        return entries;
    }

    // The segments of a stitched list copied into a fresh episode folder as 1.ts, 2.ts, … and
    // listed, with the list's discontinuities when tagged; counts of each run's packets as
    // libavformat reads the run's segments.
    struct Stitched {
        double seconds = 0;                          // the EXTINF sum
        std::vector<int> videoPackets, audioPackets; // per run
        // Where each run's first picture and first sound come in the order in which the remux
        // reads the packets (the runs one by one when tagged, else the files as one stream).
        std::vector<size_t> videoStart, audioStart;
        size_t videoTotal = 0, audioTotal = 0;
    };
    Stitched copyStitched(const fs::path& fixture, const std::string& list, bool tagged)
    {
        fs::remove_all(episode);
        fs::create_directories(episode);
        Stitched out;
        HlsPlaylist playlist = parseHlsPlaylist(readFile(fixture / list), "");
        std::vector<SegmentListEntry> entries;
        std::string run, all;
        std::vector<double> videoFirst, audioFirst, videoOrder, audioOrder;
        auto timelineOfBytes = [&](const std::string& bytes) {
            fs::path joined = fs::path(temp.path().toStdString()) / "joined.ts";
            writeFile(joined, bytes);
            return readTimeline(joined.string());
        };
        // Packets of every audio or video stream of a kind, in reading order per kind.
        auto ofKind = [](const std::vector<StreamTimeline>& t, AVMediaType type) {
            std::vector<std::pair<size_t, double>> packets;
            for (const auto& s : t)
                if (s.type == type)
                    for (size_t i = 0; i < s.pts.size(); ++i)
                        packets.emplace_back(s.order[i], s.pts[i]);
            std::sort(packets.begin(), packets.end());
            std::vector<double> pts;
            for (const auto& p : packets)
                pts.push_back(p.second);
            return pts;
        };
        auto countRun = [&] {
            if (run.empty())
                return;
            auto timeline = timelineOfBytes(run);
            auto v = ofKind(timeline, AVMEDIA_TYPE_VIDEO), a = ofKind(timeline, AVMEDIA_TYPE_AUDIO);
            out.videoPackets.push_back(static_cast<int>(v.size()));
            out.audioPackets.push_back(static_cast<int>(a.size()));
            videoFirst.push_back(v.empty() ? -1 : v.front());
            audioFirst.push_back(a.empty() ? -1 : a.front());
            videoOrder.insert(videoOrder.end(), v.begin(), v.end());
            audioOrder.insert(audioOrder.end(), a.begin(), a.end());
            run.clear();
        };
        for (size_t i = 0; i < playlist.segments.size(); ++i) {
            const HlsSegment& seg = playlist.segments[i];
            if (seg.discontinuity)
                countRun();
            const int number = static_cast<int>(i) + 1;
            fs::copy_file(fixture / seg.uri, episode / (std::to_string(number) + ".ts"));
            run += readFile(fixture / seg.uri);
            all += readFile(fixture / seg.uri);
            entries.push_back(
                SegmentListEntry{number, seg.duration, {}, tagged && seg.discontinuity});
            out.seconds += seg.duration;
        }
        countRun();
        if (!tagged) {
            auto timeline = timelineOfBytes(all);
            videoOrder = ofKind(timeline, AVMEDIA_TYPE_VIDEO);
            audioOrder = ofKind(timeline, AVMEDIA_TYPE_AUDIO);
        }
        auto at = [](const std::vector<double>& order, double pts) {
            for (size_t i = 0; i < order.size(); ++i)
                if (std::abs(order[i] - pts) < 1e-6)
                    return i;
            return order.size();
        };
        for (size_t r = 0; r < videoFirst.size(); ++r) {
            out.videoStart.push_back(at(videoOrder, videoFirst[r]));
            out.audioStart.push_back(at(audioOrder, audioFirst[r]));
        }
        out.videoTotal = videoOrder.size();
        out.audioTotal = audioOrder.size();
        EXPECT_TRUE(writeSegmentList(episode.string(), entries));
        return out;
    }
};

TEST_F(MergeTest, SegmentsBecomeARealMp4WithItsIndexInFront)
{
    fs::path fixture = hlsFixture("ts", 4);
    ASSERT_FALSE(fixture.empty());
    auto entries = copySegments(fixture, ".ts", 4, 1, false);
    ASSERT_TRUE(writeSegmentList(episode.string(), entries));

    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_TRUE(report.remuxed);
    EXPECT_TRUE(report.missing.empty());

    MediaInfo info = probeMedia(mp4());
    ASSERT_TRUE(info.opened);
    EXPECT_NE(info.format.find("mp4"), std::string::npos);
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
    EXPECT_NEAR(info.duration, 4.0, 0.5);
    auto boxes = mp4Boxes(mp4());
    auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    EXPECT_LT(moov, mdat);

    auto row = view.row(0);
    EXPECT_EQ(row.statuses, (std::vector<std::string>{"合并中", "完成"}));
    EXPECT_EQ(row.cells[kColumnDownloaded], "4");
    EXPECT_FALSE(row.checked);
    auto log = view.log(kMergeLog);
    ASSERT_GE(log.size(), 7u);
    EXPECT_EQ(log[0], "准备执行 TS 合并 MP4");
    EXPECT_EQ(log[1], "创建MP4文件完成");
    EXPECT_EQ(log[2], "正在合并 1.ts / 4");
    EXPECT_EQ(log[5], "正在合并 4.ts / 4");
    EXPECT_EQ(log.back(), "第 1 集合并完成");
    EXPECT_EQ(view.progressMax[1], 4);
    EXPECT_EQ(view.progressValue[1], 4);
    // Segments stay unless the delete box is ticked.
    EXPECT_TRUE(fs::exists(episode / "1.ts"));
    EXPECT_FALSE(fs::exists(mp4() + ".part"));
}

TEST_F(MergeTest, TimestampsRunOnAcrossADiscontinuity)
{
    fs::path fixture = hlsFixture("ts", 4);
    auto entries = copySegments(fixture, ".ts", 4, 1, false);
    auto second = copySegments(fixture, ".ts", 4, 5, true); // the same clip again: time starts over
    entries.insert(entries.end(), second.begin(), second.end());
    ASSERT_TRUE(writeSegmentList(episode.string(), entries));
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    ASSERT_TRUE(report.remuxed);
    MediaInfo info = probeMedia(mp4());
    EXPECT_EQ(info.video, 1);
    EXPECT_NEAR(info.duration, 8.0, 0.5);
}

TEST_F(MergeTest, AnInsertedRunKeepsAudioAndVideoTogetherWithoutHoles)
{
    // Three segments of another encode (other size, timestamps and stream ids) between two runs of
    // the main one, with the discontinuity tags of the list, and with the tags lost, where only
    // the timestamps show the boundaries.
    fs::path fixture = stitchedFixture();
    ASSERT_FALSE(fixture.empty());
    for (bool tagged : {true, false}) {
        SCOPED_TRACE(tagged ? "tagged" : "untagged");
        Stitched stitched = copyStitched(fixture, "inserted.m3u8", tagged);
        ASSERT_EQ(stitched.videoPackets.size(), 3u);
        MergeReport report = mergeSegments(view, 0, "1", seriesText());
        EXPECT_TRUE(report.remuxed);
        EXPECT_TRUE(report.leftOut.empty());
        EXPECT_EQ(view.row(0).cells[kColumnStatus], "完成");

        MediaInfo info = probeMedia(mp4());
        EXPECT_EQ(info.video, 1);
        EXPECT_EQ(info.audio, 1);
        EXPECT_NEAR(info.duration, stitched.seconds, 0.5);
        auto timeline = readTimeline(mp4());
        const StreamTimeline* video = timelineOf(timeline, AVMEDIA_TYPE_VIDEO);
        const StreamTimeline* audio = timelineOf(timeline, AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(video && audio);
        EXPECT_LE(longestHole(*video), 0.5);
        EXPECT_LE(longestHole(*audio), 0.5);
        // Every packet went in, and after each boundary the first picture and the first sound of
        // the new run start together.
        EXPECT_EQ(video->pts.size(), stitched.videoTotal);
        EXPECT_EQ(audio->pts.size(), stitched.audioTotal);
        for (size_t run = 0; run < 3; ++run) {
            const size_t v = stitched.videoStart[run], a = stitched.audioStart[run];
            ASSERT_LT(v, video->pts.size());
            ASSERT_LT(a, audio->pts.size());
            EXPECT_NEAR(video->pts[v], audio->pts[a], 0.1) << "run " << run;
        }
    }
}

TEST_F(MergeTest, AStreamThatFirstAppearsAfterTheFirstSegmentReachesTheFile)
{
    // A 2 s ident without sound, then the programme with sound.
    fs::path fixture = stitchedFixture();
    ASSERT_FALSE(fixture.empty());
    Stitched stitched = copyStitched(fixture, "late-audio.m3u8", true);
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_TRUE(report.remuxed);
    EXPECT_EQ(view.row(0).cells[kColumnStatus], "完成");
    MediaInfo info = probeMedia(mp4());
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
    EXPECT_NEAR(info.duration, stitched.seconds, 0.5);
    auto timeline = readTimeline(mp4());
    const StreamTimeline* video = timelineOf(timeline, AVMEDIA_TYPE_VIDEO);
    const StreamTimeline* audio = timelineOf(timeline, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(video && audio);
    ASSERT_GT(video->pts.size(), static_cast<size_t>(stitched.videoPackets[0]));
    EXPECT_EQ(audio->pts.size(), static_cast<size_t>(stitched.audioPackets[1]));
    // The sound starts with the programme's first picture.
    EXPECT_NEAR(audio->pts.front(), video->pts[stitched.videoPackets[0]], 0.1);
    EXPECT_LE(longestHole(*video), 0.5);
}

TEST_F(MergeTest, AStreamTheMp4CannotHoldIsNamedAndTheEpisodeIsNotFinished)
{
    // After three segments, two whose sound is SMPTE 302M: the pictures go in, the sound cannot.
    fs::path fixture = stitchedFixture();
    ASSERT_FALSE(fixture.empty());
    Stitched stitched = copyStitched(fixture, "foreign-audio.m3u8", true);
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_TRUE(report.remuxed);
    EXPECT_TRUE(report.missing.empty());
    ASSERT_EQ(report.leftOut.size(), 1u);
    EXPECT_NE(report.leftOut[0].text.find("s302m"), std::string::npos);
    EXPECT_NE(report.leftOut[0].text.find("第 4 段"), std::string::npos) << report.leftOut[0].text;
    auto row = view.row(0);
    EXPECT_EQ(row.cells[kColumnStatus], "缺音频");
    EXPECT_TRUE(row.checked);
    EXPECT_EQ(
        view.logCountPrefix(kMergeLog, "第 1 集有 1 路流未能写入MP4: " + report.leftOut[0].text),
        1);
    MediaInfo info = probeMedia(mp4());
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
    EXPECT_NEAR(info.duration, stitched.seconds, 0.5);
    // Nothing is deleted while something is left out.
    view.deleteChecked = true;
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_TRUE(fs::exists(episode / "1.ts"));
}

TEST_F(MergeTest, ASegmentThatNeverCameLeavesNoFrozenHole)
{
    // 3.ts of six is missing: the timestamps jump forward by a second within the run, and the
    // streams close the gap together.
    fs::path fixture = stitchedFixture();
    ASSERT_FALSE(fixture.empty());
    std::vector<SegmentListEntry> entries;
    for (int i = 1; i <= 6; ++i) {
        if (i != 3)
            fs::copy_file(fixture / ("main" + std::to_string(i - 1) + ".ts"),
                          episode / (std::to_string(i) + ".ts"));
        entries.push_back(SegmentListEntry{i, 1.0, {}, false});
    }
    ASSERT_TRUE(writeSegmentList(episode.string(), entries));
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_TRUE(report.remuxed);
    EXPECT_EQ(report.missing, std::vector<int>{3});
    EXPECT_EQ(view.row(0).cells[kColumnStatus], "缺1段");
    auto timeline = readTimeline(mp4());
    const StreamTimeline* video = timelineOf(timeline, AVMEDIA_TYPE_VIDEO);
    const StreamTimeline* audio = timelineOf(timeline, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(video && audio);
    EXPECT_LE(longestHole(*video), 0.5);
    EXPECT_LE(longestHole(*audio), 0.5);
    EXPECT_NEAR(probeMedia(mp4()).duration, 5.0, 0.5);
}

TEST_F(MergeTest, FragmentedSegmentsFollowTheirInitialisationSection)
{
    fs::path fixture = hlsFixture("fmp4", 4);
    ASSERT_FALSE(fixture.empty());
    fs::copy_file(fixture / "init.mp4", episode / "map1.mp4");
    auto entries = copySegments(fixture, ".m4s", 4, 1, false, "map1.mp4");
    ASSERT_TRUE(writeSegmentList(episode.string(), entries));
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    ASSERT_TRUE(report.remuxed);
    MediaInfo info = probeMedia(mp4());
    EXPECT_EQ(info.video, 1);
    EXPECT_EQ(info.audio, 1);
    EXPECT_NEAR(info.duration, 4.0, 0.5);
}

TEST_F(MergeTest, GapsAreNamedAndNonMediaIsJoinedByteForByteInNumberOrder)
{
    // Twelve numbered files of plain text, without a list: merged 1 … 12 by number (10 after 9,
    // not after 1), 3.ts missing. Text cannot be remuxed, so the bytes are joined.
    std::string expected;
    for (int i = 1; i <= 12; ++i) {
        std::string part = "<" + std::to_string(i) + ">";
        if (i != 3) {
            writeFile(episode / (std::to_string(i) + ".ts"), part);
            expected += part;
        }
    }
    writeFile(episode / "12.ts", "<12>");
    writeFile(episode / "notes.txt", "ignored");
    view.deleteChecked = true;
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_FALSE(report.remuxed);
    EXPECT_EQ(report.missing, std::vector<int>{3});
    EXPECT_EQ(readFile(u8(mp4())), expected);
    auto row = view.row(0);
    EXPECT_EQ(row.cells[kColumnStatus], "缺1段");
    EXPECT_EQ(row.cells[kColumnDownloaded], "11");
    EXPECT_TRUE(row.checked); // stays selected so the next run fetches the gap
    EXPECT_EQ(view.logCountPrefix(kMergeLog, "转换MP4失败"), 1);
    EXPECT_TRUE(view.logHas(kMergeLog, "第 1 集缺少 1 个分段: 3.ts"));
    // Nothing is deleted while a segment is missing.
    EXPECT_TRUE(fs::exists(episode / "1.ts"));
}

TEST_F(MergeTest, DeleteOptionRemovesACompleteFolderAndASecondMergeReplacesTheFile)
{
    writeFile(episode / "1.ts", "aaaa");
    writeFile(episode / "2.ts", "bb");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(readFile(u8(mp4())), "aaaabb");
    writeFile(episode / "1.ts", "c");
    view.deleteChecked = true;
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(readFile(u8(mp4())), "cbb");
    EXPECT_FALSE(fs::exists(episode));
    EXPECT_EQ(view.row(0).cells[kColumnStatus], "完成");
}

// Three segments of plain text (joined byte for byte), listed, so a missing one is a gap.
class KeptFileTest : public MergeTest {
protected:
    void SetUp() override
    {
        MergeTest::SetUp();
        ASSERT_TRUE(writeSegmentList(episode.string(),
                                     {{1, 1, {}, false}, {2, 1, {}, false}, {3, 1, {}, false}}));
    }
    void segments(const std::string& a, const std::string& b, const std::string& c)
    {
        const std::string texts[] = {a, b, c};
        for (int i = 0; i < 3; ++i) {
            const fs::path name = episode / (std::to_string(i + 1) + ".ts");
            if (texts[i].empty())
                fs::remove(name);
            else
                writeFile(name, texts[i]);
        }
    }
    fs::path file(const std::string& name) const { return series / name; }
    std::string status() { return view.row(0).cells[kColumnStatus]; }
};

TEST_F(KeptFileTest, AnIncompleteMergeGoesBesideACompleteFileAndACompleteOneReplacesBoth)
{
    segments("<1>", "<2>", "<3>");
    mergeSegments(view, 0, "1", seriesText());
    ASSERT_EQ(status(), "完成");
    ASSERT_EQ(readFile(file("1.mp4")), "<1><2><3>");

    // A merge that died half-way left its file aside; then segment 2 is lost and the episode is
    // merged again.
    writeFile(file("1.mp4.part"), "half of an older merge");
    segments("<1>", "", "<3>");
    view.setRowChecked(0, true);
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_TRUE(report.keptComplete);
    EXPECT_EQ(readFile(file("1.mp4")), "<1><2><3>");
    EXPECT_EQ(readFile(file("1.缺段.mp4")), "<1><3>");
    EXPECT_FALSE(fs::exists(file("1.mp4.part")));
    EXPECT_EQ(status(), "缺1段,已保留完整的1.mp4,本次结果在1.缺段.mp4");
    EXPECT_TRUE(view.logHas(kMergeLog, "第 1 集缺少 1 个分段: 2.ts"));
    EXPECT_TRUE(view.logHas(kMergeLog,
                            "第 1 集已有完整的 1.mp4,予以保留;本次合并不完整,结果写入 1.缺段.mp4"));
    EXPECT_TRUE(view.row(0).checked);

    // Again incomplete: the complete file still stays, the newer incomplete result replaces the
    // older one.
    segments("<1>", "<2>", "");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(readFile(file("1.mp4")), "<1><2><3>");
    EXPECT_EQ(readFile(file("1.缺段.mp4")), "<1><2>");

    // Complete at last: it replaces the file and the incomplete one goes.
    segments("<1>", "<2>", "<C>");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(status(), "完成");
    EXPECT_EQ(readFile(file("1.mp4")), "<1><2><C>");
    EXPECT_FALSE(fs::exists(file("1.缺段.mp4")));
    EXPECT_TRUE(view.logHas(kMergeLog, "第 1 集已删除过时的 1.缺段.mp4"));
    EXPECT_FALSE(view.row(0).checked);
}

TEST_F(KeptFileTest, WithoutACompleteFileTheIncompleteMergeIsTheEpisodesFileUntilACompleteOne)
{
    // Nothing to play yet: the incomplete merge is the episode's file, and says so.
    segments("<1>", "", "<3>");
    MergeReport report = mergeSegments(view, 0, "1", seriesText());
    EXPECT_FALSE(report.keptComplete);
    EXPECT_EQ(readFile(file("1.mp4")), "<1><3>");
    EXPECT_FALSE(fs::exists(file("1.缺段.mp4")));
    EXPECT_EQ(status(), "缺1段");
    EXPECT_TRUE(view.logHas(kMergeLog, "第 1 集还没有完整的文件,本次不完整的合并结果写入 1.mp4"));

    // It is known to be incomplete, so the next incomplete merge may replace it, and a complete
    // one does.
    segments("<1>", "<2>", "");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(readFile(file("1.mp4")), "<1><2>");
    EXPECT_FALSE(fs::exists(file("1.缺段.mp4")));
    segments("<1>", "<2>", "<3>");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(status(), "完成");
    EXPECT_EQ(readFile(file("1.mp4")), "<1><2><3>");

    // From here on the file is complete and stays.
    segments("", "<2>", "<3>");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(readFile(file("1.mp4")), "<1><2><3>");
    EXPECT_EQ(readFile(file("1.缺段.mp4")), "<2><3>");
}

TEST_F(KeptFileTest, ALeftoverOfAMergeThatDiedIsNoOutput)
{
    // No segment at all: nothing is written, and the leftover goes rather than stand in for a file.
    segments("", "", "");
    writeFile(file("1.mp4.part"), "half of an older merge");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(status(), "缺3段");
    EXPECT_FALSE(fs::exists(file("1.mp4")));
    EXPECT_FALSE(fs::exists(file("1.mp4.part")));

    // With a complete file there, a merge that writes nothing leaves it as it is and says so.
    writeFile(file("1.mp4"), "complete");
    mergeSegments(view, 0, "1", seriesText());
    EXPECT_EQ(readFile(file("1.mp4")), "complete");
    EXPECT_EQ(status(), "缺3段,已保留原有的1.mp4");
    EXPECT_TRUE(view.logHas(kMergeLog, "第 1 集原有的 1.mp4 保持不变"));
}

} // namespace
