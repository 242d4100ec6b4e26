#include "ui/main_window.h"

#include "app/program_values.h"
#include "app/status_log.h"
#include "playback/history.h"
#include "ui/fonts.h"
#include "ui/header_clock.h"
#include "ui/status_log_box.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

namespace {

// A flat button that shows only its icon, drawn at its left edge (the label beside it lies over
// its right part).
class PictureButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QSize size = iconSize();
        painter.drawPixmap(QPoint(0, (height() - size.height()) / 2), icon().pixmap(size));
    }
};

// A label drawn over a background picture scaled to the label.
class PictureLabel : public QLabel {
public:
    PictureLabel(const QString& text, const QString& picture, QWidget* parent)
            : QLabel(text, parent), picture_(picture)
    {
        setTextFormat(Qt::PlainText);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.drawPixmap(rect(), picture_);
        }
        QLabel::paintEvent(event);
    }

private:
    QPixmap picture_;
};

// Centres the cells of one list column whoever fills the rows (the list-view column format).
class CentredColumnDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = Qt::AlignCenter;
    }
};

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

template <class W>
W* named(W* widget, const char* name, QRect geometry)
{
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const char* text, QRect geometry,
              const QFont& font, const QColor& colour)
{
    auto* widget = named(new QLabel(QString::fromUtf8(text), parent), name, geometry);
    // Titles, blurbs and notices come from catalogue servers: shown as written, never as markup.
    widget->setTextFormat(Qt::PlainText);
    widget->setFont(font);
    setTextColour(widget, colour);
    return widget;
}

QPushButton* button(QWidget* parent, const char* name, const char* text, QRect geometry,
                    const QFont& font)
{
    auto* widget = named(new QPushButton(QString::fromUtf8(text), parent), name, geometry);
    widget->setFont(font);
    widget->setCursor(Qt::PointingHandCursor);
    widget->setFocusPolicy(Qt::TabFocus);
    return widget;
}

QPushButton* pictureButton(QWidget* parent, const char* name, const QString& picture,
                           QRect geometry)
{
    auto* widget = named(new PictureButton(parent), name, geometry);
    widget->setFlat(true);
    widget->setIcon(QIcon(picture));
    widget->setIconSize(QSize(18, 18));
    widget->setCursor(Qt::PointingHandCursor);
    widget->setFocusPolicy(Qt::NoFocus);
    return widget;
}

QFrame* frame(QWidget* parent, const char* name, QRect geometry)
{
    auto* widget = named(new QFrame(parent), name, geometry);
    widget->setFrameShape(QFrame::NoFrame);
    return widget;
}

