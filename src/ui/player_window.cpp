#include "ui/player_window.h"

#include "playback/page_commands.h"
#include "playback/player_controller.h"
#include "playback/player_placement.h"
#include "playback/watch_position.h"
#include "ui/fonts.h"
#include "ui/main_form.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace {

const QColor kBarColour(45, 45, 48);
const QColor kFrameColour(30, 30, 30);
const QColor kLightText(236, 236, 236);
const QColor kOptionText(128, 128, 128);
const QColor kButtonColour(70, 70, 76);

template <class W>
W* named(W* widget, const char* name, QRect geometry)
{
    widget->setObjectName(QString::fromUtf8(name));
    widget->setGeometry(geometry);
    return widget;
}

void setColours(QWidget* widget, const QColor& text, const QColor& background)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Base, background);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFrame* frame(QWidget* parent, const char* name, QRect geometry, const QColor& colour)
{
    auto* f = named(new QFrame(parent), name, geometry);
    f->setFrameShape(QFrame::NoFrame);
    setColours(f, kLightText, colour);
    return f;
}

QCheckBox* optionBox(QWidget* bar, const char* name, const char* text, QRect geometry)
{
    auto* box = named(new QCheckBox(QString::fromUtf8(text), bar), name, geometry);
    box->setFont(yaheiFont(12, true));
    setColours(box, kOptionText, kBarColour);
    return box;
}

QPushButton* button(QWidget* bar, const char* name, const char* text, QRect geometry)
{
    auto* b = named(new QPushButton(QString::fromUtf8(text), bar), name, geometry);
    b->setFont(yaheiFont(12, true));
    // Dark buttons with light text, so their labels read on the dark bar.
    QPalette palette = b->palette();
    palette.setColor(QPalette::Button, kButtonColour);
    palette.setColor(QPalette::ButtonText, kLightText);
    b->setPalette(palette);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

// A one-line box of whole seconds: centred digits, at most 4 of them.
QLineEdit* secondsBox(QWidget* bar, const char* name, const char* text, QRect geometry)
{
    auto* box = named(new QLineEdit(QString::fromUtf8(text), bar), name, geometry);
    box->setFont(defaultFont());
    box->setAlignment(Qt::AlignCenter);
    box->setMaxLength(4);
    box->setValidator(new QIntValidator(0, 9999, box));
    box->setFrame(false);
    setColours(box, kLightText, QColor(77, 77, 77));
    return box;
}

} // namespace

PlayerWindow::PlayerWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    createComponents();
    wireEvents();
    // Designed position: centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    setPlayerForm(&form_);
    onPlayerCreated(form_);
    loadOpeningSetting(form_);
    created_ = true;
    onPlayerResized(form_);
}

PlayerWindow::~PlayerWindow()
{
    // Destroyed without a close (the main window's closing): the hook goes with the window.
    if (playerForm() == &form_) {
        setPlayerForm(nullptr);
        removeShortcutHook();
    }
}

