// The HLS playlist parser on arbitrary text, with and without a base address.
// Input: playlist text \0 base address.
#include "download/hls_playlist.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto pieces = fuzzPieces(data, size, 2);
    const std::string base = pieces[1].empty() ? "https://h.example/a/b/index.m3u8" : pieces[1];
    const HlsPlaylist list = parseHlsPlaylist(pieces[0], base);
    for (const HlsSegment& s : list.segments) {
        FUZZ_CHECK(s.keyIndex < static_cast<int>(list.keys.size()));
        FUZZ_CHECK(s.mapIndex < static_cast<int>(list.maps.size()));
        // Every range a request can be made of: its last byte is a representable offset.
        FUZZ_CHECK(s.range.whole() ||
                   (s.range.offset >= 0 &&
                    s.range.offset <= INT64_MAX - std::max<int64_t>(s.range.length, 1)));
    }
    // A small entry limit: the parse stops within it.
    const HlsPlaylist small = parseHlsPlaylist(pieces[0], base, 3);
    FUZZ_CHECK(small.segments.size() <= 3 && small.variants.size() <= 3 && small.keys.size() <= 3 &&
               small.maps.size() <= 3 && small.renditions.size() <= 3);
    const int best = bestVariant(list);
    FUZZ_CHECK(best < static_cast<int>(list.variants.size()));
    parseHlsPlaylist(pieces[0], "");
    parseAttributeList(pieces[0]);
    std::array<uint8_t, 16> iv{};
    parseIv(pieces[1], iv);
    resolveUrl(pieces[1], pieces[0]);
    return 0;
}
