#pragma once
// The fonts the windows ask for by name, each with the installed CJK face that stands in for it
// where the named font is missing (Noto Sans CJK for "微软雅黑", Noto Serif CJK for "宋体").

#include <QFont>

QFont yaheiFont(int pixelSize, bool bold = false);
QFont songtiFont(int pixelSize);
// The application's default font, set on a component so that it does not inherit the window's.
QFont defaultFont();
