#include "ui/download_window.h"

#include "playback/episode_list.h"
#include "playback/web_view_bridge.h"
#include "ui/fonts.h"
#include "ui/message_box.h"
#include "util/gui_call.h"
#include "util/window_title.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QWindow>

#include "app/status_log.h"
#include "ui/status_log_box.h"

namespace {

constexpr int kColumnCount = 7;

struct ColumnDesign {
    const char* title;
    int width;
    Qt::Alignment alignment;
};
const ColumnDesign kColumns[kColumnCount] = {
    {"#", 20, Qt::AlignRight},      {"集数", 40, Qt::AlignRight},  {"地址", 310, Qt::AlignLeft},
    {"TS数量", 50, Qt::AlignRight}, {"已提交", 50, Qt::AlignLeft}, {"已下载", 50, Qt::AlignRight},
    {"状态", 50, Qt::AlignRight},
};

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// The window's side of the download engine. Every operation runs on the GUI thread (queued from
// other threads, reads waiting for the answer), so writes from the run, the segment threads and
// the fill thread never meet a widget half-way, and a log line is read, built and written in one
// step, so no line is lost. Once the window is gone, writes do nothing and reads give nothing.
class DownloadWindowView : public DownloadListView {
public:
    explicit DownloadWindowView(DownloadWindow* window) : window_(window) {}

    int rowCount() override
    {
        return read(0, [](DownloadWindow& w) { return w.超级列表框_剧列表->topLevelItemCount(); });
    }
    bool rowChecked(int row) override
    {
        return read(false, [row](DownloadWindow& w) {
            QTreeWidgetItem* item = w.超级列表框_剧列表->topLevelItem(row);
            return item && item->checkState(0) == Qt::Checked;
        });
    }
    void setRowChecked(int row, bool checked) override
    {
        write([row, checked](DownloadWindow& w) {
            if (QTreeWidgetItem* item = w.超级列表框_剧列表->topLevelItem(row))
                item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        });
    }
    std::string cellText(int row, int column) override
    {
        return read(std::string(), [row, column](DownloadWindow& w) {
            QTreeWidgetItem* item = w.超级列表框_剧列表->topLevelItem(row);
            return item && column >= 0 && column < kColumnCount ? item->text(column).toStdString()
                                                                : std::string();
        });
    }
    void setCellText(int row, int column, const std::string& text) override
    {
        write([row, column, text](DownloadWindow& w) {
            QTreeWidgetItem* item = w.超级列表框_剧列表->topLevelItem(row);
            if (item && column >= 0 && column < kColumnCount)
                item->setText(column, qs(text));
        });
    }
    void selectRow(int row) override
    {
        write([row](DownloadWindow& w) {
            if (QTreeWidgetItem* item = w.超级列表框_剧列表->topLevelItem(row)) {
                w.超级列表框_剧列表->setCurrentItem(item);
                w.超级列表框_剧列表->scrollToItem(item);
            }
        });
    }
    void appendLog(const std::string& message, int channel) override
    {
        const std::string line = statusLine(message);
        write([line, message, channel](DownloadWindow& w) {
            // The newest line on top, inserted before the others without copying them.
            prependLogLine(channel == kMergeLog ? w.编辑框_转换 : w.编辑框_状态, line);
            // A window closed while its run goes on keeps its log, and the main window's status
            // log shows the run's lines meanwhile.
            if (!w.isVisible())
                logStatus(message);
        });
    }
    void setAddressText(const std::string& text) override
    {
        write([text](DownloadWindow& w) { w.编辑框_地址->setText(qs(text)); });
    }
    void setProgressMaximum(int bar, int maximum) override
    {
        write([bar, maximum](DownloadWindow& w) {
            if (QProgressBar* b = progressBar(w, bar))
                b->setMaximum(maximum);
        });
    }
    void setProgressValue(int bar, int value) override
    {
        write([bar, value](DownloadWindow& w) {
            if (QProgressBar* b = progressBar(w, bar))
                b->setValue(value);
        });
    }
    void setRunControlsEnabled(bool enabled) override
    {
        write([enabled](DownloadWindow& w) {
            for (QWidget* c : std::initializer_list<QWidget*>{w.超级按钮_解析下载, w.超级按钮_全选,
                                                              w.超级按钮_反选, w.超级按钮_合并,
                                                              w.超级列表框_剧列表})
                c->setEnabled(enabled);
        });
    }
    bool deleteSegmentsChecked() override
    {
        return read(false, [](DownloadWindow& w) { return w.选择框_删除->isChecked(); });
    }
    // Any thread: the bridge guards its browser instance itself. The cookie-file form, so that
    // the download's cookie engine sends each cookie only to its own host and path.
    std::string cookieText() override { return webViewBridge().cookieText(kCookieFile); }
    void runEnded() override
    {
        write([](DownloadWindow& w) { w.onRunEnded(); });
    }

