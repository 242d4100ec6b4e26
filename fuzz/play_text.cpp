// A series' play text split into its fields and paired into episodes by position; and the input
// cut at its first zero byte into source names and a play text whose episodes are taken by source.
#include "fuzz_input.h"
#include "playback/episode_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TextList fields = splitPlayText(text);
    for (const std::string& field : fields)
        FUZZ_CHECK(!field.empty());
    pairEpisodes(text);

    const std::vector<std::string> pieces = fuzzPieces(data, size, 2);
    // What is downloaded is one of the episode's own addresses, or nothing.
    for (const Episode& episode : selectEpisodes(pieces[0], pieces[1]))
        FUZZ_CHECK(episode.download.empty() || episode.download == episode.m3u8 ||
                   episode.download == episode.url);
    return 0;
}
