#include "ui/small_windows.h"

#include "app/program_values.h"
#include "ui/fonts.h"
#include "util/gui_thread.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTextEdit>

namespace {

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

QLabel* pictureBox(QWidget* parent, const char* name, const QString& picture, QRect geometry)
{
    auto* box = new QLabel(parent);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(geometry);
    box->setPixmap(QPixmap(picture));
    box->setScaledContents(true);
    box->setFrameShape(QFrame::NoFrame);
    return box;
}

QLabel* headingLabel(QWidget* parent, const char* name, const char* text, QRect geometry)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(geometry);
    label->setFont(yaheiFont(20, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 136, 255));
    label->setPalette(palette);
    return label;
}

} // namespace

std::string noticeText(const std::string& groupNumber)
{
    const char* const before[] = {
        "本软件仅供娱乐参考",
        "永久免费观剧",
        "2025.2.18",
        "1.影视资源接口更换为公开的影视资源站采集接口",
        "2.接口来自网络上公开的资源站, 仅供学习交流",
        "20252.23",
        "1.更新更多接口",
    };
    const char* const after[] = {
        "2024/02/03更新",
        "1, 更改成: 下载完一集就立即合并一集",
        "2, 小细节修改",
        "",
        "2024-1-9更新",
        "1, 更换下载器, 更改线程数",
        "2, 重新开启 <合并TS> 功能, 中途崩溃导致没有合并的视频,可以选择一键重新合并",
        "",
        "2024/1/2更新",
        "1, 重写下载功能(完善)",
        "2, 下载完后可开启自动删除TS文件,只留下已合并的mp4",
        "3, 更换下载方式,更稳定更快速",
        "4, 其它一些细节修改完善,请自行体验",
        "",
        "2023/12/19 更新",
        "1, 新增 下载功能, 可勾选剧集批量下载",
        "2, 下载列表可导出为 m3u8 列表",
        "",
        "2023/11/31 更新",
        "修复  搜索剧集没有结果时的提醒",
        "",
        "2023/11/30 更新",
        "1, 新增 观看历史, 右键列表查看说明",
        "2, 历史剧集可从上次观看的一集继续播放",
        "",
        "2023/11/29 更新",
        "1, 新增 连播, 一集播完自动播放下一集",
        "2, 新增 播放窗口置顶和副屏播放",
        "3, 播放窗口记住大小和位置",
        "",
        "2023/11/28 0:18更新",
        "优化  播放器加载速度",
        "修复  分类列表翻页后页码不对",
        "",
        "2023/11/27 0:25更新",
        "1, 新增 分类浏览",
        "2, 新增 切换线路",
        "",
        "2023/11/26 0:08更新:",
        "1, 第一个版本: 搜索剧集, 在线播放",
    };
    std::string text;
    for (const char* line : before)
        text += std::string(line) + "\r\n";
    text += "2.欢迎加入用户交流群: " + groupNumber + "\r\n";
    for (const char* line : after)
        text += std::string(line) + "\r\n";
    return text;
}

NoticeWindow::NoticeWindow(QWidget* parent)
        : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("NoticeWindow"));
    setWindowTitle(QStringLiteral("无视直接×掉"));
    setFixedSize(345, 432);

    编辑框1 = new QTextEdit(this);
    编辑框1->setObjectName(QStringLiteral("编辑框1"));
    编辑框1->setGeometry(-8, 0, 344, 126);
    编辑框1->setReadOnly(true);
    编辑框1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    编辑框1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    编辑框1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    QPalette palette = 编辑框1->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    编辑框1->setPalette(palette);
    编辑框1->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    // The box shows the "\r\n"-separated lines as paragraphs.
    QString text = QString::fromStdString(noticeText(kGroupNumber));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    编辑框1->setPlainText(text);

    分组框1 = new QGroupBox(QStringLiteral("赞助我们"), this);
    分组框1->setObjectName(QStringLiteral("分组框1"));
    分组框1->setGeometry(0, 128, 336, 272);
    图片框1 = pictureBox(分组框1, "图片框1", QStringLiteral(":/pictures/sponsorship.png"),
                         QRect(8, 16, 320, 248));

    centreOnScreen(this);
}

void NoticeWindow::keyPressEvent(QKeyEvent* event)
{
    // Only the close button closes the notice.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

SponsorWindow::SponsorWindow(QWidget* owner)
        : QDialog(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                             Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("SponsorWindow"));
    setWindowTitle(QString());
    setFixedSize(422, 300);
    setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);

    透明标签1 = headingLabel(this, "透明标签1", "粉丝QQ群", QRect(6, 7, 186, 34));
    图片框1 = pictureBox(this, "图片框1", QStringLiteral(":/pictures/fan_group.png"),
                         QRect(16, 40, 176, 216));
    透明标签2 = headingLabel(this, "透明标签2", "赞助我们", QRect(200, 8, 186, 34));
    图片框2 = pictureBox(this, "图片框2", QStringLiteral(":/pictures/sponsorship.png"),
                         QRect(200, 40, 200, 216));

    centreOnScreen(this);
}

void openSponsorWindow(QWidget* owner)
{
    gui::assertGuiThread();
    SponsorWindow window(owner);
    window.exec();
}
