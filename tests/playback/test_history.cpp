// The watch history: entries moved to the end, the limit, exact name comparison, unreadable
// histories, the stored form with its position, histories stored without positions, and saves
// that run at the same time or one after another.

#include "playback/history.h"

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "net/json_document.h"
#include "playback/playback_state.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace {

std::string historyOf(const std::vector<HistoryEntry>& entries)
{
    std::string text;
    for (const HistoryEntry& e : entries)
        text = *historyWithEntry(text, e);
    return text;
}

std::vector<std::string> namesIn(const std::string& history)
{
    JsonDocument doc;
    doc.parse(history);
    std::vector<std::string> names;
    for (int i = 0; i < doc.count("data"); ++i)
        names.push_back(doc.getText("data[" + std::to_string(i) + "].名"));
    return names;
}

TEST(HistoryWithEntry, WritesTheCompactFormWithMembersInOrder)
{
    EXPECT_EQ(
        *historyWithEntry("", {"甲剧", "01", "http://a/1/index.m3u8", "http://b/1.m3u8", 1234}),
        R"({"data":[{"名":"甲剧","集":"01","URL":"http://a/1/index.m3u8","m3u8":"http://b/1.m3u8","秒":1234}]})");
    EXPECT_EQ(*historyWithEntry("", {"乙", "02", "u", "m"}),
              R"({"data":[{"名":"乙","集":"02","URL":"u","m3u8":"m","秒":0}]})");
}

TEST(HistoryWithEntry, EntriesStoredWithoutAPositionReadAsZeroAndKeepTheirForm)
{
    // A history as earlier versions stored it: four members per entry.
    const std::string old =
        R"({"data":[{"名":"甲","集":"01","URL":"u1","m3u8":"m1"},{"名":"乙","集":"07","URL":"u7","m3u8":"m7"}]})";
    EXPECT_EQ(storedPosition(old, "甲"), 0);
    EXPECT_EQ(storedPosition(old, "乙", "u7"), 0);
    const std::string after = *historyWithEntry(old, {"丙", "03", "u3", "m3", 95});
    EXPECT_EQ(after, R"({"data":[{"名":"甲","集":"01","URL":"u1","m3u8":"m1"},)"
                     R"({"名":"乙","集":"07","URL":"u7","m3u8":"m7"},)"
                     R"({"名":"丙","集":"03","URL":"u3","m3u8":"m3","秒":95}]})");
    EXPECT_EQ(storedPosition(after, "丙"), 95);
    // The position belongs to the stored episode: another URL of the series finds none.
    EXPECT_EQ(storedPosition(after, "丙", "u3"), 95);
    EXPECT_EQ(storedPosition(after, "丙", "u4"), 0);
    EXPECT_EQ(storedPosition(after, "丁"), 0);
    // A position stored as text, or damaged, reads as its leading digits.
    EXPECT_EQ(storedPosition(R"({"data":[{"名":"甲","秒":"61"}]})", "甲"), 61);
    EXPECT_EQ(storedPosition(R"({"data":[{"名":"甲","秒":"x"}]})", "甲"), 0);
    EXPECT_EQ(storedPosition("not json", "甲"), 0);
}

TEST(HistoryWithEntry, AHundredEntriesKeepTheirPositions)
{
    std::vector<HistoryEntry> entries;
    for (int i = 0; i < kHistoryLimit; ++i)
        entries.push_back({"剧" + std::to_string(i), "1", "u" + std::to_string(i), "m", i * 37});
    std::string history = historyOf(entries);
    // The same series saved again with a later position moves and keeps only the new one.
    history = *historyWithEntry(history, {"剧5", "1", "u5", "m", 4000});
    history = *historyWithEntry(history, {"新剧", "2", "v", "m", 12});
    ASSERT_EQ(namesIn(history).size(), 100u);
    EXPECT_EQ(storedPosition(history, "剧0"), 0); // dropped as the oldest
    EXPECT_EQ(storedPosition(history, "剧1"), 37);
    EXPECT_EQ(storedPosition(history, "剧99", "u99"), 99 * 37);
    EXPECT_EQ(storedPosition(history, "剧5"), 4000);
    EXPECT_EQ(storedPosition(history, "新剧"), 12);
    EXPECT_EQ(namesIn(history).back(), "新剧");
}

TEST(MinutesSeconds, CountsMinutesBeyondAnHour)
{
    const std::pair<int, const char*> cases[] = {{0, "00:00"},  {8, "00:08"},   {59, "00:59"},
                                                 {60, "01:00"}, {605, "10:05"}, {4503, "75:03"},
                                                 {-4, "00:00"}};
    for (const auto& [secs, text] : cases)
        EXPECT_EQ(minutesSeconds(secs), text) << secs;
}

TEST(HistoryWithEntry, ASeriesWatchedAgainMovesToTheEndWithItsNewEpisode)
{
    const std::string before = historyOf({{"甲", "01", "u1", "m1"}, {"乙", "05", "u5", "m5"}});
    const std::string after = *historyWithEntry(before, {"甲", "03", "u3", "m3"});
    EXPECT_EQ(namesIn(after), (std::vector<std::string>{"乙", "甲"}));
    JsonDocument doc;
    doc.parse(after);
    EXPECT_EQ(doc.getText("data[1].集"), "03");
    EXPECT_EQ(doc.getText("data[1].URL"), "u3");
}

TEST(HistoryWithEntry, NamesDifferingInLetterCaseAreTwoEntries)
{
    EXPECT_EQ(namesIn(historyOf({{"Abc", "1", "u", "m"}, {"abc", "2", "u", "m"}})),
              (std::vector<std::string>{"Abc", "abc"}));
}

TEST(HistoryWithEntry, AFullHistoryDropsItsOldestEntry)
{
    std::vector<HistoryEntry> entries;
    for (int i = 0; i < kHistoryLimit; ++i)
        entries.push_back({"剧" + std::to_string(i), "1", "u", "m"});
    const std::string full = historyOf(entries);
    ASSERT_EQ(namesIn(full).size(), 100u);
    const std::vector<std::string> names =
        namesIn(*historyWithEntry(full, {"新剧", "1", "u", "m"}));
    ASSERT_EQ(names.size(), 100u);
    EXPECT_EQ(names.front(), "剧1");
    EXPECT_EQ(names.back(), "新剧");
    // A series already in a full history is moved, nothing else is dropped.
    const std::vector<std::string> moved =
        namesIn(*historyWithEntry(full, {"剧50", "2", "u", "m"}));
    ASSERT_EQ(moved.size(), 100u);
    EXPECT_EQ(moved.front(), "剧0");
    EXPECT_EQ(moved.back(), "剧50");
}

TEST(HistoryWithEntry, AnUnreadableHistoryStartsANewList)
{
    for (const char* damaged :
         {"", "{\"data\":[{\"名\":\"甲\"", "not json", "{\"data\":\"x\"}", "{}"}) {
        SCOPED_TRACE(damaged);
        EXPECT_EQ(namesIn(*historyWithEntry(damaged, {"乙", "1", "u", "m"})),
                  (std::vector<std::string>{"乙"}));
    }
}

TEST(HistoryWithEntry, NoSeriesNameWritesNothing)
{
    EXPECT_FALSE(historyWithEntry("{\"data\":[]}", {"", "1", "u", "m"}).has_value());
}

class HistoryStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolderForTesting(dir.path().toStdString());
        ASSERT_TRUE(ensureDataFolder());
        setHistoryText("");
    }
    void TearDown() override { setProgramFolderForTesting(""); }
    QTemporaryDir dir;
};

