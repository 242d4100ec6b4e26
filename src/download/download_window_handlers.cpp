#include "download/download_window_handlers.h"

#include "app/message_box.h"
#include "app/paths.h"
#include "app/settings_store.h"
#include "net/charset.h"
#include "net/json_document.h"
#include "util/gui_thread.h"

#include <QClipboard>
#include <QGuiApplication>

#include <optional>
#include <thread>

namespace {

constexpr const char* kSettingsSection = "配置项";
constexpr const char* kDeleteSegmentsKey = "删TS";
constexpr const char* kRunStillGoing = "上一个任务仍在执行,请稍后再试";

std::string seriesPath(const DownloadSettings& settings)
{
    return settings.downloadRoot + pathSeparator() + seriesFolderOf(settings);
}

} // namespace

void openDownloadList(std::shared_ptr<DownloadListView> view, const std::string& title,
                      std::vector<std::string> addresses)
{
    view->setCaption("下载 " + title);
    setSeriesFolder(seriesFolderBaseName(title));
    view->setDeleteSegmentsChecked(
        readFlag(kSettingsSection, kDeleteSegmentsKey, std::string("真")));
    startDownloadListFill(std::move(view), std::move(addresses));
}

void fillDownloadList(DownloadListView& view, const std::vector<std::string>& addresses)
{
    // No run may start on a half-filled list whose ticks the fill is about to reset.
    view.setRunControlsEnabled(false);
    view.clearRows();
    int k = 0;
    for (const auto& address : addresses) {
        view.addRow(std::to_string(k + 1), address, address.empty() ? kNoPlaylistStatus : "待命");
        ++k;
    }
    tickAllRows(view);
    invertRowTicks(view);
    view.appendLog("剧集地址获取完成", kStatusLog);
    // The list is this window's, whatever another series' run is doing: a start while that run
    // goes is refused with a message, never left without an answer by disabled controls.
    view.setRunControlsEnabled(true);
}

void startDownloadListFill(std::shared_ptr<DownloadListView> view,
                           std::vector<std::string> addresses)
{
    // Fill thread: builds the rows through the view's queued writes; never joined.
    std::thread([view = std::move(view), addresses = std::move(addresses)] {
        fillDownloadList(*view, addresses);
    }).detach();
}

void tickAllRows(DownloadView& view)
{
    const int rows = view.rowCount();
    for (int r = 0; r < rows; ++r)
        view.setRowChecked(r, true);
    view.appendLog("已全选", kStatusLog);
}

void invertRowTicks(DownloadView& view)
{
    const int rows = view.rowCount();
    for (int r = 0; r < rows; ++r)
        view.setRowChecked(r, !view.rowChecked(r));
    view.appendLog("已反选", kStatusLog);
}

bool startDownloads(const std::shared_ptr<DownloadListView>& view, const DownloadSettings& settings)
{
    // A run (or re-merge) still going keeps its logs and controls; this start is refused.
    if (downloadRunActive()) {
        view->appendLog(kRunStillGoing, kStatusLog);
        return false;
    }
    view->setRunControlsEnabled(false);
    // Without its series folder the run could keep nothing: the failure line stays on the log.
    if (!prepareDownloadFolders(*view, settings)) {
        view->setRunControlsEnabled(true);
        return false;
    }
    view->clearLogs();
    if (startDownloadRun(view, settings))
        return true;
    // Another run (or re-merge) began meanwhile: this one never started.
    view->appendLog(kRunStillGoing, kStatusLog);
    if (!downloadRunActive())
        view->setRunControlsEnabled(true);
    return false;
}

void abortDownloads(DownloadView& view)
{
    requestAbort();
    view.appendLog("已执行中止任务", kStatusLog);
}

bool remergeDownloads(const std::shared_ptr<DownloadListView>& view,
                      const DownloadSettings& settings)
{
    if (startRemerge(view, settings))
        return true;
    view->appendLog(kRunStillGoing, kStatusLog);
    return false;
}

void exportTickedRows(DownloadView& view, const DownloadSettings& settings)
{
    JsonDocument document;
    prepareDownloadFolders(view, settings);
    std::string addresses;
    const int rows = view.rowCount();
    for (int r = 0; r < rows; ++r) {
        if (!view.rowChecked(r))
            continue;
        const std::string address = view.cellText(r, kColumnAddress);
        // An episode without a playlist has nothing another program could fetch.
        if (address.empty())
            continue;
        document.append(view.cellText(r, kColumnEpisode), "['集']");
        document.append(address, "['地址']");
        addresses += address + "\r\n";
    }
    const std::string folder = seriesPath(settings) + pathSeparator();
    const bool iniWritten =
        writeIniValue(folder + kExportIniName, "集数详情", "集数", document.text());
    document.reset();
    const bool textWritten =
        replaceFileAtomically(folder + kExportTextName, utf8ToGb18030(addresses));
    // A list that could not be written is said so, never reported as exported.
    view.appendLog(iniWritten && textWritten ? "已导出完成" : "导出失败: 无法写入 " + folder,
                   kStatusLog);
    document.destroy();
}

void copyRowAddress(DownloadListView& view, const MessageBox& showMessage)
{
    gui::assertGuiThread();
    const int row = view.currentRow();
    // A double-click beside every row leaves nothing to copy.
    if (row < 0)
        return;
    const std::string address = view.cellText(row, kColumnAddress);
    if (address.empty()) {
        view.appendLog(kNoPlaylistStatus, kStatusLog);
        return;
    }
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromStdString(address));
    if (showMessage)
        showMessage("已复制", "", kMessageOk);
    view.appendLog("已复制", kStatusLog);
}

void saveDeleteSegmentsSetting(bool ticked)
{
    ensureDataFolder();
    writeSetting(kSettingsSection, kDeleteSegmentsKey, ticked ? "真" : "假");
}
