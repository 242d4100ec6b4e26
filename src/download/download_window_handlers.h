#pragma once
// The download window's behaviour: opening and filling the episode list, ticking, starting,
// aborting and merging again, exporting the ticked addresses, copying one address and the 删TS
// setting. The window (ui/download_window.h) implements DownloadListView and calls these.

#include "app/message_box.h"
#include "download/download_run.h"
#include "download/download_view.h"
#include "download/series_folder.h"

#include <memory>
#include <string>
#include <vector>

class QWidget;

// What the handlers need of the window beyond what the run uses. Every call may come from any
// thread; the window queues writes to the GUI thread and answers reads from there.
class DownloadListView : public DownloadView {
public:
    // Removes every row of 超级列表框_剧列表.
    virtual void clearRows() = 0;
    // Adds an unticked row at the end with 集数, 地址 and 状态 filled in.
    virtual void addRow(const std::string& episode, const std::string& address,
                        const std::string& status) = 0;
    // The list's current row, or -1.
    virtual int currentRow() = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setDeleteSegmentsChecked(bool checked) = 0;
    // Empties 编辑框_状态 and 编辑框_转换.
    virtual void clearLogs() = 0;
};

// The window has opened for the series titled title: caption, series folder, the 删TS box, then
// the list filled from addresses on a background thread.
void openDownloadList(std::shared_ptr<DownloadListView> view, const std::string& title,
                      std::vector<std::string> addresses);

// The state cell of an episode that has no HLS playlist to download.
inline constexpr const char* kNoPlaylistStatus = "无m3u8地址";

// Fills the list with one row per episode (numbered from 1): addresses[k] is episode k+1's
// playlist, "待命", or empty for an episode that has none, kNoPlaylistStatus. Then ticks all and
// inverts, so every row ends unticked. Runs on the calling thread.
void fillDownloadList(DownloadListView& view, const std::vector<std::string>& addresses);
// fillDownloadList on a new detached thread.
void startDownloadListFill(std::shared_ptr<DownloadListView> view,
                           std::vector<std::string> addresses);

// 超级按钮_全选 and 超级按钮_反选.
void tickAllRows(DownloadView& view);
void invertRowTicks(DownloadView& view);

// 超级按钮_解析下载: folders, both logs emptied, then the run with the settings given. False when
// a run is already going, or when the series folder cannot be made (the failure stays on the
// status log); the controls are enabled again then.
bool startDownloads(const std::shared_ptr<DownloadListView>& view,
                    const DownloadSettings& settings);
// 超级按钮_中止.
void abortDownloads(DownloadView& view);
// 超级按钮_合并. False, with "上一个任务仍在执行,请稍后再试" on the status log, while a run is
// going.
bool remergeDownloads(const std::shared_ptr<DownloadListView>& view,
                      const DownloadSettings& settings);

// The two export files in the series folder.
inline constexpr const char* kExportIniName = "m3u8列表.ini";
inline constexpr const char* kExportTextName = "m3u8列表.txt";
// 超级按钮_导出: the ticked rows' (those with an address) 集数 and 地址 into "m3u8列表.ini"
// (section 集数详情, key 集数, a JSON text) and their addresses into "m3u8列表.txt", both GB18030,
// in the series folder under settings.downloadRoot.
void exportTickedRows(DownloadView& view, const DownloadSettings& settings);

// Double-click on the list: the current row's address on the clipboard, the message "已复制"
// through showMessage, and the status line. GUI thread.
void copyRowAddress(DownloadListView& view, const MessageBox& showMessage);

// 选择框_删除 clicked: 删TS = "真" or "假".
void saveDeleteSegmentsSetting(bool ticked);
