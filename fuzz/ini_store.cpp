// The settings store's INI reader and writer on a file of arbitrary bytes.
// Input: file bytes \0 section \0 key \0 value.
#include "app/paths.h"
#include "app/settings_store.h"
#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string fuzzProgramFolder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/qy-fuzz-ini-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto pieces = fuzzPieces(data, size, 4);
    setProgramFolderForTesting(fuzzProgramFolder());
    ensureDataFolder();
    {
        std::ofstream file(settingsPath(), std::ios::binary | std::ios::trunc);
        file.write(pieces[0].data(), static_cast<std::streamsize>(pieces[0].size()));
    }
    readSetting(pieces[1], pieces[2]);
    readFlag(pieces[1], pieces[2], std::string("真"));
    writeSetting(pieces[1], pieces[2], pieces[3]);
    readSetting(pieces[1], pieces[2]);
    readSetting("配置项", "线路");
    return 0;
}