TEST_F(HistoryStore, SavesWriteTheFileAndTheInMemoryText)
{
    saveHistory({"甲", "02", "u2", "m2"});
    EXPECT_EQ(readSetting("观看历史", "数据"), historyText());
    EXPECT_EQ(namesIn(historyText()), (std::vector<std::string>{"甲"}));
    saveHistory({"", "03", "u3", "m3"});
    EXPECT_EQ(namesIn(readSetting("观看历史", "数据")), (std::vector<std::string>{"甲"}));
}

TEST_F(HistoryStore, SavesAtTheSameTimeKeepEveryEntry)
{
    std::vector<std::thread> savers;
    for (int i = 0; i < 16; ++i)
        savers.emplace_back([i] { saveHistory({"剧" + std::to_string(i), "1", "u", "m"}); });
    for (std::thread& t : savers)
        t.join();
    const std::vector<std::string> names = namesIn(readSetting("观看历史", "数据"));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 16u);
    EXPECT_EQ(readSetting("观看历史", "数据"), historyText());
}

TEST_F(HistoryStore, SavesStartedOneAfterAnotherAreWrittenInThatOrder)
{
    // Position saves of one playing series, started on worker threads in quick succession: the
    // last one started is the one that stays, whichever thread runs first.
    setPlayingSeries("甲");
    for (int second = 1; second <= 40; ++second) {
        playbackState.setEpisode({"http://v/1/index.m3u8", "http://m/1.m3u8", "01"});
        startHistorySave(second);
    }
    for (int i = 0; i < 1000 && runningHistorySaves() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(runningHistorySaves(), 0);
    EXPECT_EQ(storedPosition(readSetting("观看历史", "数据"), "甲"), 40);
    // A save made directly waits for the saves started before it.
    startHistorySave(41);
    saveHistory({"甲", "02", "u2", "m2", 3});
    EXPECT_EQ(storedPosition(readSetting("观看历史", "数据"), "甲", "u2"), 3);
    setPlayingSeries("");
}

} // namespace