    void clearRows() override
    {
        write([](DownloadWindow& w) { w.超级列表框_剧列表->clear(); });
    }
    void addRow(const std::string& episode, const std::string& address,
                const std::string& status) override
    {
        write([episode, address, status](DownloadWindow& w) {
            auto* item = new QTreeWidgetItem;
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
            for (int c = 0; c < kColumnCount; ++c)
                item->setTextAlignment(c, kColumns[c].alignment | Qt::AlignVCenter);
            item->setText(kColumnEpisode, qs(episode));
            item->setText(kColumnAddress, qs(address));
            item->setText(kColumnStatus, qs(status));
            w.超级列表框_剧列表->addTopLevelItem(item);
        });
    }
    int currentRow() override
    {
        return read(-1, [](DownloadWindow& w) {
            QTreeWidgetItem* item = w.超级列表框_剧列表->currentItem();
            return item ? w.超级列表框_剧列表->indexOfTopLevelItem(item) : -1;
        });
    }
    void setCaption(const std::string& caption) override
    {
        write([caption](DownloadWindow& w) { w.setWindowTitle(literalWindowTitle(qs(caption))); });
    }
    void setDeleteSegmentsChecked(bool checked) override
    {
        write([checked](DownloadWindow& w) { w.选择框_删除->setChecked(checked); });
    }
    void clearLogs() override
    {
        write([](DownloadWindow& w) {
            w.编辑框_状态->clear();
            w.编辑框_转换->clear();
        });
    }

private:
    static QProgressBar* progressBar(DownloadWindow& w, int bar)
    {
        return bar == 1 ? w.进度条1 : bar == 2 ? w.进度条2 : nullptr;
    }

    // Both run fn on the GUI thread, where the pointer is read; the window is destroyed there too,
    // so it is either whole or gone while fn runs. The window cannot be the posts' context: a
    // worker may post while the GUI thread destroys it, so the application object is.
    template <class F>
    void write(F&& fn)
    {
        gui::post(QCoreApplication::instance(),
                  [window = window_, fn = std::forward<F>(fn)]() mutable {
                      if (window)
                          fn(*window);
                  });
    }
    template <class R, class F>
    R read(R fallback, F&& fn)
    {
        return gui::call([window = window_, fallback, &fn]() -> R {
            return window ? R(fn(*window)) : fallback;
        });
    }

    QPointer<DownloadWindow> window_;
};

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

QGroupBox* groupBox(QWidget* parent, const char* name, const char* title, QRect geometry)
{
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(geometry);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const char* text, QRect geometry)
{
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setGeometry(geometry);
    return b;
}

QPlainTextEdit* logBox(QWidget* parent, const char* name, QRect geometry)
{
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(geometry);
    box->setFont(yaheiFont(12));
    // A log is written by the program only; an undo history would keep every line twice.
    box->setUndoRedoEnabled(false);
    return box;
}

QProgressBar* progressBar(QWidget* parent, const char* name, QRect geometry)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromUtf8(name));
    bar->setGeometry(geometry);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

// The download window on screen, and the one whose run (or re-merge) is going, shown or not
// (GUI thread).
QPointer<DownloadWindow> g_openWindow;
QPointer<DownloadWindow> g_runWindow;

bool runsHere(const DownloadWindow* window)
{
    return window && g_runWindow == window && downloadRunActive();
}

} // namespace

DownloadWindow::DownloadWindow(QWidget* parent)
        : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint)
{
    setObjectName(QStringLiteral("DownloadWindow"));
    setFixedSize(1000, 520);
    createComponents();
    view_ = std::make_shared<DownloadWindowView>(this);
    wireEvents();
    centreOnScreen(this);
}

DownloadWindow::~DownloadWindow()
{
    // Destroyed with its run still going (with the main window, as the program ends): the run is
    // stopped and awaited for a while, so no download thread outlives the program's last steps;
    // its window writes do nothing once the window is gone. Another window's run is none of this
    // one's business.
    if (runIsGoing()) {
        requestAbort();
        waitForDownloadRun(15000);
    }
}

