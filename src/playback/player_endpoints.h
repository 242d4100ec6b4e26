#pragma once
// The two player-page services an episode address is appended to (unchanged, without encoding),
// and the page elements the program reads and drives on the two supported web players.

#include <string>

// 配置项 播放器地址, or the built-in demo player page when the key is missing or empty.
std::string playerPageEndpoint();
// 配置项 备用播放器地址, or the built-in second demo player page.
std::string altPlayerEndpoint();

// The episode's own address: url without a leading player-page or second player-page prefix.
// Addresses are compared and stored in this form, whichever page the browser loaded them through.
std::string episodeAddress(const std::string& url);

// Whether an episode address is played through a player page rather than loaded as it is: a
// stream address (one naming "index.m3u8", or any HLS playlist address) is; a share or site page
// is not.
bool playsOnPlayerPage(const std::string& url);

// Page elements (CSS selectors; indexes count from 1).
inline constexpr const char* kRemovedNoticeSelector = "body pre";
inline constexpr const char* kRemovedNoticeText = "视频已经被移除";
inline constexpr const char* kDplayerBezelIcon = ".dplayer-bezel-icon";
inline constexpr const char* kDplayerBezelIconShown = "16 32";
inline constexpr const char* kDplayerBezel = ".dplayer-bezel";
inline constexpr const char* kAliplayerBigPlay = ".prism-big-play-btn";
inline constexpr const char* kAliplayerBigPlayShown = "block";
inline constexpr const char* kDplayerElapsed = ".dplayer-ptime";
inline constexpr const char* kDplayerTotal = ".dplayer-dtime";
inline constexpr const char* kAliplayerElapsed = ".current-time";
inline constexpr const char* kAliplayerTotal = ".duration";
inline constexpr const char* kDplayerSpeedItem = ".dplayer-setting-speed-item";
inline constexpr const char* kDplayerCurrentSetting = ".current-setting";
inline constexpr const char* kDplayerFullscreen = ".dplayer-full-icon";
inline constexpr const char* kAliplayerFullscreen = ".prism-fullscreen-btn";