// A report-style list: no root decoration, columns of fixed widths that may be zero.
QTreeWidget* reportList(QWidget* parent, const char* name, QRect geometry)
{
    auto* list = named(new QTreeWidget(parent), name, geometry);
    list->setRootIsDecorated(false);
    list->setIndentation(0);
    list->setUniformRowHeights(true);
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(0);
    list->header()->setSectionsMovable(false);
    return list;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
        : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
          catalogue_(views_, playbackCatalogueEvents()), series_(views_, catalogue_, seriesEvents())
{
    createComponents();
    wireEvents();
    setStatusLogBox(form_.编辑框_状态);
}

MainWindow::~MainWindow()
{
    stop();
    setStatusLogBox(nullptr);
}

void MainWindow::stop()
{
    catalogue_.stop();
    series_.stop();
}

SeriesBrowser::Events MainWindow::seriesEvents()
{
    SeriesBrowser::Events events;
    // A history row searches the catalogue for its series; the series row opened next resumes.
    events.historyRowOpened = [this](const CatalogueItem& row) {
        requestResume(row.title, row.historyUrl, row.historyM3u8,
                      [this](const std::string& name) { catalogue_.searchFor(name); });
    };
    events.seriesShown = [this](const std::string& title) {
        return resumePending() && startResume(views_, title);
    };
    return events;
}

void MainWindow::createComponents()
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QString::fromUtf8(kMainWindowCaption));
    setFixedSize(451, 800);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, Qt::white);
    setPalette(windowPalette);
    setAutoFillBackground(true);
    QIcon icon;
    icon.addFile(QStringLiteral(":/pictures/app_icon_32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/pictures/app_icon_64.png"), QSize(64, 64));
    setWindowIcon(icon);

    MainForm& f = form_;
    f.window = this;
    // Components use the window's font unless they name their own.
    setFont(yaheiFont(12));
    const QFont normal = yaheiFont(12);
    const QFont bold = yaheiFont(12, true);

    // Header strip.
    f.标签_时间 = label(this, "标签_时间", "00:00", {10, 1, 95, 33}, yaheiFont(33, true),
                        QColor(255, 168, 255));
    f.标签_星期 = label(this, "标签_星期", "星期五", {109, 7, 40, 20}, bold, QColor(128, 224, 0));
    f.标签_日期 =
        label(this, "标签_日期", "十二月廿九", {156, 7, 65, 20}, bold, QColor(128, 224, 0));
    f.图形按钮_历史 = pictureButton(this, "图形按钮_历史", QStringLiteral(":/pictures/history.png"),
                                    {326, 9, 48, 18});
    f.标签_历史 =
        label(this, "标签_历史", "历史", {344, 9, 30, 18}, defaultFont(), QColor(255, 128, 0));
    f.图形按钮_关于 = pictureButton(this, "图形按钮_关于", QStringLiteral(":/pictures/sponsor.png"),
                                    {388, 9, 48, 18});
    f.标签_关于 =
        label(this, "标签_关于", "赞助", {406, 9, 30, 18}, defaultFont(), QColor(192, 96, 0));
    // A click on the text beside a picture button reaches the button below it.
    f.标签_历史->setAttribute(Qt::WA_TransparentForMouseEvents);
    f.标签_关于->setAttribute(Qt::WA_TransparentForMouseEvents);

    // Seconds bar: a bar picture slid inside a clipping frame.
    f.外形框_进度 = frame(this, "外形框_进度", {104, 28, 328, 10});
    f.进度条 = named(new QLabel(f.外形框_进度), "进度条", {-249, 0, 330, 6});
    f.进度条->setTextFormat(Qt::PlainText);
    f.进度条->setPixmap(QPixmap(QStringLiteral(":/pictures/seconds_bar.png")));
    f.进度条->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Category grid: seven label/id pairs per row, the id columns zero wide.
    f.外形框_分类 = frame(this, "外形框_分类", {8, 34, 425, 110});
    f.超级列表框_分类 = reportList(f.外形框_分类, "超级列表框_分类", {-2, 6, 430, 94});
    f.超级列表框_分类->setFont(normal);
    f.超级列表框_分类->setHeaderHidden(true);
    f.超级列表框_分类->setColumnCount(14);
    for (int column = 0; column < 14; ++column)
        f.超级列表框_分类->setColumnWidth(column, column % 2 == 0 ? 60 : 0);
    f.超级列表框_分类->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    f.超级列表框_分类->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    f.超级列表框_分类->setFrameShape(QFrame::NoFrame);

    // Title and blurb of the open series.
    f.透明标签_标题 = label(this, "透明标签_标题", "用户名：匿名用户 VIP用户", {1, 139, 255, 18},
                            yaheiFont(16, true), QColor(96, 96, 96));
    const std::string blurb =
        std::string("粉丝Q群：") + kGroupNumber + "\n更新请关注QQ群\n如有BUG请向群内反馈";
    f.透明标签_简介 = label(this, "透明标签_简介", blurb.c_str(), {9, 164, 425, 52}, normal,
                            QColor(255, 168, 255));
    f.透明标签_简介->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    f.透明标签_简介->setWordWrap(true);

    // Episode grid: ten episodes of three cells per row; the two address cells stay zero wide.
    f.外形框_集 = frame(this, "外形框_集", {9, 224, 425, 109});
    f.高级表格_剧集 =
        named(new QTableWidget(1, 30, f.外形框_集), "高级表格_剧集", {4, 2, 438, 104});
    f.高级表格_剧集->horizontalHeader()->setVisible(false);
    f.高级表格_剧集->verticalHeader()->setVisible(false);
    f.高级表格_剧集->horizontalHeader()->setMinimumSectionSize(0);
    for (int column = 0; column < 30; ++column)
        f.高级表格_剧集->setColumnWidth(column, column % 3 == 0 ? 42 : 0);
    f.高级表格_剧集->setFont(defaultFont());
    f.高级表格_剧集->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // Search, cover, download button and series list.
    f.外形框_列表 = frame(this, "外形框_列表", {9, 343, 425, 330});
    f.编辑框_搜索 = named(new QLineEdit(QStringLiteral("请输入剧名搜索"), f.外形框_列表),
                          "编辑框_搜索", {0, 0, 120, 30});
    f.编辑框_搜索->setAlignment(Qt::AlignCenter);
    f.编辑框_搜索->setFont(defaultFont());
    f.超级按钮_搜索 =
        button(f.外形框_列表, "超级按钮_搜索", "搜索", {120, 0, 40, 30}, yaheiFont(14));
    f.图片框_封面 = named(new QLabel(f.外形框_列表), "图片框_封面", {-2, 40, 160, 233});
    f.图片框_封面->setTextFormat(Qt::PlainText);
    f.图片框_封面->setPixmap(QPixmap(QStringLiteral(":/pictures/cover.png")));
    f.图片框_封面->setScaledContents(true);
    f.超级按钮_下载 =
        button(f.外形框_列表, "超级按钮_下载", "下载此剧", {-1, 280, 160, 41}, normal);
    f.超级按钮_下载->setVisible(false);
    f.超级列表框_列表 = reportList(f.外形框_列表, "超级列表框_列表", {165, 2, 300, 330});
    f.超级列表框_列表->setFont(normal);
    const char* const columns[] = {"标题",     "类型",    "简介",    "封面",
                                   "全剧地址", "历史URL", "历史m3u8"};
    const int widths[] = {200, 60, 0, 0, 0, 0, 0};
    QStringList titles;
    for (const char* title : columns)
        titles << QString::fromUtf8(title);
    f.超级列表框_列表->setHeaderLabels(titles);
    for (int column = 0; column < 7; ++column) {
        f.超级列表框_列表->setColumnWidth(column, widths[column]);
        f.超级列表框_列表->headerItem()->setTextAlignment(
            column, (column == 1 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    f.超级列表框_列表->setItemDelegateForColumn(1, new CentredColumnDelegate(f.超级列表框_列表));
    f.超级列表框_列表->header()->setSectionResizeMode(QHeaderView::Fixed);

    // Loading hint over the series list.
    f.标签提示 = named(new PictureLabel(QStringLiteral("正在加载 ..."),
                                        QStringLiteral(":/pictures/loading.png"), this),
                       "标签提示", {266, 472, 94, 64});
    f.标签提示->setFont(yaheiFont(19));
    f.标签提示->setAlignment(Qt::AlignCenter);
    f.标签提示->setWordWrap(true);
    f.标签提示->setVisible(false);

    // Paging row and route box.
    f.按钮_首页 = button(this, "按钮_首页", "首页", {9, 682, 35, 19}, bold);
    f.按钮_上一页 = button(this, "按钮_上一页", "上页", {46, 682, 35, 19}, bold);
    f.标签_当前 = named(new QLineEdit(QStringLiteral("1"), this), "标签_当前", {83, 682, 40, 19});
    f.标签_当前->setAlignment(Qt::AlignCenter);
    f.标签_当前->setFont(yaheiFont(11, true));
    f.标签_当前->setValidator(new QIntValidator(-32768, 32767, f.标签_当前));
    f.标签_页数 =
        label(this, "标签_页数", "2680", {125, 682, 40, 19}, defaultFont(), QColor(144, 0, 255));
    f.按钮_下一页 = button(this, "按钮_下一页", "下页", {167, 682, 35, 19}, bold);
    f.按钮_尾页 = button(this, "按钮_尾页", "尾页", {204, 682, 35, 19}, bold);
    f.标签_共有记录数 = label(this, "标签_共有记录数", "98650", {241, 682, 45, 19}, defaultFont(),
                              QColor(128, 128, 255));
    QPalette countPalette = f.标签_共有记录数->palette();
    countPalette.setColor(QPalette::Window, QColor(236, 236, 236));
    f.标签_共有记录数->setPalette(countPalette);
    f.标签_共有记录数->setAutoFillBackground(true);
    f.标签2 = label(this, "标签2", "部", {288, 682, 22, 19}, bold, QColor(192, 192, 192));
    f.标签1 = label(this, "标签1", " 切换线路", {316, 682, 118, 19}, bold, QColor(128, 128, 255));
    f.组合框_线路 = named(new QComboBox(this), "组合框_线路", {373, 683, 60, 19});
    f.组合框_线路->setEditable(false);
    f.组合框_线路->setFont(songtiFont(9));
    f.组合框_线路->setCursor(Qt::PointingHandCursor);

    // Status log.
    f.编辑框_状态 = named(new QPlainTextEdit(this), "编辑框_状态", {9, 710, 425, 51});
    f.编辑框_状态->setReadOnly(true);
    f.编辑框_状态->setFont(defaultFont());
    f.编辑框_状态->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    f.编辑框_状态->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    // The 2-second timer, running for the whole life of the window.
    f.时钟_实时 = new QTimer(this);
    f.时钟_实时->setObjectName(QStringLiteral("时钟_实时"));
    f.时钟_实时->setInterval(2000);
    f.时钟_实时->start();

    // Centred on the screen.
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void MainWindow::wireEvents()
{
    // The playback wiring connects the player poll to 时钟_实时 first, so that on every tick the
    // poll runs before the header clock.
    wirePlaybackEvents();
    connect(form_.时钟_实时, &QTimer::timeout, this, &MainWindow::onTimerTick);
    form_.编辑框_搜索->installEventFilter(this);
    wireCatalogueEvents();
}

void MainWindow::onTimerTick()
{
    updateHeaderClock(form_);
}

void MainWindow::bringToFront()
{
    if (!isVisible())
        show();
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (closingHandler_)
        closingHandler_();
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    // Dragging anywhere on the window's own surface moves it.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
