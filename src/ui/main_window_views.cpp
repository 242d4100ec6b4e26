#include "ui/main_window_views.h"

#include "catalogue/catalogue_categories.h"
#include "playback/playback_state.h"
#include "ui/small_windows.h"
#include "util/gui_thread.h"

#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <algorithm>

namespace {

constexpr int kEpisodesPerGridRow = 10;
constexpr int kGridColumns = kEpisodesPerGridRow * 3;
constexpr int kLabelColumnWidth = 42;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

void MainWindowViews::showSeriesRows(const std::vector<CatalogueItem>& rows)
{
    gui::assertGuiThread();
    QTreeWidget* list = form_.超级列表框_列表;
    list->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const CatalogueItem& row : rows) {
        // The seven designed columns, the last four zero wide.
        auto* item = new QTreeWidgetItem;
        item->setText(0, q(row.title));
        item->setText(1, q(row.typeName));
        item->setText(2, q(row.blurb));
        item->setText(3, q(row.cover));
        item->setText(4, q(row.playText));
        item->setText(5, q(row.historyUrl));
        item->setText(6, q(row.historyM3u8));
        items.append(item);
    }
    list->addTopLevelItems(items);
}

void MainWindowViews::showLoadingHint(const std::string& text)
{
    form_.标签提示->setText(q(text));
    form_.标签提示->show();
}

void MainWindowViews::hideLoadingHint()
{
    form_.标签提示->hide();
}

void MainWindowViews::setBlurb(const std::string& text)
{
    form_.透明标签_简介->setText(q(text));
}

void MainWindowViews::setRecordCounts(const std::string& total, const std::string& pageCount)
{
    form_.标签_共有记录数->setText(q(total));
    form_.标签_页数->setText(q(pageCount));
}

std::string MainWindowViews::currentPageText()
{
    return form_.标签_当前->text().toStdString();
}

void MainWindowViews::setCurrentPageText(const std::string& text)
{
    form_.标签_当前->setText(q(text));
}

void MainWindowViews::setPagingEnabled(bool first, bool previous, bool next, bool last)
{
    form_.按钮_首页->setEnabled(first);
    form_.按钮_上一页->setEnabled(previous);
    form_.按钮_下一页->setEnabled(next);
    form_.按钮_尾页->setEnabled(last);
}

void MainWindowViews::setSearchEnabled(bool enabled)
{
    form_.超级按钮_搜索->setEnabled(enabled);
}

std::string MainWindowViews::searchText()
{
    return form_.编辑框_搜索->text().toStdString();
}

void MainWindowViews::setSearchText(const std::string& text)
{
    form_.编辑框_搜索->setText(q(text));
}

void MainWindowViews::setRouteEntries(const std::vector<std::string>& hosts)
{
    QComboBox* box = form_.组合框_线路;
    box->clear();
    for (const std::string& host : hosts)
        box->addItem(q(host), box->count());
    box->setCurrentIndex(-1);
}

int MainWindowViews::selectedRoute()
{
    return form_.组合框_线路->currentIndex();
}

void MainWindowViews::selectRoute(int index)
{
    form_.组合框_线路->setCurrentIndex(index);
}

void MainWindowViews::openSponsorWindow()
{
    ::openSponsorWindow(form_.window);
}

void MainWindowViews::setSeriesTitle(const std::string& text)
{
    form_.透明标签_标题->setText(q(text));
}

void MainWindowViews::showCover(const std::string& bytes)
{
    QLabel* box = form_.图片框_封面;
    QImage image;
    if (!bytes.empty())
        image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                           static_cast<int>(bytes.size()));
    if (image.isNull())
        box->setPixmap(QPixmap());
    else
        box->setPixmap(QPixmap::fromImage(
            image.scaled(box->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void MainWindowViews::showDownloadButton()
{
    form_.超级按钮_下载->setVisible(true);
}

void MainWindowViews::showEpisodes(const std::vector<Episode>& episodes)
{
    gui::assertGuiThread();
    QTableWidget* grid = form_.高级表格_剧集;
    // One pass with painting held back: the grid is drawn once, when it is complete.
    grid->setUpdatesEnabled(false);
    grid->clearContents();
    grid->setColumnCount(kGridColumns);
    const int rows = std::max<int>(
        1, static_cast<int>((episodes.size() + kEpisodesPerGridRow - 1) / kEpisodesPerGridRow));
    grid->setRowCount(rows);
    for (int column = 0; column < kGridColumns; ++column)
        grid->setColumnWidth(column, column % 3 == 0 ? kLabelColumnWidth : 0);
    grid->setWordWrap(true);

    const QColor labelColour(255, 168, 255);
    for (std::size_t i = 0; i < episodes.size(); ++i) {
        const Episode& episode = episodes[i];
        const int gridRow = static_cast<int>(i / kEpisodesPerGridRow);
        const int column = static_cast<int>(i % kEpisodesPerGridRow) * 3;
        const std::string* texts[3] = {&episode.label, &episode.url, &episode.m3u8};
        for (int k = 0; k < 3; ++k) {
            auto* cell = new QTableWidgetItem(q(*texts[k]));
            cell->setTextAlignment(Qt::AlignCenter);
            if (k == 0)
                cell->setBackground(labelColour);
            grid->setItem(gridRow, column + k, cell);
        }
    }
    grid->setUpdatesEnabled(true);
    grid->show();
}

void MainWindowViews::clearStatusLog()
{
    form_.编辑框_状态->clear();
}

CatalogueBrowser::Events playbackCatalogueEvents()
{
    CatalogueBrowser::Events events;
    events.routeSwitchStarted = [] {
        playbackState.pendingAction = static_cast<int>(PendingAction::Starting);
    };
    // A load that ended, failed or not, no longer holds the player back: left at Starting, the
    // episode that plays would never move on.
    events.loadEnded = [](bool) {
        int starting = static_cast<int>(PendingAction::Starting);
        return playbackState.pendingAction.compare_exchange_strong(
            starting, static_cast<int>(PendingAction::None));
    };
    return events;
}

void fillCategoryList(QTreeWidget* list)
{
    gui::assertGuiThread();
    list->clear();
    list->setColumnCount(14);
    list->setHeaderHidden(true);
    for (int column = 0; column < 14; ++column)
        list->setColumnWidth(column, column % 2 == 0 ? 60 : 0);
    for (const auto& cells : CategoryTable) {
        auto* row = new QTreeWidgetItem;
        for (int pair = 0; pair < 7; ++pair) {
            row->setText(2 * pair, QString::fromUtf8(cells[pair].label));
            row->setText(2 * pair + 1, QString::number(cells[pair].id));
        }
        list->addTopLevelItem(row);
    }
}
