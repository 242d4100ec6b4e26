#pragma once
#include <cstdint>
#include <string_view>

// A text taken as an integer: its leading decimal digits, 0 when there are none. Leading spaces
// and tabs are skipped and one "-" or "+" may precede the digits (the program writes "-1" for
// "nothing selected"); the value saturates at the 32-bit limits.
int32_t textToInt(std::string_view text);
