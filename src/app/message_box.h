#pragma once
// Message boxes with the program's texts and the classic style numbers. The windows layer shows
// them (ui/message_box.h); the layers below are handed a MessageBox to call.

#include <functional>
#include <string>

// Style: the low four bits choose the buttons (0 OK, 1 OK and Cancel, 3 Yes, No and Cancel,
// 4 Yes and No), the next four the icon (0x10 critical, 0x20 question, 0x30 warning,
// 0x40 information, 0 none).
inline constexpr int kMessageOk = 0;
inline constexpr int kMessageYesNo = 4;
inline constexpr int kMessageInformation = 0x40;

// The answers, as the classic numbers: 1 OK, 2 Cancel, 6 Yes, 7 No.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// Shows text modally over the program's active window with the caption (an empty caption shows
// "信息：") and the style, and returns the answer. GUI thread.
using MessageBox =
    std::function<int(const std::string& text, const std::string& caption, int style)>;
