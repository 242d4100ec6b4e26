#include "playback/episode_list.h"
#include "playback/play_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A play source of count episodes "第NN集$<prefix>N".
std::string source(const std::string& prefix, int count)
{
    std::string text;
    for (int i = 1; i <= count; ++i) {
        if (i > 1)
            text += "#";
        text += "第" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "集$" + prefix +
                std::to_string(i);
    }
    return text;
}

std::string describe(const std::vector<Episode>& episodes)
{
    std::string text;
    for (const Episode& e : episodes)
        text += e.label + "|" + e.url + "|" + e.m3u8 + ";";
    return text;
}

} // namespace

TEST(SplitPlayText, RewritesAndSplitsIntoFields)
{
    struct Case {
        std::string playText;
        TextList fields;
    };
    const Case cases[] = {
        {"第01集$A1#第02集$A2$$$第01集$B1#第02集$B2",
         {"01", "A1", "02", "A2", "01", "B1", "02", "B2"}},
        {"第1季第2集$https:\\/\\/v.example\\/a.m3u8", {"1季2", "https://v.example/a.m3u8"}},
        {"第01集$A1##第02集$A2#", {"01", "A1", "02", "A2"}},
        {"noseparators", {"noseparators"}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitPlayText(c.playText), c.fields) << c.playText;
}

TEST(PairEpisodes, FollowsTheStructureOfThePlayText)
{
    struct Case {
        std::string name;
        std::string playText;
        std::string episodes;
    };
    const Case cases[] = {
        {"two equal sources", source("A", 2) + "$$$" + source("B", 2), "01|A1|B1;02|A2|B2;"},
        {"one source of five keeps all five", source("A", 5),
         "01|A1|A1;02|A2|A2;03|A3|A3;04|A4|A4;05|A5|A5;"},
        {"second source shorter", source("A", 3) + "$$$" + source("B", 2),
         "01|A1|B1;02|A2|B2;03|A3|A3;"},
        {"second source longer", source("A", 1) + "$$$" + source("B", 3), "01|A1|B1;"},
        {"third source ignored", source("A", 1) + "$$$" + source("B", 1) + "$$$" + source("C", 1),
         "01|A1|B1;"},
        {"doubled and trailing separators", "第01集$A1##第02集$A2#$$$第01集$B1#第02集$B2",
         "01|A1|B1;02|A2|B2;"},
        {"empty first source", "$$$" + source("B", 2), "01|B1|B1;02|B2|B2;"},
        {"season label and escaped slashes", "第1季第2集$https:\\/\\/v\\/a.m3u8",
         "1季2|https://v/a.m3u8|https://v/a.m3u8;"},
        {"pieces without a label are numbered", "https://v/1.m3u8#https://v/2.m3u8",
         "1|https://v/1.m3u8|https://v/1.m3u8;2|https://v/2.m3u8|https://v/2.m3u8;"},
        {"empty address kept", "第01集$#第02集$A2", "01||;02|A2|A2;"},
        {"empty text", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(pairEpisodes(c.playText)), c.episodes) << c.name;

    const std::vector<Episode> twelve = pairEpisodes(source("A", 12) + "$$$" + source("B", 12));
    ASSERT_EQ(twelve.size(), 12u);
    EXPECT_EQ(twelve[11].label, "12");
    EXPECT_EQ(twelve[11].url, "A12");
    EXPECT_EQ(twelve[11].m3u8, "B12");
}

TEST(OpenSeries, PublishedAsAWhole)
{
    OpenSeries series;
    series.episodeFields = splitPlayText(source("A", 2));
    series.episodes = pairEpisodes(source("A", 2));
    publishOpenSeries(series);
    EXPECT_EQ(episodeFields(), (TextList{"01", "A1", "02", "A2"}));
    EXPECT_EQ(openSeries()->episodes.size(), 2u);
}

// A reader holding a snapshot keeps a whole list while a writer keeps replacing it.
TEST(PlayList, ReadersSeeWholeListsOnly)
{
    publishPlayList({});
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 1; round <= 2000; ++round) {
            TextList entries;
            for (int i = 0; i < round % 50 + 1; ++i) {
                entries.push_back(std::to_string(i));
                entries.push_back("url" + std::to_string(round));
                entries.push_back("m3u8" + std::to_string(round));
            }
            publishPlayList(std::move(entries));
        }
        stop = true;
    });
    int reads = 0;
    while (!stop || reads == 0) {
        const std::shared_ptr<const TextList> list = playList();
        ASSERT_TRUE(list != nullptr);
        ASSERT_EQ(list->size() % 3, 0u);
        for (std::size_t i = 1; i < list->size(); i += 3)
            ASSERT_EQ((*list)[i].substr(3), (*list)[1].substr(3));
        ++reads;
    }
    writer.join();
}
