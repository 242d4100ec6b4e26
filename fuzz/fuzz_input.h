#pragma once
// Splits a fuzzer's input into the pieces a harness hands to the code under test: pieces are
// separated by a zero byte, missing pieces are empty.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> fuzzPieces(const uint8_t* data, size_t size, size_t count)
{
    std::vector<std::string> pieces(count);
    size_t piece = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && piece + 1 < count)
            ++piece;
        else
            pieces[piece].push_back(static_cast<char>(data[i]));
    }
    return pieces;
}

// Stops the fuzzer with a sanitizer-style report when a property the code promises fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (0)
