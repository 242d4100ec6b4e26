#pragma once
// The download window: the open series' episodes with an m3u8 address in a ticked list, the
// current address with two progress bars, the status and merge logs, and the row of controls
// along the bottom. Layout and event wiring; the behaviour is in download/download_window_handlers.

#include "download/download_window_handlers.h"

#include <QPoint>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class DownloadWindow : public QWidget {
    Q_OBJECT
public:
    explicit DownloadWindow(QWidget* parent = nullptr);
    ~DownloadWindow() override;

    // The window has opened for the series titled title: caption, series folder, the 删TS box, and
    // the list filled on a background thread with one row per episode, addresses holding each
    // episode's HLS playlist or nothing (downloadAddresses). GUI thread.
    void openFor(const std::string& title, std::vector<std::string> addresses);
    // The title the window was last opened for.
    const std::string& seriesTitle() const { return title_; }
    // Makes the folder recorded for that title (or the one it would get) the current series
    // folder. GUI thread.
    void useSeriesFolder();
    // Whether the run (or re-merge) started from this window is going. GUI thread.
    bool runIsGoing() const;
    // The run started from this window has ended (GUI thread).
    void onRunEnded();

    // The window as the handlers and the download run see it; safe from any thread, and harmless
    // once the window is gone.
    std::shared_ptr<DownloadListView> view() const { return view_; }

    // Where the runs, re-merges and exports of this window take their settings from (the settings
    // file by default).
    void setSettingsSource(std::function<DownloadSettings()> source)
    {
        settingsSource_ = std::move(source);
    }

    QGroupBox* 分组框1 = nullptr;
    QTreeWidget* 超级列表框_剧列表 = nullptr;
    QGroupBox* 分组框2 = nullptr;
    QLineEdit* 编辑框_地址 = nullptr;
    QProgressBar* 进度条1 = nullptr;
    QProgressBar* 进度条2 = nullptr;
    QGroupBox* 分组框3 = nullptr;
    QPlainTextEdit* 编辑框_状态 = nullptr;
    QGroupBox* 分组框4 = nullptr;
    QPlainTextEdit* 编辑框_转换 = nullptr;
    QLabel* 标签1 = nullptr;
    QCheckBox* 选择框_删除 = nullptr;
    QPushButton* 超级按钮_合并 = nullptr;
    QPushButton* 超级按钮_全选 = nullptr;
    QPushButton* 超级按钮_反选 = nullptr;
    QPushButton* 超级按钮_导出 = nullptr;
    QPushButton* 超级按钮_中止 = nullptr;
    QPushButton* 超级按钮_解析下载 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool dragPress(QMouseEvent* event);
    bool dragMove(QMouseEvent* event);

    void createComponents();
    void wireEvents();
    DownloadSettings settings() const;

    std::shared_ptr<DownloadListView> view_;
    std::function<DownloadSettings()> settingsSource_;
    std::string title_;
    bool opened_ = false;          // openFor has given the window a series
    bool closedDuringRun_ = false; // hidden by a close while its run went on
    bool dragging_ = false;
    QPoint dragOffset_;
};

// 超级按钮_下载 of the main window: opens the download window for the series shown there,
// seriesTitle (not modal, owned by owner, the main window), with the series folder recomputed and
// the list refilled.
// When the run that is going belongs to that series, its window is shown as the run has it
// instead. GUI thread.
void openDownloadWindow(QWidget* owner, const std::string& seriesTitle);
