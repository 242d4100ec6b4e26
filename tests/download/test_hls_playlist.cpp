// Playlist reading: URI resolution, attribute lists, IVs, and media and master playlists.
#include "download/hls_playlist.h"

#include <gtest/gtest.h>

namespace {

TEST(ResolveUrl, ResolvesAgainstThePlaylistAddress)
{
    struct Case {
        const char* base;
        const char* ref;
        const char* expected;
    } cases[] = {
        {"http://h:8080/a/b/index.m3u8", "seg1.ts", "http://h:8080/a/b/seg1.ts"},
        {"http://h:8080/a/b/index.m3u8", "/s/1.ts", "http://h:8080/s/1.ts"},
        {"http://h:8080/a/b/index.m3u8", "../c/2.ts?x=1", "http://h:8080/a/c/2.ts?x=1"},
        {"http://h:8080/a/b/index.m3u8", "https://o.example/x.ts", "https://o.example/x.ts"},
        {"https://h/a/index.m3u8", "//cdn.example/v/1.ts", "https://cdn.example/v/1.ts"},
        {"http://h/a/index.m3u8?token=9", "1.ts", "http://h/a/1.ts"},
        {"http://h/a/index.m3u8\r\n", "1.ts\r\n", "http://h/a/1.ts"},
        {"not a url", "1.ts", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolveUrl(c.base, c.ref), c.expected) << c.base << " + " << c.ref;
}

TEST(AttributeList, QuotedValuesKeepCommasAndNamesAreUpperCase)
{
    auto attrs = parseAttributeList(
        R"(METHOD=AES-128,URI="k?a=1,b=2",iv=0x1F, CODECS="avc1.4d401f,mp4a.40.2")");
    ASSERT_EQ(attrs.size(), 4u);
    EXPECT_EQ(attrs[0], std::make_pair(std::string("METHOD"), std::string("AES-128")));
    EXPECT_EQ(attrs[1].second, "k?a=1,b=2");
    EXPECT_EQ(attrs[2].first, "IV");
    EXPECT_EQ(attrs[3].second, "avc1.4d401f,mp4a.40.2");
}

TEST(Iv, HexIsLeftPaddedToSixteenBytes)
{
    std::array<uint8_t, 16> iv{};
    ASSERT_TRUE(parseIv("0x1", iv));
    EXPECT_EQ(iv[15], 1);
    EXPECT_EQ(iv[0], 0);
    ASSERT_TRUE(parseIv("0X000102030405060708090a0b0c0d0e0f", iv));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(iv[i], i);
    EXPECT_FALSE(parseIv("1234", iv));
    EXPECT_FALSE(parseIv("0xZZ", iv));
    EXPECT_FALSE(parseIv("0x" + std::string(34, 'a'), iv));
}

std::vector<std::string> uris(const HlsPlaylist& p)
{
    std::vector<std::string> out;
    for (const auto& s : p.segments)
        out.push_back(s.uri);
    return out;
}

TEST(MediaPlaylist, SegmentLinesOfEveryFormCountAndTagsNever)
{
    const std::string base = "http://h:8080/v/index.m3u8";
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> expected;
    } cases[] = {
        {"bare names, LF",
         "#EXTM3U\n#EXTINF:1,\na.ts\n#EXTINF:1,\nb.ts\n",
         {"http://h:8080/v/a.ts", "http://h:8080/v/b.ts"}},
        {"CRLF and no final line feed",
         "#EXTM3U\r\n#EXTINF:1,\r\n/s/1.ts\r\n#EXTINF:1,\r\n/s/2.ts",
         {"http://h:8080/s/1.ts", "http://h:8080/s/2.ts"}},
        {"full addresses",
         "#EXTM3U\n#EXTINF:1,\nhttps://cdn.example:444/x/1.ts\n",
         {"https://cdn.example:444/x/1.ts"}},
        {"key tag with a path is no segment",
         "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"/k/key.bin\"\n#EXTINF:1,\nseg/1.ts\n",
         {"http://h:8080/v/seg/1.ts"}},
        {"comments, blank lines and a BOM",
         "\xEF\xBB\xBF#EXTM3U\n# a comment\n\n#EXTINF:2.5,title, with comma\n1.ts\n",
         {"http://h:8080/v/1.ts"}},
        {"no #EXTM3U: not a playlist", "<html>404 not found</html>\nfoo/bar.ts\n", {}},
    };
    for (const auto& c : cases) {
        HlsPlaylist p = parseHlsPlaylist(c.text, base);
        EXPECT_EQ(uris(p), c.expected) << c.name;
        EXPECT_FALSE(p.master) << c.name;
    }
    EXPECT_FALSE(parseHlsPlaylist("<html>", base).valid);
}

TEST(MediaPlaylist, DurationsSequenceAndDiscontinuity)
{
    HlsPlaylist p = parseHlsPlaylist("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:7\n#EXTINF:2.5,\n1.ts\n"
                                     "#EXT-X-DISCONTINUITY\n#EXTINF:1.25,\n2.ts\n#EXT-X-ENDLIST\n",
                                     "http://h/a.m3u8");
    ASSERT_EQ(p.segments.size(), 2u);
    EXPECT_DOUBLE_EQ(p.segments[0].duration, 2.5);
    EXPECT_EQ(p.segments[0].sequence, 7);
    EXPECT_EQ(p.segments[1].sequence, 8);
    EXPECT_FALSE(p.segments[0].discontinuity);
    EXPECT_TRUE(p.segments[1].discontinuity);
    EXPECT_TRUE(p.endList);
}

TEST(MediaPlaylist, ByteRangesContinueWhereThePreviousEnded)
{
    HlsPlaylist p = parseHlsPlaylist("#EXTM3U\n#EXTINF:1,\n#EXT-X-BYTERANGE:100@0\nall.ts\n"
                                     "#EXTINF:1,\n#EXT-X-BYTERANGE:50\nall.ts\n"
                                     "#EXTINF:1,\n#EXT-X-BYTERANGE:10@500\nall.ts\n"
                                     "#EXTINF:1,\nwhole.ts\n",
                                     "http://h/a.m3u8");
    ASSERT_EQ(p.segments.size(), 4u);
    EXPECT_EQ(p.segments[0].range.offset, 0);
    EXPECT_EQ(p.segments[0].range.length, 100);
    EXPECT_EQ(p.segments[1].range.offset, 100);
    EXPECT_EQ(p.segments[1].range.length, 50);
    EXPECT_EQ(p.segments[2].range.offset, 500);
    EXPECT_TRUE(p.segments[3].range.whole());
}

// Ranges whose end lies past the largest offset, by themselves or by continuing the one before,
// stop the parse with an error instead of wrapping around.
TEST(MediaPlaylist, ByteRangesThatCannotBeAreAnError)
{
    struct Case {
        const char* lines;
        bool ok;
    } cases[] = {
        {"#EXT-X-BYTERANGE:9223372036854775807@0\nall.ts\n", true},
        {"#EXT-X-BYTERANGE:1@9223372036854775806\nall.ts\n", true},
        {"#EXT-X-BYTERANGE:2@9223372036854775806\nall.ts\n", false},
        {"#EXT-X-BYTERANGE:9223372036854775000@9223372036854775000\nall.ts\n", false},
        {"#EXT-X-BYTERANGE:0@9223372036854775807\nall.ts\n", false},
        // Each fits; the second, starting where the first ended, does not.
        {"#EXT-X-BYTERANGE:9223372036854775000@0\nall.ts\n#EXT-X-BYTERANGE:"
         "9223372036854775000\nall.ts\n",
         false},
        {"#EXT-X-BYTERANGE:-5@0\nall.ts\n", false},
        {"#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"9223372036854775807@9223372036854775807\"\nall."
         "ts\n",
         false},
        {"#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\nall.ts\n", true},
        // The sequence number goes on past the largest one without overflowing.
        {"#EXT-X-MEDIA-SEQUENCE:9223372036854775807\n#EXTINF:1,\nall.ts\n#EXTINF:1,\nall.ts\n",
         true},
    };
    for (const auto& c : cases) {
        HlsPlaylist p = parseHlsPlaylist(std::string("#EXTM3U\n") + c.lines, "http://h/a.m3u8");
        EXPECT_TRUE(p.valid) << c.lines;
        EXPECT_EQ(p.error, c.ok ? HlsError::None : HlsError::BadByteRange) << c.lines;
        if (c.ok)
            EXPECT_FALSE(p.segments.empty()) << c.lines;
        else
            EXPECT_FALSE(p.errorDetail.empty()) << c.lines;
    }
}

// A playlist of more entries than the limit is refused; its parse stops at the first entry past
// it instead of reading millions.
TEST(MediaPlaylist, MoreEntriesThanTheLimitStopTheParse)
{
    std::string media = "#EXTM3U\n";
    for (int i = 0; i < 100001; ++i)
        media += "#EXTINF:1,\ns.ts\n";
    HlsPlaylist p = parseHlsPlaylist(media, "http://h/a.m3u8");
    EXPECT_EQ(p.error, HlsError::TooManySegments);
    EXPECT_EQ(p.segments.size(), kMaxPlaylistEntries);
    // At the limit it is an ordinary playlist.
    p = parseHlsPlaylist(media.substr(0, media.size() - std::string("#EXTINF:1,\ns.ts\n").size()),
                         "http://h/a.m3u8");
    EXPECT_EQ(p.error, HlsError::None);
    EXPECT_EQ(p.segments.size(), kMaxPlaylistEntries);

    // Every other list is held to the limit as well (a limit of 2 here).
    struct Case {
        const char* kind;
        std::string entry;
    } cases[] = {
        {"variants", "#EXT-X-STREAM-INF:BANDWIDTH=1\nv.m3u8\n"},
        {"renditions", "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=\"a.m3u8\"\n"},
        {"keys", "#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n#EXTINF:1,\ns.ts\n"},
        {"maps", "#EXT-X-MAP:URI=\"i.mp4\"\n#EXTINF:1,\ns.ts\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseHlsPlaylist("#EXTM3U\n" + c.entry + c.entry, "http://h/a.m3u8", 2).error,
                  HlsError::None)
            << c.kind;
        EXPECT_EQ(
            parseHlsPlaylist("#EXTM3U\n" + c.entry + c.entry + c.entry, "http://h/a.m3u8", 2).error,
            HlsError::TooManyEntries)
            << c.kind;
    }
}

TEST(MediaPlaylist, KeysGiveIvFromTagOrSequenceAndNoneClears)
{
    HlsPlaylist p =
        parseHlsPlaylist("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:258\n"
                         "#EXT-X-KEY:METHOD=AES-128,URI=\"key1\"\n#EXTINF:1,\n1.ts\n"
                         "#EXT-X-KEY:METHOD=AES-128,URI=\"key1\",IV=0xA\n#EXTINF:1,\n2.ts\n"
                         "#EXT-X-KEY:METHOD=NONE\n#EXTINF:1,\n3.ts\n",
                         "http://h/x/a.m3u8");
    ASSERT_EQ(p.segments.size(), 3u);
    ASSERT_GE(p.segments[0].keyIndex, 0);
    EXPECT_EQ(p.keys[p.segments[0].keyIndex].uri, "http://h/x/key1");
    EXPECT_EQ(p.segments[0].iv[14], 1); // 258 = 0x0102
    EXPECT_EQ(p.segments[0].iv[15], 2);
    EXPECT_EQ(p.segments[1].iv[15], 0x0A);
    EXPECT_EQ(p.segments[1].iv[14], 0);
    EXPECT_EQ(p.segments[2].keyIndex, -1);
    EXPECT_TRUE(p.unsupportedMethod.empty());
}

TEST(MediaPlaylist, MethodsThatCannotBeDecryptedAreNamed)
{
    HlsPlaylist p = parseHlsPlaylist(
        "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:1,\n1.ts\n", "http://h/a.m3u8");
    EXPECT_EQ(p.unsupportedMethod, "SAMPLE-AES");
    // A key tag that no segment follows does not matter.
    p = parseHlsPlaylist("#EXTM3U\n#EXTINF:1,\n1.ts\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n",
                         "http://h/a.m3u8");
    EXPECT_TRUE(p.unsupportedMethod.empty());
}

TEST(MediaPlaylist, MapAppliesToTheSegmentsAfterIt)
{
    HlsPlaylist p =
        parseHlsPlaylist("#EXTM3U\n#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\n#EXTINF:1,\n"
                         "s1.m4s\n#EXTINF:1,\ns2.m4s\n",
                         "http://h/f/a.m3u8");
    ASSERT_EQ(p.maps.size(), 1u);
    EXPECT_EQ(p.maps[0].uri, "http://h/f/init.mp4");
    EXPECT_EQ(p.maps[0].range.length, 720);
    EXPECT_EQ(p.segments[0].mapIndex, 0);
    EXPECT_EQ(p.segments[1].mapIndex, 0);
}

TEST(MasterPlaylist, HighestAverageThenPeakBandwidthWinsAndTheFirstOnATie)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"three variants",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360\nlow/index.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=2800000,CODECS=\"avc1.4d401f,mp4a.40.2\"\nhigh/index.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1400000\nmid/index.m3u8\n",
         "http://h:81/m/high/index.m3u8"},
        {"tie",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=5\na.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=5\nb.m3u8\n",
         "http://h:81/m/a.m3u8"},
        {"media groups and an I-frame list do not count",
         "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=\"audio/a.m3u8\"\n"
         "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=9000000,URI=\"iframe.m3u8\"\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=100,AUDIO=\"a\"\r\n/abs/v.m3u8\r\n",
         "http://h:81/abs/v.m3u8"},
        {"the average decides over the peak",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=3000000,AVERAGE-BANDWIDTH=1000000\nspiky.m3u8\n"
         "#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=1500000,BANDWIDTH=2000000\nsteady.m3u8\n",
         "http://h:81/m/steady.m3u8"},
        {"equal averages: the higher peak",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1000,AVERAGE-BANDWIDTH=900\na.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1200,AVERAGE-BANDWIDTH=900\nb.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1200,AVERAGE-BANDWIDTH=900\nc.m3u8\n",
         "http://h:81/m/b.m3u8"},
        {"a variant without an average is ranked by its peak",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=5000,AVERAGE-BANDWIDTH=4000\na.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=4500\nb.m3u8\n",
         "http://h:81/m/b.m3u8"},
    };
    for (const auto& c : cases) {
        HlsPlaylist p = parseHlsPlaylist(c.text, "http://h:81/m/master.m3u8");
        ASSERT_TRUE(p.master) << c.name;
        int best = bestVariant(p);
        ASSERT_GE(best, 0) << c.name;
        EXPECT_EQ(p.variants[best].uri, c.expected) << c.name;
        EXPECT_TRUE(p.segments.empty()) << c.name;
    }
}

