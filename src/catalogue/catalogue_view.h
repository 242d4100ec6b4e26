#pragma once
// What the catalogue shows in the main window and the user's inputs it reads there, as values.
// The main window implements it (ui/main_window_views.h); the catalogue is tested against it with
// the window's own widgets. Every call is made on the GUI thread: a load's worker posts its result
// to the GUI thread before anything is shown.

#include "catalogue/catalogue_client.h"

#include <string>
#include <vector>

// 超级列表框_列表: one row per value, title, type and blurb shown. Filled by the catalogue's
// listings and by the watch history alike.
class SeriesListView {
public:
    virtual ~SeriesListView() = default;
    // Replaces every row by rows, in this order.
    virtual void showSeriesRows(const std::vector<CatalogueItem>& rows) = 0;
};

class CatalogueView : public SeriesListView {
public:
    // 标签提示 over the series list: shown with text, or hidden.
    virtual void showLoadingHint(const std::string& text) = 0;
    virtual void hideLoadingHint() = 0;
    // 透明标签_简介.
    virtual void setBlurb(const std::string& text) = 0;
    // 标签_共有记录数 and 标签_页数 (empty texts clear them).
    virtual void setRecordCounts(const std::string& total, const std::string& pageCount) = 0;
    // 标签_当前, the page box the user may type into.
    virtual std::string currentPageText() = 0;
    virtual void setCurrentPageText(const std::string& text) = 0;
    // 按钮_首页, 按钮_上一页, 按钮_下一页, 按钮_尾页.
    virtual void setPagingEnabled(bool first, bool previous, bool next, bool last) = 0;
    // 超级按钮_搜索.
    virtual void setSearchEnabled(bool enabled) = 0;
    // 编辑框_搜索, the keyword box.
    virtual std::string searchText() = 0;
    virtual void setSearchText(const std::string& text) = 0;
    // 组合框_线路: the entries, in this order, none selected; the selected entry (-1: none).
    virtual void setRouteEntries(const std::vector<std::string>& hosts) = 0;
    virtual int selectedRoute() = 0;
    virtual void selectRoute(int index) = 0;
    // Opens the sponsor window modally over the main window and returns when it is closed.
    virtual void openSponsorWindow() = 0;
};
