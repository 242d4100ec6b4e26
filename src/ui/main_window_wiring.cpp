// The main window's events wired to its controllers: the catalogue's listing (search, categories,
// paging, routes, sponsor button), the open series (row click, episode double-click) and the
// watch history (history button, right click on the series list).

#include "ui/main_window.h"

#include "playback/history.h"
#include "ui/download_window.h"
#include "ui/message_box.h"
#include "ui/player_wiring.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>

void MainWindow::wireCatalogueEvents()
{
    MainForm& f = form_;
    fillCategoryList(f.超级列表框_分类);

    connect(f.超级按钮_搜索, &QPushButton::clicked, this, [this] { catalogue_.startSearch(); });
    connect(f.超级列表框_分类, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int column) {
                catalogue_.selectCategory(form_.超级列表框_分类->indexOfTopLevelItem(item), column);
            });
    // activated: only a pick by the user switches the route, not the selection made at start-up.
    connect(f.组合框_线路, &QComboBox::activated, this, [this](int) { catalogue_.switchRoute(); });
    const std::pair<QPushButton*, PageAction> paging[] = {
        {f.按钮_首页, PageAction::First},
        {f.按钮_上一页, PageAction::Previous},
        {f.按钮_下一页, PageAction::Next},
        {f.按钮_尾页, PageAction::Last},
    };
    for (const auto& [pagingButton, action] : paging)
        connect(pagingButton, &QPushButton::clicked, this,
                [this, action = action] { catalogue_.goToPage(action); });
    connect(f.标签_当前, &QLineEdit::returnPressed, this,
            [this] { catalogue_.goToPage(PageAction::Typed); });
    connect(f.超级列表框_列表, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        series_.openRow(form_.超级列表框_列表->indexOfTopLevelItem(item));
    });
    connect(f.图形按钮_关于, &QPushButton::clicked, this,
            [this] { catalogue_.openSponsorWindow(); });
    connect(f.超级按钮_下载, &QPushButton::clicked, this,
            [this] { openDownloadWindow(this, series_.title()); });
}

void MainWindow::wirePlaybackEvents()
{
    // The player poll on 时钟_实时 and the player window.
    wirePlayback(form_);

    MainForm& f = form_;
    connect(f.图形按钮_历史, &QPushButton::clicked, this, [this] { showHistory(catalogue_); });
    f.超级列表框_列表->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(f.超级列表框_列表, &QTreeWidget::customContextMenuRequested, this, [this] {
        const CatalogueItem* row = catalogue_.row(
            form_.超级列表框_列表->indexOfTopLevelItem(form_.超级列表框_列表->currentItem()));
        if (row == nullptr || row->typeName.empty())
            return;
        showMessageBox("原本想做 右键收藏 功能 , 现在是直接 自动收藏 看过的剧集",
                       "温暖提醒:  点击右上角 小时钟图标 查看", kMessageOk | kMessageInformation,
                       this);
    });
    connect(f.高级表格_剧集, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int column) { series_.playCell(row, column); });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == form_.编辑框_搜索) {
        switch (event->type()) {
        case QEvent::FocusIn: catalogue_.searchBoxFocusIn(); break;
        case QEvent::FocusOut: catalogue_.searchBoxFocusOut(); break;
        case QEvent::KeyRelease:
            catalogue_.searchBoxKeyReleased(static_cast<QKeyEvent*>(event)->key());
            break;
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
