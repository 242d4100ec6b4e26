// The player poll's split of a page's time text ("01:02:03", "4:05") into seconds.
#include "fuzz_input.h"
#include "playback/player_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> parts = splitTime(text);
    for (const std::string& part : parts)
        FUZZ_CHECK(!part.empty());
    seconds(parts);
    return 0;
}
