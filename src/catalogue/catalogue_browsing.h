#pragma once
// The main window's catalogue controls: search box and button, categories, paging, sponsor button.

#include "catalogue/catalogue_categories.h"

#include <functional>

class QTreeWidget;
class QWidget;
struct MainForm;

// The designed content of 编辑框_搜索.
inline constexpr const char* kSearchPlaceholder = "请输入剧名搜索";

// 编辑框_搜索 events (GUI thread). keyReleased takes a Qt::Key value; Key_Return and Key_Enter
// count as Enter.
void onSearchBoxFocusIn(MainForm& form);
void onSearchBoxFocusOut(MainForm& form);
void onSearchBoxKeyReleased(MainForm& form, int qtKey);

// 超级按钮_搜索 clicked; also run by the history resume after it fills 编辑框_搜索.
void startSearch(MainForm& form);

// The paging controls: 按钮_首页, 按钮_上一页, 按钮_下一页, 按钮_尾页 clicked, and Enter in
// 标签_当前 (wire Typed to QLineEdit::returnPressed of 标签_当前: one press, one load).
enum class PageAction { First, Previous, Next, Last, Typed };
void goToPage(MainForm& form, PageAction action);

// 超级列表框_分类 cell clicked; column is the clicked column, the row is the list's current row.
// A label of the grid loads as that category of the route (categoryMode: matched to the
// route's own types by name when loaded); "最新" loads the latest items.
void selectCategory(MainForm& form, int column);

// Fills 超级列表框_分类 with CategoryTable: 14 columns, label in the even column, its id as text
// in the odd column beside it. GUI thread.
void fillCategoryList(QTreeWidget* list);

// 图形按钮_关于 clicked: runs the opener the window layer registered (it opens SponsorWindow
// modally, owned by form.window). Nothing happens while no opener is registered.
void setSponsorWindowOpener(std::function<void(QWidget* owner)> opener);
void onSponsorButtonClicked(MainForm& form);