TEST(MasterPlaylist, AVariantPlaysWithTheDefaultOrFirstRenditionOfItsAudioGroup)
{
    const std::string media =
        "#EXTM3U\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"lo\",NAME=\"English\",LANGUAGE=\"en\",URI=\"a/"
        "lo-en.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"hi\",NAME=\"English\",LANGUAGE=\"en\",URI=\"a/"
        "hi-en.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"hi\",NAME=\"中文\",DEFAULT=YES,URI=\"/a/hi-zh.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"hi\",NAME=\"s\",DEFAULT=YES,URI=\"s.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"muxed\",NAME=\"main\",DEFAULT=YES\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=100,AUDIO=\"lo\"\nv/lo.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=900,AUDIO=\"hi\"\nv/hi.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=50,AUDIO=\"muxed\"\nv/muxed.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=40\nv/plain.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=30,AUDIO=\"none\"\nv/none.m3u8\n";
    HlsPlaylist p = parseHlsPlaylist(media, "http://h/m/master.m3u8");
    ASSERT_EQ(p.variants.size(), 5u);
    ASSERT_EQ(p.renditions.size(), 5u);
    EXPECT_EQ(bestVariant(p), 1);
    struct Case {
        size_t variant;
        std::string uri; // of the rendition chosen; "-" for none
    } cases[] = {
        {0, "http://h/m/a/lo-en.m3u8"}, // the only one, not marked default
        {1, "http://h/a/hi-zh.m3u8"},   // the default, not the first; subtitles do not count
        {2, ""},                        // carried in the variant's own stream
        {3, "-"},                       // no group
        {4, "-"},                       // a group without renditions
    };
    for (const auto& c : cases) {
        int r = audioRendition(p, p.variants[c.variant]);
        EXPECT_EQ(r < 0 ? "-" : p.renditions[r].uri, c.uri) << p.variants[c.variant].uri;
    }
    EXPECT_EQ(p.renditions[2].name, "中文");
    EXPECT_TRUE(p.renditions[2].isDefault);
    EXPECT_EQ(p.renditions[0].language, "en");
}

} // namespace
