// Merging an episode folder into one MP4: real remux, order by number, gaps, byte-join fallback,
// discontinuities, initialisation sections and the delete option.
#include "download/merge_segments.h"

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
    std::vector<SegmentListEntry> copySegments(const fs::path& fixture, const std::string& ext, int count, int first,
                                              bool discontinuity, const std::string& map = {})
    {
        std::vector<SegmentListEntry> entries;
        for (int i = 0; i < count; ++i) {
            fs::copy_file(fixture / ("seg" + std::to_string(i) + ext), episode / (std::to_string(first + i) + ".ts"),
                          fs::copy_options::overwrite_existing);
            entries.push_back(SegmentListEntry{first + i, 1.0, map, discontinuity && i == 0});
        }
        return entries;
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

} // namespace
