#pragma once
// Built-in values of the optional "配置项" keys: they point at the bundled demo catalogue server
// (tools/demo), so the program works offline out of the box. "数据.ini" overrides each of them.

// 线路列表: catalogue hosts (host or host:port) separated by "|".
inline constexpr const char* kBuiltinRouteList = "127.0.0.1:47443";
// 播放器地址: the player page an episode address is appended to.
inline constexpr const char* kBuiltinPlayerPageEndpoint =
    "http://127.0.0.1:47080/player/jx.php?url=";
// 备用播放器地址: the second player page.
inline constexpr const char* kBuiltinAltPlayerEndpoint = "http://127.0.0.1:47080/m3u8/?url=";
// 更新地址: empty, so no update check is made.
inline constexpr const char* kBuiltinUpdateLink = "";
// The demo server: catalogue API over HTTPS, player pages and media over plain HTTP.
inline constexpr int kDemoHttpsPort = 47443;
inline constexpr int kDemoHttpPort = 47080;
