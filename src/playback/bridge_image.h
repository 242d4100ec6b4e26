#pragma once
// The bridge library's whole file, embedded into the program when it is built.

#include <string_view>

extern const std::string_view bridgeImage;
