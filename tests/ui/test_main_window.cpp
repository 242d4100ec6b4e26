#include "support/wait.h"
#include "ui/main_window.h"

#include "app/program_values.h"
#include "catalogue/catalogue_client.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QValidator>

#include <gtest/gtest.h>

namespace {

// Font of a component: the program's own face at a pixel size, or the application's default.
struct FontSpec {
    int pixelSize = 0; // 0: the default font
    bool bold = false;
    const char* family = "微软雅黑";
};
constexpr FontSpec kDefaultFont{0, false, nullptr};
constexpr FontSpec kNormal{12};
constexpr FontSpec kBold{12, true};

struct Component {
    const char* name;
    const char* container; // objectName of the parent widget
    QRect geometry;
    const char* text; // nullptr: no text to check
    FontSpec font;
    QColor colour; // invalid: not checked
    bool visible = true;
};

const Component kComponents[] = {
    {"标签_时间", "MainWindow", {10, 1, 95, 33}, "00:00", {33, true}, QColor(255, 168, 255)},
    {"标签_星期", "MainWindow", {109, 7, 40, 20}, "星期五", kBold, QColor(128, 224, 0)},
    {"标签_日期", "MainWindow", {156, 7, 65, 20}, "十二月廿九", kBold, QColor(128, 224, 0)},
    {"图形按钮_历史", "MainWindow", {326, 9, 48, 18}, "", kNormal, {}},
    {"标签_历史", "MainWindow", {344, 9, 30, 18}, "历史", kDefaultFont, QColor(255, 128, 0)},
    {"图形按钮_关于", "MainWindow", {388, 9, 48, 18}, "", kNormal, {}},
    {"标签_关于", "MainWindow", {406, 9, 30, 18}, "赞助", kDefaultFont, QColor(192, 96, 0)},
    {"外形框_进度", "MainWindow", {104, 28, 328, 10}, nullptr, kNormal, {}},
    {"进度条", "外形框_进度", {-249, 0, 330, 6}, nullptr, kNormal, {}},
    {"外形框_分类", "MainWindow", {8, 34, 425, 110}, nullptr, kNormal, {}},
    {"超级列表框_分类", "外形框_分类", {-2, 6, 430, 94}, nullptr, kNormal, {}},
    {"透明标签_标题",
     "MainWindow",
     {1, 139, 255, 18},
     "用户名：匿名用户 VIP用户",
     {16, true},
     QColor(96, 96, 96)},
    {"透明标签_简介", "MainWindow", {9, 164, 425, 52}, nullptr, kNormal, QColor(255, 168, 255)},
    {"外形框_集", "MainWindow", {9, 224, 425, 109}, nullptr, kNormal, {}},
    {"高级表格_剧集", "外形框_集", {4, 2, 438, 104}, nullptr, kDefaultFont, {}},
    {"外形框_列表", "MainWindow", {9, 343, 425, 330}, nullptr, kNormal, {}},
    {"编辑框_搜索", "外形框_列表", {0, 0, 120, 30}, "请输入剧名搜索", kDefaultFont, {}},
    {"超级按钮_搜索", "外形框_列表", {120, 0, 40, 30}, "搜索", {14}, {}},
    {"图片框_封面", "外形框_列表", {-2, 40, 160, 233}, nullptr, kNormal, {}},
    {"超级按钮_下载", "外形框_列表", {-1, 280, 160, 41}, "下载此剧", kNormal, {}, false},
    {"超级列表框_列表", "外形框_列表", {165, 2, 300, 330}, nullptr, kNormal, {}},
    {"标签提示", "MainWindow", {266, 472, 94, 64}, "正在加载 ...", {19}, {}, false},
    {"按钮_首页", "MainWindow", {9, 682, 35, 19}, "首页", kBold, {}},
    {"按钮_上一页", "MainWindow", {46, 682, 35, 19}, "上页", kBold, {}},
    {"标签_当前", "MainWindow", {83, 682, 40, 19}, "1", {11, true}, {}},
    {"标签_页数", "MainWindow", {125, 682, 40, 19}, "2680", kDefaultFont, QColor(144, 0, 255)},
    {"按钮_下一页", "MainWindow", {167, 682, 35, 19}, "下页", kBold, {}},
    {"按钮_尾页", "MainWindow", {204, 682, 35, 19}, "尾页", kBold, {}},
    {"标签_共有记录数",
     "MainWindow",
     {241, 682, 45, 19},
     "98650",
     kDefaultFont,
     QColor(128, 128, 255)},
    {"标签2", "MainWindow", {288, 682, 22, 19}, "部", kBold, QColor(192, 192, 192)},
    {"标签1", "MainWindow", {316, 682, 118, 19}, " 切换线路", kBold, QColor(128, 128, 255)},
    {"组合框_线路", "MainWindow", {373, 683, 60, 19}, nullptr, {9, false, "宋体"}, {}},
    {"编辑框_状态", "MainWindow", {9, 710, 425, 51}, nullptr, kDefaultFont, {}},
};

QString textOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    return {};
}

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Loads started by the wiring tests write into the window: let them finish first.
        waitUntil([this] { return window.catalogue().runningLoads() == 0; }, 30000);
        QCoreApplication::processEvents();
    }
    MainWindow window;
    MainForm& form = window.form();
};

