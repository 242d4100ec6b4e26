#include "ui/browser_startup.h"

#include "app/paths.h"
#include "app/status_log.h"
#include "playback/bridge_library.h"
#include "ui/message_box.h"
#include "util/gui_thread.h"

#include <QDesktopServices>
#include <QUrl>

bool startBrowserAtStartup(QWidget* owner)
{
    gui::assertGuiThread();
    prepareBridgeLibrary(dataFolder());
    if (kovarwebview_has_edge() == 0) {
        const int answer = showMessageBox("点击 是 会打开浏览器下载 , 是否继续 ?",
                                          "您系统缺少 webview2 组件", kMessageYesNo, owner);
        if (answer == kAnswerYes)
            QDesktopServices::openUrl(QUrl(QString::fromUtf8(kBrowserRuntimeDownloadPage)));
        return false;
    }
    // The page notifications are registered by the player controller once it exists.
    if (!startBridge({}))
        logStatus("浏览器组件初始化失败");
    return true;
}
