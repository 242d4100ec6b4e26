// The main window's events wired to the handlers of the catalogue and episode layers.

#include "ui/main_window.h"

#include "catalogue/catalogue_browsing.h"
#include "catalogue/catalogue_sources.h"
#include "playback/episode_list.h"
#include "ui/download_window.h"
#include "ui/player_wiring.h"
#include "ui/small_windows.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

void MainWindow::wireCatalogueEvents()
{
    MainForm& f = form_;
    fillCategoryList(f.超级列表框_分类);
    setSponsorWindowOpener(&openSponsorWindow);

    connect(f.超级按钮_搜索, &QPushButton::clicked, this, [this] { startSearch(form_); });
    connect(f.超级列表框_分类, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem*, int column) { selectCategory(form_, column); });
    // activated: only a pick by the user switches the route, not the selection made at start-up.
    connect(f.组合框_线路, &QComboBox::activated, this, [this](int) { switchRoute(form_); });
    const std::pair<QPushButton*, PageAction> paging[] = {
        {f.按钮_首页, PageAction::First},
        {f.按钮_上一页, PageAction::Previous},
        {f.按钮_下一页, PageAction::Next},
        {f.按钮_尾页, PageAction::Last},
    };
    for (const auto& [pagingButton, action] : paging)
        connect(pagingButton, &QPushButton::clicked, this,
                [this, action = action] { goToPage(form_, action); });
    connect(f.标签_当前, &QLineEdit::returnPressed, this,
            [this] { goToPage(form_, PageAction::Typed); });
    connect(f.超级列表框_列表, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem*, int) { openSeriesRow(form_); });
    connect(f.图形按钮_关于, &QPushButton::clicked, this,
            [this] { onSponsorButtonClicked(form_); });
    connect(f.超级按钮_下载, &QPushButton::clicked, this, [this] { openDownloadWindow(form_); });
}

void MainWindow::wirePlaybackEvents()
{
    // 图形按钮_历史, the right click on 超级列表框_列表, the double click on 高级表格_剧集 and the
    // player poll on 时钟_实时.
    wirePlayback(form_);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == form_.编辑框_搜索) {
        switch (event->type()) {
        case QEvent::FocusIn: onSearchBoxFocusIn(form_); break;
        case QEvent::FocusOut: onSearchBoxFocusOut(form_); break;
        case QEvent::KeyRelease:
            onSearchBoxKeyReleased(form_, static_cast<QKeyEvent*>(event)->key());
            break;
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
