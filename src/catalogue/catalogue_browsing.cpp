#include "catalogue/catalogue_browsing.h"

#include "app/main_form.h"
#include "app/status_log.h"
#include "catalogue/catalogue_client.h"
#include "util/gui_thread.h"
#include "util/text_number.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <mutex>

namespace {

std::mutex g_openerLock;
std::function<void(QWidget*)> g_sponsorOpener;

int textValue(const QString& text)
{
    return textToInt(text.toStdString());
}

bool isEnter(int qtKey)
{
    return qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter;
}

} // namespace

void onSearchBoxFocusIn(MainForm& form)
{
    gui::assertGuiThread();
    form.编辑框_搜索->clear();
}

void onSearchBoxFocusOut(MainForm& form)
{
    gui::assertGuiThread();
    if (form.编辑框_搜索->text().isEmpty())
        form.编辑框_搜索->setText(QString::fromUtf8(kSearchPlaceholder));
}

void onSearchBoxKeyReleased(MainForm& form, int qtKey)
{
    gui::assertGuiThread();
    if (!isEnter(qtKey))
        return;
    logStatus("正在提交搜索");
    startSearch(form);
}

void startSearch(MainForm& form)
{
    form.超级按钮_搜索->setEnabled(false);
    form.标签_当前->setText(QStringLiteral("1"));
    startCatalogueLoad(form, kSearchMode, 1);
}

void goToPage(MainForm& form, PageAction action)
{
    QLineEdit* box = form.标签_当前;
    const int current = textValue(box->text());
    const int pages = textValue(form.标签_页数->text());
    switch (action) {
    case PageAction::First: box->setText(QStringLiteral("1")); break;
    case PageAction::Previous: box->setText(QString::number(current - 1)); break;
    case PageAction::Next: box->setText(QString::number(current + 1)); break;
    case PageAction::Last: box->setText(form.标签_页数->text()); break;
    case PageAction::Typed:
        if (pages < current)
            box->setText(form.标签_页数->text());
        break;
    }
    startCatalogueLoad(form, currentMode.load(), textValue(box->text()));
}

void selectCategory(MainForm& form, int column)
{
    QTreeWidgetItem* row = form.超级列表框_分类->currentItem();
    if (row == nullptr || row->text(1).isEmpty())
        return;
    logStatus("获取分类剧集列表");
    // Ids sit in the odd column right of each label; a click on an id column counts for its label.
    const int labelColumn = column - column % 2;
    const int id = textValue(row->text(labelColumn + 1));
    const std::optional<int> label = categoryIndexOf(row->text(labelColumn).toStdString());
    const bool category = label && categoryCell(*label).id > 0;
    startCatalogueLoad(form, category ? categoryMode(*label) : id, 1);
    form.标签_当前->setText(QStringLiteral("1"));
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

void setSponsorWindowOpener(std::function<void(QWidget*)> opener)
{
    std::lock_guard<std::mutex> lock(g_openerLock);
    g_sponsorOpener = std::move(opener);
}

void onSponsorButtonClicked(MainForm& form)
{
    std::function<void(QWidget*)> opener;
    {
        std::lock_guard<std::mutex> lock(g_openerLock);
        opener = g_sponsorOpener;
    }
    if (opener)
        opener(form.window);
}
