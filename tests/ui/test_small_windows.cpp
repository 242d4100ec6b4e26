#include "ui/small_windows.h"

#include "app/program_values.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", from)) {
        lines.push_back(text.substr(from, at - from));
        from = at + 2;
    }
    EXPECT_EQ(from, text.size()) << "the last line ends with CR LF";
    return lines;
}

const char* const kHeadings[] = {
    "2025.2.18",           "20252.23",
    "2024/02/03更新",      "2024-1-9更新",
    "2024/1/2更新",        "2023/12/19 更新",
    "2023/11/31 更新",     "2023/11/30 更新",
    "2023/11/29 更新",     "2023/11/28 0:18更新",
    "2023/11/27 0:25更新", "2023/11/26 0:08更新:",
};

TEST(NoticeText, SectionsInOrderWithTheirNotesAndSeparators)
{
    const auto lines = linesOf(noticeText("12345"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "本软件仅供娱乐参考");
    EXPECT_EQ(lines[1], "永久免费观剧");
    EXPECT_EQ(lines[2], "2025.2.18");

    std::vector<std::size_t> at;
    for (const char* heading : kHeadings) {
        const auto found = std::find(lines.begin(), lines.end(), heading);
        ASSERT_NE(found, lines.end()) << heading;
        at.push_back(static_cast<std::size_t>(found - lines.begin()));
    }
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
    for (std::size_t i = 0; i + 1 < at.size(); ++i) {
        const std::size_t notes = at[i + 1] - at[i] - 1;
        // From "2024/02/03更新" on, one empty line ends each section.
        const bool separated = i >= 2;
        EXPECT_EQ(lines[at[i + 1] - 1].empty(), separated) << kHeadings[i];
        EXPECT_GE(notes, separated ? 2u : 1u) << kHeadings[i];
        if (i == 0) {
            EXPECT_EQ(notes, 2u);
            EXPECT_EQ(lines[at[i] + 1].rfind("1.", 0), 0u);
            EXPECT_EQ(lines[at[i] + 2].rfind("2.", 0), 0u);
        }
    }
    EXPECT_GT(lines.size(), at.back() + 1) << "the last section has a note";

    auto notesOf = [&](std::size_t section) {
        std::vector<std::string> notes(lines.begin() + static_cast<long>(at[section]) + 1,
                                       lines.begin() + static_cast<long>(at[section + 1]));
        while (!notes.empty() && notes.back().empty())
            notes.pop_back();
        return notes;
    };
    EXPECT_EQ(notesOf(1), (std::vector<std::string>{"1.更新更多接口", notesOf(1)[1]}));
    EXPECT_NE(notesOf(1)[1].find("12345"), std::string::npos) << "the group line names the group";
    EXPECT_EQ(notesOf(2),
              (std::vector<std::string>{"1, 更改成: 下载完一集就立即合并一集", "2, 小细节修改"}));
    EXPECT_EQ(notesOf(3),
              (std::vector<std::string>{
                  "1, 更换下载器, 更改线程数",
                  "2, 重新开启 <合并TS> 功能, 中途崩溃导致没有合并的视频,可以选择一键重新合并"}));
    EXPECT_EQ(notesOf(4),
              (std::vector<std::string>{
                  "1, 重写下载功能(完善)", "2, 下载完后可开启自动删除TS文件,只留下已合并的mp4",
                  "3, 更换下载方式,更稳定更快速", "4, 其它一些细节修改完善,请自行体验"}));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "修复  搜索剧集没有结果时的提醒"), lines.end());
}

// Presses Esc in the active modal window once it is up and records whether that closed it; a
// window still open is closed by its close button a moment later.
void pressEscapeThenClose(bool* closedByEscape)
{
    QTimer::singleShot(50, [closedByEscape] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        QTest::keyClick(modal, Qt::Key_Escape);
        *closedByEscape = !modal->isVisible();
        if (!*closedByEscape)
            QTimer::singleShot(100, modal, [modal] { modal->close(); });
    });
}

TEST(NoticeWindow, LayoutAndContent)
{
    NoticeWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("无视直接×掉"));
    EXPECT_EQ(window.size(), QSize(345, 432));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);

    auto* text = window.findChild<QTextEdit*>(QStringLiteral("编辑框1"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->geometry(), QRect(-8, 0, 344, 126));
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(text->document()->defaultTextOption().alignment() & Qt::AlignHCenter,
              Qt::AlignHCenter);
    QString expected = QString::fromStdString(noticeText(kGroupNumber));
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(text->toPlainText() + QLatin1Char('\n'), expected);

    auto* group = window.findChild<QGroupBox*>(QStringLiteral("分组框1"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("赞助我们"));
    EXPECT_EQ(group->geometry(), QRect(0, 128, 336, 272));
    auto* picture = group->findChild<QLabel*>(QStringLiteral("图片框1"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(8, 16, 320, 248));
    EXPECT_TRUE(picture->hasScaledContents());
    EXPECT_EQ(picture->pixmap().size(), QSize(1152, 1152));
}

TEST(NoticeWindow, EscapeDoesNotCloseIt)
{
    NoticeWindow window;
    bool closedByEscape = true;
    pressEscapeThenClose(&closedByEscape);
    window.exec();
    EXPECT_FALSE(closedByEscape);
}

TEST(SponsorWindow, LayoutAndContent)
{
    QWidget owner;
    SponsorWindow window(&owner);
    EXPECT_EQ(window.windowTitle(), QString());
    EXPECT_EQ(window.size(), QSize(422, 300));
    EXPECT_EQ(window.parentWidget(), &owner);
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    struct Expected {
        const char* name;
        QRect geometry;
        const char* text;
        QSize picture;
    };
    const Expected components[] = {
        {"透明标签1", {6, 7, 186, 34}, "粉丝QQ群", {}},
        {"图片框1", {16, 40, 176, 216}, "", {240, 287}},
        {"透明标签2", {200, 8, 186, 34}, "赞助我们", {}},
        {"图片框2", {200, 40, 200, 216}, "", {1152, 1152}},
    };
    for (const auto& c : components) {
        auto* label = window.findChild<QLabel*>(QString::fromUtf8(c.name));
        ASSERT_NE(label, nullptr) << c.name;
        EXPECT_EQ(label->geometry(), c.geometry) << c.name;
        if (c.picture.isValid()) {
            EXPECT_EQ(label->pixmap().size(), c.picture) << c.name;
            EXPECT_TRUE(label->hasScaledContents()) << c.name;
        } else {
            EXPECT_EQ(label->text(), QString::fromUtf8(c.text));
            EXPECT_EQ(label->font().pixelSize(), 20);
            EXPECT_TRUE(label->font().bold());
            EXPECT_EQ(label->font().family(), QStringLiteral("微软雅黑"));
            EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 136, 255));
        }
    }
}

TEST(SponsorWindow, EscapeClosesIt)
{
    QWidget owner;
    bool closedByEscape = false;
    pressEscapeThenClose(&closedByEscape);
    openSponsorWindow(&owner);
    EXPECT_TRUE(closedByEscape);
}

} // namespace
