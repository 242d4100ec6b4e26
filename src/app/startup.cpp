#include "app/startup.h"

#include "app/message_box.h"
#include "app/paths.h"
#include "app/program_values.h"
#include "app/settings_store.h"
#include "app/single_instance.h"
#include "app/status_log.h"
#include "app/update_check.h"
#include "platform/os_version.h"
#include "util/gui_call.h"
#include "util/text_number.h"

#include <cstdlib>
#include <thread>

namespace {

void endWith(const StartupSteps& steps)
{
    if (steps.endProcess)
        steps.endProcess();
    else
        std::exit(0); // NOLINT(concurrency-mt-unsafe): start-up, before any worker thread runs
}

} // namespace

std::string readyMessage()
{
    return std::string("青柚追剧,准备就绪粉丝群：") + kGroupNumber + "！";
}

void bootstrapSettings(const StartupSteps& steps)
{
    ensureSettingsFile();
    const int route = static_cast<int>(textToInt(readSetting("配置项", "线路")));
    gui::call([&steps, route] {
        if (steps.fillRouteBox)
            steps.fillRouteBox();
        if (steps.selectRoute)
            steps.selectRoute(route);
    });
    gui::call([&steps] {
        if (steps.startCatalogueLoad)
            steps.startCatalogueLoad(-2, 1);
    });
    setHistoryText(readSetting("观看历史", "数据"));
    const QDate today = QDate::currentDate();
    gui::call([&steps, today] {
        if (steps.fillDateLabels)
            steps.fillDateLabels(today);
    });
    if (steps.bootstrapFinished)
        steps.bootstrapFinished();
}

void onMainWindowCreated(const StartupSteps& steps)
{
    gui::assertGuiThread();
    setDataFolderName("DaTa");
    enforceSingleInstance(kInstanceMarker, steps.showMessage, "禁止重复运行", kMessageOk, true,
                          steps.endProcess, steps.activateWindows);
    if (checkForUpdate(steps.showMessage)) {
        endWith(steps);
        return;
    }
    if (steps.showNoticeWindow)
        steps.showNoticeWindow();

    // The bootstrap writes the default settings file into the data folder, so the folder must
    // exist before it starts.
    if (!ensureDataFolder())
        logStatus("无法创建数据文件夹: " + dataFolder());
    // Bootstrap thread: runs bootstrapSettings and ends; nothing waits for it.
    std::thread([steps] { bootstrapSettings(steps); }).detach();

    if (osVersion() < kOsVersionWithBrowser) {
        if (steps.showMessage)
            steps.showMessage("本程序需要 WIN10/11系统 才能完美运行\r\n\r\n根据您系统情况 "
                              "将会以弹出浏览器方式播放视频",
                              "此系统可能不支持新 webview2 组件", kMessageOk | kMessageInformation);
        logStatus("本程序需要.WIN10/11系统.才能完美运行");
    } else if (steps.startBrowserBridge && !steps.startBrowserBridge()) {
        return;
    }
    if (steps.placeMainWindow)
        steps.placeMainWindow();
    logStatus(readyMessage());
}

void onMainWindowClosing(const std::function<void()>& destroyOtherWindows,
                         const std::function<void()>& exitNow)
{
    gui::assertGuiThread();
    if (destroyOtherWindows)
        destroyOtherWindows();
    if (osVersion() >= kOsVersionWithBrowser) {
        if (exitNow)
            exitNow();
        else
            forceExit();
        return;
    }
    logStatus("欢迎下次使用,再见");
}

void forceExit()
{
    std::_Exit(0);
}
