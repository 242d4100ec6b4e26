// Which play source a series is played and downloaded from, and how its episodes pair across
// sources, on play texts shaped as catalogue servers send them (vod_play_from / vod_play_url of
// an ac=detail answer).
#include "playback/play_sources.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::string twoDigits(int n)
{
    return (n < 10 ? "0" : "") + std::to_string(n);
}

// One source: "第NN集$address" for each episode number, "#" between them.
std::string source(const std::vector<int>& numbers, const std::function<std::string(int)>& address)
{
    std::string text;
    for (int n : numbers) {
        if (!text.empty())
            text += "#";
        text += "第" + twoDigits(n) + "集$" + address(n);
    }
    return text;
}

std::vector<int> upTo(int count)
{
    std::vector<int> numbers;
    for (int n = 1; n <= count; ++n)
        numbers.push_back(n);
    return numbers;
}

// Addresses as the usual kinds of source give them: an official site's episode page, a
// resource site's share page, and two resource sites' HLS playlists.
std::string qq(int n)
{
    return "https://v.qq.com/x/cover/mzc002006n62s11/e00" + twoDigits(n) + ".html";
}
std::string share(int n)
{
    return "https://share.lz.example/share/7f3a" + twoDigits(n);
}
std::string lz(int n)
{
    return "https://v.lz.example/20240312/" + std::to_string(4100 + n) + "_a1/index.m3u8";
}
std::string ff(int n)
{
    return "https://vip.ff.example/20240312/" + std::to_string(900 + n) + "_b2/index.m3u8";
}

// label|url|m3u8|download; for each episode.
std::string describe(const std::vector<Episode>& episodes)
{
    std::string text;
    for (const Episode& e : episodes)
        text += e.label + "|" + e.url + "|" + e.m3u8 + "|" + e.download + ";";
    return text;
}

// The episodes numbered so, all played and downloaded from address.
std::string played(const std::vector<int>& numbers, const std::function<std::string(int)>& address)
{
    std::string text;
    for (int n : numbers)
        text += twoDigits(n) + "|" + address(n) + "|" + address(n) + "|" + address(n) + ";";
    return text;
}

// An episode listed by the first source only: shown, neither played nor downloaded.
std::string listedOnly(int n)
{
    return twoDigits(n) + "|||;";
}

} // namespace

