#pragma once
// Fixed identity texts of the program.

// The only version identity the update check compares with the published one. The build reads
// it from this line (cmake/Version.cmake) as the version of the package.
inline constexpr const char* kCurrentVersion = "7.4";
// The user community group shown in the ready line, the blurb's design text and the notice.
inline constexpr const char* kGroupNumber = "876543210";
// The caption of the main window.
inline constexpr const char* kMainWindowCaption = "青柚动漫";

#include <string>

// The watch history as one JSON text (setting 数据 of section 观看历史), read once by the start-up
// bootstrap and replaced by the history writer after each save. Safe from any thread.
std::string historyText();
void setHistoryText(const std::string& text);
