#pragma once
// The main window's catalogue: the listing shown in the series list (its model), the loads that
// fill it, the search box and button, categories, paging, routes and the sponsor button. It talks
// to the window through CatalogueView only.

#include "catalogue/catalogue_categories.h"
#include "catalogue/catalogue_client.h"
#include "catalogue/catalogue_view.h"
#include "util/latest_request.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The designed content of 编辑框_搜索.
inline constexpr const char* kSearchPlaceholder = "请输入剧名搜索";

// The paging controls: 按钮_首页, 按钮_上一页, 按钮_下一页, 按钮_尾页 clicked, and Enter in
// 标签_当前 (wire Typed to QLineEdit::returnPressed of 标签_当前: one press, one load).
enum class PageAction { First, Previous, Next, Last, Typed };

// Which paging buttons are enabled for a listing of pages pages at page current; unchanged is
// true when the pair matches no rule (the buttons then stay as they are).
struct PagingButtons {
    bool first = false;
    bool previous = false;
    bool next = false;
    bool last = false;
    bool unchanged = false;
};
PagingButtons pagingButtons(int pages, int current);

class CatalogueBrowser {
public:
    // What the catalogue tells the layers around it (each may be empty). GUI thread.
    struct Events {
        // The user picked another route; its latest items are loading.
        std::function<void()> routeSwitchStarted;
        // A load ended with rows shown (listed true) or failed (false). Returns true when a route
        // switch waited for it: the blurb then greets the new route.
        std::function<bool(bool listed)> loadEnded;
    };

    explicit CatalogueBrowser(CatalogueView& view, Events events = {});
    // Stops: see stop().
    ~CatalogueBrowser();
    CatalogueBrowser(const CatalogueBrowser&) = delete;
    CatalogueBrowser& operator=(const CatalogueBrowser&) = delete;

    // Ends every load: none shows anything from now on, their transfers end early, and the call
    // returns once their worker threads are done. GUI thread.
    void stop();

    // Starts a load of page `page` of listing mode (catalogue_client.h) on a worker thread of its
    // own. The route and, for a search, the keyword are taken from the view now; the load is the
    // newest request of the series list from now on (an older load or history fill shows nothing
    // more). GUI thread.
    void startLoad(int mode, int page);
    // Loads started and not yet finished.
    int runningLoads() const { return running_->load(); }
    // The mode of the last load that was started; the paging handlers reuse it.
    int currentMode() const { return currentMode_; }

    // The listing shown: row index of 超级列表框_列表, or null beyond it.
    const std::vector<CatalogueItem>& rows() const { return rows_; }
    const CatalogueItem* row(int index) const;
    // Shows rows in the series list as the newest request (a load in flight shows nothing more),
    // with their record and page counts at page 1, and the paging buttons to match. The watch
    // history fills the list this way. GUI thread.
    void showListing(std::vector<CatalogueItem> rows, const std::string& total,
                     const std::string& pageCount);

    // Enables the four paging buttons from the listing's page count and 标签_当前, and enables
    // the search button. GUI thread.
    void updatePagingButtons();

    // 编辑框_搜索 events. keyReleased takes a Qt::Key value; Key_Return and Key_Enter count as
    // Enter.
    void searchBoxFocusIn();
    void searchBoxFocusOut();
    void searchBoxKeyReleased(int qtKey);
    // 超级按钮_搜索 clicked; also run by the history resume after it fills 编辑框_搜索.
    void startSearch();
    // Fills 编辑框_搜索 with text and searches for it.
    void searchFor(const std::string& text);
    void goToPage(PageAction action);
    // A cell of 超级列表框_分类 (CategoryTable: label in the even column, its id beside it)
    // clicked. A label of the grid loads as that category of the route (categoryMode: matched to
    // the route's own types by name when loaded); "最新" loads the latest items.
    void selectCategory(int row, int column);
    // 图形按钮_关于 clicked.
    void openSponsorWindow() { view_.openSponsorWindow(); }

    // The routes (routeHosts()) as the entries of 组合框_线路, none selected.
    void fillRouteBox();
    // Selects the entry of the given value (its index); an invalid value leaves the box without
    // a selection. Does not switch the route.
    void selectRouteEntry(int value);
    // The user picked the selected entry of 组合框_线路 (wire it to QComboBox::activated, so
    // that selectRouteEntry at start-up does not run it): notice, log line, stores "线路", and
    // reloads the latest items from the new host.
    void switchRoute();

    // What a load's worker hands to the GUI thread.
    struct LoadResult {
        CataloguePage page;
        std::string missingCategory; // a grid label the route has no types for
    };

private:
    void showResult(const LoadResult& result);

    CatalogueView& view_;
    Events events_;
    std::vector<std::string> routes_;
    std::vector<CatalogueItem> rows_;
    std::string pageCount_; // of the listing shown; empty while none is known
    int currentMode_ = kLatestMode;
    LatestRequest requests_;
    std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
};