TEST(SelectEpisodes, PlaysAndDownloadsTheFirstHlsSourcePairedByLabel)
{
    struct Case {
        std::string name;
        std::string playFrom;
        std::string playUrl;
        std::string episodes;
    };
    const std::vector<int> three = upTo(3);
    std::string thirty;
    for (int n = 28; n <= 30; ++n)
        thirty += listedOnly(n);
    const Case cases[] = {
        {"official site, then two HLS sources: the first HLS one", "qq$$$lzm3u8$$$ffm3u8",
         source(three, qq) + "$$$" + source(three, lz) + "$$$" + source(three, ff),
         played(three, lz)},
        {"share pages first", "lzyun$$$lzm3u8", source(three, share) + "$$$" + source(three, lz),
         played(three, lz)},
        {"official site first", "qq$$$ffm3u8", source(three, qq) + "$$$" + source(three, ff),
         played(three, ff)},
        {"HLS source first", "ffm3u8$$$qq", source(three, ff) + "$$$" + source(three, qq),
         played(three, ff)},
        {"the HLS source lags: 30 listed, 27 playable", "qq$$$lzm3u8",
         source(upTo(30), qq) + "$$$" + source(upTo(27), lz), played(upTo(27), lz) + thirty},
        {"the HLS source is ahead of the first one", "qq$$$lzm3u8",
         source(upTo(27), qq) + "$$$" + source(upTo(30), lz), played(upTo(30), lz)},
        {"a gap in the HLS source stays in its place", "qq$$$lzm3u8",
         source(three, qq) + "$$$" + source({1, 3}, lz),
         played({1}, lz) + listedOnly(2) + played({3}, lz)},
        {"newest first in the HLS source: its order, paired by label", "qq$$$lzm3u8",
         source(three, qq) + "$$$" + source({3, 2, 1}, lz), played({3, 2, 1}, lz)},
        {"labels 1 and 01 are one episode", "qq$$$lzm3u8",
         "第1集$" + qq(1) + "#第2集$" + qq(2) + "$$$" + source({1, 2}, lz), played({1, 2}, lz)},
        {"a single non-HLS source is played as it is, nothing to download", "qq", source(three, qq),
         "01|" + qq(1) + "||;02|" + qq(2) + "||;03|" + qq(3) + "||;"},
        {"two non-HLS sources: the first", "qq$$$lzyun",
         source(three, qq) + "$$$" + source(three, share),
         "01|" + qq(1) + "||;02|" + qq(2) + "||;03|" + qq(3) + "||;"},
        {"a label twice (two parts of one episode) pairs occurrence by occurrence", "qq$$$lzm3u8",
         source({1, 1, 2, 3}, qq) + "$$$第01集$" + lz(1) + "#第01集$" + lz(11) + "#第02集$" + lz(2),
         played({1}, lz) + "01|" + lz(11) + "|" + lz(11) + "|" + lz(11) + ";" + played({2}, lz) +
             listedOnly(3)},
        {"a film labelled differently in each source: the HLS one", "qq$$$lzm3u8",
         "正片$" + qq(1) + "$$$HD$" + lz(1), "HD|" + lz(1) + "|" + lz(1) + "|" + lz(1) + ";"},
        {"HLS by its addresses (query allowed) when the name does not say", "lzyun$$$lzzy",
         source(three, share) + "$$$" + source(three, [](int n) { return lz(n) + "?sign=9c1e"; }),
         played(three, [](int n) { return lz(n) + "?sign=9c1e"; })},
        {"HLS by its name in any letter case", "qq$$$LZM3U8",
         source(three, qq) + "$$$" +
             source(three, [](int n) { return "https://v.lz.example/hls/" + twoDigits(n); }),
         played(three, [](int n) { return "https://v.lz.example/hls/" + twoDigits(n); })},
        {"an empty first source counts for nothing", "qq$$$lzm3u8", "$$$" + source(three, lz),
         played(three, lz)},
        {"fewer names than sources: the rest by their addresses", "lzyun",
         source(three, share) + "$$$" + source(three, lz), played(three, lz)},
        {"escaped slashes", "qq$$$lzm3u8",
         "第01集$https:\\/\\/v.qq.com\\/a.html$$$第01集$https:\\/\\/v.lz.example\\/1\\/index.m3u8",
         "01|https://v.lz.example/1/index.m3u8|https://v.lz.example/1/index.m3u8|https://"
         "v.lz.example/1/index.m3u8;"},
        {"no play text", "qq$$$lzm3u8", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(selectEpisodes(c.playFrom, c.playUrl)), c.episodes) << c.name;
}

// Older servers send no vod_play_from: episodes pair by position, as before, and each is
// downloaded through whichever of its two addresses is an HLS playlist.
TEST(SelectEpisodes, WithoutSourceNamesPairsByPosition)
{
    struct Case {
        std::string name;
        std::string playUrl;
        std::string episodes;
    };
    const Case cases[] = {
        {"share pages, then HLS", source({1, 2}, share) + "$$$" + source({1, 2}, lz),
         "01|" + share(1) + "|" + lz(1) + "|" + lz(1) + ";02|" + share(2) + "|" + lz(2) + "|" +
             lz(2) + ";"},
        {"HLS, then share pages", source({1}, lz) + "$$$" + source({1}, share),
         "01|" + lz(1) + "|" + share(1) + "|" + lz(1) + ";"},
        {"a shorter HLS source leaves the rest without a download",
         source({1, 2}, share) + "$$$" + source({1}, lz),
         "01|" + share(1) + "|" + lz(1) + "|" + lz(1) + ";02|" + share(2) + "|" + share(2) + "|;"},
        {"one HLS source", source({1}, lz), "01|" + lz(1) + "|" + lz(1) + "|" + lz(1) + ";"},
        {"capital letters are no HLS playlist", "第01集$https://h/1/INDEX.M3U8",
         "01|https://h/1/INDEX.M3U8|https://h/1/INDEX.M3U8|;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(selectEpisodes("", c.playUrl)), c.episodes) << c.name;
        EXPECT_EQ(describe(selectEpisodes(" ", c.playUrl)), c.episodes)
            << c.name << " (blank names)";
    }
}

TEST(IsHlsAddress, PathEndsInM3u8)
{
    const std::pair<std::string, bool> cases[] = {
        {"https://v.lz.example/20240312/4101_a1/index.m3u8", true},
        {"https://v.lz.example/hls/playlist.m3u8?sign=9c1e&t=1710000000", true},
        {"https://v.lz.example/a.m3u8 ", true},
        {"https://v.lz.example/a.M3U8", false},
        {"https://share.lz.example/share/7f3a01", false},
        {"https://h/player/?url=https://v.lz.example/a.m3u8", false},
        {"https://v.lz.example/a.m3u8.html", false},
        {".m3u8", false},
        {"", false},
    };
    for (const auto& [address, hls] : cases)
        EXPECT_EQ(isHlsAddress(address), hls) << address;
}

TEST(DownloadAddresses, OnePerEpisodeInOrder)
{
    const std::vector<Episode> episodes =
        selectEpisodes("qq$$$lzm3u8", source(upTo(3), qq) + "$$$" + source({1, 3}, lz));
    EXPECT_EQ(downloadAddresses(episodes), (std::vector<std::string>{lz(1), "", lz(3)}));
}