void PlayerWindow::createComponents()
{
    setObjectName(QStringLiteral("PlayerWindow"));
    setWindowTitle(QStringLiteral("正在播放"));
    resize(1005, 621);
    setColours(this, kLightText, kBarColour);
    QIcon icon;
    icon.addFile(QStringLiteral(":/pictures/app_icon_32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/pictures/app_icon_64.png"), QSize(64, 64));
    setWindowIcon(icon);

    PlayerForm& f = form_;
    f.window = this;
    f.外形框_播放 = frame(this, "外形框_播放", {0, 0, 1000, 562}, kFrameColour);
    f.外形框_底部 = frame(this, "外形框_底部", {-2, 562, 1004, 28}, kBarColour);
    QFrame* bar = f.外形框_底部;

    // The episode label leaves room at its right end for the opening box and its caption.
    f.标签_剧集 =
        named(new QLabel(QStringLiteral("正在播放:"), bar), "标签_剧集", {15, 2, 270, 24});
    // It shows the page's title: as written, never as markup.
    f.标签_剧集->setTextFormat(Qt::PlainText);
    f.标签_剧集->setFont(defaultFont());
    setColours(f.标签_剧集, kLightText, kBarColour);

    f.标签_片头 = named(new QLabel(QStringLiteral("片头"), bar), "标签_片头", {288, 4, 30, 20});
    f.标签_片头->setTextFormat(Qt::PlainText);
    f.标签_片头->setFont(defaultFont());
    f.标签_片头->setAlignment(Qt::AlignCenter);
    setColours(f.标签_片头, kOptionText, kBarColour);
    f.编辑框_片头 = secondsBox(bar, "编辑框_片头", "0", {320, 4, 35, 20});
    f.编辑框_尾 = secondsBox(bar, "编辑框_尾", "60", {363, 4, 35, 20});

    // One pixel narrower than the countdown's left edge needs, so the two do not overlap.
    f.选择框_连播 = optionBox(bar, "选择框_连播", "连播跳转", {400, 2, 69, 24});

    f.标签_跳转 = named(new QLabel(QStringLiteral("0"), bar), "标签_跳转", {469, 4, 35, 20});
    f.标签_跳转->setTextFormat(Qt::PlainText);
    f.标签_跳转->setFont(defaultFont());
    f.标签_跳转->setAlignment(Qt::AlignCenter);
    setColours(f.标签_跳转, kLightText, QColor(54, 54, 58));

    f.选择框_置顶 = optionBox(bar, "选择框_置顶", "置顶", {514, 2, 45, 24});
    f.选择框_副屏 = optionBox(bar, "选择框_副屏", "副屏投屏", {567, 2, 70, 24});
    f.按钮_重新加载 = button(bar, "按钮_重新加载", "重新加载", {642, 2, 52, 24});
    f.按钮_缓存 = button(bar, "按钮_缓存", "清理缓存", {699, 2, 52, 24});
    f.按钮_05X = button(bar, "按钮_05X", "0.5X", {759, 2, 25, 24});
    f.按钮_075X = button(bar, "按钮_075X", "0.75", {796, 2, 25, 24});
    f.按钮_1X = button(bar, "按钮_1X", "1X", {829, 2, 20, 24});
    f.按钮_125X = button(bar, "按钮_125X", "1.25", {855, 2, 25, 24});
    f.按钮_15X = button(bar, "按钮_15X", "1.5X", {888, 2, 25, 24});
    f.按钮_2X = button(bar, "按钮_2X", "2X", {922, 2, 20, 24});
    f.按钮_全屏 = button(bar, "按钮_全屏", "全屏", {947, 2, 30, 24});

    // Dragging on the frames and labels moves the window, as dragging on the window itself.
    for (QWidget* surface : {static_cast<QWidget*>(f.外形框_播放), static_cast<QWidget*>(bar),
                             static_cast<QWidget*>(f.标签_剧集), static_cast<QWidget*>(f.标签_片头),
                             static_cast<QWidget*>(f.标签_跳转)})
        surface->installEventFilter(this);
}

void PlayerWindow::wireEvents()
{
    PlayerForm& f = form_;
    connect(f.编辑框_尾, &QLineEdit::textChanged, this, [this] { onThresholdChanged(form_); });
    connect(f.编辑框_片头, &QLineEdit::textChanged, this, [this] { onOpeningChanged(form_); });
    connect(f.选择框_连播, &QCheckBox::clicked, this, [this] { onContinuousClicked(form_); });
    connect(f.选择框_置顶, &QCheckBox::clicked, this, [this] { onTopmostClicked(form_); });
    connect(f.选择框_副屏, &QCheckBox::clicked, this,
            [this] { onSecondScreenClicked(form_, programMessageBox()); });
    connect(f.按钮_重新加载, &QPushButton::clicked, this, [] { reloadPage(); });
    connect(f.按钮_缓存, &QPushButton::clicked, this, [] { clearBrowserCache(); });
    QPushButton* speeds[] = {f.按钮_05X,  f.按钮_075X, f.按钮_1X,
                             f.按钮_125X, f.按钮_15X,  f.按钮_2X};
    for (int i = 0; i < 6; ++i)
        connect(speeds[i], &QPushButton::clicked, this, [i] { setSpeedNumber(i + 1); });
    connect(f.按钮_全屏, &QPushButton::clicked, this, [] { toggleFullscreen(); });
}

void PlayerWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (created_)
        onPlayerResized(form_);
}

void PlayerWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        onPlayerShown(form_);
    }
}

void PlayerWindow::closeEvent(QCloseEvent* event)
{
    // The position the episode was left at, read from the page while it is still there.
    if (playerForm() == &form_)
        saveWatchPosition(false);
    onPlayerClosing(form_);
    if (playerForm() == &form_)
        setPlayerForm(nullptr);
    event->accept(); // WA_DeleteOnClose destroys the window
}

void PlayerWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

bool PlayerWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle() &&
        watched != nullptr) {
        windowHandle()->startSystemMove();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
