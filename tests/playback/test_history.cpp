// The watch history: entries moved to the end, the limit, exact name comparison, unreadable
// histories, the stored form, and saves that run at the same time.

#include "playback/history.h"

#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "net/json_document.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    EXPECT_EQ(*historyWithEntry("", {"甲剧", "01", "http://a/1/index.m3u8", "http://b/1.m3u8"}),
              R"({"data":[{"名":"甲剧","集":"01","URL":"http://a/1/index.m3u8","m3u8":"http://b/1.m3u8"}]})");
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
    const std::vector<std::string> names = namesIn(*historyWithEntry(full, {"新剧", "1", "u", "m"}));
    ASSERT_EQ(names.size(), 100u);
    EXPECT_EQ(names.front(), "剧1");
    EXPECT_EQ(names.back(), "新剧");
    // A series already in a full history is moved, nothing else is dropped.
    const std::vector<std::string> moved = namesIn(*historyWithEntry(full, {"剧50", "2", "u", "m"}));
    ASSERT_EQ(moved.size(), 100u);
    EXPECT_EQ(moved.front(), "剧0");
    EXPECT_EQ(moved.back(), "剧50");
}

TEST(HistoryWithEntry, AnUnreadableHistoryStartsANewList)
{
    for (const char* damaged : {"", "{\"data\":[{\"名\":\"甲\"", "not json", "{\"data\":\"x\"}", "{}"}) {
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

} // namespace