TEST_F(MainWindowTest, WindowProperties)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("青柚动漫"));
    EXPECT_EQ(window.size(), QSize(451, 800));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "not resizable";
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(255, 255, 255));
    EXPECT_TRUE(window.autoFillBackground());
    const QList<QSize> iconSizes = window.windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(iconSizes.contains(QSize(64, 64)));
    EXPECT_EQ(form.window, &window);
}

TEST_F(MainWindowTest, EveryComponentInPlaceWithItsLook)
{
    for (const Component& c : kComponents) {
        SCOPED_TRACE(c.name);
        auto* widget = window.findChild<QWidget*>(QString::fromUtf8(c.name));
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromUtf8(c.container));
        EXPECT_EQ(widget->geometry(), c.geometry);
        EXPECT_EQ(widget->isVisibleTo(&window), c.visible);
        if (c.text) {
            EXPECT_EQ(textOf(widget), QString::fromUtf8(c.text));
        }
        if (c.font.family) {
            EXPECT_EQ(widget->font().family(), QString::fromUtf8(c.font.family));
            EXPECT_EQ(widget->font().pixelSize(), c.font.pixelSize);
            EXPECT_EQ(widget->font().bold(), c.font.bold);
        } else {
            EXPECT_EQ(widget->font().family(), QApplication::font().family());
            EXPECT_EQ(widget->font().pointSizeF(), QApplication::font().pointSizeF());
        }
        if (c.colour.isValid()) {
            EXPECT_EQ(widget->palette().color(QPalette::WindowText), c.colour);
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
        }
    }
}