void DownloadWindow::createComponents()
{
    分组框1 = groupBox(this, "分组框1", "待解析 m3u8 地址", {7, 8, 594, 432});
    超级列表框_剧列表 = new QTreeWidget(分组框1);
    超级列表框_剧列表->setObjectName(QStringLiteral("超级列表框_剧列表"));
    超级列表框_剧列表->setGeometry(7, 22, 580, 402);
    超级列表框_剧列表->setFont(yaheiFont(12));
    超级列表框_剧列表->setRootIsDecorated(false);
    超级列表框_剧列表->setUniformRowHeights(true);
    超级列表框_剧列表->setSelectionMode(QAbstractItemView::SingleSelection);
    超级列表框_剧列表->setColumnCount(kColumnCount);
    QStringList titles;
    for (const auto& c : kColumns)
        titles << QString::fromUtf8(c.title);
    超级列表框_剧列表->setHeaderLabels(titles);
    超级列表框_剧列表->header()->setStretchLastSection(false);
    超级列表框_剧列表->header()->setMinimumSectionSize(10);
    for (int c = 0; c < kColumnCount; ++c) {
        超级列表框_剧列表->setColumnWidth(c, kColumns[c].width);
        超级列表框_剧列表->headerItem()->setTextAlignment(c,
                                                          kColumns[c].alignment | Qt::AlignVCenter);
    }

    分组框2 = groupBox(this, "分组框2", "正在解析", {607, 8, 379, 68});
    编辑框_地址 = new QLineEdit(分组框2);
    编辑框_地址->setObjectName(QStringLiteral("编辑框_地址"));
    编辑框_地址->setGeometry(9, 16, 360, 22);
    编辑框_地址->setFont(yaheiFont(12));
    进度条1 = progressBar(分组框2, "进度条1", {9, 41, 360, 10});
    进度条2 = progressBar(分组框2, "进度条2", {9, 54, 360, 10});

    分组框3 = groupBox(this, "分组框3", "执行状态", {607, 86, 379, 240});
    编辑框_状态 = logBox(分组框3, "编辑框_状态", {9, 19, 360, 211});
    分组框4 = groupBox(this, "分组框4", "执行结果", {607, 336, 379, 104});
    编辑框_转换 = logBox(分组框4, "编辑框_转换", {9, 20, 360, 75});

    标签1 =
        new QLabel(QString::fromUtf8(
                       "注: 下载会非常耗时,请耐心等待,可导出列表到别的软件下载．\n"
                       "     可双击列表 复制单条地址 (在未勾选<下完删TS>时,可用<重新合并>TS成MP4)"),
                   this);
    // Its "<下完删TS>" is text, not a tag.
    标签1->setTextFormat(Qt::PlainText);
    标签1->setObjectName(QStringLiteral("标签1"));
    标签1->setGeometry(7, 446, 441, 35);
    标签1->setFont(yaheiFont(12));
    标签1->setAutoFillBackground(true);
    QPalette palette = 标签1->palette();
    palette.setColor(QPalette::Window, QColor(29, 29, 29));
    palette.setColor(QPalette::WindowText, Qt::white);
    标签1->setPalette(palette);

    选择框_删除 = new QCheckBox(QString::fromUtf8("下完删TS"), this);
    选择框_删除->setObjectName(QStringLiteral("选择框_删除"));
    选择框_删除->setGeometry(451, 446, 70, 35);
    超级按钮_合并 = button(this, "超级按钮_合并", "重新合并", {525, 446, 60, 35});
    超级按钮_全选 = button(this, "超级按钮_全选", "全选", {589, 446, 60, 35});
    超级按钮_反选 = button(this, "超级按钮_反选", "反选", {653, 446, 60, 35});
    超级按钮_导出 = button(this, "超级按钮_导出", "导出列表", {717, 446, 60, 35});
    超级按钮_中止 = button(this, "超级按钮_中止", "中止执行", {781, 446, 60, 35});
    超级按钮_解析下载 =
        button(this, "超级按钮_解析下载", "一键解析/下载/转换MP4", {848, 446, 138, 35});
}

void DownloadWindow::wireEvents()
{
    connect(超级按钮_解析下载, &QPushButton::clicked, this, [this] {
        useSeriesFolder();
        if (startDownloads(std::static_pointer_cast<DownloadListView>(view_), settings()))
            g_runWindow = this;
    });
    connect(超级按钮_全选, &QPushButton::clicked, this, [this] { tickAllRows(*view_); });
    connect(超级按钮_反选, &QPushButton::clicked, this, [this] { invertRowTicks(*view_); });
    connect(超级按钮_中止, &QPushButton::clicked, this, [this] { abortDownloads(*view_); });
    connect(超级按钮_导出, &QPushButton::clicked, this, [this] {
        useSeriesFolder();
        exportTickedRows(*view_, settings());
    });
    connect(超级按钮_合并, &QPushButton::clicked, this, [this] {
        useSeriesFolder();
        if (remergeDownloads(view_, settings()))
            g_runWindow = this;
    });
    connect(选择框_删除, &QCheckBox::clicked, this,
            [](bool checked) { saveDeleteSegmentsSetting(checked); });
    connect(超级列表框_剧列表, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem*, int) {
                copyRowAddress(
                    *view_, [this](const std::string& text, const std::string& caption, int style) {
                        return showMessageBox(text, caption, style, this);
                    });
            });
    // The surfaces that take no click of their own move the window when dragged.
    for (QWidget* surface : std::initializer_list<QWidget*>{分组框1, 分组框2, 分组框3, 分组框4,
                                                            标签1, 进度条1, 进度条2})
        surface->installEventFilter(this);
}

