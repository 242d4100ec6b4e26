#pragma once
// What the download engine shows and reads while it runs: the episode list's rows and cells, the
// two log boxes, the address line, the two progress bars and the enabled state of the controls.
// The download window implements it (queuing each write to the GUI thread); every call may come
// from any thread.

#include <string>

// Columns of the episode list.
enum DownloadColumn {
    kColumnIndex = 0,      // "#"
    kColumnEpisode = 1,    // "集数"
    kColumnAddress = 2,    // "地址"
    kColumnSegments = 3,   // "TS数量"
    kColumnSubmitted = 4,  // "已提交"
    kColumnDownloaded = 5, // "已下载"
    kColumnStatus = 6,     // "状态"
};

// Log channels: the status log (编辑框_状态) and the merge log (编辑框_转换).
enum DownloadLog { kStatusLog = 0, kMergeLog = 1 };

class DownloadView {
public:
    virtual ~DownloadView() = default;

    virtual int rowCount() = 0;
    virtual bool rowChecked(int row) = 0;
    virtual void setRowChecked(int row, bool checked) = 0;
    virtual std::string cellText(int row, int column) = 0;
    virtual void setCellText(int row, int column, const std::string& text) = 0;
    // Selects the row and scrolls it into view.
    virtual void selectRow(int row) = 0;
    // Puts one timed line on top of the log (channel: DownloadLog).
    virtual void appendLog(const std::string& message, int channel) = 0;
    // 编辑框_地址.
    virtual void setAddressText(const std::string& text) = 0;
    // bar 1: 进度条1 (submission, merge), bar 2: 进度条2 (downloaded segments).
    virtual void setProgressMaximum(int bar, int maximum) = 0;
    virtual void setProgressValue(int bar, int value) = 0;
    // 超级按钮_解析下载, 超级按钮_全选, 超级按钮_反选, 超级按钮_合并 and 超级列表框_剧列表
    // together.
    virtual void setRunControlsEnabled(bool enabled) = 0;
    // Whether 选择框_删除 is ticked now.
    virtual bool deleteSegmentsChecked() = 0;
    // The embedded browser's cookies for playlist requests, in the Netscape cookie-file form (one
    // cookie a line); empty without a player window.
    virtual std::string cookieText() { return {}; }
    // The run (or re-merge) started on this view has ended and another may start now.
    virtual void runEnded() {}
};