TEST_F(MainWindowTest, TheRecordPointsAtTheNamedComponents)
{
    const std::pair<QObject*, const char*> members[] = {
        {form.标签_时间, "标签_时间"},
        {form.标签_星期, "标签_星期"},
        {form.标签_日期, "标签_日期"},
        {form.图形按钮_历史, "图形按钮_历史"},
        {form.标签_历史, "标签_历史"},
        {form.图形按钮_关于, "图形按钮_关于"},
        {form.标签_关于, "标签_关于"},
        {form.外形框_进度, "外形框_进度"},
        {form.进度条, "进度条"},
        {form.外形框_分类, "外形框_分类"},
        {form.超级列表框_分类, "超级列表框_分类"},
        {form.透明标签_标题, "透明标签_标题"},
        {form.透明标签_简介, "透明标签_简介"},
        {form.外形框_集, "外形框_集"},
        {form.高级表格_剧集, "高级表格_剧集"},
        {form.外形框_列表, "外形框_列表"},
        {form.编辑框_搜索, "编辑框_搜索"},
        {form.超级按钮_搜索, "超级按钮_搜索"},
        {form.图片框_封面, "图片框_封面"},
        {form.超级按钮_下载, "超级按钮_下载"},
        {form.超级列表框_列表, "超级列表框_列表"},
        {form.标签提示, "标签提示"},
        {form.按钮_首页, "按钮_首页"},
        {form.按钮_上一页, "按钮_上一页"},
        {form.标签_当前, "标签_当前"},
        {form.标签_页数, "标签_页数"},
        {form.按钮_下一页, "按钮_下一页"},
        {form.按钮_尾页, "按钮_尾页"},
        {form.标签_共有记录数, "标签_共有记录数"},
        {form.标签2, "标签2"},
        {form.标签1, "标签1"},
        {form.组合框_线路, "组合框_线路"},
        {form.编辑框_状态, "编辑框_状态"},
        {form.时钟_实时, "时钟_实时"},
    };
    for (const auto& [member, name] : members) {
        ASSERT_NE(member, nullptr) << name;
        EXPECT_EQ(member->objectName(), QString::fromUtf8(name));
        EXPECT_EQ(window.findChild<QObject*>(QString::fromUtf8(name)), member) << name;
    }
}