DownloadSettings DownloadWindow::settings() const
{
    DownloadSettings s = settingsSource_ ? settingsSource_() : currentDownloadSettings();
    if (opened_)
        s.seriesTitle = title_;
    return s;
}

void DownloadWindow::useSeriesFolder()
{
    gui::assertGuiThread();
    if (opened_)
        setSeriesFolder(seriesFolderOf(settings()));
}

void DownloadWindow::openFor(const std::string& title, std::vector<std::string> addresses)
{
    gui::assertGuiThread();
    title_ = title;
    opened_ = true;
    openDownloadList(view_, title, std::move(addresses));
    useSeriesFolder();
}

bool DownloadWindow::runIsGoing() const
{
    gui::assertGuiThread();
    return runsHere(this);
}

void DownloadWindow::onRunEnded()
{
    gui::assertGuiThread();
    if (g_runWindow == this)
        g_runWindow = nullptr;
    // The controls follow the run: it has ended, so another may start from here.
    if (!downloadRunActive())
        view_->setRunControlsEnabled(true);
    // Closed while the run went on (and not opened again): now that it has ended the window goes
    // as a close would have taken it.
    if (closedDuringRun_ && !isVisible()) {
        closedDuringRun_ = false;
        if (testAttribute(Qt::WA_DeleteOnClose))
            deleteLater();
    }
}

void DownloadWindow::closeEvent(QCloseEvent* event)
{
    // A run that is going goes on: the window only hides, its lines reach the main window's
    // status log meanwhile, and opening the window for the series again shows it as it is.
    // It goes for good once the run has ended.
    if (runIsGoing()) {
        if (isVisible())
            logStatus("下载窗口已关闭,下载任务仍在进行");
        closedDuringRun_ = true;
        hide();
        event->ignore();
        return;
    }
    event->accept();
}

void DownloadWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool DownloadWindow::dragPress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    // The window system moves the window where it can; elsewhere the window follows the mouse.
    dragging_ = !(windowHandle() && windowHandle()->startSystemMove());
    dragOffset_ = event->globalPosition().toPoint() - pos();
    return true;
}

bool DownloadWindow::dragMove(QMouseEvent* event)
{
    if (!dragging_ || !(event->buttons() & Qt::LeftButton))
        return false;
    move(event->globalPosition().toPoint() - dragOffset_);
    return true;
}

void DownloadWindow::mousePressEvent(QMouseEvent* event)
{
    if (dragPress(event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void DownloadWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (dragMove(event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void DownloadWindow::mouseReleaseEvent(QMouseEvent* event)
{
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

bool DownloadWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Presses and moves on the group boxes, the note and the bars drag the window as well.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (dragPress(static_cast<QMouseEvent*>(event)))
            return true;
        break;
    case QEvent::MouseMove:
        if (dragMove(static_cast<QMouseEvent*>(event)))
            return true;
        break;
    case QEvent::MouseButtonRelease: dragging_ = false; break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void openDownloadWindow(QWidget* owner, const std::string& seriesTitle)
{
    gui::assertGuiThread();
    const std::string& title = seriesTitle;
    auto bringForward = [](DownloadWindow* window) {
        window->showNormal();
        window->raise();
        window->activateWindow();
    };
    // The series whose run is going: its window as the run has it, shown or hidden till now.
    if (runsHere(g_runWindow) && g_runWindow->seriesTitle() == title) {
        if (g_openWindow && g_openWindow != g_runWindow)
            g_openWindow->close();
        g_openWindow = g_runWindow;
        g_runWindow->useSeriesFolder();
        bringForward(g_runWindow);
        return;
    }
    // Any other series: the window on screen is opened afresh for it, unless its run is going;
    // that window then steps aside (its run goes on) for a new one.
    DownloadWindow* window = g_openWindow;
    if (window && runsHere(window)) {
        window->close();
        window = nullptr;
    }
    if (!window) {
        window = new DownloadWindow(owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
        g_openWindow = window;
    }
    bringForward(window);
    window->openFor(title, downloadAddresses(openSeries()->episodes));
}
