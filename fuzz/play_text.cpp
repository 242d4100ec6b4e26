// A series' play text split into its fields and paired into episodes.
#include "fuzz_input.h"
#include "playback/episode_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TextList fields = splitPlayText(text);
    for (const std::string& field : fields)
        FUZZ_CHECK(!field.empty());
    pairEpisodes(text);
    return 0;
}
