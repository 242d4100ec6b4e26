#pragma once
// The embedded-browser step of start-up on systems that can host it.

class QWidget;

// The address of the browser runtime's download page offered when the runtime is missing.
inline constexpr const char* kBrowserRuntimeDownloadPage =
    "https://developer.microsoft.com/zh-cn/microsoft-edge/webview2/consumer/";

// Writes and loads the bridge library into the data folder, checks that a browser can be
// started, and starts the bridge. When the browser runtime is missing, asks (owned by owner)
// whether to open its download page and returns false. GUI thread.
bool startBrowserAtStartup(QWidget* owner);