TEST_F(MainWindowTest, ComponentDetails)
{
    EXPECT_EQ(form.透明标签_简介->text(),
              QString::fromUtf8("粉丝Q群：") + QString::fromUtf8(kGroupNumber) +
                  QStringLiteral("\n更新请关注QQ群\n如有BUG请向群内反馈"));
    EXPECT_EQ(form.进度条->pixmap().size(), QSize(350, 4));
    EXPECT_EQ(form.图片框_封面->pixmap().size(), QSize(360, 757));
    EXPECT_EQ(form.图形按钮_历史->iconSize(), QSize(18, 18));
    EXPECT_FALSE(form.图形按钮_历史->icon().isNull());
    EXPECT_FALSE(form.图形按钮_关于->icon().isNull());
    EXPECT_TRUE(form.图形按钮_历史->isFlat());
    EXPECT_EQ(form.标签_共有记录数->palette().color(QPalette::Window), QColor(236, 236, 236));
    EXPECT_TRUE(form.标签_共有记录数->autoFillBackground());

    EXPECT_EQ(form.编辑框_搜索->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(form.标签_当前->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    // Typing into the current-page box keeps only what makes a short integer.
    form.标签_当前->clear();
    QTest::keyClicks(form.标签_当前, QStringLiteral("4x2"));
    EXPECT_EQ(form.标签_当前->text(), QStringLiteral("42"));
    form.标签_当前->setText(QStringLiteral("1"));

    EXPECT_FALSE(form.组合框_线路->isEditable());
    EXPECT_TRUE(form.编辑框_状态->isReadOnly());
    EXPECT_EQ(form.编辑框_状态->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(form.编辑框_状态->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    EXPECT_EQ(form.时钟_实时->interval(), 2000);
    EXPECT_TRUE(form.时钟_实时->isActive());
}

TEST_F(MainWindowTest, SeriesListColumns)
{
    QTreeWidget* list = form.超级列表框_列表;
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_FALSE(list->isHeaderHidden());
    const struct {
        const char* title;
        int width;
        Qt::Alignment alignment;
    } columns[] = {
        {"标题", 200, Qt::AlignLeft},   {"类型", 60, Qt::AlignHCenter},
        {"简介", 0, Qt::AlignLeft},     {"封面", 0, Qt::AlignLeft},
        {"全剧地址", 0, Qt::AlignLeft}, {"历史URL", 0, Qt::AlignLeft},
        {"历史m3u8", 0, Qt::AlignLeft},
    };
    ASSERT_EQ(list->columnCount(), 7);
    for (int column = 0; column < 7; ++column) {
        SCOPED_TRACE(columns[column].title);
        EXPECT_EQ(list->headerItem()->text(column), QString::fromUtf8(columns[column].title));
        EXPECT_EQ(list->columnWidth(column), columns[column].width);
        EXPECT_EQ(Qt::Alignment(list->headerItem()->textAlignment(column)) &
                      Qt::AlignHorizontal_Mask,
                  columns[column].alignment);
    }
    // A row filled the way the catalogue fills it, with no alignment of its own: the painted text
    // of 类型 sits in the middle of its column, the title at the left of its own.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* row =
        new QTreeWidgetItem(list, QStringList{QStringLiteral("剧"), QStringLiteral("动作")});
    QCoreApplication::processEvents();
    const QImage shot = list->viewport()->grab().toImage();
    auto inkSpan = [&](const QRect& cell) {
        int left = cell.right(), right = cell.left();
        for (int x = cell.left(); x <= cell.right(); ++x)
            for (int y = cell.top(); y <= cell.bottom(); ++y)
                if (qGray(shot.pixel(x, y)) < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return std::pair{left, right};
    };
    const QRect typeCell = list->visualRect(list->model()->index(0, 1));
    const auto [typeLeft, typeRight] = inkSpan(typeCell);
    ASSERT_LT(typeLeft, typeRight);
    EXPECT_NEAR((typeLeft + typeRight) / 2.0, typeCell.center().x(), 3.0);
    const QRect titleCell = list->visualRect(list->model()->index(0, 0));
    EXPECT_LT(inkSpan(titleCell).first, titleCell.left() + 10);
    list->header()->resizeSection(0, 200);
    EXPECT_EQ(list->header()->sectionSize(6), 0) << "the last column does not stretch";
    delete row;
}

TEST_F(MainWindowTest, CategoryGridHoldsTheLabelsAndHiddenIds)
{
    QTreeWidget* grid = form.超级列表框_分类;
    EXPECT_TRUE(grid->isHeaderHidden());
    EXPECT_FALSE(grid->rootIsDecorated());
    ASSERT_EQ(grid->columnCount(), 14);
    ASSERT_EQ(grid->topLevelItemCount(), 5);
    for (int column = 0; column < 14; ++column)
        EXPECT_EQ(grid->columnWidth(column), column % 2 == 0 ? 60 : 0) << column;
    const char* const rows[5][7] = {
        {"最新", "电影", "动漫", "综艺", "纪录片", "连续剧", "动作片"},
        {"科幻片", "恐怖片", "剧情片", "战争片", "喜剧片", "动画片", "犯罪片"},
        {"奇幻片", "灾难片", "悬疑片", "其他片", "国产剧", "香港剧", "台湾剧"},
        {"欧美剧", "韩国剧", "泰国剧", "日本剧", "大陆综艺", "港台综艺", "日韩综艺"},
        {"欧美综艺", "国产动漫", "日本动漫", "欧美动漫", "海外动漫", "电影解说", "体育赛事"},
    };
    for (int row = 0; row < 5; ++row)
        for (int pair = 0; pair < 7; ++pair)
            EXPECT_EQ(grid->topLevelItem(row)->text(2 * pair), QString::fromUtf8(rows[row][pair]));
    // A few ids the catalogue relies on: 最新 is the latest listing, 喜剧片 and 动画片 share 20.
    EXPECT_EQ(grid->topLevelItem(0)->text(1), QStringLiteral("-2"));
    EXPECT_EQ(grid->topLevelItem(1)->text(3), QStringLiteral("9"));
    EXPECT_EQ(grid->topLevelItem(1)->text(9), QStringLiteral("20"));
    EXPECT_EQ(grid->topLevelItem(1)->text(11), QStringLiteral("20"));
    EXPECT_EQ(grid->topLevelItem(4)->text(13), QStringLiteral("42"));
}

TEST_F(MainWindowTest, EpisodeGridStartsWithOneRowOfThirtyCells)
{
    QTableWidget* grid = form.高级表格_剧集;
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(grid->columnCount(), 30);
    EXPECT_EQ(grid->columnWidth(0), 42);
    EXPECT_EQ(grid->columnWidth(1), 0);
    EXPECT_EQ(grid->columnWidth(2), 0);
    EXPECT_EQ(grid->columnWidth(3), 42);
}

TEST_F(MainWindowTest, TimerTickRunsTheHeaderClock)
{
    form.标签_时间->setText(QStringLiteral("--"));
    ASSERT_TRUE(waitUntil([&] { return form.标签_时间->text() != QStringLiteral("--"); }, 4000));
    EXPECT_EQ(form.标签_时间->text(), QTime::currentTime().toString(QStringLiteral("HH:mm")));
    EXPECT_LE(form.进度条->x(), -5);
    EXPECT_GE(form.进度条->x(), -330);
}

TEST_F(MainWindowTest, SearchBoxFocusAndPagingAreWired)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    form.编辑框_搜索->setFocus();
    EXPECT_TRUE(waitUntil([&] { return form.编辑框_搜索->text().isEmpty(); }))
        << "focus in empties the box";
    form.标签_当前->setFocus();
    EXPECT_TRUE(waitUntil([&] {
        return form.编辑框_搜索->text() == QStringLiteral("请输入剧名搜索");
    })) << "focus out restores the placeholder";

    form.标签_当前->setText(QStringLiteral("3"));
    QTest::mouseClick(form.按钮_下一页, Qt::LeftButton);
    EXPECT_EQ(form.标签_当前->text(), QStringLiteral("4"));
    QTest::mouseClick(form.按钮_首页, Qt::LeftButton);
    EXPECT_EQ(form.标签_当前->text(), QStringLiteral("1"));
}

TEST_F(MainWindowTest, CategoryClickIsWired)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    form.标签_当前->setText(QStringLiteral("5"));
    QTreeWidget* grid = form.超级列表框_分类;
    const QRect cell = grid->visualRect(grid->model()->index(1, 2));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(form.标签_当前->text(), QStringLiteral("1"));
    EXPECT_TRUE(waitUntil([&] {
        return form.编辑框_状态->toPlainText().contains(QStringLiteral("获取分类剧集列表"));
    }));
}

TEST_F(MainWindowTest, SponsorButtonOpensTheSponsorWindowModallyOverTheWindow)
{
    QWidget* opened = nullptr;
    QWidget* owner = nullptr;
    QTimer::singleShot(100, [&] {
        opened = QApplication::activeModalWidget();
        if (opened) {
            owner = opened->parentWidget();
            opened->close();
        }
    });
    QTest::mouseClick(form.图形按钮_关于, Qt::LeftButton);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->objectName(), QStringLiteral("SponsorWindow"));
    EXPECT_EQ(owner, &window);
}

TEST_F(MainWindowTest, DownloadButtonOpensOneDownloadWindowOwnedByTheWindow)
{
    form.超级按钮_下载->show();
    QTest::mouseClick(form.超级按钮_下载, Qt::LeftButton);
    QTest::mouseClick(form.超级按钮_下载, Qt::LeftButton);
    const QList<QWidget*> opened = window.findChildren<QWidget*>(QStringLiteral("DownloadWindow"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0]->isWindow());
    EXPECT_TRUE(opened[0]->isVisible());
    opened[0]->close();
    QCoreApplication::processEvents();
}

TEST_F(MainWindowTest, ClosingRunsTheClosingHandlerAndBringToFrontRestores)
{
    int closings = 0;
    window.setClosingHandler([&] { ++closings; });
    window.showMinimized();
    QCoreApplication::processEvents();
    window.bringToFront();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    window.close();
    EXPECT_EQ(closings, 1);
}

} // namespace
